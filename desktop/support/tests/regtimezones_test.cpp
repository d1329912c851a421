#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/win32_owners.h"
#include "support/localetext.h"
#include "support/regtimezones.h"

namespace om {
namespace {

SYSTEMTIME toSystemTime(TDateTime t) {
  TDateTimeParts p = DecodeDateTime(t);
  SYSTEMTIME s = {};
  s.wYear = static_cast<WORD>(p.year);
  s.wMonth = static_cast<WORD>(p.month);
  s.wDayOfWeek = static_cast<WORD>(p.dayOfWeek - 1);
  s.wDay = static_cast<WORD>(p.day);
  s.wHour = static_cast<WORD>(p.hour);
  s.wMinute = static_cast<WORD>(p.minute);
  s.wSecond = static_cast<WORD>(p.second);
  s.wMilliseconds = static_cast<WORD>(p.msec);
  return s;
}

TDateTime fromSystemTime(const SYSTEMTIME& s) {
  return EncodeDateTime(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
}

// Wine's own conversion of the same instant with the same record.
int64_t systemLocalMillis(const TIME_ZONE_INFORMATION* tzi, TDateTime utc) {
  SYSTEMTIME u = toSystemTime(utc), l;
  if (!SystemTimeToTzSpecificLocalTime(tzi, &u, &l)) return INT64_MIN;
  return dateTimeToUnixMillis(fromSystemTime(l));
}

std::string keyName(const TRegistryTimeZone& z) { return z.KeyName(); }

TEST(RegistryTimeZones, LoadsTheSystemZones) {
  TRegistryTimeZones zones;
  ASSERT_GT(zones.Count(), 50u);
  EXPECT_EQ("\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones", TRegistryTimeZones::SystemKeyPath());
  TRegistryTimeZone* berlin = zones.FindByKeyName("w. europe standard time");
  ASSERT_NE(nullptr, berlin);
  EXPECT_EQ("W. Europe Standard Time", berlin->KeyName());
  EXPECT_EQ(berlin->KeyName(), berlin->LoadedKeyName());
  EXPECT_EQ(&zones, berlin->Owner());
  EXPECT_TRUE(berlin->SavedOk());
  EXPECT_FALSE(berlin->DisplayName().empty());
  EXPECT_EQ(-60, berlin->ZoneInfo().Bias);
  EXPECT_EQ(-60, berlin->ZoneInfo().DaylightBias);
  EXPECT_EQ(3, berlin->ZoneInfo().DaylightDate.wMonth);
  EXPECT_EQ(10, berlin->ZoneInfo().StandardDate.wMonth);
  EXPECT_NE(0, berlin->ZoneInfo().StandardName[0]);
  for (size_t i = 0; i < zones.Count(); ++i) {
    const TTimeZoneInfo& z = zones.Items(i).ZoneInfo();
    EXPECT_EQ(0, z.StandardName[31]);
    EXPECT_EQ(0, z.DaylightName[31]);
  }
}

// Every zone of the registry converts as the system converts with the same
// record: on a half-hour grid over 2024 and a millisecond before each point,
// and at random instants of other years.
TEST(RegistryTimeZones, EveryZoneConvertsAsTheSystemDoes) {
  TRegistryTimeZones zones;
  std::mt19937 rng(9);
  int compared = 0;
  for (size_t i = 0; i < zones.Count(); ++i) {
    const TRegistryTimeZone& zone = zones.Items(i);
    const TIME_ZONE_INFORMATION tzi = toSystemZoneInfo(zone.ZoneInfo());
    const bool hasRules = tzi.StandardDate.wMonth && tzi.DaylightDate.wMonth;
    int mismatches = 0;
    auto check = [&](TDateTime t) {
      const int64_t want = systemLocalMillis(&tzi, t);
      const int64_t got = dateTimeToUnixMillis(utcToLocalWithZone(zone.ZoneInfo(), t));
      ++compared;
      if (want != got && ++mismatches <= 3)
        ADD_FAILURE() << keyName(zone) << " at " << dateTimeToUnixMillis(t) << ": system " << want << ", ours " << got;
    };
    if (hasRules) {
      const TDateTime start = EncodeDate(2024, 1, 1);
      for (int step = 0; step < 366 * 48; ++step) {
        const TDateTime t = unixMillisToDateTime(dateTimeToUnixMillis(start) + step * 1800000LL);
        check(t);
        check(unixMillisToDateTime(dateTimeToUnixMillis(t) - 1));
      }
    }
    for (int k = 0; k < 200; ++k) check(EncodeDate(2000, 1, 1) + (rng() % (40u * 365 * 86400)) / 86400.0);
  }
  EXPECT_GT(compared, 100000);
  std::printf("%d instants compared in %zu zones\n", compared, zones.Count());
}

TEST(RegistryTimeZones, UtcToLocalFollowsTheCurrentZone) {
  std::mt19937 rng(4);
  for (int k = 0; k < 500; ++k) {
    const TDateTime t = EncodeDate(2000, 1, 1) + (rng() % (40u * 365 * 86400)) / 86400.0;
    EXPECT_EQ(systemLocalMillis(nullptr, t), dateTimeToUnixMillis(utcToLocal(t)));
  }
}

// A scratch copy of zones below the user's key, removed afterwards.
class ScratchZones : public ::testing::Test {
protected:
  void SetUp() override {
    path = "\\Software\\OmTest\\TimeZones" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, path.substr(1).c_str());
    TRegistryTimeZones system;
    TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
    EXPECT_EQ(0u, scratch.Count());
    scratch.WriteAccess = true;
    for (const char* name : {"W. Europe Standard Time", "Tokyo Standard Time", "AUS Eastern Standard Time"}) {
      const TRegistryTimeZone* from = system.FindByKeyName(name);
      ASSERT_NE(nullptr, from) << name;
      TRegistryTimeZone copy;
      copy.SetZoneInfo(from->ZoneInfo());
      copy.SetKeyName(from->KeyName());
      copy.SetDisplayName(from->DisplayName());
      ASSERT_TRUE(scratch.writeZone(copy));
      EXPECT_EQ(copy.KeyName(), copy.LoadedKeyName());
    }
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, path.substr(1).c_str()); }

