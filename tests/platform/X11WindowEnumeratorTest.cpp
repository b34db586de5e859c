// The enumeration of top-level windows on a private Xvfb with real windows.

#include "platform/X11WindowEnumerator.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "basis/Exceptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/X11TestDisplay.h"

namespace {

struct Seen {
  uint32_t window;
  std::string title;
};

struct Collector {
  std::vector<Seen> windows;
  size_t stopAfter = SIZE_MAX;

  static bool callback(uint32_t window, std::string_view title, uintptr_t value) {
    auto* self = reinterpret_cast<Collector*>(value);
    self->windows.push_back({window, std::string(title)});
    return self->windows.size() < self->stopAfter;
  }
};

std::vector<Seen> poll(X11WindowEnumerator& windows, int32_t maxBytes = 256) {
  Collector collector;
  windows.enumWindows(maxBytes, &Collector::callback, reinterpret_cast<uintptr_t>(&collector));
  return collector.windows;
}

const Seen* find(const std::vector<Seen>& list, uint32_t window) {
  for (const Seen& s : list) {
    if (s.window == window) return &s;
  }
  return nullptr;
}

std::vector<uint32_t> ids(const std::vector<Seen>& list) {
  std::vector<uint32_t> result;
  for (const Seen& s : list) result.push_back(s.window);
  return result;
}

class X11WindowEnumeratorTest : public ::testing::Test {
 protected:
  X11TestDisplay display;
  X11WindowEnumerator windows{display.name()};
};

TEST_F(X11WindowEnumeratorTest, ListsEveryTopLevelWindowTopOfTheStackFirst) {
  uint32_t a = display.createTitled("a");
  uint32_t hidden = display.createTitled("hidden", false);
  X11TestDisplay::WindowSpec popup;
  popup.wmName = "popup";
  popup.overrideRedirect = true;
  uint32_t menu = display.createWindow(popup);
  X11TestDisplay::WindowSpec inner;
  inner.wmName = "inner";
  inner.parent = a;
  uint32_t child = display.createWindow(inner);

  EXPECT_EQ(ids(poll(windows)), (std::vector<uint32_t>{menu, hidden, a}))
      << "unmapped and override-redirect windows count, subwindows do not";

  uint32_t raise[] = {XCB_STACK_MODE_ABOVE};
  xcb_configure_window(display.connection(), a, XCB_CONFIG_WINDOW_STACK_MODE, raise);
  display.sync();
  EXPECT_EQ(ids(poll(windows)), (std::vector<uint32_t>{a, menu, hidden}));
  EXPECT_EQ(find(poll(windows), child), nullptr);
}

TEST_F(X11WindowEnumeratorTest, ReadsNetWmNameBeforeWmNameAndCutsTitles) {
  X11TestDisplay::WindowSpec settings;
  settings.netWmName = "Verbindung \xC3\x9C";
  uint32_t netOnly = display.createWindow(settings);
  settings = {};
  settings.wmName = "Legacy";
  uint32_t nameOnly = display.createWindow(settings);
  settings = {};
  settings.netWmName = "utf8 name";
  settings.wmName = "latin1 name";
  uint32_t both = display.createWindow(settings);
  settings = {};
  settings.wmName = "\xDC" "ber";  // Latin-1
  uint32_t latin1 = display.createWindow(settings);
  uint32_t untitled = display.createWindow({});

  std::vector<Seen> all = poll(windows);
  EXPECT_EQ(find(all, netOnly)->title, "Verbindung \xC3\x9C");
  EXPECT_EQ(find(all, nameOnly)->title, "Legacy");
  EXPECT_EQ(find(all, both)->title, "utf8 name");
  EXPECT_EQ(find(all, latin1)->title, "\xC3\x9C" "ber") << "Latin-1 WM_NAME arrives as UTF-8";
  EXPECT_EQ(find(all, untitled)->title, "");

  std::vector<Seen> cut = poll(windows, 5);
  EXPECT_EQ(find(cut, netOnly)->title, "Verbi");
  EXPECT_EQ(find(cut, nameOnly)->title, "Legac");
  EXPECT_EQ(find(cut, latin1)->title, "\xC3\x9C" "ber");
  EXPECT_EQ(find(poll(windows, 1), latin1)->title, "\xC3") << "cut byte-wise after conversion";
  EXPECT_EQ(find(poll(windows, 0), both)->title, "");
  EXPECT_EQ(find(poll(windows, -3), both)->title, "");
}

TEST_F(X11WindowEnumeratorTest, StopsWhenTheCallbackSaysSoAndPassesTheValue) {
  for (int i = 0; i < 5; ++i) display.createTitled("w" + std::to_string(i));
  Collector collector;
  collector.stopAfter = 2;
  int32_t calls = windows.enumWindows(10, &Collector::callback, reinterpret_cast<uintptr_t>(&collector));
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(collector.windows.size(), 2u);
  EXPECT_EQ(collector.windows[0].title, "w4");
  EXPECT_EQ(collector.windows[1].title, "w3");
}

TEST_F(X11WindowEnumeratorTest, SkipsWindowsDestroyedBetweenAndDuringPolls) {
  uint32_t gone = display.createTitled("gone");
  uint32_t stays = display.createTitled("stays");
  display.destroyWindow(gone);
  EXPECT_EQ(ids(poll(windows)), std::vector<uint32_t>{stays});

  // A second client creates and destroys windows as fast as it can while
  // polls run: no poll may fail, and every window reported must carry its
  // own title.
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    xcb_connection_t* c = xcb_connect(display.name().c_str(), nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    while (!stop) {
      std::vector<xcb_window_t> batch;
      for (int i = 0; i < 50; ++i) {
        xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 5, "churn");
        batch.push_back(w);
      }
      for (xcb_window_t w : batch) xcb_destroy_window(c, w);
      xcb_flush(c);
    }
    xcb_disconnect(c);
  });
  std::string failure;
  for (int i = 0; i < 100 && failure.empty(); ++i) {
    try {
      for (const Seen& s : poll(windows)) {
        // A churned window may be caught between its creation and its title.
        bool own = s.window == stays ? s.title == "stays" : s.title == "churn" || s.title.empty();
        if (!own) failure = "wrong title '" + s.title + "'";
      }
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  stop = true;
  churn.join();
  EXPECT_EQ(failure, "");
}

TEST(X11WindowEnumeratorConnectionTest, FailsClearlyWithoutADisplay) {
  const char* saved = std::getenv("DISPLAY");
  std::string restore = saved != nullptr ? saved : "";
  ::unsetenv("DISPLAY");
  try {
    X11WindowEnumerator windows;
    FAIL() << "connected without a display";
  } catch (const IOException& e) {
    EXPECT_STREQ(e.what(), "X11WindowEnumerator.<init>: No X display: DISPLAY is not set.");
  }
  ::setenv("DISPLAY", ":64999", 1);
  try {
    X11WindowEnumerator windows;
    FAIL() << "connected to a display nobody serves";
  } catch (const IOException& e) {
    EXPECT_STREQ(e.what(), "X11WindowEnumerator.<init>: Cannot connect to the X display \":64999\".");
  }
  if (saved != nullptr) {
    ::setenv("DISPLAY", restore.c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}

TEST(X11WindowEnumeratorConnectionTest, ReportsALostServer) {
  auto display = std::make_unique<X11TestDisplay>();
  X11WindowEnumerator windows(display->name());
  std::string name = display->name();
  display.reset();
  try {
    poll(windows);
    FAIL() << "a poll of a stopped server succeeded";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "X11WindowEnumerator.enumWindows: Connection to the X display \"" + name + "\" is broken.");
  }
}

TEST_F(X11WindowEnumeratorTest, TakesTheClientTitleInsideFramesOfAWindowManager) {
  display.startWindowManager();
  uint32_t first = display.createTitled("first client");
  X11TestDisplay::WindowSpec settings;
  settings.netWmName = "second client";
  uint32_t second = display.createWindow(settings);
  uint32_t unmanaged = display.createTitled("never mapped", false);
  ASSERT_TRUE(display.waitManaged(first));
  ASSERT_TRUE(display.waitManaged(second));

  // openbox frames a client before it adds it to its client list; until then
  // the frame counts as a window of its own, without a title.
  std::vector<Seen> all;
  std::vector<std::string> titles;
  childprocess::waitFor(
      [&] {
        all = poll(windows);
        titles.clear();
        for (const Seen& s : all) {
          if (!s.title.empty() && s.title != "Openbox") titles.push_back(s.title);
        }
        return titles.size() == 3;
      },
      5000);
  for (const Seen& s : all) EXPECT_NE(s.window, first) << "the client sits inside a frame";
  EXPECT_EQ(titles, (std::vector<std::string>{"never mapped", "second client", "first client"}))
      << "frames in stacking order, each with its client's title";
  EXPECT_NE(find(all, unmanaged), nullptr);
}

// The three ways a poll finds the client windows, each on frames made by the
// test itself: no manager (nobody owns WM_S0), a manager without the EWMH
// client list (WM_STATE search), and one with it.
enum class Manager { kNone, kWithoutList, kWithList };

class FramedWindowsTest : public ::testing::TestWithParam<Manager> {
 protected:
  uint32_t framedClient(uint32_t frame, const char* title) {
    X11TestDisplay::WindowSpec settings;
    settings.netWmName = title;
    settings.parent = frame;
    uint32_t client = display.createWindow(settings);
    uint32_t state[] = {1, 0};  // NormalState, no icon
    uint32_t atom = display.atom("WM_STATE");
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, client, atom, atom, 32, 2, state);
    display.sync();
    return client;
  }

  X11TestDisplay display;
};

TEST_P(FramedWindowsTest, ReportsEachFrameWithItsClientsTitle) {
  const Manager manager = GetParam();
  if (manager != Manager::kNone) {
    uint32_t owner = display.createWindow({.mapped = false});
    xcb_set_selection_owner(display.connection(), owner, display.atom("WM_S0"), XCB_CURRENT_TIME);
  }
  // A frame with decorations (one of them titled) and the client wrapped
  // one level deeper; a frame with its client directly inside; an
  // unmanaged popup with a title of its own.
  X11TestDisplay::WindowSpec frameSpec;
  if (manager != Manager::kNone) frameSpec.wmName = "Frame title";
  uint32_t frame = display.createWindow(frameSpec);
  display.createWindow({.wmName = "Decoration", .parent = frame});
  display.createWindow({.parent = frame});
  uint32_t wrapper = display.createWindow({.parent = frame});
  uint32_t wrapped = framedClient(wrapper, "Wrapped client");
  uint32_t direct = framedClient(display.createWindow(frameSpec), "Direct client");
  uint32_t popup = display.createWindow({.wmName = "Popup", .overrideRedirect = true});
  if (manager == Manager::kWithList) {
    uint32_t list[] = {wrapped, direct};
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, display.root(),
                        display.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32, 2, list);
    display.sync();
  }

  X11WindowEnumerator windows(display.name());
  std::vector<Seen> all = poll(windows);
  std::vector<std::string> titles;
  for (const Seen& s : all) titles.push_back(s.title);
  std::vector<std::string> expected{"Popup", "Direct client", "Wrapped client"};
  if (manager != Manager::kNone) expected.push_back("");  // the manager's selection window
  EXPECT_EQ(titles, expected);
  EXPECT_EQ(all.front().window, popup);
  EXPECT_EQ(all[2].window, frame) << "the frame is reported, not the client";
  EXPECT_EQ(find(poll(windows, 6), frame)->title, "Wrappe");
}

INSTANTIATE_TEST_SUITE_P(Managers, FramedWindowsTest,
                         ::testing::Values(Manager::kNone, Manager::kWithoutList, Manager::kWithList));

}  // namespace
