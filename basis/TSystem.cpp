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

std::string TSystem::getExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string TSystem::getApplicationPath() {
  std::string path = getExecutablePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
