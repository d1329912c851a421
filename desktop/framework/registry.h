// Registry access: one open key at a time below a root key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/object.h"
#include "platform/win32_owners.h"

namespace om {

// Whether two key names name the same key: the registry's own comparison,
// ordinal and case-insensitive, of the names in UTF-16.
bool SameKeyName(const std::string& a, const std::string& b);

class TRegistry : public TObject {
public:
  explicit TRegistry(REGSAM access = KEY_ALL_ACCESS);
  ~TRegistry() override;

  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY key);
  HKEY CurrentKey() const { return FCurrentKey.get(); }
  const std::string& CurrentPath() const { return FCurrentPath; }
  REGSAM Access = KEY_ALL_ACCESS;

  // A key starting with "\" is taken from the root, otherwise from the
  // current key. False when it does not exist (and may not be created).
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool KeyExists(const std::string& key);
  bool DeleteKey(const std::string& key);
  // Copies the values and sub-keys of oldName into newName, which must not
  // exist yet, and, with deleteOld, removes oldName. False, with the reason as
  // the last error, when oldName cannot be opened, newName exists
  // (ERROR_ALREADY_EXISTS), lies below oldName (ERROR_INVALID_PARAMETER; judged
  // as the registry names keys: empty path elements skipped, case folded as
  // SameKeyName folds it) or a step fails; a failed copy leaves neither key changed, and when oldName
  // cannot be removed the copy stays.
  bool MoveKey(const std::string& oldName, const std::string& newName, bool deleteOld);
  bool ValueExists(const std::string& name);
  bool DeleteValue(const std::string& name);
  std::vector<std::string> GetValueNames();
  std::vector<std::string> GetKeyNames();

  // Readers raise ERegistryException when the value is missing or of another type.
  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }
  std::string ReadBinaryData(const std::string& name);
  // Writers raise ERegistryException when the value cannot be written.
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
  void WriteBinaryData(const std::string& name, const std::string& bytes);

private:
  HKEY BaseFor(const std::string& key, std::string& relative) const;
  // The key's path from the root.
  std::string PathOf(const std::string& key) const;
  void Write(const std::string& name, DWORD type, const void* data, DWORD size);
  bool Read(const std::string& name, DWORD& type, std::string& data);

  // The key relative names start from: the current key, else the root.
  HKEY Base() const { return FCurrentKey ? FCurrentKey.get() : FRootKey; }

  HKEY FRootKey = HKEY_CURRENT_USER;
  UniqueHkey FCurrentKey;
  std::string FCurrentPath;
};

}  // namespace om
