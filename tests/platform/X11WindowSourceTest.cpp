// The enumeration of top-level windows on a private Xvfb with real windows.

#include "platform/windows/X11WindowSource.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
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
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& seen, std::ostream* out) { *out << seen.window << " '" << seen.title << "'"; }

struct Collector {
  std::vector<Seen> windows;
  size_t stopAfter = SIZE_MAX;

  static bool callback(uint32_t window, std::string_view title, uintptr_t value) {
    auto* self = reinterpret_cast<Collector*>(value);
    self->windows.push_back({window, std::string(title)});
    return self->windows.size() < self->stopAfter;
  }
};

// A poll that sees every change the test made before it.
std::vector<Seen> poll(X11WindowSource& windows, int32_t maxBytes = 256) {
  windows.sync();
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

class X11WindowSourceTest : public ::testing::Test {
 protected:
  X11TestDisplay display;
  X11WindowSource windows{display.name()};
};

TEST_F(X11WindowSourceTest, ListsEveryTopLevelWindowTopOfTheStackFirst) {
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

TEST_F(X11WindowSourceTest, ReadsNetWmNameBeforeWmNameAndCutsTitles) {
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

TEST_F(X11WindowSourceTest, StopsWhenTheCallbackSaysSoAndPassesTheValue) {
  for (int i = 0; i < 5; ++i) display.createTitled("w" + std::to_string(i));
  Collector collector;
  collector.stopAfter = 2;
  windows.sync();
  int32_t calls = windows.enumWindows(10, &Collector::callback, reinterpret_cast<uintptr_t>(&collector));
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(collector.windows.size(), 2u);
  EXPECT_EQ(collector.windows[0].title, "w4");
  EXPECT_EQ(collector.windows[1].title, "w3");
}

TEST_F(X11WindowSourceTest, SkipsWindowsDestroyedBetweenAndDuringPolls) {
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
      Collector collector;  // no sync: the churn never pauses for one
      windows.enumWindows(256, &Collector::callback, reinterpret_cast<uintptr_t>(&collector));
      for (const Seen& s : collector.windows) {
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

TEST(X11WindowSourceConnectionTest, FailsClearlyWithoutADisplay) {
  const char* saved = std::getenv("DISPLAY");
  std::string restore = saved != nullptr ? saved : "";
  ::unsetenv("DISPLAY");
  try {
    X11WindowSource windows;
    FAIL() << "connected without a display";
  } catch (const IOException& e) {
    EXPECT_STREQ(e.what(), "X11WindowEnumerator.<init>: No X display: DISPLAY is not set.");
  }
  ::setenv("DISPLAY", ":64999", 1);
  try {
    X11WindowSource windows;
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

TEST(X11WindowSourceConnectionTest, ReportsALostServer) {
  auto display = std::make_unique<X11TestDisplay>();
  X11WindowSource windows(display->name());
  std::string name = display->name();
  display.reset();
  try {
    Collector collector;
    windows.enumWindows(256, &Collector::callback, reinterpret_cast<uintptr_t>(&collector));
    FAIL() << "a poll of a stopped server succeeded";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "X11WindowEnumerator.enumWindows: Connection to the X display \"" + name + "\" is broken.");
  }
}

TEST_F(X11WindowSourceTest, TakesTheClientTitleInsideFramesOfAWindowManager) {
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
enum class Manager { NONE, WITHOUT_LIST, WITH_LIST };

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
  if (manager != Manager::NONE) {
    uint32_t owner = display.createWindow({.mapped = false});
    xcb_set_selection_owner(display.connection(), owner, display.atom("WM_S0"), XCB_CURRENT_TIME);
  }
  // A frame with decorations (one of them titled) and the client wrapped
  // one level deeper; a frame with its client directly inside; an
  // unmanaged popup with a title of its own.
  X11TestDisplay::WindowSpec frameSpec;
  if (manager != Manager::NONE) frameSpec.wmName = "Frame title";
  uint32_t frame = display.createWindow(frameSpec);
  display.createWindow({.wmName = "Decoration", .parent = frame});
  display.createWindow({.parent = frame});
  uint32_t wrapper = display.createWindow({.parent = frame});
  uint32_t wrapped = framedClient(wrapper, "Wrapped client");
  uint32_t direct = framedClient(display.createWindow(frameSpec), "Direct client");
  uint32_t popup = display.createWindow({.wmName = "Popup", .overrideRedirect = true});
  if (manager == Manager::WITH_LIST) {
    uint32_t list[] = {wrapped, direct};
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, display.root(),
                        display.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32, 2, list);
    display.sync();
  }

  X11WindowSource windows(display.name());
  std::vector<Seen> all = poll(windows);
  std::vector<std::string> titles;
  for (const Seen& s : all) titles.push_back(s.title);
  std::vector<std::string> expected{"Popup", "Direct client", "Wrapped client"};
  if (manager != Manager::NONE) expected.push_back("");  // the manager's selection window
  EXPECT_EQ(titles, expected);
  EXPECT_EQ(all.front().window, popup);
  EXPECT_EQ(all[2].window, frame) << "the frame is reported, not the client";
  EXPECT_EQ(find(poll(windows, 6), frame)->title, "Wrappe");
}

INSTANTIATE_TEST_SUITE_P(Managers, FramedWindowsTest,
                         ::testing::Values(Manager::NONE, Manager::WITHOUT_LIST, Manager::WITH_LIST));


// ---- the live list against a fresh listing, under churn

// The rules of X11WindowSource.h asked of the server directly, one
// request at a time: the reference a live list must agree with.
class FreshListing {
 public:
  explicit FreshListing(X11TestDisplay& display) : display_(display), c_(display.connection()) {}

  std::vector<Seen> operator()() {
    const std::vector<uint32_t> tops = tree(display_.root())->second;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, display_.atom("WM_S0")), nullptr);
    const bool managed = owner != nullptr && owner->owner != XCB_NONE;
    std::free(owner);
    std::optional<std::vector<uint32_t>> clients;
    if (auto list = property(display_.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 1u << 20);
        managed && list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
      auto* ids = static_cast<const uint32_t*>(xcb_get_property_value(list.get()));
      clients.emplace(ids, ids + xcb_get_property_value_length(list.get()) / 4);
    }
    const std::map<uint32_t, uint32_t> listed = clients ? listedClients(*clients) : std::map<uint32_t, uint32_t>();
    std::vector<Seen> result;
    for (auto top = tops.rbegin(); top != tops.rend(); ++top) {
      uint32_t client = *top;
      if (clients) {
        if (listed.count(*top) != 0) client = listed.at(*top);
      } else if (!(managed ? hasState(*top) : title(*top).has_value())) {
        client = searchClient(*top);
      }
      result.push_back({*top, title(client).value_or("")});
    }
    return result;
  }

  // Windows from the root down to five levels below the top-level ones.
  size_t windowsWithinReach() {
    size_t count = 0;
    std::vector<uint32_t> level = tree(display_.root())->second;
    for (int depth = 0; depth <= 5 && !level.empty(); ++depth) {
      count += level.size();
      std::vector<uint32_t> next;
      for (uint32_t w : level) {
        if (auto t = tree(w)) next.insert(next.end(), t->second.begin(), t->second.end());
      }
      level = std::move(next);
    }
    return count;
  }

 private:
  using Property = std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)>;
  Property property(uint32_t w, const std::string& name, uint32_t type, uint32_t units = 1024) {
    uint32_t atom = name == "WM_NAME" ? uint32_t{XCB_ATOM_WM_NAME} : display_.atom(name);
    return Property(xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom, type, 0, units), nullptr), &std::free);
  }
  // Parent and children, bottom first; nothing when the window is gone.
  std::optional<std::pair<uint32_t, std::vector<uint32_t>>> tree(uint32_t w) {
    xcb_query_tree_reply_t* reply = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
    if (reply == nullptr) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(reply);
    std::pair<uint32_t, std::vector<uint32_t>> result{
        reply->parent, {children, children + xcb_query_tree_children_length(reply)}};
    std::free(reply);
    return result;
  }
  bool hasState(uint32_t w) {
    Property state = property(w, "WM_STATE", display_.atom("WM_STATE"), 0);
    return state && state->type != XCB_ATOM_NONE;
  }
  std::optional<std::string> title(uint32_t w) {
    auto text = [](const Property& p) {
      return std::string(static_cast<const char*>(xcb_get_property_value(p.get())),
                         static_cast<size_t>(xcb_get_property_value_length(p.get())));
    };
    Property net = property(w, "_NET_WM_NAME", display_.atom("UTF8_STRING"));
    if (net && net->type == display_.atom("UTF8_STRING") && net->format == 8) return text(net);
    Property name = property(w, "WM_NAME", XCB_GET_PROPERTY_TYPE_ANY);
    if (!name || name->type == XCB_ATOM_NONE || name->format != 8) return std::nullopt;
    std::string raw = text(name), utf8;
    if (name->type != XCB_ATOM_STRING) return raw;
    for (unsigned char ch : raw) {
      if (ch < 0x80) {
        utf8 += static_cast<char>(ch);
      } else {
        utf8 += static_cast<char>(0xC0 | (ch >> 6));
        utf8 += static_cast<char>(0x80 | (ch & 0x3F));
      }
    }
    return utf8;
  }
  uint32_t searchClient(uint32_t top) {
    std::vector<uint32_t> level = tree(top)->second;
    for (int depth = 1; depth <= 4; ++depth) {
      std::vector<uint32_t> next;
      for (uint32_t w : level) {
        if (hasState(w)) return w;
        if (auto t = tree(w)) next.insert(next.end(), t->second.begin(), t->second.end());
      }
      level = std::move(next);
    }
    return top;
  }
  // For each top-level window the listed client closest below it (up to
  // five levels), the first listed among equally close ones; a client one
  // level down counts as close as the top-level window itself.
  std::map<uint32_t, uint32_t> listedClients(const std::vector<uint32_t>& clients) {
    std::map<uint32_t, std::pair<int, uint32_t>> best;
    for (uint32_t client : clients) {
      int depth = 0;
      uint32_t w = client;
      std::optional<std::pair<uint32_t, std::vector<uint32_t>>> t;
      for (t = tree(w); t && t->first != display_.root() && depth <= 5; t = tree(w)) {
        w = t->first;
        ++depth;
      }
      if (!t || depth > 5) continue;
      auto [it, added] = best.try_emplace(w, std::max(depth, 1), client);
      if (!added && std::max(depth, 1) < it->second.first) it->second = {std::max(depth, 1), client};
    }
    std::map<uint32_t, uint32_t> result;
    for (const auto& [top, claim] : best) result[top] = claim.second;
    return result;
  }

  X11TestDisplay& display_;
  xcb_connection_t* c_;
};

