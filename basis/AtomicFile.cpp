#include "basis/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "basis/FileSystem.h"

namespace fileutil {

namespace {

std::string temporaryPrefix(const std::string& target) { return target + ".tmp-"; }

bool allDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

void syncFolder(const std::string& target) {
  const std::filesystem::path path(target);
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
}

// The new file under its own name. False when the file exists.
bool createInPlace(const std::string& target, const std::string& content) {
  FileDescriptor file(::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0) {
    if (errno == EEXIST) return false;
    throw FileCreateException(systemMessage(errno));
  }
  try {
    (void)lockFile(file.get(), true, 0);
    writeAt(file.get(), content, 0);
    syncData(file.get());
  } catch (...) {
    ::unlink(target.c_str());
    throw;
  }
  return true;
}

}  // namespace

void writeAt(int fd, const std::string& bytes, int64_t offset) {
  if (int error = writeAll(fd, bytes.data(), bytes.size(), offset)) throw IOException(systemMessage(error));
}

void syncData(int fd) {
  // EINVAL: a special file that has nothing to flush.
  if (::fdatasync(fd) != 0 && errno != EINVAL) throw IOException(systemMessage(errno));
}

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
    // This process makes its temporaries and moves them within one call,
    // so one carrying its own number is left from an earlier process.
    bool gone = pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH);
    if (gone) ::unlinkat(::dirfd(dir), name.c_str(), 0);
  }
  ::closedir(dir);
}

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
  FileDescriptor file(fd);
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
    if (error != 0) throw IOException(systemMessage(error));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncFolder(target);
  return true;
}

}  // namespace fileutil
