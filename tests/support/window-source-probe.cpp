// window-source-probe [TITLE...]: the session's window source, as a test
// or benchmark outside this process sees it. Opens WindowSource::open() on
// a Qt event loop, gives it the titles, and writes to standard output
//   source <kind>         kwin-script, kwin-search, gnome, wayland or x11
//   script <name>         the name of the KWin script (KWin only)
//   notice <text>         what the source says the user should know
//   windows <ms> <n>\t<title>\t...   the list whenever it changes, with the
//                         CLOCK_MONOTONIC time in milliseconds
//   failed <text>         a poll failed; the probe ends with status 1
// The source is polled when it reports a change; KWin's window search,
// which has no events, every 20 ms. The source and notice lines come again
// when they change. "quit" on standard input ends the probe (status 0).
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/windows/GnomeShellWindowSource.h"
#include "platform/windows/KWinWindowSource.h"
#include "platform/windows/WaylandWindowSource.h"
#include "platform/windows/WindowSource.h"

namespace {

std::string kindOf(const WindowSource& source) {
  if (auto* kwin = dynamic_cast<const KWinWindowSource*>(&source)) {
    if (kwin->standingIn()) return "x11";
    return kwin->mode() == KWinWindowSource::Mode::Script ? "kwin-script" : "kwin-search";
  }
  if (auto* gnome = dynamic_cast<const GnomeShellWindowSource*>(&source)) return gnome->standingIn() ? "x11" : "gnome";
  if (dynamic_cast<const WaylandWindowSource*>(&source) != nullptr) return "wayland";
  return "x11";
}

double nowMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  std::vector<std::string> titles(argv + 1, argv + argc);
  std::unique_ptr<WindowSource> source;
  try {
    source = WindowSource::open();
  } catch (const std::exception& e) {
    std::printf("failed %s\n", e.what());
    return 1;
  }
  source->setWantedTitles(titles);
  std::string kind = kindOf(*source);
  std::printf("source %s\n", kind.c_str());
  if (auto* kwin = dynamic_cast<KWinWindowSource*>(source.get())) {
    std::printf("script %s\n", kwin->scriptName().toStdString().c_str());
  }
  std::string notice = source->notice();
  if (!notice.empty()) std::printf("notice %s\n", notice.c_str());
  std::fflush(stdout);
  QTimer interval;

  std::string last;
  auto poll = [&] {
    // The source settles on the event loop: a later kind or notice is told
    // again (the last one holds).
    if (std::string now = kindOf(*source); now != kind) {
      kind = now;
      std::printf("source %s\n", kind.c_str());
    }
    if (std::string now = source->notice(); now != notice) {
      notice = now;
      std::printf("notice %s\n", notice.c_str());
    }
    std::fflush(stdout);
    if (kind == "kwin-search" && !interval.isActive()) interval.start(20);
    std::string line;
    int count = 0;
    try {
      count = source->enumWindows(
          4096,
          [](WindowSource::WindowId, std::string_view title, uintptr_t value) {
            *reinterpret_cast<std::string*>(value) += "\t" + std::string(title);
            return true;
          },
          reinterpret_cast<uintptr_t>(&line));
    } catch (const std::exception& e) {
      std::printf("failed %s\n", e.what());
      std::fflush(stdout);
      QCoreApplication::exit(1);
      return;
    }
    line = std::to_string(count) + line;
    if (line == last) return;
    last = line;
    std::printf("windows %.3f %s\n", nowMs(), line.c_str());
    std::fflush(stdout);
  };
  QTimer scheduled;
  scheduled.setSingleShot(true);
  scheduled.setInterval(0);
  QObject::connect(&scheduled, &QTimer::timeout, poll);
  source->setChangeHandler([&] { scheduled.start(); });
  QObject::connect(&interval, &QTimer::timeout, poll);
  poll();

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0 || std::string(buffer, static_cast<size_t>(n)).find("quit") != std::string::npos) {
      QCoreApplication::exit(0);
    }
  });
  int status = application.exec();
  source.reset();
  return status;
}
