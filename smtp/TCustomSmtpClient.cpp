#include "smtp/TCustomSmtpClient.h"

#include <QObject>
#include <algorithm>
#include <cstring>

#include "basis/TString.h"
#include "smtp/LocalName.h"
#include "smtp/SmtpDate.h"

TCustomSmtpClient::TCustomSmtpClient()
    : socket_(std::make_unique<TWSocket>()), completions_(std::make_unique<QObject>()) {
  // Commands and the end of the text are small writes the server waits for.
  socket_->SetComponentOptions({wsoTcpNoDelay});
  socket_->OnSessionClosed = [this](TCustomWSocket*, uint16_t error) { SocketSessionClosed(error); };
}

TCustomSmtpClient::~TCustomSmtpClient() {
  // Nothing of the socket reaches this client any more, and a completion
  // still queued dies with its context.
  socket_->OnDnsLookupDone = nullptr;
  socket_->OnSessionConnected = nullptr;
  socket_->OnDataAvailable = nullptr;
  socket_->OnDataSent = nullptr;
  socket_->OnSessionClosed = nullptr;
  socket_.reset();
}

// ---- small helpers

void TCustomSmtpClient::SetContentType(TSmtpContentType v) {
  if (v == contentType_) return;
  contentType_ = v;
  mimeTypeText_ = v == smtpHTML ? "text/html" : "text/plain";
}

bool TCustomSmtpClient::SetState(TSmtpState newState) {
  if (state_ == newState) return true;
  state_ = newState;
  return life_.notify(OnStateChange, this);
}

bool TCustomSmtpClient::TriggerDisplay(const std::string& msg) { return life_.notify(OnDisplay, this, msg); }

void TCustomSmtpClient::CheckReady() const {
  if (state_ != smtpReady && state_ != smtpInternalReady)
    throw SmtpException("SMTP component not ready");
}

void TCustomSmtpClient::RecordError() {
  if (errorMessage_.empty()) errorMessage_ = lastResponse_;
}

std::string TCustomSmtpClient::SocketErrorResponse(uint16_t error) const {
  return "500 " + TWSocket::ErrorDescription(error) + " (Winsock error #" + std::to_string(error) + ")";
}

std::string TCustomSmtpClient::AddressCommand(const std::string& verb, const std::string& name) const {
  if (name.find('<') != std::string::npos && name.find('>') != std::string::npos)
    return verb + TString::trim(name);
  return verb + "<" + TString::trim(name) + ">";
}

bool TCustomSmtpClient::ReadCode(const std::string& line, size_t& after) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  int64_t code = 0;
  size_t digits = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    if (code < 100000000) code = code * 10 + (line[i] - '0');
    ++digits;
    ++i;
  }
  after = i;
  statusCode_ = static_cast<int32_t>(code);
  // Anything else is no SMTP reply: read as a number it could truncate to 0
  // or to an accepted code in the 16-bit result and pass as success.
  return digits == 3 && code >= 100 && code <= 599;
}

// ---- completion

void TCustomSmtpClient::RequestDone(uint16_t error) {
  if (requestDone_) return;
  requestDone_ = true;
  if (error == 0 && highLevel_) {
    if (state_ != smtpAbort && !SetState(smtpInternalReady)) return;
    LifeGuard::Watch alive = life_.watch();
    try {
      NextStep();
    } catch (const std::exception& e) {
      if (!alive) throw;
      // A step that cannot start ends the whole request instead of leaving
      // it pending for ever.
      lastResponse_ = "500 " + exceptionClassName(e) + ": " + e.what();
      statusCode_ = 500;
      RecordError();
      Finish(500);
    }
    return;
  }
  Finish(error);
}

void TCustomSmtpClient::Finish(uint16_t error) {
  requestDone_ = true;
  if (!SetState(smtpReady)) return;
  highLevel_ = false;
  stepSet_ = 0;
  currentStep_ = 0;
  // Queued, so it never runs inside the call that ended the request; a call
  // still queued is dropped with its context when the client is destroyed.
  QMetaObject::invokeMethod(completions_.get(), [this, error] { DeliverRequestDone(error); },
                            Qt::QueuedConnection);
}

void TCustomSmtpClient::DeliverRequestDone(uint16_t error) {
  if (!OnRequestDone) return;
  try {
    OnRequestDone(this, requestType_, error);
  } catch (...) {
    // Nothing may leave the event loop's handler; the client is possibly
    // gone already, so it is not touched here.
  }
}

