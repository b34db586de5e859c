#include "report/ReportFormatting.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace reportformat {

namespace {

std::string printed(const char* format, auto... values) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, values...);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// Appends `value` (not negative) in decimal, with zeros in front up to
// `width` digits. Reports write millions of these: no printf here.
void appendNumber(std::string& text, int64_t value, int width) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 20);
  for (int i = n; i < width; ++i) text += '0';
  while (n > 0) text += digits[--n];
}

// "2026-03-29", then `separator` and "03:30:00" when `separator` is given.
std::string localText(int64_t localMs, char separator) {
  const datetime::Parts p = ZoneClock::wallTime(localMs);
  std::string text;
  text.reserve(32);
  appendNumber(text, p.year, 4);
  text += '-';
  appendNumber(text, p.month, 2);
  text += '-';
  appendNumber(text, p.day, 2);
  if (separator != '\0') {
    text += separator;
    appendNumber(text, p.hour, 2);
    text += ':';
    appendNumber(text, p.minute, 2);
    text += ':';
    appendNumber(text, p.second, 2);
  }
  return text;
}

}  // namespace

std::string isoInstant(const Instant& instant) {
  std::string text = localText(instant.localMs(), 'T');
  text += '.';
  appendNumber(text, instant.localMs() - ZoneClock::floorDiv(instant.localMs(), 1000) * 1000, 3);
  const int32_t offset = instant.offsetSeconds < 0 ? -instant.offsetSeconds : instant.offsetSeconds;
  text += instant.offsetSeconds < 0 ? '-' : '+';
  appendNumber(text, offset / 3600, 2);
  text += ':';
  appendNumber(text, offset / 60 % 60, 2);
  // Offsets of local mean time before 1970 may hold seconds.
  if (offset % 60 != 0) {
    text += ':';
    appendNumber(text, offset % 60, 2);
  }
  return text;
}

std::string wallClock(const Instant& instant) { return localText(instant.localMs(), ' '); }

std::string date(int64_t day) { return localText(day * ZoneClock::DAY_MS, '\0'); }

std::string month(int year, int month) {
  std::string text;
  appendNumber(text, year, 4);
  text += '-';
  appendNumber(text, month, 2);
  return text;
}

std::string seconds(int64_t ms) {
  std::string text;
  appendNumber(text, ms / 1000, 1);
  if (ms % 1000 == 0) return text;
  text += '.';
  appendNumber(text, ms % 1000, 3);
  while (text.back() == '0') text.pop_back();
  return text;
}

std::string clock(int64_t ms) {
  const int64_t total = (ms + 500) / 1000;
  std::string text;
  appendNumber(text, total / 3600, 1);
  text += ':';
  appendNumber(text, total / 60 % 60, 2);
  text += ':';
  appendNumber(text, total % 60, 2);
  return text;
}

std::string bytes(uint64_t count) {
  if (count < 1000) return printed("%" PRIu64 " B", count);
  static const char* const UNITS[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(count) / 1000.0;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < sizeof UNITS / sizeof UNITS[0]) {
    value /= 1000.0;
    ++unit;
  }
  return printed(value < 9.995 ? "%.2f %s" : value < 99.95 ? "%.1f %s" : "%.0f %s", value, UNITS[unit]);
}

std::string csvField(std::string_view text) {
  if (text.find_first_of("\",\r\n") == std::string_view::npos) return std::string(text);
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::string jsonString(std::string_view text) {
  std::string json = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      json += printed("\\u%04x", byte);
    } else {
      json += c;
    }
  }
  return json + "\"";
}

}  // namespace reportformat