  std::string value(const std::string& zone, const char* name) {
    char buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueA(HKEY_CURRENT_USER, (path.substr(1) + "\\" + zone).c_str(), name, RRF_RT_ANY, nullptr, buffer,
                     &size) != ERROR_SUCCESS)
      return "<missing>";
    return std::string(buffer, size);
  }
  bool keyExists(const std::string& zone) {
    UniqueHkey key;
    return RegOpenKeyExA(HKEY_CURRENT_USER, (path.substr(1) + "\\" + zone).c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
  }

  std::string path;
};

TEST_F(ScratchZones, WrittenZonesReadBackTheSame) {
  TRegistryTimeZones system;
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  ASSERT_EQ(3u, scratch.Count());
  for (size_t i = 0; i < scratch.Count(); ++i) {
    const TRegistryTimeZone& z = scratch.Items(i);
    const TRegistryTimeZone* original = system.FindByKeyName(z.KeyName());
    ASSERT_NE(nullptr, original);
    EXPECT_TRUE(sameTimeZoneInfo(original->ZoneInfo(), z.ZoneInfo())) << z.KeyName();
    EXPECT_EQ(original->DisplayName(), z.DisplayName());
    EXPECT_EQ(44u, value(z.KeyName(), "TZI").size());
  }
}

TEST_F(ScratchZones, ZonesWhoseTziIsNot44BytesAreSkipped) {
  UniqueHkey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (path.substr(1) + "\\Short Zone").c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, key.put(), nullptr));
  const std::string bytes(40, '\0');
  RegSetValueExA(key.get(), "TZI", 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()), 40);
  RegSetValueExA(key.get(), "Display", 0, REG_SZ, reinterpret_cast<const BYTE*>("Short"), 6);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (path.substr(1) + "\\No Zone").c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, key.put(), nullptr));
  key.reset();
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  EXPECT_EQ(3u, scratch.Count());
  EXPECT_EQ(nullptr, scratch.FindByKeyName("Short Zone"));
  EXPECT_EQ(nullptr, scratch.FindByKeyName("No Zone"));
  // A missing key leaves the list empty.
  TRegistryTimeZones none(HKEY_CURRENT_USER, path + "\\Nowhere");
  EXPECT_EQ(0u, none.Count());
}

