// File attributes and information: the attribute calls, information by handle,
// the kept hidden, system and archive bits, and alternate data streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {

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

BOOL statWindowsPath(LPCWSTR path, struct stat& st, std::string& host) {
  if (!path) return fail(ERROR_INVALID_PARAMETER);
  host = hostPathFromWindows(narrow(path));
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (stat(host.c_str(), &st) != 0) return fail(errno == ENOENT ? missingFileError(host) : win32ErrorFromErrno(errno));
  return TRUE;
}

namespace {

LARGE_INTEGER timeOf(const struct timespec& t) {
  LARGE_INTEGER value;
  value.QuadPart = static_cast<LONGLONG>(fileTimeFromUnix(t.tv_sec, t.tv_nsec));
  return value;
}

struct timespec hostTime(LONGLONG fileTime) {
  struct timespec t;
  if (fileTime == 0 || fileTime == -1) {
    t.tv_sec = 0;
    t.tv_nsec = UTIME_OMIT;
    return t;
  }
  LONGLONG sinceUnix = fileTime - 116444736000000000LL;
  t.tv_sec = sinceUnix / 10000000;
  t.tv_nsec = (sinceUnix % 10000000) * 100;
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000;
    t.tv_sec -= 1;
  }
  return t;
}

}  // namespace

namespace {

DWORD mergeKept(DWORD fromStat, const BYTE* value, ssize_t got) {
  if (got != 4) return fromStat;
  DWORD result = (fromStat & ~kKeptAttributeMask) | (dwordAt(value) & kKeptAttributeMask);
  return result ? result : FILE_ATTRIBUTE_NORMAL;
}

const std::string& keptAttributesXattr() {
  static const std::string name = std::string("user.") + kKeptAttributesName;
  return name;
}

}  // namespace

DWORD withKeptAttributes(DWORD fromStat, const std::string& hostPath) {
  BYTE value[4];
  return mergeKept(fromStat, value, getxattr(hostPath.c_str(), keptAttributesXattr().c_str(), value, sizeof value));
}

bool folderHasKeptAttributes(const std::string& folder) {
  std::string marker = std::string("user.") + kKeptInFolderName;
  return getxattr(folder.c_str(), marker.c_str(), nullptr, 0) >= 0;
}

DWORD withKeptAttributes(DWORD fromStat, int fd) {
  BYTE value[4];
  ssize_t got = fgetxattr(fd, keptAttributesXattr().c_str(), value, sizeof value);
  if (got < 0 && errno == EBADF) {  // a handle opened without access to the data
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    got = getxattr(path.c_str(), keptAttributesXattr().c_str(), value, sizeof value);
  }
  return mergeKept(fromStat, value, got);
}

