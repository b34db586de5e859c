// The interface watch against real tun devices in a network namespace of
// the test's own, on a real event loop.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/netif/InterfaceWatch.h"
#include "platform/netif/LinkEventFilter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/NetworkNamespace.h"

namespace {

// A watch with its notifications counted, made inside the namespace.
struct Watched {
  explicit Watched(const std::string& pattern) : watch(InterfacePattern::parse("test.interface", pattern)) {
    watch.setChangeHandler([this] { ++notifications; });
  }
  // Runs the loop until a notification arrives and up() answers `expected`.
  bool becomes(bool expected) {
    return runEventLoopUntil([&] {
      if (notifications == seen) return false;
      seen = notifications;
      return watch.up() == expected;
    });
  }
  InterfaceWatch watch;
  int notifications = 0;
  int seen = 0;
};

class InterfaceWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NetworkNamespace::available()) GTEST_SKIP() << "needs root and /dev/net/tun";
    net_ = std::make_unique<NetworkNamespace>();
  }
  std::unique_ptr<NetworkNamespace> net_;
};

TEST_F(InterfaceWatchTest, ATunDeviceIsUpUntilDeletedSetDownOrWithoutCarrier) {
  enum class Way { HolderEndsDeviceGoes, SetDown, CarrierLost };
  for (Way way : {Way::HolderEndsDeviceGoes, Way::SetDown, Way::CarrierLost}) {
    SCOPED_TRACE(static_cast<int>(way));
    if (way == Way::CarrierLost) {
      ASSERT_TRUE(net_->ip("tuntap add mode tun name tun7"));
      ASSERT_TRUE(net_->ip("link set tun7 up"));
    }
    Watched w("tun7");
    ASSERT_TRUE(w.becomes(false)) << "the first dump is announced";
    pid_t holder = net_->holdTun("tun7");
    ASSERT_TRUE(w.becomes(true));
    // Traffic out through the device, which the holder reads.
    ASSERT_TRUE(net_->ip("addr add 198.51.100.1 peer 198.51.100.2 dev tun7"));
    ASSERT_EQ(std::system("bash -c 'for i in 1 2 3; do printf 0123456789 >/dev/udp/198.51.100.2/9; done'"), 0);
    ASSERT_TRUE(childprocess::waitFor([&] { return net_->counters("tun7").sent >= 3 * 38; }, 5000));
    const NetworkNamespace::Bytes before = net_->counters("tun7");
    switch (way) {
      case Way::HolderEndsDeviceGoes: net_->release(holder); break;
      case Way::SetDown: ASSERT_TRUE(net_->ip("link set tun7 down")); break;
      case Way::CarrierLost: net_->release(holder); break;
    }
    ASSERT_TRUE(w.becomes(false));
    EXPECT_EQ(w.watch.traffic().txBytes, before.sent);
    EXPECT_EQ(w.watch.traffic().rxBytes, before.received);
    EXPECT_EQ(w.watch.resyncs(), 0);
    net_->release(holder);
    if (way == Way::CarrierLost) {
      ASSERT_TRUE(net_->ip("link del tun7"));
    }
  }
}

TEST_F(InterfaceWatchTest, APatternFollowsEveryMatchingInterfaceAndNoOther) {
  Watched w("ppp*");
  Watched exact("ppp1");
  ASSERT_TRUE(w.becomes(false));
  pid_t other = net_->holdTun("vpn0");
  pid_t ppp0 = net_->holdTun("ppp0");
  ASSERT_TRUE(w.becomes(true));
  pid_t ppp1 = net_->holdTun("ppp1");
  ASSERT_TRUE(exact.becomes(true));
  // ppp0 going while ppp1 stays, and interfaces that do not match: no change.
  const int before = w.notifications;
  net_->release(ppp0);
  net_->release(other);
  ASSERT_TRUE(net_->ip("link set lo down"));
  runEventLoopFor(300);
  EXPECT_EQ(w.notifications, before);
  EXPECT_TRUE(w.watch.up()) << "ppp1 is still up";
  net_->release(ppp1);
  ASSERT_TRUE(w.becomes(false));
  EXPECT_FALSE(exact.watch.up());
}

