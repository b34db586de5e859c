#include "debug/TTextWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basis/FileSystem.h"
#include "debug/TDebugEntry.h"

void TTextWriter::write(const TDebugEntry& entry) {
  try {
    std::string line = entry.toString();
    line += "\r\n";
    // The append and write modes of a text file in one open, so a report
    // costs one open, one write and one close.
    auto failOpen = [](const std::string& why) { throw IOException("TTextFile.open: " + why); };
    if (fileName.empty()) failOpen("Missing filename, can't write to stdout.");
    const std::string readOnly = "Try to write read only file '" + fileName + "'.";
    fileutil::FileDescriptor file(::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (file.get() < 0) {
      int error = errno;
      failOpen(error == EACCES && fileutil::fileExists(fileName) ? readOnly
                                                                 : fileutil::systemMessage(error));
    }
    if (!fileutil::lockFile(file.get(), true, lockWaitMilliseconds)) failOpen(lockedMessage());
    // Refused like a text file refuses it, also for a process that could
    // override the bits.
    struct stat st {};
    const bool known = ::fstat(file.get(), &st) == 0;
    if (known && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) failOpen(readOnly);
    // Under the lock the end of the file is where this line starts; nobody
    // else appends until the lock goes, so cutting back touches only it.
    const off_t before = known ? st.st_size : -1;
    if (int error = fileutil::writeAll(file.get(), line.data(), line.size())) {
      if (before >= 0) (void)::ftruncate(file.get(), before);
      throw IOException("TTextFile.writeln: " + fileutil::systemMessage(error));
    }
    int fd = file.release();
    if (::close(fd) != 0) throw IOException("TTextFile.close: " + fileutil::systemMessage(errno));
  } catch (const std::exception& e) {
    throw IOException("TTextWriter.write: " + wrappedText(e));
  }
}
