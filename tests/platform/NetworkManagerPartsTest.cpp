// The parts of the NetworkManager source that need no bus: the words for
// reason codes, the device that carries a connection's traffic, and the
// byte count across a device that goes away.
#include <gtest/gtest.h>

#include "platform/networkmanager/NetworkManagerDevices.h"
#include "platform/networkmanager/NetworkManagerReasons.h"
#include "platform/networkmanager/TrafficTally.h"

TEST(NetworkManagerReasonsTest, CodesOfBothEnumerationsHaveWordsAndUnknownOnesTheirNumber) {
  EXPECT_EQ(networkManagerReasonText(6), "the VPN connection attempt timed out");
  EXPECT_EQ(networkManagerReasonText(9), "secrets were required but not provided");
  EXPECT_EQ(networkManagerReasonText(14), "the device it depended on disappeared");
  EXPECT_EQ(networkManagerReasonText(15), "NetworkManager gave reason 15");
  EXPECT_EQ(networkManagerReasonText(4294967295u), "NetworkManager gave reason 4294967295");
}

TEST(NetworkManagerDevicesTest, AVpnIsCarriedByItsTunnelNotByTheUplinkItNames) {
  const std::vector<NetworkManagerDeviceConfig> devices = {
      {"/Devices/1", "/", "/"},
      {"/Devices/2", "/IP4Config/3", "/IP6Config/3"},  // the uplink
      {"/Devices/8", "/IP4Config/7", "/IP6Config/9"},  // the tunnel
  };
  NetworkManagerActiveConfig vpn{true, {"/Devices/2"}, "/IP4Config/7", "/IP6Config/8"};
  EXPECT_EQ(networkManagerTrafficDevice(vpn, devices), "/Devices/8");
  // IPv6 alone.
  vpn.ip4Config = "/";
  vpn.ip6Config = "/IP6Config/9";
  EXPECT_EQ(networkManagerTrafficDevice(vpn, devices), "/Devices/8");
  // No tunnel of its own found: no device, never the uplink, and "/" matches nothing.
  vpn.ip6Config = "/";
  EXPECT_EQ(networkManagerTrafficDevice(vpn, devices), "");
  // A device profile is carried by its device.
  const NetworkManagerActiveConfig ethernet{false, {"/Devices/2"}, "/IP4Config/3", "/"};
  EXPECT_EQ(networkManagerTrafficDevice(ethernet, devices), "/Devices/2");
  EXPECT_EQ(networkManagerTrafficDevice(NetworkManagerActiveConfig{}, devices), "");
}

TEST(TrafficTallyTest, CountsFromTheFirstSampleAndKeepsItsTotalWhenTheCountersDrop) {
  TrafficTally tally;
  EXPECT_FALSE(tally.started());
  EXPECT_EQ(tally.total().rxBytes, 0u);
  tally.sample({1000, 48});  // not zero when first seen
  tally.sample({21560, 20656});
  EXPECT_EQ(tally.total().rxBytes, 20560u);
  EXPECT_EQ(tally.total().txBytes, 20608u);
  // The device went: zeros, then a new device of the same name counting anew.
  tally.sample({0, 0});
  tally.sample({30000, 30000});
  EXPECT_EQ(tally.total().rxBytes, 20560u);
  EXPECT_EQ(tally.total().txBytes, 20608u);
  // One counter dropping is a drop too.
  TrafficTally half;
  half.sample({10, 10});
  half.sample({5, 20});
  half.sample({50, 50});
  EXPECT_EQ(half.total().rxBytes, 0u);
  EXPECT_EQ(half.total().txBytes, 0u);
}

TEST(TrafficTallyTest, InterfaceCountersAreReadOnlyForPlainNames) {
  EXPECT_TRUE(readInterfaceCounters("lo").has_value());
  EXPECT_FALSE(readInterfaceCounters("no-such-if0").has_value());
  EXPECT_FALSE(readInterfaceCounters("../lo").has_value());
  EXPECT_FALSE(readInterfaceCounters("").has_value());
}
