// The KWin and GNOME Shell window sources on real headless sessions (KWin
// 5.27 and 6.3, GNOME Shell 43 and 48; tests/support/DesktopSession.h), per
// desktop:
//  - close -> known: from killing a native Wayland window to the source's
//    list without it (as a program of the session sees it, through the
//    probe), median of 20 runs; the goal is 100 ms at most;
//  - poll cost: one poll of the live list with 100 windows, against its peer,
//    a fresh listing over the session bus (KWin's window search for all of
//    them, the extension's GetWindows);
//  - growth: 10,000 XWayland windows opened and closed, 100 at a time, under
//    one source: windows kept and heap in use before and after;
//  - idle CPU: the source's process and the compositor over 10 s in which
//    nothing happens, against the compositor's 10 s before the source came.
// Run as root (the sessions' users are switched to):
//   bench_desktop_watch [kwin5|kwin6|gnome43|gnome48]...
// MORVANE_BENCH_CHURN overrides the 10,000. Best in a Release build.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/GnomeShellWindowSource.h"
#include "platform/KWinWindowSource.h"
#include "platform/SessionBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowSourceProbe.h"

namespace {

using Desktop = DesktopSession::Desktop;
using Clock = std::chrono::steady_clock;
constexpr size_t kBatch = 100;

double monotonicMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Close -> known, from outside: the probe reports each list with the time.
double medianCloseLatencyMs(DesktopSession& session, int runs) {
  WindowSourceProbe probe(session);
  std::vector<double> latencies;
  for (int i = 0; i < runs; ++i) {
    const std::string title = "Benchmark status " + std::to_string(i);
    DesktopSession::Window window = session.openNativeWindow(title);
    if (!probe.waitForCount(title, 1)) {
      std::fprintf(stderr, "window %d never listed\n", i);
      std::exit(1);
    }
    const double closed = monotonicMs();
    session.close(window, SIGKILL);
    if (!probe.waitForCount(title, 0)) std::exit(1);
    latencies.push_back(probe.reportedAt(title, 0, closed) - closed);
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("  close -> known over %d runs: median %.1f ms (%.1f .. %.1f)\n", runs, latencies[latencies.size() / 2],
              latencies.front(), latencies.back());
  return latencies[latencies.size() / 2];
}

// ---- inside the session, as its user ----

double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // After the command name in parentheses: fields 3.. ; utime and stime are 14 and 15.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i >= 14) ticks += std::stoull(field);
  }
  return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for `ms` (the source's events are delivered).
void runLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Titled XWayland windows of one X client.
struct XWindows {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  size_t next = 0;
  std::vector<xcb_window_t> open(size_t count) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t background[] = {screen->white_pixel};
    std::vector<xcb_window_t> windows;
    for (size_t i = 0; i < count; ++i) {
      const xcb_window_t w = xcb_generate_id(x);
      xcb_create_window(x, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 20, 20, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                        XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, background);
      std::string title = "Toplevel " + std::to_string(next++) + " with a title of typical length";
      xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                          static_cast<uint32_t>(title.size()), title.data());
      xcb_map_window(x, w);
      windows.push_back(w);
    }
    xcb_flush(x);
    return windows;
  }
  void close(const std::vector<xcb_window_t>& windows) {
    for (xcb_window_t w : windows) xcb_destroy_window(x, w);
    xcb_flush(x);
    // The windows' events are of no interest; left unread, they would be
    // heap of this process that grows with the windows.
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) std::free(event);
  }
};

size_t listed(WindowSource& source) {
  return static_cast<size_t>(source.enumWindows(
      0, [](uint32_t, std::string_view, uintptr_t) { return true; }, 0));
}

// Waits on the event loop, woken by the source's change reports, until it
// lists `count` windows.
void awaitListed(WindowSource& source, size_t count) {
  QEventLoop loop;
  bool late = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [&] {
    late = true;
    loop.quit();
  });
  deadline.start(120000);
  source.setChangeHandler([&] { loop.quit(); });
  while (listed(source) != count && !late) loop.exec();
  source.setChangeHandler({});
  if (late) {
    std::fprintf(stderr, "the source lists %zu windows, not %zu\n", listed(source), count);
    std::exit(1);
  }
}

// Opens `count` windows more, ten at a time, each ten once listed: XWayland
// dies when it has to hand the compositor too many buffers at once
// ("can't send file descriptor").
void openListed(XWindows& x, WindowSource& source, size_t count, std::vector<xcb_window_t>& windows) {
  const size_t start = listed(source);
  for (size_t opened = 0; opened < count; opened += 10) {
    for (xcb_window_t w : x.open(10)) windows.push_back(w);
    awaitListed(source, start + opened + 10);
  }
}

