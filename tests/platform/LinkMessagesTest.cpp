// Reading link messages and interface patterns: what the kernel sends is
// read exactly, anything malformed is refused with its place, and the
// configured names are checked as the kernel checks interface names.
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/netif/InterfacePattern.h"
#include "platform/netif/LinkMessages.h"

namespace {

// Netlink messages built with the kernel's macros, in an aligned buffer.
class Datagram {
 public:
  // Starts a message; attributes follow with attribute().
  Datagram& message(uint16_t type, int32_t index = 0, uint32_t flags = 0, uint8_t family = AF_UNSPEC) {
    start_ = used_;
    const size_t payload =
        type == NLMSG_ERROR ? sizeof(nlmsgerr) : type == NLMSG_DONE ? sizeof(int) : sizeof(ifinfomsg);
    append(NLMSG_SPACE(payload));
    header()->nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(payload));
    header()->nlmsg_type = type;
    if (type == RTM_NEWLINK || type == RTM_DELLINK) {
      auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(header()));
      info->ifi_family = family;
      info->ifi_index = index;
      info->ifi_flags = flags;
    }
    return *this;
  }
  Datagram& attribute(uint16_t type, const void* data, size_t size) {
    const size_t at = append(RTA_SPACE(size));
    auto* rta = reinterpret_cast<rtattr*>(raw() + at);
    rta->rta_type = type;
    rta->rta_len = static_cast<uint16_t>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(rta), data, size);
    header()->nlmsg_len = static_cast<uint32_t>(used_ - start_);
    return *this;
  }
  Datagram& name(const std::string& text) { return attribute(IFLA_IFNAME, text.c_str(), text.size() + 1); }
  Datagram& counters(uint64_t rx, uint64_t tx) {
    rtnl_link_stats64 stats{};
    stats.rx_bytes = rx;
    stats.tx_bytes = tx;
    return attribute(IFLA_STATS64, &stats, sizeof stats);
  }
  nlmsghdr* header() { return reinterpret_cast<nlmsghdr*>(raw() + start_); }
  char* raw() { return reinterpret_cast<char*>(words_.data()); }
  LinkDatagram parse() { return parseLinkDatagram(words_.data(), used_); }

 private:
  // Appends `bytes` zero bytes (a multiple of 4); returns where they start.
  size_t append(size_t bytes) {
    const size_t at = used_;
    used_ += bytes;
    words_.resize(used_ / 4, 0);
    return at;
  }
  std::vector<uint32_t> words_;
  size_t used_ = 0;
  size_t start_ = 0;
};

TEST(LinkMessagesTest, ReadsLinksDeletionsTheDumpsEndAndErrors) {
  Datagram d;
  d.message(RTM_NEWLINK, 7, IFF_UP | IFF_LOWER_UP).name("ppp0").counters(1ULL << 40, 12);
  d.message(RTM_DELLINK, 8, IFF_UP).attribute(IFLA_MTU | NLA_F_NESTED, "abcd", 4).name("wg0").counters(5, 6);
  d.message(RTM_NEWLINK, 9, IFF_UP | IFF_LOWER_UP, AF_BRIDGE).name("br-port");  // skipped
  d.message(RTM_NEWLINK, 10, IFF_UP).name("tun0");                              // no counters
  d.message(NLMSG_DONE);
  d.header()->nlmsg_flags = NLM_F_DUMP_INTR;
  LinkDatagram out = d.parse();
  ASSERT_EQ(out.links.size(), 3u);
  EXPECT_EQ(out.links[0].index, 7);
  EXPECT_EQ(out.links[0].name, "ppp0");
  EXPECT_TRUE(out.links[0].up());
  EXPECT_EQ(out.links[0].counters.rxBytes, 1ULL << 40);
  EXPECT_EQ(out.links[0].counters.txBytes, 12u);
  EXPECT_TRUE(out.links[1].deleted);
  EXPECT_FALSE(out.links[1].up()) << "up without carrier";
  EXPECT_EQ(out.links[1].counters.txBytes, 6u);
  EXPECT_FALSE(out.links[2].hasCounters);
  EXPECT_TRUE(out.dumpDone);
  EXPECT_TRUE(out.dumpInterrupted);

  Datagram error;
  error.message(NLMSG_ERROR);
  static_cast<nlmsgerr*>(NLMSG_DATA(error.header()))->error = -EBUSY;
  EXPECT_EQ(error.parse().error, -EBUSY);
}

