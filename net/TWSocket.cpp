#include "net/TWSocket.h"

#include <netinet/tcp.h>
#include <cstdint>
#include <sys/socket.h>

#include <QObject>
#include <QSocketNotifier>

#include "basis/TString.h"
#include "net/SocketErrors.h"
#include "net/SocketResolution.h"

namespace {
int32_t liveSockets = 0;
}  // namespace

TCustomWSocket::TCustomWSocket() : context_(std::make_unique<QObject>()) { ++liveSockets; }

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  lookupId_ = -1;
  if (state_ != wsClosed || handle_.isOpen()) {
    try {
      internalClose(true);
    } catch (...) {
      // a destructor reports nothing
    }
  }
  discardQueue();
  context_.reset();  // with it every queued call, the notifiers and a pending lookup's result
  --liveSockets;
}

int32_t TCustomWSocket::SocketCount() { return liveSockets; }

void TCustomWSocket::changeState(TSocketState newState) {
  TSocketState oldState = state_;
  state_ = newState;
  if (oldState != newState && !destroying_) life_.notify(OnChangeState, this, oldState, newState);
}

void TCustomWSocket::RaiseException(const std::string& text) {
  if (OnError) {
    life_.notify(OnError, this);
    return;
  }
  throw ESocketException(text);
}

void TCustomWSocket::SocketError(const std::string& functionName) {
  int code = lastError_;
  std::string text = "Error " + std::to_string(code) + " in function " + functionName + "\r\n" +
                     ErrorDescription(code);
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    closeHandle();
    if (state_ != wsClosed) {
      LifeGuard::Watch alive = life_.watch();
      changeState(wsClosed);
      if (!alive) return;
    }
  }
  RaiseException(text);
}

bool TCustomWSocket::failed(uint16_t error, const char* functionName) {
  if (error == 0) return false;
  lastError_ = error;
  SocketError(functionName);
  return true;
}

// ---- properties

void TCustomWSocket::setWhileClosed(std::string& field, const std::string& value, const char* name) {
  if (state_ != wsClosed) return RaiseException(std::string("Cannot change ") + name + " if not closed");
  field = TString::trim(value);
}

void TCustomWSocket::SetAddr(const std::string& value) { setWhileClosed(addr_, value, "Addr"); }
void TCustomWSocket::SetPort(const std::string& value) { setWhileClosed(port_, value, "Port"); }
void TCustomWSocket::SetProto(const std::string& value) { setWhileClosed(proto_, value, "Proto"); }

void TCustomWSocket::SetLocalAddr(const std::string& value) { localAddr_ = TString::trim(value); }
void TCustomWSocket::SetLocalPort(const std::string& value) { localPort_ = TString::trim(value); }

void TCustomWSocket::resetSettings() {
  addr_.clear();
  port_.clear();
  proto_ = "tcp";
  localAddr_ = "0.0.0.0";
  localPort_ = "0";
  lingerOnOff_ = wsLingerOn;
  lingerTimeout_ = 0;
  flushTimeout_ = 60;
  readCount_ = 0;
  allSent_ = true;
  closedNotified_ = false;
}

// ---- host lookup

void TCustomWSocket::LookupHost(const std::string& hostName) {
  if (hostName.empty()) {
    LifeGuard::Watch alive = life_.watch();
    RaiseException("DNS lookup: invalid host name.");
    if (alive) life_.notify(OnDnsLookupDone, this, WSAEINVAL);
    return;
  }
  lookupId_ = -1;  // a pending lookup is forgotten without notification
  dnsResult_.clear();
  dnsResultList_.clear();
  in_addr address{};
  if (parseDotted(hostName, address)) {
    dnsResult_ = hostName;
    dnsResultList_.push_back(hostName);
    life_.notify(OnDnsLookupDone, this, uint16_t{0});
    return;
  }
  // The result is queued to the context, so it always arrives after the id
  // is recorded; results for any other id are stale and dropped. Cancelling
  // forgets the id: the lookup ends unseen in the background (aborting it
  // inside Qt leaks the pending callback).
  lookupId_ = lookupHostInBackground(
      hostName, context_.get(), [this](int id, uint16_t error, const std::vector<std::string>& addresses) {
        guarded([this, id, error, &addresses] { handleLookupResult(id, error, addresses); });
      });
}

