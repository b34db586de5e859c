#include "net/TWSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <algorithm>

#include "basis/TString.h"

namespace {

int32_t liveSockets = 0;

// The classic socket error number of a system error number.
uint16_t mapErrno(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // Sending on a stream whose peer has gone: the connection was reset.
    case EPIPE: case ECONNRESET: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return static_cast<uint16_t>(e);
  }
}

uint16_t mapLookupError(int gaiError) {
  switch (gaiError) {
    case EAI_NONAME: return TCustomWSocket::WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return 11002;
#ifdef EAI_NODATA
    case EAI_NODATA: return TCustomWSocket::WSANO_DATA;
#endif
    case EAI_SYSTEM: return mapErrno(errno);
    default: return 11003;
  }
}

// Four decimal parts separated by dots and nothing else.
bool looksDotted(const std::string& text) {
  if (text.empty()) return false;
  int dots = 0;
  for (char c : text) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  return dots == 3;
}

bool parseDotted(const std::string& text, in_addr& out) {
  return looksDotted(text) && inet_pton(AF_INET, text.c_str(), &out) == 1;
}

std::string formatted(const char* format, const std::string& text, int code) {
  // Formats of the shape "...'%s', Error #%d".
  std::string result = format;
  result.replace(result.find("%s"), 2, text);
  result.replace(result.find("%d"), 2, std::to_string(code));
  return result;
}

// Protocol: returns the protocol number; stream tells the socket type.
int resolveProto(const std::string& proto, bool& stream) {
  if (proto.empty()) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  int number;
  if (proto[0] >= '0' && proto[0] <= '9') {
    number = std::atoi(proto.c_str());
  } else if (TString::toLowerAscii(proto) == "tcp") {
    number = IPPROTO_TCP;  // the two common names need no database
  } else if (TString::toLowerAscii(proto) == "udp") {
    number = IPPROTO_UDP;
  } else {
    protoent entry{};
    protoent* result = nullptr;
    char buffer[1024];
    std::string lower = TString::toLowerAscii(proto);
    if (getprotobyname_r(lower.c_str(), &entry, buffer, sizeof buffer, &result) != 0 || !result)
      throw ESocketException(formatted("WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                       proto, TCustomWSocket::WSANO_DATA));
    number = result->p_proto;
  }
  stream = number != IPPROTO_UDP;
  return number;
}

uint16_t resolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() > 31) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (proto.empty()) throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (port[0] >= '0' && port[0] <= '9') return static_cast<uint16_t>(std::atoi(port.c_str()));
  servent entry{};
  servent* result = nullptr;
  char buffer[1024];
  std::string lowerProto = TString::toLowerAscii(proto);
  if (getservbyname_r(port.c_str(), lowerProto.c_str(), &entry, buffer, sizeof buffer, &result) != 0 ||
      !result)
    throw ESocketException(formatted("WSocketResolvePort: Cannot convert port '%s', Error #%d", port,
                                     TCustomWSocket::WSANO_DATA));
  return ntohs(static_cast<uint16_t>(result->s_port));
}

