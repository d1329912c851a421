#include "support/dates.h"

#include <cmath>
#include <cstring>

namespace om {

namespace {

constexpr int64_t kMSecsPerDayInt = 86400000;
// Day numbers (1899-12-30 = 0) of 0001-01-01 and 9999-12-31.
constexpr int64_t kMinDay = -693593;
constexpr int64_t kMaxDay = 2958465;

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(era * 400 + yoe + (m <= 2));
}

int64_t dayNumber(int year, int month, int day) {
  return daysFromCivil(year, month, day) + static_cast<int64_t>(kUnixDateDelta);
}

// 1 = Sunday .. 7 = Saturday of a day number (1899-12-30 was a Saturday).
int weekdayOfDayNumber(int64_t day) {
  int64_t r = (day + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

int floorMod7(int v) {
  int r = v % 7;
  return r < 0 ? r + 7 : r;
}

// Day number and millisecond of the day of t, rounded to the millisecond.
bool splitDateTime(TDateTime t, int64_t& day, int64_t& msOfDay) {
  if (!std::isfinite(t)) return false;
  if (t < static_cast<double>(kMinDay) - 1 || t > static_cast<double>(kMaxDay) + 1) return false;
  double whole = std::trunc(t);
  day = static_cast<int64_t>(whole);
  msOfDay = std::llround(std::fabs(t - whole) * kMSecsPerDay);
  if (msOfDay >= kMSecsPerDayInt) {
    msOfDay -= kMSecsPerDayInt;
    day += 1;
  }
  return day >= kMinDay && day <= kMaxDay;
}

}  // namespace

bool isLeapYearNumber(uint16_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && year >= 0 && year <= 0xFFFF && isLeapYearNumber(static_cast<uint16_t>(year))) return 29;
  return kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
    return false;
  out = static_cast<double>(dayNumber(year, month, day));
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, minute, second, msec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  TDateTime d = EncodeDate(year, month, day);
  TDateTime t = EncodeTime(hour, minute, second, msec);
  return d < 0 ? d - t : d + t;
}

TDateTimeParts DecodeDateTime(TDateTime t) {
  int64_t day, ms;
  if (!splitDateTime(t, day, ms)) throw EConvertError("Invalid date-time value");
  TDateTimeParts p{};
  civilFromDays(day - static_cast<int64_t>(kUnixDateDelta), p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  p.dayOfWeek = weekdayOfDayNumber(day);
  return p;
}

int DayOfWeek(TDateTime t) { return DecodeDateTime(t).dayOfWeek; }

int yearOfDate(TDateTime t) { return DecodeDateTime(t).year; }

int monthOfDate(TDateTime t) { return DecodeDateTime(t).month; }

int daysInMonthOfDate(TDateTime t) {
  TDateTimeParts p = DecodeDateTime(t);
  return daysInMonth(p.year, p.month);
}

bool sameDateTimeWithin(TDateTime a, TDateTime b) { return std::fabs(a - b) < 1.0 / 864000000.0; }

TDateTime normaliseDateTime(TDateTime t) {
  try {
    TDateTimeParts p = DecodeDateTime(t);
    return EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec);
  } catch (const EConvertError&) {
    return t;
  }
}

TDateTime unixMillisToDateTime(int64_t millis) {
  return static_cast<double>(millis) / kMSecsPerDay + kUnixDateDelta;
}

int64_t dateTimeToUnixMillis(TDateTime t) {
  return std::llround((t - kUnixDateDelta) * kMSecsPerDay);
}

int compareSystemTimes(const TSystemTime& a, const TSystemTime& b) {
  const uint16_t fa[8] = {a.wYear, a.wMonth, a.wDayOfWeek, a.wDay, a.wHour, a.wMinute, a.wSecond, a.wMilliseconds};
  const uint16_t fb[8] = {b.wYear, b.wMonth, b.wDayOfWeek, b.wDay, b.wHour, b.wMinute, b.wSecond, b.wMilliseconds};
  for (int i = 0; i < 8; ++i)
    if (fa[i] != fb[i]) return fa[i] < fb[i] ? -1 : 1;
  return 0;
}

bool sameTimeZoneInfo(const TTimeZoneInfo& a, const TTimeZoneInfo& b) {
  auto sameName = [](const char16_t* x, const char16_t* y) {
    for (int i = 0; i < 32; ++i) {
      if (x[i] != y[i]) return false;
      if (x[i] == 0) return true;
    }
    return true;
  };
  return a.Bias == b.Bias && a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
         compareSystemTimes(a.StandardDate, b.StandardDate) == 0 &&
         compareSystemTimes(a.DaylightDate, b.DaylightDate) == 0 && sameName(a.StandardName, b.StandardName) &&
         sameName(a.DaylightName, b.DaylightName);
}

int transitionDayInMonth(int year, int month, int week, int weekday) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || weekday < 1 || weekday > 7) return 0;
  const int64_t first = dayNumber(year, month, 1);
  if (week >= 1 && week <= 4) {
    int g = weekdayOfDayNumber(first);
    return 1 + floorMod7(weekday - g) + 7 * (week - 1);
  }
  if (week == 5) {
    int last = daysInMonth(year, month);
    int h = weekdayOfDayNumber(first + last - 1);
    return last - floorMod7(h - weekday);
  }
  return 0;
}