void TCustomWSocket::handleLookupResult(int id, uint16_t error,
                                        const std::vector<std::string>& addresses) {
  if (id != lookupId_) return;
  lookupId_ = -1;
  if (error == 0) {
    dnsResultList_ = addresses;
    dnsResult_ = addresses.front();
  }
  life_.notify(OnDnsLookupDone, this, error);
}

void TCustomWSocket::CancelLookup() {
  if (lookupId_ < 0) return;
  lookupId_ = -1;
  if (!destroying_) life_.notify(OnDnsLookupDone, this, WSAEINTR);
}

// ---- connect

void TCustomWSocket::Connect() {
  if (handle_.isOpen() && state_ != wsClosed) return RaiseException("Connect: Socket already in use");
  if (port_.empty()) return RaiseException("Connect: No Port Specified");
  if (addr_.empty()) return RaiseException("Connect: No IP Address Specified");
  if (proto_.empty()) return RaiseException("Connect: No Protocol Specified");

  bool stream = true;
  sockaddr_in remote{};
  sockaddr_in local{};
  try {
    resolveEndpoints(proto_, addr_, port_, localAddr_, localPort_, stream, remote, local);
  } catch (const ESocketException& e) {
    return RaiseException("connect: " + e.getMessage());
  }

  discardQueue();
  if (failed(handle_.open(stream), "Connect (socket)")) return;
  ++session_;
  streamSocket_ = stream;
  closedNotified_ = false;
  readNotifier_ = watchHandle(QSocketNotifier::Read, [this] { handleReadReady(); });
  writeNotifier_ = watchHandle(QSocketNotifier::Write, [this] { handleWriteReady(); });

  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  changeState(wsOpened);
  if (!alive || session != session_) return;

  if (stream) {
    if (failed(handle_.setOption(SOL_SOCKET, SO_REUSEADDR, 1), "setsockopt(SO_REUSEADDR)")) return;
    // A linger time of 0 would turn every graceful close into a reset that
    // drops data still in flight; only real linger times are applied.
    if ((lingerOnOff_ == wsLingerOff || (lingerOnOff_ == wsLingerOn && lingerTimeout_ > 0)) &&
        failed(handle_.setLinger(lingerOnOff_ == wsLingerOn, lingerTimeout_), "setsockopt(SO_LINGER)"))
      return;
    if (failed(handle_.setOption(SOL_SOCKET, SO_KEEPALIVE, 1), "setsockopt(SO_KEEPALIVE)")) return;
    if (componentOptions_.count(wsoTcpNoDelay) &&
        failed(handle_.setOption(IPPROTO_TCP, TCP_NODELAY, 1), "setsockopt(TCP_NODELAY)"))
      return;
  }
  if ((localAddr_ != "0.0.0.0" || localPort_ != "0") && failed(handle_.bind(local), "bind")) return;

  const uint16_t error = handle_.connect(remote);
  if (error == 0 || error == WSAEINPROGRESS) {
    changeState(wsConnecting);
    if (!alive || session != session_) return;
    enableWrite(true);  // writability tells that the connection is made
    return;
  }
  if (error == WSAECONNREFUSED || error == WSAENETUNREACH || error == WSAEHOSTUNREACH ||
      error == WSAETIMEDOUT) {
    // Failures of the connection itself are the network's answer: they
    // arrive as the connect event's error code, from the event loop.
    changeState(wsConnecting);
    if (!alive || session != session_) return;
    postSocketEvent(FD_CONNECT, error);
    return;
  }
  failed(error, "Connect");
}

