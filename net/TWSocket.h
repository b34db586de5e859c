#pragma once
// The event-driven TCP client socket.
//
// Every operation returns at once; what happens on the network later arrives
// as notifications from the Qt event loop of the thread that created the
// socket: host lookup done, session connected, data available, data sent,
// session closed. Readiness comes from QSocketNotifier on a non-blocking
// POSIX socket; deferred work is queued to a private context object, so
// anything still queued dies with the socket. The system calls themselves
// live in SocketHandle, name and port resolution in SocketResolution; the
// bytes travel through a SocketTransport (plain, or TLS after StartTls).
// The data side (sending, Receive, the receive loop) is in
// SocketDataFlow.cpp. Error codes are the classic socket error numbers
// (10061 connection refused, 11001 host not found, ...); system errors are
// mapped onto them.
//
// A notification handler may destroy the socket; the socket touches nothing
// of itself afterwards.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "net/LifeGuard.h"
#include "net/SendQueue.h"
#include "net/SocketHandle.h"
#include "net/SocketTransport.h"

MORVANE_EXCEPTION(ESocketException, Exception);

enum TSocketState : uint8_t {
  wsInvalidState = 0,
  wsOpened = 1,
  wsBound = 2,
  wsConnecting = 3,
  wsConnected = 4,
  wsAccepting = 5,
  wsListening = 6,
  wsClosed = 7,
};

enum TSocketLingerOnOff : uint8_t { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };
enum TSocketSendFlags : uint8_t { wsSendNormal = 0, wsSendUrgent = 1 };
// wsoNoReceiveLoop: one data-available notification per socket event;
// wsoTcpNoDelay: small writes leave at once instead of waiting for the
// acknowledgement of earlier ones (set when connecting).
enum TWSocketOption : uint8_t { wsoNoReceiveLoop = 0, wsoTcpNoDelay = 1 };
using TWSocketOptions = std::set<TWSocketOption>;

class QObject;
class QSocketNotifier;

class TCustomWSocket {
 public:
  // Socket errors as classic socket error numbers.
  static constexpr uint16_t WSAEINTR = 10004;
  static constexpr uint16_t WSAEINVAL = 10022;
  static constexpr uint16_t WSAEWOULDBLOCK = 10035;
  static constexpr uint16_t WSAEINPROGRESS = 10036;
  static constexpr uint16_t WSAENOTSOCK = 10038;
  static constexpr uint16_t WSAENETUNREACH = 10051;
  static constexpr uint16_t WSAECONNABORTED = 10053;
  static constexpr uint16_t WSAECONNRESET = 10054;
  static constexpr uint16_t WSAENOTCONN = 10057;
  static constexpr uint16_t WSAETIMEDOUT = 10060;
  static constexpr uint16_t WSAECONNREFUSED = 10061;
  static constexpr uint16_t WSAEHOSTUNREACH = 10065;
  static constexpr uint16_t WSAHOST_NOT_FOUND = 11001;
  static constexpr uint16_t WSANO_DATA = 11004;
  // Capacity of the send queue's blocks.
  static constexpr int32_t SEND_BLOCK_SIZE = 1460;

  using TNotifyEvent = std::function<void(TCustomWSocket* sender)>;
  using TSessionEvent = std::function<void(TCustomWSocket* sender, uint16_t error)>;
  using TChangeStateEvent =
      std::function<void(TCustomWSocket* sender, TSocketState oldState, TSocketState newState)>;
  using TBgExceptionEvent =
      std::function<void(TCustomWSocket* sender, const std::exception& e, bool& canClose)>;
  // The end of a TLS handshake: failure is empty on success, else the reason.
  using TTlsEvent = std::function<void(TCustomWSocket* sender, const std::string& failure)>;

  TCustomWSocket();
  // Cancels a pending lookup, closes the connection without notifications,
  // drops the send queue and every notification still queued.
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // ---- operations
  // Starts a host lookup; a dotted address completes inside the call.
  void LookupHost(const std::string& hostName);
  // Cancels a pending lookup; OnDnsLookupDone then fires with 10004.
  void CancelLookup();
  // Starts connecting to Addr:Port; OnSessionConnected follows.
  void Connect();
  // Queues the bytes and sends what the network takes now. Returns length
  // (0 for length <= 0), or -1 when not connected.
  int32_t Send(const void* data, int32_t length);
  int32_t SendText(const std::string& text);
  // Appends to the send queue without sending.
  void QueueData(const void* data, int32_t length);
  // Reads at most size received bytes; -1 on error (LastError holds the code).
  int32_t Receive(void* buffer, int32_t size);
  // Graceful close; Abort closes at once, dropping what is still queued.
  void Close();
  void Abort();
  // Close, and destruction (sockets made with new), later from the event loop.
  void CloseDelayed();
  void Release();
  // Starts TLS on the connected socket: the handshake with the server, whose
  // certificate must match `host` (a name or IP address) and chain to a CA
  // of the PEM file `caFile` (the system's store when empty). OnTlsDone
  // follows from the event loop; a failed handshake then closes the
  // connection. Until it is done nothing is received: every byte that
  // arrives belongs to the handshake. From then on Send and Receive carry
  // plaintext over TLS.
  void StartTls(const std::string& host, const std::string& caFile);
  // Raises "Test exception in WSocket" from the event loop (background
  // exception handling can be tried with it).
  void PostTestException();

