#include "mail/PasswordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "basis/FileSystem.h"
#include "mail/MailExceptions.h"

namespace {

constexpr size_t LONGEST_PASSWORD = 4096;

}  // namespace

std::string readPasswordFile(const std::string& path) {
  const std::string file = "The password file '" + path + "'";
  fileutil::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) throw MailTransportException(file + " cannot be opened: " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw MailTransportException(file + " cannot be read: " + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) throw MailTransportException(file + " is not a regular file");
  // Reached through a link, another user's file passes the mode check; but
  // that user chose the password and may change it at any time.
  if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    throw MailTransportException(file + " belongs to another user (uid " + std::to_string(info.st_uid) +
                                 "): use a file of your own");
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    throw MailTransportException(file + " may be read or changed by other users (mode " + mode +
                                 "): allow its owner only (chmod 600 '" + path + "')");
  }
  std::string text(LONGEST_PASSWORD + 2, '\0');
  size_t length = 0;
  while (length < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + length, text.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw MailTransportException(file + " cannot be read: " + std::strerror(errno));
    if (n == 0) break;
    length += static_cast<size_t>(n);
    if (std::memchr(text.data(), '\n', length) != nullptr) break;
  }
  text.resize(length);
  std::string password = text.substr(0, text.find('\n'));
  while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
  if (password.size() > LONGEST_PASSWORD)
    throw MailTransportException(file + " holds a first line longer than 4096 bytes");
  if (password.empty()) throw MailTransportException(file + " holds no password in its first line");
  return password;
}