QSocketNotifier* TCustomWSocket::watchHandle(int type, std::function<void()> ready) {
  auto* notifier = new QSocketNotifier(handle_.descriptor(), static_cast<QSocketNotifier::Type>(type), context_.get());
  notifier->setEnabled(false);
  QObject::connect(notifier, &QSocketNotifier::activated, context_.get(), std::move(ready));
  return notifier;
}

void TCustomWSocket::enableWrite(bool on) {
  if (writeNotifier_ && writeNotifier_->isEnabled() != on) writeNotifier_->setEnabled(on);
}

void TCustomWSocket::postSocketEvent(uint32_t bits, uint16_t error) {
  // Events meant for an earlier handle are dropped.
  const uint64_t session = session_;
  postToLoop([this, session, bits, error] {
    if (session == session_ && handle_.isOpen()) handleSocketEvent(bits, error);
  });
}

void TCustomWSocket::postToLoop(std::function<void()> work) {
  // Queued to the context: a call still queued dies with the socket.
  QMetaObject::invokeMethod(
      context_.get(), [this, work = std::move(work)] { guarded(work); }, Qt::QueuedConnection);
}

// ---- events

void TCustomWSocket::guarded(const std::function<void()>& work) {
  LifeGuard::Watch alive = life_.watch();
  // Hands a handler's exception to OnBgException and aborts the session
  // unless the handler says otherwise; nothing leaves an event handler.
  auto handle = [&](const std::exception& e) {
    if (!alive) return;
    bool canClose = true;
    try {
      if (!life_.notify(OnBgException, this, e, canClose)) return;
    } catch (...) {
      if (!alive) return;
    }
    if (!canClose) return;
    try {
      Abort();
    } catch (...) {
    }
  };
  try {
    work();
  } catch (const std::exception& e) {
    handle(e);
  } catch (...) {
    handle(Exception("Unknown exception"));
  }
}

void TCustomWSocket::handleReadReady() {
  if (!handle_.isOpen()) return;
  if (tlsHandshaking_) return guarded([this] { continueHandshake(); });
  if (sendWaitsForRead_) {
    // What TLS waited for has come: the next write event sends again.
    sendWaitsForRead_ = false;
    enableWrite(true);
  }
  uint16_t error = 0;
  const SocketHandle::Incoming incoming = peekIncoming(error);
  if (incoming == SocketHandle::Incoming::Nothing) return;
  // The end of the stream and a failed connection both close the session.
  const uint32_t bits = incoming == SocketHandle::Incoming::Data ? FD_READ : FD_CLOSE;
  guarded([this, bits, error] { handleSocketEvent(bits, error); });
}

void TCustomWSocket::handleWriteReady() {
  if (!handle_.isOpen()) return;
  enableWrite(false);
  if (tlsHandshaking_) return guarded([this] { continueHandshake(); });
  uint32_t bits = FD_WRITE;
  uint16_t error = 0;
  if (state_ == wsConnecting || state_ == wsOpened) {
    // The first writability ends the connect, with its result.
    error = handle_.connectResult();
    bits = error != 0 ? FD_CONNECT : FD_CONNECT | FD_WRITE;
    if (error == 0 && readNotifier_) readNotifier_->setEnabled(true);
  }
  guarded([this, bits, error] { handleSocketEvent(bits, error); });
}

void TCustomWSocket::handleSocketEvent(uint32_t bits, uint16_t error) {
  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  auto gone = [&] { return !alive || session != session_ || !handle_.isOpen(); };

  if ((bits & FD_CONNECT) && state_ != wsConnected) {
    changeState(wsConnected);
    if (gone()) return;
    life_.notify(OnSessionConnected, this, error);
    if (gone()) return;
    if (error != 0) {
      if (state_ != wsClosed) Close();
      return;
    }
  }
  if (bits & FD_READ) {
    if (state_ != wsConnected) {
      changeState(wsConnected);
      if (gone()) return;
      life_.notify(OnSessionConnected, this, error);
      if (gone()) return;
    }
    receiveLoop(error, true);
    if (gone()) return;
  }
  if (bits & FD_WRITE) {
    tryToSend();
    if (gone()) return;
    if (allSent_) life_.notify(OnDataSent, this, error);
    if (gone()) return;
  }
  if ((bits & FD_CLOSE) && state_ != wsConnecting) {
    receiveLoop(0, false);
    if (gone()) return;
    if (!closedNotified_) {
      closedNotified_ = true;
      life_.notify(OnSessionClosed, this, error);
      if (gone()) return;
    }
    if (state_ != wsClosed) Close();
  }
}

