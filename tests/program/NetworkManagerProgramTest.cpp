// The real program with a real NetworkManager (tests/support/network-manager-lab.sh):
// NetworkManager 1.42 with OpenVPN in namespaces of the test's own, on a
// private system bus; the program runs in NetworkManager's namespace, on a
// private X server, with DBUS_SYSTEM_BUS_ADDRESS naming that bus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "tests/program/ProgramFixture.h"

namespace {

using namespace std::chrono_literals;

class NetworkManagerProgramTest : public ProgramFixture {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    if (!std::filesystem::exists(std::string(MORVANE_NM_ROOT) + "/usr/sbin/NetworkManager")) {
      GTEST_SKIP() << "no NetworkManager root at " MORVANE_NM_ROOT " (scripts/make-desktop-roots.sh)";
    }
    ProgramFixture::SetUp();
    static std::atomic<int> labs{0};
    labId_ = std::to_string(::getpid() % 10000) + "x" + std::to_string(++labs);
    // A start that fails (a machine under load) is tried once more from scratch.
    for (int attempt = 0; attempt < 2 && !labUp_; ++attempt) {
      std::string out;
      labUp_ = childprocess::shellRun(lab("up") + " 2>&1", out) == 0;
      if (!labUp_) {
        lab("down");
        std::cerr << "lab start failed: " << out << "\n";
      } else {
        namespace_ = out.substr(0, out.find('\n'));
      }
    }
    ASSERT_TRUE(labUp_) << "NetworkManager did not start";
  }
  void TearDown() override {
    ProgramFixture::TearDown();
    if (labUp_) runLab("down");
  }

  // The lab script's command line for `arguments`.
  std::string lab(const std::string& arguments) const {
    return "LAB=" + dir_.file("lab") + " LAB_ID=" + labId_ +
           " NM_ROOT=" MORVANE_NM_ROOT " timeout 90 " MORVANE_NM_LAB " " + arguments;
  }
  std::string runLab(const std::string& arguments) const { return childprocess::shellOutput(lab(arguments) + " 2>&1"); }
  std::string bus() const { return "unix:path=" + dir_.file("lab") + "/bus/system_bus_socket"; }
  // "activated", "activating", ... or "" when the profile is not active.
  std::string state(const std::string& profile) const {
    std::string out =
        childprocess::shellOutput(lab("nmcli -g GENERAL.STATE con show " + quote(profile)) + " 2>/dev/null");
    return out.substr(0, out.find('\n'));
  }
  bool waitState(const std::string& profile, const std::string& expected, int millis = 30000) const {
    return childprocess::waitFor([&] { return state(profile) == expected; }, millis);
  }
  std::pair<uint64_t, uint64_t> bytes(const std::string& interface) const {
    const std::string out = runLab("bytes " + interface);
    uint64_t rx = 0, tx = 0;
    if (std::sscanf(out.c_str(), "%lu %lu", &rx, &tx) != 2) ADD_FAILURE() << "no counters: " << out;
    return {rx, tx};
  }

  // Starts the program with `configuration` in the lab's network namespace;
  // `busAddress` replaces the lab's bus.
  void start(const std::string& configuration, std::optional<std::string> busAddress = std::nullopt) {
    writeConfiguration(configuration);
    std::filesystem::remove(dir_.file("net.log"));
    environment_["DBUS_SYSTEM_BUS_ADDRESS"] = busAddress.value_or(bus());
    launcher_ = {"ip", "netns", "exec", namespace_};
    ProgramFixture::start();
  }
  // Connects and expects a fatal report holding `part`, then status 1.
  void expectFatal(const std::string& part, std::chrono::seconds limit) {
    typeIntoMainWindow("Return");
    EXPECT_TRUE(closeDialog("Fehler")) << output();
    expectExit(1, limit);
    EXPECT_NE(output().find(part), std::string::npos) << output();
  }
  // open, the traffic line (its counts when given), close: in this order, each once.
  void expectCycle(const std::string& name, const std::string& traffic = std::string()) {
    const std::string log = netLog();
    const size_t open = log.find("net-log: open connection @" + name + "\r\n");
    const size_t line = log.find("net-log: traffic connection @" + name + ": " + traffic);
    const size_t close = log.find("net-log: close connection @" + name + "\r\n");
    EXPECT_LT(open, line) << log;
    EXPECT_LT(line, close) << log;
    EXPECT_NE(close, std::string::npos) << log;
    EXPECT_EQ(countOf(log, "close connection"), 1u) << log;
  }

  std::string labId_;
  std::string namespace_;
  bool labUp_ = false;
};

// Connect, traffic through the tunnel, disconnect from outside: the traffic
// line counts what the tunnel device's kernel counters counted from the
// moment the connection was seen.
TEST_F(NetworkManagerProgramTest, AVpnProfileIsActivatedAndItsTunnelTrafficLoggedAtTheEnd) {
  start("names = office\noffice.networkmanager = Office VPN\ninterval = 5\n");
  typeIntoMainWindow("Return");
  ASSERT_TRUE(waitState("Office VPN", "activated")) << output();
  ASSERT_FALSE(waitForWindow("^Morvane: \\[Verbunden mit office\\]$").empty());
  std::this_thread::sleep_for(1s);  // the program has read the counters when it saw it up
  const auto before = bytes("tun0");
  EXPECT_GT(before.first + before.second, 0u) << "the tunnel carried nothing before: the base would not matter";
  std::string out;
  ASSERT_EQ(childprocess::shellRun("ip netns exec " + namespace_ +
                                       " bash -c 'for i in 1 2 3 4 5; do printf %0500d 1 >/dev/udp/10.232.1.1/9; done'",
                                   out),
            0);
  std::this_thread::sleep_for(300ms);
  const auto after = bytes("tun0");
  ASSERT_GT(after.second, before.second + 2500);
  runLab("nmcli con down 'Office VPN'");
  expectExit(0, 20s);
  expectCycle("office", std::to_string(after.first - before.first) + " bytes received, " +
                            std::to_string(after.second - before.second) + " bytes sent");
}

