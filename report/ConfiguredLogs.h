#pragma once
// The connection logs the configuration in use names: found as the program
// finds its configuration (the first of the configuration folders that
// holds morvane.properties, see TSystem), then the text and binary trace
// files that debug.properties there gives the "net-log" channel, resolved
// as the channel resolves them.

#include <string>
#include <vector>

struct ConfiguredLogs {
  std::string folder;                 // the configuration folder in use
  std::vector<std::string> searched;  // the folders looked in, in order
  std::vector<std::string> files;     // the text log, then the entry file
  std::string problem;                // why there are no files
};

// The folder the program lives in: the real folder of the "morvane" beside
// this command (bin/morvane links into libexec/morvane), else this
// command's own folder.
std::string programFolder();

ConfiguredLogs configuredConnectionLogs();
