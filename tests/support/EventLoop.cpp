#include "tests/support/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace {

// One wait for events, woken at the latest after 10 ms (so conditions set by
// other threads are seen) or when the deadline passes.
void waitOnce(QTimer& waker, const QDeadlineTimer& deadline) {
  waker.start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 10)));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace

bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
  QTimer reaper;
  reaper.setSingleShot(true);
  reaper.setTimerType(Qt::PreciseTimer);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    waitOnce(reaper, deadline);
  }
  return true;
}

void runEventLoopFor(int ms) {
  QDeadlineTimer deadline(ms, Qt::PreciseTimer);
  QTimer waker;
  waker.setSingleShot(true);
  waker.setTimerType(Qt::PreciseTimer);
  while (!deadline.hasExpired()) waitOnce(waker, deadline);
}
