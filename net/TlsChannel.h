#pragma once
// The TLS client session of one socket (OpenSSL 3), over the socket's own
// non-blocking handle.
//
// The channel never waits: every call does what the network allows now and
// says what it needs next (readability or writability of the handle), so
// the socket drives it from its readiness notifications. The handle's
// system calls are the socket's own (no SIGPIPE, errors as socket error
// numbers). The server's certificate must chain to a trusted CA (the file
// given, else the system's store) and match the host name or IP address
// the caller connected to; TLS 1.2 is the oldest version accepted. The
// last session with each host is kept, and resumed by the next channel to
// it.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/SocketHandle.h"

struct ssl_st;

class TlsChannel {
 public:
  enum class Status { Ok, WantRead, WantWrite, Closed, Failed };

  // A client session for `host` (a name or an IP address), trusting the PEM
  // file `caFile`, or the system's store when it is empty. nullptr when the
  // session cannot be set up; failure then says why.
  static std::unique_ptr<TlsChannel> open(SocketHandle& handle, const std::string& host,
                                          const std::string& caFile, std::string& failure);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // One step of the handshake: Ok once it is complete and the certificate
  // was accepted; Failed (with failure()) or Closed when it cannot be.
  Status handshake();
  // Encrypts up to 16 KB of the parts, in order; sent := the bytes taken.
  // After WantRead or WantWrite the same bytes (or more behind them) must
  // be offered again.
  Status send(const iovec* parts, size_t count, size_t& sent);
  // Decrypted bytes; Closed at the end of the stream.
  Status receive(void* buffer, size_t size, size_t& received);
  // Whether decrypted bytes are ready, without taking them.
  Status peek();
  // Decrypted bytes held inside the session, which the handle's readiness
  // no longer announces.
  size_t pending() const;
  // Tells the server that nothing more comes (best effort, never waits).
  void closeNotify();

  // Why the last call failed: the TLS library's reason, or the network's.
  const std::string& failure() const { return failure_; }
  // The socket error behind a failure of the network itself, else 0.
  uint16_t transportError() const { return transportError_; }
  // The negotiated protocol, "TLSv1.3" for instance.
  std::string protocol() const;

 private:
  TlsChannel(SocketHandle& handle, ssl_st* ssl, std::string host);
  // Maps the result of an OpenSSL call; records the failure.
  Status settle(int result, bool duringHandshake);

  SocketHandle& handle_;
  ssl_st* ssl_;
  std::string host_;
  std::string failure_;
  uint16_t transportError_ = 0;
  bool closeNotified_ = false;

  friend struct TlsChannelTransport;
};
