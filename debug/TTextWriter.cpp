#include "debug/TTextWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basis/FileSystem.h"
#include "debug/TDebugEntry.h"

namespace {

// Appends `text` to the file `fileName`, creating the file when there is
// none: the append and write modes of a text file in one open, so a report
// costs one open, one write and one close. A file without any write
// permission bit is refused like a text file refuses it, also for a
// process that could override the bits.
void appendText(const std::string& fileName, const std::string& text) {
  if (fileName.empty()) throw IOException("Missing filename, can't write to stdout.");
  int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    int error = errno;
    if (error == EACCES && fileutil::fileExists(fileName)) {
      throw IOException("Try to write read only file '" + fileName + "'.");
    }
    throw IOException(fileutil::systemMessage(error));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    ::close(fd);
    throw IOException("Try to write read only file '" + fileName + "'.");
  }
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;
      ::close(fd);
      throw IOException(fileutil::systemMessage(error));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd) != 0) throw IOException(fileutil::systemMessage(errno));
}

}  // namespace

void TTextWriter::write(const TDebugEntry& entry) {
  try {
    std::string line = entry.toString();
    line += "\r\n";
    appendText(fileName, line);
  } catch (const std::exception& e) {
    throw IOException("TTextWriter.write: " + wrappedText(e));
  }
}
