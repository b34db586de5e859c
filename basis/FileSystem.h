#pragma once
// Small file-system queries shared by the file classes.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fileutil {

// True when `path` names an existing file that is not a directory.
bool fileExists(const std::string& path);
// The system's text for an errno value.
std::string systemMessage(int error);

// Takes an advisory lock (flock) on the open file `fd`, shared or
// exclusive, waiting at most `waitMilliseconds` for other holders to let go.
// Returns false when the wait ran out. A file system that offers no locks
// counts as locked: its single writer still gets its data written. The lock
// goes with the last descriptor of this open file.
bool lockFile(int fd, bool exclusive, int waitMilliseconds);
// How long a reader or a text file waits for a shared file's lock by default.
constexpr int LOCK_WAIT_MILLISECONDS = 5000;
// The process that holds a lock on the file `path` (from /proc/locks), or 0
// when the system does not tell.
pid_t lockHolder(const std::string& path);
// The failure text of a reader or writer that found the lock taken, naming
// the holder where the system tells it.
std::string lockedMessage(const std::string& path);

// An open descriptor, closed on every way out unless released.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor over; this object no longer closes it.
  int release();

 private:
  int fd_;
};

// What opening a file gave: the open descriptor, or the errno of the
// failure (0 when the file was refused for what it is) and a reason that
// names the file.
struct OpenedFile {
  FileDescriptor fd;
  int error = 0;
  std::string failure;
  // Refused for writing since the file may not be written (openForWriting).
  bool readOnly = false;
  bool ok() const { return fd.get() >= 0; }
};
// The kinds of file an open accepts besides regular files.
enum class FileKinds { RegularOnly, AlsoCharacterDevices };

// Opens `path` with `flags` (O_CLOEXEC added) without ever waiting: a FIFO
// without a reader, a socket or a device that would block is refused, and
// so is anything but a regular file, or a character device (such as
// /dev/null, then used without blocking) where `kinds` allows one. A
// symbolic link at the end of the path is followed only where the kernel's
// protected_symlinks rule allows it, applied to every folder others may
// write (sticky, or group or world writable): the link must belong to this
// process's user, to the folder's owner, or to root.
OpenedFile openFile(const std::string& path, int flags, FileKinds kinds, mode_t mode = 0666);
// Makes the missing folders above the file `path` (mode 0777 less the
// umask). Returns "" or the failure, naming the folder and the file.
std::string makeFolderOf(const std::string& path);

// Writes all `size` bytes of `data`: at `offset`, or at the file position
// (the end for a file opened to append) when `offset` is negative. Returns 0,
// or the errno of the failure (ENOSPC when the system wrote nothing).
int writeAll(int fd, const char* data, size_t size, int64_t offset = -1);

}  // namespace fileutil
