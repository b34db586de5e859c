#pragma once
// Date-times are doubles counting days since 1899-12-30 00:00 local time,
// the fraction being the time of day. Every conversion lives here.

#include <cstdint>
#include <ctime>
#include <string>

namespace datetime {

struct Parts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int weekday = 6;  // 0 = Sunday
};

// The current local date-time.
double now();
// Local date-time of a point in time given as microseconds since the epoch.
double fromUnixMicros(int64_t micros);
// Splits a date-time into calendar date and time of day (milliseconds rounded).
Parts split(double value);
double compose(const Parts& parts);
// struct tm for the date-time (for strftime).
std::tm toTm(double value);

}  // namespace datetime
