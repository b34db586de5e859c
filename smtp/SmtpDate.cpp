#include "smtp/SmtpDate.h"

#include <cstdio>

namespace {

const char* const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string twoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d", value);
  return text;
}

}  // namespace

std::string smtpZoneOffset(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return "-0000";
  long bias = -local.tm_gmtoff / 60;  // UTC minus local time, in minutes
  long magnitude = bias < 0 ? -bias : bias;
  std::string text = "-" + twoDigits(static_cast<int>(magnitude / 60)) + twoDigits(static_cast<int>(magnitude % 60));
  if (bias < 0) text[0] = '+';
  return text;
}

std::string smtpDateText(std::time_t when) {
  std::tm t{};
  if (!localtime_r(&when, &t)) return "";
  return std::string(DAY_NAMES[t.tm_wday]) + ", " + std::to_string(t.tm_mday) + " " + MONTH_NAMES[t.tm_mon] +
         " " + std::to_string(t.tm_year + 1900) + " " + twoDigits(t.tm_hour) + ":" + twoDigits(t.tm_min) + ":" +
         twoDigits(t.tm_sec) + " " + smtpZoneOffset(when);
}
