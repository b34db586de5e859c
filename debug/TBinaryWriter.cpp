#include "debug/TBinaryWriter.h"

// Why an append and not a rewrite: the entry file's list record is the last
// thing in the file, so adding an entry changes only its end and the list's
// length and count (8 bytes in the first sector). Writing the entry after the
// list, flushing, and only then writing the new length and count (flushed
// again) keeps the old list readable until that 8-byte write lands; bytes
// after the list's end are ignored by every reader and cut off by the next
// writer. A write then costs the same for the 1st and the 100,000th entry,
// the file keeps its inode (owner, group, mode, hard links, symbolic links
// all stay), and the bytes are exactly those of the whole list stored anew.
// The exclusive lock on the file, held from reading the count to writing
// it, serialises writers across processes. A writer checks only the frame
// (header, list length and count against the file's size), so its first
// write into a file of a million entries costs what any write costs; the
// entries are the readers' to check. Only a new file is written beside its
// final name and moved into place, so it appears complete.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "basis/AtomicFile.h"
#include "basis/FileSystem.h"
#include "basis/TFile.h"
#include "basis/WritableFile.h"
#include "debug/EntryFileFrame.h"
#include "debug/TBinaryReader.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugEntry.h"

bool TBinaryWriter::writeLocked(const TDebugEntry& entry, int waitMilliseconds) {
  std::unique_ptr<TMappedObject> copy = entry.clone();
  const std::string entryBytes = TFile::bytesOf(*as<TPObject>(copy.get()));
  const auto kinds = fileutil::FileKinds::RegularOnly;
  // A file made and removed again between the attempts is retried twice.
  for (int attempt = 0; attempt < 3; ++attempt) {
    fileutil::OpenedFile file = fileutil::openForWriting(fileName, fileutil::WriteMode::Update, kinds);
    if (file.readOnly) {
      // A broken file reports that first.
      fileutil::OpenedFile reading = fileutil::openFile(fileName, O_RDONLY, kinds);
      struct stat st {};
      if (reading.ok() && ::fstat(reading.fd.get(), &st) == 0 && st.st_size > 0) {
        EntryFileFrame::read(reading.fd.get(), st.st_size, fileName);
      }
    }
    if (file.ok()) {
      if (!fileutil::lockFile(file.fd.get(), true, waitMilliseconds)) return false;
      if (!temporariesChecked_) fileutil::removeStaleTemporaries(fileutil::creationTarget(fileName));
      temporariesChecked_ = true;
      append(file.fd.get(), std::move(copy), entryBytes);
      return true;
    }
    if (file.error != ENOENT) throw IOException("TFile.open: (IOException) " + file.failure);
    const std::string target = fileutil::creationTarget(fileName);
    const std::string folderFailure = fileutil::makeFolderOf(target);
    if (!folderFailure.empty()) throw IOException("TFile.open: (IOException) " + folderFailure);
    fileutil::removeStaleTemporaries(target);
    try {
      if (fileutil::createComplete(target, EntryFileFrame::fileWith(entryBytes))) return true;
    } catch (const FileCreateException& e) {
      throw IOException("TFile.open: (IOException) " + e.getMessage());
    }
  }
  throw IOException("File '" + fileName + "' was removed again each time it was made.");
}

void TBinaryWriter::append(int fd, std::unique_ptr<TMappedObject> entry, const std::string& entryBytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw IOException(fileutil::systemMessage(errno));
  if (st.st_size == 0) {
    // An emptied file (as log rotation by copying and truncating leaves
    // it) holds an empty list.
    try {
      fileutil::writeAt(fd, EntryFileFrame::fileWith(entryBytes), 0);
      fileutil::syncData(fd);
    } catch (...) {
      (void)::ftruncate(fd, 0);
      throw;
    }
    return;
  }
  const EntryFileFrame frame = EntryFileFrame::read(fd, st.st_size, fileName);
  if (frame.listLength < 4) {
    // Only a list of length 0 reads back with its count outside it: such
    // a file is stored whole, as the list it reads as plus the entry.
    std::unique_ptr<TDebugEntries> entries = TBinaryReader(fileName).readWhileLocked();
    entries->add(entry.release());
    entries->store(fileName);
    fileutil::syncData(fd);
    return;
  }
  if (static_cast<int64_t>(entryBytes.size()) > INT32_MAX - frame.listLength || frame.count == INT32_MAX) {
    throw IOException("File '" + fileName + "' holds as many entries as it can.");
  }
  const int64_t end = frame.end();
  // Bytes past the list are what a write cut off by a crash left.
  if (st.st_size > end && ::ftruncate(fd, end) != 0) {
    throw IOException(fileutil::systemMessage(errno));
  }
  const EntryFileFrame grown{frame.listLength + static_cast<int64_t>(entryBytes.size()), frame.count + 1};
  try {
    fileutil::writeAt(fd, entryBytes, end);
    fileutil::syncData(fd);
    fileutil::writeAt(fd, grown.lengthAndCount(), EntryFileFrame::LIST_LENGTH_AT);
  } catch (...) {
    // The old list still stands: take the partial entry off again.
    (void)::ftruncate(fd, end);
    throw;
  }
  fileutil::syncData(fd);
}
