#include "platform/DescriptorWatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <utility>

DescriptorWatch::DescriptorWatch(int fd, Event event, std::function<bool()> onReady,
                                 std::function<void()> onStopped) {
  if (QCoreApplication::instance() == nullptr) return;
  notifier_ = std::make_unique<QSocketNotifier>(
      fd, event == Event::Readable ? QSocketNotifier::Read : QSocketNotifier::Write);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                   [this, onReady = std::move(onReady), onStopped = std::move(onStopped)] {
                     if (onReady()) return;
                     notifier_->setEnabled(false);
                     if (onStopped) onStopped();
                   });
}

DescriptorWatch::~DescriptorWatch() = default;

void DescriptorWatch::setEnabled(bool enabled) {
  if (notifier_ != nullptr) notifier_->setEnabled(enabled);
}

QObject* DescriptorWatch::context() const { return notifier_.get(); }
