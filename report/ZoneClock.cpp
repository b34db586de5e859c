#include "report/ZoneClock.h"

#include <ctime>

namespace {

constexpr int64_t DAY_SECONDS = 86400;
// Days from 1899-12-30, the base of date-times, to 1970-01-01.
constexpr int64_t EPOCH_DAYS = 25569;

int32_t offsetAt(int64_t utcSeconds) {
  const std::time_t t = static_cast<std::time_t>(utcSeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return static_cast<int32_t>(local.tm_gmtoff);
}

}  // namespace

ZoneClock::ZoneClock() { tzset(); }

bool ZoneClock::localMillis(const datetime::Parts& p, int64_t& localMs) {
  if (p.year < 1900 || p.year > 9999) return false;
  // Stamps come day after day: the day of the previous one is kept.
  thread_local int lastYear = 0, lastMonth = 0, lastDay = 0;
  thread_local int64_t lastDays = 0;
  if (p.year != lastYear || p.month != lastMonth || p.day != lastDay) {
    datetime::Parts date;
    date.year = p.year;
    date.month = p.month;
    date.day = p.day;
    lastDays = static_cast<int64_t>(datetime::compose(date)) - EPOCH_DAYS;
    lastYear = p.year;
    lastMonth = p.month;
    lastDay = p.day;
  }
  const int64_t ms = ((int64_t{p.hour} * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  localMs = lastDays * DAY_MS + ms;
  return true;
}

datetime::Parts ZoneClock::wallTime(int64_t localMs) {
  const int64_t day = floorDiv(localMs, DAY_MS);
  datetime::Parts p = datetime::split(static_cast<double>(day + EPOCH_DAYS));
  const int64_t ms = localMs - day * DAY_MS;
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

Readings ZoneClock::resolve(int64_t localMs) const {
  const int64_t local = floorDiv(localMs, 1000);
  const int64_t ms = localMs - local * 1000;
  // Every offset the zone has a day either side of the wall time; each that
  // maps back to the wall time is a reading. Zones change their offset at
  // most once within two days.
  const int32_t probes[3] = {offsetAt(local - DAY_SECONDS), offsetAt(local), offsetAt(local + DAY_SECONDS)};
  Readings found;
  for (int32_t offset : probes) {
    const int64_t utc = local - offset;
    if (offsetAt(utc) != offset) continue;
    const Instant reading{utc * 1000 + ms, offset};
    bool known = false;
    for (int i = 0; i < found.count; ++i) known = known || found.at[i].utcMs == reading.utcMs;
    if (!known && found.count < 2) found.at[found.count++] = reading;
  }
  if (found.count == 2 && found.at[1].utcMs < found.at[0].utcMs) std::swap(found.at[0], found.at[1]);
  if (found.count == 0) {
    // Skipped: read with the offset before the change, as readingsOfDay() does.
    const int64_t utc = local - probes[0];
    found.at[found.count++] = Instant{utc * 1000 + ms, offsetAt(utc)};
  }
  return found;
}

const ZoneClock::DayRule& ZoneClock::ruleOf(int64_t day) {
  DayRule& rule = days_[static_cast<uint64_t>(day) % (sizeof days_ / sizeof days_[0])];
  if (rule.day == day) return rule;
  rule.day = day;
  // Offsets lie between -12 and +14 hours, so the day's wall times belong
  // to instants from 14 hours before its start (taken as UTC) to 12 hours
  // after its end; four more hours either side take in a change of clock
  // (of up to four hours) that would make one of them skipped or repeated.
  const int64_t start = day * DAY_SECONDS;
  const int64_t low = start - 18 * 3600, high = start + DAY_SECONDS + 16 * 3600;
  const int32_t before = offsetAt(low), after = offsetAt(high);
  rule.offsetBefore = before;
  rule.offsetAfter = after;
  if (before == after) {
    rule.kind = offsetAt(start + DAY_SECONDS / 2) == before ? DayRule::Kind::Uniform : DayRule::Kind::Irregular;
    return rule;
  }
  // The first second of the new offset.
  int64_t from = low, to = high;
  while (to - from > 1) {
    const int64_t middle = from + (to - from) / 2;
    (offsetAt(middle) == before ? from : to) = middle;
  }
  rule.changeUtc = to;
  rule.kind = offsetAt(low + (to - low) / 2) == before && offsetAt(to + (high - to) / 2) == after
                  ? DayRule::Kind::OneChange
                  : DayRule::Kind::Irregular;
  return rule;
}

void ZoneClock::readingsOfDay(int64_t localMs, Readings& found) {
  found.count = 0;
  const int64_t day = floorDiv(localMs, DAY_MS);
  const DayRule& rule = ruleOf(day);
  switch (rule.kind) {
    case DayRule::Kind::Irregular:
      found = resolve(localMs);
      return;
    case DayRule::Kind::Uniform:
      // Days next to each other with the same offset make one stretch.
      if (rule.offsetBefore == uniformOffset_ && uniformToMs_ == day * DAY_MS) {
        uniformToMs_ += DAY_MS;
      } else if (rule.offsetBefore == uniformOffset_ && uniformFromMs_ == (day + 1) * DAY_MS) {
        uniformFromMs_ -= DAY_MS;
      } else {
        uniformFromMs_ = day * DAY_MS;
        uniformToMs_ = uniformFromMs_ + DAY_MS;
        uniformOffset_ = rule.offsetBefore;
      }
      found.at[found.count++] = Instant{localMs - int64_t{rule.offsetBefore} * 1000, rule.offsetBefore};
      return;
    case DayRule::Kind::OneChange:
      break;
  }
  const int64_t changeMs = rule.changeUtc * 1000;
  const Instant early{localMs - int64_t{rule.offsetBefore} * 1000, rule.offsetBefore};
  const Instant late{localMs - int64_t{rule.offsetAfter} * 1000, rule.offsetAfter};
  if (early.utcMs < changeMs) found.at[found.count++] = early;
  if (late.utcMs >= changeMs) found.at[found.count++] = late;
  if (found.count == 2 && found.at[1].utcMs < found.at[0].utcMs) std::swap(found.at[0], found.at[1]);
  // Skipped by a change forwards: read with the offset before it, which
  // gives the instant the clock would have shown, had it not changed.
  if (found.count == 0) found.at[found.count++] = Instant{early.utcMs, rule.offsetAfter};
}

int64_t ZoneClock::midnightUtcMs(int64_t day) {
  Readings found;
  readings(day * DAY_MS, found);
  return found.at[0].utcMs;
}