// Windows of the test opened, retitled, nested, marked, moved, restacked and
// closed at random; without a manager the test also takes and drops the
// manager selection and writes the client list itself. Without XFIXES no
// event tells of the selection, and every poll asks for it.
enum class Desktop { NO_MANAGER, NO_MANAGER_NOR_XFIXES, OPENBOX };

class ChurnTest : public ::testing::TestWithParam<Desktop> {
 protected:
  uint32_t pick() {
    auto it = parents_.begin();
    std::advance(it, std::uniform_int_distribution<size_t>(0, parents_.size() - 1)(random_));
    return it->first;
  }
  int chance() { return std::uniform_int_distribution<int>(0, 99)(random_); }
  std::string someTitle() {
    static const char* const titles[] = {"Dial-up status", "\xDC" "ber", "Verbindung", "", "x", "Dial"};
    return titles[chance() % 6];
  }
  bool inside(uint32_t w, uint32_t ancestor) {
    for (; w != 0; w = parents_.count(w) != 0 ? parents_[w] : 0) {
      if (w == ancestor) return true;
    }
    return false;
  }
  void forgetBelow(uint32_t gone) {
    for (auto it = parents_.begin(); it != parents_.end();) {
      it = inside(it->first, gone) ? parents_.erase(it) : std::next(it);
    }
  }
  void setTitle(uint32_t w) {
    const std::string text = someTitle();
    const auto size = static_cast<uint32_t>(text.size());
    switch (chance() % 6) {
      case 0: xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, netWmName_, utf8_, 8, size, text.data()); break;
      case 1: xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, size, text.data()); break;
      case 2: xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, utf8_, 8, size, text.data()); break;
      case 3: xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, netWmName_, XCB_ATOM_STRING, 8, size, text.data()); break;
      case 4: xcb_delete_property(c_, w, chance() % 2 ? netWmName_ : uint32_t{XCB_ATOM_WM_NAME}); break;
      default: xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 32, 1, &w); break;
    }
  }

  void churnOnce(bool managerRunning) {
    const int what = parents_.empty() ? 0 : chance();
    if (what < 22) {
      // A new window, at the top or inside another one (down to seven levels).
      uint32_t parent = parents_.empty() || chance() < 50 ? display.root() : pick();
      xcb_window_t w = xcb_generate_id(c_);
      uint32_t values[] = {chance() < 10 ? 1u : 0u};
      xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 20, 20, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                        XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);
      if (chance() < 70) setTitle(w);
      if (chance() < 80) xcb_map_window(c_, w);
      parents_[w] = parent == display.root() ? 0 : parent;
    } else if (what < 34) {
      uint32_t w = pick();
      xcb_destroy_window(c_, w);
      forgetBelow(w);
    } else if (what < 52) {
      setTitle(pick());
    } else if (what < 62) {
      uint32_t state[] = {1, 0};
      if (chance() < 60) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, pick(), wmState_, wmState_, 32, 2, state);
      } else {
        xcb_delete_property(c_, pick(), wmState_);
      }
    } else if (what < 72) {
      uint32_t w = pick(), parent = chance() < 30 ? display.root() : pick();
      if (parent == display.root() || !inside(parent, w)) {
        xcb_reparent_window(c_, w, parent, 0, 0);
        parents_[w] = parent == display.root() ? 0 : parent;
      }
    } else if (what < 84) {
      uint32_t modes[] = {XCB_STACK_MODE_ABOVE, XCB_STACK_MODE_BELOW};
      xcb_configure_window(c_, pick(), XCB_CONFIG_WINDOW_STACK_MODE, &modes[chance() % 2]);
      if (chance() < 20) xcb_circulate_window(c_, chance() % 2, display.root());
    } else if (what < 92) {
      (chance() < 50 ? xcb_map_window : xcb_unmap_window)(c_, pick());
    } else if (!managerRunning) {
      if (chance() < 50) {
        xcb_set_selection_owner(c_, chance() < 50 ? selectionOwner_ : XCB_NONE, wmSelection_, XCB_CURRENT_TIME);
      } else if (chance() < 70) {
        std::vector<uint32_t> list;
        for (int i = chance() % 4; i > 0; --i) list.push_back(pick());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, display.root(), clientList_, XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(list.size()), list.data());
      } else {
        xcb_delete_property(c_, display.root(), clientList_);
      }
    }
  }

  X11TestDisplay display{GetParam() == Desktop::NO_MANAGER_NOR_XFIXES ? std::vector<std::string>{"-extension", "XFIXES"}
                                                                      : std::vector<std::string>{}};
  xcb_connection_t* c_ = display.connection();
  std::mt19937 random_{GTEST_FLAG_GET(random_seed) + 2024u};
  std::map<uint32_t, uint32_t> parents_;  // the test's windows and where it put them, 0: the root
  uint32_t netWmName_ = display.atom("_NET_WM_NAME"), utf8_ = display.atom("UTF8_STRING");
  uint32_t wmState_ = display.atom("WM_STATE"), wmSelection_ = display.atom("WM_S0");
  uint32_t clientList_ = display.atom("_NET_CLIENT_LIST");
  uint32_t selectionOwner_ = display.createWindow({.mapped = false});
};

