#include "debug/TChannel.h"

#include <cerrno>
#include <cstdlib>

#include "basis/DateTime.h"
#include "basis/FileSystem.h"
#include "basis/TStringTokenizer.h"
#include "basis/TProperties.h"
#include "basis/TSystem.h"
#include "debug/TBinaryReader.h"
#include "debug/TBinaryWriter.h"
#include "debug/TDebugReaders.h"
#include "debug/TDebugWriters.h"
#include "debug/TErrorEntry.h"
#include "debug/TMailWriter.h"
#include "mail/TMailAddress.h"
#include "debug/TSystemOutWriter.h"
#include "debug/TTextWriter.h"
#include "debug/TTraceEntry.h"

TChannel::TChannel(const std::string& channelName) : TChannel(channelName, nullptr) {}

TChannel::TChannel(const std::string& channelName, const TProperties& settings)
    : TChannel(channelName, &settings) {}

TChannel::TChannel(const std::string& channelName, const TProperties* settings) : TDebugObject(TBlank{}) {
  traceWriters = std::make_unique<TDebugWriters>();
  errorWriters = std::make_unique<TDebugWriters>();
  readers = std::make_unique<TDebugReaders>();
  name = channelName;
  reconfigure(settings);
  if ((verboseMode & VERBOSE_ELAPSED) != 0) lastEntryTime = datetime::now();
}

TChannel::~TChannel() = default;

void TChannel::trace(const std::string& message) { trace(true, message, 0, nullptr); }

void TChannel::trace(const std::string& message, int32_t level) {
  trace(true, message, level, nullptr);
}

void TChannel::trace(bool enabled, const std::string& message, int32_t level,
                     TDebugWriter* extraWriter) {
  if (!enabled || level > traceLevel) return;
  guarded("TChannel.trace", [&] {
    TTraceEntry entry(message, name, verboseMode, level, lastEntryTime);
    if ((verboseMode & VERBOSE_ELAPSED) != 0) lastEntryTime = entry.time;
    traceWriters->write(entry);
    if (extraWriter != nullptr) extraWriter->write(entry);
  });
}

void TChannel::error(const std::exception* exception, const std::string& message,
                     int32_t level, TDebugWriter* extraWriter) {
  error(true, exception, message, level, extraWriter);
}

void TChannel::error(bool enabled, const std::exception* exception, const std::string& message,
                     int32_t level, TDebugWriter* extraWriter) {
  const int lastError = errno;
  if (!enabled || level > errorLevel) return;
  guarded("TChannel.error", [&] {
    TErrorEntry entry(exception, systemMessage(lastError), level, message, name, verboseMode,
                      lastEntryTime);
    if ((verboseMode & VERBOSE_ELAPSED) != 0) lastEntryTime = entry.time;
    errorWriters->write(entry);
    if (extraWriter != nullptr) extraWriter->write(entry);
  });
}

void TChannel::assertTrue(bool condition, const std::string& message) {
  if (!condition) throw AssertException(message);
}

std::string TChannel::systemMessage(int error) {
  std::string text = fileutil::systemMessage(error);
  if (text.size() > 256) text.resize(256);
  size_t end = text.size();
  while (end > 0 && (static_cast<unsigned char>(text[end - 1]) <= 32 || text[end - 1] == '.')) {
    --end;
  }
  text.resize(end);
  return text;
}

void TChannel::refresh() { reconfigure(nullptr); }

void TChannel::configure(const TProperties& settings) { reconfigure(&settings); }

void TChannel::reconfigure(const TProperties* settings) {
  try {
    std::unique_ptr<TProperties> file;
    if (settings == nullptr) {
      file = std::make_unique<TProperties>(TSystem::getConfigurationPath() + "debug.properties");
    }
    const TProperties& table = settings != nullptr ? *settings : *file;
    clear();
    configureLevels(table);
    configureFiles(table);
    configureMail(table);
    return;
  } catch (const std::exception& e) {
    internalError("TChannel.refresh", &e);
  } catch (...) {
    internalError("TChannel.refresh", nullptr);
  }
  // Standard output only, with the default levels.
  try {
    clear();
    traceWriters->add(std::make_unique<TSystemOutWriter>());
    errorWriters->add(std::make_unique<TSystemOutWriter>());
  } catch (...) {
  }
  errorLevel = DEFAULT_ERROR_LEVEL;
  traceLevel = DEFAULT_TRACE_LEVEL;
  verboseMode = DEFAULT_VERBOSE_MODE;
}

void TChannel::clear() {
  guarded("TChannel.clear", [this] {
    traceWriters->clear();
    errorWriters->clear();
    readers->clear();
  });
}

