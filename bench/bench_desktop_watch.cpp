// The KWin and GNOME Shell window sources on real headless sessions (every
// desktop of DesktopSession::matrix()), per desktop:
//  - close -> known: from killing a native Wayland window to the source's
//    list without it (as a program of the session sees it, through the
//    probe), median of 20 runs; the goal is 100 ms at most;
//  - stalls: the event loop's longest stall (a 5 ms heartbeat's lateness)
//    while the source starts and is polled as the program does, against the
//    idle loop's, in all and without the scheduler's preemptions (the
//    stall of the thread's own making), in a Wayland client as the program
//    is (without a display across a KWin restart, which would end the
//    client's): KWin's script start and a KWin restart, the window search
//    standing in (the script cannot be read), GNOME's list and the
//    extension being switched on by the source; the goal is 50 ms at most;
//  - native churn: 1,000 native Wayland windows of one client opened and
//    closed in bursts, with retitles; the source's list against the
//    client's own at the end, heap and RSS before and after;
//  - poll cost: one poll of the live list with 100 windows, against its peer,
//    a fresh listing over the session bus (KWin's window search for all of
//    them, the extension's GetWindows);
//  - growth: 10,000 XWayland windows opened and closed, 100 at a time, under
//    one source: windows kept and heap in use before and after;
//  - idle CPU: the source's process and the compositor over 10 s in which
//    nothing happens, against the compositor's 10 s before the source came.
// Run as root (the sessions' users are switched to):
//   bench_desktop_watch [kwin5|kwin6|kwin67|gnome43|gnome48|gnome50|gnome51]...
// MORVANE_BENCH_ONLY=close,stall,churn,idle,xchurn runs only the parts named
// (idle: the idle CPU and the poll cost; xchurn: the XWayland growth);
// MORVANE_BENCH_NATIVE overrides the 1,000, MORVANE_BENCH_CHURN the 10,000.
// Best in a Release build (heap figures need one without sanitizers); the
// measurement inside the session runs without glibc's per-thread cache
// unless GLIBC_TUNABLES is given.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows/GnomeShellWindowSource.h"
#include "platform/windows/KWinWindowSource.h"
#include "platform/SessionBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowSourceProbe.h"

namespace {

using Desktop = DesktopSession::Desktop;
using Clock = std::chrono::steady_clock;
constexpr size_t BATCH = 100;
std::vector<std::string> churnScratch;

// MORVANE_BENCH_ONLY: the parts to run, separated by commas; all when unset.
bool wanted(const char* part) {
  const char* only = std::getenv("MORVANE_BENCH_ONLY");
  if (only == nullptr || *only == '\0') return true;
  return ("," + std::string(only) + ",").find("," + std::string(part) + ",") != std::string::npos;
}

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
  ~XWindows() { xcb_disconnect(x); }
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

std::multiset<std::string> titlesOf(WindowSource& source, const std::string& prefix);

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
    std::printf("  the source lists %zu windows, not %zu:", listed(source), count);
    for (const std::string& title : titlesOf(source, "")) std::printf(" [%s]", title.c_str());
    // What the extension itself holds tells on which side of the bus they stay.
    SessionBus bus;
    QDBusMessage reply =
        bus.call("org.morvane.WindowList", "/org/morvane/WindowList", "org.morvane.WindowList1", "GetWindows");
    if (reply.type() == QDBusMessage::ReplyMessage) {
      std::printf("\n  the extension lists:");
      const std::vector<std::pair<uint64_t, std::string>> windows = GnomeShellWindowSource::windowsOf(reply);
      for (const auto& [id, title] : windows) {
        std::printf(" [%llu %s]", static_cast<unsigned long long>(id), title.c_str());
      }
      std::printf("\n  %zu windows in the extension\n", windows.size());
    }
    std::fflush(stdout);
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

// Native Wayland windows of one client (desktop_churn_windows), driven line
// by line; each command returns once the client has sent its requests.
struct NativeWindows {
  QProcess client;
  explicit NativeWindows(const char* program) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "wayland");
    environment.insert("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    environment.remove("DISPLAY");
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QString::fromLocal8Bit(program), {});
    if (!client.waitForStarted(30000)) {
      std::fprintf(stderr, "the churn client did not start\n");
      std::exit(1);
    }
  }
  ~NativeWindows() {
    client.closeWriteChannel();  // its end
    if (!client.waitForFinished(30000)) client.kill();
  }
  std::string command(const std::string& line) {
    client.write((line + "\n").c_str());
    client.waitForBytesWritten(30000);
    while (!client.canReadLine()) {
      if (!client.waitForReadyRead(60000)) {
        std::fprintf(stderr, "the churn client does not answer \"%s\"\n", line.c_str());
        std::exit(1);
      }
    }
    return client.readLine().trimmed().toStdString();
  }
};

