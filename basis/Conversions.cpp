#include "basis/Conversions.h"

#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "basis/Exceptions.h"
#include "basis/TString.h"

namespace convert {

namespace {

[[noreturn]] void fail(const std::string& text, const char* what) {
  throw ConvertException("'" + text + "' is not a valid " + what);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses digits of `base` from text[i..] to the end; false on anything else
// or on a magnitude beyond `limit`.
bool digits(const std::string& text, size_t i, int base, uint64_t limit, uint64_t& out) {
  if (i >= text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    int d = base == 16 ? hexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > limit) return false;
  }
  out = value;
  return true;
}

bool startsWithText(const std::string& text, size_t at, const std::string& part) {
  return !part.empty() && TString::startsWith(text.substr(at), part, false);
}

}  // namespace

int32_t toInt32(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
  uint64_t magnitude = 0;
  if (!digits(text, i, base, limit, magnitude)) fail(text, "integer value");
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                  : static_cast<int32_t>(magnitude);
}

std::string decimalSeparator() {
  const char* point = std::localeconv()->decimal_point;
  return point != nullptr && *point != '\0' ? std::string(point) : std::string(".");
}

double toDouble(const std::string& text) {
  const std::string separator = decimalSeparator();
  // Only signs, digits, the separator and an exponent; strtod alone would
  // also take "inf", "nan", hexadecimal floats and leading blanks.
  bool anyDigit = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
    } else if (c == '+' || c == '-' || c == 'e' || c == 'E') {
    } else if (text.compare(i, separator.size(), separator) == 0) {
      i += separator.size() - 1;
    } else {
      fail(text, "floating point value");
    }
  }
  if (!anyDigit) fail(text, "floating point value");
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
    fail(text, "floating point value");
  }
  return value;
}

char timeSeparator() {
  std::string format = nl_langinfo(T_FMT);
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    char conversion = format[i + 1];
    if (conversion == 'T' || conversion == 'R' || conversion == 'r') return ':';
    if ((conversion == 'H' || conversion == 'I' || conversion == 'k' || conversion == 'l') && i + 2 < format.size()) {
      return format[i + 2];
    }
    ++i;
  }
  return ':';
}

std::string longTimeFormat() {
  std::string format = nl_langinfo(T_FMT);
  std::string readable;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      readable.push_back(format[i]);
      continue;
    }
    switch (format[++i]) {
      case 'H': case 'k': readable += "HH"; break;
      case 'I': case 'l': readable += "hh"; break;
      case 'M': readable += "mm"; break;
      case 'S': readable += "ss"; break;
      case 'p': case 'P': readable += "AM/PM"; break;
      case 'T': readable += "HH:mm:ss"; break;
      case 'R': readable += "HH:mm"; break;
      case 'r': readable += "hh:mm:ss AM/PM"; break;
      case '%': readable += '%'; break;
      default: readable += '%'; readable += format[i]; break;
    }
  }
  return readable;
}

double toTimeOfDay(const std::string& text) {
  const char separator = timeSeparator();
  const std::string decimal = decimalSeparator();
  size_t i = 0;
  auto number = [&](int maxDigits) {
    size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
           static_cast<int>(i - start) < maxDigits) {
      value = value * 10 + (text[i++] - '0');
    }
    if (i == start) fail(text, "time");
    return value;
  };
  auto blanks = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  blanks();
  int hour = number(2);
  if (i >= text.size() || text[i] != separator) fail(text, "time");
  ++i;
  int minute = number(2);
  int second = 0, millis = 0;
  if (i < text.size() && text[i] == separator) {
    ++i;
    second = number(2);
    if (text.compare(i, decimal.size(), decimal) == 0 && i + decimal.size() < text.size()) {
      i += decimal.size();
      size_t start = i;
      millis = number(3);
      for (size_t n = i - start; n < 3; ++n) millis *= 10;
    }
  }
  blanks();
  bool pm = false, am = false;
  const std::string amText = nl_langinfo(AM_STR), pmText = nl_langinfo(PM_STR);
  if (startsWithText(text, i, "PM") || startsWithText(text, i, pmText)) {
    pm = true;
    i += startsWithText(text, i, "PM") ? 2 : pmText.size();
  } else if (startsWithText(text, i, "AM") || startsWithText(text, i, amText)) {
    am = true;
    i += startsWithText(text, i, "AM") ? 2 : amText.size();
  }
  blanks();
  if (i != text.size()) fail(text, "time");
  if (am || pm) {
    if (hour < 1 || hour > 12) fail(text, "time");
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59) fail(text, "time");
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millis) / 86400000.0;
}

}  // namespace convert
