// The rule that ends a connection, on a real event loop, with a mark the
// test sets by hand: which looks it makes, when it ends, what it logs.

#include "main/ConnectionWatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "tests/support/EventLoop.h"

namespace {

struct ScriptedMark : ConnectionMark {
  bool here = false;
  bool failing = false;
  int looks = 0;
  std::vector<std::string> linesAskedFor;
  std::function<void()> handler;

  bool present() override {
    ++looks;
    if (failing) throw IOException("ScriptedMark.present: The source has failed.");
    return here;
  }
  void setChangeHandler(std::function<void()> h) override { handler = std::move(h); }
  std::vector<std::string> closingLines(const std::string& name) override {
    linesAskedFor.push_back(name);
    return {"traffic connection @" + name};
  }
  void changed() {
    if (handler) handler();
  }
};

class ConnectionWatchTest : public ::testing::Test {
 protected:
  ConnectionWatchTest() {
    auto owned = std::make_unique<ScriptedMark>();
    mark = owned.get();
    watch = std::make_unique<ConnectionWatch>(
        std::move(owned),
        [this](const char* handler, const std::function<void()>& look) {
          try {
            look();
          } catch (const std::exception& e) {
            failures.push_back(std::string(handler) + ": " + e.what());
          }
        },
        [this] {
          ++ended;
          lines = watch->mark().closingLines("demo");
        });
  }

  // Lets every look that is due run, the end of a grace included.
  void settle() { runEventLoopFor(3 * ConnectionWatch::GRACE_MILLIS); }

  ScriptedMark* mark = nullptr;
  std::unique_ptr<ConnectionWatch> watch;
  std::vector<std::string> failures;
  std::vector<std::string> lines;
  int ended = 0;
};

TEST_F(ConnectionWatchTest, EndsOnceAMarkWasSeenAndStaysGoneThroughTheGrace) {
  watch->start();
  ASSERT_TRUE(runEventLoopUntil([&] { return mark->looks == 1; })) << "one look right after the start";
  mark->changed();
  settle();
  EXPECT_EQ(ended, 0) << "nothing seen yet: a missing mark is no end";

  mark->here = true;
  int before = mark->looks;
  for (int i = 0; i < 5; ++i) mark->changed();
  settle();
  EXPECT_EQ(mark->looks, before + 1) << "changes before the look share it";
  EXPECT_TRUE(watch->seen());

  // Gone, and back before the grace ends: the look at its end sees the mark.
  mark->here = false;
  before = mark->looks;
  mark->changed();
  ASSERT_TRUE(runEventLoopUntil([&] { return mark->looks == before + 1; }));
  mark->here = true;
  settle();
  EXPECT_EQ(ended, 0) << "a re-created mark is no end";

  // Gone for good: the end comes once the grace has passed.
  mark->here = false;
  mark->changed();
  ASSERT_TRUE(runEventLoopUntil([&] { return ended == 1; }));
  EXPECT_EQ(lines, std::vector<std::string>{"traffic connection @demo"});
  before = mark->looks;
  mark->changed();
  watch->look();
  settle();
  EXPECT_EQ(mark->looks, before) << "no looks after the end";
  EXPECT_EQ(ended, 1);
  EXPECT_TRUE(mark->handler == nullptr) << "the change handler is switched off";
}

TEST_F(ConnectionWatchTest, TicksAloneEndItAndFailuresOfItsOwnLooksGoToTheRunner) {
  // A source that reports no changes: the owner's ticks do the looking.
  watch->start();
  settle();
  mark->here = true;
  watch->look();
  mark->here = false;
  watch->look();
  EXPECT_EQ(ended, 0) << "the grace comes first";
  ASSERT_TRUE(runEventLoopUntil([&] { return ended == 1; }));
  EXPECT_TRUE(failures.empty());

  // A look the watch schedules itself reports through the runner; a tick's
  // look throws to the owner.
  watch->start();
  mark->failing = true;
  settle();
  EXPECT_EQ(failures, std::vector<std::string>{"markChanged: ScriptedMark.present: The source has failed."});
  EXPECT_THROW(watch->look(), IOException);
  watch->stop();
  mark->changed();
  settle();
  EXPECT_EQ(failures.size(), 1u) << "stopped: no more looks";
}

}  // namespace
