// Front end of the date rules for the comparison with Python's zoneinfo.
//   om_datetool convert   lines "Bias StdBias DltBias s0..s7 d0..d7 utcMillis"
//                         on stdin; prints the local time of each as
//                         milliseconds since 1970-01-01 (local wall clock).
//   om_datetool zones K1 K2 ...  (Windows) prints "K|Bias StdBias DltBias s0..s7
//                         d0..d7" of each zone of the registry's Time Zones key.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "support/dates.h"
#ifdef _WIN32
#include "support/regtimezones.h"
#endif

namespace {

void readRule(std::istream& in, om::TSystemTime& s) {
  unsigned v[8];
  for (unsigned& x : v) in >> x;
  s.wYear = v[0]; s.wMonth = v[1]; s.wDayOfWeek = v[2]; s.wDay = v[3];
  s.wHour = v[4]; s.wMinute = v[5]; s.wSecond = v[6]; s.wMilliseconds = v[7];
}

[[maybe_unused]] void printRule(const om::TSystemTime& s) {
  std::printf(" %u %u %u %u %u %u %u %u", s.wYear, s.wMonth, s.wDayOfWeek, s.wDay, s.wHour, s.wMinute, s.wSecond,
              s.wMilliseconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.empty()) continue;
      std::istringstream in(line);
      om::TTimeZoneInfo zone;
      long long millis = 0;
      in >> zone.Bias >> zone.StandardBias >> zone.DaylightBias;
      readRule(in, zone.StandardDate);
      readRule(in, zone.DaylightDate);
      in >> millis;
      if (!in) {
        std::printf("error\n");
        continue;
      }
      om::TDateTime local = om::utcToLocalWithZone(zone, om::unixMillisToDateTime(millis));
      std::printf("%lld\n", static_cast<long long>(om::dateTimeToUnixMillis(local)));
    }
    return 0;
  }
#ifdef _WIN32
  if (argc >= 2 && std::strcmp(argv[1], "zones") == 0) {
    om::TRegistryTimeZones zones;
    for (int i = 2; i < argc; ++i) {
      om::TRegistryTimeZone* z = zones.FindByKeyName(argv[i]);
      if (!z) continue;
      const om::TTimeZoneInfo& info = z->ZoneInfo();
      std::printf("%s|%d %d %d", argv[i], info.Bias, info.StandardBias, info.DaylightBias);
      printRule(info.StandardDate);
      printRule(info.DaylightDate);
      std::printf("\n");
    }
    return 0;
  }
#endif
  std::fprintf(stderr, "usage: om_datetool convert | zones KEY...\n");
  return 2;
}
