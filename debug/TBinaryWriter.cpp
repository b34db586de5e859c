#include "debug/TBinaryWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "basis/FileSystem.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugEntry.h"

namespace {

// The file a write replaces: the final target when `path` is a symbolic
// link, so the link stays a link.
std::string replacedFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  std::filesystem::path target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// Creates an empty file beside `target` under a name no other writer uses
// and gives it the permissions of `target` (or the default ones for a new
// file). Returns its name, or "" when the directory refuses a new file.
std::string createSibling(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  struct stat existing {};
  bool hasMode = ::stat(target.c_str(), &existing) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = target + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter.fetch_add(1));
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    if (hasMode) ::fchmod(fd, existing.st_mode & 07777);
    ::close(fd);
    return name;
  }
  return {};
}

// Flushes the file's data to the disk, so that a rename cannot expose a file
// whose contents were not written yet.
void syncFile(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw IOException(fileutil::systemMessage(errno));
  int result = ::fdatasync(fd);
  int error = errno;
  ::close(fd);
  if (result != 0) throw IOException(fileutil::systemMessage(error));
}

// Stores `entries` under `fileName`, replacing the old file only once the
// new one is complete.
void storeReplacing(TDebugEntries& entries, const std::string& fileName) {
  // The same refusal the object file gives when it opens a read-only file
  // for writing: such a file must stay untouched.
  if (fileutil::isReadOnlyFile(fileName)) {
    throw IOException("TFile.open: (IOException) Try to write read only file '" + fileName +
                      "'.");
  }
  const std::string target = replacedFile(fileName);
  const std::string sibling = createSibling(target);
  if (sibling.empty()) {
    // A directory that takes no new files still lets the file itself be
    // rewritten in place.
    entries.store(fileName);
    return;
  }
  try {
    entries.store(sibling);
    syncFile(sibling);
    if (std::rename(sibling.c_str(), target.c_str()) != 0) {
      throw IOException(fileutil::systemMessage(errno));
    }
  } catch (...) {
    ::unlink(sibling.c_str());
    throw;
  }
}

}  // namespace

void TBinaryWriter::write(const TDebugEntry& entry) {
  try {
    std::unique_ptr<TDebugEntries> entries = loadEntries();
    std::unique_ptr<TMappedObject> copy = entry.clone();
    entries->add(copy.get());
    copy.release();
    storeReplacing(*entries, fileName);
  } catch (const std::exception& e) {
    throw IOException("TBinaryWriter.write: " + wrappedText(e));
  }
}
