#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "support/dates.h"

namespace om {
namespace {

TSystemTime rule(uint16_t month, uint16_t dayOfWeek, uint16_t week, uint16_t hour, uint16_t year = 0) {
  TSystemTime s;
  s.wYear = year;
  s.wMonth = month;
  s.wDayOfWeek = dayOfWeek;
  s.wDay = week;
  s.wHour = hour;
  return s;
}

TTimeZoneInfo centralEurope() {
  TTimeZoneInfo z;
  z.Bias = -60;
  z.StandardBias = 0;
  z.DaylightBias = -60;
  z.DaylightDate = rule(3, 0, 5, 2);
  z.StandardDate = rule(10, 0, 5, 3);
  return z;
}

TDateTime at(int y, int mo, int d, int h, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime(y, mo, d, h, mi, s, ms);
}

int64_t ms(TDateTime t) { return dateTimeToUnixMillis(t); }

TEST(Calendar, LeapYearsAndMonthLengths) {
  EXPECT_FALSE(isLeapYearNumber(1900));
  EXPECT_TRUE(isLeapYearNumber(2000));
  EXPECT_TRUE(isLeapYearNumber(2024));
  EXPECT_FALSE(isLeapYearNumber(2023));
  EXPECT_EQ(29, daysInMonthOfDate(EncodeDate(2024, 2, 10)));
  EXPECT_EQ(28, daysInMonthOfDate(EncodeDate(1900, 2, 28)));
  EXPECT_EQ(29, daysInMonthOfDate(EncodeDate(2000, 2, 1)));
  for (int m : {4, 6, 9, 11}) EXPECT_EQ(30, daysInMonthOfDate(EncodeDate(2023, m, 3)));
  for (int m : {1, 3, 5, 7, 8, 10, 12}) EXPECT_EQ(31, daysInMonthOfDate(EncodeDate(2023, m, 3)));
  EXPECT_EQ(2024, yearOfDate(EncodeDate(2024, 12, 31) + 0.999));
  EXPECT_EQ(12, monthOfDate(EncodeDate(2024, 12, 31) + 0.999));
}

TEST(Calendar, KnownDayNumbers) {
  EXPECT_EQ(0.0, EncodeDate(1899, 12, 30));
  EXPECT_EQ(25569.0, EncodeDate(1970, 1, 1));
  EXPECT_EQ(36526.0, EncodeDate(2000, 1, 1));
  EXPECT_EQ(7, DayOfWeek(0.0));           // Saturday
  EXPECT_EQ(5, DayOfWeek(25569.0));       // Thursday
  EXPECT_EQ(1, DayOfWeek(EncodeDate(2024, 3, 31)));
  // Before 1899-12-30 the fraction still adds the time of day.
  EXPECT_DOUBLE_EQ(-1.25, at(1899, 12, 29, 6));
  TDateTimeParts p = DecodeDateTime(-1.25);
  EXPECT_EQ(1899, p.year);
  EXPECT_EQ(29, p.day);
  EXPECT_EQ(6, p.hour);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(DecodeDateTime(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(DecodeDateTime(1e9), EConvertError);
}

TEST(Calendar, DecodeEncodeRoundTripsEveryMillisecondPrecision) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> day(-693593, 2958465);
  std::uniform_int_distribution<int64_t> msOfDay(0, 86399999);
  for (int i = 0; i < 20000; ++i) {
    const int64_t d = day(rng), m = msOfDay(rng);
    const TDateTime t = d < 0 ? d - m / kMSecsPerDay : d + m / kMSecsPerDay;
    TDateTimeParts p = DecodeDateTime(t);
    EXPECT_EQ(m, ((p.hour * 60 + p.minute) * 60 + p.second) * 1000LL + p.msec);
    const TDateTime back = EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec);
    ASSERT_TRUE(sameDateTimeWithin(back, t)) << d << " " << m;
    EXPECT_EQ(d < 0 ? -1 : 1, std::signbit(back) ? -1 : 1);
  }
}

TEST(Calendar, WeekdaysFollowDayByDay) {
  TDateTime t = EncodeDate(1, 1, 1);
  int wd = DayOfWeek(t);
  EXPECT_EQ(2, wd);  // 0001-01-01 was a Monday in the proleptic Gregorian calendar
  for (TDateTime d = EncodeDate(1890, 1, 1); d < EncodeDate(1910, 1, 1); d += 1) {
    int next = DayOfWeek(d + 1);
    EXPECT_EQ(DayOfWeek(d) % 7 + 1, next);
  }
}

TEST(Calendar, NormaliseAndSameWithin) {
  const TDateTime t = at(2024, 5, 6, 7, 8, 9, 10);
  EXPECT_TRUE(sameDateTimeWithin(t, t + 0.99e-4 / 86400.0));
  EXPECT_FALSE(sameDateTimeWithin(t, t + 1.01e-4 / 86400.0));
  EXPECT_EQ(ms(t), ms(normaliseDateTime(t + 0.4 / kMSecsPerDay)));
  EXPECT_EQ(ms(t) + 1, ms(normaliseDateTime(t + 0.6 / kMSecsPerDay)));
  EXPECT_EQ(ms(at(2024, 5, 7, 0)), ms(normaliseDateTime(at(2024, 5, 6, 23, 59, 59, 999) + 0.7 / kMSecsPerDay)));
  EXPECT_TRUE(std::isnan(normaliseDateTime(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(1e12, normaliseDateTime(1e12));
}

TEST(Calendar, UnixMillis) {
  EXPECT_EQ(25569.0, unixMillisToDateTime(0));
  EXPECT_EQ(1719835200000LL, ms(at(2024, 7, 1, 12)));
  EXPECT_EQ(at(2024, 7, 1, 12), unixMillisToDateTime(1719835200000LL));
}

TEST(SystemTimes, CompareByFieldOrder) {
  TSystemTime a, b;
  EXPECT_EQ(0, compareSystemTimes(a, b));
  a.wDayOfWeek = 2;
  b.wDay = 30;
  EXPECT_EQ(1, compareSystemTimes(a, b));  // day of week counts before the day
  b.wMonth = 1;
  EXPECT_EQ(-1, compareSystemTimes(a, b));
  a = b;
  a.wMilliseconds = 1;
  EXPECT_EQ(1, compareSystemTimes(a, b));
}

TEST(SystemTimes, SameTimeZoneInfoComparesEverything) {
  TTimeZoneInfo a = centralEurope(), b = centralEurope();
  a.StandardName[0] = u'X';
  b.StandardName[0] = u'X';
  EXPECT_TRUE(sameTimeZoneInfo(a, b));
  b.StandardName[0] = u'x';
  EXPECT_FALSE(sameTimeZoneInfo(a, b));
  b = a;
  b.DaylightDate.wHour = 3;
  EXPECT_FALSE(sameTimeZoneInfo(a, b));
  b = a;
  b.StandardBias = 1;
  EXPECT_FALSE(sameTimeZoneInfo(a, b));
  b = a;
  b.DaylightName[0] = u'y';
  EXPECT_FALSE(sameTimeZoneInfo(a, b));
}

TEST(Transitions, DayInMonth) {
  EXPECT_EQ(31, transitionDayInMonth(2024, 3, 5, 1));
  EXPECT_EQ(30, transitionDayInMonth(2025, 3, 5, 1));
  EXPECT_EQ(10, transitionDayInMonth(2024, 3, 2, 1));
  EXPECT_EQ(0, transitionDayInMonth(2024, 3, 6, 1));
  EXPECT_EQ(0, transitionDayInMonth(2024, 3, 0, 1));
  EXPECT_EQ(0, transitionDayInMonth(2024, 3, 1, 8));
  EXPECT_EQ(0, transitionDayInMonth(2024, 13, 1, 1));
}

TEST(Transitions, DayInMonthMatchesCountingDays) {
  for (int year = 1995; year <= 2040; ++year)
    for (int month = 1; month <= 12; ++month) {
      std::vector<int> byWeekday[8];
      for (int d = 1; d <= daysInMonth(year, month); ++d)
        byWeekday[DayOfWeek(EncodeDate(year, month, d))].push_back(d);
      for (int wd = 1; wd <= 7; ++wd) {
        for (int week = 1; week <= 4; ++week)
          ASSERT_EQ(byWeekday[wd][week - 1], transitionDayInMonth(year, month, week, wd)) << year << "-" << month;
        ASSERT_EQ(byWeekday[wd].back(), transitionDayInMonth(year, month, 5, wd));
      }
    }
}

TEST(Transitions, Moments) {
  TSystemTime r = rule(3, 0, 5, 1);
  EXPECT_EQ(at(2024, 3, 31, 1), transitionDateTime(r, 2024));
  EXPECT_EQ(at(2025, 3, 30, 1), transitionDateTime(r, 2025));
  r.wMinute = 30;
  r.wSecond = 15;
  r.wMilliseconds = 500;
  EXPECT_EQ(ms(at(2025, 3, 30, 1, 30, 15, 500)), ms(transitionDateTime(r, 2025)));
  EXPECT_EQ(0, transitionDateTime(rule(0, 0, 5, 1), 2024));
  // Absolute dates hold in their own year only.
  TSystemTime once = rule(4, 0, 7, 2, 2024);
  EXPECT_EQ(at(2024, 4, 7, 2), transitionDateTime(once, 2024));
  EXPECT_EQ(0, transitionDateTime(once, 2025));
  // Rules naming no day give no moment (not midnight of some day).
  EXPECT_EQ(0, transitionDateTime(rule(3, 0, 6, 2), 2024));
  EXPECT_EQ(0, transitionDateTime(rule(3, 9, 1, 2), 2024));
  EXPECT_EQ(0, transitionDateTime(rule(2, 0, 30, 2, 2024), 2024));
  EXPECT_EQ(0, transitionDateTime(rule(3, 0, 1, 25), 2024));
}

TEST(UtcToLocal, CentralEuropeSummerAndWinter) {
  const TTimeZoneInfo z = centralEurope();
  EXPECT_EQ(ms(at(2024, 7, 1, 14)), ms(utcToLocalWithZone(z, at(2024, 7, 1, 12))));
  EXPECT_EQ(ms(at(2024, 1, 15, 13)), ms(utcToLocalWithZone(z, at(2024, 1, 15, 12))));
}

TEST(UtcToLocal, AtTheTransitions) {
  const TTimeZoneInfo z = centralEurope();
  // Daylight starts 2024-03-31 02:00 local standard = 01:00 UTC.
  EXPECT_EQ(ms(at(2024, 3, 31, 3)), ms(utcToLocalWithZone(z, at(2024, 3, 31, 1))));
  EXPECT_EQ(ms(at(2024, 3, 31, 1, 59, 59, 999)), ms(utcToLocalWithZone(z, at(2024, 3, 31, 0, 59, 59, 999))));
  // Just short of the start by less than 0.1 ms already counts as daylight.
  EXPECT_EQ(ms(at(2024, 3, 31, 3)), ms(utcToLocalWithZone(z, at(2024, 3, 31, 1) - 0.05 / kMSecsPerDay)));
  // Standard starts 2024-10-27 03:00 local daylight = 01:00 UTC.
  EXPECT_EQ(ms(at(2024, 10, 27, 2)), ms(utcToLocalWithZone(z, at(2024, 10, 27, 1))));
  EXPECT_EQ(ms(at(2024, 10, 27, 2, 59, 59, 999)), ms(utcToLocalWithZone(z, at(2024, 10, 27, 0, 59, 59, 999))));
}

TEST(UtcToLocal, SouthernHemisphereDaylightAcrossTheYearEnd) {
  TTimeZoneInfo z;  // Sydney
  z.Bias = -600;
  z.DaylightBias = -60;
  z.DaylightDate = rule(10, 0, 1, 2);
  z.StandardDate = rule(4, 0, 1, 3);
  EXPECT_EQ(ms(at(2024, 1, 15, 23)), ms(utcToLocalWithZone(z, at(2024, 1, 15, 12))));
  EXPECT_EQ(ms(at(2024, 7, 15, 22)), ms(utcToLocalWithZone(z, at(2024, 7, 15, 12))));
  // Standard starts 2024-04-07 03:00 daylight = 2024-04-06 16:00 UTC.
  EXPECT_EQ(ms(at(2024, 4, 7, 2)), ms(utcToLocalWithZone(z, at(2024, 4, 6, 16))));
  EXPECT_EQ(ms(at(2024, 4, 7, 2, 59, 59, 999)), ms(utcToLocalWithZone(z, at(2024, 4, 6, 15, 59, 59, 999))));
  // Within 0.1 ms before the end counts as standard time already.
  EXPECT_EQ(ms(at(2024, 4, 7, 2)), ms(utcToLocalWithZone(z, at(2024, 4, 6, 16) - 0.05 / kMSecsPerDay)));
  // Daylight starts 2024-10-06 02:00 standard = 2024-10-05 16:00 UTC.
  EXPECT_EQ(ms(at(2024, 10, 6, 3)), ms(utcToLocalWithZone(z, at(2024, 10, 5, 16))));
  EXPECT_EQ(ms(at(2024, 10, 6, 1, 59, 59, 999)), ms(utcToLocalWithZone(z, at(2024, 10, 5, 15, 59, 59, 999))));
  EXPECT_EQ(ms(at(2025, 1, 1, 10)), ms(utcToLocalWithZone(z, at(2024, 12, 31, 23))));
}

TEST(UtcToLocal, WithoutRulesByBiasAlone) {
  TTimeZoneInfo z;
  z.Bias = -330;
  z.StandardBias = 15;  // not used without transitions
  z.StandardDate = rule(10, 0, 5, 3);
  EXPECT_EQ(ms(at(2024, 7, 1, 17, 30)), ms(utcToLocalWithZone(z, at(2024, 7, 1, 12))));
  z.StandardDate = rule(10, 0, 5, 3);
  z.DaylightDate = rule(3, 0, 5, 2, 2019);  // absolute date of another year
  EXPECT_EQ(ms(at(2024, 7, 1, 17, 30)), ms(utcToLocalWithZone(z, at(2024, 7, 1, 12))));
}

// A time the calendar cannot hold is refused the same way whatever the zone.
TEST(UtcToLocal, OutOfRangeTimesAreRefusedForEveryZone) {
  TTimeZoneInfo withoutRules;
  withoutRules.Bias = -330;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinite = std::numeric_limits<double>::infinity();
  const TDateTime afterYear9999 = at(9999, 12, 31, 12) + 1;
  const TDateTime beforeYear1 = EncodeDate(1, 1, 1) - 2;
  for (const TTimeZoneInfo& z : {centralEurope(), withoutRules, TTimeZoneInfo()}) {
    for (TDateTime t : {nan, infinite, -infinite, afterYear9999, beforeYear1}) {
      EXPECT_THROW(utcToLocalWithZone(z, t), EConvertError) << t;
    }
  }
  EXPECT_EQ(ms(at(9999, 12, 31, 12)), ms(utcToLocalWithZone(TTimeZoneInfo(), at(9999, 12, 31, 12))));
}

TEST(Tzi, LayoutAndRoundTrip) {
  TTimeZoneInfo z = centralEurope();
  const std::string bytes = tziBytesOf(z);
  ASSERT_EQ(44u, bytes.size());
  const unsigned char expected[44] = {0xC4, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xC4, 0xFF, 0xFF, 0xFF,
                                      0, 0, 10, 0, 0, 0, 5, 0, 3, 0, 0, 0, 0, 0, 0, 0,
                                      0, 0, 3, 0, 0, 0, 5, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), 44), bytes);
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::string random(44, '\0');
    for (char& c : random) c = static_cast<char>(rng());
    TTimeZoneInfo r;
    ASSERT_TRUE(readTziBytes(random, r));
    EXPECT_EQ(random, tziBytesOf(r));
  }
  for (size_t n = 0; n < 100; ++n) {
    if (n == 44) continue;
    TTimeZoneInfo r = z;
    EXPECT_FALSE(readTziBytes(std::string(n, '\x7F'), r));
    EXPECT_TRUE(sameTimeZoneInfo(r, z));
  }
}

}  // namespace
}  // namespace om
