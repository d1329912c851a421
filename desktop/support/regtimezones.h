// Time zones kept in the registry's Time Zones key, read into objects and
// written back through them; UTC to local time by the system's current zone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "platform/win32.h"
#include "support/dates.h"

namespace om {

class TRegistryTimeZones;

class TRegistryTimeZone : public TObject {
public:
  TRegistryTimeZone() = default;

  const std::string& DisplayName() const { return FDisplayName; }
  const std::string& KeyName() const { return FKeyName; }
  const TTimeZoneInfo& ZoneInfo() const { return FZoneInfo; }
  const std::string& LoadedKeyName() const { return FLoadedKeyName; }
  // False when writing the last change back failed.
  bool SavedOk() const { return FSavedOk; }
  TRegistryTimeZones* Owner() const { return FOwner; }

  // Each setter writes a change back through the owner (when there is one);
  // without the owner's WriteAccess it raises ERegistryTimeZones. A change
  // that is refused or cannot be written is not kept (SavedOk false).
  void SetDisplayName(const std::string& value);
  void SetKeyName(const std::string& value);
  void SetZoneInfo(const TTimeZoneInfo& value);

private:
  friend class TRegistryTimeZones;
  template <class T>
  void storeAndSave(T& field, const T& value);

  std::string FDisplayName;
  std::string FKeyName;
  bool FSavedOk = true;
  TRegistryTimeZones* FOwner = nullptr;
  std::string FLoadedKeyName;
  TTimeZoneInfo FZoneInfo;
};

class ERegistryTimeZones : public Exception {
public:
  using Exception::Exception;
};

class TRegistryTimeZones : public TObject {
public:
  // The zones of the system's Time Zones key, loaded at once.
  TRegistryTimeZones();
  // The zones below another key (path from the root, "\" first), loaded at once.
  TRegistryTimeZones(HKEY root, const std::string& keyPath);
  ~TRegistryTimeZones() override;

  // The system's Time Zones key for this platform.
  static std::string SystemKeyPath();

  bool WriteAccess = false;

  size_t Count() const { return FZones.size(); }
  TRegistryTimeZone& Items(size_t i) const { return *FZones[i]; }
  // First zone with that key name as the registry compares key names
  // (ordinal, case-insensitive), nullptr when none.
  TRegistryTimeZone* FindByKeyName(const std::string& keyName) const;

  void loadAll();
  void clearZones();
  // Moves the zone's sub-key when its key name changed, then writes it; false
  // (and the registry as it was) when the move or the write fails. Key names
  // compare as the registry compares them, so a zone never moves onto another
  // zone's key, and a change of case only respells its own.
  bool saveZone(TRegistryTimeZone& zone);
  // Writes the zone under its key name; the loaded key name follows only when
  // the zone was written.
  bool writeZone(TRegistryTimeZone& zone);

private:
  // A new key name that differs only in case: the zone is written, then its
  // key takes the new spelling.
  bool respellZone(TRegistryTimeZone& zone);

  HKEY FRoot;
  std::string FKeyPath;
  std::vector<std::unique_ptr<TRegistryTimeZone>> FZones;
};

// TIME_ZONE_INFORMATION and the portable record share their layout.
TTimeZoneInfo toZoneInfo(const TIME_ZONE_INFORMATION& tzi);
TIME_ZONE_INFORMATION toSystemZoneInfo(const TTimeZoneInfo& zone);

// UTC to local time by the zone GetTimeZoneInformation reports.
TDateTime utcToLocal(TDateTime t);

// The process-wide zone list made by the unit's start-up (nullptr before).
TRegistryTimeZones* RegistryTimeZones();
void InitializeRegistryTimeZonesUnit();
void FinalizeRegistryTimeZonesUnit();

}  // namespace om