  // The local host's name, at most 63 characters.
  static std::string GetLocalHostName();
  static std::string ErrorDescription(int32_t code);
  // Number of live sockets in the process.
  static int32_t SocketCount();

  // ---- properties
  const std::string& Addr() const { return addr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return proto_; }
  void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return localAddr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return localPort_; }
  void SetLocalPort(const std::string& value);
  const std::string& DnsResult() const { return dnsResult_; }
  const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
  TSocketState State() const { return state_; }
  // A session may receive more than 2 GB; the count stops at its limit.
  int32_t ReadCount() const { return static_cast<int32_t>(std::min<uint64_t>(readCount_, INT32_MAX)); }
  int32_t LastError() const { return lastError_; }
  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool value) { multiThreaded_ = value; }
  const TWSocketOptions& ComponentOptions() const { return componentOptions_; }
  void SetComponentOptions(const TWSocketOptions& value) { componentOptions_ = value; }
  int32_t FlushTimeout() const { return flushTimeout_; }
  void SetFlushTimeout(int32_t value) { flushTimeout_ = value; }
  TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
  void SetLingerOnOff(TSocketLingerOnOff value) { lingerOnOff_ = value; }
  int32_t LingerTimeout() const { return lingerTimeout_; }
  void SetLingerTimeout(int32_t value) { lingerTimeout_ = value; }
  // Whether every queued byte was handed to the network.
  bool AllSent() const { return allSent_; }
  // Whether the session runs over TLS, the handshake complete.
  bool TlsActive() const { return transport_->encrypted(); }
  // The TLS version in use ("TLSv1.3"), "" without TLS.
  std::string TlsProtocol() const { return transport_->protocol(); }
  // The numeric local address of the connection ("192.0.2.1"), "" without one.
  std::string LocalAddress() const;

  // ---- notifications
  TSessionEvent OnDnsLookupDone;
  TSessionEvent OnSessionConnected;
  TSessionEvent OnDataAvailable;
  TSessionEvent OnDataSent;
  TSessionEvent OnSessionClosed;
  TChangeStateEvent OnChangeState;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;
  TTlsEvent OnTlsDone;

 protected:
  // Raises ESocketException(text) or hands it to OnError.
  void RaiseException(const std::string& text);
  // "Error <code> in function <name>" + CR LF + description, from the last
  // socket error.
  void SocketError(const std::string& functionName);
  // Fails with this call's error when it is not 0: LastError := error, then
  // SocketError. True when it failed.
  bool failed(uint16_t error, const char* functionName);

 private:
  enum : uint32_t { FD_READ = 1, FD_WRITE = 2, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

  void changeState(TSocketState newState);
  // Sets a property that only a closed socket may change.
  void setWhileClosed(std::string& field, const std::string& value, const char* name);
  void resetSettings();
  void discardQueue();
  void tryToSend();
  void receiveLoop(uint16_t error, bool honourNoLoop);
  void internalClose(bool shutdownFirst);
  void closeHandle();
  // A disabled notifier of the handle's readiness (QSocketNotifier::Type).
  QSocketNotifier* watchHandle(int type, std::function<void()> ready);
  void enableWrite(bool on);
  // Handling of one socket event with the given bits, in their fixed order.
  void handleSocketEvent(uint32_t bits, uint16_t error);
  void handleReadReady();
  void handleWriteReady();
  void handleLookupResult(int id, uint16_t error, const std::vector<std::string>& addresses);
  void postSocketEvent(uint32_t bits, uint16_t error);
  // Runs work later from the event loop, guarded; dropped with the socket.
  void postToLoop(std::function<void()> work);
  // Runs a piece of event-loop work, turning an exception of a handler into
  // OnBgException (and an Abort when it allows).
  void guarded(const std::function<void()>& work);
  void fireSessionClosed(uint16_t error);
  // The next step of the transport's setup (the TLS handshake), from a
  // readiness event.
  void continueSetup();
  // Notifies the end of the setup; after a failure the connection ends. The
  // failure is a copy: a handler that closes the socket ends the transport.
  void endSetup(std::string failure);

  std::string addr_;
  std::string port_;
  std::string proto_ = "tcp";
  std::string localAddr_ = "0.0.0.0";
  std::string localPort_ = "0";
  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  TSocketState state_ = wsClosed;
  uint64_t readCount_ = 0;
  int32_t lastError_ = 0;
  bool multiThreaded_ = false;
  TWSocketOptions componentOptions_;
  int32_t flushTimeout_ = 60;
  TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
  int32_t lingerTimeout_ = 0;

  SocketHandle handle_;
  // Counts sessions, so events meant for an earlier handle are dropped.
  uint64_t session_ = 0;
  bool streamSocket_ = true;
  QSocketNotifier* readNotifier_ = nullptr;
  QSocketNotifier* writeNotifier_ = nullptr;
  // Target of the notifiers, queued calls and lookup results.
  std::unique_ptr<QObject> context_;
  int lookupId_ = -1;
  SendQueue queue_{SEND_BLOCK_SIZE};
  bool allSent_ = true;
  bool closedNotified_ = false;
  bool destroying_ = false;
  uint64_t receiveCalls_ = 0;
  // How the bytes travel over handle_: plain, or TLS from StartTls to the
  // end of the session.
  std::unique_ptr<SocketTransport> transport_;
  // Expires when the socket is destroyed; every notification goes through it.
  LifeGuard life_;
};

class TWSocket : public TCustomWSocket {
 public:
  TWSocket() = default;
};
