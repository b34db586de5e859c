#include "debug/TTextWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basis/FileSystem.h"
#include "basis/WritableFile.h"
#include "debug/TDebugEntry.h"

bool TTextWriter::writeLocked(const TDebugEntry& entry, int waitMilliseconds) {
  std::string line = entry.toString();
  line += "\r\n";
  // The append and write modes of a text file in one open, so a report
  // costs one open, one write and one close.
  fileutil::OpenedFile file = fileutil::openForWriting(fileName, fileutil::WriteMode::AppendOrMake,
                                                       fileutil::FileKinds::AlsoCharacterDevices);
  if (!file.ok()) throw IOException("TTextFile.open: " + file.failure);
  if (!fileutil::lockFile(file.fd.get(), true, waitMilliseconds)) return false;
  struct stat st {};
  const bool known = ::fstat(file.fd.get(), &st) == 0;
  // Under the lock the end of the file is where this line starts; nobody
  // else appends until the lock goes, so cutting back touches only it.
  const off_t before = known && S_ISREG(st.st_mode) ? st.st_size : -1;
  if (int error = fileutil::writeAll(file.fd.get(), line.data(), line.size())) {
    if (before >= 0) (void)::ftruncate(file.fd.get(), before);
    throw IOException("TTextFile.writeln: " + fileutil::systemMessage(error));
  }
  int fd = file.fd.release();
  if (::close(fd) != 0) throw IOException("TTextFile.close: " + fileutil::systemMessage(errno));
  return true;
}
