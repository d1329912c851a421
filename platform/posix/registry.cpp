// The registry, kept on disk under $OM_STANDIN_ROOT/registry so that every
// process of a test shares it. A key is a folder "k.<name>" (case kept, looked up
// without regard to case; "/" and "%" of the name as "%2F" and "%25", since a key
// name may hold a slash); a value is a file "v.<hex of the lower-case name>"
// holding its type, its name and its data. String data is stored as UTF-16, as
// Windows stores it; the A calls convert. A key's own security descriptor is the
// file "security" in its folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "../win32.h"
#include "files_internal.h"
#include "system_internal.h"

namespace om::standin {
namespace {

class KeyObject : public KernelObject {
 public:
  std::string folder;
  REGSAM access = 0;
};

std::string rootFolder(HKEY key) {
  const char* name = nullptr;
  switch (static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(key))) {
    case 0x80000000: name = "HKEY_CLASSES_ROOT"; break;
    case 0x80000001: name = "HKEY_CURRENT_USER"; break;
    case 0x80000002: name = "HKEY_LOCAL_MACHINE"; break;
    case 0x80000003: name = "HKEY_USERS"; break;
    default: return std::string();
  }
  std::string folder = standinRoot() + "/registry";
  mkdir(folder.c_str(), 0777);
  folder += std::string("/") + name;
  mkdir(folder.c_str(), 0777);
  return folder;
}

bool isPredefined(HKEY key) { return !rootFolder(key).empty(); }

// Folder of an open key, or empty with `error` set. `needed` is the access right
// the operation requires of the handle (predefined roots allow everything).
std::string keyFolder(HKEY key, LONG& error, REGSAM needed = 0) {
  std::string root = rootFolder(key);
  if (!root.empty()) return root;
  auto object = lookup<KeyObject>(reinterpret_cast<HANDLE>(key));
  if (!object) {
    error = ERROR_INVALID_HANDLE;
    return std::string();
  }
  if ((object->access & needed) != needed) {
    error = ERROR_ACCESS_DENIED;
    return std::string();
  }
  struct stat st;
  if (stat(object->folder.c_str(), &st) != 0) {
    error = ERROR_KEY_DELETED;
    return std::string();
  }
  return object->folder;
}

// A key name from its folder's entry (after "k.").
std::string keyNameOf(const std::string& entry) {
  std::string name;
  for (size_t i = 0; i < entry.size(); ++i) {
    if (entry.compare(i, 3, "%2F") == 0 || entry.compare(i, 3, "%25") == 0) {
      name += entry[i + 2] == 'F' ? '/' : '%';
      i += 2;
    } else {
      name += entry[i];
    }
  }
  return name;
}

std::vector<std::string> listNames(const std::string& folder, char kind) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(dir))
      if (entry->d_name[0] == kind && entry->d_name[1] == '.') names.push_back(entry->d_name + 2);
    closedir(dir);
  }
  auto sortKey = [kind](const std::string& entry) { return toLowerAscii(kind == 'k' ? keyNameOf(entry) : entry); };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return sortKey(a) < sortKey(b); });
  return names;
}

// The existing sub-key folder matching `name` without regard to case, or empty.
std::string findSubKey(const std::string& folder, const std::string& name) {
  for (const auto& existing : listNames(folder, 'k'))
    if (sameName(keyNameOf(existing), name)) return folder + "/k." + existing;
  return std::string();
}

std::vector<std::string> splitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

LONG openKey(HKEY parent, const std::string& subKey, bool create, REGSAM access, PHKEY result,
             LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(parent, error);
  if (folder.empty()) return error;
  bool createdAny = false;
  for (const auto& part : splitKeyPath(subKey)) {
    if (part.size() > 255) return ERROR_INVALID_PARAMETER;
    std::string next = findSubKey(folder, part);
    if (next.empty()) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      next = folder + "/" + registryKeyEntry(part);
      if (mkdir(next.c_str(), 0777) != 0 && errno != EEXIST) return static_cast<LONG>(win32ErrorFromErrno(errno));
      createdAny = true;
    }
    folder = next;
  }
  auto key = std::make_shared<KeyObject>();
  key->folder = folder;
  key->access = access;
  *result = reinterpret_cast<HKEY>(insertHandle(key));
  if (disposition) *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

