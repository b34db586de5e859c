#include "debug/TErrorEntry.h"

#include "basis/DateTime.h"
#include "basis/TFile.h"

TErrorEntry::TErrorEntry() : TDebugEntry(TBlank{}) { initialize(); }

TErrorEntry::TErrorEntry(const std::exception* exception, const std::string& systemMessage,
                         int32_t level, const std::string& message,
                         const std::string& channelName, int32_t flags, double previousTime)
    : TDebugEntry(TBlank{}) {
  std::string exceptionText, exceptionClassText;
  try {
    if (exception != nullptr) {
      exceptionText = exception->what();
      exceptionClassText = exceptionClassName(*exception);
    }
  } catch (const std::exception& e) {
    throw CreateException("TErrorEntry.create: " + wrappedText(e));
  }
  assignError(exceptionText, exceptionClassText, systemMessage, level, message, channelName,
              flags, previousTime, datetime::now());
}

TErrorEntry::TErrorEntry(const std::string& exceptionMessage, const std::string& exceptionClass,
                         const std::string& systemMessage, int32_t level,
                         const std::string& message, const std::string& channelName,
                         int32_t flags, double previousTime)
    : TDebugEntry(TBlank{}) {
  assignError(exceptionMessage, exceptionClass, systemMessage, level, message, channelName,
              flags, previousTime, datetime::now());
}

TErrorEntry::TErrorEntry(const std::string& exceptionMessage, const std::string& exceptionClass,
                         const std::string& systemMessage, int32_t level,
                         const std::string& message, const std::string& channelName,
                         int32_t flags, double previousTime, double time)
    : TDebugEntry(TBlank{}) {
  assignError(exceptionMessage, exceptionClass, systemMessage, level, message, channelName,
              flags, previousTime, time);
}

void TErrorEntry::assignError(const std::string& newExceptionMessage,
                              const std::string& newExceptionClass,
                              const std::string& newSystemMessage, int32_t newLevel,
                              const std::string& newMessage, const std::string& newChannelName,
                              int32_t newFlags, double newPreviousTime, double newTime) {
  assign("TErrorEntry.create", newMessage, newChannelName, newFlags, newLevel, newPreviousTime,
         newTime);
  try {
    exceptionMessage = newExceptionMessage;
    exceptionClass = newExceptionClass;
    systemMessage = newSystemMessage;
  } catch (const std::exception& e) {
    throw CreateException("TErrorEntry.create: " + wrappedText(e));
  }
}

void TErrorEntry::initialize() {
  TDebugEntry::initialize();
  exceptionClass.clear();
  exceptionMessage.clear();
  systemMessage.clear();
}

std::string TErrorEntry::labelFor(int32_t level) {
  switch (level) {
    case 0: return "NO ERROR: ";
    case 1: return "FATAL ERROR: ";
    case 2: return "ERROR: ";
    case 3: return "WARNING: ";
    case 4: return "ERROR NOTICE: ";
    default: return "-UNKNOWN ERROR- ";
  }
}

std::string TErrorEntry::stripControls(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != '\t' && c != '\r' && c != '\n') result += c;
  }
  return result;
}

std::string TErrorEntry::toString() const {
  static const char* const LINE_END = "\r\n";
  std::string text = TDebugEntry::toString() + labelFor(level) + message + LINE_END;
  if (!exceptionClass.empty()) {
    text += LINE_END;
    text += "\texception";
    text += LINE_END;
    text += "\tclass: " + exceptionClass + LINE_END;
    if (!exceptionMessage.empty()) {
      text += "\tmessage: " + stripControls(exceptionMessage) + LINE_END;
    }
    if (!systemMessage.empty()) {
      text += "\tsystem message: " + stripControls(systemMessage) + LINE_END;
    }
  }
  text += LINE_END;
  return text;
}

std::unique_ptr<TMappedObject> TErrorEntry::clone() const {
  auto copy = std::make_unique<TErrorEntry>();
  copyFieldsTo(*copy);
  copy->exceptionClass = exceptionClass;
  copy->exceptionMessage = exceptionMessage;
  copy->systemMessage = systemMessage;
  return copy;
}

void TErrorEntry::readFrom(TFile& file) {
  TDebugEntry::readFrom(file);
  exceptionMessage = file.readString();
  exceptionClass = file.readString();
  systemMessage = file.readString();
}

void TErrorEntry::writeTo(TFile& file) {
  TDebugEntry::writeTo(file);
  file.writeString(exceptionMessage);
  file.writeString(exceptionClass);
  file.writeString(systemMessage);
}