// ---- high-level requests

void TCustomSmtpClient::RunSteps(TSmtpRequest request, uint16_t steps) {
  if (connected_ && (steps & stepConnect)) throw SmtpException("SMTP component already connected");
  CheckReady();
  requestType_ = request;
  requestResult_ = 0;
  stepSet_ = steps;
  highLevelResult_ = 0;
  highLevel_ = true;
  lastResponse_.clear();
  errorMessage_.clear();
  LifeGuard::Watch alive = life_.watch();
  try {
    NextStep();
  } catch (...) {
    if (!alive) throw;
    highLevel_ = false;
    stepSet_ = 0;
    currentStep_ = 0;
    (void)SetState(smtpReady);
    throw;
  }
}

void TCustomSmtpClient::NextStep() {
  if (state_ == smtpAbort) {
    stepSet_ = 0;
    highLevelResult_ = 426;
    errorMessage_ = "426 Operation aborted.";
    Finish(highLevelResult_);
    return;
  }
  static const uint16_t order[] = {stepConnect, stepHelo,     stepEhlo,   stepStartTls, stepAuth,
                                   stepVrfy,    stepMailFrom, stepRcptTo, stepData,     stepQuit};
  for (uint16_t step : order) {
    if (!(stepSet_ & step)) continue;
    stepSet_ = static_cast<uint16_t>(stepSet_ & ~step);
    currentStep_ = step;
    switch (step) {
      case stepConnect: Connect(); break;
      case stepHelo: Helo(); break;
      case stepEhlo: Ehlo(); break;
      case stepStartTls: StartTls(); break;
      case stepAuth: Auth(); break;
      case stepVrfy: Vrfy(); break;
      case stepMailFrom: MailFrom(); break;
      case stepRcptTo: RcptTo(); break;
      case stepData: Data(); break;
      case stepQuit: Quit(); break;
    }
    return;
  }
  Finish(highLevelResult_);
}

void TCustomSmtpClient::Open() {
  uint16_t steps = stepConnect;
  if (security_ == smtpSecurityNone) {
    steps |= stepHelo;
  } else {
    steps |= stepEhlo;
    if (security_ == smtpSecurityStartTls) steps |= stepStartTls;
  }
  // Without encryption Auth refuses: a user name never goes unnoticed.
  if (!username_.empty()) steps |= stepAuth;
  RunSteps(smtpOpen, steps);
}
void TCustomSmtpClient::Mail() { RunSteps(smtpMail, stepMailFrom | stepRcptTo | stepData); }

// ---- commands

void TCustomSmtpClient::ExecCommand(TSmtpRequest request, const std::string& command,
                                    std::vector<int32_t> okReplies, Continuation continuation,
                                    const std::string& shown) {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (!highLevel_) requestType_ = request;
  okReplies_ = std::move(okReplies);
  requestDone_ = false;
  replyHandlerArmed_ = true;
  continuation_ = continuation;
  if (!SetState(smtpWaitingResponse)) return;
  const std::string& visible = shown.empty() ? command : shown;
  if (!life_.notify(OnCommand, this, visible)) return;
  if (!TriggerDisplay("> " + visible)) return;
  if (socket_->State() == wsConnected) socket_->SendText(command + "\r\n");
}

std::string TCustomSmtpClient::GreetingName() const {
  return signOn_.empty() ? greetingName(socket_->LocalAddress()) : signOn_;
}

void TCustomSmtpClient::Helo() { ExecCommand(smtpHelo, "HELO " + GreetingName(), {250}, nullptr); }

void TCustomSmtpClient::Ehlo() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  extensions_ = SmtpExtensions();
  readingExtensions_ = true;
  ExecCommand(smtpEhlo, "EHLO " + GreetingName(), {250}, nullptr);
}

void TCustomSmtpClient::Vrfy() { ExecCommand(smtpVrfy, "VRFY " + hdrTo_, {250}, nullptr); }

void TCustomSmtpClient::MailFrom() {
  ExecCommand(smtpMailFrom, AddressCommand("MAIL FROM:", fromName_), {250}, nullptr);
}

void TCustomSmtpClient::RcptTo() {
  if (rcptName_.empty()) throw SmtpException("RcptName list is empty");
  CheckReady();
  itemIndex_ = -1;
  SendNextRecipient();
}