std::string valueFile(const std::string& folder, const std::string& name) {
  static const char digits[] = "0123456789abcdef";
  std::string file = folder + "/v.";
  for (unsigned char c : caseFolded(name)) {
    file += digits[c >> 4];
    file += digits[c & 15];
  }
  return file;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

struct StoredValue {
  DWORD type = REG_NONE;
  std::string name;
  std::string data;
};

bool readValue(const std::string& path, StoredValue& value) {
  std::string content;
  if (!readHostFile(path, content)) return false;
  if (content.size() < 8) return false;
  uint32_t nameLength;
  std::memcpy(&value.type, content.data(), 4);
  std::memcpy(&nameLength, content.data() + 4, 4);
  if (content.size() < 8 + static_cast<size_t>(nameLength)) return false;
  value.name = content.substr(8, nameLength);
  value.data = content.substr(8 + nameLength);
  return true;
}

LONG writeValue(const std::string& folder, const std::string& name, DWORD type, const std::string& data) {
  std::string content(8, '\0');
  uint32_t nameLength = static_cast<uint32_t>(name.size());
  std::memcpy(&content[0], &type, 4);
  std::memcpy(&content[4], &nameLength, 4);
  content += name;
  content += data;
  return static_cast<LONG>(writeHostFileAtomically(valueFile(folder, name), content));
}

// String data arrives from the A calls as UTF-8 and is kept as UTF-16.
std::string toStored(DWORD type, const BYTE* data, DWORD size, bool ansi) {
  std::string raw(reinterpret_cast<const char*>(data), size);
  if (!ansi || !isStringType(type)) return raw;
  std::u16string wide = widen(raw);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

std::string fromStored(const StoredValue& value, bool ansi) {
  if (!ansi || !isStringType(value.type)) return value.data;
  std::u16string wide(value.data.size() / 2, u'\0');
  std::memcpy(&wide[0], value.data.data(), wide.size() * 2);
  return narrow(wide);
}

LONG setValue(HKEY key, const std::string& name, DWORD type, const BYTE* data, DWORD size, bool ansi) {
  if (!data && size) return ERROR_NOACCESS;
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error, KEY_SET_VALUE);
  if (folder.empty()) return error;
  return writeValue(folder, name, type, toStored(type, data, size, ansi));
}

LONG queryValue(HKEY key, const std::string& name, LPDWORD type, LPBYTE data, LPDWORD size, bool ansi) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error);
  if (folder.empty()) return error;
  StoredValue value;
  if (!readValue(valueFile(folder, name), value)) return ERROR_FILE_NOT_FOUND;
  std::string bytes = fromStored(value, ansi);
  if (type) *type = value.type;
  if (!size) return ERROR_SUCCESS;
  DWORD available = *size;
  *size = static_cast<DWORD>(bytes.size());
  if (!data) return ERROR_SUCCESS;
  if (available < bytes.size()) return ERROR_MORE_DATA;
  std::memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

LONG deleteValue(HKEY key, const std::string& name) {
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error, KEY_SET_VALUE);
  if (folder.empty()) return error;
  return unlink(valueFile(folder, name).c_str()) == 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG deleteKey(HKEY key, const std::string& subKey) {
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error);
  if (folder.empty()) return error;
  for (const auto& part : splitKeyPath(subKey)) {
    folder = findSubKey(folder, part);
    if (folder.empty()) return ERROR_FILE_NOT_FOUND;
  }
  if (!listNames(folder, 'k').empty()) return ERROR_ACCESS_DENIED;  // sub-keys must go first
  for (const auto& value : listNames(folder, 'v')) unlink((folder + "/v." + value).c_str());
  unlink((folder + "/" + kKeySecurityFile).c_str());  // the key's own descriptor
  return rmdir(folder.c_str()) == 0 ? ERROR_SUCCESS : static_cast<LONG>(win32ErrorFromErrno(errno));
}

template <class Char>
LONG copyName(const std::basic_string<Char>& name, Char* buffer, LPDWORD length) {
  if (!length || !buffer) return ERROR_INVALID_PARAMETER;
  if (*length <= name.size()) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  *length = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG enumKey(HKEY key, DWORD index, std::string& name) {
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error);
  if (folder.empty()) return error;
  auto names = listNames(folder, 'k');
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  name = keyNameOf(names[index]);
  return ERROR_SUCCESS;
}

LONG enumValue(HKEY key, DWORD index, StoredValue& value) {
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error);
  if (folder.empty()) return error;
  std::vector<StoredValue> values;
  for (const auto& file : listNames(folder, 'v')) {
    if (file.find(".tmp") != std::string::npos) continue;
    StoredValue v;
    if (readValue(folder + "/v." + file, v)) values.push_back(std::move(v));
  }
  std::sort(values.begin(), values.end(),
            [](const StoredValue& a, const StoredValue& b) { return toLowerAscii(a.name) < toLowerAscii(b.name); });
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  value = values[index];
  return ERROR_SUCCESS;
}