in_addr resolveHost(const std::string& host) {
  if (host.empty() || host.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
  in_addr address{};
  if (looksDotted(host)) {
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
      throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0)
    throw ESocketException(formatted("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                     host, mapLookupError(rc)));
  if (!list) throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
  address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
  freeaddrinfo(list);
  return address;
}

}  // namespace

// ---------------------------------------------------------------- receiver

// The socket's private notification target: readiness of the handle, posted
// socket events, delayed close and destruction, and lookup results all arrive
// here. Events still queued for it are dropped when it is destroyed.
class TWSocketReceiver : public QObject {
 public:
  enum Kind { SocketEvent, CloseEvent, ReleaseEvent, TestExceptionEvent };

  class Posted : public QEvent {
   public:
    Posted(Kind kind, uint64_t session, uint32_t bits, uint16_t error)
        : QEvent(type()), kind(kind), session(session), bits(bits), error(error) {}
    static QEvent::Type type() {
      static const QEvent::Type t = static_cast<QEvent::Type>(QEvent::registerEventType());
      return t;
    }
    Kind kind;
    uint64_t session;
    uint32_t bits;
    uint16_t error;
  };

  explicit TWSocketReceiver(TCustomWSocket* owner) : owner_(owner) {}

  bool event(QEvent* e) override {
    if (e->type() != Posted::type()) return QObject::event(e);
    auto* p = static_cast<Posted*>(e);
    TCustomWSocket* owner = owner_;
    switch (p->kind) {
      case SocketEvent:
        if (p->session == owner->session_ && owner->fd_ >= 0)
          owner->guarded([owner, p] { owner->handleSocketEvent(p->bits, p->error); });
        break;
      case CloseEvent:
        owner->guarded([owner] { owner->Close(); });
        break;
      case ReleaseEvent:
        delete owner;  // destroys this receiver too: touch nothing afterwards
        break;
      case TestExceptionEvent:
        owner->guarded([] { throw ESocketException("Test exception in WSocket"); });
        break;
    }
    return true;
  }

 private:
  TCustomWSocket* owner_;
};

// ---------------------------------------------------------------- TBuffer

TBuffer::TBuffer(int32_t capacity) : capacity_(capacity <= 0 ? 1514 : capacity) {
  data_ = std::make_unique<char[]>(static_cast<size_t>(capacity_));
}

int32_t TBuffer::write(const char* data, int32_t length) {
  int32_t count = std::min(length, room());
  if (count > 0) {
    std::memcpy(data_.get() + writeCount_, data, static_cast<size_t>(count));
    writeCount_ += count;
  }
  return count;
}

const char* TBuffer::peek(int32_t& length) const {
  length = writeCount_ - readCount_;
  return data_.get() + readCount_;
}

void TBuffer::remove(int32_t count) {
  readCount_ += count;
  if (readCount_ >= writeCount_) readCount_ = writeCount_ = 0;
}

// ---------------------------------------------------------------- socket

TCustomWSocket::TCustomWSocket() {
  receiver_ = new TWSocketReceiver(this);
  ++liveSockets;
}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  lookupId_ = -1;
  if (state_ != wsClosed || fd_ >= 0) {
    try {
      internalClose(true);
    } catch (...) {
      // a destructor reports nothing
    }
  }
  discardQueue();
  delete receiver_;  // with it every queued event and the notifiers
  --liveSockets;
}

int32_t TCustomWSocket::SocketCount() { return liveSockets; }

void TCustomWSocket::changeState(TSocketState newState) {
  TSocketState oldState = state_;
  state_ = newState;
  if (oldState != newState && OnChangeState && !destroying_) OnChangeState(this, oldState, newState);
}

void TCustomWSocket::RaiseException(const std::string& text) {
  if (OnError) {
    OnError(this);
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
      std::weak_ptr<int> alive = life_;
      changeState(wsClosed);
      if (alive.expired()) return;
    }
  }
  RaiseException(text);
}

// ---- properties

void TCustomWSocket::SetAddr(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Cannot change Addr if not closed");
  addr_ = TString::trim(value);
}

void TCustomWSocket::SetPort(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Cannot change Port if not closed");
  port_ = TString::trim(value);
}

