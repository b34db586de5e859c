// The reader of the kernel's link messages on arbitrary datagrams: message
// and attribute framing, names, counters, the end of a dump and errors.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/netif/LinkMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A datagram arrives in a buffer aligned for netlink headers.
  std::vector<uint32_t> aligned((size + 3) / 4);
  if (size > 0) std::memcpy(aligned.data(), data, size);
  try {
    LinkDatagram datagram = parseLinkDatagram(aligned.data(), size);
    for (const LinkRecord& link : datagram.links) {
      if (link.index <= 0 || link.name.empty() || link.name.size() > 15) __builtin_trap();
    }
  } catch (const IOException&) {
  }
  return 0;
}