LONG deliverData(const StoredValue& value, bool ansi, LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  std::string bytes = fromStored(value, ansi);
  if (type) *type = value.type;
  if (!dataLength) return ERROR_SUCCESS;
  DWORD available = *dataLength;
  *dataLength = static_cast<DWORD>(bytes.size());
  if (data && available < bytes.size()) return ERROR_MORE_DATA;
  if (data) std::memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

std::string text(LPCSTR s) { return s ? s : ""; }
std::string text(LPCWSTR s) { return narrow(s); }

std::vector<BYTE> keySecurity(const std::string& folder) {
  std::string kept;
  if (readHostFile(folder + "/" + kKeySecurityFile, kept) &&
      validSelfRelativeDescriptor(reinterpret_cast<const BYTE*>(kept.data()), kept.size()))
    return std::vector<BYTE>(kept.begin(), kept.end());
  struct stat st{};
  stat(folder.c_str(), &st);
  return securityDescriptorFor(st, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
}

}  // namespace

std::string registryKeyFolder(HKEY key, LONG& error) { return keyFolder(key, error); }
std::string registryKeyEntry(const std::string& name) {
  std::string entry = "k.";
  for (char c : name) entry += c == '/' ? "%2F" : c == '%' ? "%25" : std::string(1, c);
  return entry;
}
std::string registrySubKey(const std::string& folder, const std::string& name) { return findSubKey(folder, name); }

}  // namespace om::standin

using namespace om::standin;

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition) {
  return subKey ? openKey(key, subKey, true, access, result, disposition) : ERROR_INVALID_PARAMETER;
}
LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  return subKey ? openKey(key, narrow(subKey), true, access, result, disposition) : ERROR_INVALID_PARAMETER;
}
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return openKey(key, text(subKey), false, access, result, nullptr);
}
LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return openKey(key, text(subKey), false, access, result, nullptr);
}
LONG WINAPI RegCloseKey(HKEY key) {
  if (isPredefined(key)) return ERROR_SUCCESS;
  if (!lookup<KeyObject>(reinterpret_cast<HANDLE>(key))) return ERROR_INVALID_HANDLE;
  removeHandle(reinterpret_cast<HANDLE>(key));
  return ERROR_SUCCESS;
}
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  return setValue(key, text(name), type, data, size, true);
}
LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  return setValue(key, text(name), type, data, size, false);
}
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  return queryValue(key, text(name), type, data, size, true);
}
LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  return queryValue(key, text(name), type, data, size, false);
}
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) { return deleteValue(key, text(name)); }
LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) { return deleteValue(key, text(name)); }
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return subKey && *subKey ? deleteKey(key, subKey) : ERROR_INVALID_PARAMETER;
}
LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  return subKey && *subKey ? deleteKey(key, narrow(subKey)) : ERROR_INVALID_PARAMETER;
}
LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR, LPDWORD,
                          PFILETIME) {
  std::string found;
  LONG rc = enumKey(key, index, found);
  return rc == ERROR_SUCCESS ? copyName(found, name, nameLength) : rc;
}
LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPWSTR, LPDWORD,
                          PFILETIME) {
  std::string found;
  LONG rc = enumKey(key, index, found);
  return rc == ERROR_SUCCESS ? copyName(widen(found), name, nameLength) : rc;
}
LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                          LPBYTE data, LPDWORD dataLength) {
  StoredValue value;
  LONG rc = enumValue(key, index, value);
  if (rc == ERROR_SUCCESS) rc = copyName(value.name, name, nameLength);
  return rc == ERROR_SUCCESS ? deliverData(value, true, type, data, dataLength) : rc;
}
LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                          LPBYTE data, LPDWORD dataLength) {
  StoredValue value;
  LONG rc = enumValue(key, index, value);
  if (rc == ERROR_SUCCESS) rc = copyName(widen(value.name), name, nameLength);
  return rc == ERROR_SUCCESS ? deliverData(value, false, type, data, dataLength) : rc;
}

LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                              LPDWORD size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  if ((requested & SACL_SECURITY_INFORMATION) && !privilegeEnabled("SeSecurityPrivilege"))
    return ERROR_PRIVILEGE_NOT_HELD;
  LONG error = ERROR_SUCCESS;
  std::string folder = keyFolder(key, error);
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
  std::string folder = keyFolder(key, error);
  if (folder.empty()) return error;
  std::vector<BYTE> merged = combineDescriptors(bytes, given & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION), keySecurity(folder));
  return static_cast<LONG>(writeHostFileAtomically(folder + "/" + kKeySecurityFile, std::string(merged.begin(), merged.end())));
}