void TCustomWSocket::receiveLoop(uint16_t error, bool honourNoLoop) {
  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  const bool once = honourNoLoop && componentOptions_.count(wsoNoReceiveLoop) > 0;
  // A peer that sends faster than the handler reads would hold the thread
  // here for as long as it sends, and no timer would run. After a bounded
  // number of passes or bytes the event loop gets its turn; the read notifier
  // offers the rest at the next one. The loop before a close drains all.
  constexpr int kPassesPerEvent = 64;
  constexpr uint64_t kBytesPerEvent = 64 * 1024;
  const uint64_t readBefore = readCount_;
  for (int pass = 1;; ++pass) {
    lastError_ = 0;
    if (OnDataAvailable) {
      const uint64_t receivesBefore = receiveCalls_;
      OnDataAvailable(this, error);
      if (!alive || session != session_) return;
      if (receiveCalls_ == receivesBefore) {
        // A handler that does not read would be offered the same data for
        // ever: readiness is not watched again until it calls Receive.
        if (readNotifier_) readNotifier_->setEnabled(false);
        return;
      }
    } else {
      char discard[1024];
      if (Receive(discard, sizeof discard) < 0 && lastError_ == WSAEWOULDBLOCK) {
        lastError_ = 0;
        return;
      }
    }
    if (once || lastError_ != 0 || !handle_.isOpen()) return;
    if (honourNoLoop && (pass >= kPassesPerEvent || readCount_ - readBefore >= kBytesPerEvent)) {
      // Bytes already decrypted are not announced by the handle again.
      if (tls_ && !tlsHandshaking_ && tls_->pending() > 0) postSocketEvent(FD_READ, 0);
      return;
    }
    if (waiting() <= 0) return;
  }
}

// ---- sending

void TCustomWSocket::QueueData(const void* data, int32_t length) {
  queue_.append(static_cast<const char*>(data), length);
}

void TCustomWSocket::discardQueue() { queue_.clear(); }

int32_t TCustomWSocket::Send(const void* data, int32_t length) {
  if (state_ != wsConnected) {
    failed(WSAENOTCONN, "Send");
    return -1;
  }
  allSent_ = false;
  QueueData(data, length);
  LifeGuard::Watch alive = life_.watch();
  tryToSend();
  if (!alive) return length <= 0 ? 0 : length;
  // OnDataSent must never run inside Send: the event loop delivers it.
  if (allSent_ && handle_.isOpen()) postSocketEvent(FD_WRITE, 0);
  return length <= 0 ? 0 : length;
}

int32_t TCustomWSocket::SendText(const std::string& text) {
  return Send(text.data(), static_cast<int32_t>(text.size()));
}

