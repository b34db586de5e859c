#pragma once
// The event-driven SMTP client on one connection.
//
// Every request only starts work and returns; the socket's notifications
// drive the dialogue, and the end of every request is announced once through
// OnRequestDone, delivered from the event loop (never inside the call that
// started the request nor inside the socket event that ended it, and never
// after the client was destroyed). Any notification handler may destroy the
// client; it then touches nothing of itself any more.
//
// Security selects how Open talks to the server: plain text with HELO
// (none), or EHLO, STARTTLS, the TLS handshake and EHLO again (starttls),
// or TLS from the first byte and EHLO (tls); over TLS it logs in with AUTH
// PLAIN or LOGIN when Username is set. The client never sends AUTH over a
// connection that is not encrypted, and after STARTTLS it reads nothing of
// what the server sent before the handshake.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "net/LifeGuard.h"
#include "net/TWSocket.h"
#include "smtp/SmtpExtensions.h"

MORVANE_EXCEPTION(SmtpException, Exception);

enum TSmtpState : uint8_t {
  smtpReady = 0,
  smtpDnsLookup = 1,
  smtpConnecting = 2,
  smtpConnected = 3,
  smtpInternalReady = 4,
  smtpWaitingBanner = 5,
  smtpWaitingResponse = 6,
  smtpAbort = 7,
};

enum TSmtpContentType : uint8_t { smtpHTML = 0, smtpPlainText = 1 };

enum TSmtpSecurity : uint8_t { smtpSecurityNone = 0, smtpSecurityStartTls = 1, smtpSecurityTls = 2 };

enum TSmtpRequest : uint8_t {
  smtpConnect = 0,
  smtpHelo = 1,
  smtpMailFrom = 2,
  smtpVrfy = 3,
  smtpRcptTo = 4,
  smtpData = 5,
  smtpQuit = 6,
  smtpRset = 7,
  smtpOpen = 8,
  smtpMail = 9,
  smtpCustom = 10,
  smtpEhlo = 11,
  smtpStartTls = 12,
  smtpAuth = 13,
};

class QObject;

class TCustomSmtpClient {
 public:
  // Size of the reply buffer and of the line buffer of the data pump.
  static constexpr int32_t RECEIVE_BUFFER_SIZE = 4096;
  static constexpr int32_t LINE_BUFFER_SIZE = 1024;
  // Bytes of text handed to the socket per data-sent event (at least one line).
  static constexpr int32_t DATA_BATCH_SIZE = 16384;

  using TNotifyEvent = std::function<void(TCustomSmtpClient* sender)>;
  using TSmtpDisplay = std::function<void(TCustomSmtpClient* sender, const std::string& msg)>;
  using TSmtpGetDataEvent = std::function<void(TCustomSmtpClient* sender, int32_t lineNum,
                                               char* msgLine, int32_t maxLen, bool& more)>;
  using TSmtpHeaderLineEvent =
      std::function<void(TCustomSmtpClient* sender, char* msg, int32_t size)>;
  using TSmtpProcessHeaderEvent =
      std::function<void(TCustomSmtpClient* sender, std::vector<std::string>& hdrLines)>;
  using TSmtpRequestDone =
      std::function<void(TCustomSmtpClient* sender, TSmtpRequest rqType, uint16_t error)>;
  using TSmtpSessionEvent = std::function<void(TCustomSmtpClient* sender, uint16_t error)>;

  TCustomSmtpClient();
  // Drops the connection without QUIT; nothing is notified any more.
  virtual ~TCustomSmtpClient();
  TCustomSmtpClient(const TCustomSmtpClient&) = delete;
  TCustomSmtpClient& operator=(const TCustomSmtpClient&) = delete;

  // ---- requests (each raises SmtpException synchronously when it cannot start)
  virtual void Connect();
  virtual void Helo();
  // "EHLO" with the greeting name; the reply tells what the server offers
  // (Extensions).
  virtual void Ehlo();
  // STARTTLS, the handshake, then EHLO again, as one request. Raises when
  // the last EHLO reply did not offer STARTTLS or TLS is already on.
  virtual void StartTls();
  // AUTH PLAIN, else AUTH LOGIN, with Username and Password. Raises when
  // the connection is not encrypted or the server offers neither.
  virtual void Auth();
  virtual void Vrfy();
  virtual void MailFrom();
  virtual void RcptTo();
  virtual void Data();
  virtual void Quit();
  virtual void Rset();
  // Connect and Helo as one request; with Security, Connect, Ehlo, StartTls
  // (for starttls) and, when Username is set, Auth.
  virtual void Open();
  // MailFrom, RcptTo and Data as one request.
  virtual void Mail();
  // Drops the connection at once; a request still running completes with 10004.
  virtual void Abort();

