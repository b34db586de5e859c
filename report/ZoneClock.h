#pragma once
// Local wall-clock times, as the logs stamp them (no offset), turned into
// instants with the system's zone rules (TZ honoured). A wall time has one
// reading, two where the clock was set back and the hour repeats, and none
// where it was set forward: such a time never showed on a clock, and it is
// read with the offset in force just before the change.

#include <cstdint>

#include "basis/DateTime.h"

// A point in time and the zone's offset from UTC in force at it.
struct Instant {
  int64_t utcMs = 0;
  int32_t offsetSeconds = 0;

  // Milliseconds since 1970-01-01 00:00 on the local wall clock.
  int64_t localMs() const { return utcMs + int64_t{offsetSeconds} * 1000; }
};

// The readings of one wall time, earliest first.
struct Readings {
  int count = 0;
  Instant at[2];
};

class ZoneClock {
 public:
  static constexpr int64_t DAY_MS = 86400000;

  // Reads the zone rules anew (tzset), so TZ as it is now applies.
  ZoneClock();

  // The readings of a wall time given as local milliseconds since 1970,
  // into `found` (filled in place: hot code copies no such pairs around).
  void readings(int64_t localMs, Readings& found) {
    // Inline for the stamps of a day with one offset, nearly all of them.
    if (localMs >= uniformFromMs_ && localMs < uniformToMs_) {
      found.count = 1;
      found.at[0].utcMs = localMs - int64_t{uniformOffset_} * 1000;
      found.at[0].offsetSeconds = uniformOffset_;
      return;
    }
    readingsOfDay(localMs, found);
  }
  // When local day `day` (days since 1970-01-01) begins: its first 00:00.
  int64_t midnightUtcMs(int64_t day);

  // Local milliseconds since 1970 of a wall time; false outside the years
  // 1900 to 9999.
  static bool localMillis(const datetime::Parts& wallTime, int64_t& localMs);
  // The wall time of local milliseconds since 1970 (from 1900 on).
  static datetime::Parts wallTime(int64_t localMs);
  // Floor division, for days and seconds before 1970 as well.
  static int64_t floorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
  }

 private:
  // How the wall times of a day map to instants: all with one offset; or
  // with one offset before a change of clock at `changeUtc` and another
  // from it on; or, should the zone change more than once around the day,
  // as resolve() finds them.
  struct DayRule {
    enum class Kind { Uniform, OneChange, Irregular };
    int64_t day = INT64_MIN;
    Kind kind = Kind::Irregular;
    int32_t offsetBefore = 0;
    int32_t offsetAfter = 0;
    int64_t changeUtc = 0;  // seconds since 1970
  };

  const DayRule& ruleOf(int64_t day);
  void readingsOfDay(int64_t localMs, Readings& found);
  // The readings worked out from the zone rules, for any wall time.
  Readings resolve(int64_t localMs) const;

  // Logs run forwards in time: a few recent days serve nearly every stamp,
  // the last day with one offset most of them.
  DayRule days_[64];
  int64_t uniformFromMs_ = 0, uniformToMs_ = 0;
  int32_t uniformOffset_ = 0;
};