TDateTime transitionDateTime(const TSystemTime& rule, int year) {
  if (rule.wMonth == 0) return 0;
  TDateTime date, time;
  if (!TryEncodeTime(rule.wHour, rule.wMinute, rule.wSecond, rule.wMilliseconds, time)) return 0;
  if (rule.wYear == 0) {
    int day = transitionDayInMonth(year, rule.wMonth, rule.wDay, rule.wDayOfWeek + 1);
    if (day == 0 || !TryEncodeDate(year, rule.wMonth, day, date)) return 0;
  } else if (rule.wYear == year) {
    if (!TryEncodeDate(year, rule.wMonth, rule.wDay, date)) return 0;
  } else {
    return 0;
  }
  return date + time;
}

TDateTime utcToLocalWithZone(const TTimeZoneInfo& zone, TDateTime t) {
  // A time outside the calendar is refused (EConvertError) whatever the zone.
  const int year = yearOfDate(t);
  TDateTime result = t - zone.Bias / 1440.0;
  if (zone.StandardDate.wMonth != 0 && zone.DaylightDate.wMonth != 0) {
    const TDateTime d = transitionDateTime(zone.DaylightDate, year);
    const TDateTime s = transitionDateTime(zone.StandardDate, year);
    if (d != 0 && s != 0) {
      const int standardOffset = zone.Bias + zone.StandardBias;
      const int daylightOffset = zone.Bias + zone.DaylightBias;
      const TDateTime b = d + standardOffset / 1440.0;
      const TDateTime e = s + daylightOffset / 1440.0;
      // Both moments are sums of floating-point days: within 0.1 ms of a
      // moment counts as at it, so each change happens at its own instant.
      const bool fromStart = t >= b || sameDateTimeWithin(t, b);
      const bool beforeEnd = t < e && !sameDateTimeWithin(t, e);
      const bool daylight = b < e ? fromStart && beforeEnd : fromStart || beforeEnd;
      result = t - (daylight ? daylightOffset : standardOffset) / 1440.0;
    }
  }
  return normaliseDateTime(result);
}

namespace {

void putLe32(std::string& out, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}
void putLe16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void putSystemTime(std::string& out, const TSystemTime& s) {
  for (uint16_t f : {s.wYear, s.wMonth, s.wDayOfWeek, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds})
    putLe16(out, f);
}
uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
TSystemTime systemTimeAt(const unsigned char* p) {
  TSystemTime s;
  uint16_t* f[8] = {&s.wYear, &s.wMonth, &s.wDayOfWeek, &s.wDay, &s.wHour, &s.wMinute, &s.wSecond, &s.wMilliseconds};
  for (int i = 0; i < 8; ++i) *f[i] = le16(p + 2 * i);
  return s;
}

}  // namespace

bool readTziBytes(const std::string& bytes, TTimeZoneInfo& zone) {
  if (bytes.size() != kTziSize) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  zone.Bias = static_cast<int32_t>(le32(p));
  zone.StandardBias = static_cast<int32_t>(le32(p + 4));
  zone.DaylightBias = static_cast<int32_t>(le32(p + 8));
  zone.StandardDate = systemTimeAt(p + 12);
  zone.DaylightDate = systemTimeAt(p + 28);
  return true;
}

std::string tziBytesOf(const TTimeZoneInfo& zone) {
  std::string out;
  out.reserve(kTziSize);
  putLe32(out, zone.Bias);
  putLe32(out, zone.StandardBias);
  putLe32(out, zone.DaylightBias);
  putSystemTime(out, zone.StandardDate);
  putSystemTime(out, zone.DaylightDate);
  return out;
}

}  // namespace om
