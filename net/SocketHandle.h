#pragma once
// One non-blocking IPv4 socket handle of the operating system. Every call
// returns a classic socket error number (0 for success) instead of raising:
// the socket above decides what an error means and how it is reported.

#include <netinet/in.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

class SocketHandle {
 public:
  SocketHandle() = default;
  ~SocketHandle() { close(); }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  // What a look at the incoming side found.
  enum class Incoming { Data, End, Nothing, Failed };

  bool isOpen() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }

  // A new stream (or datagram) handle; an open one is closed first.
  uint16_t open(bool stream);
  uint16_t setOption(int level, int name, int value);
  // The linger setting; seconds count only when on.
  uint16_t setLinger(bool on, int seconds);
  uint16_t bind(const sockaddr_in& local);
  // Starts connecting; a connection still under way gives 10036.
  uint16_t connect(const sockaddr_in& remote);
  // The error a finished connect left on the handle.
  uint16_t connectResult() const;
  // Hands as much of the parts as the network takes now; sent := that count.
  uint16_t send(const iovec* parts, size_t count, size_t& sent);
  // Reads at most size bytes; received := the count (0 at the end of stream).
  uint16_t receive(void* buffer, size_t size, size_t& received);
  // Looks at the incoming side without consuming; error set when Failed.
  Incoming peek(uint16_t& error) const;
  // Bytes waiting to be read (0 when that cannot be told).
  int32_t waiting() const;
  // The numeric local address of the connection, "" when there is none.
  std::string localAddress() const;
  // Ends the sending direction (the peer reads the end of stream).
  void shutdownSend();
  void close();

 private:
  int fd_ = -1;
};
