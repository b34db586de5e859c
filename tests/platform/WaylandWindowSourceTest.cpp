// The compositor's toplevel list on a private headless sway (which offers
// zwlr_foreign_toplevel_manager_v1) and weston (which offers neither list),
// with native Wayland windows (Qt) and XWayland windows (xmessage, xcb).

#include "platform/windows/WaylandWindowSource.h"

#include <gtest/gtest.h>

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

// 1,000 toplevels come and go, 100 at a time (XWayland windows of one X
// client; the 10,000 of bench_wayland_watch take minutes); afterwards the
// list and the heap are where they were, and LSan finds nothing at the end.
TEST_F(WaylandWindowSourceTest, AThousandToplevelsOpenedAndClosedLeaveNothingBehind) {
  std::unique_ptr<WaylandWindowSource> source = WaylandWindowSource::connect(sway.socket());
  ASSERT_NE(source, nullptr);
  constexpr size_t BATCH = 100;
  auto cycle = [&] {
    std::vector<uint32_t> windows = sway.openXWaylandWindows(BATCH);
    bool all = eventually(*source, [&](const auto& list) { return list.size() == BATCH; }, 60000);
    sway.closeXWaylandWindows(windows);
    bool none = eventually(*source, [](const auto& list) { return list.empty(); }, 60000);
    return all && none;
  };
  ASSERT_TRUE(cycle()) << "first batch";  // grows the connection's object table once
  const size_t before = allocatedBytes();
  for (int batch = 1; batch < 10; ++batch) ASSERT_TRUE(cycle()) << "batch " << batch;
  EXPECT_EQ(source->trackedCount(), 0u);
  // A leaked toplevel record costs over 100 bytes: 900 of them about 100 KB.
  EXPECT_LT(allocatedBytes(), before + 32 * 1024) << "heap grew from " << before << " to " << allocatedBytes();
}

TEST(WaylandWithoutListTest, WestonOffersNeitherList) {
  WaylandTestCompositor weston(WaylandTestCompositor::Kind::Weston);
  EXPECT_EQ(WaylandWindowSource::connect(weston.socket()), nullptr);
}

}  // namespace
