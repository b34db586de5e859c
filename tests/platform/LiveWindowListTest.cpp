// The list a desktop's events keep: what a poll shows after opens, title
// changes, closes and whole-list replacements, and how a poll cuts titles.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/windows/LiveWindowList.h"

namespace {

using Seen = std::vector<std::pair<WindowSource::WindowId, std::string>>;

Seen poll(const LiveWindowList& list, int32_t maxTitleBytes = 256, size_t stopAfter = 1000) {
  struct Poll {
    Seen seen;
    size_t stopAfter;
  } state{{}, stopAfter};
  const int32_t calls = list.enumerate(
      maxTitleBytes,
      [](WindowSource::WindowId id, std::string_view title, uintptr_t value) {
        auto* p = reinterpret_cast<Poll*>(value);
        p->seen.emplace_back(id, std::string(title));
        return p->seen.size() < p->stopAfter;
      },
      reinterpret_cast<uintptr_t>(&state));
  EXPECT_EQ(static_cast<size_t>(calls), state.seen.size());
  return state.seen;
}

}  // namespace

TEST(LiveWindowListTest, FollowsOpensTitlesAndClosesNewestFirst) {
  LiveWindowList list;
  EXPECT_TRUE(list.open("a", "Mail"));
  EXPECT_TRUE(list.open("b", "Dial-up"));
  EXPECT_EQ(poll(list), (Seen{{2, "Dial-up"}, {1, "Mail"}}));

  EXPECT_TRUE(list.retitle("b", "Dial-up status"));
  EXPECT_FALSE(list.retitle("b", "Dial-up status"));
  // A title change after the close of its window, and a second open of a
  // known key, keep one entry per window.
  EXPECT_FALSE(list.retitle("gone", "Late"));
  EXPECT_TRUE(list.open("a", "Mail (1)"));
  EXPECT_EQ(poll(list), (Seen{{2, "Dial-up status"}, {1, "Mail (1)"}}));

  EXPECT_TRUE(list.close("b"));
  EXPECT_FALSE(list.close("b"));
  EXPECT_EQ(poll(list), (Seen{{1, "Mail (1)"}}));
  EXPECT_EQ(list.size(), 1u);
}

TEST(LiveWindowListTest, ReplacesTheWholeListAndCutsTitlesInAPoll) {
  LiveWindowList list;
  const std::vector<std::pair<std::string, std::string>> windows{{"a", "Mail"}, {"b", "Dial-up status"}};
  EXPECT_TRUE(list.replace(windows));
  EXPECT_FALSE(list.replace(windows));  // the same list again is no change
  EXPECT_EQ(poll(list, 4), (Seen{{2, "Dial"}, {1, "Mail"}}));
  EXPECT_EQ(poll(list, -1), (Seen{{2, ""}, {1, ""}}));
  EXPECT_EQ(poll(list, 256, 1), (Seen{{2, "Dial-up status"}}));  // the callback ends the poll

  // A new list gives every window a fresh id, so no window of the old one
  // is taken for one of the new.
  EXPECT_TRUE(list.replace({{"c", "Editor"}}));
  EXPECT_EQ(poll(list), (Seen{{3, "Editor"}}));
}
