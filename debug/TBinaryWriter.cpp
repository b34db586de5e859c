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

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "basis/FileSystem.h"
#include "basis/TFile.h"
#include "debug/TBinaryReader.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugEntry.h"

namespace {

const std::string kHeader = TDebugEntries::HEADER;
// The list length follows the header and counts every byte after itself.
const int64_t kListLengthAt = static_cast<int64_t>(kHeader.size());
const int64_t kListStart = kListLengthAt + 4;

std::string littleEndian(uint32_t v) {
  std::string bytes(4, '\0');
  for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>(v >> (8 * i));
  return bytes;
}

// A file holding only the entry of `entryBytes`.
std::string firstContent(const std::string& entryBytes) {
  return kHeader + littleEndian(static_cast<uint32_t>(entryBytes.size() + 4)) + littleEndian(1) + entryBytes;
}

uint32_t readLittleEndian(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}

void writeAt(int fd, const std::string& bytes, int64_t offset) {
  if (int error = fileutil::writeAll(fd, bytes.data(), bytes.size(), offset)) {
    throw IOException(fileutil::systemMessage(error));
  }
}

void syncData(int fd) {
  // EINVAL: a special file that has nothing to flush.
  if (::fdatasync(fd) != 0 && errno != EINVAL) throw IOException(fileutil::systemMessage(errno));
}

// The file a new entry file is made as: the final target when `path` is a
// symbolic link (also one whose target is missing), so the link stays a link.
std::string creationTarget(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path current = path;
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(current, error); ++hops) {
    fs::path next = fs::read_symlink(current, error);
    if (error) break;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return current.string();
}

std::string temporaryPrefix(const std::string& target) { return target + ".tmp-"; }

bool allDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// Removes the temporaries "<target>.tmp-<pid>-<n>" whose writer is gone:
// what a writer killed while making the file left behind.
void removeStaleTemporaries(const std::string& target) {
  namespace fs = std::filesystem;
  const fs::path path(target);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const std::string prefix = path.filename().string() + ".tmp-";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t dash = name.find('-', prefix.size());
    if (dash == std::string::npos) continue;
    const std::string pidText = name.substr(prefix.size(), dash - prefix.size());
    if (!allDigits(pidText) || !allDigits(name.substr(dash + 1))) continue;
    const pid_t pid = static_cast<pid_t>(std::atol(pidText.c_str()));
    // This process makes its temporaries and moves them within one write,
    // so one carrying its own number is left from an earlier process.
    bool gone = pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH);
    if (gone) ::unlinkat(::dirfd(dir), name.c_str(), 0);
  }
  ::closedir(dir);
}

void syncFolder(const std::string& target) {
  const std::filesystem::path path(target);
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  fileutil::FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
}

// Where no file can be made beside the target (its name leaves no room for
// the temporary's suffix, say), the new file is written under its own name;
// a crash can then cut only this first entry. False when the file exists.
bool createInPlace(const std::string& target, const std::string& content) {
  fileutil::FileDescriptor file(::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0) {
    if (errno == EEXIST) return false;
    throw IOException("TFile.open: (IOException) " + fileutil::systemMessage(errno));
  }
  try {
    (void)fileutil::lockFile(file.get(), true, 0);
    writeAt(file.get(), content, 0);
    syncData(file.get());
  } catch (...) {
    ::unlink(target.c_str());
    throw;
  }
  return true;
}

// Makes `target` holding `content`, complete or not at all: written beside
// it, flushed, then moved into place unless another writer made the file
// first (false).
bool createComplete(const std::string& target, const std::string& content) {
  static unsigned counter = 0;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporaryPrefix(target) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return createInPlace(target, content);
  fileutil::FileDescriptor file(fd);
  try {
    writeAt(file.get(), content, 0);
    syncData(file.get());
    int error = 0;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
      error = errno;
      // A file system without that rename: a hard link refuses an existing name too.
      if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        error = ::link(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
        ::unlink(temporary.c_str());
      }
    }
    if (error == EEXIST) {
      ::unlink(temporary.c_str());
      return false;
    }
    if (error != 0) throw IOException(fileutil::systemMessage(error));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncFolder(target);
  return true;
}

struct Frame {
  int64_t listLength = 0;
  int32_t count = 0;
};

[[noreturn]] void failCorrupt(const std::string& fileName, const std::string& why) {
  throw IOException("TBinaryReader.read: (IOException) File '" + fileName + "' is corrupt: " + why + ".");
}

