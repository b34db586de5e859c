#pragma once
// A named reporting point. A channel filters reports by level, turns them
// into entries and hands them to its writers, then to one extra writer the
// caller may name. Its writers and levels come from "debug.properties" in
// the configuration folder (TSystem::getConfigurationPath()), read when the
// channel is made (and by refresh()), or from a table handed to it.
//
// Reporting never raises: a failure inside trace, error, clear or refresh is
// reported through internalError and swallowed. assertTrue is the one
// operation that raises to its caller.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "basis/Exceptions.h"
#include "debug/TDebugEntry.h"
#include "debug/TDebugObject.h"
#include "debug/TDebugReaders.h"
#include "debug/TDebugWriters.h"

class TMailWriter;
class TProperties;

// Raised by TChannel::assertTrue.
MORVANE_EXCEPTION(AssertException, Exception);

class TChannel : public TDebugObject {
  MORVANE_CLASS(TChannel, TDebugObject)

  // Bits of the verbose mode: what the header of each entry's text shows.
  static constexpr int32_t VERBOSE_TIME = TDebugEntry::VERBOSE_TIME;
  static constexpr int32_t VERBOSE_CHANNEL = TDebugEntry::VERBOSE_CHANNEL;
  static constexpr int32_t VERBOSE_ELAPSED = TDebugEntry::VERBOSE_ELAPSED;

  // Levels and writers when "debug.properties" cannot be used.
  static constexpr int32_t DEFAULT_ERROR_LEVEL = 4;
  static constexpr int32_t DEFAULT_TRACE_LEVEL = 5;
  static constexpr int32_t DEFAULT_VERBOSE_MODE = VERBOSE_TIME | VERBOSE_CHANNEL;

  // A channel named `name` (kept as given), configured by refresh().
  explicit TChannel(const std::string& name);
  // A channel configured from `settings` rather than from the file.
  TChannel(const std::string& name, const TProperties& settings);
  ~TChannel() override;

  // trace(true, message, 0, nullptr).
  void trace(const std::string& message);
  // trace(true, message, level, nullptr).
  void trace(const std::string& message, int32_t level);
  // When enabled and level <= traceLevel: a trace entry goes to every trace
  // writer in order, then to `extraWriter` (may be nullptr, not taken). A
  // failing writer ends the report for that entry.
  void trace(bool enabled, const std::string& message, int32_t level, TDebugWriter* extraWriter);
  // error(true, exception, message, level, extraWriter).
  void error(const std::exception* exception, const std::string& message, int32_t level,
             TDebugWriter* extraWriter);
  // When enabled and level <= errorLevel: an error entry with the class and
  // message of `exception` (may be nullptr), the caller's `message` and the
  // system's text for the current errno goes to every error writer, then to
  // `extraWriter`.
  void error(bool enabled, const std::exception* exception, const std::string& message,
             int32_t level, TDebugWriter* extraWriter);
  // Raises AssertException with `message` when `condition` is false.
  virtual void assertTrue(bool condition, const std::string& message);

  // Reads "debug.properties" again and rebuilds the writers and readers.
  // When that fails, the channel reports it and falls back to standard
  // output with the default levels.
  void refresh();
  // The same from `settings` instead of the file.
  void configure(const TProperties& settings);
  // Destroys the trace writers, the error writers and the readers.
  void clear();
  // Adds every address of `text` (separated by blanks or commas) to
  // `mailWriter`; a bad one is reported and skipped.
  void parseRecipients(const std::string& text, TMailWriter& mailWriter);

  // The sender of the channels' mails when neither "debug.mail.from" nor
  // "system.from-header" names one.
  static constexpr const char* PLACEHOLDER_SENDER = "Morvane <morvane@localhost>";

  // The system's text for the error number `error`, at most 256 characters,
  // without trailing characters of code 32 or less and trailing ".".
  static std::string systemMessage(int error);

  int32_t errorLevel = DEFAULT_ERROR_LEVEL;
  int32_t traceLevel = DEFAULT_TRACE_LEVEL;
  int32_t verboseMode = DEFAULT_VERBOSE_MODE;
  // The name as first asked for.
  std::string name;
  std::unique_ptr<TDebugWriters> traceWriters;
  std::unique_ptr<TDebugWriters> errorWriters;
  // One binary reader per binary entry file the channel writes: the error
  // file's first. readers->read() gives every stored entry.
  std::unique_ptr<TDebugReaders> readers;
  // Time of the previous entry while VERBOSE_ELAPSED is set; 0 until then.
  double lastEntryTime = 0.0;

 protected:
  // The value of base key `key` for this channel: "<name>.<key>", else
  // "system.<key>", else `defaultValue`. Values that do not convert count
  // as missing.
  int32_t integerSetting(const TProperties& table, const std::string& key,
                         int32_t defaultValue) const;
  bool booleanSetting(const TProperties& table, const std::string& key, bool defaultValue) const;
  std::string stringSetting(const TProperties& table, const std::string& key,
                            const std::string& defaultValue) const;

  // refresh() with `settings`, or with the file when it is nullptr.
  void reconfigure(const TProperties* settings);
  void configureLevels(const TProperties& table);
  void configureFiles(const TProperties& table);
  // With "debug.mail.enabled": one mail writer among the error writers and
  // one among the trace writers, sharing one sender.
  void configureMail(const TProperties& table);

 private:
  TChannel(const std::string& name, const TProperties* settings);
};
