#pragma once
// A bounded queue of mail messages, sent one at a time so that at most one
// SMTP connection is open. The queue owns its messages. After a success the
// most recently added waiting message goes next; a full queue drops its
// oldest message. A message that failed once stays, marked, and is sent
// again after a pause; a second failure removes it.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QTimer>

#include "basis/TMappedObject.h"
#include "mail/MailExceptions.h"
#include "mail/TMailMessage.h"

class TProperties;

class TMailQueue : public TMappedObject {
  MORVANE_CLASS(TMailQueue, TMappedObject)

  using SentEvent = std::function<void(TMailQueue* sender)>;
  // The receiver takes the exception.
  using ErrorEvent =
      std::function<void(TMailQueue* sender, std::unique_ptr<MailTransportException> error)>;

  static constexpr int32_t DEFAULT_CAPACITY = 255;
  // The pause after a failure before the queue sends again.
  static constexpr int32_t DEFAULT_RETRY_DELAY_MILLIS = 30000;

  TMailQueue();
  // A capacity below 10 raises IllegalArgumentException.
  explicit TMailQueue(int32_t capacity);
  // Takes the enabled switch from `settings` instead of "system.properties".
  TMailQueue(int32_t capacity, const TProperties& settings);
  // Destroys the waiting messages; a send under way ends without notice.
  ~TMailQueue() override;

  // Takes `message`: sends it at once when the queue was empty, keeps it
  // otherwise, and destroys it unsent when mail is disabled.
  void addMail(std::unique_ptr<TMailMessage> message);

  int32_t size() const noexcept { return static_cast<int32_t>(queue_.size()); }
  int32_t getCapacity() const noexcept { return capacity_; }
  bool isMailEnabled() const noexcept { return mailEnabled_; }
  bool isFailed(const TMailMessage* message) const;
  // Messages in order of arrival, oldest first; still the queue's.
  std::vector<TMailMessage*> messages() const;
  void setRetryDelay(int32_t millis) noexcept { retryDelayMillis_ = millis; }

  // Messages held by all queues of the process; 0 when every queue is idle.
  static int32_t pendingInAllQueues();

  SentEvent onMailSent;
  ErrorEvent onMailError;

  // The notifications of the messages; addMail installs them.
  void mailSend(TMailMessage* message);
  void mailError(TMailMessage* message, std::unique_ptr<MailTransportException> error);

 private:
  void removeMessage(TMailMessage* message);
  void reportError(const std::string& text);
  bool sending() const;
  void sendNext();
  void scheduleRetry();
  // Sends the marked message first, else the newest waiting one, unless one
  // is under way.
  void resume();

  std::vector<std::unique_ptr<TMailMessage>> queue_;
  std::vector<TMailMessage*> failed_;
  int32_t capacity_ = DEFAULT_CAPACITY;
  bool mailEnabled_ = false;
  int32_t retryDelayMillis_ = DEFAULT_RETRY_DELAY_MILLIS;
  std::unique_ptr<QTimer> retry_;
};
