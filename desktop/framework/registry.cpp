#include "framework/registry.h"

#include <cstring>

#include "framework/exceptions.h"
#include "framework/strutils.h"

namespace om {

TRegistry::TRegistry(REGSAM access) : Access(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY key) {
  if (key == FRootKey) return;
  CloseKey();
  FRootKey = key;
}

void TRegistry::CloseKey() {
  if (FCurrentKey) RegCloseKey(FCurrentKey);
  FCurrentKey = nullptr;
  FCurrentPath.clear();
}

HKEY TRegistry::BaseFor(const std::string& key, std::string& relative) const {
  if (!key.empty() && key[0] == '\\') {
    relative = key.substr(1);
    return FRootKey;
  }
  relative = key;
  return FCurrentKey ? FCurrentKey : FRootKey;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::string rel;
  HKEY base = BaseFor(key, rel);
  bool absolute = base == FRootKey && (!FCurrentKey || (!key.empty() && key[0] == '\\'));
  HKEY opened = nullptr;
  LONG rc;
  if (canCreate && !rel.empty())
    rc = RegCreateKeyExA(base, rel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr,
                         &opened, nullptr);
  else
    rc = RegOpenKeyExA(base, rel.c_str(), 0, Access, &opened);
  if (rc != ERROR_SUCCESS) return false;
  std::string path = absolute ? rel : (FCurrentPath.empty() ? rel : FCurrentPath + "\\" + rel);
  CloseKey();
  FCurrentKey = opened;
  FCurrentPath = path;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  REGSAM saved = Access;
  Access = KEY_READ;
  bool ok = OpenKey(key, false);
  Access = saved;
  return ok;
}

bool TRegistry::KeyExists(const std::string& key) {
  std::string rel;
  HKEY base = BaseFor(key, rel);
  HKEY k = nullptr;
  if (RegOpenKeyExA(base, rel.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
  std::string rel;
  HKEY base = BaseFor(key, rel);
  // Sub-keys first: RegDeleteKey removes only keys without sub-keys.
  HKEY k = nullptr;
  if (RegOpenKeyExA(base, rel.c_str(), 0, KEY_READ | KEY_WRITE, &k) == ERROR_SUCCESS) {
    char name[256];
    for (;;) {
      DWORD len = sizeof name;
      if (RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      HKEY saved = FCurrentKey;
      FCurrentKey = k;
      bool ok = DeleteKey(name);
      FCurrentKey = saved;
      if (!ok) break;
    }
    RegCloseKey(k);
  }
  return RegDeleteKeyA(base, rel.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::MoveKey(const std::string& oldName, const std::string& newName, bool deleteOld) {
  std::string oldRel, newRel;
  HKEY oldBase = BaseFor(oldName, oldRel);
  HKEY newBase = BaseFor(newName, newRel);
  HKEY source = nullptr, target = nullptr;
  if (RegOpenKeyExA(oldBase, oldRel.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS) return false;
  bool ok = RegCreateKeyExA(newBase, newRel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &target, nullptr) == ERROR_SUCCESS &&
            RegCopyTreeA(source, nullptr, target) == ERROR_SUCCESS;
  if (target) RegCloseKey(target);
  RegCloseKey(source);
  if (ok && deleteOld) ok = DeleteKey(oldName);
  return ok;
}

bool TRegistry::ValueExists(const std::string& name) {
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  return RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& name) {
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  return RegDeleteValueA(k, name.c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> TRegistry::GetValueNames() {
  std::vector<std::string> names;
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  char name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumValueA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

std::vector<std::string> TRegistry::GetKeyNames() {
  std::vector<std::string> names;
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

bool TRegistry::Read(const std::string& name, DWORD& type, std::string& data) {
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  DWORD size = 0;
  if (RegQueryValueExA(k, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  data.assign(size, '\0');
  if (size && RegQueryValueExA(k, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
    return false;
  data.resize(size);
  return true;
}

void TRegistry::Write(const std::string& name, DWORD type, const void* data, DWORD size) {
  HKEY k = FCurrentKey ? FCurrentKey : FRootKey;
  if (RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
    throw ERegistryException(Format("Failed to set data for '%s'", name.c_str()));
}

std::string TRegistry::ReadString(const std::string& name) {
  DWORD type = 0;
  std::string data;
  if (!Read(name, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ))
    throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
  size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  return data;
}

int32_t TRegistry::ReadInteger(const std::string& name) {
  DWORD type = 0;
  std::string data;
  if (!Read(name, type, data) || type != REG_DWORD || data.size() != 4)
    throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
  int32_t v;
  memcpy(&v, data.data(), 4);
  return v;
}

std::string TRegistry::ReadBinaryData(const std::string& name) {
  DWORD type = 0;
  std::string data;
  if (!Read(name, type, data))
    throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
  return data;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  Write(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  Write(name, REG_EXPAND_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  Write(name, REG_DWORD, &value, 4);
}

void TRegistry::WriteBinaryData(const std::string& name, const std::string& bytes) {
  Write(name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

}  // namespace om