int32_t TChannel::integerSetting(const TProperties& table, const std::string& key,
                                 int32_t defaultValue) const {
  return table.getInteger(name + "." + key, table.getInteger("system." + key, defaultValue));
}

bool TChannel::booleanSetting(const TProperties& table, const std::string& key,
                              bool defaultValue) const {
  return table.getBoolean(name + "." + key, table.getBoolean("system." + key, defaultValue));
}

std::string TChannel::stringSetting(const TProperties& table, const std::string& key,
                                    const std::string& defaultValue) const {
  return table.getString(name + "." + key, table.getString("system." + key, defaultValue));
}

void TChannel::configureLevels(const TProperties& table) {
  errorLevel = integerSetting(table, "debug.errorlevel", DEFAULT_ERROR_LEVEL);
  traceLevel = integerSetting(table, "debug.tracelevel", DEFAULT_TRACE_LEVEL);
  verboseMode = integerSetting(table, "debug.verbosemode", DEFAULT_VERBOSE_MODE);
  if (booleanSetting(table, "debug.errorsystemout", true)) {
    errorWriters->add(std::make_unique<TSystemOutWriter>());
  }
  if (booleanSetting(table, "debug.tracesystemout", true)) {
    traceWriters->add(std::make_unique<TSystemOutWriter>());
  }
}

// A file name starting with "~/" lies in the user's home folder, one
// starting with "$XDG_STATE_HOME/" in the user's state folder (that
// variable when it holds an absolute path, else ~/.local/state), so one
// configuration can send every user's logs to a folder of their own.
static std::string withHomeExpanded(const std::string& fileName) {
  const char* home = std::getenv("HOME");
  const bool hasHome = home != nullptr && home[0] != '\0';
  const std::string stateKey = "$XDG_STATE_HOME/";
  if (fileName.rfind(stateKey, 0) == 0) {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + fileName.substr(stateKey.size() - 1);
    if (hasHome) return std::string(home) + "/.local/state" + fileName.substr(stateKey.size() - 1);
    return fileName;
  }
  if (fileName.rfind("~/", 0) != 0 || !hasHome) return fileName;
  return std::string(home) + fileName.substr(1);
}

void TChannel::configureFiles(const TProperties& table) {
  std::string errorFile = withHomeExpanded(stringSetting(table, "debug.errorfile", ""));
  if (!errorFile.empty()) errorWriters->add(std::make_unique<TTextWriter>(errorFile));
  std::string binaryErrorFile = withHomeExpanded(stringSetting(table, "debug.binary-errorfile", ""));
  if (!binaryErrorFile.empty()) {
    errorWriters->add(std::make_unique<TBinaryWriter>(binaryErrorFile));
    readers->add(std::make_unique<TBinaryReader>(binaryErrorFile));
  }
  std::string traceFile = withHomeExpanded(stringSetting(table, "debug.tracefile", ""));
  if (!traceFile.empty()) traceWriters->add(std::make_unique<TTextWriter>(traceFile));
  std::string binaryTraceFile = withHomeExpanded(stringSetting(table, "debug.binary-tracefile", ""));
  if (!binaryTraceFile.empty()) {
    traceWriters->add(std::make_unique<TBinaryWriter>(binaryTraceFile));
    readers->add(std::make_unique<TBinaryReader>(binaryTraceFile));
  }
}

void TChannel::configureMail(const TProperties& table) {
  if (!booleanSetting(table, "debug.mail.enabled", false)) return;
  const std::string defaultSender =
      TSystem::getProperty(TSystem::fromHeaderKey(), PLACEHOLDER_SENDER);
  // One sender for both mail writers; it lives as long as either of them.
  std::shared_ptr<const TMailAddress> from =
      TMailAddress::fromString(stringSetting(table, "debug.mail.from", defaultSender));

  auto errorMail = std::make_unique<TMailWriter>(
      from, integerSetting(table, "debug.error-mail.level", 1));
  parseRecipients(stringSetting(table, "debug.error-mail.recipients", ""), *errorMail);
  errorWriters->add(std::move(errorMail));

  auto traceMail = std::make_unique<TMailWriter>(
      from, integerSetting(table, "debug.trace-mail.level", 1));
  parseRecipients(stringSetting(table, "debug.trace-mail.recipients", ""), *traceMail);
  traceWriters->add(std::move(traceMail));
}

void TChannel::parseRecipients(const std::string& text, TMailWriter& mailWriter) {
  TStringTokenizer tokens(text, " ,");
  while (tokens.hasMoreTokens()) {
    std::string token = tokens.nextToken();
    guarded("TChannel.parseRecipients", [&] { mailWriter.addRecipient(token); });
  }
}