std::multiset<std::string> titlesOf(WindowSource& source, const std::string& prefix) {
  std::multiset<std::string> titles;
  source.enumWindows(
      4096,
      [](uint32_t, std::string_view title, uintptr_t value) {
        reinterpret_cast<std::vector<std::string>*>(value)->emplace_back(title);
        return true;
      },
      reinterpret_cast<uintptr_t>(&churnScratch));
  for (std::string& title : churnScratch) {
    if (title.rfind(prefix, 0) == 0) titles.insert(std::move(title));
  }
  churnScratch.clear();
  return titles;
}

size_t residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return static_cast<size_t>(std::atoll(line.c_str() + 6));
  }
  return 0;
}

// Native windows opened and closed in bursts: a fifth closed at once,
// before they are shown; the rest shown, retitled, half of them closed right
// after the retitle and half a moment later. At the end the source's list
// must be the client's own.
void nativeChurn(WindowSource& source, size_t total) {
  const char* program = std::getenv("CHURN_WINDOWS");
  NativeWindows client(program);
  constexpr size_t BURST = 50;
  auto burst = [&] {
    client.command("flash " + std::to_string(BURST / 5));  // gone before they are ever shown
    client.command("open " + std::to_string(BURST - BURST / 5));
    client.command("retitle");
    client.command("close " + std::to_string(BURST / 2));  // some just after the retitle
    runLoop(100);
    client.command("close " + std::to_string(BURST));
  };
  burst();
  runLoop(2000);
  malloc_trim(0);
  const size_t heapBefore = mallinfo2().uordblks, rssBefore = residentKiB();
  size_t heapHalfway = 0;
  for (size_t done = BURST; done < total; done += BURST) {
    burst();
    if (done + BURST >= total / 2 && heapHalfway == 0) {
      runLoop(500);
      malloc_trim(0);
      heapHalfway = mallinfo2().uordblks;
    }
  }
  client.command("open 10");
  client.command("retitle");
  const std::string own = client.command("titles");
  std::multiset<std::string> expected;
  for (size_t tab = own.find('\t'); tab != std::string::npos;) {
    const size_t next = own.find('\t', tab + 1);
    expected.insert(own.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1));
    tab = next;
  }
  // Quiet until the list stops changing: the desktop has told everything.
  QElapsedTimer settling;
  settling.start();
  while (titlesOf(source, "Churn ") != expected && settling.elapsed() < 120000) runLoop(200);
  const std::multiset<std::string> seen = titlesOf(source, "Churn ");
  size_t stale = 0, missing = 0;
  for (const std::string& title : seen) stale += expected.count(title) == 0 ? 1 : 0;
  for (const std::string& title : expected) missing += seen.count(title) == 0 ? 1 : 0;
  client.command("close 10");
  QElapsedTimer closing;
  closing.start();
  while (!titlesOf(source, "Churn ").empty() && closing.elapsed() < 120000) runLoop(200);
  const size_t left = titlesOf(source, "Churn ").size();
  runLoop(500);
  malloc_trim(0);
  const size_t heapAfter = mallinfo2().uordblks, rssAfter = residentKiB();
  std::printf(
      "  %zu native windows in bursts of %zu: at the end %zu listed for the client's %zu (%zu stale, %zu missing, "
      "%.1f s to agree); after the last close %zu left; heap in use %zu -> %zu (halfway) -> %zu bytes (second half "
      "%+lld), RSS %zu -> %zu KiB\n",
      total, BURST, seen.size(), expected.size(), stale, missing, static_cast<double>(settling.elapsed()) / 1000,
      left, heapBefore, heapHalfway, heapAfter, static_cast<long long>(heapAfter) - static_cast<long long>(heapHalfway),
      rssBefore, rssAfter);
  std::fflush(stdout);
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

