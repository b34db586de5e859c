#include "net/TWSocket.h"

#include <netinet/tcp.h>
#include <cstdint>
#include <sys/socket.h>

#include <QObject>
#include <QSocketNotifier>

#include "basis/TString.h"
#include "net/PlainTransport.h"
#include "net/SocketErrors.h"
#include "net/SocketResolution.h"
#include "net/TlsTransport.h"

namespace {
int32_t liveSockets = 0;
}  // namespace

TCustomWSocket::TCustomWSocket()
    : context_(std::make_unique<QObject>()), transport_(std::make_unique<PlainTransport>(handle_)) {
  ++liveSockets;
}

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
  if (transport_->settingUp()) return guarded([this] { continueSetup(); });
  // What the transport waited for has come: the next write event sends again.
  if (transport_->endReadWait()) enableWrite(true);
  uint16_t error = 0;
  const SocketHandle::Incoming incoming = transport_->peek(error);
  if (incoming == SocketHandle::Incoming::Nothing) return;
  // The end of the stream and a failed connection both close the session.
  const uint32_t bits = incoming == SocketHandle::Incoming::Data ? FD_READ : FD_CLOSE;
  guarded([this, bits, error] { handleSocketEvent(bits, error); });
}

void TCustomWSocket::handleWriteReady() {
  if (!handle_.isOpen()) return;
  enableWrite(false);
  if (transport_->settingUp()) return guarded([this] { continueSetup(); });
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

// ---- closing

void TCustomWSocket::closeHandle() {
  transport_ = std::make_unique<PlainTransport>(handle_);
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
    transport_->closeNotify();
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
  if (transport_->settingUp() || transport_->encrypted()) return RaiseException("StartTls: TLS already started");
  // Bytes queued before would leave encrypted, where the server expects them plain.
  if (!queue_.empty() && !allSent_) return RaiseException("StartTls: data still waiting to be sent");
  // From here on every byte that arrives is the handshake's.
  transport_ = std::make_unique<TlsTransport>(handle_, host, caFile);
  const uint64_t session = session_;
  postToLoop([this, session] {
    if (session == session_ && transport_->settingUp()) continueSetup();
  });
}

void TCustomWSocket::continueSetup() {
  switch (transport_->advanceSetup()) {
    case SocketTransport::Setup::Done: endSetup(""); return;
    case SocketTransport::Setup::WantRead:
      if (readNotifier_) readNotifier_->setEnabled(true);
      return;
    case SocketTransport::Setup::WantWrite: enableWrite(true); return;
    case SocketTransport::Setup::Failed: endSetup(transport_->failure()); return;
  }
}

void TCustomWSocket::endSetup(std::string failure) {
  LifeGuard::Watch alive = life_.watch();
  const uint64_t session = session_;
  life_.notify(OnTlsDone, this, failure);
  if (!alive || session != session_ || !handle_.isOpen()) return;
  if (!failure.empty()) {
    Abort();  // nothing more may pass over a connection whose handshake failed
    return;
  }
  if (!queue_.empty()) tryToSend();
  if (alive && session == session_ && transport_->held() > 0) postSocketEvent(FD_READ, 0);
}

std::string TCustomWSocket::LocalAddress() const { return handle_.localAddress(); }

// ---- class functions

std::string TCustomWSocket::GetLocalHostName() { return localHostName(); }
std::string TCustomWSocket::ErrorDescription(int32_t code) { return socketErrorDescription(code); }