void TCustomWSocket::tryToSend() {
  // The unsent bytes of up to kGather blocks leave in one call, in queue
  // order; a block emptied by it is freed unless it is the only one.
  constexpr size_t kGather = 64;
  if (tlsHandshaking_) return;  // the bytes leave once the handshake is done
  while (handle_.isOpen() && !queue_.empty()) {
    iovec parts[kGather];
    size_t wanted = 0;
    const size_t count = queue_.gather(parts, kGather, wanted);
    if (count == 0) {
      queue_.trim();
      allSent_ = true;
      return;
    }
    size_t sent = 0;
    const uint16_t code = transportSend(parts, count, sent);
    if (code == 0) {
      queue_.consume(sent);
      // TLS takes one record per call: more may go at once.
      if (sent == wanted || (tls_ && sent > 0)) continue;
      enableWrite(true);  // the next write event resumes
      return;
    }
    if (code == WSAEWOULDBLOCK) {
      if (!sendWaitsForRead_) enableWrite(true);
      return;
    }
    if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED || code == WSAECONNRESET ||
        code == WSAENOTCONN) {
      LifeGuard::Watch alive = life_.watch();
      closedNotified_ = true;
      Close();
      if (alive) life_.notify(OnSessionClosed, this, code);
      return;
    }
    failed(code, "TryToSend failed");
    return;
  }
  if (queue_.empty()) allSent_ = true;
}

// ---- receiving

int32_t TCustomWSocket::Receive(void* buffer, int32_t size) {
  ++receiveCalls_;
  if (readNotifier_ && state_ == wsConnected && !readNotifier_->isEnabled()) {
    readNotifier_->setEnabled(true);
    if (tls_ && !tlsHandshaking_ && tls_->pending() > 0) postSocketEvent(FD_READ, 0);
  }
  if (!handle_.isOpen()) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  if (size <= 0) return 0;
  size_t received = 0;
  const uint16_t error = transportReceive(buffer, static_cast<size_t>(size), received);
  if (error != 0) {
    lastError_ = error;
    return -1;
  }
  readCount_ += received;
  return static_cast<int32_t>(received);
}

// ---- closing

void TCustomWSocket::closeHandle() {
  tls_.reset();
  tlsHandshaking_ = false;
  sendWaitsForRead_ = false;
  delete readNotifier_;
  readNotifier_ = nullptr;
  delete writeNotifier_;
  writeNotifier_ = nullptr;
  handle_.close();
  ++session_;
}

void TCustomWSocket::internalClose(bool shutdownFirst) {
  LifeGuard::Watch alive = life_.watch();
  if (!handle_.isOpen()) {
    if (state_ != wsClosed) {
      changeState(wsClosed);
      if (!alive) return;
    }
    resetSettings();
    return;
  }
  if (shutdownFirst && state_ == wsConnected && streamSocket_) {
    if (TlsActive()) tls_->closeNotify();
    handle_.shutdownSend();
  }
  closeHandle();
  const uint64_t session = session_;
  changeState(wsClosed);
  if (!alive) return;
  if (!destroying_ && !closedNotified_) {
    closedNotified_ = true;
    if (!life_.notify(OnSessionClosed, this, uint16_t{0})) return;
  }
  // A handler that already started the next session keeps its settings.
  if (session == session_ && state_ == wsClosed) resetSettings();
}

void TCustomWSocket::Close() {
  if (state_ == wsClosed && !handle_.isOpen()) return;
  internalClose(true);
}

void TCustomWSocket::Abort() {
  LifeGuard::Watch alive = life_.watch();
  CancelLookup();
  if (!alive) return;
  discardQueue();
  if (handle_.isOpen() && state_ == wsConnected && streamSocket_) {
    lingerOnOff_ = wsLingerOff;
    handle_.setLinger(false, 0);
  }
  if (state_ == wsClosed && !handle_.isOpen()) return;
  internalClose(false);
}

void TCustomWSocket::CloseDelayed() {
  postToLoop([this] { Close(); });
}

void TCustomWSocket::Release() {
  // Destroys the socket and with it the context running this call.
  QMetaObject::invokeMethod(context_.get(), [this] { delete this; }, Qt::QueuedConnection);
}

void TCustomWSocket::PostTestException() {
  postToLoop([] { throw ESocketException("Test exception in WSocket"); });
}

// ---- TLS

