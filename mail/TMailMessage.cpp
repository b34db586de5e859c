#include "mail/TMailMessage.h"

#include <QTimer>

#include "basis/TProperties.h"
#include "basis/TStringCollection.h"
#include "basis/TSystem.h"
#include "basis/TString.h"
#include "mail/PasswordFile.h"
#include "mail/TMailAddress.h"
#include "smtp/MessageId.h"
#include "smtp/TSmtpCli.h"

namespace {

std::string requestName(int request) {
  static const char* const names[] = {"connect", "hello", "mail-from", "verify", "rcpt-to", "data",    "quit",
                                      "reset",   "open",  "mail",      "custom", "ehlo",    "starttls", "auth"};
  return request >= 0 && request <= 13 ? names[request] : "unknown";
}

}  // namespace

TMailMessage::TMailMessage(const std::string& subject)
    : TMailMessage(subject, *TSystem::readSystemProperties()) {}

TMailMessage::TMailMessage(const std::string& subject, const TProperties& settings)
    : TMappedObject(TBlank{}) {
  body_ = std::make_unique<TStringCollection>();
  setSubject(subject);
  loadSettings(settings);
  messageId_ = newMessageId();
}

TMailMessage::TMailMessage(const std::string& subject, const TMailAddress* recipient)
    : TMailMessage(subject) {
  addRecipient(recipient);
}

TMailMessage::~TMailMessage() {
  // Nothing may be notified from here on.
  onMailSent = nullptr;
  onMailError = nullptr;
  releaseClient();
}

void TMailMessage::loadSettings(const TProperties& settings) {
  std::string senderProblem;
  try {
    mailEnabled_ = settings.getBoolean(TSystem::mailEnabledKey(), false);
    smtpHost_ = settings.getString(TSystem::smtpHostAddressKey(), "");
    smtpPort_ = settings.getInteger(TSystem::smtpHostPortKey(), 25);
    const std::string security =
        TString::toLowerAscii(TString::trim(settings.getString(TSystem::smtpHostSecurityKey(), "none")));
    if (security == "starttls") {
      security_ = smtpSecurityStartTls;
    } else if (security == "tls") {
      security_ = smtpSecurityTls;
    } else if (security != "none") {
      securityProblem_ = TSystem::smtpHostSecurityKey() + " is '" + security + "', not none, starttls or tls";
    }
    user_ = TString::trim(settings.getString(TSystem::smtpHostUserKey(), ""));
    passwordFile_ = TString::trim(settings.getString(TSystem::smtpHostPasswordFileKey(), ""));
    caFile_ = TString::trim(settings.getString(TSystem::smtpHostCaFileKey(), ""));
    const std::string sender = settings.getString(TSystem::fromHeaderKey(), "");
    senderProblem = TSystem::fromHeaderKey() + (sender.empty() ? " is missing" : " is no mail address ('" + sender + "')");
    from_ = TMailAddress::fromString(sender);
  } catch (...) {
    // Without a valid configured sender nothing is ever sent.
    if (mailEnabled_ && !senderProblem.empty()) {
      settingsProblem_ = "Mail is switched on (" + TSystem::mailEnabledKey() + "), but " + senderProblem +
                         " in system.properties: no error mail can be sent";
    }
    mailEnabled_ = false;
    smtpHost_.clear();
    smtpPort_ = 25;
    security_ = smtpSecurityNone;
    from_.reset();
  }
}

void TMailMessage::setFrom(const TMailAddress* address) {
  if (address == nullptr) throw IllegalArgumentException("TMailMessage: From-address is nil.");
  from_ = cloneOf(*address);
}

void TMailMessage::addRecipient(const TMailAddress* address) {
  if (address == nullptr) throw IllegalArgumentException("TMailMessage: Recipient-address is nil.");
  recipients_.push_back(cloneOf(*address));
}

void TMailMessage::addLine(const std::string& text) { body_->add(text); }

void TMailMessage::addEmptyLine() { body_->addEmptyLine(); }