void TCustomSmtpClient::SendNextRecipient() {
  ++itemIndex_;
  bool last = itemIndex_ + 1 >= static_cast<int32_t>(rcptName_.size());
  ExecCommand(smtpRcptTo, AddressCommand("RCPT TO:", rcptName_[static_cast<size_t>(itemIndex_)]),
              {250, 251}, last ? nullptr : &TCustomSmtpClient::RcptToNext);
}

void TCustomSmtpClient::RcptToNext() {
  if (SetState(smtpInternalReady)) SendNextRecipient();
}

void TCustomSmtpClient::Quit() {
  CheckReady();
  if (!connected_) {
    if (!highLevel_) requestType_ = smtpQuit;
    requestDone_ = false;
    RequestDone(0);
    return;
  }
  ExecCommand(smtpQuit, "QUIT", {221}, nullptr);
}

void TCustomSmtpClient::Rset() { ExecCommand(smtpRset, "RSET", {250}, nullptr); }

// ---- connect

void TCustomSmtpClient::Connect() {
  CheckReady();
  if (connected_) throw SmtpException("SMTP component already connected");
  if (!highLevel_) requestType_ = smtpConnect;
  requestDone_ = false;
  receiveLength_ = 0;
  requestResult_ = 0;
  extensions_ = SmtpExtensions();
  readingExtensions_ = false;
  (void)localDomainName();  // starts finding the greeting name while connecting
  if (!SetState(smtpDnsLookup)) return;
  socket_->OnDataSent = nullptr;
  socket_->OnDnsLookupDone = [this](TCustomWSocket*, uint16_t error) { SocketDnsLookupDone(error); };
  LifeGuard::Watch alive = life_.watch();
  try {
    socket_->LookupHost(host_);
  } catch (...) {
    if (alive && state_ == smtpDnsLookup) {
      requestDone_ = true;
      (void)SetState(smtpReady);
    }
    throw;
  }
}

void TCustomSmtpClient::SocketDnsLookupDone(uint16_t error) {
  if (requestDone_) return;
  if (error != 0) {
    lastResponse_ = SocketErrorResponse(error);
    statusCode_ = 500;
    RecordError();
    RequestDone(error);
    return;
  }
  LifeGuard::Watch alive = life_.watch();
  try {
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetProto("tcp");
    socket_->SetPort(port_);
    socket_->OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { SocketSessionConnected(e); };
    socket_->OnDataAvailable = [this](TCustomWSocket*, uint16_t e) { SocketDataAvailable(e); };
    if (!SetState(smtpConnecting)) return;
    socket_->Connect();
  } catch (const std::exception& e) {
    if (!alive) throw;
    lastResponse_ = "500 " + exceptionClassName(e) + ": " + e.what();
    statusCode_ = 500;
    requestResult_ = 500;
    RecordError();
    RequestDone(500);
  }
}

void TCustomSmtpClient::SocketSessionConnected(uint16_t error) {
  if (error != 0) {
    lastResponse_ = SocketErrorResponse(error);
    statusCode_ = 500;
    connected_ = false;
    RecordError();
    LifeGuard::Watch alive = life_.watch();
    RequestDone(error);
    if (!alive) return;
    socket_->Close();
    if (!alive) return;
    (void)SetState(smtpReady);
    return;
  }
  if (security_ == smtpSecurityTls) {
    StartSocketTls();  // the greeting comes over TLS
    return;
  }
  connected_ = true;
  (void)SetState(smtpWaitingBanner);
}

void TCustomSmtpClient::SocketSessionClosed(uint16_t error) {
  connected_ = false;
  if (life_.notify(OnSessionClosed, this, error)) RequestDone(10004);
}

// ---- replies

void TCustomSmtpClient::SocketDataAvailable(uint16_t) {
  int32_t room = RECEIVE_BUFFER_SIZE - receiveLength_;
  int32_t n = socket_->Receive(receiveBuffer_ + receiveLength_, room);
  if (n <= 0) return;
  receiveLength_ += n;
  ProcessReceived();
}

void TCustomSmtpClient::ReceiveReply(const char* data, int32_t length) {
  LifeGuard::Watch alive = life_.watch();
  while (length > 0) {
    int32_t n = std::min(length, RECEIVE_BUFFER_SIZE - receiveLength_);
    std::memcpy(receiveBuffer_ + receiveLength_, data, static_cast<size_t>(n));
    receiveLength_ += n;
    data += n;
    length -= n;
    if (!ProcessReceived() || !alive) return;
  }
}

