#include "debug/TTextWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basis/FileSystem.h"
#include "debug/TDebugEntry.h"

bool TTextWriter::writeLocked(const TDebugEntry& entry, int waitMilliseconds) {
  std::string line = entry.toString();
  line += "\r\n";
  // The append and write modes of a text file in one open, so a report
  // costs one open, one write and one close.
  auto failOpen = [](const std::string& why) { throw IOException("TTextFile.open: " + why); };
  if (fileName.empty()) failOpen("Missing filename, can't write to stdout.");
  const std::string readOnly = "Try to write read only file '" + fileName + "'.";
  const int flags = O_WRONLY | O_APPEND | O_CREAT;
  const auto kinds = fileutil::FileKinds::AlsoCharacterDevices;
  fileutil::OpenedFile file = fileutil::openFile(fileName, flags, kinds);
  if (!file.ok() && file.error == ENOENT) {
    const std::string folderFailure = fileutil::makeFolderOf(fileName);
    if (!folderFailure.empty()) failOpen(folderFailure);
    file = fileutil::openFile(fileName, flags, kinds);
  }
  if (!file.ok()) failOpen(file.error == EACCES && fileutil::fileExists(fileName) ? readOnly : file.failure);
  if (!fileutil::lockFile(file.fd.get(), true, waitMilliseconds)) return false;
  // Refused like a text file refuses it, also for a process that could
  // override the bits.
  struct stat st {};
  const bool known = ::fstat(file.fd.get(), &st) == 0;
  if (known && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) failOpen(readOnly);
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
