// The window title watcher in Wayland sessions: on headless sway through the
// compositor's toplevel list, on weston (no list) through XWayland with a
// notice.

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

#include "basis/TStringCollection.h"
#include "tests/main/TitleLists.h"
#include "main/TWindowsIterator.h"
#include "platform/windows/WaylandWindowSource.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WaylandTestCompositor.h"
#include "tests/support/X11TestDisplay.h"

namespace {

// Polls a fresh iterator until it finds a window (or gives up after 20 s).
bool eventuallyFound(TWindowsIterator& iterator) {
  return childprocess::waitFor([&] { return iterator.findWindow(); }, 20000);
}

class SwayWindowsIteratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
    ::unsetenv("DISPLAY");
    probe = WaylandWindowSource::connect(sway.socket());
    ASSERT_NE(probe, nullptr);
  }

  // Gives the native window `title` and waits until the compositor lists it,
  // so that an iterator made afterwards sees it at once.
  void retitle(const std::string& title) {
    sway.setTitle(window, title);
    bool listed = childprocess::waitFor(
        [&] {
          struct Wanted {
            const std::string* title;
            bool found = false;
          } wanted{&title};
          probe->enumWindows(
              1024,
              [](uint32_t, std::string_view t, uintptr_t value) {
                auto* w = reinterpret_cast<Wanted*>(value);
                w->found = t == *w->title;
                return !w->found;
              },
              reinterpret_cast<uintptr_t>(&wanted));
          return wanted.found;
        },
        20000);
    ASSERT_TRUE(listed) << title;
  }

  WaylandTestCompositor sway{WaylandTestCompositor::Kind::Sway};
  std::unique_ptr<WaylandWindowSource> probe;
  WaylandTestCompositor::NativeWindow window = sway.openNativeWindow("starting");
};

TEST_F(SwayWindowsIteratorTest, MatchesNativeWindowsByTheSameRulesAsOnX11) {
  retitle("DIAL-UP NETWORKING");
  EXPECT_TRUE(matches({"Dial", "Connection"})) << "prefix over the shortest entry, any case";
  EXPECT_FALSE(matches({"Dial-up Networking window"})) << "longer than the window's title";
  retitle("Connection");
  EXPECT_FALSE(matches({"Dial", "Connection"})) << "only 'Conn' is read";
  EXPECT_TRUE(matches({"connect", "CONNECTION"}));
  retitle("\t\x01Status\r");
  EXPECT_TRUE(matches({"\x02STATUS \x1F  \n"})) << "trimmed of codes 0 to 32 on both sides";
  retitle("  ABC");
  EXPECT_FALSE(matches({"abc"})) << "'  A' trims to 'a'";
  retitle("\xC3\xBC" "ber");
  EXPECT_FALSE(matches({"\xC3\x9C"})) << "only A-Z fold";
  EXPECT_TRUE(matches({"\xC3\xBC"}));
}

TEST_F(SwayWindowsIteratorTest, SeenStaysAfterTheNativeWindowCloses) {
  retitle("Morvane Demo Connection");
  auto titles = list({"morvane demo"});
  TWindowsIterator iterator(titles.get(), 0);
  EXPECT_EQ(iterator.notice(), "") << "the compositor lists every window";
  EXPECT_TRUE(iterator.findWindow());
  sway.close(window);
  EXPECT_TRUE(childprocess::waitFor([&] { return !iterator.findWindow(); }, 20000));
  EXPECT_TRUE(iterator.seen);
}

TEST(WestonWindowsIteratorTest, WatchesXWaylandWindowsAndSaysSo) {
  WaylandTestCompositor weston(WaylandTestCompositor::Kind::Weston);
  ::setenv("WAYLAND_DISPLAY", weston.socket().c_str(), 1);
  ::setenv("DISPLAY", weston.xDisplay().c_str(), 1);
  auto titles = list({"Dial-up"});
  TWindowsIterator iterator(titles.get(), 0);
  EXPECT_NE(iterator.notice().find("This desktop lets programs see only X11 windows"), std::string::npos)
      << iterator.notice();
  pid_t status = weston.spawn({"xmessage", "-title", "Dial-up status", "connected"});
  EXPECT_TRUE(eventuallyFound(iterator)) << "an XWayland status window is seen";
  weston.kill(status);
  EXPECT_TRUE(childprocess::waitFor([&] { return !iterator.findWindow(); }, 20000));
  EXPECT_TRUE(iterator.seen);
}

TEST(UnreachableWaylandTest, FallsBackToX11WithoutANotice) {
  X11TestDisplay display;
  ::setenv("WAYLAND_DISPLAY", "/nonexistent/wayland-9", 1);
  ::setenv("DISPLAY", display.name().c_str(), 1);
  display.createTitled("Dial-up status");
  auto titles = list({"dial"});
  TWindowsIterator iterator(titles.get(), 0);
  EXPECT_EQ(iterator.notice(), "");
  EXPECT_TRUE(iterator.findWindow());
  ::unsetenv("WAYLAND_DISPLAY");
}

}  // namespace
