#include "support/regtimezones.h"

#include <algorithm>
#include <cstring>

#include "support/localetext.h"
#include "support/unitversions.h"

namespace om {

static_assert(sizeof(TIME_ZONE_INFORMATION) == sizeof(TTimeZoneInfo), "zone record layout");

namespace {

const TUnitVersionInfo kTimeZonesVersion = {"$URL: desktop/support/regtimezones.cpp $", "$Revision: 1 $",
                                            "$Date: 2026-12-09 $", "desktop/support", "", ""};
TLibraryUnit gTimeZonesUnit(&kTimeZonesVersion);
TRegistryTimeZones* gRegistryTimeZones = nullptr;

constexpr char kNoWriteAccess[] = "TRegistryTimeZones: WriteAccess not set.";
constexpr char kNtZones[] = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones";
constexpr char kZones[] = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Time Zones";

std::string relative(const std::string& path) {
  size_t i = 0;
  while (i < path.size() && path[i] == '\\') ++i;
  return path.substr(i);
}

// One open key; closed on destruction.
class TRegistryAccess {
public:
  ~TRegistryAccess() { CloseKey(); }
  bool OpenKeyReadOnly(HKEY root, const std::string& path) {
    CloseKey();
    return RegOpenKeyExA(root, relative(path).c_str(), 0, KEY_READ, &FKey) == ERROR_SUCCESS;
  }
  bool OpenKey(HKEY root, const std::string& path, bool canCreate) {
    CloseKey();
    if (canCreate)
      return RegCreateKeyExA(root, relative(path).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &FKey,
                             nullptr) == ERROR_SUCCESS;
    return RegOpenKeyExA(root, relative(path).c_str(), 0, KEY_READ | KEY_WRITE, &FKey) == ERROR_SUCCESS;
  }
  void CloseKey() {
    if (FKey) RegCloseKey(FKey);
    FKey = nullptr;
  }
  std::vector<std::string> GetKeyNames() const {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      LONG rc = RegEnumKeyExA(FKey, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) names.emplace_back(name, size);
      else if (rc != ERROR_MORE_DATA) break;
    }
    return names;
  }
  // Missing or non-string values read as empty.
  std::string ReadString(const char* name) const {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(FKey, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return std::string();
    std::string value(size, '\0');
    if (RegQueryValueExA(FKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS)
      return std::string();
    value.resize(std::min<size_t>(size, value.size()));
    size_t zero = value.find('\0');
    if (zero != std::string::npos) value.resize(zero);
    return value;
  }
  // At most 31 characters of a string value into a 32-character name field.
  void ReadName(const char* name, char16_t (&out)[32]) const {
    std::memset(out, 0, sizeof out);
    wchar_t wname[64];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wname, 64);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(FKey, wname, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(FKey, wname, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
      return;
    for (size_t i = 0; i < 31 && i < value.size() && value[i]; ++i) out[i] = static_cast<char16_t>(value[i]);
  }
  bool ReadBinary(const char* name, std::string& out) const {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(FKey, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    out.assign(size, '\0');
    if (size && RegQueryValueExA(FKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&out[0]), &size) != ERROR_SUCCESS)
      return false;
    out.resize(size);
    return true;
  }
  bool WriteString(const char* name, const std::string& value) {
    return RegSetValueExA(FKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }
  bool WriteName(const char* name, const char16_t (&value)[32]) {
    wchar_t wname[64];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wname, 64);
    wchar_t text[33] = {};
    for (int i = 0; i < 32 && value[i]; ++i) text[i] = static_cast<wchar_t>(value[i]);
    return RegSetValueExW(FKey, wname, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool WriteBinary(const char* name, const std::string& bytes) {
    return RegSetValueExA(FKey, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
  }

private:
  HKEY FKey = nullptr;
};

// Copies the sub-key tree from one path to another and removes the old one.
bool moveKey(HKEY root, const std::string& from, const std::string& to) {
  HKEY source = nullptr, target = nullptr;
  if (RegOpenKeyExA(root, relative(from).c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS) return false;
  bool ok = RegCreateKeyExA(root, relative(to).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) ==
                ERROR_SUCCESS &&
            RegCopyTreeA(source, nullptr, target) == ERROR_SUCCESS;
  if (target) RegCloseKey(target);
  RegCloseKey(source);
  if (ok) ok = RegDeleteTreeA(root, relative(from).c_str()) == ERROR_SUCCESS;
  return ok;
}

bool sameTextInLocale(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

TTimeZoneInfo toZoneInfo(const TIME_ZONE_INFORMATION& tzi) {
  TTimeZoneInfo zone;
  std::memcpy(static_cast<void*>(&zone), &tzi, sizeof zone);
  return zone;
}

TIME_ZONE_INFORMATION toSystemZoneInfo(const TTimeZoneInfo& zone) {
  TIME_ZONE_INFORMATION tzi;
  std::memcpy(&tzi, &zone, sizeof tzi);
  return tzi;
}

TDateTime utcToLocal(TDateTime t) {
  TIME_ZONE_INFORMATION tzi = {};
  GetTimeZoneInformation(&tzi);
  return utcToLocalWithZone(toZoneInfo(tzi), t);
}

// --- TRegistryTimeZone ---

void TRegistryTimeZone::saveThroughOwner() {
  if (!FOwner) return;
  try {
    if (!FOwner->saveZone(*this)) FSavedOk = false;
  } catch (...) {
    FSavedOk = false;
    throw;
  }
}

void TRegistryTimeZone::SetDisplayName(const std::string& value) {
  FSavedOk = true;
  if (value == FDisplayName) return;
  FDisplayName = value;
  saveThroughOwner();
}

void TRegistryTimeZone::SetKeyName(const std::string& value) {
  FSavedOk = true;
  if (value == FKeyName) return;
  FKeyName = value;
  saveThroughOwner();
}

void TRegistryTimeZone::SetZoneInfo(const TTimeZoneInfo& value) {
  FSavedOk = true;
  if (sameTimeZoneInfo(value, FZoneInfo)) return;
  FZoneInfo = value;
  saveThroughOwner();
}

// --- TRegistryTimeZones ---

std::string TRegistryTimeZones::SystemKeyPath() { return IsWinNTPlatform() ? kNtZones : kZones; }

TRegistryTimeZones::TRegistryTimeZones() : TRegistryTimeZones(HKEY_LOCAL_MACHINE, SystemKeyPath()) {}

TRegistryTimeZones::TRegistryTimeZones(HKEY root, const std::string& keyPath) : FRoot(root), FKeyPath(keyPath) {
  loadAll();
}

TRegistryTimeZones::~TRegistryTimeZones() { clearZones(); }

TRegistryTimeZone* TRegistryTimeZones::FindByKeyName(const std::string& keyName) const {
  for (const auto& z : FZones)
    if (sameTextInLocale(z->KeyName(), keyName)) return z.get();
  return nullptr;
}

void TRegistryTimeZones::clearZones() { FZones.clear(); }

void TRegistryTimeZones::loadAll() {
  clearZones();
  TRegistryAccess list;
  if (!list.OpenKeyReadOnly(FRoot, FKeyPath)) return;
  for (const std::string& name : list.GetKeyNames()) {
    TRegistryAccess key;
    if (!key.OpenKeyReadOnly(FRoot, FKeyPath + "\\" + name)) continue;
    std::string tzi;
    TTimeZoneInfo info;
    if (!key.ReadBinary("TZI", tzi) || !readTziBytes(tzi, info)) continue;
    key.ReadName("Std", info.StandardName);
    key.ReadName("Dlt", info.DaylightName);
    auto zone = std::make_unique<TRegistryTimeZone>();
    zone->SetZoneInfo(info);
    zone->SetKeyName(name);
    zone->SetDisplayName(key.ReadString("Display"));
    zone->FLoadedKeyName = name;
    zone->FOwner = this;
    FZones.push_back(std::move(zone));
  }
}

bool TRegistryTimeZones::saveZone(TRegistryTimeZone& zone) {
  if (!WriteAccess) throw ERegistryTimeZones(kNoWriteAccess);
  if (!sameTextInLocale(zone.FKeyName, zone.FLoadedKeyName)) {
    moveKey(FRoot, FKeyPath + "\\" + zone.FLoadedKeyName, FKeyPath + "\\" + zone.FKeyName);
    zone.FLoadedKeyName = zone.FKeyName;
  }
  return writeZone(zone);
}

bool TRegistryTimeZones::writeZone(TRegistryTimeZone& zone) {
  if (!WriteAccess) throw ERegistryTimeZones(kNoWriteAccess);
  zone.FLoadedKeyName = zone.FKeyName;
  TRegistryAccess key;
  if (!key.OpenKey(FRoot, FKeyPath + "\\" + zone.FKeyName, true)) return false;
  bool ok = key.WriteString("Display", zone.FDisplayName);
  ok = key.WriteName("Std", zone.FZoneInfo.StandardName) && ok;
  ok = key.WriteName("Dlt", zone.FZoneInfo.DaylightName) && ok;
  ok = key.WriteBinary("TZI", tziBytesOf(zone.FZoneInfo)) && ok;
  return ok;
}

TRegistryTimeZones* RegistryTimeZones() { return gRegistryTimeZones; }

void InitializeRegistryTimeZonesUnit() {
  if (!gTimeZonesUnit.StartUp()) return;
  gRegistryTimeZones = new TRegistryTimeZones;
}

void FinalizeRegistryTimeZonesUnit() {
  if (!gTimeZonesUnit.ShutDown()) return;
  delete gRegistryTimeZones;
  gRegistryTimeZones = nullptr;
}

}  // namespace om