template <class Work>
double nanosecondsPer(Work&& work) {
  // Blocks of 0.2 s; the median block counts.
  std::vector<double> blocks;
  for (int block = 0; block < 5; ++block) {
    size_t n = 0;
    const auto start = Clock::now();
    do {
      work();
      ++n;
    } while (Clock::now() - start < std::chrono::milliseconds(200));
    blocks.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(n));
  }
  std::sort(blocks.begin(), blocks.end());
  return blocks[2];
}

int inside(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const pid_t compositor = static_cast<pid_t>(std::atoi(std::getenv("COMPOSITOR_PID")));
  const double compositorBefore = cpuSeconds(compositor);
  runLoop(10000);
  const double compositorAlone = cpuSeconds(compositor) - compositorBefore;

  std::unique_ptr<WindowSource> source = WindowSource::open();
  const bool kwin = dynamic_cast<KWinWindowSource*>(source.get()) != nullptr;
  if (!kwin && dynamic_cast<GnomeShellWindowSource*>(source.get()) == nullptr) {
    std::printf("  no KWin or GNOME Shell source: %s\n", source->notice().c_str());
    return 1;
  }
  runLoop(500);
  const double ownStart = ownCpuSeconds(), compositorStart = cpuSeconds(compositor);
  runLoop(10000);
  std::printf("  idle 10 s: source's process %.3f%% CPU; compositor %.3f%% with it, %.3f%% before it\n",
              (ownCpuSeconds() - ownStart) * 10, (cpuSeconds(compositor) - compositorStart) * 10, compositorAlone * 10);

  const size_t base = listed(*source);
  XWindows x;
  std::vector<xcb_window_t> scene;
  openListed(x, *source, kBatch, scene);
  SessionBus bus;
  auto fresh = [&] {
    QDBusMessage reply =
        kwin ? bus.call("org.kde.KWin", "/WindowsRunner", "org.kde.krunner1", "Match", {QStringLiteral("Toplevel")})
             : bus.call("org.morvane.WindowList", "/org/morvane/WindowList", "org.morvane.WindowList1", "GetWindows");
    if (reply.type() != QDBusMessage::ReplyMessage) {
      std::printf("  the fresh listing failed: %s\n", reply.errorMessage().toStdString().c_str());
      std::exit(1);
    }
  };
  if (kwin) {  // the window search gathers the windows at its first query
    bus.call("org.kde.KWin", "/WindowsRunner", "org.kde.krunner1", "Match", {QStringLiteral("Toplevel")}, 60000);
  }
  const double poll = nanosecondsPer([&] { listed(*source); });
  const double peer = nanosecondsPer(fresh);
  std::printf("  poll of %zu windows %.2f us, fresh listing (%s) %.1f us: ratio %.4fx\n", listed(*source), poll / 1000,
              kwin ? "window search" : "GetWindows", peer / 1000, poll / peer);
  x.close(scene);
  awaitListed(*source, base);

  const char* churnCount = std::getenv("MORVANE_BENCH_CHURN");
  const size_t total = churnCount != nullptr ? static_cast<size_t>(std::atoll(churnCount)) : 10000;
  auto cycle = [&] {
    std::vector<xcb_window_t> windows;
    openListed(x, *source, kBatch, windows);
    x.close(windows);
    awaitListed(*source, base);
  };
  cycle();
  malloc_trim(0);
  const size_t heapBefore = mallinfo2().uordblks;
  for (size_t done = kBatch; done < total; done += kBatch) cycle();
  runLoop(500);
  malloc_trim(0);
  const size_t heapAfter = mallinfo2().uordblks;
  std::printf(
      "  %zu windows opened and closed: %zu listed afterwards (%zu before), heap in use %zu -> %zu bytes (%+lld)\n",
      total, listed(*source), base, heapBefore, heapAfter,
      static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--inside") return inside(argc, argv);
  std::vector<Desktop> desktops;
  for (int i = 1; i < argc; ++i) {
    for (Desktop d : {Desktop::KWin5, Desktop::KWin6, Desktop::Gnome43, Desktop::Gnome48}) {
      if (argv[i] == std::string(DesktopSession::name(d))) desktops.push_back(d);
    }
  }
  if (desktops.empty()) desktops = {Desktop::KWin5, Desktop::KWin6, Desktop::Gnome43, Desktop::Gnome48};
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  for (Desktop desktop : desktops) {
    std::printf("%s\n", DesktopSession::name(desktop));
    std::fflush(stdout);
    DesktopSession session(desktop);
    medianCloseLatencyMs(session, 20);
    std::fflush(stdout);
    const std::string output = session.programs() + "/inside.txt";
    pid_t pid = session.spawn({session.install(self), "--inside"}, {"QT_QPA_PLATFORM=offscreen"}, output);
    std::optional<int> status = childprocess::waitExit(pid, 1800000);
    session.forget(pid);
    std::fputs(TempDir::read(output).c_str(), stdout);
    if (status != 0) std::printf("  (the measurement inside the session failed)\n");
    std::fflush(stdout);
  }
  return 0;
}
