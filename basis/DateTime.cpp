#include "basis/DateTime.h"

#include <chrono>
#include <cmath>

namespace datetime {

namespace {
constexpr int64_t MILLIS_PER_DAY = 86400000;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t EPOCH_OFFSET_DAYS = 25569;
constexpr double MAX_DAYS = 1e9;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}
}  // namespace

double fromUnixMicros(int64_t micros) {
  std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  int64_t rest = micros % 1000000;
  if (rest < 0) {
    rest += 1000000;
    --seconds;
  }
  std::tm local{};
  localtime_r(&seconds, &local);
  Parts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec;
  p.millisecond = static_cast<int>(rest / 1000);
  return compose(p);
}

double now() {
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  return fromUnixMicros(micros);
}

double compose(const Parts& p) {
  double days = static_cast<double>(daysFromCivil(p.year, static_cast<unsigned>(p.month),
                                                  static_cast<unsigned>(p.day)) +
                                    EPOCH_OFFSET_DAYS);
  double ms = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
  // Negative date-times count the days backwards but the time forwards.
  return days >= 0 ? days + ms / MILLIS_PER_DAY : days - ms / MILLIS_PER_DAY;
}

Parts split(double value) {
  Parts p;
  // Beyond some two million years the day count no longer fits the calendar
  // fields; such values (typically read from a damaged file) split like
  // infinities, to the base date.
  if (!std::isfinite(value) || std::fabs(value) > MAX_DAYS) return p;
  // Whole milliseconds since the base date, rounded like the time of day.
  double days = std::trunc(value);
  double fraction = std::fabs(value - days);
  int64_t ms = std::llround(fraction * MILLIS_PER_DAY);
  int64_t wholeDays = static_cast<int64_t>(days);
  if (ms >= MILLIS_PER_DAY) {
    ms -= MILLIS_PER_DAY;
    wholeDays += value >= 0 ? 1 : -1;
  }
  civilFromDays(wholeDays - EPOCH_OFFSET_DAYS, p.year, p.month, p.day);
  int64_t unixDays = wholeDays - EPOCH_OFFSET_DAYS;
  p.weekday = static_cast<int>(((unixDays % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

std::tm toTm(double value) {
  Parts p = split(value);
  std::tm t{};
  t.tm_year = p.year - 1900;
  t.tm_mon = p.month - 1;
  t.tm_mday = p.day;
  t.tm_hour = p.hour;
  t.tm_min = p.minute;
  t.tm_sec = p.second;
  t.tm_wday = p.weekday;
  t.tm_isdst = -1;
  return t;
}

}  // namespace datetime
