#pragma once
// Small file-system queries shared by the file classes.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fileutil {

// True when `path` names an existing file that is not a directory.
bool fileExists(const std::string& path);
// True when `path` exists and may not be written: no write permission bit
// set, or the process is refused write access.
bool isReadOnlyFile(const std::string& path);
// The system's text for an errno value.
std::string systemMessage(int error);

// Takes an advisory lock (flock) on the open file `fd`, shared or
// exclusive, waiting at most `waitMilliseconds` for other holders to let go.
// Returns false when the wait ran out. A file system that offers no locks
// counts as locked: its single writer still gets its data written. The lock
// goes with the last descriptor of this open file.
bool lockFile(int fd, bool exclusive, int waitMilliseconds);
// How long readers and writers of a shared file wait for its lock by default.
constexpr int kLockWaitMilliseconds = 5000;
// The failure text of a reader or writer that gave up waiting for the lock.
inline std::string lockedMessage(const std::string& path) {
  return "File '" + path + "' is locked by another writer.";
}

// An open descriptor, closed on every way out unless released.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor over; this object no longer closes it.
  int release();

 private:
  int fd_;
};

// Writes all `size` bytes of `data`: at `offset`, or at the file position
// (the end for a file opened to append) when `offset` is negative. Returns 0,
// or the errno of the failure (ENOSPC when the system wrote nothing).
int writeAll(int fd, const char* data, size_t size, int64_t offset = -1);

}  // namespace fileutil
