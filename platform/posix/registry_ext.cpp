// Registry hives and key security of the stand-in (see include/system_ext.h).
//
// A loaded hive is a key folder directly under HKEY_USERS or HKEY_LOCAL_MACHINE
// holding a file "hive" with the host path of its hive file (and "replaced" once
// RegReplaceKeyW moved that file aside). A key's own security descriptor is the
// file "security" in its folder. Hive files hold the folder tree:
//   "OMHIVE1\n", then per entry: kind ('K' key folder, 'F' file), u32 path length,
//   the path relative to the hive ("k.a/k.b/v.616263"), and for files u32 length
//   and content.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../win32.h"
#include "files_internal.h"
#include "system_internal.h"

namespace om::standin {
namespace {

constexpr char kMagic[] = "OMHIVE1\n";
constexpr char kHiveMarker[] = "hive";
constexpr char kReplacedMarker[] = "replaced";
constexpr char kSecurityFile[] = "security";
constexpr SECURITY_INFORMATION kAllParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
constexpr WORD kSaclPresent = 0x0010;

bool readFile(const std::string& path, std::string& content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

LONG writeFileAtomically(const std::string& path, const std::string& content) {
  std::string temporary = path + ".tmp" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return static_cast<LONG>(win32ErrorFromErrno(errno));
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ok = fsync(fd) == 0 && ok;
  close(fd);
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

bool isKeyEntry(const std::string& name) { return name.size() > 2 && name[0] == 'k' && name[1] == '.'; }
bool isValueEntry(const std::string& name) { return name.size() > 2 && name[0] == 'v' && name[1] == '.'; }

void putU32(std::string& out, uint32_t value) { out.append(reinterpret_cast<const char*>(&value), 4); }

void serializeFolder(const std::string& folder, const std::string& relative, std::string& out) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  for (const auto& name : names) {
    std::string path = relative.empty() ? name : relative + "/" + name;
    if (isKeyEntry(name)) {
      out += 'K';
      putU32(out, static_cast<uint32_t>(path.size()));
      out += path;
      serializeFolder(folder + "/" + name, path, out);
    } else if ((isValueEntry(name) && name.find(".tmp") == std::string::npos) || name == kSecurityFile) {
      std::string content;
      if (!readFile(folder + "/" + name, content)) continue;
      out += 'F';
      putU32(out, static_cast<uint32_t>(path.size()));
      out += path;
      putU32(out, static_cast<uint32_t>(content.size()));
      out += content;
    }
  }
}

// A path from a hive file: key folders, then for files a value or "security".
bool validEntryPath(const std::string& path, bool file) {
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    bool last = slash == std::string::npos;
    if (part.find('\0') != std::string::npos || part.find("..") != std::string::npos) return false;
    if (!last || !file) {
      if (!isKeyEntry(part)) return false;
    } else if (!isValueEntry(part) && part != kSecurityFile) {
      return false;
    }
    if (last) return true;
    start = slash + 1;
  }
}

bool takeU32(const std::string& in, size_t& at, uint32_t& value) {
  if (in.size() - at < 4) return false;
  std::memcpy(&value, in.data() + at, 4);
  at += 4;
  return true;
}

LONG deserializeInto(const std::string& in, const std::string& folder) {
  if (in.empty()) return ERROR_SUCCESS;  // a new, empty hive
  size_t at = sizeof kMagic - 1;
  if (in.compare(0, at, kMagic) != 0) return ERROR_BADDB;
  while (at < in.size()) {
    char kind = in[at++];
    uint32_t length;
    if ((kind != 'K' && kind != 'F') || !takeU32(in, at, length) || in.size() - at < length) return ERROR_BADDB;
    std::string path = in.substr(at, length);
    at += length;
    if (!validEntryPath(path, kind == 'F')) return ERROR_BADDB;
    std::string target = folder + "/" + path;
    if (kind == 'K') {
      if (mkdir(target.c_str(), 0777) != 0 && errno != EEXIST) return ERROR_BADDB;
      continue;
    }
    if (!takeU32(in, at, length) || in.size() - at < length) return ERROR_BADDB;
    if (writeFileAtomically(target, in.substr(at, length)) != ERROR_SUCCESS) return ERROR_BADDB;
    at += length;
  }
  return ERROR_SUCCESS;
}

void removeTree(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) names.push_back(entry->d_name);
    closedir(dir);
    for (const auto& name : names) {
      std::string path = folder + "/" + name;
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        removeTree(path);
      else
        unlink(path.c_str());
    }
  }
  rmdir(folder.c_str());
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool isHiveParent(HKEY key) {
  auto value = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(key));
  return value == 0x80000002u || value == 0x80000003u;
}

LONG hivePrivileges() {
  return privilegeEnabled("SeBackupPrivilege") && privilegeEnabled("SeRestorePrivilege") ? ERROR_SUCCESS
                                                                                          : ERROR_PRIVILEGE_NOT_HELD;
}

// The child key folder of `folder` named `name` (any case), or empty.
std::string childKey(const std::string& folder, const std::string& name) {
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(dir))
      if (isKeyEntry(entry->d_name) && equalsIgnoreCase(entry->d_name + 2, name)) found = folder + "/" + entry->d_name;
    closedir(dir);
  }
  return found;
}