// The event loop's longest stall as a user feels it: the lateness of a 5 ms
// heartbeat timer.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      const qint64 late = now - last_ - 5000000;
      if (late > worst_) {
        worst_ = late;
        worstAt_ = last_ - start_;
      }
      // On a loaded machine the scheduler takes the CPU away now and then
      // (an involuntary switch); a stall without one is the thread's own:
      // work or a blocking wait.
      const long preempted = involuntarySwitches();
      if (preempted == preempted_) worstOwn_ = std::max(worstOwn_, late);
      preempted_ = preempted;
      last_ = now;
    });
    clock_.start();
    timer_.start();
  }
  void reset() {
    worst_ = worstOwn_ = 0;
    last_ = start_ = clock_.nsecsElapsed();
    preempted_ = involuntarySwitches();
  }
  double worstMs() const { return static_cast<double>(worst_) / 1e6; }
  // The worst stall in which the scheduler did not preempt the thread.
  double worstOwnMs() const { return static_cast<double>(worstOwn_) / 1e6; }
  // When the worst stall began, from the last reset.
  double worstAtMs() const { return static_cast<double>(worstAt_) / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  static long involuntarySwitches() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
  }

  qint64 start_ = 0, last_ = 0, worst_ = 0, worstAt_ = 0, worstOwn_ = 0;
  long preempted_ = 0;
};

