// TCustomSmtpClient's security steps: STARTTLS (or TLS from the first
// byte) with the EHLO that follows it, and the login by AUTH PLAIN or AUTH
// LOGIN, whose secrets never reach a notification.
#include <string>
#include <vector>

#include "smtp/SmtpBase64.h"
#include "smtp/TCustomSmtpClient.h"

void TCustomSmtpClient::StartTls() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (socket_->TlsActive()) throw SmtpException("TLS is already active");
  // No falling back to plain text: the mail would travel readable for anyone.
  if (!extensions_.startTls()) throw SmtpException(host_ + " does not offer STARTTLS");
  ExecCommand(smtpStartTls, "STARTTLS", {220}, &TCustomSmtpClient::StartTlsHandshake);
}

void TCustomSmtpClient::StartTlsHandshake() {
  if (EndIfRefused()) return;
  // Whatever came behind the reply was sent before the handshake: anyone on
  // the way could have put it there, so it is dropped, never read as a reply.
  receiveLength_ = 0;
  extensions_ = SmtpExtensions();
  StartSocketTls();
}

void TCustomSmtpClient::StartSocketTls() {
  socket_->OnTlsDone = [this](TCustomWSocket*, const std::string& failure) { SocketTlsDone(failure); };
  socket_->StartTls(host_, caFile_);
}

void TCustomSmtpClient::SocketTlsDone(const std::string& failure) {
  if (!failure.empty()) {
    lastResponse_ = "500 TLS with " + host_ + " failed: " + failure;
    statusCode_ = 500;
    requestResult_ = 500;
    RecordError();
    RequestDone(500);  // the socket closes the connection next
    return;
  }
  if (state_ == smtpConnecting) {
    connected_ = true;
    (void)SetState(smtpWaitingBanner);
    return;
  }
  // What the server offers is asked anew over TLS.
  if (!SetState(smtpInternalReady)) return;
  readingExtensions_ = true;
  ExecCommand(smtpStartTls, "EHLO " + GreetingName(), {250}, nullptr);
}

void TCustomSmtpClient::Auth() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (!socket_->TlsActive())
    throw SmtpException("No login over a connection that is not encrypted: " + host_ +
                        " would receive the password in plain text");
  if (username_.empty()) throw SmtpException("No user name to log in with");
  if (extensions_.authPlain()) {
    ExecSecret("AUTH PLAIN " + base64Encode(std::string(1, '\0') + username_ + '\0' + password_),
               "AUTH PLAIN <credentials hidden>", {235}, nullptr);
  } else if (extensions_.authLogin()) {
    ExecCommand(smtpAuth, "AUTH LOGIN", {334}, &TCustomSmtpClient::AuthLoginUser);
  } else {
    throw SmtpException(host_ + " offers neither AUTH PLAIN nor AUTH LOGIN");
  }
}

void TCustomSmtpClient::AuthLoginUser() {
  if (EndIfRefused()) return;
  if (SetState(smtpInternalReady))
    ExecCommand(smtpAuth, base64Encode(username_), {334}, &TCustomSmtpClient::AuthLoginPassword);
}

void TCustomSmtpClient::AuthLoginPassword() {
  if (EndIfRefused()) return;
  if (SetState(smtpInternalReady)) ExecSecret(base64Encode(password_), "<password hidden>", {235}, nullptr);
}

void TCustomSmtpClient::ExecSecret(const std::string& command, const std::string& shown,
                                   std::vector<int32_t> okReplies, Continuation continuation) {
  const std::string encoded = command.substr(command.rfind(' ') + 1);
  for (const std::string& secret : {encoded, password_, base64Encode(password_)}) {
    if (!secret.empty()) secrets_.push_back(secret);
  }
  ExecCommand(smtpAuth, command, std::move(okReplies), continuation, shown);
}

void TCustomSmtpClient::Redact(std::string& line) const {
  static const std::string hidden = "<hidden>";
  for (const std::string& secret : secrets_) {
    for (size_t at = line.find(secret); at != std::string::npos; at = line.find(secret, at + hidden.size()))
      line.replace(at, secret.size(), hidden);
  }
}
