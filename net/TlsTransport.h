#pragma once
// The socket's bytes through a TLS client session (TlsChannel) over the
// socket's own handle. Its setup is the handshake, stepped from the handle's
// readiness; the channel's results become socket error numbers here: a
// channel that must wait gives 10035, a broken record or a failed network
// ends the connection.

#include <memory>
#include <string>

#include "net/SocketTransport.h"
#include "net/TlsChannel.h"

class TlsTransport final : public SocketTransport {
 public:
  // Starts a session with `host` (a name or IP address) that trusts the CAs
  // of the PEM file `caFile`, or the system's store when it is empty. A
  // session that cannot be set up fails at the first step of the handshake,
  // with the reason.
  TlsTransport(SocketHandle& handle, const std::string& host, const std::string& caFile);

  bool settingUp() const override { return handshaking_; }
  Setup advanceSetup() override;
  const std::string& failure() const override { return failure_; }
  bool encrypted() const override { return channel_ != nullptr && !handshaking_; }
  std::string protocol() const override;

  uint16_t send(const iovec* parts, size_t count, size_t& sent) override;
  bool takesOneRecordPerSend() const override { return true; }
  bool sendWaitsForRead() const override { return sendWaitsForRead_; }
  bool endReadWait() override;
  uint16_t receive(void* buffer, size_t size, size_t& received) override;
  SocketHandle::Incoming peek(uint16_t& error) override;
  int32_t waiting() const override;
  size_t held() const override;
  void closeNotify() override;

 private:
  // The socket error number of a channel result.
  uint16_t errorOf(TlsChannel::Status status) const;

  // Declared before channel_: opening the channel fills it in.
  std::string failure_;
  std::unique_ptr<TlsChannel> channel_;
  bool handshaking_ = true;
  // The session must read before the bytes offered can leave.
  bool sendWaitsForRead_ = false;
};
