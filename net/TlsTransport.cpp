#include "net/TlsTransport.h"

namespace {
// The socket's error numbers for a channel that must wait and for a
// connection that cannot go on.
constexpr uint16_t WSAEWOULDBLOCK = 10035;
constexpr uint16_t WSAECONNABORTED = 10053;
}  // namespace

TlsTransport::TlsTransport(SocketHandle& handle, const std::string& host, const std::string& caFile)
    : channel_(TlsChannel::open(handle, host, caFile, failure_)) {}

SocketTransport::Setup TlsTransport::advanceSetup() {
  if (!channel_) return Setup::Failed;  // failure_ says why the session could not be set up
  switch (channel_->handshake()) {
    case TlsChannel::Status::Ok:
      handshaking_ = false;
      return Setup::Done;
    case TlsChannel::Status::WantRead: return Setup::WantRead;
    case TlsChannel::Status::WantWrite: return Setup::WantWrite;
    default:
      failure_ = channel_->failure();
      return Setup::Failed;
  }
}

std::string TlsTransport::protocol() const { return encrypted() ? channel_->protocol() : std::string(); }

uint16_t TlsTransport::errorOf(TlsChannel::Status status) const {
  switch (status) {
    case TlsChannel::Status::Ok: return 0;
    case TlsChannel::Status::WantWrite: return WSAEWOULDBLOCK;
    case TlsChannel::Status::WantRead: return WSAEWOULDBLOCK;
    default:
      // A broken record is tampering or a broken peer: the connection ends.
      return channel_->transportError() != 0 ? channel_->transportError() : WSAECONNABORTED;
  }
}

uint16_t TlsTransport::send(const iovec* parts, size_t count, size_t& sent) {
  sent = 0;
  if (!encrypted()) return WSAEWOULDBLOCK;  // the bytes leave once the handshake is done
  const TlsChannel::Status status = channel_->send(parts, count, sent);
  if (status == TlsChannel::Status::WantRead) sendWaitsForRead_ = true;
  return errorOf(status);
}

bool TlsTransport::endReadWait() {
  const bool waited = sendWaitsForRead_;
  sendWaitsForRead_ = false;
  return waited;
}

uint16_t TlsTransport::receive(void* buffer, size_t size, size_t& received) {
  received = 0;
  if (!encrypted()) return WSAEWOULDBLOCK;  // what arrives belongs to the handshake
  const TlsChannel::Status status = channel_->receive(buffer, size, received);
  return status == TlsChannel::Status::Closed ? 0 : errorOf(status);
}

SocketHandle::Incoming TlsTransport::peek(uint16_t& error) {
  if (!encrypted()) return SocketHandle::Incoming::Nothing;
  switch (const TlsChannel::Status status = channel_->peek()) {
    case TlsChannel::Status::Ok: return SocketHandle::Incoming::Data;
    case TlsChannel::Status::Closed: return SocketHandle::Incoming::End;
    case TlsChannel::Status::Failed:
      error = errorOf(status);
      return SocketHandle::Incoming::Failed;
    default: return SocketHandle::Incoming::Nothing;
  }
}

int32_t TlsTransport::waiting() const { return static_cast<int32_t>(held()); }

size_t TlsTransport::held() const { return encrypted() ? channel_->pending() : 0; }

void TlsTransport::closeNotify() {
  if (encrypted()) channel_->closeNotify();
}