void TMailMessage::send() {
  if (!mailEnabled_) return;
  std::string step = "TMailMessage.send: ";
  try {
    if (isBusy()) throw MailTransportException("Busy ... already about to send a mail.");
    const std::string password = loginPassword();
    client_ = std::make_unique<TSmtpCli>();
    client_->SetHost(smtpHost_);
    client_->SetPort(std::to_string(smtpPort_));
    client_->SetSecurity(security_);
    client_->SetUsername(user_);
    client_->SetPassword(password);
    client_->SetCaFile(caFile_);
    client_->SetHdrMessageId(messageId_);
    const std::string sender = from_ != nullptr ? from_->toString() : std::string();
    client_->SetHdrFrom(sender);
    client_->SetHdrReplyTo(sender);
    client_->SetHdrSubject(subject_);
    client_->SetMailMessage(body_->getStrings());
    step = "TMailMessage.assembleRecipients: ";
    assembleRecipients();
    step = "TMailMessage.assignEvents: ";
    assignEvents();
    step = "TMailMessage.send: ";
    timeout_ = std::make_unique<QTimer>();
    timeout_->setSingleShot(true);
    QObject::connect(timeout_.get(), &QTimer::timeout, timeout_.get(), [this] { timedOut(); });
    timeout_->start(sendTimeoutMillis_);
    // Plain mail keeps its dialogue: connect, HELO, mail. Over TLS the
    // client's Open runs EHLO, STARTTLS and the login first.
    if (security_ == smtpSecurityNone) {
      client_->Connect();
    } else {
      client_->Open();
    }
  } catch (const std::exception& e) {
    reportError(step + e.what() + ".");
  }
}

std::string TMailMessage::loginPassword() const {
  if (!securityProblem_.empty()) throw MailTransportException(securityProblem_);
  if (user_.empty()) return {};
  if (security_ == smtpSecurityNone) {
    throw MailTransportException(TSystem::smtpHostUserKey() + " is set, but " + TSystem::smtpHostSecurityKey() +
                                 " is none: a login would send the password in plain text; set it to starttls"
                                 " or tls");
  }
  if (passwordFile_.empty())
    throw MailTransportException(TSystem::smtpHostUserKey() + " is set, but " + TSystem::smtpHostPasswordFileKey() +
                                 " is not");
  return readPasswordFile(passwordFile_);
}

void TMailMessage::assembleRecipients() {
  if (!isBusy()) throw Exception("Not connected");
  if (recipients_.empty()) throw Exception("No recipients");
  std::vector<std::string> names = client_->RcptName();
  for (const auto& recipient : recipients_) names.push_back(recipient->toString());
  client_->SetRcptName(names);
}

void TMailMessage::assignEvents() {
  if (!isBusy()) throw Exception("Not connected");
  client_->OnRequestDone = [this](TCustomSmtpClient* sender, TSmtpRequest request, uint16_t error) {
    requestDone(sender, request, error);
  };
  client_->OnDisplay = [](TCustomSmtpClient*, const std::string&) {};
  client_->OnSessionClosed = [](TCustomSmtpClient*, uint16_t) {};
}

void TMailMessage::requestDone(TCustomSmtpClient*, TSmtpRequest request, uint16_t error) {
  try {
    if (error != 0) {
      std::string text = "Error " + std::to_string(error) + " @request " + requestName(request);
      // The steps of Open are one request: the server's reply, or the TLS
      // library's reason, tells which failed and why.
      if (request == smtpOpen && !client_->ErrorMessage().empty()) text += " (" + client_->ErrorMessage() + ")";
      throw Exception(text);
    }
    // Servers refuse MAIL FROM before HELO, so the greeting is answered first.
    if (request == smtpConnect) {
      client_->Helo();
    } else if (request == smtpHelo || request == smtpOpen) {
      client_->Mail();
    } else if (request == smtpMail) {
      releaseClient();
      reportSent();
    }
  } catch (const std::exception& e) {
    reportError(std::string("TMailMessage.requestDone: ") + e.what() + ".");
  }
}

void TMailMessage::timedOut() {
  // Runs inside the timer's own signal: leave its destruction to the loop.
  if (timeout_ != nullptr) timeout_.release()->deleteLater();
  reportError("TMailMessage.send: Timeout, no answer from the mail server after " +
              std::to_string(sendTimeoutMillis_) + " ms.");
}

void TMailMessage::reportError(const std::string& text) {
  releaseClient();
  if (onMailError) {
    ErrorEvent notify = onMailError;  // the handler may destroy this message
    notify(this, std::make_unique<MailTransportException>(text));
  }
}

void TMailMessage::reportSent() {
  if (onMailSent) {
    SentEvent notify = onMailSent;
    notify(this);
  }
}

void TMailMessage::releaseClient() {
  timeout_.reset();
  std::unique_ptr<TSmtpCli> client = std::move(client_);
  client.reset();
}
