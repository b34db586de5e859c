#pragma once
// An entry made by a channel's error: the caller's text with a label for the
// level, the caught exception and the system's message for the last error.

#include <exception>

#include "debug/TDebugEntry.h"

class TErrorEntry : public TDebugEntry {
  MORVANE_CLASS(TErrorEntry, TDebugEntry)

  TErrorEntry();
  // Class name and message of `exception` (none: both empty); stamped now.
  // A failure raises CreateException "TErrorEntry.create: (Class) message".
  TErrorEntry(const std::exception* exception, const std::string& systemMessage, int32_t level,
              const std::string& message, const std::string& channelName, int32_t flags,
              double previousTime);
  // Stamped now.
  TErrorEntry(const std::string& exceptionMessage, const std::string& exceptionClass,
              const std::string& systemMessage, int32_t level, const std::string& message,
              const std::string& channelName, int32_t flags, double previousTime);
  // Every field given.
  TErrorEntry(const std::string& exceptionMessage, const std::string& exceptionClass,
              const std::string& systemMessage, int32_t level, const std::string& message,
              const std::string& channelName, int32_t flags, double previousTime, double time);

  // Lines, each ended by CR LF: header + label + message; when there is an
  // exception class: an empty line, "\texception", "\tclass: ...",
  // "\tmessage: ..." and "\tsystem message: ..." (the last two only when
  // not empty, with tabs and line breaks removed); finally an empty line.
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;
  // The entry fields, then exception message, exception class, system message.
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;
  void initialize() override;

  // The label that starts the text after the header for an error of `level`.
  static std::string labelFor(int32_t level);
  // `text` without tabs, carriage returns and line feeds.
  static std::string stripControls(const std::string& text);

  std::string exceptionClass;
  std::string exceptionMessage;
  std::string systemMessage;

 private:
  void assignError(const std::string& exceptionMessage, const std::string& exceptionClass,
                   const std::string& systemMessage, int32_t level, const std::string& message,
                   const std::string& channelName, int32_t flags, double previousTime,
                   double time);
};