  // ---- properties
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& v) { host_ = v; }
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& v) { port_ = v; }
  const std::string& SignOn() const { return signOn_; }
  void SetSignOn(const std::string& v) { signOn_ = v; }
  // The name HELO and EHLO send: SignOn, else the local host's
  // fully-qualified name, else the address literal of the connection.
  std::string GreetingName() const;
  TSmtpSecurity Security() const { return security_; }
  void SetSecurity(TSmtpSecurity v) { security_ = v; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& v) { username_ = v; }
  // Never shown: commands that carry it are displayed without it, and a
  // reply that repeats it has it blanked out.
  void SetPassword(const std::string& v) { password_ = v; }
  // PEM file of the CAs trusted for the server's certificate; the system's
  // store when empty.
  const std::string& CaFile() const { return caFile_; }
  void SetCaFile(const std::string& v) { caFile_ = v; }
  // What the last EHLO reply offered.
  const SmtpExtensions& Extensions() const { return extensions_; }
  bool TlsActive() const { return socket_->TlsActive(); }
  const std::string& FromName() const { return fromName_; }
  void SetFromName(const std::string& v) { fromName_ = v; }
  const std::vector<std::string>& RcptName() const { return rcptName_; }
  void SetRcptName(const std::vector<std::string>& v) { rcptName_ = v; }
  const std::string& HdrFrom() const { return hdrFrom_; }
  void SetHdrFrom(const std::string& v) { hdrFrom_ = v; }
  const std::string& HdrTo() const { return hdrTo_; }
  void SetHdrTo(const std::string& v) { hdrTo_ = v; }
  const std::string& HdrReplyTo() const { return hdrReplyTo_; }
  void SetHdrReplyTo(const std::string& v) { hdrReplyTo_ = v; }
  const std::string& HdrReturnPath() const { return hdrReturnPath_; }
  void SetHdrReturnPath(const std::string& v) { hdrReturnPath_ = v; }
  const std::string& HdrSubject() const { return hdrSubject_; }
  void SetHdrSubject(const std::string& v) { hdrSubject_ = v; }
  const std::string& HdrSender() const { return hdrSender_; }
  void SetHdrSender(const std::string& v) { hdrSender_ = v; }
  // The Message-ID ("<id@host>"); when empty every DATA gets a new one.
  const std::string& HdrMessageId() const { return hdrMessageId_; }
  void SetHdrMessageId(const std::string& v) { hdrMessageId_ = v; }
  TSmtpState State() const { return state_; }
  const std::string& CharSet() const { return charSet_; }
  void SetCharSet(const std::string& v) { charSet_ = v; }
  TSmtpContentType ContentType() const { return contentType_; }
  void SetContentType(TSmtpContentType v);
  const std::string& ErrorMessage() const { return errorMessage_; }
  const std::string& LastResponse() const { return lastResponse_; }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t v) { tag_ = v; }
  bool Connected() const { return connected_; }
  TSmtpRequest RequestType() const { return requestType_; }
  int32_t StatusCode() const { return statusCode_; }
  // The socket under the client (owned).
  TWSocket* Socket() const { return socket_.get(); }

  // The Date header text of a moment: "Tue, 8 Dec 2026 07:44:50 +0100".
  static std::string DateText(std::time_t when);
  // The zone offset of the Date header at a moment: "+0100", "-0500";
  // UTC gives "-0000".
  static std::string ZoneOffset(std::time_t when);

  // ---- notifications
  TSmtpDisplay OnDisplay;
  TSmtpDisplay OnCommand;
  TSmtpDisplay OnResponse;
  TSmtpGetDataEvent OnGetData;
  TSmtpHeaderLineEvent OnHeaderLine;
  TSmtpProcessHeaderEvent OnProcessHeader;
  TSmtpRequestDone OnRequestDone;
  TSmtpSessionEvent OnSessionConnected;
  TSmtpSessionEvent OnSessionClosed;
  TNotifyEvent OnStateChange;

 protected:
  enum Step : uint16_t {
    stepConnect = 1,
    stepHelo = 2,
    stepEhlo = 4,
    stepStartTls = 8,
    stepAuth = 16,
    stepVrfy = 32,
    stepMailFrom = 64,
    stepRcptTo = 128,
    stepData = 256,
    stepQuit = 512
  };
  using Continuation = void (TCustomSmtpClient::*)();

  void CheckReady() const;
  // `shown` is what OnCommand and OnDisplay get instead of a command that
  // carries a secret.
  void ExecCommand(TSmtpRequest request, const std::string& command, std::vector<int32_t> okReplies,
                   Continuation continuation, const std::string& shown = std::string());
  // Fires OnStateChange on a change; false when its handler destroyed the client.
  [[nodiscard]] bool SetState(TSmtpState newState);
  // Builds HeaderLines from the Hdr... properties.
  virtual void BuildHeaderLines();
  // Runs before each header line is sent; may rewrite the line in place
  // (the buffer holds size bytes, the line at least fits).
  virtual void TriggerHeaderLine(char* line, int32_t size);
  // Asks for the next text line (at most maxLen characters); more := false
  // when there is none.
  virtual void TriggerGetData(int32_t lineNum, char* msgLine, int32_t maxLen, bool& more);
  // False when the handler destroyed the client.
  [[nodiscard]] bool TriggerDisplay(const std::string& msg);
  const std::string& MimeTypeText() const { return mimeTypeText_; }
  // Takes reply bytes as the socket's data-available event does: complete
  // lines are evaluated at once, the rest waits for more.
  void ReceiveReply(const char* data, int32_t length);

  std::vector<std::string> headerLines_;
  // Expires with the client; every notification goes through it.
  LifeGuard life_;

 private:

  void RunSteps(TSmtpRequest request, uint16_t steps);
  void NextStep();
  void RequestDone(uint16_t error);
  // Ends the request and posts its completion.
  void Finish(uint16_t error);
  void DeliverRequestDone(uint16_t error);
  void RecordError();
  std::string AddressCommand(const std::string& verb, const std::string& name) const;
  // Reads the reply code into StatusCode, after := the position behind its
  // digits; false when it is not three digits from 100 to 599.
  bool ReadCode(const std::string& line, size_t& after);
  // Ends the request with `code`, then the session.
  void EndSession(int32_t code);
  // Ends the request and the session with 500 on a reply that cannot be read.
  void RejectReply();
  // The last line of a reply, its code in StatusCode; false when reading stops.
  bool HandleGreeting();
  bool HandleReply();
  // In a continuation: ends the request when the reply was refused.
  bool EndIfRefused();
  void DataNext();
  void SendNextRecipient();
  void RcptToNext();
  void SendNextLine();
  // The next line of the text after DATA (header lines, the separator, the
  // text with its leading full stops doubled); false at the end.
  bool NextDataLine(std::string& line);
  void AttachDataSent(bool on);
  void SocketDnsLookupDone(uint16_t error);
  void SocketSessionConnected(uint16_t error);
  void SocketDataAvailable(uint16_t error);
  // Evaluates the complete lines in the receive buffer; false when reading
  // stops (client gone, greeting refused, line too long).
  bool ProcessReceived();
  void SocketSessionClosed(uint16_t error);
  // TLS on the socket, from the first byte or after STARTTLS.
  void StartSocketTls();
  void SocketTlsDone(const std::string& failure);
  void StartTlsHandshake();
  void AuthLoginUser();
  void AuthLoginPassword();
  // Sends an AUTH step whose text carries a secret, remembered for Redact.
  void ExecSecret(const std::string& command, const std::string& shown, std::vector<int32_t> okReplies,
                  Continuation continuation);
  // Blanks out what the server repeats of the credentials.
  void Redact(std::string& line) const;
  // False when reading stops (greeting refused, reply not understood).
  bool ProcessLine(const std::string& line);
  void ReplyLineTooLong();
  std::string SocketErrorResponse(uint16_t error) const;

  std::string host_;
  std::string port_ = "smtp";
  std::string signOn_;
  TSmtpSecurity security_ = smtpSecurityNone;
  std::string username_;
  std::string password_;
  std::string caFile_;
  std::string hdrMessageId_;
  SmtpExtensions extensions_;
  // Lines of an EHLO reply are read into extensions_.
  bool readingExtensions_ = false;
  // The encoded credentials sent in this session, never shown.
  std::vector<std::string> secrets_;
  std::string fromName_;
  std::vector<std::string> rcptName_;
  std::string hdrFrom_, hdrTo_, hdrReplyTo_, hdrReturnPath_, hdrSubject_, hdrSender_;
  TSmtpState state_ = smtpReady;
  std::string charSet_ = "iso-8859-1";
  TSmtpContentType contentType_ = smtpPlainText;
  std::string mimeTypeText_ = "text/plain";
  std::string errorMessage_;
  std::string lastResponse_;
  int32_t tag_ = 0;

  std::unique_ptr<TWSocket> socket_;
  bool connected_ = false;
  TSmtpRequest requestType_ = smtpConnect;
  bool requestDone_ = true;
  char receiveBuffer_[RECEIVE_BUFFER_SIZE];
  int32_t receiveLength_ = 0;
  int32_t statusCode_ = 0;
  int32_t requestResult_ = 0;
  std::vector<int32_t> okReplies_;
  bool replyHandlerArmed_ = false;
  Continuation continuation_ = nullptr;
  uint16_t stepSet_ = 0;
  uint16_t currentStep_ = 0;
  uint16_t highLevelResult_ = 0;
  bool highLevel_ = false;
  int32_t itemIndex_ = -1;
  int32_t lineNumber_ = 0;
  bool moreLines_ = false;
  // Context of queued completions: those still queued die with it.
  std::unique_ptr<QObject> completions_;
};