TEST(LinkMessagesTest, RefusesMalformedDatagramsSayingWhere) {
  struct Case {
    const char* what;
    void (*spoil)(Datagram&);
    std::string message;
  };
  const std::vector<Case> cases = {
      {"length beyond the datagram", [](Datagram& d) { d.header()->nlmsg_len += 64; },
       "message length beyond the datagram at byte 0"},
      {"message too short", [](Datagram& d) { d.header()->nlmsg_len = NLMSG_LENGTH(8); },
       "link message too short at byte 0"},
      {"attribute beyond its message", [](Datagram& d) { reinterpret_cast<rtattr*>(d.raw() + 32)->rta_len = 200; },
       "link attribute length beyond its message at byte 0"},
      {"unterminated name", [](Datagram& d) { std::memset(d.raw() + 36, 'x', 5); },
       "link name unterminated or longer than 15 bytes at byte 32"},
      {"empty name", [](Datagram& d) { d.raw()[36] = '\0'; }, "empty link name at byte 32"},
      {"index", [](Datagram& d) { static_cast<ifinfomsg*>(NLMSG_DATA(d.header()))->ifi_index = -1; },
       "link index not positive at byte 0"},
      {"no name", [](Datagram& d) { reinterpret_cast<rtattr*>(d.raw() + 32)->rta_type = IFLA_MTU; },
       "link message without a name at byte 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Datagram d;
    d.message(RTM_NEWLINK, 3, IFF_UP).name("eth0");
    c.spoil(d);
    try {
      d.parse();
      ADD_FAILURE() << "accepted";
    } catch (const IOException& e) {
      EXPECT_EQ(e.getMessage(), "parseLinkDatagram: " + c.message + ".");
    }
  }
  Datagram shortCounters;
  shortCounters.message(RTM_NEWLINK, 3).name("eth0").attribute(IFLA_STATS64, "12345678", 8);
  EXPECT_THROW(shortCounters.parse(), IOException);
  alignas(nlmsghdr) char header[12] = {};
  EXPECT_THROW(parseLinkDatagram(header, sizeof header), IOException) << "less than a header";
}

TEST(InterfacePatternTest, NamesTheKernelTakesAndATrailingStar) {
  InterfacePattern ppp = InterfacePattern::parse("m.interface", "ppp*");
  EXPECT_TRUE(ppp.matches("ppp0"));
  EXPECT_TRUE(ppp.matches("ppp"));
  EXPECT_FALSE(ppp.matches("pp"));
  EXPECT_FALSE(ppp.matches("wppp0"));
  InterfacePattern wg = InterfacePattern::parse("w.interface", "wg0");
  EXPECT_TRUE(wg.matches("wg0"));
  EXPECT_FALSE(wg.matches("wg01"));
  EXPECT_TRUE(InterfacePattern::parse("x", "abcdefghijklmno").matches("abcdefghijklmno"));

  const std::vector<std::pair<std::string, std::string>> refused = {
      {"", "it is empty"},
      {"abcdefghijklmnop", "it is longer than 15 bytes"},
      {".", "it is . or .."},
      {"..", "it is . or .."},
      {"a/b", "it contains '/'"},
      {"eth0:1", "it contains ':'"},
      {"wg 0", "it contains white space"},
      {"wg\t0", "it contains white space"},
      {"wg\xa0" "0", "it contains white space"},
      {std::string("wg\0" "0", 4), "it contains a zero byte"},
      {"p*p", "'*' may only stand at its end"},
      {"ppp**", "'*' may only stand at its end"},
  };
  for (const auto& [value, reason] : refused) {
    SCOPED_TRACE(value);
    try {
      InterfacePattern::parse("mobile.interface", value);
      ADD_FAILURE() << "accepted";
    } catch (const IllegalPropertyValueException& e) {
      EXPECT_EQ(e.getMessage(), "InterfacePattern: Key: mobile.interface with value '" + value +
                                    "' is no interface name: " + reason + ".");
    }
  }
}

}  // namespace
