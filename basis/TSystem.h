#pragma once
// The keys of "system.properties", the executable's location and the
// folder that holds the program's configuration.

#include <memory>
#include <string>
#include <vector>

class TProperties;

class TSystem {
 public:
  static std::string hostKey() { return "system.host"; }
  static std::string hostDisplayKey() { return "system.host.display"; }
  static std::string hostEnvironmentKey() { return "system.host.environment"; }
  static std::string smtpHostAddressKey() { return "system.smtp-host.address"; }
  static std::string smtpHostPortKey() { return "system.smtp-host.port"; }
  static std::string fromHeaderKey() { return "system.from-header"; }
  static std::string mailEnabledKey() { return "system.mail-enabled"; }
  // Mail through a provider: none | starttls | tls, the login's user name,
  // the file holding its password, the CAs trusted for the server.
  static std::string smtpHostSecurityKey() { return "system.smtp-host.security"; }
  static std::string smtpHostUserKey() { return "system.smtp-host.user"; }
  static std::string smtpHostPasswordFileKey() { return "system.smtp-host.password-file"; }
  static std::string smtpHostCaFileKey() { return "system.smtp-host.ca-file"; }

  // The value of `key` in "system.properties" of the current directory, read
  // anew on every call; `defaultValue` when the key is absent. Never raises:
  // a missing or unreadable file gives the empty text.
  static std::string getProperty(const std::string& key, const std::string& defaultValue);
  // The table of "system.properties" in the current directory; an empty
  // table when the file is missing or cannot be read.
  static std::unique_ptr<TProperties> readSystemProperties();

  // The executable's full path.
  static std::string getExecutablePath();
  // The executable's directory, ending with "/", or the folder set below.
  static std::string getApplicationPath();
  // Makes getApplicationPath() give `folder` (a "/" is added when missing),
  // so that tests keep the files read from there in a folder of their own;
  // the empty text returns to the executable's directory.
  static void setApplicationPath(const std::string& folder);

  // The main configuration file's name for an executable: the executable's
  // file name up to its last "." (all of it without one) plus ".properties".
  // Dots in folder names play no part.
  static std::string configurationFileName(const std::string& executablePath);
  // The folders searched for the configuration, first wins, each ending with
  // "/": $XDG_CONFIG_HOME/morvane (else ~/.config/morvane), the executable's
  // directory, then every $XDG_CONFIG_DIRS entry + /morvane (else
  // /etc/xdg/morvane). Relative entries in the variables are ignored.
  static std::vector<std::string> configurationFolders();
  // The same with `programFolder` (ending with "/") in the executable's place,
  // for a companion command that looks where the program would.
  static std::vector<std::string> configurationFolders(const std::string& programFolder);
  // The first of configurationFolders() that holds the main configuration
  // file; the executable's directory when none does. debug.properties is
  // read from the same folder.
  static std::string getConfigurationPath();
  // The same for a main configuration file of the name `mainFileName`, so a
  // companion command finds the program's configuration under its name.
  static std::string getConfigurationPath(const std::string& mainFileName);
  static std::string getConfigurationPath(const std::string& mainFileName, const std::string& programFolder);
};
