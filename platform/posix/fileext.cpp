// Extended file calls: the extended find, attribute data, file information by
// handle and file security.
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

namespace {

void appendSid(std::vector<BYTE>& out, BYTE authority, std::initializer_list<DWORD> subAuthorities) {
  out.push_back(1);  // revision
  out.push_back(static_cast<BYTE>(subAuthorities.size()));
  for (int i = 0; i < 5; ++i) out.push_back(0);
  out.push_back(authority);
  for (DWORD sub : subAuthorities)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(sub >> (8 * i)));
}

void putWord(std::vector<BYTE>& out, size_t at, WORD value) {
  out[at] = static_cast<BYTE>(value);
  out[at + 1] = static_cast<BYTE>(value >> 8);
}
void putDword(std::vector<BYTE>& out, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD maskFromBits(mode_t bits, bool owner) {
  constexpr DWORD kRead = 0x120089, kWrite = 0x120116, kExecute = 0x1200A0;
  DWORD mask = 0;
  if (bits & 4) mask |= kRead;
  if (bits & 2) mask |= kWrite;
  if (bits & 1) mask |= kExecute;
  if (owner) mask |= READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE;
  return mask;
}

void appendAce(std::vector<BYTE>& out, DWORD mask, BYTE authority, std::initializer_list<DWORD> sub) {
  size_t start = out.size();
  out.resize(start + 8);
  out[start] = ACCESS_ALLOWED_ACE_TYPE;
  out[start + 1] = 0;
  putDword(out, start + 4, mask);
  appendSid(out, authority, sub);
  putWord(out, start + 2, static_cast<WORD>(out.size() - start));
}

BOOL statPath(LPCWSTR path, struct stat& st, std::string& host) {
  if (!path) return fail(ERROR_INVALID_PARAMETER);
  host = hostPathFromWindows(narrow(path));
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (stat(host.c_str(), &st) != 0) return fail(errno == ENOENT ? missingFileError(host) : win32ErrorFromErrno(errno));
  return TRUE;
}

std::string leaf(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

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

std::vector<BYTE> securityDescriptorFor(const struct stat& st, SECURITY_INFORMATION requested) {
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD control = SE_SELF_RELATIVE;
  if (requested & OWNER_SECURITY_INFORMATION) {
    putDword(out, 4, static_cast<DWORD>(out.size()));
    appendSid(out, 22, {1, static_cast<DWORD>(st.st_uid)});
  }
  if (requested & GROUP_SECURITY_INFORMATION) {
    putDword(out, 8, static_cast<DWORD>(out.size()));
    appendSid(out, 22, {2, static_cast<DWORD>(st.st_gid)});
  }
  if (requested & DACL_SECURITY_INFORMATION) {
    control |= SE_DACL_PRESENT;
    size_t acl = out.size();
    putDword(out, 16, static_cast<DWORD>(acl));
    out.resize(acl + sizeof(ACL), 0);
    out[acl] = ACL_REVISION;
    appendAce(out, maskFromBits((st.st_mode >> 6) & 7, true), 22, {1, static_cast<DWORD>(st.st_uid)});
    appendAce(out, maskFromBits((st.st_mode >> 3) & 7, false), 22, {2, static_cast<DWORD>(st.st_gid)});
    appendAce(out, maskFromBits(st.st_mode & 7, false), 1, {0});
    putWord(out, acl + 2, static_cast<WORD>(out.size() - acl));
    putWord(out, acl + 4, 3);
  }
  putWord(out, 2, control);
  return out;
}

namespace {

// Control bits of a descriptor, by the part they belong to.
constexpr WORD kOwnerDefaulted = 0x0001, kGroupDefaulted = 0x0002, kDaclBits = 0x0004 | 0x0008 | 0x0400 | 0x1000,
               kSaclBits = 0x0010 | 0x0020 | 0x0800 | 0x2000, kSaclPresent = 0x0010;

WORD wordAt(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD dwordAt(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// Length of a well-formed SID at `offset`, or 0.
size_t sidLength(const BYTE* data, size_t size, size_t offset) {
  if (offset > size || size - offset < 8) return 0;
  const BYTE* sid = data + offset;
  if (sid[0] != 1 || sid[1] > 15) return 0;
  size_t length = 8 + 4 * static_cast<size_t>(sid[1]);
  return size - offset < length ? 0 : length;
}

// Length of a well-formed ACL at `offset` (every entry inside it, and the SID of
// every allow, deny, audit and alarm entry well-formed), or 0.
size_t aclLength(const BYTE* data, size_t size, size_t offset) {
  if (offset > size || size - offset < 8) return 0;
  const BYTE* acl = data + offset;
  if (acl[0] != 2 && acl[0] != 4) return 0;  // ACL_REVISION, ACL_REVISION_DS
  size_t length = wordAt(acl + 2);
  size_t count = wordAt(acl + 4);
  if (length < 8 || length % 4 || size - offset < length) return 0;
  size_t at = 8;
  for (size_t i = 0; i < count; ++i) {
    if (length - at < 4) return 0;
    size_t aceSize = wordAt(acl + at + 2);
    if (aceSize < 4 || aceSize % 4 || length - at < aceSize) return 0;
    if (acl[at] <= 3) {  // the basic entries: header, mask, SID
      if (aceSize < 16) return 0;
      size_t sid = sidLength(acl + at, aceSize, 8);
      if (!sid || 8 + sid > aceSize) return 0;
    }
    at += aceSize;
  }
  return length;
}

}  // namespace

bool validSelfRelativeDescriptor(const BYTE* data, size_t size) {
  if (!data || size < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
  if (data[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  WORD control = wordAt(data + 2);
  if (!(control & SE_SELF_RELATIVE)) return false;
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  if (owner && !sidLength(data, size, owner)) return false;
  if (group && !sidLength(data, size, group)) return false;
  if ((control & kSaclPresent) && sacl && !aclLength(data, size, sacl)) return false;
  if ((control & SE_DACL_PRESENT) && dacl && !aclLength(data, size, dacl)) return false;
  return true;
}

std::vector<BYTE> descriptorParts(const std::vector<BYTE>& whole, SECURITY_INFORMATION requested) {
  const BYTE* data = whole.data();
  size_t size = whole.size();
  WORD control = wordAt(data + 2);
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  SECURITY_INFORMATION present = (owner ? OWNER_SECURITY_INFORMATION : 0) | (group ? GROUP_SECURITY_INFORMATION : 0) |
                                 ((control & kSaclPresent) ? SACL_SECURITY_INFORMATION : 0) |
                                 ((control & SE_DACL_PRESENT) ? DACL_SECURITY_INFORMATION : 0);
  if ((present & ~requested) == 0) return whole;  // all of it, as it was stored
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD kept = SE_SELF_RELATIVE;
  auto append = [&](size_t field, DWORD offset, size_t length) {
    putDword(out, field, static_cast<DWORD>(out.size()));
    out.insert(out.end(), data + offset, data + offset + length);
  };
  if ((requested & OWNER_SECURITY_INFORMATION) && owner) {
    kept |= control & kOwnerDefaulted;
    append(4, owner, sidLength(data, size, owner));
  }
  if ((requested & GROUP_SECURITY_INFORMATION) && group) {
    kept |= control & kGroupDefaulted;
    append(8, group, sidLength(data, size, group));
  }
  if (requested & SACL_SECURITY_INFORMATION) {
    kept |= control & kSaclBits;
    if ((control & kSaclPresent) && sacl) append(12, sacl, aclLength(data, size, sacl));
  }
  if (requested & DACL_SECURITY_INFORMATION) {
    kept |= control & kDaclBits;
    if ((control & SE_DACL_PRESENT) && dacl) append(16, dacl, aclLength(data, size, dacl));
  }
  putWord(out, 2, kept);
  return out;
}

bool keptSecurity(int fd, std::vector<BYTE>& descriptor) {
  return readAlternateStream(fd, kKeptSecurityName, descriptor) &&
         validSelfRelativeDescriptor(descriptor.data(), descriptor.size());
}

bool keptSecurity(const std::string& hostPath, std::vector<BYTE>& descriptor) {
  std::string attribute = std::string("user.") + kKeptSecurityName;
  for (;;) {
    ssize_t size = getxattr(hostPath.c_str(), attribute.c_str(), nullptr, 0);
    if (size < 0) return false;
    descriptor.resize(static_cast<size_t>(size));
    ssize_t got = getxattr(hostPath.c_str(), attribute.c_str(), descriptor.data(), descriptor.size());
    if (got >= 0) {
      descriptor.resize(static_cast<size_t>(got));
      return validSelfRelativeDescriptor(descriptor.data(), descriptor.size());
    }
    if (errno != ERANGE) return false;
  }
}

BOOL keepSecurity(int fd, const std::vector<BYTE>& descriptor) {
  if (!validSelfRelativeDescriptor(descriptor.data(), descriptor.size())) return fail(ERROR_INVALID_SECURITY_DESCR);
  std::string attribute = std::string("user.") + kKeptSecurityName;
  if (fsetxattr(fd, attribute.c_str(), descriptor.data(), descriptor.size(), 0) != 0) return failErrno(errno);
  return TRUE;
}

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

}  // namespace om::standin

using namespace om::standin;

HANDLE WINAPI FindFirstFileExW(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID findData, FINDEX_SEARCH_OPS searchOp,
                               LPVOID filter, DWORD flags) {
  if (level != FindExInfoStandard && level != FindExInfoBasic) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (searchOp != FindExSearchNameMatch && searchOp != FindExSearchLimitToDirectories) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (filter || (flags & ~DWORD(FIND_FIRST_EX_CASE_SENSITIVE | FIND_FIRST_EX_LARGE_FETCH))) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The basic level leaves out the short name, which the stand-in never has.
  return FindFirstFileW(path, static_cast<LPWIN32_FIND_DATAW>(findData));
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
  if (level != GetFileExInfoStandard || !information) return fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  std::string host;
  if (!statPath(path, st, host)) return FALSE;
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = withKeptAttributes(attributesFromStat(st, leaf(host)), host);
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
  if (!statPath(path, st, host)) return FALSE;
  if (!applyAttributes(host, folderOf(host), st, leaf(host), attributes)) return FALSE;
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
  information->dwFileAttributes = withKeptAttributes(attributesFromStat(st, leaf(file->hostPath)), file->fd);
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
      info.FileAttributes = withKeptAttributes(attributesFromStat(st, leaf(file->hostPath)), file->fd);
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
        if (!applyAttributes(path, folderOf(file->hostPath), st, leaf(file->hostPath), info.FileAttributes))
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

BOOL WINAPI GetFileSecurityW(LPCWSTR path, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                             DWORD size, LPDWORD needed) {
  if (!needed) return fail(ERROR_INVALID_PARAMETER);
  if (requested & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
  struct stat st;
  std::string host;
  if (!statPath(path, st, host)) return FALSE;
  // A descriptor restored by BackupWrite is the file's security from then on.
  std::vector<BYTE> kept;
  std::vector<BYTE> bytes =
      keptSecurity(host, kept) ? descriptorParts(kept, requested) : securityDescriptorFor(st, requested);
  *needed = static_cast<DWORD>(bytes.size());
  if (!descriptor || size < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(descriptor, bytes.data(), bytes.size());
  setLastError(ERROR_SUCCESS);
  return TRUE;
}
