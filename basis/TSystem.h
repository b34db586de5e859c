#pragma once
// The keys of "system.properties", the executable's location and the
// folder that holds the program's configuration.

#include <string>
#include <vector>

class TSystem {
 public:
  static std::string hostKey() { return "system.host"; }
  static std::string hostDisplayKey() { return "system.host.display"; }
  static std::string hostEnvironmentKey() { return "system.host.environment"; }
  static std::string smtpHostAddressKey() { return "system.smtp-host.address"; }
  static std::string smtpHostPortKey() { return "system.smtp-host.port"; }
  static std::string fromHeaderKey() { return "system.from-header"; }
  static std::string mailEnabledKey() { return "system.mail-enabled"; }

  // The value of `key` in "system.properties" of the current directory, read
  // anew on every call; `defaultValue` when the key is absent. Never raises:
  // a missing or unreadable file gives the empty text.
  static std::string getProperty(const std::string& key, const std::string& defaultValue);

  // The executable's full path.
  static std::string getExecutablePath();
  // The executable's directory, ending with "/".
  static std::string getApplicationPath();

  // The main configuration file's name for an executable: the executable's
  // file name up to its last "." (all of it without one) plus ".properties".
  // Dots in folder names play no part.
  static std::string configurationFileName(const std::string& executablePath);
  // The folders searched for the configuration, first wins, each ending with
  // "/": $XDG_CONFIG_HOME/morvane (else ~/.config/morvane), the executable's
  // directory, then every $XDG_CONFIG_DIRS entry + /morvane (else
  // /etc/xdg/morvane). Relative entries in the variables are ignored.
  static std::vector<std::string> configurationFolders();
  // The first of configurationFolders() that holds the main configuration
  // file; the executable's directory when none does. debug.properties is
  // read from the same folder.
  static std::string getConfigurationPath();
};
