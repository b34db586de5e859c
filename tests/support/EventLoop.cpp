#include "tests/support/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  // The reaper: its timeout wakes the waiting loop so the deadline is seen.
  QTimer reaper;
  reaper.setSingleShot(true);
  reaper.start(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void runEventLoopFor(int ms) {
  QDeadlineTimer deadline(ms);
  QTimer waker;
  waker.setSingleShot(true);
  waker.start(ms);
  while (!deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
