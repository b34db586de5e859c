#pragma once
// The kernel's link messages (rtnetlink RTM_NEWLINK and RTM_DELLINK) read
// out of one netlink datagram, with the answers to a link dump (its end,
// an error) that arrive on the same socket.
//
// Only what the interface watch needs is kept: index, name, flags and the
// byte counters. Messages of other types and links of other families (a
// bridge's port messages) are skipped; a datagram whose framing or
// attributes do not hold together is refused as a whole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LinkCounters {
  uint64_t rxBytes = 0;
  uint64_t txBytes = 0;
};

struct LinkRecord {
  bool deleted = false;  // RTM_DELLINK: the link is gone
  int32_t index = 0;     // > 0
  std::string name;      // 1 to 15 bytes
  uint32_t flags = 0;    // IFF_*
  bool hasCounters = false;
  LinkCounters counters;  // IFLA_STATS64

  // Administratively up and with its carrier (IFF_UP and IFF_LOWER_UP).
  bool up() const noexcept;
};

struct LinkDatagram {
  std::vector<LinkRecord> links;  // in the order of the datagram
  bool dumpDone = false;          // NLMSG_DONE: a dump has ended
  bool dumpInterrupted = false;   // NLM_F_DUMP_INTR: the links changed while it ran
  int error = 0;                  // an NLMSG_ERROR's negative errno (0: none or an ack)
};

// Reads one datagram of `size` bytes at `data`, which must be aligned for a
// netlink header (4 bytes). Throws IOException saying what is wrong and at
// which byte when the datagram is malformed: a length beyond what is left,
// a message or attribute too short for its header, an interface index that
// is not positive, a name that is missing, empty, unterminated or longer
// than 15 bytes, counters too short for the byte counts, an error code out
// of range. Nothing is allocated beyond what the datagram holds.
LinkDatagram parseLinkDatagram(const void* data, size_t size);
