// morvane-demo-window <title> [seconds]: the status window of the demo
// connection in a Wayland session. It shows `title`, takes every line read
// from standard input as its new title, and ends after `seconds` (8 when not
// given, never when 0). It is a native Wayland window where Morvane sees
// native windows (the compositor lists its toplevels, or it is KWin, or GNOME
// Shell with Morvane's extension running), and an X11 (XWayland) window
// elsewhere, so that the demo works on every desktop.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "basis/Exceptions.h"
#include "platform/SessionBus.h"
#include "platform/windows/WaylandWindowSource.h"

namespace {

bool morvaneSeesNativeWindows(int argc, char** argv) {
  try {
    if (WaylandWindowSource::connect() != nullptr) return true;
  } catch (const IOException&) {
    return false;  // no Wayland session
  }
  // The session bus wants an application object; the window's comes later,
  // once the platform is chosen.
  QCoreApplication application(argc, argv);
  SessionBus bus;
  return !bus.ownerOf("org.kde.KWin").isEmpty() || !bus.ownerOf("org.morvane.WindowList").isEmpty();
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("WAYLAND_DISPLAY") != nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr &&
      !morvaneSeesNativeWindows(argc, argv)) {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fputs("usage: morvane-demo-window <title> [seconds]\n", stderr);
    return 2;
  }
  QLabel window("Demo connection is open. It closes by itself.");
  window.setMargin(24);
  window.setWindowTitle(QString::fromUtf8(argv[1]));
  window.show();

  const int seconds = argc > 2 ? std::atoi(argv[2]) : 8;
  if (seconds > 0) QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);

  std::string pending;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[512];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);  // end of input: the title stays
      return;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      window.setWindowTitle(QString::fromUtf8(pending.data(), static_cast<qsizetype>(end)));
    }
  });
  return QApplication::exec();
}
