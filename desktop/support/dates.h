// Date routines of the desktop support library: calendar helpers, the
// floating-point date-time of the desktop programs, and conversion of UTC into
// local time by the rules of a Windows time-zone record. Portable: no
// windows.h; the records below have the layout of SYSTEMTIME and
// TIME_ZONE_INFORMATION so the Windows side can copy them as they are.
#pragma once

#include <cstdint>
#include <string>

#include "framework/exceptions.h"

namespace om {

// Whole days since 1899-12-30; the fraction is the time of day. Before that
// date the integer part counts back while the fraction still adds the time.
using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
// 1970-01-01 as a date-time.
constexpr double kUnixDateDelta = 25569.0;

// FILETIME: 100 ns ticks since 1601-01-01, which is date-time day -109205.
constexpr int64_t kFileTimeTicksPerDay = 864000000000;
constexpr int64_t kFileTimeDaysBeforeDateTime = 109205;
// 1970-01-01 in FILETIME ticks.
constexpr int64_t kUnixEpochFileTime = (kFileTimeDaysBeforeDateTime + int64_t(kUnixDateDelta)) * kFileTimeTicksPerDay;
static_assert(kUnixEpochFileTime == 116444736000000000, "1970-01-01 as a FILETIME");

inline TDateTime fileTimeToDateTime(uint64_t ticks) {
  return static_cast<double>(ticks) / static_cast<double>(kFileTimeTicksPerDay) - kFileTimeDaysBeforeDateTime;
}
// To the nearest tick; the days before 1899-12-30 count as the whole days
// below the value plus the fraction above them.
inline int64_t dateTimeToFileTime(TDateTime t) {
  double whole = static_cast<double>(static_cast<int64_t>(t));
  if (t < 0 && whole != t) whole -= 1;
  const double ticks = (t - whole) * static_cast<double>(kFileTimeTicksPerDay) + 0.5;
  return (static_cast<int64_t>(whole) + kFileTimeDaysBeforeDateTime) * kFileTimeTicksPerDay + static_cast<int64_t>(ticks);
}

struct TSystemTime {
  uint16_t wYear = 0;
  uint16_t wMonth = 0;
  uint16_t wDayOfWeek = 0;
  uint16_t wDay = 0;
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};
static_assert(sizeof(TSystemTime) == 16, "SYSTEMTIME layout");

struct TTimeZoneInfo {
  int32_t Bias = 0;  // minutes, UTC = local + bias
  char16_t StandardName[32] = {};
  TSystemTime StandardDate;
  int32_t StandardBias = 0;
  char16_t DaylightName[32] = {};
  TSystemTime DaylightDate;
  int32_t DaylightBias = 0;
};
static_assert(sizeof(TTimeZoneInfo) == 172, "TIME_ZONE_INFORMATION layout");

// Calendar.
bool isLeapYearNumber(uint16_t year);
int daysInMonth(int year, int month);  // 0 for a month outside 1..12

// Encoding and decoding of date-times. The Encode/TryEncode pair refuses
// fields out of range (EConvertError / false); years are 1..9999.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
// Date plus time of day, also for dates before 1899-12-30.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

struct TDateTimeParts {
  int year, month, day, hour, minute, second, msec;
  int dayOfWeek;  // 1 = Sunday .. 7 = Saturday
};
// Rounds to the millisecond. Raises EConvertError outside years 1..9999 or for
// values that are no number.
TDateTimeParts DecodeDateTime(TDateTime t);
int DayOfWeek(TDateTime t);  // 1 = Sunday .. 7 = Saturday

int yearOfDate(TDateTime t);
int monthOfDate(TDateTime t);
int daysInMonthOfDate(TDateTime t);
// True when a and b differ by less than 0.1 ms.
bool sameDateTimeWithin(TDateTime a, TDateTime b);
// The value re-encoded from its decoded fields (so rounded to the millisecond);
// the input itself when it cannot be re-encoded.
TDateTime normaliseDateTime(TDateTime t);

// Milliseconds since 1970-01-01 UTC as a date-time, and back (rounded).
TDateTime unixMillisToDateTime(int64_t millis);
int64_t dateTimeToUnixMillis(TDateTime t);

// −1, 0 or 1 by the first differing field, from wYear to wMilliseconds.
int compareSystemTimes(const TSystemTime& a, const TSystemTime& b);
// Same biases, transition dates and names (case-sensitive).
bool sameTimeZoneInfo(const TTimeZoneInfo& a, const TTimeZoneInfo& b);

// Day of month of the week-th (1..4, 5 = last) weekday (1 = Sunday .. 7 =
// Saturday) of month in year; 0 for any other week, weekday or month.
int transitionDayInMonth(int year, int month, int week, int weekday);
// Local moment of a transition rule in year; 0 when the rule names none there.
TDateTime transitionDateTime(const TSystemTime& rule, int year);
// Local time of the UTC moment t under zone's rules. Raises EConvertError for a
// t that is no date-time of the years 1 to 9999, for every zone alike.
TDateTime utcToLocalWithZone(const TTimeZoneInfo& zone, TDateTime t);

// The binary "TZI" registry value: 44 bytes, little-endian: Bias,
// StandardBias, DaylightBias, StandardDate, DaylightDate.
constexpr size_t kTziSize = 44;
// False (zone untouched) unless bytes holds exactly 44 bytes.
bool readTziBytes(const std::string& bytes, TTimeZoneInfo& zone);
std::string tziBytesOf(const TTimeZoneInfo& zone);

}  // namespace om
