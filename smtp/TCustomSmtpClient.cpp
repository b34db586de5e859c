#include "smtp/TCustomSmtpClient.h"

#include <QObject>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "basis/TString.h"

namespace {

const char* const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A line as it goes on the wire, ended by CR LF. Line breaks inside it (CR
// LF, lone CR or lone LF) become CR LF, and a full stop after such a break is
// doubled, so no text can end the message early or smuggle commands in.
void appendWireLine(std::string& out, const std::string& line) {
  if (line.find_first_of("\r\n") == std::string::npos) {
    out += line;
    out += "\r\n";
    return;
  }
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
    out += "\r\n";
    if (i + 1 < line.size() && line[i + 1] == '.') out += '.';
  }
  out += "\r\n";
}

std::string twoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d", value);
  return text;
}

}  // namespace

TCustomSmtpClient::TCustomSmtpClient()
    : socket_(std::make_unique<TWSocket>()), completions_(std::make_unique<QObject>()) {
  // Commands and the end of the text are small writes the server waits for.
  socket_->SetComponentOptions({wsoTcpNoDelay});
  socket_->OnSessionClosed = [this](TCustomWSocket*, uint16_t error) { SocketSessionClosed(error); };
}

TCustomSmtpClient::~TCustomSmtpClient() {
  // Nothing of the socket reaches this client any more, and a completion
  // still queued dies with the receiver.
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

void TCustomSmtpClient::RunSteps(TSmtpRequest request, uint8_t steps) {
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
  static const uint8_t order[] = {stepConnect, stepHelo, stepVrfy, stepMailFrom,
                                  stepRcptTo,  stepData, stepQuit};
  for (uint8_t step : order) {
    if (!(stepSet_ & step)) continue;
    stepSet_ = static_cast<uint8_t>(stepSet_ & ~step);
    currentStep_ = step;
    switch (step) {
      case stepConnect: Connect(); break;
      case stepHelo: Helo(); break;
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

void TCustomSmtpClient::Open() { RunSteps(smtpOpen, stepConnect | stepHelo); }
void TCustomSmtpClient::Mail() { RunSteps(smtpMail, stepMailFrom | stepRcptTo | stepData); }

// ---- commands

void TCustomSmtpClient::ExecCommand(TSmtpRequest request, const std::string& command,
                                    std::vector<int32_t> okReplies, Continuation continuation) {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (!highLevel_) requestType_ = request;
  okReplies_ = std::move(okReplies);
  requestDone_ = false;
  replyHandlerArmed_ = true;
  continuation_ = continuation;
  if (!SetState(smtpWaitingResponse)) return;
  if (!life_.notify(OnCommand, this, command)) return;
  if (!TriggerDisplay("> " + command)) return;
  if (socket_->State() == wsConnected) socket_->SendText(command + "\r\n");
}

void TCustomSmtpClient::Helo() {
  std::string name = signOn_.empty() ? TWSocket::GetLocalHostName() : signOn_;
  ExecCommand(smtpHelo, "HELO " + name, {250}, nullptr);
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
  statusCode_ = 500;
  requestResult_ = 500;
  RecordError();
  LifeGuard::Watch alive = life_.watch();
  RequestDone(500);
  if (alive) socket_->Close();
}

void TCustomSmtpClient::RejectReply() {
  statusCode_ = 500;
  requestResult_ = 500;
  RecordError();
  LifeGuard::Watch alive = life_.watch();
  RequestDone(500);
  if (alive) socket_->Close();
}

bool TCustomSmtpClient::ProcessLine(const std::string& line) {
  size_t after = 0;
  switch (state_) {
    case smtpWaitingBanner: {
      if (!TriggerDisplay("< " + line)) return false;
      if (!ReadCode(line, after)) {
        RejectReply();
        return false;
      }
      if (after < line.size() && line[after] == '-') return true;
      if (statusCode_ != 220) {
        RecordError();
        requestResult_ = statusCode_;
        socket_->Close();  // completes the request through the closed session with 10004
        return false;
      }
      if (!SetState(smtpConnected)) return false;
      if (!life_.notify(OnSessionConnected, this, uint16_t{0})) return false;
      RequestDone(0);
      return true;
    }
    case smtpWaitingResponse:
      if (!replyHandlerArmed_) throw SmtpException("Program error: FNext is nil");
      return HandleReply(line);
    default:
      return TriggerDisplay("< " + line);
  }
}

bool TCustomSmtpClient::HandleReply(const std::string& line) {
  if (!TriggerDisplay("< " + line)) return false;
  size_t after = 0;
  if (!ReadCode(line, after)) {
    RejectReply();
    return false;
  }
  if (after < line.size() && line[after] == '-') return true;
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

// ---- DATA

void TCustomSmtpClient::BuildHeaderLines() {
  headerLines_.clear();
  if (!TString::trim(hdrReplyTo_).empty()) headerLines_.push_back("Reply-To: " + hdrReplyTo_);
  if (!TString::trim(hdrReturnPath_).empty()) headerLines_.push_back("Return-Path: " + hdrReturnPath_);
  headerLines_.push_back("From: " + hdrFrom_);
  headerLines_.push_back("To: " + hdrTo_);
  headerLines_.push_back("Subject: " + hdrSubject_);
  if (!TString::trim(hdrSender_).empty())
    headerLines_.push_back("Sender: " + hdrSender_);
  else if (!TString::trim(hdrFrom_).empty())
    headerLines_.push_back("Sender: " + hdrFrom_);
  headerLines_.push_back("Mime-Version: 1.0");
  headerLines_.push_back("Content-Type: " + mimeTypeText_ + "; charset=\"" + charSet_ + "\"");
  headerLines_.push_back("Date: " + DateText(std::time(nullptr)));
}

void TCustomSmtpClient::Data() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  itemIndex_ = -1;
  lineNumber_ = 0;
  moreLines_ = true;
  BuildHeaderLines();
  if (!life_.notify(OnProcessHeader, this, headerLines_)) return;
  headerLines_.push_back("");
  ExecCommand(smtpData, "DATA", {354}, &TCustomSmtpClient::DataNext);
}

void TCustomSmtpClient::DataNext() {
  if (requestResult_ != 0) {
    RequestDone(static_cast<uint16_t>(requestResult_));
    return;
  }
  if (SetState(smtpInternalReady)) SendNextLine();
}

void TCustomSmtpClient::AttachDataSent(bool on) {
  if (!on) {
    socket_->OnDataSent = nullptr;
    return;
  }
  socket_->OnDataSent = [this](TCustomWSocket*, uint16_t) {
    if (SetState(smtpInternalReady)) SendNextLine();
  };
}

bool TCustomSmtpClient::NextDataLine(std::string& line) {
  LifeGuard::Watch alive = life_.watch();
  ++itemIndex_;
  if (itemIndex_ < static_cast<int32_t>(headerLines_.size())) {
    const std::string& header = headerLines_[static_cast<size_t>(itemIndex_)];
    // Lines longer than the line buffer get a buffer of their own: they are
    // sent whole.
    std::vector<char> buffer(std::max<size_t>(LINE_BUFFER_SIZE, header.size() + 1), '\0');
    std::memcpy(buffer.data(), header.data(), header.size());
    TriggerHeaderLine(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (!alive) return false;
    buffer.back() = '\0';
    line = buffer.data();
    return true;
  }
  char buffer[LINE_BUFFER_SIZE] = {};
  if (moreLines_) {
    ++lineNumber_;
    // The handler's answer goes to a local first: the handler may destroy
    // the client before it sets it.
    bool more = true;
    try {
      TriggerGetData(lineNumber_, buffer, LINE_BUFFER_SIZE - 1, more);
    } catch (...) {
      more = false;
    }
    if (!alive) return false;
    moreLines_ = more;
  }
  if (!moreLines_) return false;
  buffer[LINE_BUFFER_SIZE - 1] = '\0';
  line = buffer;
  if (!line.empty() && line[0] == '.') line.insert(line.begin(), '.');
  return true;
}

void TCustomSmtpClient::SendNextLine() {
  // Lines are queued in the socket until about DATA_BATCH_SIZE bytes are
  // together; they leave with one send, and the data-sent event that follows
  // continues. So the socket never holds more than one batch of the text.
  LifeGuard::Watch alive = life_.watch();
  int32_t batched = 0;
  for (;;) {
    if (!connected_) {
      AttachDataSent(false);
      return;
    }
    std::string line;
    bool more = NextDataLine(line);
    if (!alive) return;
    if (!more) break;
    if (!TriggerDisplay("> " + line)) return;
    if (!connected_) continue;
    std::string wire;
    appendWireLine(wire, line);
    socket_->QueueData(wire.data(), static_cast<int32_t>(wire.size()));
    batched += static_cast<int32_t>(wire.size());
    if (batched >= DATA_BATCH_SIZE) {
      AttachDataSent(true);
      socket_->Send(wire.data(), 0);
      return;
    }
  }
  // The end mark leaves together with the lines still queued.
  AttachDataSent(false);
  ExecCommand(smtpData, ".", {250}, nullptr);
}

void TCustomSmtpClient::TriggerHeaderLine(char* line, int32_t size) {
  life_.notify(OnHeaderLine, this, line, size);
}

void TCustomSmtpClient::TriggerGetData(int32_t lineNum, char* msgLine, int32_t maxLen, bool& more) {
  if (!OnGetData) {
    more = false;
    return;
  }
  OnGetData(this, lineNum, msgLine, maxLen, more);
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

std::string TCustomSmtpClient::ZoneOffset(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return "-0000";
  long bias = -local.tm_gmtoff / 60;  // UTC minus local time, in minutes
  long magnitude = bias < 0 ? -bias : bias;
  std::string text = "-" + twoDigits(static_cast<int>(magnitude / 60)) + twoDigits(static_cast<int>(magnitude % 60));
  if (bias < 0) text[0] = '+';
  return text;
}

std::string TCustomSmtpClient::DateText(std::time_t when) {
  std::tm t{};
  if (!localtime_r(&when, &t)) return "";
  return std::string(DAY_NAMES[t.tm_wday]) + ", " + std::to_string(t.tm_mday) + " " + MONTH_NAMES[t.tm_mon] +
         " " + std::to_string(t.tm_year + 1900) + " " + twoDigits(t.tm_hour) + ":" + twoDigits(t.tm_min) + ":" +
         twoDigits(t.tm_sec) + " " + ZoneOffset(when);
}
