#pragma once
// The program's own command-line options. Qt's options (-platform,
// -display, ...) are left to Qt; any other argument is ignored, as before
// options existed.

#include <string>

#include "basis/CommandLineAction.h"

struct CommandLineRequest {
  using Action = CommandLineAction;
  Action action = Action::Run;
  std::string badOption;  // for UsageError
};

CommandLineRequest parseCommandLine(int argc, char** argv);

// The text of --help: usage, options, the configuration folder in use and
// where else it is looked for, the exit statuses.
std::string helpText();
std::string versionText();
