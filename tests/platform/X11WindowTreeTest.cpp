// The window tree without a server: which windows the tree asks about, and
// whose title each top-level window shows under a reparenting manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/X11WindowTree.h"

namespace {

using Entries = std::vector<X11WindowTree::Entry>;
using Title = X11WindowTree::TitleProperty;

constexpr X11WindowTree::Window ROOT = 1;

}  // namespace

TEST(X11WindowTreeTest, ShowsTheClientTitleInsideAFrameAndFollowsItsMoves) {
  X11WindowTree tree(ROOT);
  // A client maps as a top-level window of its own; the tree asks for its
  // children and WM_STATE, and for its titles.
  tree.created(ROOT, 20);
  X11WindowTree::Requests asked = tree.takeRequests();
  EXPECT_EQ(asked.describe, std::vector<X11WindowTree::Window>{20});
  EXPECT_EQ(asked.titles, std::vector<X11WindowTree::Window>{20});
  tree.setTitle(20, Title::WmName, true, "Mail");
  tree.setTitle(20, Title::NetWmName, true, "Dial-up status");  // _NET_WM_NAME wins
  ASSERT_TRUE(tree.refresh());
  EXPECT_EQ(tree.windows(), (Entries{{20, "Dial-up status"}}));
  EXPECT_FALSE(tree.refresh());

  // The manager frames it: the frame is the top-level window and shows the
  // title of the listed client one level down.
  tree.setManaged(true);
  tree.created(ROOT, 30);
  tree.reparented(20, 30);
  tree.setClientList(true, {20});
  ASSERT_TRUE(tree.refresh());
  EXPECT_EQ(tree.windows(), (Entries{{30, "Dial-up status"}}));
  EXPECT_EQ(tree.depth(20), 1);

  // Without the list, the client is the window carrying WM_STATE.
  tree.setClientList(false, {});
  tree.setWmState(20, true);
  tree.refresh();
  EXPECT_EQ(tree.windows(), (Entries{{30, "Dial-up status"}}));

  // A client gone leaves its frame with the frame's own (empty) title, and
  // a title longer than the kept bytes is cut.
  tree.destroyed(20);
  tree.created(ROOT, 40);
  tree.setTitle(40, Title::WmName, true, std::string(X11WindowTree::MAX_TITLE_BYTES + 10, 'x'));
  tree.refresh();
  EXPECT_EQ(tree.windows(), (Entries{{40, std::string(X11WindowTree::MAX_TITLE_BYTES, 'x')}, {30, ""}}));
  EXPECT_FALSE(tree.follows(20));
}

TEST(X11WindowTreeTest, FollowsNoDeeperThanTheSearchReaches) {
  X11WindowTree tree(ROOT);
  X11WindowTree::Window parent = ROOT;
  for (X11WindowTree::Window w = 10; w < 10 + X11WindowTree::MAX_DEPTH + 2; ++w) {
    tree.created(parent, w);
    parent = w;
  }
  // The root's children are at depth 0: MAX_DEPTH + 1 windows are followed.
  EXPECT_EQ(tree.size(), static_cast<size_t>(X11WindowTree::MAX_DEPTH + 1));
  EXPECT_FALSE(tree.follows(10 + X11WindowTree::MAX_DEPTH + 1));

  // Lifted one level, the deepest window's children come into reach: the
  // tree asks for them.
  tree.takeRequests();
  tree.reparented(11, ROOT);
  EXPECT_EQ(tree.takeRequests().describe, std::vector<X11WindowTree::Window>{10 + X11WindowTree::MAX_DEPTH});
}