bool TCustomSmtpClient::ProcessReceived() {
  LifeGuard::Watch alive = life_.watch();
  for (;;) {
    const char* start = receiveBuffer_;
    const char* end = receiveBuffer_ + receiveLength_;
    const char* cr = start;
    for (;;) {
      cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<size_t>(end - cr)));
      if (!cr || cr + 1 >= end || cr[1] == '\n') break;
      ++cr;
    }
    if (!cr || cr + 1 >= end) break;
    std::string line(start, cr);
    if (!secrets_.empty()) Redact(line);
    int32_t used = static_cast<int32_t>(cr + 2 - start);
    std::memmove(receiveBuffer_, receiveBuffer_ + used, static_cast<size_t>(receiveLength_ - used));
    receiveLength_ -= used;
    lastResponse_ = line;
    if (!life_.notify(OnResponse, this, line)) return false;
    bool more = ProcessLine(line);
    if (!alive || !more) return false;
  }
  if (receiveLength_ == RECEIVE_BUFFER_SIZE) {
    ReplyLineTooLong();
    return false;
  }
  return true;
}

void TCustomSmtpClient::ReplyLineTooLong() {
  receiveLength_ = 0;
  lastResponse_ = "500 Reply line too long (more than " + std::to_string(RECEIVE_BUFFER_SIZE - 2) +
                  " bytes)";
  RejectReply();
}

void TCustomSmtpClient::EndSession(int32_t code) {
  requestResult_ = code;
  RecordError();
  LifeGuard::Watch alive = life_.watch();
  RequestDone(static_cast<uint16_t>(code));
  if (alive) socket_->Close();
}

void TCustomSmtpClient::RejectReply() {
  statusCode_ = 500;
  EndSession(500);
}

bool TCustomSmtpClient::ProcessLine(const std::string& line) {
  const TSmtpState state = state_;
  if (state == smtpWaitingResponse && !replyHandlerArmed_) throw SmtpException("Program error: FNext is nil");
  if (!TriggerDisplay("< " + line)) return false;
  if (state != smtpWaitingBanner && state != smtpWaitingResponse) return true;
  size_t after = 0;
  if (!ReadCode(line, after)) {
    RejectReply();
    return false;
  }
  const bool more = after < line.size() && line[after] == '-';
  if (readingExtensions_ && state == smtpWaitingResponse) {
    extensions_.addLine(line);
    readingExtensions_ = more;
  }
  if (more) return true;  // more lines of the reply follow
  return state == smtpWaitingBanner ? HandleGreeting() : HandleReply();
}

bool TCustomSmtpClient::HandleGreeting() {
  if (statusCode_ != 220) {
    // The server's own refusal ("421 busy") is the result, not the close after it.
    EndSession(statusCode_);
    return false;
  }
  if (!SetState(smtpConnected)) return false;
  if (!life_.notify(OnSessionConnected, this, uint16_t{0})) return false;
  RequestDone(0);
  return true;
}

bool TCustomSmtpClient::EndIfRefused() {
  if (requestResult_ == 0) return false;
  RequestDone(static_cast<uint16_t>(requestResult_));
  return true;
}

bool TCustomSmtpClient::HandleReply() {
  const int32_t code = statusCode_;
  bool accepted = okReplies_.empty() ? code < 500
                                     : std::find(okReplies_.begin(), okReplies_.end(), code) != okReplies_.end();
  if (accepted) {
    requestResult_ = 0;
  } else {
    requestResult_ = code;
    RecordError();
  }
  if (continuation_) {
    Continuation next = continuation_;
    (this->*next)();
  } else {
    RequestDone(static_cast<uint16_t>(requestResult_));
  }
  return true;
}

// ---- abort

void TCustomSmtpClient::Abort() {
  if (!SetState(smtpAbort)) return;
  LifeGuard::Watch alive = life_.watch();
  socket_->CancelLookup();
  if (!alive) return;
  socket_->Abort();
  if (!alive) return;
  (void)SetState(smtpReady);
}

// ---- Date header

std::string TCustomSmtpClient::ZoneOffset(std::time_t when) { return smtpZoneOffset(when); }
std::string TCustomSmtpClient::DateText(std::time_t when) { return smtpDateText(when); }
