#include "debug/TMailWriter.h"

#include "basis/TProperties.h"
#include "basis/TStringCollection.h"
#include "basis/TSystem.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "debug/TDebugEntry.h"
#include "mail/TMailAddress.h"
#include "mail/TMailMessage.h"
#include "mail/TMailQueue.h"

namespace {
// The report of a sent mail, and whether one is being made: that report is
// never mailed, so a sent mail cannot cause another mail. Other reports made
// meanwhile (from inside a dialog, say) are mailed as usual.
const char* const SENT_MAIL_REPORT = "TMailWriter.mailSend: Queue said error mail send.";
bool reportingSentMail = false;

bool isSentMailReport(const TDebugEntry& entry) {
  return reportingSentMail && entry.message == SENT_MAIL_REPORT;
}
}  // namespace

TMailWriter::TMailWriter(std::shared_ptr<const TMailAddress> from, int32_t level)
    : TConditionalWriter(level), queue_(std::make_unique<TMailQueue>()), from_(std::move(from)) {
  queue_->onMailSent = [this](TMailQueue* sender) { mailSend(sender); };
  queue_->onMailError = [this](TMailQueue* sender, std::unique_ptr<MailTransportException> e) {
    mailError(sender, std::move(e));
  };
}

TMailWriter::~TMailWriter() = default;

void TMailWriter::addRecipient(const std::string& text) {
  recipients_.push_back(std::make_unique<TMailAddress>(text));
}

void TMailWriter::write(const TDebugEntry& entry) {
  if (entry.level > level || recipients_.empty() || isSentMailReport(entry)) return;
  try {
    queue_->addMail(composeMail(entry));
  } catch (const std::exception& e) {
    throw IOException("TMailWriter.write: " + wrappedText(e));
  }
}

std::unique_ptr<TMailMessage> TMailWriter::composeMail(const TDebugEntry& entry) const {
  // "system.properties" is read once per mail: for the subject and for the
  // message's settings. Without the file the host texts are empty.
  std::unique_ptr<TProperties> system;
  try {
    system = std::make_unique<TProperties>("system.properties");
  } catch (...) {
  }
  auto hostText = [&](const std::string& key) { return system ? system->getString(key, "unknown") : std::string(); };
  const std::string subject = "ERROR at " + hostText(TSystem::hostKey()) + " - " + hostText(TSystem::hostDisplayKey()) +
                              " (" + hostText(TSystem::hostEnvironmentKey()) + ") in " + entry.channelName;
  auto mail = system ? std::make_unique<TMailMessage>(subject, *system) : std::make_unique<TMailMessage>(subject, TProperties());
  mail->addLine(SEPARATOR);
  mail->addLine(GENERATED_BY);
  mail->addLine(SEPARATOR);
  mail->addEmptyLine();
  TStringCollection lines(entry.toString());  // empty lines are dropped
  for (const std::string& line : lines.getStrings()) mail->addLine(line);
  mail->addEmptyLine();
  mail->addLine(SEPARATOR);
  mail->addLine(DO_NOT_REPLY);
  mail->setFrom(from_.get());
  for (const auto& recipient : recipients_) mail->addRecipient(recipient.get());
  return mail;
}

void TMailWriter::mailSend(TMailQueue*) {
  bool outer = reportingSentMail;
  reportingSentMail = true;
  try {
    TChannelPool::getChannel("system")->trace(SENT_MAIL_REPORT, 3);
  } catch (const std::exception& e) {
    internalError("TMailWriter.mailSend(TObject)", &e);
  } catch (...) {
    internalError("TMailWriter.mailSend(TObject)", nullptr);
  }
  reportingSentMail = outer;
}

void TMailWriter::mailError(TMailQueue*, std::unique_ptr<MailTransportException> error) {
  internalError("TMailWriter.mailError(TObject)", error.get());
}
