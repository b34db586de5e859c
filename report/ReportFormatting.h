#pragma once
// The texts of times, lengths and byte counts in reports.

#include <cstdint>
#include <string>
#include <string_view>

#include "report/ZoneClock.h"

namespace reportformat {

// "2026-03-29T03:30:00.000+02:00": local time and the offset in force.
std::string isoInstant(const Instant& instant);
// "2026-03-29 03:30:00", the local wall time.
std::string wallClock(const Instant& instant);
// "2026-03-29" of a local day (days since 1970-01-01), "2026-03" of a month.
std::string date(int64_t day);
std::string month(int year, int month);
// Seconds as a number with the milliseconds when there are any: "3600", "0.25".
std::string seconds(int64_t ms);
// "1:02:03", rounded to the second; hours beyond 24 are counted on.
std::string clock(int64_t ms);
// Three digits and a unit of powers of 1000: "999 B", "1.50 kB", "12.3 MB", "102 GB".
std::string bytes(uint64_t count);
// A CSV field (RFC 4180): quoted when it holds a quote, comma, CR or LF.
std::string csvField(std::string_view text);
// A JSON string of UTF-8 text, with quotes, backslashes and control characters escaped.
std::string jsonString(std::string_view text);

}  // namespace reportformat
