#include "debug/TDebugEntry.h"

#include "basis/DateTime.h"
#include "basis/TFile.h"
#include "basis/TString.h"
#include "basis/ValueObjects.h"

TDebugEntry::TDebugEntry() : TPObject(TBlank{}) { initialize(); }

TDebugEntry::TDebugEntry(const std::string& message, const std::string& channelName,
                         int32_t flags, int32_t level, double previousTime)
    : TPObject(TBlank{}) {
  assign("TDebugEntry.create", message, channelName, flags, level, previousTime,
         datetime::now());
}

TDebugEntry::TDebugEntry(const std::string& message, const std::string& channelName,
                         int32_t flags, int32_t level, double previousTime, double time)
    : TPObject(TBlank{}) {
  assign("TDebugEntry.create", message, channelName, flags, level, previousTime, time);
}

void TDebugEntry::assign(const char* method, const std::string& newMessage,
                         const std::string& newChannelName, int32_t newFlags, int32_t newLevel,
                         double newPreviousTime, double newTime) {
  try {
    initialize();
    message = newMessage;
    channelName = newChannelName;
    flags = newFlags;
    level = newLevel;
    previousTime = newPreviousTime;
    time = newTime;
  } catch (const std::exception& e) {
    throw CreateException(std::string(method) + ": " + wrappedText(e));
  }
}

void TDebugEntry::initialize() {
  TPObject::initialize();
  message.clear();
  channelName.clear();
  flags = 0;
  level = 0;
  time = datetime::now();
  previousTime = time;
}

std::string TDebugEntry::toString() const {
  std::string header;
  if ((flags & VERBOSE_TIME) != 0) {
    header += formatTime(time);
    header += ' ';
  }
  if ((flags & VERBOSE_CHANNEL) != 0) header += channelName;
  if ((flags & VERBOSE_ELAPSED) != 0) {
    header += " (";
    header += std::to_string(TTDateTime::elapsedMillis(time, previousTime));
    header += " ms)";
  }
  header += ": ";
  return header;
}

std::string TDebugEntry::formatTime(double value) const { return formatDateTime(value); }

std::string TDebugEntry::formatDateTime(double value) {
  datetime::Parts p = datetime::split(value);
  std::string text;
  text.reserve(23);
  text += TString::padNumber(p.day, 2);
  text += '.';
  text += TString::padNumber(p.month, 2);
  text += '.';
  text += TString::padNumber(p.year, 4);
  text += ' ';
  text += TString::padNumber(p.hour, 2);
  text += ':';
  text += TString::padNumber(p.minute, 2);
  text += ':';
  text += TString::padNumber(p.second, 2);
  text += '.';
  text += TString::padNumber(p.millisecond, 3);
  return text;
}

namespace {

// The value of the decimal digits text[at, at + count), or -1 when one of
// them is no digit.
int digitsAt(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
    if (digit > 9) return -1;
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : DAYS[month - 1];
}

// " (<digits> ms)" at the end of `text`: the elapsed time of the header.
bool endsWithElapsed(std::string_view text, size_t& start) {
  constexpr std::string_view SUFFIX = " ms)";
  if (text.size() < SUFFIX.size() || text.substr(text.size() - SUFFIX.size()) != SUFFIX) return false;
  size_t digits = text.size() - SUFFIX.size();
  size_t first = digits;
  while (first > 0 && text[first - 1] >= '0' && text[first - 1] <= '9') --first;
  if (first == digits || first < 2 || text.substr(first - 2, 2) != " (") return false;
  start = first - 2;
  return true;
}

}  // namespace

bool TDebugEntry::parseDateTime(std::string_view text, datetime::Parts& parts) {
  if (text.size() != 23 || text[2] != '.' || text[5] != '.' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.') {
    return false;
  }
  const int day = digitsAt(text, 0, 2), month = digitsAt(text, 3, 2), year = digitsAt(text, 6, 4);
  const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2);
  const int second = digitsAt(text, 17, 2), millisecond = digitsAt(text, 20, 3);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0) {
    return false;
  }
  parts = datetime::Parts{year, month, day, hour, minute, second, millisecond};
  return true;
}

bool TDebugEntry::parseHeader(std::string_view line, TextHeader& header) {
  constexpr size_t STAMP = 23;
  header.hasTime = line.size() > STAMP && line[STAMP] == ' ' &&
                   parseDateTime(line.substr(0, STAMP), header.time);
  std::string_view rest = header.hasTime ? line.substr(STAMP + 1) : line;
  const size_t colon = rest.find(": ");
  if (colon == std::string_view::npos) return false;
  std::string_view names = rest.substr(0, colon);
  size_t elapsed;
  if (endsWithElapsed(names, elapsed)) names = names.substr(0, elapsed);
  header.channelName = names;
  header.message = rest.substr(colon + 2);
  return true;
}

void TDebugEntry::copyFieldsTo(TDebugEntry& copy) const {
  copy.message = message;
  copy.channelName = channelName;
  copy.flags = flags;
  copy.level = level;
  copy.previousTime = previousTime;
  copy.time = time;
}

std::unique_ptr<TMappedObject> TDebugEntry::clone() const {
  auto copy = std::make_unique<TDebugEntry>();
  copyFieldsTo(*copy);
  return copy;
}

void TDebugEntry::readFrom(TFile& file) {
  message = file.readString();
  channelName = file.readString();
  flags = file.readInteger();
  level = file.readInteger();
  previousTime = file.readDouble();
  time = file.readDouble();
}

void TDebugEntry::writeTo(TFile& file) {
  file.writeString(message);
  file.writeString(channelName);
  file.writeInteger(flags);
  file.writeInteger(level);
  file.writeDouble(previousTime);
  file.writeDouble(time);
}
