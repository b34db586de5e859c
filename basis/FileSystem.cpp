#include "basis/FileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fileutil {

bool fileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string systemMessage(int error) {
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("Unknown error ") + std::to_string(error);
}

bool lockFile(int fd, bool exclusive, int waitMilliseconds) {
  // A blocking flock cannot be given a time limit, so poll: short sleeps at
  // first, since other holders keep the lock for one write only.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  auto pause = std::chrono::microseconds(200);
  const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (;;) {
    if (::flock(fd, operation) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

pid_t lockHolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  // Lines as "1: FLOCK  ADVISORY  WRITE 1234 08:02:1310722 0 EOF"; waiters
  // have "->" after the number.
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, kind, mode, access, file;
    long pid = 0;
    if (!(words >> number >> kind) || kind != "FLOCK") continue;
    if (!(words >> mode >> access >> pid >> file)) continue;
    if (file == wanted && pid > 0) return static_cast<pid_t>(pid);
  }
  return 0;
}

std::string lockedMessage(const std::string& path) {
  const pid_t holder = lockHolder(path);
  return "File '" + path + "' is locked by another process" +
         (holder > 0 ? " (PID " + std::to_string(holder) + ")" : std::string()) + ".";
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int FileDescriptor::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

int writeAll(int fd, const char* data, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = offset < 0 ? ::write(fd, data + done, size - done)
                           : ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string refusedKind(const std::string& path, mode_t mode) {
  const char* kind = S_ISFIFO(mode)  ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISDIR(mode)  ? "a folder"
                                      : "a special file";
  return "File '" + path + "' is " + kind + ", not a regular file.";
}

// The refusal when the symbolic links at the end of `path` lead through a
// link that another user planted in a folder others may write; "" when
// following them is safe. `isLink` tells whether `path` itself is a link.
std::string unsafeLink(const std::string& path, bool& isLink) {
  isLink = false;
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat link {};
    if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return {};
    isLink = true;
    const std::string folder = folderOf(current);
    struct stat dir {};
    const bool othersWrite = ::stat(folder.c_str(), &dir) == 0 &&
                             (dir.st_mode & (S_ISVTX | S_IWGRP | S_IWOTH)) != 0;
    // Root's links are trusted too: root could write the file itself.
    if (othersWrite && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid && link.st_uid != 0) {
      return "File '" + path + "' leads through the symbolic link '" + current + "' of another user (uid " +
             std::to_string(link.st_uid) + ") in the folder '" + folder +
             "', which others may write; it is not followed.";
    }
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) return {};
    current = next.is_absolute() || folder == "." ? next.string() : folder + "/" + next.string();
  }
  return {};
}

}  // namespace

OpenedFile openFile(const std::string& path, int flags, FileKinds kinds, mode_t mode) {
  OpenedFile result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool isLink = false;
    result.failure = unsafeLink(path, isLink);
    if (!result.failure.empty()) return result;
    // A name that was no link when it was checked must not become one now.
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (isLink ? 0 : O_NOFOLLOW), mode);
    if (fd < 0 && errno == ELOOP && !isLink) continue;
    if (fd < 0) {
      const int error = errno;
      struct stat st {};
      // A FIFO without a reader, a socket: opening them would wait or fails.
      if ((error == ENXIO || error == ENODEV) && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        result.failure = refusedKind(path, st.st_mode);
      } else {
        result.error = error;
        result.failure = "Cannot open '" + path + "': " + systemMessage(error);
      }
      return result;
    }
    FileDescriptor file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      result.error = errno;
      result.failure = "Cannot open '" + path + "': " + systemMessage(result.error);
      return result;
    }
    if (!S_ISREG(st.st_mode) && !(kinds == FileKinds::AlsoCharacterDevices && S_ISCHR(st.st_mode))) {
      result.failure = refusedKind(path, st.st_mode);
      return result;
    }
    if (S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    result.fd = std::move(file);
    return result;
  }
  result.error = ELOOP;
  result.failure = "Cannot open '" + path + "': " + systemMessage(ELOOP);
  return result;
}

std::string makeFolderOf(const std::string& path) {
  const std::string folder = folderOf(path);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) return {};
  return "Cannot make the folder '" + folder + "' for '" + path + "': " + error.message();
}

}  // namespace fileutil