TEST_F(InterfaceWatchTest, UpAtTheStartCountsAtOnceAndAnAbsentOneWaits) {
  net_->holdTun("wg0");
  Watched present("wg0");
  Watched absent("wg1");
  EXPECT_TRUE(present.becomes(true));
  EXPECT_TRUE(absent.becomes(false));
  EXPECT_EQ(present.notifications, 1);
  EXPECT_EQ(present.watch.traffic().txBytes, 0u) << "counted from when it was first seen";
}

// Events the kernel could not queue are lost (ENOBUFS): the dump that
// follows must still show the interface going down.
TEST_F(InterfaceWatchTest, AnOverrunIsRepairedByANewDump) {
  pid_t holder = net_->holdTun("tun7");
  Watched w("tun7");
  ASSERT_TRUE(w.becomes(true));
  // Thousands of its events while the loop does not read, the last one down.
  std::string batch;
  for (int i = 0; i < 1500; ++i) batch += "link set tun7 down\nlink set tun7 up\n";
  batch += "link set tun7 down\n";
  const std::string file = "/tmp/" + net_->name() + ".batch";
  {
    FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(batch.c_str(), out);
    std::fclose(out);
  }
  ASSERT_TRUE(net_->ip("-batch " + file));
  std::remove(file.c_str());
  ASSERT_TRUE(w.becomes(false));
  EXPECT_GE(w.watch.resyncs(), 1);
  net_->release(holder);
}

// The socket filter runs in the kernel: only the events of matching or
// followed links reach a socket.
TEST_F(InterfaceWatchTest, TheKernelKeepsTheEventsOfOtherInterfaces) {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK;
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
  auto namesArrived = [fd] {
    std::set<std::string> names;
    std::vector<uint32_t> buffer(16384);
    ssize_t length;
    while ((length = ::recv(fd, buffer.data(), buffer.size() * 4, MSG_DONTWAIT)) > 0) {
      for (const LinkRecord& link : parseLinkDatagram(buffer.data(), static_cast<size_t>(length)).links) {
        names.insert(link.name);
      }
    }
    return names;
  };
  ASSERT_TRUE(attachLinkEventFilter(fd, InterfacePattern::parse("k", "ppp*"), {}));
  net_->holdTun("vpn0");
  net_->holdTun("ppp0");
  EXPECT_EQ(namesArrived(), std::set<std::string>{"ppp0"});
  ASSERT_TRUE(attachLinkEventFilter(fd, InterfacePattern::parse("k", "wg0"),
                                    {static_cast<int32_t>(::if_nametoindex("vpn0"))}));
  net_->holdTun("wg01");
  net_->holdTun("wg0");
  ASSERT_TRUE(net_->ip("link set vpn0 down"));
  ASSERT_TRUE(net_->ip("link set ppp0 down"));
  EXPECT_EQ(namesArrived(), (std::set<std::string>{"vpn0", "wg0"})) << "followed by index, or by name";
  ::close(fd);
}

TEST(InterfaceWatchFailureTest, ASocketThatCannotBeOpenedNamesTheCause) {
  // The sanitizers check dynamic types through a cache that needs
  // descriptors to fill: the watch is met once while there are some.
  { InterfaceWatch warm(InterfacePattern::parse("a.interface", "ppp0")); }
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowestFree = ::dup(0);
  ::close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::exception_ptr failure;
  try {
    InterfaceWatch watch(InterfacePattern::parse("a.interface", "ppp0"));
  } catch (...) {
    failure = std::current_exception();  // the sanitizers need descriptors to look at it
  }
  ::setrlimit(RLIMIT_NOFILE, &saved);
  try {
    if (failure) std::rethrow_exception(failure);
    ADD_FAILURE() << "opened";
  } catch (const IOException& e) {
    EXPECT_EQ(e.getMessage(), "InterfaceWatch: Cannot watch the network interfaces (socket): Too many open files.");
  }
}

}  // namespace
