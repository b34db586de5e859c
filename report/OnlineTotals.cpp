#include "report/OnlineTotals.h"

#include <algorithm>
#include <map>

#include "report/ConnectionNames.h"
#include "report/ZoneClock.h"

namespace {
// Days are stored shifted so that every day from the year 1900 on is positive.
constexpr int64_t DAY_BIAS = 1 << 20;

uint64_t keyOf(int64_t day, uint32_t name) { return static_cast<uint64_t>(day + DAY_BIAS) << 32 | name; }
}  // namespace

OnlineTotals::OnlineTotals(ZoneClock& clock, DayRange range) : clock_(clock), range_(range) {}

int64_t OnlineTotals::dayOf(const Instant& instant) { return ZoneClock::floorDiv(instant.localMs(), ZoneClock::DAY_MS); }

OnlineTotals::Total& OnlineTotals::at(int64_t day, uint32_t name) {
  // Elements of the map stay where they are: the last one is kept at hand.
  const uint64_t key = keyOf(day, name);
  if (key != lastKey_) {
    last_ = &byDayAndName_[key];
    lastKey_ = key;
  }
  return *last_;
}

void OnlineTotals::add(const Session& session) {
  if (!session.end) return;
  const int64_t firstDay = dayOf(session.start), lastDay = dayOf(*session.end);
  if (range_.contains(firstDay)) ++at(firstDay, session.name).sessions;
  const int64_t from = std::max(firstDay, range_.first), to = std::min(lastDay, range_.last);
  int64_t dayStart = from <= to ? clock_.midnightUtcMs(from) : 0;
  for (int64_t day = from; day <= to; ++day) {
    const int64_t nextStart = clock_.midnightUtcMs(day + 1);
    const int64_t part = std::min(session.end->utcMs, nextStart) - std::max(session.start.utcMs, dayStart);
    if (part > 0) at(day, session.name).ms += part;
    dayStart = nextStart;
  }
}

std::vector<DayTotal> OnlineTotals::days(const ConnectionNames& names) const {
  std::vector<DayTotal> days;
  days.reserve(byDayAndName_.size());
  for (const auto& [key, total] : byDayAndName_) {
    days.push_back({static_cast<int64_t>(key >> 32) - DAY_BIAS, static_cast<uint32_t>(key), total.ms, total.sessions});
  }
  std::sort(days.begin(), days.end(), [&](const DayTotal& a, const DayTotal& b) {
    return a.day != b.day ? a.day < b.day : names.less(a.name, b.name);
  });
  return days;
}

std::vector<MonthTotal> OnlineTotals::months(const ConnectionNames& names) const {
  std::map<std::pair<int, uint32_t>, MonthTotal> byMonthAndName;
  for (const auto& [key, total] : byDayAndName_) {
    const auto name = static_cast<uint32_t>(key);
    const datetime::Parts date = ZoneClock::wallTime((static_cast<int64_t>(key >> 32) - DAY_BIAS) * ZoneClock::DAY_MS);
    MonthTotal& month = byMonthAndName[{date.year * 12 + date.month, name}];
    month = {date.year, date.month, name, month.ms + total.ms, month.sessions + total.sessions};
  }
  std::vector<MonthTotal> months;
  months.reserve(byMonthAndName.size());
  for (const auto& [key, month] : byMonthAndName) months.push_back(month);
  std::sort(months.begin(), months.end(), [&](const MonthTotal& a, const MonthTotal& b) {
    if (a.year != b.year) return a.year < b.year;
    return a.month != b.month ? a.month < b.month : names.less(a.name, b.name);
  });
  return months;
}