void TCustomWSocket::SetProto(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Cannot change Proto if not closed");
  proto_ = TString::trim(value);
}

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
  std::weak_ptr<int> alive = life_;
  if (hostName.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    if (!alive.expired() && OnDnsLookupDone) OnDnsLookupDone(this, WSAEINVAL);
    return;
  }
  lookupId_ = -1;  // a pending lookup is forgotten without notification
  dnsResult_.clear();
  dnsResultList_.clear();
  in_addr address{};
  if (parseDotted(hostName, address)) {
    dnsResult_ = hostName;
    dnsResultList_.push_back(hostName);
    if (OnDnsLookupDone) OnDnsLookupDone(this, 0);
    return;
  }
  // The result is queued to the receiver, so it always arrives after the id
  // is recorded; results for any other id are stale and dropped. Cancelling
  // forgets the id: the lookup ends unseen in the background (aborting it
  // inside Qt leaks the pending callback).
  lookupId_ = QHostInfo::lookupHost(
      QString::fromStdString(hostName), receiver_, [this](const QHostInfo& info) {
        std::vector<std::string> addresses;
        uint16_t error = 0;
        if (info.error() == QHostInfo::HostNotFound) {
          error = WSAHOST_NOT_FOUND;
        } else if (info.error() != QHostInfo::NoError) {
          error = 11003;
        } else {
          for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
              addresses.push_back(a.toString().toStdString());
          if (addresses.empty()) error = WSANO_DATA;
        }
        int id = info.lookupId();
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
  if (OnDnsLookupDone) OnDnsLookupDone(this, error);
}

void TCustomWSocket::CancelLookup() {
  if (lookupId_ < 0) return;
  lookupId_ = -1;
  if (!destroying_ && OnDnsLookupDone) OnDnsLookupDone(this, WSAEINTR);
}

// ---- connect

void TCustomWSocket::Connect() {
  if (fd_ >= 0 && state_ != wsClosed) return RaiseException("Connect: Socket already in use");
  if (port_.empty()) return RaiseException("Connect: No Port Specified");
  if (addr_.empty()) return RaiseException("Connect: No IP Address Specified");
  if (proto_.empty()) return RaiseException("Connect: No Protocol Specified");

  bool stream = true;
  sockaddr_in remote{};
  sockaddr_in local{};
  try {
    int protocol = resolveProto(proto_, stream);
    (void)protocol;
    std::string protoName = stream ? "tcp" : "udp";
    remote.sin_family = AF_INET;
    remote.sin_port = htons(resolvePort(port_, protoName));
    local.sin_family = AF_INET;
    local.sin_port = htons(resolvePort(localPort_, protoName));
    remote.sin_addr = resolveHost(addr_);
    if (localAddr_ != "0.0.0.0") local.sin_addr = resolveHost(localAddr_);
  } catch (const ESocketException& e) {
    return RaiseException("connect: " + e.getMessage());
  }

  discardQueue();
  int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    lastError_ = mapErrno(errno);
    return SocketError("Connect (socket)");
  }
  fd_ = fd;
  ++session_;
  streamSocket_ = stream;
  closedNotified_ = false;
  readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, receiver_);
  readNotifier_->setEnabled(false);
  QObject::connect(readNotifier_, &QSocketNotifier::activated, receiver_, [this] { handleReadReady(); });
  writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, receiver_);
  writeNotifier_->setEnabled(false);
  QObject::connect(writeNotifier_, &QSocketNotifier::activated, receiver_, [this] { handleWriteReady(); });

  std::weak_ptr<int> alive = life_;
  uint64_t session = session_;
  changeState(wsOpened);
  if (alive.expired() || session != session_) return;

  if (stream) {
    int on = 1;
    if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      lastError_ = mapErrno(errno);
      return SocketError("setsockopt(SO_REUSEADDR)");
    }
    // A linger time of 0 would turn every graceful close into a reset that
    // drops data still in flight; only real linger times are applied.
    if (lingerOnOff_ == wsLingerOff || (lingerOnOff_ == wsLingerOn && lingerTimeout_ > 0)) {
      linger li{lingerOnOff_ == wsLingerOn ? 1 : 0, lingerOnOff_ == wsLingerOn ? lingerTimeout_ : 0};
      if (setsockopt(fd_, SOL_SOCKET, SO_LINGER, &li, sizeof li) != 0) {
        lastError_ = mapErrno(errno);
        return SocketError("setsockopt(SO_LINGER)");
      }
    }
    if (setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      lastError_ = mapErrno(errno);
      return SocketError("setsockopt(SO_KEEPALIVE)");
    }
    if (componentOptions_.count(wsoTcpNoDelay) &&
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
      lastError_ = mapErrno(errno);
      return SocketError("setsockopt(TCP_NODELAY)");
    }
  }
  if (localAddr_ != "0.0.0.0" || localPort_ != "0") {
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      lastError_ = mapErrno(errno);
      return SocketError("bind");
    }
  }

  int rc;
  do {
    rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0 || errno == EINPROGRESS) {
    changeState(wsConnecting);
    if (alive.expired() || session != session_) return;
    enableWrite(true);  // writability tells that the connection is made
    return;
  }
  int e = errno;
  if (e == ECONNREFUSED || e == ENETUNREACH || e == EHOSTUNREACH || e == ETIMEDOUT) {
    // Failures of the connection itself are the network's answer: they
    // arrive as the connect event's error code, from the event loop.
    changeState(wsConnecting);
    if (alive.expired() || session != session_) return;
    postSocketEvent(FD_CONNECT, mapErrno(e));
    return;
  }
  lastError_ = mapErrno(e);
  SocketError("Connect");
}

