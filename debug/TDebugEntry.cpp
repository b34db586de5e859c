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
