// Morvane's start routine: the UI framework first, then the base library,
// the diagnostics and the main unit's channels, then the window and the loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <clocale>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "debug/TChannelPool.h"
#include "mail/TMailQueue.h"
#include "main/MessageBoxHook.h"
#include "main/TMainForm.h"

namespace {

// How long the program waits at its end for error mails still under way.
constexpr int MAIL_DRAIN_LIMIT_MILLIS = 30000;

// Keeps the event loop running, with no window shown, until every mail
// queue is empty or the limit has passed: a fatal report mails its entry
// and the program ends right after, which would otherwise destroy the mail.
void drainMailQueues(int limitMillis) {
  if (TMailQueue::pendingInAllQueues() == 0) return;
  QEventLoop loop;
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (TMailQueue::pendingInAllQueues() == 0 || elapsed.elapsed() >= limitMillis) loop.quit();
  });
  poll.start(50);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName("morvane");
  installMessageBoxHook();

  startupBasis();
  startupDebug();
  mainChannel = TChannelPool::getChannel("morvane");
  netLogChannel = TChannelPool::getChannel("net-log");

  int status;
  {
    TMainForm form;
    form.show();
    status = QApplication::exec();
    form.hide();
    QApplication::setQuitOnLastWindowClosed(false);
    drainMailQueues(MAIL_DRAIN_LIMIT_MILLIS);
  }  // the form's destruction releases the diagnostics
  return status;
}