TEST_F(ScratchZones, ChangesNeedWriteAccess) {
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  TRegistryTimeZone* zone = scratch.FindByKeyName("Tokyo Standard Time");
  ASSERT_NE(nullptr, zone);
  const std::string before = value("Tokyo Standard Time", "Display");
  const std::string name = zone->DisplayName();
  try {
    zone->SetDisplayName("Changed without access");
    FAIL() << "no exception";
  } catch (const ERegistryTimeZones& e) {
    EXPECT_STREQ("TRegistryTimeZones: WriteAccess not set.", e.what());
  }
  EXPECT_FALSE(zone->SavedOk());
  EXPECT_EQ(name, zone->DisplayName());  // the refused change is not kept
  EXPECT_EQ(before, value("Tokyo Standard Time", "Display"));
  EXPECT_THROW(zone->SetKeyName("Moved without access"), ERegistryTimeZones);
  EXPECT_EQ("Tokyo Standard Time", zone->KeyName());
  TTimeZoneInfo info = zone->ZoneInfo();
  info.Bias += 60;
  EXPECT_THROW(zone->SetZoneInfo(info), ERegistryTimeZones);
  EXPECT_FALSE(sameTimeZoneInfo(info, zone->ZoneInfo()));
  EXPECT_THROW(scratch.writeZone(*zone), ERegistryTimeZones);
}

TEST_F(ScratchZones, SettersWriteChangesBack) {
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  scratch.WriteAccess = true;
  TRegistryTimeZone* zone = scratch.FindByKeyName("Tokyo Standard Time");
  ASSERT_NE(nullptr, zone);
  zone->SetDisplayName("(UTC+09:00) Somewhere else");
  EXPECT_TRUE(zone->SavedOk());
  EXPECT_EQ(std::string("(UTC+09:00) Somewhere else\0", 27), value("Tokyo Standard Time", "Display"));

  TTimeZoneInfo info = zone->ZoneInfo();
  info.Bias = -570;
  info.DaylightName[0] = u'Q';
  zone->SetZoneInfo(info);
  EXPECT_TRUE(zone->SavedOk());
  TRegistryTimeZones again(HKEY_CURRENT_USER, path);
  ASSERT_NE(nullptr, again.FindByKeyName("Tokyo Standard Time"));
  EXPECT_TRUE(sameTimeZoneInfo(info, again.FindByKeyName("Tokyo Standard Time")->ZoneInfo()));

  // Setting the same value writes nothing.
  RegDeleteTreeA(HKEY_CURRENT_USER, (path.substr(1) + "\\Tokyo Standard Time").c_str());
  zone->SetDisplayName("(UTC+09:00) Somewhere else");
  zone->SetZoneInfo(info);
  EXPECT_FALSE(keyExists("Tokyo Standard Time"));
}

TEST_F(ScratchZones, NewKeyNameMovesTheSubKey) {
  // A value the zone object does not know must move along.
  UniqueHkey key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (path.substr(1) + "\\W. Europe Standard Time").c_str(), 0,
                                         KEY_WRITE, key.put()));
  RegSetValueExA(key.get(), "MUI_Std", 0, REG_SZ, reinterpret_cast<const BYTE*>("@tzres.dll,-321"), 16);
  key.reset();
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  scratch.WriteAccess = true;
  TRegistryTimeZone* zone = scratch.FindByKeyName("W. Europe Standard Time");
  ASSERT_NE(nullptr, zone);
  const std::string tzi = value("W. Europe Standard Time", "TZI");
  zone->SetKeyName("OmTest Moved Zone");
  EXPECT_TRUE(zone->SavedOk());
  EXPECT_EQ("OmTest Moved Zone", zone->LoadedKeyName());
  EXPECT_FALSE(keyExists("W. Europe Standard Time"));
  EXPECT_EQ(tzi, value("OmTest Moved Zone", "TZI"));
  EXPECT_EQ(std::string("@tzres.dll,-321\0", 16), value("OmTest Moved Zone", "MUI_Std"));
  // Only the case differs: the key stays where it is and takes the new spelling.
  zone->SetKeyName("omtest moved zone");
  EXPECT_TRUE(zone->SavedOk());
  EXPECT_EQ("omtest moved zone", zone->LoadedKeyName());
  EXPECT_EQ(std::string("@tzres.dll,-321\0", 16), value("omtest moved zone", "MUI_Std"));
  TRegistryTimeZones respelt(HKEY_CURRENT_USER, path);
  ASSERT_NE(nullptr, respelt.FindByKeyName("OMTEST MOVED ZONE"));
  EXPECT_EQ("omtest moved zone", respelt.FindByKeyName("OMTEST MOVED ZONE")->KeyName());
  // Never onto another zone's key: nothing changes.
  const std::string tokyo = value("Tokyo Standard Time", "TZI");
  zone->SetKeyName("Tokyo Standard Time");
  EXPECT_FALSE(zone->SavedOk());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ("omtest moved zone", zone->KeyName());
  EXPECT_EQ(tokyo, value("Tokyo Standard Time", "TZI"));
  EXPECT_TRUE(keyExists("OmTest Moved Zone"));
  TRegistryTimeZones again(HKEY_CURRENT_USER, path);
  EXPECT_EQ(3u, again.Count());
}

