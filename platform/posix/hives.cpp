// Registry hives of the stand-in: loading, unloading, flushing and replacing
// (see include/winreg.h).
//
// A loaded hive is a key folder directly under HKEY_USERS or HKEY_LOCAL_MACHINE
// holding a file "hive" with the host path of its hive file (and "replaced" once
// RegReplaceKeyW moved that file aside). Hive files hold the folder tree, the
// keys' own security descriptors included:
//   "OMHIVE1\n", then per entry: kind ('K' key folder, 'F' file), u32 path length,
//   the path relative to the hive ("k.a/k.b/v.616263"), and for files u32 length
//   and content.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
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
    } else if ((isValueEntry(name) && name.find(".tmp") == std::string::npos) || name == kKeySecurityFile) {
      std::string content;
      if (!readHostFile(folder + "/" + name, content)) continue;
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
    } else if (!isValueEntry(part) && part != kKeySecurityFile) {
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
    if (writeHostFileAtomically(target, in.substr(at, length)) != ERROR_SUCCESS) return ERROR_BADDB;
    at += length;
  }
  return ERROR_SUCCESS;
}

bool isHiveParent(HKEY key) {
  auto value = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(key));
  return value == 0x80000002u || value == 0x80000003u;
}

LONG hivePrivileges() {
  return privilegeEnabled("SeBackupPrivilege") && privilegeEnabled("SeRestorePrivilege") ? ERROR_SUCCESS
                                                                                          : ERROR_PRIVILEGE_NOT_HELD;
}

LONG writeBack(const std::string& hiveFolder) {
  if (hostExists(hiveFolder + "/" + kReplacedMarker)) return ERROR_SUCCESS;
  std::string file;
  if (!readHostFile(hiveFolder + "/" + kHiveMarker, file)) return ERROR_BADDB;
  std::string content(kMagic);
  serializeFolder(hiveFolder, "", content);
  return writeHostFileAtomically(file, content);
}

// The hive folder holding `folder` (itself or an ancestor), or empty.
std::string hiveOf(std::string folder) {
  std::string registry = standinRoot() + "/registry";
  while (folder.size() > registry.size() && folder.rfind(registry, 0) == 0) {
    if (hostExists(folder + "/" + kHiveMarker)) return folder;
    folder = folder.substr(0, folder.find_last_of('/'));
  }
  return std::string();
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

LONG WINAPI RegLoadKeyW(HKEY key, LPCWSTR subKey, LPCWSTR file) {
  if (!subKey || !*subKey || !file || !*file) return ERROR_INVALID_PARAMETER;
  if (!isHiveParent(key)) return ERROR_INVALID_PARAMETER;
  if (LONG rc = hivePrivileges()) return rc;
  std::string name = narrow(subKey);
  if (name.find('\\') != std::string::npos || name.size() > 255) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  std::string parent = registryKeyFolder(key, error);
  if (parent.empty()) return error;
  if (!registrySubKey(parent, name).empty()) return ERROR_ALREADY_EXISTS;
  std::string host = hostPathFromWindows(narrow(file));
  std::string content;
  if (host.empty() || !readHostFile(host, content)) return static_cast<LONG>(missingFileError(host));
  char resolved[4096];
  if (realpath(host.c_str(), resolved)) host = resolved;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {  // one hive file is loaded once
    std::string rootFolder = registryKeyFolder(root, error);
    if (DIR* dir = opendir(rootFolder.c_str())) {
      bool inUse = false;
      while (struct dirent* entry = readdir(dir)) {
        std::string loaded;
        if (isKeyEntry(entry->d_name) && readHostFile(rootFolder + "/" + entry->d_name + "/" + kHiveMarker, loaded))
          inUse = inUse || loaded == host;
      }
      closedir(dir);
      if (inUse) return ERROR_SHARING_VIOLATION;
    }
  }
  std::string folder = parent + "/" + registryKeyEntry(name);
  if (mkdir(folder.c_str(), 0777) != 0) return static_cast<LONG>(win32ErrorFromErrno(errno));
  LONG rc = deserializeInto(content, folder);
  if (rc == ERROR_SUCCESS) rc = writeHostFileAtomically(folder + "/" + kHiveMarker, host);
  if (rc != ERROR_SUCCESS) removeHostTree(folder);
  return rc;
}

LONG WINAPI RegUnLoadKeyW(HKEY key, LPCWSTR subKey) {
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!isHiveParent(key)) return ERROR_INVALID_PARAMETER;
  if (LONG rc = hivePrivileges()) return rc;
  LONG error = ERROR_SUCCESS;
  std::string parent = registryKeyFolder(key, error);
  if (parent.empty()) return error;
  std::string folder = registrySubKey(parent, narrow(subKey));
  if (folder.empty()) return ERROR_FILE_NOT_FOUND;
  if (!hostExists(folder + "/" + kHiveMarker)) return ERROR_INVALID_PARAMETER;  // not a hive
  if (LONG rc = writeBack(folder)) return rc;
  removeHostTree(folder);
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
    std::string name = narrow(subKey);
    size_t start = 0;
    while (start <= name.size() && !folder.empty()) {
      size_t end = name.find('\\', start);
      if (end == std::string::npos) end = name.size();
      if (end > start) folder = registrySubKey(folder, name.substr(start, end - start));
      start = end + 1;
    }
    if (folder.empty()) return ERROR_FILE_NOT_FOUND;
  }
  if (!hostExists(folder + "/" + kHiveMarker)) return ERROR_INVALID_PARAMETER;  // only the root of a hive
  std::string hiveFile;
  if (!readHostFile(folder + "/" + kHiveMarker, hiveFile)) return ERROR_BADDB;
  std::string newHost = hostPathFromWindows(narrow(newFile)), oldHost = hostPathFromWindows(narrow(oldFile));
  if (newHost.empty() || !hostExists(newHost)) return static_cast<LONG>(missingFileError(newHost));
  if (oldHost.empty()) return ERROR_PATH_NOT_FOUND;
  if (hostExists(oldHost)) return ERROR_ALREADY_EXISTS;
  if (!hostExists(folder + "/" + kReplacedMarker)) {
    // The hive's current contents go to the old file, as written at this moment.
    std::string content(kMagic);
    serializeFolder(folder, "", content);
    if (LONG rc = static_cast<LONG>(writeHostFileAtomically(hiveFile, content))) return rc;
  }
  if (rename(hiveFile.c_str(), oldHost.c_str()) != 0) return static_cast<LONG>(win32ErrorFromErrno(errno));
  if (rename(newHost.c_str(), hiveFile.c_str()) != 0) {
    LONG rc = static_cast<LONG>(win32ErrorFromErrno(errno));
    rename(oldHost.c_str(), hiveFile.c_str());
    return rc;
  }
  return writeHostFileAtomically(folder + "/" + kReplacedMarker, "");
}