void TCustomWSocket::enableWrite(bool on) {
  if (writeNotifier_ && writeNotifier_->isEnabled() != on) writeNotifier_->setEnabled(on);
}

void TCustomWSocket::postSocketEvent(uint32_t bits, uint16_t error) {
  QCoreApplication::postEvent(
      receiver_, new TWSocketReceiver::Posted(TWSocketReceiver::SocketEvent, session_, bits, error));
}

// ---- events

void TCustomWSocket::guarded(const std::function<void()>& work) {
  std::weak_ptr<int> alive = life_;
  // Hands a handler's exception to OnBgException and aborts the session
  // unless the handler says otherwise; nothing leaves an event handler.
  auto handle = [&](const std::exception& e) {
    if (alive.expired()) return;
    bool canClose = true;
    try {
      if (OnBgException) OnBgException(this, e, canClose);
    } catch (...) {
    }
    if (alive.expired() || !canClose) return;
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
  if (fd_ < 0) return;
  char probe;
  ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) {
    guarded([this] { handleSocketEvent(FD_READ, 0); });
  } else if (n == 0) {
    guarded([this] { handleSocketEvent(FD_CLOSE, 0); });
  } else if (errno != EAGAIN && errno != EINTR) {
    uint16_t error = mapErrno(errno);
    guarded([this, error] { handleSocketEvent(FD_CLOSE, error); });
  }
}

void TCustomWSocket::handleWriteReady() {
  if (fd_ < 0) return;
  enableWrite(false);
  if (state_ == wsConnecting || state_ == wsOpened) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      uint16_t error = mapErrno(err);
      guarded([this, error] { handleSocketEvent(FD_CONNECT, error); });
      return;
    }
    if (readNotifier_) readNotifier_->setEnabled(true);
    guarded([this] { handleSocketEvent(FD_CONNECT | FD_WRITE, 0); });
    return;
  }
  guarded([this] { handleSocketEvent(FD_WRITE, 0); });
}

void TCustomWSocket::handleSocketEvent(uint32_t bits, uint16_t error) {
  std::weak_ptr<int> alive = life_;
  const uint64_t session = session_;
  auto gone = [&] { return alive.expired() || session != session_ || fd_ < 0; };

  if ((bits & FD_CONNECT) && state_ != wsConnected) {
    changeState(wsConnected);
    if (gone()) return;
    if (OnSessionConnected) OnSessionConnected(this, error);
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
      if (OnSessionConnected) OnSessionConnected(this, error);
      if (gone()) return;
    }
    receiveLoop(error, true);
    if (gone()) return;
  }
  if (bits & FD_WRITE) {
    tryToSend();
    if (gone()) return;
    if (allSent_ && OnDataSent) OnDataSent(this, error);
    if (gone()) return;
  }
  if ((bits & FD_CLOSE) && state_ != wsConnecting) {
    receiveLoop(0, false);
    if (gone()) return;
    if (!closedNotified_) {
      closedNotified_ = true;
      if (OnSessionClosed) OnSessionClosed(this, error);
      if (gone()) return;
    }
    if (state_ != wsClosed) Close();
  }
}

