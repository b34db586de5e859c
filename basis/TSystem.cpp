#include "basis/TSystem.h"

#include <unistd.h>

#include <vector>

#include "basis/TProperties.h"

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
