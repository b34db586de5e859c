#include "platform/netif/LinkMessages.h"

#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <string_view>

#include "basis/Exceptions.h"

namespace {

[[noreturn]] void refuse(const char* what, size_t at) {
  throw IOException(std::string("parseLinkDatagram: ") + what + " at byte " + std::to_string(at) + ".");
}

// The byte counters of IFLA_STATS64: older kernels send a shorter struct,
// newer ones a longer one, so only what is there is copied.
void readCounters(const rtattr* attribute, LinkRecord& link, size_t at) {
  constexpr size_t needed = offsetof(rtnl_link_stats64, tx_bytes) + sizeof(uint64_t);
  const size_t length = RTA_PAYLOAD(attribute);
  if (length < needed) refuse("link counters too short", at);
  rtnl_link_stats64 stats{};
  std::memcpy(&stats, RTA_DATA(attribute), std::min(length, sizeof stats));
  link.counters = LinkCounters{stats.rx_bytes, stats.tx_bytes};
  link.hasCounters = true;
}

void readName(const rtattr* attribute, LinkRecord& link, size_t at) {
  const char* text = static_cast<const char*>(RTA_DATA(attribute));
  const size_t length = RTA_PAYLOAD(attribute);
  const void* end = std::memchr(text, '\0', std::min<size_t>(length, IFNAMSIZ));
  if (end == nullptr) refuse("link name unterminated or longer than 15 bytes", at);
  link.name.assign(text, static_cast<const char*>(end));
  if (link.name.empty()) refuse("empty link name", at);
}

// One RTM_NEWLINK or RTM_DELLINK; `at` is the message's offset in the datagram.
void readLink(const nlmsghdr* message, size_t at, LinkDatagram& out) {
  if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) refuse("link message too short", at);
  const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
  if (info->ifi_family != AF_UNSPEC) return;  // e.g. a bridge port's view of the link
  LinkRecord link;
  link.deleted = message->nlmsg_type == RTM_DELLINK;
  link.index = info->ifi_index;
  link.flags = info->ifi_flags;
  if (link.index <= 0) refuse("link index not positive", at);

  int left = static_cast<int>(IFLA_PAYLOAD(message));
  const size_t attributesAt = at + NLMSG_LENGTH(sizeof(ifinfomsg));
  for (const rtattr* attribute = IFLA_RTA(info); RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
    const size_t attributeAt =
        attributesAt + static_cast<size_t>(reinterpret_cast<const char*>(attribute) -
                                           reinterpret_cast<const char*>(IFLA_RTA(info)));
    switch (attribute->rta_type & NLA_TYPE_MASK) {
      case IFLA_IFNAME: readName(attribute, link, attributeAt); break;
      case IFLA_STATS64: readCounters(attribute, link, attributeAt); break;
      default: break;
    }
  }
  // What RTA_OK stopped at must be the end (or the padding of the last attribute).
  if (left > 0) refuse("link attribute length beyond its message", at);
  if (link.name.empty()) refuse("link message without a name", at);
  out.links.push_back(std::move(link));
}

void readError(const nlmsghdr* message, size_t at, LinkDatagram& out) {
  if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) refuse("error message too short", at);
  const int error = static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
  if (error > 0 || error < -4095) refuse("error code out of range", at);
  out.error = error;
}

}  // namespace

bool LinkRecord::up() const noexcept { return (flags & IFF_UP) != 0 && (flags & IFF_LOWER_UP) != 0; }

// NLMSG_OK compares the unsigned message length with the signed count of
// bytes left, which must be signed for NLMSG_NEXT to step past the end.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
LinkDatagram parseLinkDatagram(const void* data, size_t size) {
  if (reinterpret_cast<uintptr_t>(data) % NLMSG_ALIGNTO != 0) {
    throw IllegalArgumentException("parseLinkDatagram: Datagram not aligned.");
  }
  LinkDatagram out;
  if (size > INT32_MAX) refuse("datagram too long", 0);
  int left = static_cast<int>(size);
  const auto* first = static_cast<const nlmsghdr*>(data);
  for (const nlmsghdr* message = first; NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
    const size_t at =
        static_cast<size_t>(reinterpret_cast<const char*>(message) - reinterpret_cast<const char*>(first));
    if ((message->nlmsg_flags & NLM_F_DUMP_INTR) != 0) out.dumpInterrupted = true;
    switch (message->nlmsg_type) {
      case RTM_NEWLINK:
      case RTM_DELLINK: readLink(message, at, out); break;
      case NLMSG_DONE: out.dumpDone = true; break;
      case NLMSG_ERROR: readError(message, at, out); break;
      default: break;  // NLMSG_NOOP and whatever else the kernel may add
    }
  }
  if (left > 0) refuse("message length beyond the datagram", size - static_cast<size_t>(left));
  return out;
}
#pragma GCC diagnostic pop