LONG writeBack(const std::string& hiveFolder) {
  if (exists(hiveFolder + "/" + kReplacedMarker)) return ERROR_SUCCESS;
  std::string file;
  if (!readFile(hiveFolder + "/" + kHiveMarker, file)) return ERROR_BADDB;
  std::string content(kMagic);
  serializeFolder(hiveFolder, "", content);
  return writeFileAtomically(file, content);
}

// The hive folder holding `folder` (itself or an ancestor), or empty.
std::string hiveOf(std::string folder) {
  std::string registry = standinRoot() + "/registry";
  while (folder.size() > registry.size() && folder.rfind(registry, 0) == 0) {
    if (exists(folder + "/" + kHiveMarker)) return folder;
    folder = folder.substr(0, folder.find_last_of('/'));
  }
  return std::string();
}

// ---- self-relative descriptors -----------------------------------------------------
DWORD dwordAt(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }
WORD wordAt(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// Extent of a self-relative descriptor given by address only, as its header says.
size_t descriptorExtent(const BYTE* data) {
  size_t end = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
  WORD control = wordAt(data + 2);
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  auto grow = [&](size_t e) { end = e > end ? e : end; };
  if (owner) grow(owner + 8 + 4 * static_cast<size_t>(data[owner + 1]));
  if (group) grow(group + 8 + 4 * static_cast<size_t>(data[group + 1]));
  if ((control & kSaclPresent) && sacl) grow(sacl + wordAt(data + sacl + 2));
  if ((control & SE_DACL_PRESENT) && dacl) grow(dacl + wordAt(data + dacl + 2));
  return end;
}

// A descriptor with the parts of `a` named by `fromA` and the others of `b`.
std::vector<BYTE> combine(const std::vector<BYTE>& a, SECURITY_INFORMATION fromA, const std::vector<BYTE>& b) {
  std::vector<BYTE> partA = descriptorParts(a, fromA), partB = descriptorParts(b, kAllParts & ~fromA);
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD control = SE_SELF_RELATIVE;
  for (const auto* part : {&partA, &partB}) {
    const BYTE* d = part->data();
    WORD c = wordAt(d + 2);
    control |= c & ~SE_SELF_RELATIVE;
    for (size_t field = 4; field <= 16; field += 4) {
      DWORD offset = dwordAt(d + field);
      if (!offset) continue;
      size_t length = field <= 8 ? 8 + 4 * static_cast<size_t>(d[offset + 1]) : wordAt(d + offset + 2);
      DWORD at = static_cast<DWORD>(out.size());
      for (int i = 0; i < 4; ++i) out[field + i] = static_cast<BYTE>(at >> (8 * i));
      out.insert(out.end(), d + offset, d + offset + length);
    }
  }
  out[2] = static_cast<BYTE>(control);
  out[3] = static_cast<BYTE>(control >> 8);
  return out;
}

std::vector<BYTE> keySecurity(const std::string& folder) {
  std::string kept;
  if (readFile(folder + "/" + kSecurityFile, kept) &&
      validSelfRelativeDescriptor(reinterpret_cast<const BYTE*>(kept.data()), kept.size()))
    return std::vector<BYTE>(kept.begin(), kept.end());
  struct stat st{};
  stat(folder.c_str(), &st);
  return securityDescriptorFor(st, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
}

std::string text(LPCWSTR s) { return s ? narrow(s) : std::string(); }

}  // namespace
}  // namespace om::standin

using namespace om::standin;

LONG WINAPI RegLoadKeyW(HKEY key, LPCWSTR subKey, LPCWSTR file) {
  if (!subKey || !*subKey || !file || !*file) return ERROR_INVALID_PARAMETER;
  if (!isHiveParent(key)) return ERROR_INVALID_PARAMETER;
  if (LONG rc = hivePrivileges()) return rc;
  std::string name = text(subKey);
  if (name.find('\\') != std::string::npos || name.size() > 255) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  std::string parent = registryKeyFolder(key, error);
  if (parent.empty()) return error;
  if (!childKey(parent, name).empty()) return ERROR_ALREADY_EXISTS;
  std::string host = hostPathFromWindows(text(file));
  std::string content;
  if (host.empty() || !readFile(host, content)) return static_cast<LONG>(missingFileError(host));
  char resolved[4096];
  if (realpath(host.c_str(), resolved)) host = resolved;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {  // one hive file is loaded once
    std::string rootFolder = registryKeyFolder(root, error);
    if (DIR* dir = opendir(rootFolder.c_str())) {
      bool inUse = false;
      while (struct dirent* entry = readdir(dir)) {
        std::string loaded;
        if (isKeyEntry(entry->d_name) && readFile(rootFolder + "/" + entry->d_name + "/" + kHiveMarker, loaded))
          inUse = inUse || loaded == host;
      }
      closedir(dir);
      if (inUse) return ERROR_SHARING_VIOLATION;
    }
  }
  std::string folder = parent + "/k." + name;
  if (mkdir(folder.c_str(), 0777) != 0) return static_cast<LONG>(win32ErrorFromErrno(errno));
  LONG rc = deserializeInto(content, folder);
  if (rc == ERROR_SUCCESS) rc = writeFileAtomically(folder + "/" + kHiveMarker, host);
  if (rc != ERROR_SUCCESS) removeTree(folder);
  return rc;
}