void TCustomWSocket::receiveLoop(uint16_t error, bool honourNoLoop) {
  std::weak_ptr<int> alive = life_;
  const uint64_t session = session_;
  const bool once = honourNoLoop && componentOptions_.count(wsoNoReceiveLoop) > 0;
  // A peer that sends faster than the handler reads would hold the thread
  // here for as long as it sends, and no timer would run. After a bounded
  // number of passes or bytes the event loop gets its turn; the read notifier
  // offers the rest at the next one. The loop before a close drains all.
  constexpr int kPassesPerEvent = 64;
  constexpr uint64_t kBytesPerEvent = 64 * 1024;
  const uint64_t receivedBefore = receivedBytes_;
  for (int pass = 1;; ++pass) {
    lastError_ = 0;
    if (OnDataAvailable) {
      const uint64_t receivesBefore = receiveCalls_;
      OnDataAvailable(this, error);
      if (alive.expired() || session != session_) return;
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
    if (once || lastError_ != 0 || fd_ < 0) return;
    if (honourNoLoop && (pass >= kPassesPerEvent || receivedBytes_ - receivedBefore >= kBytesPerEvent)) return;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0) return;
  }
}

// ---- sending

void TCustomWSocket::QueueData(const void* data, int32_t length) {
  if (length <= 0) return;
  const char* p = static_cast<const char*>(data);
  if (!queue_.empty()) {
    int32_t n = queue_.back()->write(p, length);
    p += n;
    length -= n;
  }
  while (length > 0) {
    queue_.push_back(std::make_unique<TBuffer>(SEND_BLOCK_SIZE));
    int32_t n = queue_.back()->write(p, length);
    p += n;
    length -= n;
  }
}

void TCustomWSocket::discardQueue() { queue_.clear(); }

int32_t TCustomWSocket::Send(const void* data, int32_t length) {
  if (state_ != wsConnected) {
    lastError_ = WSAENOTCONN;
    SocketError("Send");
    return -1;
  }
  allSent_ = false;
  QueueData(data, length);
  std::weak_ptr<int> alive = life_;
  tryToSend();
  if (alive.expired()) return length <= 0 ? 0 : length;
  // OnDataSent must never run inside Send: the event loop delivers it.
  if (allSent_ && fd_ >= 0) postSocketEvent(FD_WRITE, 0);
  return length <= 0 ? 0 : length;
}

int32_t TCustomWSocket::SendText(const std::string& text) {
  return Send(text.data(), static_cast<int32_t>(text.size()));
}

void TCustomWSocket::tryToSend() {
  // The unsent bytes of up to kGather blocks leave in one call, in queue
  // order; a block emptied by it is freed unless it is the only one.
  constexpr size_t kGather = 64;
  while (fd_ >= 0 && !queue_.empty()) {
    iovec parts[kGather];
    size_t count = 0;
    size_t wanted = 0;
    for (size_t i = 0; i < queue_.size() && count < kGather; ++i) {
      int32_t length = 0;
      const char* p = queue_[i]->peek(length);
      if (length <= 0) continue;
      parts[count].iov_base = const_cast<char*>(p);
      parts[count].iov_len = static_cast<size_t>(length);
      wanted += static_cast<size_t>(length);
      ++count;
    }
    if (count == 0) {
      while (queue_.size() > 1) queue_.pop_front();
      allSent_ = true;
      return;
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (n >= 0) {
      size_t left = static_cast<size_t>(n);
      while (left > 0) {
        TBuffer& first = *queue_.front();
        int32_t length = 0;
        first.peek(length);
        size_t taken = std::min(left, static_cast<size_t>(length));
        first.remove(static_cast<int32_t>(taken));
        left -= taken;
        if (taken == static_cast<size_t>(length) && queue_.size() > 1) queue_.pop_front();
      }
      if (static_cast<size_t>(n) == wanted) continue;
      enableWrite(true);  // the next write event resumes
      return;
    }
    if (errno == EINTR) continue;
    uint16_t code = mapErrno(errno);
    if (code == WSAEWOULDBLOCK) {
      enableWrite(true);
      return;
    }
    if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED || code == WSAECONNRESET ||
        code == WSAENOTCONN) {
      std::weak_ptr<int> alive = life_;
      closedNotified_ = true;
      Close();
      if (alive.expired()) return;
      if (OnSessionClosed) OnSessionClosed(this, code);
      return;
    }
    lastError_ = code;
    SocketError("TryToSend failed");
    return;
  }
  if (queue_.empty()) allSent_ = true;
}

