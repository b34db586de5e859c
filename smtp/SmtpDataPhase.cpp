// TCustomSmtpClient after DATA: the header block, the text lines from the
// handlers, their batching into the socket and the end mark.
#include <algorithm>
#include <cstring>

#include "basis/TString.h"
#include "smtp/MessageId.h"
#include "smtp/SmtpWireLine.h"
#include "smtp/TCustomSmtpClient.h"

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
  headerLines_.push_back("Message-ID: " + (hdrMessageId_.empty() ? newMessageId() : hdrMessageId_));
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
  if (EndIfRefused()) return;
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
  // The batch is put together here and queued in one piece.
  std::string wire;
  wire.reserve(DATA_BATCH_SIZE + LINE_BUFFER_SIZE + 2);
  std::string line;
  for (;;) {
    if (!connected_) {
      AttachDataSent(false);
      return;
    }
    bool more = NextDataLine(line);
    if (!alive) return;
    if (!more) break;
    if (OnDisplay && !TriggerDisplay("> " + line)) return;
    if (!connected_) continue;
    appendWireLine(wire, line);
    if (static_cast<int32_t>(wire.size()) >= DATA_BATCH_SIZE) {
      AttachDataSent(true);
      socket_->Send(wire.data(), static_cast<int32_t>(wire.size()));
      return;
    }
  }
  if (!wire.empty() && connected_) socket_->QueueData(wire.data(), static_cast<int32_t>(wire.size()));
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