// Inside the session: the source opened and polled as the program does
// (every 100 ms, and at once on a change report) under the heartbeat; with
// "restart" the compositor is restarted meanwhile (by the caller, when
// told "restart now").
int stallInside(int argc, char** argv, const std::string& scenario) {
  // The program's own display connection is made here, before the source's:
  // KWin 5.27 answers the first connection of a program some 80 ms late.
  QGuiApplication application(argc, argv);
  Heartbeat heartbeat;
  const int watchMs = scenario == "search" ? 20000 : 6000;
  runLoop(500);
  heartbeat.reset();
  runLoop(watchMs);  // the peer: the same time with nothing to do
  const double idle = heartbeat.worstMs(), idleOwn = heartbeat.worstOwnMs();
  std::unique_ptr<WindowSource> source;
  auto poll = [&] {
    try {
      if (source) listed(*source);
    } catch (const std::exception&) {
      // A failed poll is the program's business; the stall is what counts.
    }
  };
  QTimer interval;
  QObject::connect(&interval, &QTimer::timeout, poll);
  // The first open in a process also starts its bus connection's thread
  // and libraries; a program pays that once. The second is every later one.
  double firstOpenMs = 0, openMs = 0, firstStall = 0, firstOwn = 0;
  for (int round = 0; round < 2; ++round) {
    interval.stop();
    source.reset();
    heartbeat.reset();
    QTimer::singleShot(0, [&] {
      QElapsedTimer opening;
      opening.start();
      source = WindowSource::open();
      (round == 0 ? firstOpenMs : openMs) = static_cast<double>(opening.nsecsElapsed()) / 1e6;
      source->setWantedTitles({"Benchmark status"});
      source->setChangeHandler([&] { QTimer::singleShot(0, poll); });
      interval.start(100);
    });
    runLoop(watchMs);
    if (round == 0) {
      firstStall = heartbeat.worstMs();
      firstOwn = heartbeat.worstOwnMs();
    }
  }
  std::string kind = dynamic_cast<KWinWindowSource*>(source.get()) != nullptr ? "KWin" : "GNOME Shell";
  if (auto* kwin = dynamic_cast<KWinWindowSource*>(source.get())) {
    kind += kwin->mode() == KWinWindowSource::Mode::Search ? " window search" : " script";
  }
  std::printf(
      "  %s: worst stall %.1f ms unpreempted, %.1f ms in all (at %.0f ms), in %d s from the source's start (%s, %zu "
      "windows; open() %.1f ms); idle loop %.1f / %.1f ms: ratio %.1fx; the process's first start: %.1f / %.1f ms, "
      "open() %.1f ms\n",
      scenario.c_str(), heartbeat.worstOwnMs(), heartbeat.worstMs(), heartbeat.worstAtMs(), watchMs / 1000,
      kind.c_str(), listed(*source), openMs, idleOwn, idle, heartbeat.worstOwnMs() / std::max(idleOwn, 0.1), firstOwn,
      firstStall, firstOpenMs);
  std::fflush(stdout);
  if (scenario == "restart") {
    std::printf("restart now\n");
    std::fflush(stdout);
    heartbeat.reset();
    runLoop(15000);
    std::printf(
        "  restart: worst stall %.1f ms unpreempted, %.1f ms in all (at %.0f ms), in 15 s from the restart; the source "
        "lists %zu windows\n",
        heartbeat.worstOwnMs(), heartbeat.worstMs(), heartbeat.worstAtMs(), listed(*source));
  }
  return 0;
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
  const bool all = wanted("idle");  // idle CPU and the poll cost
  if (wanted("churn")) {
    const char* native = std::getenv("MORVANE_BENCH_NATIVE");
    nativeChurn(*source, native != nullptr ? static_cast<size_t>(std::atoll(native)) : 1000);
  }
  if (!all && !wanted("xchurn")) return 0;
  const size_t base = listed(*source);
  XWindows x;
  if (all) {
    const double ownStart = ownCpuSeconds(), compositorStart = cpuSeconds(compositor);
    runLoop(10000);
    std::printf("  idle 10 s: source's process %.3f%% CPU; compositor %.3f%% with it, %.3f%% before it\n",
                (ownCpuSeconds() - ownStart) * 10, (cpuSeconds(compositor) - compositorStart) * 10, compositorAlone * 10);

    std::vector<xcb_window_t> scene;
    openListed(x, *source, BATCH, scene);
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
  }

  const char* churnCount = std::getenv("MORVANE_BENCH_CHURN");
  const size_t total = churnCount != nullptr ? static_cast<size_t>(std::atoll(churnCount)) : 10000;
  auto cycle = [&] {
    std::vector<xcb_window_t> windows;
    openListed(x, *source, BATCH, windows);
    x.close(windows);
    awaitListed(*source, base);
  };
  cycle();
  malloc_trim(0);
  const size_t heapBefore = mallinfo2().uordblks;
  for (size_t done = BATCH; done < total; done += BATCH) cycle();
  runLoop(500);
  malloc_trim(0);
  const size_t heapAfter = mallinfo2().uordblks;
  std::printf(
      "  %zu windows opened and closed: %zu listed afterwards (%zu before), heap in use %zu -> %zu bytes (%+lld)\n",
      total, listed(*source), base, heapBefore, heapAfter,
      static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore));
  std::fflush(stdout);
  return 0;
}

