#include "main/ConnectionWatch.h"

#include <utility>

ConnectionWatch::ConnectionWatch(std::unique_ptr<ConnectionMark> mark, Runner run, std::function<void()> ended)
    : mark_(std::move(mark)), run_(std::move(run)), ended_(std::move(ended)) {
  changed_.setSingleShot(true);
  changed_.setInterval(0);
  QObject::connect(&changed_, &QTimer::timeout, [this] { run_("markChanged", [this] { look(); }); });
  grace_.setSingleShot(true);
  grace_.setInterval(GRACE_MILLIS);
  grace_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&grace_, &QTimer::timeout, [this] { run_("graceEnded", [this] { graceEnded(); }); });
}

ConnectionWatch::~ConnectionWatch() { stop(); }

void ConnectionWatch::start() {
  seen_ = false;
  watching_ = true;
  grace_.stop();
  // The handler only schedules: a source may call it from inside its own
  // event processing, where a look must not run.
  mark_->setChangeHandler([this] {
    if (watching_ && !changed_.isActive()) changed_.start();
  });
  changed_.start();
}

void ConnectionWatch::stop() {
  watching_ = false;
  changed_.stop();
  grace_.stop();
  mark_->setChangeHandler(nullptr);
}

void ConnectionWatch::look() {
  if (!watching_) return;
  if (mark_->present()) {
    seen_ = true;
    grace_.stop();
  } else if (seen_ && !grace_.isActive()) {
    grace_.start();
  }
}

void ConnectionWatch::graceEnded() {
  if (!watching_ || mark_->present()) return;
  stop();
  ended_();
}
