// Morvane's start routine: the UI framework first, then the base library,
// the diagnostics and the main unit's channels, then the window and the loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "debug/DialogHook.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "mail/TMailQueue.h"
#include "main/CommandLine.h"
#include "main/MessageBoxHook.h"
#include "main/TMainForm.h"
#include "main/TerminationSignals.h"
#include "platform/DisplayCheck.h"

namespace {

// How long the program waits at its end for error mails still under way.
constexpr int MAIL_DRAIN_LIMIT_MILLIS = 30000;

// Keeps the event loop running, with no window shown, until every mail
// queue is empty or the limit has passed: a fatal report mails its entry
// and the program ends right after, which would otherwise destroy the mail.
// No one need be at the desk any more, so nothing may wait for a click:
// reports of failed mails go to standard output and the logs only. Mails
// still unsent at the limit are reported.
void drainMailQueues(int limitMillis) {
  setDialogHook([](DialogKind, const std::string&) {});
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
  if (const int32_t unsent = TMailQueue::pendingInAllQueues(); unsent > 0) {
    TChannelPool::getChannel("system")->trace(
        "morvane: " + std::to_string(unsent) + (unsent == 1 ? " error mail was" : " error mails were") +
            " not sent: the program waits at most " + std::to_string(limitMillis / 1000) +
            " s for mail when it ends.",
        2);
  }
}

// The connection log of the default configuration lives in the user's own
// state folder; the text writers do not make folders, so it is made here.
void makeLogFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return;
  std::error_code ignored;  // without it the log reports its own failure
  std::filesystem::create_directories(std::string(home) + "/.local/state/morvane", ignored);
}

}  // namespace

int main(int argc, char** argv) {
  // Options come first: help and version need no display.
  const CommandLineRequest request = parseCommandLine(argc, argv);
  switch (request.action) {
    case CommandLineRequest::Action::Help:
      std::fputs(helpText().c_str(), stdout);
      return 0;
    case CommandLineRequest::Action::Version:
      std::fputs(versionText().c_str(), stdout);
      return 0;
    case CommandLineRequest::Action::UsageError:
      std::fprintf(stderr, "morvane: unknown option '%s'\nTry 'morvane --help'.\n", request.badOption.c_str());
      return EXIT_USAGE;
    case CommandLineRequest::Action::Run:
      break;
  }

  // Without a display Qt would abort: the user gets one line instead.
  const std::string noDisplay = displayProblem(argc, argv);
  if (!noDisplay.empty()) {
    std::fprintf(stderr, "%s\n", noDisplay.c_str());
    return EXIT_FAILED;
  }
  PlatformStartGuard platformStart(EXIT_FAILED);
  QApplication application(argc, argv);
  platformStart.started();
  std::setlocale(LC_ALL, "");
  QApplication::setApplicationName("morvane");
  installMessageBoxHook();

  makeLogFolder();
  startupBasis();
  startupDebug();
  mainChannel = TChannelPool::getChannel("morvane");
  netLogChannel = TChannelPool::getChannel("net-log");

  int status;
  {
    TMainForm form;
    // Closing the window ends the program through the form, which knows
    // whether a connection is open.
    QApplication::setQuitOnLastWindowClosed(false);
    // A signal ends the program like closing its window; a further one
    // during the final mail drain ends the drain.
    bool loopEnded = false;
    TerminationSignals terminationSignals([&form, &loopEnded](int) {
      if (loopEnded) {
        QCoreApplication::exit(0);
      } else {
        form.endOnRequest();
      }
    });
    form.show();
    status = QApplication::exec();
    loopEnded = true;
    form.hide();
    drainMailQueues(MAIL_DRAIN_LIMIT_MILLIS);
  }  // the form's destruction releases the diagnostics
  return status;
}
