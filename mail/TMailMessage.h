#pragma once
// One outgoing plain-text mail that sends itself over one SMTP connection.
//
// The SMTP server, how to reach it (plain, STARTTLS or TLS, with a login),
// the sender and the enabled switch come from "system.properties" when the
// message is made, or from a table handed in. A send that starts ends in
// exactly one notification: onMailSent or onMailError. The owner may destroy
// the message from inside either; the message touches nothing of itself
// after calling them. The password is read from its file at each send and
// never shown.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QTimer>

#include "basis/TMappedObject.h"
#include "basis/TStringCollection.h"
#include "mail/MailExceptions.h"
#include "mail/TMailAddress.h"
#include "smtp/TSmtpCli.h"

class TProperties;

class TMailMessage : public TMappedObject {
  MORVANE_CLASS(TMailMessage, TMappedObject)

  using SentEvent = std::function<void(TMailMessage* sender)>;
  // The receiver takes the exception.
  using ErrorEvent =
      std::function<void(TMailMessage* sender, std::unique_ptr<MailTransportException> error)>;

  // How long a send may take before it is abandoned as failed.
  static constexpr int32_t DEFAULT_SEND_TIMEOUT_MILLIS = 120000;

  explicit TMailMessage(const std::string& subject);
  // Takes the settings from `settings` instead of the file.
  TMailMessage(const std::string& subject, const TProperties& settings);
  TMailMessage(const std::string& subject, const TMailAddress* recipient);
  ~TMailMessage() override;

  void setSubject(const std::string& text) { subject_ = text; }
  // Keeps a copy; nullptr raises IllegalArgumentException.
  void setFrom(const TMailAddress* address);
  void addRecipient(const TMailAddress* address);
  void addLine(const std::string& text);
  void addEmptyLine();

  // Starts sending and returns at once; does nothing when mail is disabled.
  void send();
  bool isBusy() const noexcept { return client_ != nullptr; }

  const std::string& getSubject() const noexcept { return subject_; }
  const std::string& getSmtpHost() const noexcept { return smtpHost_; }
  int32_t getSmtpPort() const noexcept { return smtpPort_; }
  bool isMailEnabled() const noexcept { return mailEnabled_; }
  // Why mail that is switched on cannot be sent with these settings (no
  // valid sender); "" when nothing is wrong or mail is off.
  const std::string& getSettingsProblem() const noexcept { return settingsProblem_; }
  TSmtpSecurity getSecurity() const noexcept { return security_; }
  // The Message-ID every send of this message carries.
  const std::string& getMessageId() const noexcept { return messageId_; }
  const TMailAddress* getFrom() const noexcept { return from_.get(); }
  const TStringCollection& getBody() const noexcept { return *body_; }
  size_t recipientCount() const noexcept { return recipients_.size(); }
  void setSendTimeout(int32_t millis) noexcept { sendTimeoutMillis_ = millis; }

  SentEvent onMailSent;
  ErrorEvent onMailError;

 private:
  void loadSettings(const TProperties& settings);
  // The login's password, after checking the security settings; "" without
  // a login. Raises MailTransportException with a text for the user.
  std::string loginPassword() const;
  void assembleRecipients();
  void assignEvents();
  void requestDone(TCustomSmtpClient* sender, TSmtpRequest request, uint16_t error);
  void timedOut();
  // Releases the client, then notifies; the last thing a caller may do.
  void reportError(const std::string& text);
  void reportSent();
  void releaseClient();

  std::string subject_;
  std::string smtpHost_;
  int32_t smtpPort_ = 25;
  TSmtpSecurity security_ = smtpSecurityNone;
  // A security value that is none of the three, for the report at send.
  std::string securityProblem_;
  std::string user_;
  std::string passwordFile_;
  std::string caFile_;
  std::string settingsProblem_;
  std::string messageId_;
  std::unique_ptr<TStringCollection> body_;
  std::unique_ptr<TMailAddress> from_;
  std::vector<std::unique_ptr<TMailAddress>> recipients_;
  std::unique_ptr<TSmtpCli> client_;
  std::unique_ptr<QTimer> timeout_;
  int32_t sendTimeoutMillis_ = DEFAULT_SEND_TIMEOUT_MILLIS;
  bool mailEnabled_ = false;
};
