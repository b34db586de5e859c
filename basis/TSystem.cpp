#include "basis/TSystem.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "basis/FileSystem.h"
#include "basis/TProperties.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"

namespace {

// An environment variable's value; empty when unset.
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Only absolute folders count: a relative entry would depend on the folder
// the program was started from.
void addFolder(std::vector<std::string>& folders, const std::string& base) {
  if (base.empty() || base[0] != '/') return;
  std::string folder = base;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  folders.push_back(folder + "morvane/");
}

}  // namespace

std::string TSystem::getProperty(const std::string& key, const std::string& defaultValue) {
  try {
    TProperties properties("system.properties");
    return properties.getString(key, defaultValue);
  } catch (...) {
    return {};
  }
}

std::unique_ptr<TProperties> TSystem::readSystemProperties() {
  auto properties = std::make_unique<TProperties>();
  try {
    properties->loadProperties("system.properties");
  } catch (...) {
    properties->clear();
  }
  return properties;
}

std::string TSystem::getExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

namespace {
std::string& applicationPathOverride() {
  static std::string folder;
  return folder;
}
}  // namespace

void TSystem::setApplicationPath(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path.push_back('/');
  applicationPathOverride() = path;
}

std::string TSystem::getApplicationPath() {
  if (!applicationPathOverride().empty()) return applicationPathOverride();
  std::string path = getExecutablePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string TSystem::configurationFileName(const std::string& executablePath) {
  size_t slash = executablePath.rfind('/');
  std::string name = slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + ".properties";
}

std::vector<std::string> TSystem::configurationFolders() { return configurationFolders(getApplicationPath()); }

std::vector<std::string> TSystem::configurationFolders(const std::string& programFolder) {
  std::vector<std::string> folders;
  std::string userHome = environment("XDG_CONFIG_HOME");
  if (!userHome.empty() && userHome[0] == '/') {
    addFolder(folders, userHome);
  } else {
    std::string home = environment("HOME");
    if (!home.empty() && home[0] == '/') addFolder(folders, (home == "/" ? "" : home) + "/.config");
  }
  folders.push_back(programFolder);
  const size_t before = folders.size();
  std::unique_ptr<TStringCollection> systemDirs = TString::split(environment("XDG_CONFIG_DIRS"), ':');
  for (int32_t i = 0; i < systemDirs->size(); ++i) addFolder(folders, systemDirs->get(i));
  if (folders.size() == before) addFolder(folders, "/etc/xdg");
  return folders;
}

std::string TSystem::getConfigurationPath() {
  return getConfigurationPath(configurationFileName(getExecutablePath()));
}

std::string TSystem::getConfigurationPath(const std::string& name) {
  return getConfigurationPath(name, getApplicationPath());
}

std::string TSystem::getConfigurationPath(const std::string& name, const std::string& programFolder) {
  for (const std::string& folder : configurationFolders(programFolder)) {
    if (fileutil::fileExists(folder + name)) return folder;
  }
  return programFolder;
}