// One stall measurement inside the session (stallInside); restarts the
// compositor when the measurement asks for it.
void runStall(DesktopSession& session, const std::string& self, const std::string& scenario,
              const std::vector<std::string>& extra = {}, const std::vector<std::string>& asRoot = {}) {
  const std::string output = session.programs() + "/stall-" + scenario + ".txt";
  // A Wayland client as the program is, except across a restart of the
  // compositor, which would end the client's display connection.
  std::vector<std::string> environment{scenario == "restart" ? "QT_QPA_PLATFORM=offscreen"
                                                             : "QT_QPA_PLATFORM=wayland"};
  environment.insert(environment.end(), extra.begin(), extra.end());
  pid_t pid = session.spawn({session.install(self), "--stall", scenario}, environment, output, -1, asRoot);
  if (scenario == "restart") {
    if (childprocess::waitFor([&] { return TempDir::read(output).find("restart now") != std::string::npos; },
                              120000)) {
      session.restart();
    }
  }
  std::optional<int> status = childprocess::waitExit(pid, 300000);
  session.forget(pid);
  std::istringstream lines(TempDir::read(output));
  for (std::string line; std::getline(lines, line);) {
    if (line != "restart now") std::printf("%s\n", line.c_str());
  }
  if (status != 0) std::printf("  (the %s measurement failed)\n", scenario.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--inside") return inside(argc, argv);
  if (argc > 2 && std::string(argv[1]) == "--stall") return stallInside(argc, argv, argv[2]);
  std::vector<Desktop> desktops;
  for (int i = 1; i < argc; ++i) {
    for (Desktop d : DesktopSession::matrix()) {
      if (argv[i] == std::string(DesktopSession::name(d))) desktops.push_back(d);
    }
  }
  if (desktops.empty()) desktops = DesktopSession::matrix();
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  for (Desktop desktop : desktops) {
    std::printf("%s\n", DesktopSession::name(desktop));
    std::fflush(stdout);
    DesktopSession session(desktop);
    if (wanted("close")) medianCloseLatencyMs(session, 20);
    std::fflush(stdout);
    if (wanted("stall")) {
      if (session.isKWin()) {
        runStall(session, self, "connect");
        runStall(session, self, "restart");
        // The script cannot be read there: the window search stands in.
        const std::string hidden = session.programs() + "/private-runtime";
        const std::string display = session.variable("XDG_RUNTIME_DIR") + "/" + session.variable("WAYLAND_DISPLAY");
        runStall(session, self, "search", {"XDG_RUNTIME_DIR=" + hidden, "WAYLAND_DISPLAY=" + display},
                 session.privateFolder(hidden));
      } else {
        runStall(session, self, "connect");
        DesktopSession::Setup setup;
        setup.extensionEnabled = false;
        DesktopSession off(desktop, setup);
        runStall(off, self, "switch-on");
      }
    }
    if (!wanted("churn") && !wanted("xchurn") && !wanted("idle")) continue;
    const std::string output = session.programs() + "/inside.txt";
    std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen",
                                         "CHURN_WINDOWS=" + session.install(MORVANE_CHURN_WINDOWS)};
    for (const char* name : {"MORVANE_BENCH_ONLY", "MORVANE_BENCH_NATIVE", "MORVANE_BENCH_CHURN", "GLIBC_TUNABLES"}) {
      if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    }
    // Each thread's malloc cache keeps freed blocks that count as in use,
    // filling up over the first thousands of windows: without it the heap
    // figures show what the program holds.
    if (std::getenv("GLIBC_TUNABLES") == nullptr) environment.push_back("GLIBC_TUNABLES=glibc.malloc.tcache_count=0");
    pid_t pid = session.spawn({session.install(self), "--inside"}, environment, output);
    std::optional<int> status = childprocess::waitExit(pid, 1800000);
    session.forget(pid);
    std::fputs(TempDir::read(output).c_str(), stdout);
    if (status != 0) std::printf("  (the measurement inside the session failed)\n");
    std::fflush(stdout);
  }
  return 0;
}
