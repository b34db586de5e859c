// The helper of the bus-fed window sources on a private session bus: which
// owner of the list's name it trusts, and the clock of a feeder gone away.
#include "platform/windows/BusFedSource.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QDBusConnectionInterface>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/SessionBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"

namespace {

const QString LIST = QStringLiteral("org.morvane.Test.List");
const QString SHELL = QStringLiteral("org.morvane.Test.Shell");

// A session bus of the test's own, the address in the environment.
class PrivateBus {
 public:
  PrivateBus() {
    std::istringstream printed(
        childprocess::shellOutput("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
    printed >> address_ >> pid_;
    if (pid_ > 0) ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  bool up() const { return pid_ > 0; }

 private:
  std::string address_;
  pid_t pid_ = -1;
};

bool take(SessionBus& bus, const QString& name) {
  return bus.connection().interface()->registerService(name).value() == QDBusConnectionInterface::ServiceRegistered;
}

TEST(BusFedSourceTest, TrustsOnlyTheVouchedOwnerAndClocksItsAbsence) {
  PrivateBus daemon;
  ASSERT_TRUE(daemon.up());
  BusFedSource feed(std::make_unique<SessionBus>());
  ASSERT_TRUE(feed.bus().connected());
  std::vector<QString> told;
  feed.watch(LIST, SHELL, [&](const QString& owner) { told.push_back(owner); });

  SessionBus impostor;
  ASSERT_TRUE(take(impostor, LIST));
  ASSERT_TRUE(runEventLoopUntil([&] { return told.size() == 1; }));
  EXPECT_EQ(told.back(), QString()) << "a list from anyone but the shell is not trusted";
  EXPECT_TRUE(feed.away());
  impostor.connection().interface()->unregisterService(LIST);

  SessionBus shell;
  ASSERT_TRUE(take(shell, SHELL));
  ASSERT_TRUE(take(shell, LIST));
  ASSERT_TRUE(runEventLoopUntil([&] { return !told.empty() && told.back() == shell.uniqueName(); }));
  EXPECT_EQ(feed.feeder(), shell.uniqueName());
  EXPECT_TRUE(feed.away()) << "back only once the source holds a list again";
  feed.fed();
  EXPECT_FALSE(feed.away());
  EXPECT_FALSE(feed.goneTooLong());

  shell.connection().interface()->unregisterService(LIST);
  ASSERT_TRUE(runEventLoopUntil([&] { return told.back().isEmpty(); }));
  EXPECT_TRUE(feed.away());
  EXPECT_FALSE(feed.goneTooLong()) << "the last list stays for the grace time";
}

}  // namespace