void TCustomWSocket::StartTls(const std::string& host, const std::string& caFile) {
  if (state_ != wsConnected || !handle_.isOpen()) {
    failed(WSAENOTCONN, "StartTls");
    return;
  }
  if (tls_ || tlsHandshaking_) return RaiseException("StartTls: TLS already started");
  // Bytes queued before would leave encrypted, where the server expects them plain.
  if (!queue_.empty() && !allSent_) return RaiseException("StartTls: data still waiting to be sent");
  std::string failure;
  tls_ = TlsChannel::open(handle_, host, caFile, failure);
  tlsHandshaking_ = true;  // from here on every byte that arrives is the handshake's
  const uint64_t session = session_;
  postToLoop([this, session, failure] {
    if (session != session_ || !tlsHandshaking_) return;
    if (tls_) {
      continueHandshake();
    } else {
      endHandshake(failure);
    }
  });
}

void TCustomWSocket::continueHandshake() {
  switch (tls_->handshake()) {
    case TlsChannel::Status::Ok:
      tlsHandshaking_ = false;
      endHandshake("");
      return;
    case TlsChannel::Status::WantRead:
      if (readNotifier_) readNotifier_->setEnabled(true);
      return;
    case TlsChannel::Status::WantWrite:
      enableWrite(true);
      return;
    default:
      endHandshake(tls_->failure());
      return;
  }
}

void TCustomWSocket::endHandshake(const std::string& failure) {
  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  life_.notify(OnTlsDone, this, failure);
  if (!alive || session != session_ || !handle_.isOpen()) return;
  if (!failure.empty()) {
    Abort();  // nothing more may pass over a connection whose handshake failed
    return;
  }
  if (!queue_.empty()) tryToSend();
  if (alive && session == session_ && tls_ && tls_->pending() > 0) postSocketEvent(FD_READ, 0);
}

uint16_t TCustomWSocket::tlsError(TlsChannel::Status status) {
  switch (status) {
    case TlsChannel::Status::Ok: return 0;
    case TlsChannel::Status::WantWrite: return WSAEWOULDBLOCK;
    case TlsChannel::Status::WantRead: return WSAEWOULDBLOCK;
    default:
      // A broken record is tampering or a broken peer: the connection ends.
      return tls_->transportError() != 0 ? tls_->transportError() : WSAECONNABORTED;
  }
}

uint16_t TCustomWSocket::transportSend(const iovec* parts, size_t count, size_t& sent) {
  if (!tls_) return handle_.send(parts, count, sent);
  const TlsChannel::Status status = tls_->send(parts, count, sent);
  if (status == TlsChannel::Status::WantRead) sendWaitsForRead_ = true;
  return tlsError(status);
}

uint16_t TCustomWSocket::transportReceive(void* buffer, size_t size, size_t& received) {
  received = 0;
  if (tlsHandshaking_) return WSAEWOULDBLOCK;
  if (!tls_) return handle_.receive(buffer, size, received);
  const TlsChannel::Status status = tls_->receive(buffer, size, received);
  return status == TlsChannel::Status::Closed ? 0 : tlsError(status);
}

SocketHandle::Incoming TCustomWSocket::peekIncoming(uint16_t& error) {
  if (!tls_) return handle_.peek(error);
  switch (const TlsChannel::Status status = tls_->peek()) {
    case TlsChannel::Status::Ok: return SocketHandle::Incoming::Data;
    case TlsChannel::Status::Closed: return SocketHandle::Incoming::End;
    case TlsChannel::Status::Failed:
      error = tlsError(status);
      return SocketHandle::Incoming::Failed;
    default: return SocketHandle::Incoming::Nothing;
  }
}

int32_t TCustomWSocket::waiting() const {
  if (tlsHandshaking_) return 0;
  return tls_ ? static_cast<int32_t>(tls_->pending()) : handle_.waiting();
}

std::string TCustomWSocket::LocalAddress() const { return handle_.localAddress(); }

// ---- class functions

std::string TCustomWSocket::GetLocalHostName() { return localHostName(); }
std::string TCustomWSocket::ErrorDescription(int32_t code) { return socketErrorDescription(code); }