// Already up when connecting (by UUID): seen at once and not activated a
// second time; its server going ends it.
TEST_F(NetworkManagerProgramTest, AnActiveProfileIsSeenAtOnceAndEndsWhenItsServerGoes) {
  runLab("nmcli con up 'Office VPN'");
  ASSERT_TRUE(waitState("Office VPN", "activated"));
  const std::string path = runLab("nmcli -g GENERAL.DBUS-PATH con show 'Office VPN'");
  const std::string uuid = runLab("nmcli -g connection.uuid con show 'Office VPN'");
  start("names = office\noffice.networkmanager = " + uuid.substr(0, uuid.find('\n')) + "\ninterval = 5\n");
  typeIntoMainWindow("Return");
  ASSERT_FALSE(waitForWindow("^Morvane: \\[Verbunden mit office\\]$").empty());
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(runLab("nmcli -g GENERAL.DBUS-PATH con show 'Office VPN'"), path) << "activated again";
  EXPECT_FALSE(waitExit(100ms).has_value()) << output();
  runLab("stop-server");
  expectExit(0, 30s);  // the client gives up after ping-exit (6 s)
  const std::string log = netLog();
  EXPECT_NE(log.find("traffic connection @office: "), std::string::npos) << log;
  EXPECT_NE(log.find("close connection @office"), std::string::npos) << log;
}

// NetworkManager restarting leaves the uplink up: the connection goes on and
// ends later, when the profile is taken down.
TEST_F(NetworkManagerProgramTest, ARestartOfNetworkManagerDoesNotEndTheConnection) {
  start("names = up\nup.networkmanager = uplink\ninterval = 1\n");
  typeIntoMainWindow("Return");
  ASSERT_FALSE(waitForWindow("^Morvane: \\[Verbunden mit up\\]$").empty());
  std::this_thread::sleep_for(500ms);
  runLab("stop-nm");
  std::this_thread::sleep_for(2s);
  EXPECT_FALSE(waitExit(10ms).has_value()) << output();
  runLab("start-nm");
  ASSERT_TRUE(waitState("uplink", "activated"));
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(waitExit(10ms).has_value()) << output();
  EXPECT_EQ(netLog().find("close connection"), std::string::npos) << netLog();
  runLab("nmcli con down uplink");
  expectExit(0, 20s);
  expectCycle("up");
}

// What cannot be connected is a fatal report naming the cause, status 1.
TEST_F(NetworkManagerProgramTest, FailuresAreReportedWithTheirCauseAndStatusOne) {
  start("names = dead\ndead.networkmanager = Dead VPN\n");
  expectFatal("NetworkManager could not activate the profile 'Dead VPN': the VPN connection attempt timed out.", 40s);
  EXPECT_EQ(netLog().find("close connection"), std::string::npos);

  start("names = office\noffice.networkmanager = Ofice VPN\n");
  expectFatal("Key: office.networkmanager: NetworkManager has no profile 'Ofice VPN'.", 20s);

  start("names = office\noffice.networkmanager = Office VPN\n", "unix:path=" + dir_.file("no-bus"));
  expectFatal("NetworkManager cannot be reached: there is no system bus", 20s);

  runLab("stop-nm");
  start("names = office\noffice.networkmanager = Office VPN\n");
  expectFatal("NetworkManager is not running: org.freedesktop.NetworkManager is not on the system bus.", 20s);

  // Only listed types: a notice, and the configured connections still work.
  start("names = a\na = true\nwindow = A\nnetworkmanager.types = vpn\n");
  ASSERT_FALSE(waitForWindow("^Morvane$").empty()) << output();
  EXPECT_TRUE(childprocess::waitFor(
      [&] { return output().find("NOTICE: networkmanager.types: NetworkManager is not running") != std::string::npos; },
      10000))
      << output();
  EXPECT_FALSE(waitExit(200ms).has_value()) << output();
}

// The window lists the profiles of the listed types after the configured
// names, and follows profiles added while it is open.
TEST_F(NetworkManagerProgramTest, ProfilesOfTheListedTypesAreOfferedAndFollowed) {
  start("networkmanager.types = vpn ethernet\n");
  ASSERT_FALSE(waitForWindow("^Morvane$").empty()) << output();
  runLab("nmcli con add type vpn con-name Added vpn-type openvpn vpn.data remote=10.231.0.1");
  std::this_thread::sleep_for(1s);
  typeIntoMainWindow("a Return");  // the first whose name begins with "a"
  ASSERT_FALSE(waitForWindow("^Morvane: \\[Verbunden mit Added\\]$").empty()) << output();
  // It has no certificates: NetworkManager cannot activate it.
  EXPECT_TRUE(closeDialog("Fehler")) << output();
  expectExit(1, 30s);
  EXPECT_EQ(countOf(output(), "FATAL ERROR"), 1u) << output();
  EXPECT_NE(netLog().find("open connection @Added"), std::string::npos) << netLog();
  EXPECT_NE(output().find("the profile 'Added'"), std::string::npos) << output();
}

}  // namespace
