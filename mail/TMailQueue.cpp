#include "mail/TMailQueue.h"

#include <QTimer>
#include <algorithm>
#include <set>

#include "basis/TProperties.h"
#include "basis/TSystem.h"
#include "mail/TMailMessage.h"

namespace {
std::set<const TMailQueue*>& liveQueues() {
  static std::set<const TMailQueue*> queues;
  return queues;
}
}  // namespace

TMailQueue::TMailQueue() : TMailQueue(DEFAULT_CAPACITY) {}

TMailQueue::TMailQueue(int32_t capacity) : TMailQueue(capacity, *TSystem::readSystemProperties()) {}

TMailQueue::TMailQueue(int32_t capacity, const TProperties& settings) : TMappedObject(TBlank{}) {
  if (capacity < 10) {
    throw IllegalArgumentException("TMailQueue.create(integer): Queue size must be at minimum 10.");
  }
  capacity_ = capacity;
  mailEnabled_ = settings.getBoolean(TSystem::mailEnabledKey(), false);
  liveQueues().insert(this);
}

TMailQueue::~TMailQueue() {
  liveQueues().erase(this);
  retry_.reset();
  failed_.clear();
  // Messages go first-in first-out; their notifications are disarmed first.
  for (auto& message : queue_) {
    message->onMailSent = nullptr;
    message->onMailError = nullptr;
  }
  queue_.clear();
}

int32_t TMailQueue::pendingInAllQueues() {
  int32_t pending = 0;
  for (const TMailQueue* queue : liveQueues()) pending += queue->size();
  return pending;
}

bool TMailQueue::isFailed(const TMailMessage* message) const {
  return std::find(failed_.begin(), failed_.end(), message) != failed_.end();
}

std::vector<TMailMessage*> TMailQueue::messages() const {
  std::vector<TMailMessage*> all;
  for (const auto& message : queue_) all.push_back(message.get());
  return all;
}

bool TMailQueue::sending() const {
  return std::any_of(queue_.begin(), queue_.end(), [](const auto& m) { return m->isBusy(); });
}

void TMailQueue::addMail(std::unique_ptr<TMailMessage> message) {
  // Mail disabled, or a message that can never be sent (no valid sender
  // configured): it dies here, unsent, instead of blocking the queue. The
  // latter is a configuration error, told once per process.
  if (!mailEnabled_ || !message->isMailEnabled()) {
    static bool toldUnsendable = false;
    if (mailEnabled_ && !message->getSettingsProblem().empty() && !toldUnsendable) {
      toldUnsendable = true;
      reportError("TMailQueue.addMail: " + message->getSettingsProblem() + ".");
    }
    return;
  }
  bool droppedTheSending = false;
  if (size() >= capacity_) {
    droppedTheSending = queue_.front()->isBusy();
    removeMessage(queue_.front().get());
  }
  TMailMessage* added = message.get();
  added->onMailSent = [this](TMailMessage* m) { mailSend(m); };
  added->onMailError = [this](TMailMessage* m, std::unique_ptr<MailTransportException> e) {
    mailError(m, std::move(e));
  };
  queue_.push_back(std::move(message));
  // Nothing else would start the waiting messages after dropping the one under way.
  if (size() == 1 || droppedTheSending) sendNext();
}

void TMailQueue::removeMessage(TMailMessage* message) {
  failed_.erase(std::remove(failed_.begin(), failed_.end(), message), failed_.end());
  auto it = std::find_if(queue_.begin(), queue_.end(),
                         [message](const auto& m) { return m.get() == message; });
  if (it == queue_.end()) {
    delete message;
    throw IllegalStateException("Can't happen: Miss mail in queue.");
  }
  queue_.erase(it);
}

void TMailQueue::sendNext() {
  if (!queue_.empty() && !sending()) queue_.back()->send();
}

void TMailQueue::mailSend(TMailMessage* message) {
  if (message == nullptr) return;
  try {
    bool removed = false;
    try {
      removeMessage(message);
      removed = true;
    } catch (...) {
      sendNext();
      throw;
    }
    sendNext();
    if (removed && onMailSent) {
      SentEvent notify = onMailSent;
      notify(this);
    }
  } catch (const std::exception& e) {
    reportError(std::string("TMailQueue.mailSend: ") + e.what() + ".");
  }
}

void TMailQueue::mailError(TMailMessage* message, std::unique_ptr<MailTransportException> error) {
  if (message == nullptr) return;
  try {
    if (isFailed(message)) {
      removeMessage(message);
    } else {
      failed_.push_back(message);
    }
    const std::string text = std::string("TMailQueue.mailError: ") + error->what() + ".";
    error.reset();
    scheduleRetry();
    reportError(text);
  } catch (const std::exception& e) {
    reportError(std::string("TMailQueue.mailError: ") + e.what() + ".");
  }
}

void TMailQueue::scheduleRetry() {
  if (queue_.empty()) return;
  if (!retry_) {
    retry_ = std::make_unique<QTimer>();
    retry_->setSingleShot(true);
    QObject::connect(retry_.get(), &QTimer::timeout, retry_.get(), [this] { resume(); });
  }
  if (!retry_->isActive()) retry_->start(retryDelayMillis_);
}

void TMailQueue::resume() {
  if (queue_.empty() || sending()) return;
  for (const auto& m : queue_) {
    if (isFailed(m.get())) {
      m->send();
      return;
    }
  }
  queue_.back()->send();
}

void TMailQueue::reportError(const std::string& text) {
  if (onMailError) {
    ErrorEvent notify = onMailError;
    notify(this, std::make_unique<MailTransportException>(text));
  }
}