// Names a locale takes as equal are two keys: a zone moves onto neither.
TEST_F(ScratchZones, NamesEqualOnlyInTheLocaleAreTwoKeys) {
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  scratch.WriteAccess = true;
  TRegistryTimeZone* tokyo = scratch.FindByKeyName("Tokyo Standard Time");
  TRegistryTimeZone* sydney = scratch.FindByKeyName("AUS Eastern Standard Time");
  ASSERT_TRUE(tokyo && sydney);
  tokyo->SetKeyName("Strasse");
  sydney->SetKeyName("Stra\xDF" "e");
  ASSERT_TRUE(tokyo->SavedOk() && sydney->SavedOk());
  const std::string sydneyTzi = value("Stra\xDF" "e", "TZI");
  tokyo->SetKeyName("Stra\xDF" "e");
  EXPECT_FALSE(tokyo->SavedOk());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ(sydneyTzi, value("Stra\xDF" "e", "TZI"));
  EXPECT_TRUE(keyExists("Strasse"));
}

TEST_F(ScratchZones, FailedWriteIsReported) {
  TRegistryTimeZones scratch(HKEY_CURRENT_USER, path);
  scratch.WriteAccess = true;
  TRegistryTimeZone* zone = scratch.FindByKeyName("AUS Eastern Standard Time");
  ASSERT_NE(nullptr, zone);
  zone->SetKeyName(std::string(300, 'k'));  // longer than a key name may be
  EXPECT_FALSE(zone->SavedOk());
  // Nothing changed: the zone still belongs to its key, which is where it was.
  EXPECT_EQ("AUS Eastern Standard Time", zone->KeyName());
  EXPECT_EQ("AUS Eastern Standard Time", zone->LoadedKeyName());
  EXPECT_TRUE(keyExists("AUS Eastern Standard Time"));
  zone->SetDisplayName(zone->DisplayName());  // unchanged: nothing to save
  EXPECT_TRUE(zone->SavedOk());
  zone->SetDisplayName("(UTC+10:00) Still saved");  // later changes still reach the key
  EXPECT_TRUE(zone->SavedOk());
  EXPECT_EQ(std::string("(UTC+10:00) Still saved\0", 24), value("AUS Eastern Standard Time", "Display"));
  // A zone written under a key that cannot be made keeps its loaded key name.
  TRegistryTimeZone loose;
  loose.SetKeyName(std::string(300, 'n'));
  EXPECT_FALSE(scratch.writeZone(loose));
  EXPECT_EQ("", loose.LoadedKeyName());
  TRegistryTimeZones again(HKEY_CURRENT_USER, path);
  EXPECT_EQ(3u, again.Count());
}

TEST(RegistryTimeZonesUnit, MadeAtStartUpFreedAtShutDown) {
  EXPECT_EQ(nullptr, RegistryTimeZones());
  InitializeRegistryTimeZonesUnit();
  ASSERT_NE(nullptr, RegistryTimeZones());
  EXPECT_GT(RegistryTimeZones()->Count(), 50u);
  FinalizeRegistryTimeZonesUnit();
  EXPECT_EQ(nullptr, RegistryTimeZones());
}

}  // namespace
}  // namespace om