LONG WINAPI RegUnLoadKeyW(HKEY key, LPCWSTR subKey) {
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!isHiveParent(key)) return ERROR_INVALID_PARAMETER;
  if (LONG rc = hivePrivileges()) return rc;
  LONG error = ERROR_SUCCESS;
  std::string parent = registryKeyFolder(key, error);
  if (parent.empty()) return error;
  std::string folder = childKey(parent, text(subKey));
  if (folder.empty()) return ERROR_FILE_NOT_FOUND;
  if (!exists(folder + "/" + kHiveMarker)) return ERROR_INVALID_PARAMETER;  // not a hive
  if (LONG rc = writeBack(folder)) return rc;
  removeTree(folder);
  return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY key) {
  LONG error = ERROR_SUCCESS;
  std::string folder = registryKeyFolder(key, error);
  if (folder.empty()) return error;
  std::string hive = hiveOf(folder);
  return hive.empty() ? ERROR_SUCCESS : writeBack(hive);
}

LONG WINAPI RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
  if (!newFile || !oldFile) return ERROR_INVALID_PARAMETER;
  if (LONG rc = hivePrivileges()) return rc;
  LONG error = ERROR_SUCCESS;
  std::string folder = registryKeyFolder(key, error);
  if (folder.empty()) return error;
  if (subKey && *subKey) {
    std::string name = text(subKey);
    size_t start = 0;
    while (start <= name.size() && !folder.empty()) {
      size_t end = name.find('\\', start);
      if (end == std::string::npos) end = name.size();
      if (end > start) folder = childKey(folder, name.substr(start, end - start));
      start = end + 1;
    }
    if (folder.empty()) return ERROR_FILE_NOT_FOUND;
  }
  if (!exists(folder + "/" + kHiveMarker)) return ERROR_INVALID_PARAMETER;  // only the root of a hive
  std::string hiveFile;
  if (!readFile(folder + "/" + kHiveMarker, hiveFile)) return ERROR_BADDB;
  std::string newHost = hostPathFromWindows(text(newFile)), oldHost = hostPathFromWindows(text(oldFile));
  if (newHost.empty() || !exists(newHost)) return static_cast<LONG>(missingFileError(newHost));
  if (oldHost.empty()) return ERROR_PATH_NOT_FOUND;
  if (exists(oldHost)) return ERROR_ALREADY_EXISTS;
  if (!exists(folder + "/" + kReplacedMarker)) {
    // The hive's current contents go to the old file, as written at this moment.
    std::string content(kMagic);
    serializeFolder(folder, "", content);
    if (LONG rc = writeFileAtomically(hiveFile, content)) return rc;
  }
  if (rename(hiveFile.c_str(), oldHost.c_str()) != 0) return static_cast<LONG>(win32ErrorFromErrno(errno));
  if (rename(newHost.c_str(), hiveFile.c_str()) != 0) {
    LONG rc = static_cast<LONG>(win32ErrorFromErrno(errno));
    rename(oldHost.c_str(), hiveFile.c_str());
    return rc;
  }
  return writeFileAtomically(folder + "/" + kReplacedMarker, "");
}

LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                              LPDWORD size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  if ((requested & SACL_SECURITY_INFORMATION) && !privilegeEnabled("SeSecurityPrivilege"))
    return ERROR_PRIVILEGE_NOT_HELD;
  LONG error = ERROR_SUCCESS;
  std::string folder = registryKeyFolder(key, error);
  if (folder.empty()) return error;
  std::vector<BYTE> bytes = descriptorParts(keySecurity(folder), requested);
  DWORD available = *size;
  *size = static_cast<DWORD>(bytes.size());
  if (!descriptor || available < bytes.size()) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(descriptor, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetKeySecurity(HKEY key, SECURITY_INFORMATION given, PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return ERROR_INVALID_PARAMETER;
  if ((given & SACL_SECURITY_INFORMATION) && !privilegeEnabled("SeSecurityPrivilege"))
    return ERROR_PRIVILEGE_NOT_HELD;
  const BYTE* data = static_cast<const BYTE*>(descriptor);
  if (data[0] != SECURITY_DESCRIPTOR_REVISION || !(wordAt(data + 2) & SE_SELF_RELATIVE))
    return ERROR_INVALID_SECURITY_DESCR;
  std::vector<BYTE> bytes(data, data + descriptorExtent(data));
  if (!validSelfRelativeDescriptor(bytes.data(), bytes.size())) return ERROR_INVALID_SECURITY_DESCR;
  LONG error = ERROR_SUCCESS;
  std::string folder = registryKeyFolder(key, error);
  if (folder.empty()) return error;
  std::vector<BYTE> merged = combine(bytes, given & kAllParts, keySecurity(folder));
  return writeFileAtomically(folder + "/" + kSecurityFile, std::string(merged.begin(), merged.end()));
}
