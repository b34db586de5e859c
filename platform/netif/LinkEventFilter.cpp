#include "platform/netif/LinkEventFilter.h"

#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <utility>

namespace {

// Offsets in a link message: the netlink header, then ifinfomsg, then the
// first attribute's header and data.
constexpr uint32_t TYPE_AT = offsetof(nlmsghdr, nlmsg_type);
constexpr uint32_t FLAGS_AT = offsetof(nlmsghdr, nlmsg_flags);
constexpr uint32_t INDEX_AT = NLMSG_HDRLEN + offsetof(ifinfomsg, ifi_index);
constexpr uint32_t ATTRIBUTE_AT = NLMSG_LENGTH(sizeof(ifinfomsg));
constexpr uint32_t NAME_TYPE_AT = ATTRIBUTE_AT + offsetof(rtattr, rta_type);
constexpr uint32_t NAME_AT = ATTRIBUTE_AT + RTA_LENGTH(0);

// With more indexes to follow than this, every event is let through.
constexpr size_t MAX_INDEXES = 64;

constexpr uint32_t ACCEPT = 0xffffffff;
constexpr uint32_t REJECT = 0;

// Filter code whose forward jumps are resolved once the targets are known.
class Program {
 public:
  void load(uint16_t size, uint32_t at) { code_.push_back(BPF_STMT(BPF_LD | size | BPF_ABS, at)); }
  void ret(uint32_t verdict) { code_.push_back(BPF_STMT(BPF_RET | BPF_K, verdict)); }
  // A conditional jump; returns it for target().
  size_t test(uint16_t operation, uint32_t k) {
    code_.push_back(BPF_JUMP(BPF_JMP | operation | BPF_K, k, 0, 0));
    return code_.size() - 1;
  }
  // The next instruction's position, a jump target.
  size_t here() const { return code_.size(); }
  // Sends jump `at` to `to` when its test holds (or fails); jumps go forward
  // only, counted from the instruction after them.
  void whenTrue(size_t at, size_t to) { code_[at].jt = static_cast<uint8_t>(to - at - 1); }
  void whenFalse(size_t at, size_t to) { code_[at].jf = static_cast<uint8_t>(to - at - 1); }
  std::vector<sock_filter> take() { return std::move(code_); }

 private:
  std::vector<sock_filter> code_;
};

}  // namespace

std::vector<sock_filter> linkEventFilter(const InterfacePattern& pattern, const std::set<int32_t>& indexes) {
  Program program;
  if (indexes.size() > MAX_INDEXES) {
    program.ret(ACCEPT);
    return program.take();
  }
  // The bytes a matching name starts with; for a plain name its zero too.
  std::string compared = pattern.text();
  if (pattern.isPrefix()) {
    compared.pop_back();
  } else {
    compared.push_back('\0');
  }
  // Halves and words load big-endian while the messages are in host order,
  // so the constants they meet are turned alike (htons, htonl).
  std::vector<size_t> toIndexes;
  program.load(BPF_H, TYPE_AT);
  const size_t isNew = program.test(BPF_JEQ, htons(RTM_NEWLINK));
  const size_t isDeleted = program.test(BPF_JEQ, htons(RTM_DELLINK));
  program.whenTrue(isNew, program.here());
  program.load(BPF_H, FLAGS_AT);
  const size_t inDump = program.test(BPF_JSET, htons(NLM_F_MULTI));
  program.load(BPF_H, NAME_TYPE_AT);
  const size_t hasName = program.test(BPF_JEQ, htons(IFLA_IFNAME));
  for (size_t i = 0; i < compared.size(); ++i) {
    program.load(BPF_B, NAME_AT + static_cast<uint32_t>(i));
    toIndexes.push_back(program.test(BPF_JEQ, static_cast<unsigned char>(compared[i])));
  }
  program.ret(ACCEPT);  // the name matches
  const size_t indexChecks = program.here();
  program.load(BPF_W, INDEX_AT);
  std::vector<size_t> followed;
  for (int32_t index : indexes) followed.push_back(program.test(BPF_JEQ, htonl(static_cast<uint32_t>(index))));
  program.ret(REJECT);
  const size_t accept = program.here();
  program.ret(ACCEPT);

  program.whenFalse(isDeleted, accept);
  program.whenTrue(inDump, accept);
  program.whenFalse(hasName, accept);
  for (size_t at : toIndexes) program.whenFalse(at, indexChecks);
  for (size_t at : followed) program.whenTrue(at, accept);
  return program.take();
}

bool attachLinkEventFilter(int fd, const InterfacePattern& pattern, const std::set<int32_t>& indexes) {
  std::vector<sock_filter> code = linkEventFilter(pattern, indexes);
  sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
  return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}
