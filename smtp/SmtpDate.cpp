#include "smtp/SmtpDate.h"

#include "basis/TString.h"

namespace {

const char* const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string twoDigits(long value) { return TString::padNumber(value, 2); }

std::string zoneOffsetText(const std::tm& local) {
  long bias = -local.tm_gmtoff / 60;  // UTC minus local time, in minutes
  long magnitude = bias < 0 ? -bias : bias;
  return (bias < 0 ? "+" : "-") + twoDigits(magnitude / 60) + twoDigits(magnitude % 60);
}

}  // namespace

std::string smtpZoneOffset(std::time_t when) {
  std::tm local{};
  return localtime_r(&when, &local) ? zoneOffsetText(local) : "-0000";
}

std::string smtpDateText(std::time_t when) {
  std::tm t{};
  if (!localtime_r(&when, &t)) return "";
  return std::string(DAY_NAMES[t.tm_wday]) + ", " + std::to_string(t.tm_mday) + " " + MONTH_NAMES[t.tm_mon] +
         " " + std::to_string(t.tm_year + 1900) + " " + twoDigits(t.tm_hour) + ":" + twoDigits(t.tm_min) + ":" +
         twoDigits(t.tm_sec) + " " + zoneOffsetText(t);
}
