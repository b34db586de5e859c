// Morvane's start routine: the signal handling, the UI framework, then the
// base library, the diagnostics and the main unit's channels, then the
// window and the loop.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/ConnectionLogLine.h"
#include "basis/Exceptions.h"
#include "debug/DebugStartup.h"
#include "debug/DialogHook.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "mail/TMailQueue.h"
#include "main/CommandLine.h"
#include "main/MessageBoxHook.h"
#include "main/TMainForm.h"
#include "main/TerminationSignals.h"
#include "main/UiLanguage.h"
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

// The window while it exists, and the status once its loop has ended, for
// an end that Qt forces.
TMainForm* runningForm = nullptr;
int loopStatus = -1;
QtMessageHandler qtMessages = nullptr;

// Qt ends the process right after it says that the connection to the X
// server or the Wayland compositor broke, with a status of its own. The
// program reports it instead, writes what its file writers still hold, and
// ends as a connection that ended unwatched: with the status of an end
// while connected, or as a failure before connecting (or with the status
// already decided, when the loop had ended).
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (qtMessages != nullptr) qtMessages(type, context, text);
  static bool ending = false;
  if (ending || type != QtWarningMsg || !text.contains("connection broke")) return;
  ending = true;
  int status = runningForm != nullptr && runningForm->isConnected() ? EXIT_ENDED_WHILE_CONNECTED : EXIT_FAILED;
  if (loopStatus >= 0) status = loopStatus;
  try {
    IOException lost("The connection to the display broke: " + text.toStdString());
    if (mainChannel != nullptr) mainChannel->error(&lost, "main: ", 1, nullptr);
    releaseDebug();
  } catch (...) {
  }
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: a signal at any moment ends the program through
  // its own path, and a write past the file size limit fails like one to a
  // full disk instead of ending the program.
  ::signal(SIGXFSZ, SIG_IGN);
  TerminationSignals::install();
  qtMessages = qInstallMessageHandler(onQtMessage);

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
  installUiTranslation(application);
  installMessageBoxHook();

  startupBasis();
  startupDebug();
  mainChannel = TChannelPool::getChannel("morvane");
  netLogChannel = TChannelPool::getChannel(std::string(CONNECTION_LOG_CHANNEL));

  int status;
  {
    TMainForm form;
    runningForm = &form;
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
    loopStatus = status;
    form.hide();
    drainMailQueues(MAIL_DRAIN_LIMIT_MILLIS);
    runningForm = nullptr;
  }  // the form's destruction releases the diagnostics
  return status;
}
