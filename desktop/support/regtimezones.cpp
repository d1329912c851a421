#include "support/regtimezones.h"

#include <cstring>

#include "framework/registry.h"
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

// A registry object on the zones' root; writing needs no more than read and
// write access.
class TRegistryAccess : public TRegistry {
public:
  explicit TRegistryAccess(HKEY root) : TRegistry(KEY_READ | KEY_WRITE) { SetRootKey(root); }

  // Missing or non-string values read as empty.
  std::string ReadText(const std::string& name) {
    try {
      return ReadString(name);
    } catch (const ERegistryException&) {
      return std::string();
    }
  }
  bool ReadBinary(const std::string& name, std::string& out) {
    try {
      out = ReadBinaryData(name);
      return true;
    } catch (const ERegistryException&) {
      return false;
    }
  }
  // The zone names are read and written as UTF-16 so no character is lost to
  // the ANSI code page: at most 31 characters into a 32-character field.
  void ReadName(const char* name, char16_t (&out)[32]) const {
    std::memset(out, 0, sizeof out);
    wchar_t wname[64];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wname, 64);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(CurrentKey(), wname, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(CurrentKey(), wname, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
      return;
    for (size_t i = 0; i < 31 && i < value.size() && value[i]; ++i) out[i] = static_cast<char16_t>(value[i]);
  }
  // Gives the sub-key from of the key at path the spelling to, which differs
  // only in case: the registry keeps the spelling a key was made with and
  // takes to for the same key, so the key is copied aside, removed and copied
  // back. (The system's key rename is not used: Wine's server breaks on it.)
  bool RespellSubKey(const std::string& path, const std::string& from, const std::string& to) {
    const std::string old = path + "\\" + from;
    const std::string parked = path + "\\" + to + "~" + std::to_string(GetCurrentProcessId());
    if (!MoveKey(old, parked, false)) return false;
    const bool respelt = DeleteKey(old) && MoveKey(parked, path + "\\" + to, false);
    const DWORD error = GetLastError();
    if (!respelt && !KeyExists(old)) MoveKey(parked, old, false);
    DeleteKey(parked);
    SetLastError(error);
    return respelt;
  }
  bool WriteName(const char* name, const char16_t (&value)[32]) {
    wchar_t wname[64];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wname, 64);
    wchar_t text[33] = {};
    for (int i = 0; i < 32 && value[i]; ++i) text[i] = static_cast<wchar_t>(value[i]);
    return RegSetValueExW(CurrentKey(), wname, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
};

// Writers of the framework's registry raise; a zone's save reports false.
template <class Write>
bool written(Write write) {
  try {
    write();
    return true;
  } catch (const ERegistryException&) {
    return false;
  }
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

template <class T>
void TRegistryTimeZone::storeAndSave(T& field, const T& value) {
  T old = field;
  field = value;
  bool saved = false;
  try {
    saved = !FOwner || FOwner->saveZone(*this);
  } catch (...) {
    field = std::move(old);
    FSavedOk = false;
    throw;
  }
  if (saved) return;
  // Not written: the zone stays as it is in the registry.
  field = std::move(old);
  FSavedOk = false;
}

void TRegistryTimeZone::SetDisplayName(const std::string& value) {
  FSavedOk = true;
  if (value != FDisplayName) storeAndSave(FDisplayName, value);
}

void TRegistryTimeZone::SetKeyName(const std::string& value) {
  FSavedOk = true;
  if (value != FKeyName) storeAndSave(FKeyName, value);
}

void TRegistryTimeZone::SetZoneInfo(const TTimeZoneInfo& value) {
  FSavedOk = true;
  if (!sameTimeZoneInfo(value, FZoneInfo)) storeAndSave(FZoneInfo, value);
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
    if (SameKeyName(z->KeyName(), keyName)) return z.get();
  return nullptr;
}

void TRegistryTimeZones::clearZones() { FZones.clear(); }

void TRegistryTimeZones::loadAll() {
  clearZones();
  TRegistryAccess key(FRoot);
  if (!key.OpenKeyReadOnly(FKeyPath)) return;
  for (const std::string& name : key.GetKeyNames()) {
    if (!key.OpenKeyReadOnly(FKeyPath + "\\" + name)) continue;
    std::string tzi;
    TTimeZoneInfo info;
    if (!key.ReadBinary("TZI", tzi) || !readTziBytes(tzi, info)) continue;
    key.ReadName("Std", info.StandardName);
    key.ReadName("Dlt", info.DaylightName);
    auto zone = std::make_unique<TRegistryTimeZone>();
    zone->SetZoneInfo(info);
    zone->SetKeyName(name);
    zone->SetDisplayName(key.ReadText("Display"));
    zone->FLoadedKeyName = name;
    zone->FOwner = this;
    FZones.push_back(std::move(zone));
  }
}

bool TRegistryTimeZones::saveZone(TRegistryTimeZone& zone) {
  if (!WriteAccess) throw ERegistryTimeZones(kNoWriteAccess);
  // Key names compare as the registry compares them: names a locale takes as
  // equal (a sharp s and "ss", a soft hyphen and none) are two keys.
  if (zone.FKeyName == zone.FLoadedKeyName) return writeZone(zone);
  if (SameKeyName(zone.FKeyName, zone.FLoadedKeyName)) return respellZone(zone);
  // A new key name: one sub-key of the zones' key that no other zone holds.
  if (zone.FKeyName.empty() || zone.FKeyName.find('\\') != std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  for (const auto& other : FZones)
    if (other.get() != &zone && SameKeyName(other->FKeyName, zone.FKeyName)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return false;
    }
  // The sub-key moves, with the values the zone does not know of, and never
  // onto a key that exists. The old one goes once the zone is written under
  // the new one; until then a failure leaves the registry as it was.
  const std::string from = FKeyPath + "\\" + zone.FLoadedKeyName;
  const std::string to = FKeyPath + "\\" + zone.FKeyName;
  TRegistryAccess registry(FRoot);
  const bool moving = registry.KeyExists(from);
  if (!moving && registry.KeyExists(to)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  if (moving && !registry.MoveKey(from, to, false)) return false;
  if (!writeZone(zone)) {
    const DWORD error = GetLastError();
    registry.DeleteKey(to);
    SetLastError(error);
    return false;
  }
  if (moving) registry.DeleteKey(from);
  return true;
}

bool TRegistryTimeZones::respellZone(TRegistryTimeZone& zone) {
  const std::string loaded = zone.FLoadedKeyName;
  if (!writeZone(zone)) return false;
  TRegistryAccess registry(FRoot);
  if (registry.RespellSubKey(FKeyPath, loaded, zone.FKeyName)) return true;
  zone.FLoadedKeyName = loaded;
  return false;
}

bool TRegistryTimeZones::writeZone(TRegistryTimeZone& zone) {
  if (!WriteAccess) throw ERegistryTimeZones(kNoWriteAccess);
  TRegistryAccess key(FRoot);
  if (!key.OpenKey(FKeyPath + "\\" + zone.FKeyName, true)) return false;
  bool ok = written([&] { key.WriteString("Display", zone.FDisplayName); });
  ok = key.WriteName("Std", zone.FZoneInfo.StandardName) && ok;
  ok = key.WriteName("Dlt", zone.FZoneInfo.DaylightName) && ok;
  ok = written([&] { key.WriteBinaryData("TZI", tziBytesOf(zone.FZoneInfo)); }) && ok;
  // The zone belongs to the key it was written to.
  if (ok) zone.FLoadedKeyName = zone.FKeyName;
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
