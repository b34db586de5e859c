#include "report/ConfiguredLogs.h"

#include <filesystem>
#include <memory>

#include "basis/ConnectionLogLine.h"
#include "basis/FileSystem.h"
#include "basis/TArrayList.h"
#include "basis/TProperties.h"
#include "basis/TSystem.h"
#include "debug/TBinaryWriter.h"
#include "debug/TChannel.h"
#include "debug/TTextWriter.h"

namespace {
constexpr const char* PROGRAM = "morvane";

void addFilesOf(const TDebugWriters& writers, const TClass& kind, std::vector<std::string>& files) {
  std::unique_ptr<TArrayList> found = writers.get(kind);
  for (int32_t i = 0; found != nullptr && i < found->size(); ++i) {
    files.push_back(as<TFileWriter>(found->get(i))->fileName);
  }
}
}  // namespace

std::string programFolder() {
  const std::string own = TSystem::getApplicationPath();
  std::error_code error;
  const std::filesystem::path program = std::filesystem::canonical(own + PROGRAM, error);
  if (error || !std::filesystem::is_regular_file(program, error)) return own;
  return program.parent_path().string() + "/";
}

ConfiguredLogs configuredConnectionLogs() {
  ConfiguredLogs logs;
  const std::string program = programFolder();
  logs.searched = TSystem::configurationFolders(program);
  logs.folder = TSystem::getConfigurationPath(TSystem::configurationFileName(PROGRAM), program);
  const std::string settingsFile = logs.folder + "debug.properties";
  if (!fileutil::fileExists(settingsFile)) {
    logs.problem = settingsFile + " is missing";
    return logs;
  }
  try {
    TProperties settings(settingsFile);
    // Only the channel's files are wanted, not its mail.
    settings.setProperty(std::string(CONNECTION_LOG_CHANNEL) + ".debug.mail.enabled", "false");
    TChannel channel(std::string(CONNECTION_LOG_CHANNEL), settings);
    addFilesOf(*channel.traceWriters, TTextWriter::classInfo(), logs.files);
    addFilesOf(*channel.traceWriters, TBinaryWriter::classInfo(), logs.files);
  } catch (const std::exception& e) {
    logs.problem = settingsFile + ": " + e.what();
    return logs;
  }
  if (logs.files.empty()) {
    const std::string channel(CONNECTION_LOG_CHANNEL);
    logs.problem = settingsFile + " names no connection log: " + channel + ".debug.tracefile (a text log) or " +
                   channel + ".debug.binary-tracefile (an entry file), or their system.* forms";
  }
  return logs;
}
