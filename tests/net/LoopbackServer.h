#pragma once
// A plain blocking TCP listener on 127.0.0.1 with a port chosen by the
// system, for tests of network clients. Accepted connections are plain file
// descriptors the test reads and writes directly (or from a thread).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class LoopbackServer {
 public:
  LoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackServer() { ::close(fd_); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  std::string portText() const { return std::to_string(port_); }

  // The next connection's descriptor, or -1 after timeoutMs.
  int accept(int timeoutMs = 5000) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

  // A port on which nothing listens (bound once, then released).
  static std::string closedPort() {
    LoopbackServer probe;
    return probe.portText();
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Reads until `count` bytes came, the peer closed, or timeoutMs passed.
inline std::string readBytes(int fd, size_t count, int timeoutMs = 5000) {
  std::string data;
  char buffer[65536];
  while (data.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) break;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

// False when the connection broke first.
inline bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
