// Wall times turned into instants with the zone rules, checked against the
// C library's own reading of every instant.
#include <gtest/gtest.h>

#include <ctime>
#include <set>

#include "report/ZoneClock.h"
#include "tests/report/ReportTestSupport.h"

namespace {

int32_t offsetAt(int64_t utcSeconds) {
  const std::time_t t = static_cast<std::time_t>(utcSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<int32_t>(local.tm_gmtoff);
}

int64_t localMs(int year, int month, int day, int hour, int minute) {
  int64_t ms = 0;
  datetime::Parts p = datetime::split(localTime(year, month, day, hour, minute));
  EXPECT_TRUE(ZoneClock::localMillis(p, ms));
  return ms;
}

}  // namespace

// Every quarter hour of a year, in a zone that changes at 02:00 and 03:00
// and in one that changes at midnight: the readings are exactly the
// instants whose local time is that wall time; a skipped wall time has one
// reading, with the offset before the change.
TEST(ZoneClock, EveryWallTimeOfAYearHasTheReadingsTheZoneGivesIt) {
  for (const char* zone : {"Europe/Berlin", "America/Havana"}) {
    SCOPED_TRACE(zone);
    ScopedEnvironment tz("TZ", zone);
    ZoneClock clock;
    const int64_t from = localMs(2026, 1, 1, 0, 0), to = localMs(2027, 1, 1, 0, 0);
    std::set<int32_t> offsets;  // every offset the zone has in the year
    for (int64_t utc = from / 1000; utc < to / 1000; utc += 3600) offsets.insert(offsetAt(utc));
    ASSERT_EQ(offsets.size(), 2u);
    int repeated = 0, skipped = 0;
    for (int64_t wall = from; wall < to; wall += 15 * 60000) {
      const int64_t local = wall / 1000;
      std::set<int64_t> expected;
      for (int32_t offset : offsets) {
        if (offsetAt(local - offset) == offset) expected.insert((local - offset) * 1000);
      }
      Readings readings;
      clock.readings(wall, readings);
      ASSERT_GE(readings.count, 1);
      if (expected.empty()) {
        ++skipped;
        ASSERT_EQ(readings.count, 1) << wall;
        EXPECT_EQ(readings.at[0].utcMs, wall - int64_t{offsetAt(local - 86400)} * 1000) << wall;
        continue;
      }
      repeated += expected.size() == 2;
      ASSERT_EQ(static_cast<size_t>(readings.count), expected.size()) << wall;
      auto next = expected.begin();
      for (int i = 0; i < readings.count; ++i, ++next) {
        EXPECT_EQ(readings.at[i].utcMs, *next) << wall;
        EXPECT_EQ(readings.at[i].localMs(), wall) << wall;
      }
    }
    EXPECT_EQ(repeated, 4) << "one hour repeats in autumn";
    EXPECT_EQ(skipped, 4) << "one hour is skipped in spring";
  }
  // Where midnight itself is skipped, the day begins when the clock jumps.
  ScopedEnvironment tz("TZ", "America/Havana");
  ZoneClock clock;
  const int64_t day = ZoneClock::floorDiv(localMs(2026, 3, 8, 0, 0), ZoneClock::DAY_MS);
  EXPECT_EQ(clock.midnightUtcMs(day), localMs(2026, 3, 8, 5, 0)) << "05:00 UTC";
}
