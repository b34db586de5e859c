#pragma once
// The socket's bytes as they are, straight through the handle's own calls:
// nothing to set up, nothing held back.

#include "net/SocketTransport.h"

class PlainTransport final : public SocketTransport {
 public:
  explicit PlainTransport(SocketHandle& handle) : handle_(handle) {}

  bool settingUp() const override { return false; }
  Setup advanceSetup() override { return Setup::Done; }
  const std::string& failure() const override { return failure_; }
  bool encrypted() const override { return false; }
  std::string protocol() const override { return {}; }

  uint16_t send(const iovec* parts, size_t count, size_t& sent) override { return handle_.send(parts, count, sent); }
  bool takesOneRecordPerSend() const override { return false; }
  bool sendWaitsForRead() const override { return false; }
  bool endReadWait() override { return false; }
  uint16_t receive(void* buffer, size_t size, size_t& received) override {
    received = 0;
    return handle_.receive(buffer, size, received);
  }
  SocketHandle::Incoming peek(uint16_t& error) override { return handle_.peek(error); }
  int32_t waiting() const override { return handle_.waiting(); }
  size_t held() const override { return 0; }
  void closeNotify() override {}

 private:
  SocketHandle& handle_;
  const std::string failure_;
};
