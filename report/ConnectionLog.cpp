#include "report/ConnectionLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "basis/Exceptions.h"
#include "basis/FileSystem.h"
#include "debug/TDebugEntries.h"
#include "report/EntryFileReader.h"
#include "report/TextLogReader.h"

std::unique_ptr<EventSource> openConnectionLog(const std::string& path, ConnectionNames& names) {
  // Without O_NONBLOCK opening a FIFO would wait for a writer.
  fileutil::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) throw IOException(fileutil::systemMessage(errno));
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) throw IOException(fileutil::systemMessage(errno));
  if (!S_ISREG(status.st_mode)) throw IOException("not a regular file");
  const std::string header = TDebugEntries::HEADER;
  std::string head(header.size(), '\0');
  const ssize_t n = ::pread(file.get(), head.data(), head.size(), 0);
  if (n < 0) throw IOException("read failed: " + fileutil::systemMessage(errno));
  if (static_cast<size_t>(n) == header.size() && head == header) {
    return std::make_unique<EntryFileReader>(path, names);
  }
  return std::make_unique<TextLogReader>(file.release(), names);
}