TEST_P(ChurnTest, TheLiveListAgreesWithAFreshListingAtEveryPoll) {
  const bool openbox = GetParam() == Desktop::OPENBOX;
  if (openbox) display.startWindowManager();
  X11WindowSource windows(display.name());
  FreshListing fresh(display);
  int compared = 0;
  for (int round = 0; round < 120; ++round) {
    for (int step = chance() % 25; step >= 0; --step) {
      churnOnce(openbox);
      // Now and then a poll amid the churn, which handles what has come.
      if (chance() < 10) windows.enumWindows(0, [](uint32_t, std::string_view, uintptr_t) { return true; }, 0);
    }
    display.sync();
    // The manager may still be framing or releasing windows: compare once
    // two fresh listings around the poll agree.
    const int32_t cut = std::vector<int32_t>{0, 1, 5, 256}[static_cast<size_t>(chance() % 4)];
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::vector<Seen> before = fresh();
      std::vector<Seen> live = poll(windows, cut);
      std::vector<Seen> after = fresh();
      if (before != after) continue;
      for (Seen& s : before) s.title.resize(std::min(s.title.size(), static_cast<size_t>(cut)));
      ASSERT_EQ(live, before) << "round " << round << ", titles cut to " << cut;
      ++compared;
      break;
    }
  }
  EXPECT_EQ(compared, 120) << "the manager never settled";
  // Everything the test made is gone again; the list follows what is left.
  for (auto it = parents_.begin(); it != parents_.end(); it = parents_.begin()) {
    xcb_destroy_window(c_, it->first);
    forgetBelow(it->first);
  }
  display.sync();
  size_t reach = 0;
  bool settled = childprocess::waitFor(
      [&] {
        size_t before = fresh.windowsWithinReach();
        windows.sync();
        reach = fresh.windowsWithinReach();
        return before == reach;
      },
      20000);
  ASSERT_TRUE(settled);
  EXPECT_EQ(windows.trackedCount(), reach) << "the list follows exactly the windows within its reach";
}

std::string desktopName(const ::testing::TestParamInfo<Desktop>& info) {
  static const char* const names[] = {"NoManager", "NoManagerNorXfixes", "Openbox"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Desktops, ChurnTest,
                         ::testing::Values(Desktop::NO_MANAGER, Desktop::NO_MANAGER_NOR_XFIXES, Desktop::OPENBOX),
                         desktopName);

}  // namespace