namespace {

std::string folderOf(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

void markFolderWithKeptAttributes(const std::string& folder) {
  std::string marker = std::string("user.") + kKeptInFolderName;
  BYTE one = 1;
  if (getxattr(folder.c_str(), marker.c_str(), nullptr, 0) < 0)
    setxattr(folder.c_str(), marker.c_str(), &one, 1, 0);  // without it finds show the derived attributes only
}

// Keeps the hidden, system and archive bits of `attributes` for `hostPath` (a
// path, or /proc/self/fd/N) and applies read-only as the write bits. Extended
// attributes need write access, so a read-only file is made writable for the
// change and read-only again after it. On a file system without extended
// attributes only read-only is kept. `folder`, the folder that holds the file,
// is marked as holding files with kept attributes, so finds in it look for them.
BOOL applyAttributes(const std::string& hostPath, const std::string& folder, const struct stat& st,
                     const std::string& name, DWORD attributes) {
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (!S_ISDIR(st.st_mode)) wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
  DWORD derived = attributesFromStat(st, name) & kKeptAttributeMask;
  DWORD kept = attributes & kKeptAttributeMask;
  BYTE current[4];
  ssize_t got = getxattr(hostPath.c_str(), keptAttributesXattr().c_str(), current, sizeof current);
  bool change = kept == derived ? got >= 0 : !(got == 4 && dwordAt(current) == kept);
  if (change) {
    const mode_t original = mode;
    if (!(mode & S_IWUSR)) {
      if (chmod(hostPath.c_str(), mode | S_IWUSR) != 0) return failErrno(errno);
      mode |= S_IWUSR;
    }
    int result;
    if (kept == derived) {
      result = removexattr(hostPath.c_str(), keptAttributesXattr().c_str());
      if (result != 0 && errno == ENODATA) result = 0;
    } else {
      BYTE value[4] = {static_cast<BYTE>(kept), static_cast<BYTE>(kept >> 8), static_cast<BYTE>(kept >> 16),
                       static_cast<BYTE>(kept >> 24)};
      result = setxattr(hostPath.c_str(), keptAttributesXattr().c_str(), value, sizeof value, 0);
      if (result == 0) markFolderWithKeptAttributes(folder);
    }
    if (result != 0 && errno != ENOTSUP) {
      int error = errno;
      if (mode != original) chmod(hostPath.c_str(), original);
      return failErrno(error);
    }
  }
  if (wanted != mode && chmod(hostPath.c_str(), wanted) != 0) return failErrno(errno);
  return TRUE;
}

}  // namespace

std::vector<std::string> alternateStreamNames(int fd) {
  std::vector<std::string> names;
  ssize_t size = flistxattr(fd, nullptr, 0);
  if (size <= 0) return names;
  std::string list(static_cast<size_t>(size), '\0');
  size = flistxattr(fd, &list[0], list.size());
  if (size <= 0) return names;
  list.resize(static_cast<size_t>(size));
  for (size_t at = 0; at < list.size();) {
    std::string name = list.c_str() + at;
    at += name.size() + 1;
    if (name.rfind("user.", 0) == 0 && name.size() > 5 && name.rfind(kKeptPrefix, 5) != 5)
      names.push_back(name.substr(5));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool readAlternateStream(int fd, const std::string& name, std::vector<BYTE>& data) {
  std::string attribute = "user." + name;
  for (;;) {
    ssize_t size = fgetxattr(fd, attribute.c_str(), nullptr, 0);
    if (size < 0) return false;
    data.resize(static_cast<size_t>(size));
    ssize_t got = fgetxattr(fd, attribute.c_str(), data.data(), data.size());
    if (got >= 0) {
      data.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

std::u16string ntRelativeName(const std::string& hostPath) {
  std::string windows = windowsPathFromHost(hostPath);
  if (windows.size() >= 2 && windows[1] == ':') windows = windows.substr(2);
  if (windows.empty()) windows = "\\";
  return widen(windows);
}

namespace {

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

BOOL WINAPI GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
  if (level != GetFileExInfoStandard || !information) return fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  std::string host;
  if (!statWindowsPath(path, st, host)) return FALSE;
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = withKeptAttributes(attributesFromStat(st, leafName(host)), host);
  data->ftCreationTime = toFileTime(fileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec));
  data->ftLastAccessTime = toFileTime(fileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec));
  data->ftLastWriteTime = toFileTime(fileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
  if (!S_ISDIR(st.st_mode)) {
    data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data->nFileSizeLow = static_cast<DWORD>(st.st_size);
  }
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

// Read-only is the write bits; hidden, system and archive are kept in an
// extended attribute of the file. The other attributes are accepted and not kept.
BOOL WINAPI SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  struct stat st;
  std::string host;
  if (!statWindowsPath(path, st, host)) return FALSE;
  if (!applyAttributes(host, folderOf(host), st, leafName(host), attributes)) return FALSE;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!information) return fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return failErrno(errno);
  std::memset(information, 0, sizeof *information);
  information->dwFileAttributes = withKeptAttributes(attributesFromStat(st, leafName(file->hostPath)), file->fd);
  information->ftCreationTime = toFileTime(fileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec));
  information->ftLastAccessTime = toFileTime(fileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec));
  information->ftLastWriteTime = toFileTime(fileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
  information->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  if (!S_ISDIR(st.st_mode)) {
    information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(st.st_size);
  }
  information->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
  information->nFileIndexLow = static_cast<DWORD>(st.st_ino);
  return TRUE;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                         LPVOID information, DWORD size) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return failErrno(errno);
  switch (informationClass) {
    case FileBasicInfo: {
      if (size < sizeof(FILE_BASIC_INFO)) return fail(ERROR_BAD_LENGTH);
      FILE_BASIC_INFO info{};
      info.CreationTime = timeOf(st.st_ctim);
      info.LastAccessTime = timeOf(st.st_atim);
      info.LastWriteTime = timeOf(st.st_mtim);
      info.ChangeTime = timeOf(st.st_ctim);
      info.FileAttributes = withKeptAttributes(attributesFromStat(st, leafName(file->hostPath)), file->fd);
      std::memcpy(information, &info, sizeof info);
      return TRUE;
    }
    case FileStandardInfo: {
      if (size < sizeof(FILE_STANDARD_INFO)) return fail(ERROR_BAD_LENGTH);
      FILE_STANDARD_INFO info{};
      info.AllocationSize.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_blocks) * 512;
      info.EndOfFile.QuadPart = S_ISDIR(st.st_mode) ? 0 : st.st_size;
      info.NumberOfLinks = static_cast<DWORD>(st.st_nlink);
      info.DeletePending = (file->flags & FILE_FLAG_DELETE_ON_CLOSE) ? 1 : 0;
      info.Directory = S_ISDIR(st.st_mode) ? 1 : 0;
      std::memcpy(information, &info, sizeof info);
      return TRUE;
    }
    case FileNameInfo: {
      if (size < sizeof(FILE_NAME_INFO)) return fail(ERROR_BAD_LENGTH);
      std::u16string name = ntRelativeName(file->hostPath);
      DWORD bytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
      auto* out = static_cast<BYTE*>(information);
      std::memcpy(out, &bytes, sizeof bytes);
      DWORD room = size - offsetof(FILE_NAME_INFO, FileName);
      std::memcpy(out + offsetof(FILE_NAME_INFO, FileName), name.data(), std::min(room, bytes) & ~DWORD(1));
      if (room < bytes) return fail(ERROR_MORE_DATA);
      return TRUE;
    }
    case FileIdInfo: {
      if (size < sizeof(FILE_ID_INFO)) return fail(ERROR_BAD_LENGTH);
      FILE_ID_INFO info{};
      info.VolumeSerialNumber = static_cast<ULONGLONG>(st.st_dev);
      uint64_t inode = static_cast<uint64_t>(st.st_ino);
      std::memcpy(info.FileId.Identifier, &inode, sizeof inode);
      std::memcpy(information, &info, sizeof info);
      return TRUE;
    }
    default:
      return fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                       DWORD size) {
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  switch (informationClass) {
    case FileBasicInfo: {
      if (size < sizeof(FILE_BASIC_INFO)) return fail(ERROR_BAD_LENGTH);
      if (!(file->access & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES))) return fail(ERROR_ACCESS_DENIED);
      FILE_BASIC_INFO info;
      std::memcpy(&info, information, sizeof info);
      struct timespec times[2] = {hostTime(info.LastAccessTime.QuadPart), hostTime(info.LastWriteTime.QuadPart)};
      std::string path = "/proc/self/fd/" + std::to_string(file->fd);
      if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return failErrno(errno);
      if (info.FileAttributes != 0) {
        struct stat st;
        if (fstat(file->fd, &st) != 0) return failErrno(errno);
        if (!applyAttributes(path, folderOf(file->hostPath), st, leafName(file->hostPath), info.FileAttributes))
          return FALSE;
      }
      return TRUE;
    }
    case FileEndOfFileInfo: {
      if (size < sizeof(FILE_END_OF_FILE_INFO)) return fail(ERROR_BAD_LENGTH);
      if (!file->canWrite) return fail(ERROR_ACCESS_DENIED);
      FILE_END_OF_FILE_INFO info;
      std::memcpy(&info, information, sizeof info);
      if (info.EndOfFile.QuadPart < 0) return fail(ERROR_INVALID_PARAMETER);
      return ftruncate(file->fd, info.EndOfFile.QuadPart) == 0 ? TRUE : failErrno(errno);
    }
    case FileDispositionInfo: {
      if (size < sizeof(FILE_DISPOSITION_INFO)) return fail(ERROR_BAD_LENGTH);
      if (!(file->access & (DELETE | GENERIC_ALL))) return fail(ERROR_ACCESS_DENIED);
      if (static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile)
        file->flags |= FILE_FLAG_DELETE_ON_CLOSE;
      else
        file->flags &= ~DWORD(FILE_FLAG_DELETE_ON_CLOSE);
      return TRUE;
    }
    default:
      return fail(ERROR_INVALID_PARAMETER);
  }
}
