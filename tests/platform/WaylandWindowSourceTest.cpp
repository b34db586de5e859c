// The compositor's toplevel list on a private headless sway (which offers
// zwlr_foreign_toplevel_manager_v1) and weston (which offers neither list),
// with native Wayland windows (Qt) and XWayland windows (xmessage, xcb).

#include "platform/WaylandWindowSource.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WaylandTestCompositor.h"

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer's allocator keeps its own count (mallinfo knows nothing of it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

std::vector<std::string> titles(WaylandWindowSource& source, int32_t maxBytes = 256) {
  std::vector<std::string> result;
  source.enumWindows(
      maxBytes,
      [](uint32_t, std::string_view title, uintptr_t value) {
        reinterpret_cast<std::vector<std::string>*>(value)->emplace_back(title);
        return true;
      },
      reinterpret_cast<uintptr_t>(&result));
  return result;
}

bool has(const std::vector<std::string>& list, const std::string& title) {
  return std::find(list.begin(), list.end(), title) != list.end();
}

// Polls until the list fulfils `condition`; the events come when they come.
bool eventually(WaylandWindowSource& source, const std::function<bool(const std::vector<std::string>&)>& condition,
                int timeoutMs = 20000) {
  return childprocess::waitFor([&] { return condition(titles(source)); }, timeoutMs);
}

size_t allocatedBytes() {
#ifdef __SANITIZE_ADDRESS__
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

class WaylandWindowSourceTest : public ::testing::Test {
 protected:
  WaylandTestCompositor sway{WaylandTestCompositor::Kind::Sway};
};

TEST_F(WaylandWindowSourceTest, FollowsNativeAndXWaylandWindowsAndTheirTitles) {
  std::unique_ptr<WaylandWindowSource> source = WaylandWindowSource::connect(sway.socket());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->protocol(), WaylandWindowSource::Protocol::WlrManager);
  EXPECT_TRUE(titles(*source).empty());

  WaylandTestCompositor::NativeWindow native = sway.openNativeWindow("Verbindung \xC3\x9C" "ber Modem");
  pid_t xmessage = sway.spawn({"xmessage", "-title", "Dial-up status", "connected"});
  ASSERT_TRUE(eventually(*source, [](const auto& list) {
    return has(list, "Verbindung \xC3\x9C" "ber Modem") && has(list, "Dial-up status");
  }));

  sway.setTitle(native, "\xE2\x9C\x93 Online");
  ASSERT_TRUE(eventually(*source, [](const auto& list) { return has(list, "\xE2\x9C\x93 Online"); }))
      << "a title changed at run time";
  EXPECT_FALSE(has(titles(*source), "Verbindung \xC3\x9C" "ber Modem"));
  EXPECT_TRUE(has(titles(*source, 4), "\xE2\x9C\x93 ")) << "cut byte-wise, as on X11";
  EXPECT_TRUE(has(titles(*source, 2), "Di"));
  EXPECT_TRUE(has(titles(*source, -1), ""));

  // A new connection sees the same list at once: the compositor sends it on bind.
  std::unique_ptr<WaylandWindowSource> late = WaylandWindowSource::connect(sway.socket());
  std::vector<std::string> now = titles(*late);
  EXPECT_EQ(now.size(), 2u);
  EXPECT_TRUE(has(now, "\xE2\x9C\x93 Online") && has(now, "Dial-up status"));

  sway.kill(xmessage);
  ASSERT_TRUE(eventually(*source, [](const auto& list) { return !has(list, "Dial-up status"); }));
  sway.close(native);
  ASSERT_TRUE(eventually(*source, [](const auto& list) { return list.empty(); }));
  EXPECT_EQ(source->trackedCount(), 0u) << "closed toplevels are released";
}

TEST_F(WaylandWindowSourceTest, ABrokenConnectionFailsThePoll) {
  std::unique_ptr<WaylandWindowSource> source = WaylandWindowSource::connect(sway.socket());
  ASSERT_NE(source, nullptr);
  sway.terminate();
  try {
    childprocess::waitFor([&] { return titles(*source).size() > 1000; }, 5000);  // until it throws
    FAIL() << "a poll without a compositor succeeded";
  } catch (const IOException& e) {
    EXPECT_NE(std::string(e.what()).find("is no longer connected"), std::string::npos) << e.what();
  }
  EXPECT_THROW(WaylandWindowSource::connect(sway.socket()), IOException);
  ::unsetenv("WAYLAND_DISPLAY");
  EXPECT_THROW(WaylandWindowSource::connect(), IOException);
}

// 10,000 toplevels come and go (XWayland windows, made in batches by one X
// client); afterwards the list and the heap are where they were.
TEST_F(WaylandWindowSourceTest, TenThousandToplevelsOpenedAndClosedLeaveNothingBehind) {
  std::unique_ptr<WaylandWindowSource> source = WaylandWindowSource::connect(sway.socket());
  ASSERT_NE(source, nullptr);
  xcb_connection_t* x = xcb_connect(sway.xDisplay().c_str(), nullptr);
  ASSERT_EQ(xcb_connection_has_error(x), 0);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  constexpr size_t kBatch = 1000;
  auto cycle = [&] {
    std::vector<xcb_window_t> windows;
    for (size_t i = 0; i < kBatch; ++i) {
      xcb_window_t w = xcb_generate_id(x);
      xcb_create_window(x, XCB_COPY_FROM_PARENT, w, root, 0, 0, 20, 20, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                        XCB_COPY_FROM_PARENT, 0, nullptr);
      std::string title = "Toplevel " + std::to_string(i) + " with a title of typical length";
      xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                          static_cast<uint32_t>(title.size()), title.data());
      xcb_map_window(x, w);
      windows.push_back(w);
    }
    xcb_flush(x);
    bool all = eventually(*source, [&](const auto& list) { return list.size() == kBatch; }, 120000);
    for (xcb_window_t w : windows) xcb_destroy_window(x, w);
    xcb_flush(x);
    bool none = eventually(*source, [](const auto& list) { return list.empty(); }, 120000);
    return all && none;
  };
  ASSERT_TRUE(cycle()) << "first batch";  // grows the connection's object table once
  const size_t before = allocatedBytes();
  for (int batch = 1; batch < 10; ++batch) ASSERT_TRUE(cycle()) << "batch " << batch;
  EXPECT_EQ(source->trackedCount(), 0u);
  // One leaked toplevel record costs over 100 bytes: 9,000 of them would be about 1 MB.
  EXPECT_LT(allocatedBytes(), before + 256 * 1024) << "heap grew from " << before << " to " << allocatedBytes();
  xcb_disconnect(x);
}

TEST(WaylandWithoutListTest, WestonOffersNeitherList) {
  WaylandTestCompositor weston(WaylandTestCompositor::Kind::Weston);
  EXPECT_EQ(WaylandWindowSource::connect(weston.socket()), nullptr);
}

}  // namespace
