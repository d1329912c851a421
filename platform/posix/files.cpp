// Core file calls: attributes, finds, CreateFile and plain reads and writes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "../win32.h"
#include "files_internal.h"
#include "internal.h"
#include "journal_internal.h"
#include "system_internal.h"

namespace om::standin {

FileObject::~FileObject() {
  if (fd >= 0) {
    if (flags & FILE_FLAG_DELETE_ON_CLOSE) {
      if (directory)
        rmdir(hostPath.c_str());
      else
        unlink(hostPath.c_str());
    }
    close(fd);
  }
}

DWORD attributesFromStat(const struct stat& st, const std::string& name) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode))
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else
    attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  return attributes;
}

DWORD missingFileError(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  std::string folder = hostPath.substr(0, slash);
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

namespace {

std::string leafName(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

struct FoundEntry {
  std::string name;
  struct stat st;
  DWORD attributes;
  DWORD reparseTag = 0;  // host symbolic links are reparse points (include/system_ext.h)
};

// A search reads its folder as it goes: each FindNextFile reads entries until
// one matches the wildcard and only then stats it, so a search costs one stat
// per returned entry and holds no listing. "." and ".." come first, as on
// NTFS; the rest follow in the folder's own order. Kept hidden, system and
// archive bits are looked up only in folders marked as holding some.
class FindObject : public KernelObject {
 public:
  ~FindObject() override {
    if (dir) closedir(dir);
  }
  bool next(FoundEntry& out);

  bool found(int folder, const char* name, FoundEntry& out);

  std::mutex mutex;
  DIR* dir = nullptr;
  std::string folder;  // with a trailing "/"
  std::string pattern;
  bool keptAttributes = false;
  int dotsLeft = 2;  // "." and ".." still to offer; none in a root folder
};

bool statEntry(int folder, const char* name, struct stat& st) {
  return fstatat(folder, name, &st, 0) == 0 || fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool FindObject::found(int folderFd, const char* name, FoundEntry& out) {
  if (!statEntry(folderFd, name, out.st)) return false;  // removed since it was read
  out.attributes = attributesFromStat(out.st, out.name);
  if (keptAttributes) out.attributes = withKeptAttributes(out.attributes, folder + name);
  struct stat link;
  out.reparseTag = 0;
  if (fstatat(folderFd, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
    out.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    out.reparseTag = S_ISDIR(out.st.st_mode) ? 0xA0000003u : 0xA000000Cu;
  }
  return true;
}

// The next matching entry; false at the end of the folder (last error
// ERROR_NO_MORE_FILES) or when reading it fails.
bool FindObject::next(FoundEntry& out) {
  int folder = dirfd(dir);
  while (dotsLeft > 0) {
    const char* name = dotsLeft == 2 ? "." : "..";
    --dotsLeft;
    out.name = name;
    if (wildcardMatch(pattern, out.name) && found(folder, name, out)) return true;
  }
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (!entry) return fail(errno ? win32ErrorFromErrno(errno) : ERROR_NO_MORE_FILES);
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    out.name.assign(name);
    if (!wildcardMatch(pattern, out.name)) continue;
    if (found(folder, name, out)) return true;
  }
}

// Opens a search for a Windows path whose last element may hold wildcards.
std::shared_ptr<FindObject> openFind(const std::string& windowsPattern) {
  std::string host = hostPathFromWindows(windowsPattern);
  if (host.empty()) {
    fail(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  size_t slash = host.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : host.substr(0, slash);
  if (slash == 0) folder = "/";
  std::string pattern = slash == std::string::npos ? host : host.substr(slash + 1);
  if (pattern.empty()) {
    fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
    return nullptr;
  }
  auto find = std::make_shared<FindObject>();
  find->dir = dir;
  find->pattern = std::move(pattern);
  find->keptAttributes = folderHasKeptAttributes(folder);
  if (folder == "/") find->dotsLeft = 0;
  find->folder = folder == "/" ? folder : folder + "/";
  return find;
}

template <class Data>
void fillCommon(const FoundEntry& entry, Data* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = entry.attributes;
  data->dwReserved0 = entry.reparseTag;
  data->ftCreationTime = toFileTime(fileTimeFromUnix(entry.st.st_ctim.tv_sec, entry.st.st_ctim.tv_nsec));
  data->ftLastAccessTime = toFileTime(fileTimeFromUnix(entry.st.st_atim.tv_sec, entry.st.st_atim.tv_nsec));
  data->ftLastWriteTime = toFileTime(fileTimeFromUnix(entry.st.st_mtim.tv_sec, entry.st.st_mtim.tv_nsec));
  if (!S_ISDIR(entry.st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(entry.st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
  }
}

void fill(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
  fillCommon(entry, data);
  std::strncpy(data->cFileName, entry.name.c_str(), MAX_PATH - 1);
}

void fill(const FoundEntry& entry, WIN32_FIND_DATAW* data) {
  fillCommon(entry, data);
  std::u16string wide = widen(entry.name);
  std::copy_n(wide.begin(), std::min<size_t>(wide.size(), MAX_PATH - 1), data->cFileName);
}

template <class Data>
HANDLE findFirst(const std::string& pattern, Data* data) {
  if (!data) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto find = openFind(pattern);
  if (!find) return INVALID_HANDLE_VALUE;
  FoundEntry entry;
  if (!find->next(entry)) {
    if (GetLastError() == ERROR_NO_MORE_FILES) setLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  fill(entry, data);
  setLastError(ERROR_SUCCESS);
  return insertHandle(find);
}

template <class Data>
BOOL findNext(HANDLE handle, Data* data) {
  auto find = lookup<FindObject>(handle);
  if (!find) return fail(ERROR_INVALID_HANDLE);
  if (!data) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(find->mutex);
  FoundEntry entry;
  if (!find->next(entry)) return FALSE;
  fill(entry, data);
  return TRUE;
}

DWORD attributesOf(const std::string& windowsPath) {
  std::string host = hostPathFromWindows(windowsPath);
  struct stat st;
  if (host.empty()) {
    fail(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(host.c_str(), &st) != 0) {
    fail(errno == ENOENT ? missingFileError(host) : win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return withKeptAttributes(attributesFromStat(st, leafName(host)), host);
}

HANDLE createFile(const std::string& windowsPath, DWORD access, DWORD disposition, DWORD flags) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string host = hostPathFromWindows(windowsPath);
  if (host.empty()) {
    fail(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (access & GENERIC_ALL) access |= GENERIC_READ | GENERIC_WRITE;
  if ((access & ACCESS_SYSTEM_SECURITY) && !privilegeEnabled("SeSecurityPrivilege")) {
    fail(ERROR_PRIVILEGE_NOT_HELD);
    return INVALID_HANDLE_VALUE;
  }
  bool read = access & (GENERIC_READ | FILE_READ_DATA);
  bool write = access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA);
  if (disposition == TRUNCATE_EXISTING && !write) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  bool existed = stat(host.c_str(), &st) == 0;
  auto file = std::make_shared<FileObject>();
  file->hostPath = host;
  file->access = access;
  file->flags = flags;
  if (existed && S_ISDIR(st.st_mode)) {
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
        disposition == TRUNCATE_EXISTING) {
      fail(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    file->fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    file->directory = true;
    file->canRead = true;
  } else {
    if (existed && disposition == CREATE_NEW) {
      fail(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    if (!existed && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
      fail(missingFileError(host));
      return INVALID_HANDLE_VALUE;
    }
    int mode = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (write && !(access & (GENERIC_WRITE | FILE_WRITE_DATA))) mode |= O_APPEND;
    if (disposition == CREATE_NEW) mode |= O_CREAT | O_EXCL;
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) mode |= O_CREAT;
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) mode |= O_TRUNC;
    if ((mode & O_TRUNC) && !write) mode = (mode & ~O_ACCMODE) | O_WRONLY;
    file->fd = open(host.c_str(), mode | O_CLOEXEC, 0666);
    if (file->fd < 0 && errno == EACCES && !read && !write) file->fd = open(host.c_str(), O_PATH | O_CLOEXEC);
    file->canRead = read;
    file->canWrite = write;
  }
  if (file->fd < 0) {
    fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errno == EEXIST ? ERROR_FILE_EXISTS : win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (!existed) journalNoteIfActive(host, USN_REASON_FILE_CREATE | USN_REASON_CLOSE);
  bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  setLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return insertHandle(file);
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  if (!path) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(path);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
  if (!path) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(narrow(path));
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  return findFirst(pattern ? pattern : "", data);
}
HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  return findFirst(pattern ? narrow(pattern) : "", data);
}
BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) { return findNext(find, data); }
BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) { return findNext(find, data); }
BOOL WINAPI FindClose(HANDLE find) {
  if (!lookup<FindObject>(find)) return fail(ERROR_INVALID_HANDLE);
  return CloseHandle(find);
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                          HANDLE) {
  if (!path) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return createFile(path, access, disposition, flags);
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                          HANDLE) {
  if (!path) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return createFile(narrow(path), access, disposition, flags);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  auto file = lookup<FileObject>(handle);
  if (read) *read = 0;
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!file->canRead || file->directory) return fail(ERROR_ACCESS_DENIED);
  ssize_t n;
  do {
    n = overlapped ? pread(file->fd, buffer, toRead,
                           static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset))
                   : ::read(file->fd, buffer, toRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failErrno(errno);
  if (read) *read = static_cast<DWORD>(n);
  if (overlapped) overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  auto file = lookup<FileObject>(handle);
  if (written) *written = 0;
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!file->canWrite) return fail(ERROR_ACCESS_DENIED);
  const char* data = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = overlapped ? pwrite(file->fd, data + done, toWrite - done,
                                    static_cast<off_t>(((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) |
                                                        overlapped->Offset) + done))
                           : ::write(file->fd, data + done, toWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = done;
      return failErrno(errno);
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  return fsync(file->fd) == 0 ? TRUE : failErrno(errno);
}

BOOL WINAPI GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return failErrno(errno);
  size->QuadPart = file->directory ? 0 : st.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.HighPart);
  setLastError(ERROR_SUCCESS);
  return size.LowPart;
}

BOOL WINAPI SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (method > FILE_END) return fail(ERROR_INVALID_PARAMETER);
  off_t current = lseek(file->fd, 0, SEEK_CUR);
  off_t base = 0;
  if (method == FILE_CURRENT) base = current;
  if (method == FILE_END) {
    struct stat st;
    if (fstat(file->fd, &st) != 0) return failErrno(errno);
    base = st.st_size;
  }
  int64_t target = static_cast<int64_t>(base) + distance.QuadPart;
  if (target < 0) return fail(ERROR_NEGATIVE_SEEK);
  off_t result = lseek(file->fd, static_cast<off_t>(target), SEEK_SET);
  if (result < 0) return failErrno(errno);
  if (newPosition) newPosition->QuadPart = result;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  LARGE_INTEGER move, position;
  move.QuadPart = distanceHigh ? static_cast<LONGLONG>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                               : distance;
  if (!SetFilePointerEx(handle, move, &position, method)) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = position.HighPart;
  setLastError(ERROR_SUCCESS);
  return position.LowPart;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!file->canWrite) return fail(ERROR_ACCESS_DENIED);
  off_t current = lseek(file->fd, 0, SEEK_CUR);
  return ftruncate(file->fd, current) == 0 ? TRUE : failErrno(errno);
}

static BOOL deleteFile(const std::string& windowsPath) {
  std::string host = hostPathFromWindows(windowsPath);
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) return fail(host.empty() ? ERROR_PATH_NOT_FOUND : missingFileError(host));
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  journalNoteIfActive(host, USN_REASON_FILE_DELETE | USN_REASON_CLOSE);
  return unlink(host.c_str()) == 0 ? TRUE : failErrno(errno);
}

static BOOL createDirectory(const std::string& windowsPath) {
  std::string host = hostPathFromWindows(windowsPath);
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (mkdir(host.c_str(), 0777) == 0) return TRUE;
  return fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
}

static BOOL removeDirectory(const std::string& windowsPath) {
  std::string host = hostPathFromWindows(windowsPath);
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (rmdir(host.c_str()) == 0) return TRUE;
  return fail(errno == ENOENT ? missingFileError(host) : errno == ENOTDIR ? ERROR_DIRECTORY : win32ErrorFromErrno(errno));
}

BOOL WINAPI DeleteFileA(LPCSTR path) { return path ? deleteFile(path) : fail(ERROR_INVALID_PARAMETER); }
BOOL WINAPI DeleteFileW(LPCWSTR path) { return path ? deleteFile(narrow(path)) : fail(ERROR_INVALID_PARAMETER); }
BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  return path ? createDirectory(path) : fail(ERROR_INVALID_PARAMETER);
}
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  return path ? createDirectory(narrow(path)) : fail(ERROR_INVALID_PARAMETER);
}
BOOL WINAPI RemoveDirectoryA(LPCSTR path) { return path ? removeDirectory(path) : fail(ERROR_INVALID_PARAMETER); }
BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
  return path ? removeDirectory(narrow(path)) : fail(ERROR_INVALID_PARAMETER);
}
