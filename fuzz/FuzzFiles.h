#pragma once
// Temporary files for fuzz targets that read their input from a file.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

// A new empty file under $TMPDIR (or /tmp) named after `name`.
inline std::string fuzzTempFile(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + name + ".XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) std::abort();
  ::close(fd);
  return pattern;
}

// Replaces the content of `path` by the fuzzer's input.
inline void writeFuzzInput(const std::string& path, const uint8_t* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n <= 0) std::abort();
    data += n;
    size -= static_cast<size_t>(n);
  }
  ::close(fd);
}
