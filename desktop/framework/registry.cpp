#include "framework/registry.h"

#include <cstring>

#include "framework/exceptions.h"
#include "framework/strutils.h"

namespace om {
namespace {
// Registry calls return their error: it becomes the last error on failure.
bool Succeeded(LONG rc) {
  if (rc == ERROR_SUCCESS) return true;
  SetLastError(static_cast<DWORD>(rc));
  return false;
}

// A key name or path in UTF-16, converted as the registry's ANSI calls convert it.
std::wstring WideKeyName(const std::string& name) {
  if (name.empty()) return std::wstring();
  std::wstring wide(name.size(), L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &wide[0],
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

bool SameWideKeyName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The names along a key path; the registry passes over empty ones.
std::vector<std::wstring> KeyPathElements(const std::string& path) {
  const std::wstring wide = WideKeyName(path);
  std::vector<std::wstring> elements;
  for (size_t start = 0; start < wide.size();) {
    size_t end = wide.find(L'\\', start);
    if (end == std::wstring::npos) end = wide.size();
    if (end > start) elements.push_back(wide.substr(start, end - start));
    start = end + 1;
  }
  return elements;
}

// Whether the key at path lies below the key at parent.
bool KeyLiesBelow(const std::string& path, const std::string& parent) {
  const std::vector<std::wstring> below = KeyPathElements(path), above = KeyPathElements(parent);
  if (below.size() <= above.size()) return false;
  for (size_t i = 0; i < above.size(); ++i)
    if (!SameWideKeyName(below[i], above[i])) return false;
  return true;
}
}  // namespace

bool SameKeyName(const std::string& a, const std::string& b) {
  return SameWideKeyName(WideKeyName(a), WideKeyName(b));
}

TRegistry::TRegistry(REGSAM access) : Access(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY key) {
  if (key == FRootKey) return;
  CloseKey();
  FRootKey = key;
}

void TRegistry::CloseKey() {
  FCurrentKey.reset();
  FCurrentPath.clear();
}

HKEY TRegistry::BaseFor(const std::string& key, std::string& relative) const {
  if (!key.empty() && key[0] == '\\') {
    relative = key.substr(1);
    return FRootKey;
  }
  relative = key;
  return Base();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::string rel;
  HKEY base = BaseFor(key, rel);
  UniqueHkey opened;
  LONG rc;
  if (canCreate && !rel.empty())
    rc = RegCreateKeyExA(base, rel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr,
                         opened.put(), nullptr);
  else
    rc = RegOpenKeyExA(base, rel.c_str(), 0, Access, opened.put());
  if (rc != ERROR_SUCCESS) return false;
  std::string path = PathOf(key);
  FCurrentKey = std::move(opened);
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
  UniqueHkey k;
  return RegOpenKeyExA(base, rel.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::string& key) {
  std::string rel;
  HKEY base = BaseFor(key, rel);
  // Sub-keys first: RegDeleteKey removes only keys without sub-keys.
  UniqueHkey k;
  if (RegOpenKeyExA(base, rel.c_str(), 0, KEY_READ | KEY_WRITE, k.put()) == ERROR_SUCCESS) {
    char name[256];
    for (;;) {
      DWORD len = sizeof name;
      if (RegEnumKeyExA(k.get(), 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::swap(FCurrentKey, k);
      bool ok = DeleteKey(name);
      std::swap(FCurrentKey, k);
      if (!ok) break;
    }
    k.reset();
  }
  return Succeeded(RegDeleteKeyA(base, rel.c_str()));
}

std::string TRegistry::PathOf(const std::string& key) const {
  std::string rel;
  std::string path = BaseFor(key, rel) == FRootKey || FCurrentPath.empty() ? rel : FCurrentPath + "\\" + rel;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

bool TRegistry::MoveKey(const std::string& oldName, const std::string& newName, bool deleteOld) {
  std::string oldRel, newRel;
  HKEY oldBase = BaseFor(oldName, oldRel);
  HKEY newBase = BaseFor(newName, newRel);
  // A key copied into one of its own sub-keys would copy itself for ever:
  // decided by the keys the paths name, however they are spelt.
  if (KeyLiesBelow(PathOf(newName), PathOf(oldName))) return Succeeded(ERROR_INVALID_PARAMETER);
  {
    UniqueHkey source, target;
    if (!Succeeded(RegOpenKeyExA(oldBase, oldRel.c_str(), 0, KEY_READ, source.put()))) return false;
    // Never into a key that exists: that would mix two keys' values.
    DWORD disposition = 0;
    if (!Succeeded(RegCreateKeyExA(newBase, newRel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   nullptr, target.put(), &disposition)))
      return false;
    if (disposition != REG_CREATED_NEW_KEY) return Succeeded(ERROR_ALREADY_EXISTS);
    const LONG rc = RegCopyTreeA(source.get(), nullptr, target.get());
    if (rc != ERROR_SUCCESS) {
      target.reset();
      DeleteKey(newName);  // the part copied so far
      return Succeeded(rc);
    }
  }
  // The copy stays when the old key cannot be removed: nothing is lost.
  return !deleteOld || DeleteKey(oldName);
}

bool TRegistry::ValueExists(const std::string& name) {
  HKEY k = Base();
  return RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& name) {
  HKEY k = Base();
  return RegDeleteValueA(k, name.c_str()) == ERROR_SUCCESS;
}

namespace {
// Names by index until enumerate(index, buffer, length) fails; capacity is
// the longest name of the kind plus its terminator.
template <class Enumerate>
std::vector<std::string> EnumNames(DWORD capacity, Enumerate enumerate) {
  std::vector<std::string> names;
  std::vector<char> name(capacity);
  for (DWORD i = 0;; ++i) {
    DWORD len = capacity;
    if (enumerate(i, name.data(), &len) != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), len);
  }
  return names;
}
}  // namespace

std::vector<std::string> TRegistry::GetValueNames() {
  HKEY k = Base();
  return EnumNames(16384, [k](DWORD i, char* name, DWORD* len) {
    return RegEnumValueA(k, i, name, len, nullptr, nullptr, nullptr, nullptr);
  });
}

std::vector<std::string> TRegistry::GetKeyNames() {
  HKEY k = Base();
  return EnumNames(256, [k](DWORD i, char* name, DWORD* len) {
    return RegEnumKeyExA(k, i, name, len, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TRegistry::Read(const std::string& name, DWORD& type, std::string& data) {
  HKEY k = Base();
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
  HKEY k = Base();
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
