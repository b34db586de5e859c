#include "net/SocketHandle.h"

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/SocketErrors.h"

namespace {

// The socket error of the last failed system call.
uint16_t lastSystemError() { return socketErrorOf(errno); }

}  // namespace

uint16_t SocketHandle::open(bool stream) {
  close();
  int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return lastSystemError();
  fd_ = fd;
  return 0;
}

uint16_t SocketHandle::setOption(int level, int name, int value) {
  return ::setsockopt(fd_, level, name, &value, sizeof value) == 0 ? 0 : lastSystemError();
}

uint16_t SocketHandle::setLinger(bool on, int seconds) {
  linger li{on ? 1 : 0, on ? seconds : 0};
  return ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &li, sizeof li) == 0 ? 0 : lastSystemError();
}

uint16_t SocketHandle::bind(const sockaddr_in& local) {
  return ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : lastSystemError();
}

uint16_t SocketHandle::connect(const sockaddr_in& remote) {
  int rc;
  do {
    rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : lastSystemError();
}

uint16_t SocketHandle::connectResult() const {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return socketErrorOf(err);
}

uint16_t SocketHandle::send(const iovec* parts, size_t count, size_t& sent) {
  sent = 0;
  msghdr message{};
  message.msg_iov = const_cast<iovec*>(parts);
  message.msg_iovlen = count;
  ssize_t n;
  do {
    n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return lastSystemError();
  sent = static_cast<size_t>(n);
  return 0;
}

uint16_t SocketHandle::receive(void* buffer, size_t size, size_t& received) {
  received = 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return lastSystemError();
  received = static_cast<size_t>(n);
  return 0;
}

SocketHandle::Incoming SocketHandle::peek(uint16_t& error) const {
  char probe;
  ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return Incoming::Data;
  if (n == 0) return Incoming::End;
  if (errno == EAGAIN || errno == EINTR) return Incoming::Nothing;
  error = lastSystemError();
  return Incoming::Failed;
}

int32_t SocketHandle::waiting() const {
  int count = 0;
  return ::ioctl(fd_, FIONREAD, &count) == 0 && count > 0 ? count : 0;
}

std::string SocketHandle::localAddress() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = address.ss_family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&address)->sin_addr);
  return ::inet_ntop(address.ss_family, raw, text, sizeof text) != nullptr ? text : std::string();
}

void SocketHandle::shutdownSend() { ::shutdown(fd_, SHUT_WR); }

void SocketHandle::close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}