// The list length and count of the entry file open as `fd`, `size` bytes
// long; raises what a reader would when the frame is broken.
Frame readFrame(int fd, int64_t size, const std::string& fileName) {
  char head[kListStart + 4];
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  if (got < static_cast<ssize_t>(kHeader.size()) || std::memcmp(head, kHeader.data(), kHeader.size()) != 0) {
    throw IOException("TBinaryReader.read: (IOException) TFile.open: (IOException) File '" + fileName +
                      "' does not support header: '" + kHeader + "'.");
  }
  if (got < static_cast<ssize_t>(sizeof head)) failCorrupt(fileName, "it ends inside the list's length and count");
  const int64_t listLength = readLittleEndian(head + kListLengthAt);
  const auto count = static_cast<int32_t>(readLittleEndian(head + kListStart));
  if (listLength > INT32_MAX || kListStart + listLength > size) {
    failCorrupt(fileName, "its list of " + std::to_string(listLength) + " bytes runs past its end at " +
                              std::to_string(size) + " bytes");
  }
  // Each entry takes at least its class name's length and its record's.
  if (listLength >= 4 && (count < 0 || count > (listLength - 4) / 8)) {
    failCorrupt(fileName, std::to_string(count) + " entries cannot fit in its list of " +
                              std::to_string(listLength) + " bytes");
  }
  return {listLength, count};
}

}  // namespace

bool TBinaryWriter::writeLocked(const TDebugEntry& entry, int waitMilliseconds) {
  if (fileName.empty()) throw IOException("TFile.open: (IOException) Missing filename, can't write to stdout.");
  std::unique_ptr<TMappedObject> copy = entry.clone();
  const std::string entryBytes = TFile::bytesOf(*as<TPObject>(copy.get()));
  const auto kinds = fileutil::FileKinds::RegularOnly;
  // A file made and removed again between the attempts is retried twice.
  for (int attempt = 0; attempt < 3; ++attempt) {
    fileutil::OpenedFile file = fileutil::openFile(fileName, O_RDWR, kinds);
    bool readOnly = false;
    if (!file.ok() && file.error == EACCES) {
      file = fileutil::openFile(fileName, O_RDONLY, kinds);
      readOnly = true;
    }
    if (file.ok()) {
      struct stat st {};
      if (::fstat(file.fd.get(), &st) != 0) throw IOException(fileutil::systemMessage(errno));
      // Refused also for a process that could override the bits.
      if (readOnly || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        if (st.st_size > 0) readFrame(file.fd.get(), st.st_size, fileName);  // a broken file reports that first
        throw IOException("TFile.open: (IOException) Try to write read only file '" + fileName + "'.");
      }
      if (!fileutil::lockFile(file.fd.get(), true, waitMilliseconds)) return false;
      if (!temporariesChecked_) removeStaleTemporaries(creationTarget(fileName));
      temporariesChecked_ = true;
      append(file.fd.get(), std::move(copy), entryBytes);
      return true;
    }
    if (file.error != ENOENT) throw IOException("TFile.open: (IOException) " + file.failure);
    const std::string target = creationTarget(fileName);
    const std::string folderFailure = fileutil::makeFolderOf(target);
    if (!folderFailure.empty()) throw IOException("TFile.open: (IOException) " + folderFailure);
    removeStaleTemporaries(target);
    if (createComplete(target, firstContent(entryBytes))) return true;
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
      writeAt(fd, firstContent(entryBytes), 0);
      syncData(fd);
    } catch (...) {
      (void)::ftruncate(fd, 0);
      throw;
    }
    return;
  }
  const Frame frame = readFrame(fd, st.st_size, fileName);
  if (frame.listLength < 4) {
    // Only a list of length 0 reads back with its count outside it: such
    // a file is stored whole, as the list it reads as plus the entry.
    std::unique_ptr<TDebugEntries> entries = TBinaryReader(fileName).readWhileLocked();
    entries->add(entry.release());
    entries->store(fileName);
    syncData(fd);
    return;
  }
  if (static_cast<int64_t>(entryBytes.size()) > INT32_MAX - frame.listLength || frame.count == INT32_MAX) {
    throw IOException("File '" + fileName + "' holds as many entries as it can.");
  }
  const int64_t end = kListStart + frame.listLength;
  // Bytes past the list are what a write cut off by a crash left.
  if (st.st_size > end && ::ftruncate(fd, end) != 0) {
    throw IOException(fileutil::systemMessage(errno));
  }
  const int64_t newLength = frame.listLength + static_cast<int64_t>(entryBytes.size());
  try {
    writeAt(fd, entryBytes, end);
    syncData(fd);
    writeAt(fd, littleEndian(static_cast<uint32_t>(newLength)) + littleEndian(static_cast<uint32_t>(frame.count + 1)),
            kListLengthAt);
  } catch (...) {
    // The old list still stands: take the partial entry off again.
    (void)::ftruncate(fd, end);
    throw;
  }
  syncData(fd);
}
