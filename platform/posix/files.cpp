// Files and folders: CreateFile, plain reads and writes, deletion, folders and moves.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

DWORD missingFileError(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  std::string folder = hostPath.substr(0, slash);
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

namespace {

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

BOOL copyFile(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failErrno(errno);
  struct stat st;
  fstat(in, &st);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    close(in);
    return failErrno(errno);
  }
  char buffer[65536];
  ssize_t n;
  bool ok = true;
  while (ok && (n = read(in, buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    ok = write(out, buffer, static_cast<size_t>(n)) == n;
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(to.c_str());
    return fail(ERROR_DISK_FULL);
  }
  return unlink(from.c_str()) == 0 ? TRUE : failErrno(errno);
}

BOOL recordPendingMove(const std::u16string& from, const std::u16string* to) {
  HKEY key;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, nullptr,
                            0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return fail(static_cast<DWORD>(rc));
  const WCHAR* name = u"PendingFileRenameOperations";
  std::u16string list;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
    list.resize(size / 2);
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&list[0]), &size);
    while (!list.empty() && list.back() == 0) list.pop_back();
    if (!list.empty()) list.push_back(0);
  }
  list += u"\\??\\" + from;
  list.push_back(0);
  if (to) list += u"\\??\\" + *to;
  list.push_back(0);
  list.push_back(0);
  rc = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                      static_cast<DWORD>(list.size() * 2));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? TRUE : fail(static_cast<DWORD>(rc));
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

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

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (!from || (!to && !(flags & MOVEFILE_DELAY_UNTIL_REBOOT))) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) && (flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_INVALID_PARAMETER);
  std::string source = hostPathFromWindows(narrow(from));
  struct stat st;
  if (source.empty() || lstat(source.c_str(), &st) != 0) return fail(source.empty() ? ERROR_PATH_NOT_FOUND : missingFileError(source));
  std::string toPath = to ? normalWindowsPath(narrow(to)) : std::string();
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    std::u16string target = widen(toPath);
    if (!recordPendingMove(widen(normalWindowsPath(narrow(from))), to ? &target : nullptr)) return FALSE;
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  std::string target = hostPathFromWindows(toPath);
  if (target.empty()) return fail(ERROR_PATH_NOT_FOUND);
  struct stat existing;
  bool targetExists = lstat(target.c_str(), &existing) == 0;
  if (targetExists && existing.st_ino == st.st_ino && existing.st_dev == st.st_dev) {
    // The file itself under another case: the name takes the case it is given.
    target = target.substr(0, target.find_last_of('/') + 1) + toPath.substr(toPath.find_last_of("\\/") + 1);
    targetExists = false;
  }
  if (targetExists && !(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
  if (targetExists && S_ISDIR(existing.st_mode)) return fail(ERROR_ACCESS_DENIED);  // never replaces a folder
  journalNoteIfActive(source, USN_REASON_RENAME_OLD_NAME);
  if (rename(source.c_str(), target.c_str()) == 0) {
    journalNoteIfActive(target, USN_REASON_RENAME_NEW_NAME | USN_REASON_CLOSE);
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (errno == EXDEV) {
    if (S_ISDIR(st.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_NOT_SAME_DEVICE);
    if (!copyFile(source, target)) return FALSE;
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  return fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
}
