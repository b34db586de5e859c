// The real program on headless KDE Plasma (KWin 5.27, 6.3, 6.7) and GNOME
// (Shell 43, 48, 50, 51) sessions, natively on Qt's Wayland platform, as a
// user of the desktop runs it: "Verbinden" is pressed through the
// accessibility bus (a headless compositor has no input devices), the demo
// connection's status window is a native Wayland window, and the program
// logs its open and close and ends. On the X11 sessions of Plasma and GNOME
// the same runs on X11 and through the X11 source.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowSourceProbe.h"

namespace {

using Desktop = DesktopSession::Desktop;

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string nameOf(const ::testing::TestParamInfo<Desktop>& info) {
  std::string name = DesktopSession::name(info.param);
  std::erase(name, '-');
  return name;
}

// The program installed in the session's folder with its configuration
// beside it, connected through "Verbinden" to `target`; returns its exit
// status (-1 when it still runs after a minute).
class DesktopProgram {
 public:
  DesktopProgram(DesktopSession& session, const std::string& target, int interval = 1) : session_(session) {
    folder_ = session.programs();
    std::ofstream(folder_ + "/morvane.properties") << "interval = " << interval << "\nnames = demo\ndemo = " << target
                                                   << "\nwindow = Morvane Demo Connection\n";
    std::ofstream(folder_ + "/debug.properties") << "net-log.debug.tracefile = net.log\n";
    const char* asan = std::getenv("ASAN_OPTIONS");
    pid_ = session.spawn(
        {"env", "-C", folder_, session.install(MORVANE_PROGRAM)},
        {session.isX11() ? "QT_QPA_PLATFORM=xcb" : "QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
         // Full stacks, so that the leak suppressions see the Qt plugins behind libwayland.
         std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") + "fast_unwind_on_malloc=0",
         "LSAN_OPTIONS=suppressions=" + session.install(MORVANE_LSAN_SUPPRESSIONS) + ":print_suppressions=0"},
        folder_ + "/output.txt");
  }

  std::string pressConnect() {
    return session_.run(
        {"/usr/bin/python3", session_.install(MORVANE_PRESS_BUTTON), std::to_string(pid_), "Verbinden"});
  }

  int exitStatus() {
    std::optional<int> status = childprocess::waitExit(pid_, 60000);
    if (!status) return -1;
    session_.forget(pid_);
    return *status;
  }

  std::string output() const { return TempDir::read(folder_ + "/output.txt"); }
  std::string netLog() const { return TempDir::read(folder_ + "/net.log"); }

  // When `line` first showed in the connection log (looked at every 5 ms).
  std::optional<std::chrono::steady_clock::time_point> waitForLog(const std::string& line) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (netLog().find(line) != std::string::npos) return std::chrono::steady_clock::now();
    }
    return std::nullopt;
  }

 private:
  DesktopSession& session_;
  std::string folder_;
  pid_t pid_ = -1;
};

class DesktopProgramTest : public ::testing::TestWithParam<Desktop> {};

// With interval = 5 the status window closes between the first two ticks,
// 2.5 s after connecting: the desktop's report of it makes the program log
// the end at once, within 400 ms.
TEST_P(DesktopProgramTest, DemoConnectionWithANativeStatusWindowOpensAndCloses) {
  using namespace std::chrono_literals;
  DesktopSession session(GetParam());
  const std::string pidFile = session.programs() + "/status.pid";
  DesktopProgram program(session,
                         "sh -c 'echo $$ >\"$0\" && exec \"$1\" \"Morvane Demo Connection\" 0' '" + pidFile + "' '" +
                             session.install(MORVANE_DEMO_WINDOW) + "'",
                         5);
  WindowSourceProbe probe(session);
  EXPECT_EQ(probe.source(), session.isX11() ? "x11" : session.isKWin() ? "kwin-script" : "gnome");
  EXPECT_EQ(probe.notice(), "");
  EXPECT_EQ(program.pressConnect(), "pressed\n");
  const std::optional<std::chrono::steady_clock::time_point> connected = program.waitForLog("open connection @demo");
  ASSERT_TRUE(connected.has_value()) << program.output();
  ASSERT_TRUE(probe.waitForCount("Morvane Demo Connection", 1)) << probe.output() << program.output();
  std::this_thread::sleep_until(std::max(*connected + 2500ms, std::chrono::steady_clock::now() + 300ms));
  const auto gone = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(std::stoi(TempDir::read(pidFile)), SIGTERM), 0);
  const std::optional<std::chrono::steady_clock::time_point> closed = program.waitForLog("close connection @demo");
  ASSERT_TRUE(closed.has_value()) << program.netLog() << program.output();
  EXPECT_LT(*closed - gone, 400ms) << "logged after "
                                   << std::chrono::duration_cast<std::chrono::milliseconds>(*closed - gone).count()
                                   << " ms";
  EXPECT_EQ(program.exitStatus(), 0) << program.output();
  const std::string log = program.netLog();
  EXPECT_EQ(countOf(log, "net-log: open connection @demo\r\n"), 1u) << log << program.output();
  EXPECT_EQ(countOf(log, "net-log: close connection @demo\r\n"), 1u) << log;
  EXPECT_EQ(program.output().find("NOTICE"), std::string::npos) << "the desktop's own source sees every window";
}

std::vector<Desktop> waylandAndX11() {
  std::vector<Desktop> desktops = DesktopSession::matrix();
  desktops.push_back(Desktop::KWin5X11);
  desktops.push_back(Desktop::Gnome43X11);
  return desktops;
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopProgramTest, ::testing::ValuesIn(waylandAndX11()), nameOf);

class GnomeWithoutExtensionTest : public ::testing::TestWithParam<Desktop> {};

// Without Morvane's extension the program tells why native windows stay
// unseen, as a notice (no error), and still sees an XWayland status window.
TEST_P(GnomeWithoutExtensionTest, TellsANoticeAndWatchesXWayland) {
  DesktopSession::Setup setup;
  setup.extensionInstalled = false;
  DesktopSession session(GetParam(), setup);
  DesktopProgram program(session, "xmessage -title 'Morvane Demo Connection' -timeout 4 status");
  EXPECT_EQ(program.pressConnect(), "pressed\n");
  EXPECT_EQ(program.exitStatus(), 0) << program.output();
  EXPECT_EQ(countOf(program.netLog(), "net-log: close connection @demo\r\n"), 1u) << program.output();
  const std::string output = program.output();
  EXPECT_NE(output.find("morvane: NOTICE: GNOME Shell shows its windows to Morvane only through"), std::string::npos)
      << output;
  EXPECT_NE(output.find("It is not installed"), std::string::npos) << output;
  EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Desktops, GnomeWithoutExtensionTest, ::testing::ValuesIn(DesktopSession::gnomes()), nameOf);

}  // namespace