// ---- receiving

int32_t TCustomWSocket::Receive(void* buffer, int32_t size) {
  ++receiveCalls_;
  if (readNotifier_ && state_ == wsConnected && !readNotifier_->isEnabled()) readNotifier_->setEnabled(true);
  if (fd_ < 0) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  if (size <= 0) return 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    lastError_ = mapErrno(errno);
    return -1;
  }
  readCount_ += static_cast<int32_t>(n);
  receivedBytes_ += static_cast<uint64_t>(n);
  return static_cast<int32_t>(n);
}

// ---- closing

void TCustomWSocket::closeHandle() {
  delete readNotifier_;
  readNotifier_ = nullptr;
  delete writeNotifier_;
  writeNotifier_ = nullptr;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  ++session_;
}

void TCustomWSocket::internalClose(bool shutdownFirst) {
  if (fd_ < 0) {
    if (state_ != wsClosed) {
      std::weak_ptr<int> alive = life_;
      changeState(wsClosed);
      if (alive.expired()) return;
    }
    resetSettings();
    return;
  }
  if (shutdownFirst && state_ == wsConnected && streamSocket_) ::shutdown(fd_, SHUT_WR);
  closeHandle();
  std::weak_ptr<int> alive = life_;
  const uint64_t session = session_;
  changeState(wsClosed);
  if (alive.expired()) return;
  if (!destroying_ && !closedNotified_) {
    closedNotified_ = true;
    if (OnSessionClosed) OnSessionClosed(this, 0);
    if (alive.expired()) return;
  }
  // A handler that already started the next session keeps its settings.
  if (session == session_ && state_ == wsClosed) resetSettings();
}

void TCustomWSocket::Close() {
  if (state_ == wsClosed && fd_ < 0) return;
  internalClose(true);
}

void TCustomWSocket::Abort() {
  std::weak_ptr<int> alive = life_;
  CancelLookup();
  if (alive.expired()) return;
  discardQueue();
  if (fd_ >= 0 && state_ == wsConnected && streamSocket_) {
    lingerOnOff_ = wsLingerOff;
    linger li{0, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &li, sizeof li);
  }
  if (state_ == wsClosed && fd_ < 0) return;
  internalClose(false);
}

void TCustomWSocket::CloseDelayed() {
  QCoreApplication::postEvent(receiver_,
                              new TWSocketReceiver::Posted(TWSocketReceiver::CloseEvent, session_, 0, 0));
}

void TCustomWSocket::Release() {
  QCoreApplication::postEvent(
      receiver_, new TWSocketReceiver::Posted(TWSocketReceiver::ReleaseEvent, session_, 0, 0));
}

void TCustomWSocket::PostTestException() {
  QCoreApplication::postEvent(
      receiver_, new TWSocketReceiver::Posted(TWSocketReceiver::TestExceptionEvent, session_, 0, 0));
}

// ---- class functions

std::string TCustomWSocket::GetLocalHostName() {
  char name[256];
  if (gethostname(name, sizeof name) != 0) throw ESocketException("Winsock.GetHostName failed");
  name[sizeof name - 1] = '\0';
  std::string result = name;
  if (result.size() > 63) result.resize(63);
  return result;
}

std::string TCustomWSocket::ErrorDescription(int32_t code) {
  switch (code) {
    case 0: return "No Error";
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on non-socket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Address not available";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Connection aborted";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references: can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disc quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network sub-system is unusable";
    case 10092: return "WinSock DLL cannot support this application";
    case 10093: return "WinSock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non-authoritative host not found";
    case 11003: return "Non-recoverable error";
    case 11004: return "No Data";
    default: return "Not a WinSock error";
  }
}
