// The real program on headless sway, natively on Qt's Wayland platform, with
// a demo connection whose status window (morvane-demo-window) is a native
// Wayland window. A headless compositor has no input devices: the click comes from a
// virtual pointer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/WaylandWindowSource.h"
#include "tests/program/StatusWindowTimeline.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaylandTestCompositor.h"

namespace {

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One installation of the program with the demo beside it, in a temporary
// directory, started on a compositor.
class WaylandProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path build = std::filesystem::path(MORVANE_PROGRAM).parent_path();
    for (const char* name : {"morvane", "morvane-demo-window"}) {
      std::filesystem::copy_file(build / name, dir_.file(name));
    }
    dir_.write("debug.properties", "net-log.debug.tracefile = net.log\n");
  }

  void start(WaylandTestCompositor& compositor, const std::string& qtPlatform) {
    // Full stacks for leak reports, so that the suppression of the Qt Wayland
    // plugin's leaks can see the plugin behind libwayland's frames.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") + "fast_unwind_on_malloc=0";
    // The program finds its configuration beside itself and in its folder.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    pid_ = compositor.spawn({dir_.file("morvane")},
                            {"QT_QPA_PLATFORM=" + qtPlatform, "QT_WAYLAND_DISABLE_WINDOWDECORATION=1",
                             asanOptions},
                            dir_.file("output.txt"));
    std::filesystem::current_path(cwd);
  }

  // The exit status, or -1 when the program still runs after a minute.
  int waitExit(WaylandTestCompositor& compositor) {
    std::optional<int> status = childprocess::waitExit(pid_, 60000);
    if (!status) return -1;
    compositor.forget(pid_);  // reaped already: no signal to a pid that may be reused
    return *status;
  }

  // Presses "Verbinden" (at 8, 40 with a size of 121 x 25 in the window).
  void clickConnect(WaylandTestCompositor& compositor) {
    ASSERT_TRUE(compositor.clickInWindow("Morvane", 60, 52)) << output();
  }

  std::string output() { return TempDir::read(dir_.file("output.txt")); }
  std::string netLog() { return TempDir::read(dir_.file("net.log")); }

  TempDir dir_;
  pid_t pid_ = -1;
};

TEST_F(WaylandProgramTest, DemoConnectionWithANativeStatusWindowOpensAndCloses) {
  WaylandTestCompositor sway(WaylandTestCompositor::Kind::Sway);
  dir_.write("morvane.properties", "interval = 1\nnames = demo\ndemo = " + dir_.file("morvane-demo-window") +
                                       " 'Morvane Demo Connection' 3\nwindow = Morvane Demo Connection\n");
  start(sway, "wayland");
  std::unique_ptr<WaylandWindowSource> windows = WaylandWindowSource::connect(sway.socket());
  ASSERT_NE(windows, nullptr);
  clickConnect(sway);
  // The caption, which the task bar shows, names the connection on Wayland too.
  bool captioned = childprocess::waitFor(
      [&] {
        bool found = false;
        windows->enumWindows(
            256,
            [](uint32_t, std::string_view title, uintptr_t value) {
              *reinterpret_cast<bool*>(value) = title == "Morvane: [Verbunden mit demo]";
              return !*reinterpret_cast<bool*>(value);
            },
            reinterpret_cast<uintptr_t>(&found));
        return found;
      },
      20000);
  EXPECT_TRUE(captioned);

  EXPECT_EQ(waitExit(sway), 0) << output();
  std::string log = netLog();
  EXPECT_EQ(countOf(log, "net-log: open connection @demo\r\n"), 1u) << log << output();
  EXPECT_EQ(countOf(log, "net-log: close connection @demo\r\n"), 1u) << log;
  EXPECT_EQ(output().find("only X11 windows"), std::string::npos) << "sway lists its windows: no notice";
}

// The status windows are XWayland windows of the test, listed by sway like
// every other.
TEST_F(WaylandProgramTest, TheStatusWindowIsFollowedBetweenTheTicks) {
  WaylandTestCompositor sway(WaylandTestCompositor::Kind::Sway);
  dir_.write("morvane.properties", "interval = 5\nnames = demo\ndemo = /bin/true\nwindow = Toplevel 0\n");
  std::vector<std::vector<uint32_t>> windows;
  StatusWindowTimeline timeline{
      dir_.file("net.log"),
      [&] {
        start(sway, "wayland");
        clickConnect(sway);
      },
      [&] { windows.push_back(sway.openXWaylandWindows(1)); },
      [&] {
        sway.closeXWaylandWindows(windows.back());
        windows.pop_back();
      },
      [&] { sway.kill(pid_); },
      [&] { return waitExit(sway); },
      [&] { return std::unique_ptr<WindowSource>(WaylandWindowSource::connect(sway.socket())); },
      "Toplevel 0"};
  timeline.run();
}

}  // namespace
