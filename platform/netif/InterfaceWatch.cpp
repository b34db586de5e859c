#include "platform/netif/InterfaceWatch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "basis/Exceptions.h"
#include "basis/FileSystem.h"
#include "platform/netif/LinkEventFilter.h"

namespace {

// Big enough for any datagram the kernel sends: a dump fills at most 32 KiB.
constexpr size_t BUFFER_BYTES = 64 * 1024;
// A burst of events is read in slices, so timers get their turn.
constexpr int DATAGRAMS_PER_TURN = 64;

uint64_t since(uint64_t now, uint64_t then) { return now >= then ? now - then : 0; }

void add(LinkCounters& total, const LinkCounters& last, const LinkCounters& first) {
  total.rxBytes += since(last.rxBytes, first.rxBytes);
  total.txBytes += since(last.txBytes, first.txBytes);
}

}  // namespace

InterfaceWatch::InterfaceWatch(InterfacePattern pattern) : pattern_(std::move(pattern)) {
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd_ < 0) fail("socket", errno);
  // A larger queue makes overruns rarer; the system may cap it, which is fine.
  const int queueBytes = 1 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &queueBytes, sizeof queueBytes);
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK;
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) fail("bind", errno);
  refilter();
  if (!requestDump()) fail("sendto", errno);
  buffer_.resize(BUFFER_BYTES / sizeof(uint32_t));
  readable_ = std::make_unique<DescriptorWatch>(fd_, DescriptorWatch::Event::Readable, [this] {
    readArrived();
    notifyIfChanged();
    return true;
  });
}

InterfaceWatch::~InterfaceWatch() {
  readable_.reset();
  ::close(fd_);
}

void InterfaceWatch::fail(const char* call, int error) {
  if (fd_ >= 0) ::close(fd_);
  throw IOException(std::string("InterfaceWatch: Cannot watch the network interfaces (") + call +
                    "): " + fileutil::systemMessage(error) + ".");
}

bool InterfaceWatch::up() {
  readArrived();
  if (!failure_.empty()) throw IOException(failure_);
  reportedUp_ = anyUp();
  if (dumped_) announced_ = true;
  return reportedUp_;
}

LinkCounters InterfaceWatch::traffic() const {
  LinkCounters total = departed_;
  for (const auto& [index, link] : links_) {
    if (link.everUp) add(total, link.last, link.first);
  }
  return total;
}

void InterfaceWatch::readArrived() {
  for (int turn = 0; turn < DATAGRAMS_PER_TURN && failure_.empty(); ++turn) {
    sockaddr_nl sender{};
    iovec part{buffer_.data(), buffer_.size() * sizeof(uint32_t)};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t length = ::recvmsg(fd_, &message, MSG_DONTWAIT);
    if (length < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == ENOBUFS) {  // the kernel dropped events: ask for everything
        resync();
        continue;
      }
      stop("InterfaceWatch: Reading the link events failed: " + fileutil::systemMessage(errno) + ".");
      return;
    }
    if (sender.nl_pid != 0) continue;  // only the kernel is listened to
    if ((message.msg_flags & MSG_TRUNC) != 0) {
      resync();
      continue;
    }
    try {
      handle(parseLinkDatagram(buffer_.data(), static_cast<size_t>(length)));
    } catch (const std::exception&) {
      resync();  // what the datagram said is lost: the dump says it again
    }
  }
}

void InterfaceWatch::handle(const LinkDatagram& datagram) {
  for (const LinkRecord& record : datagram.links) apply(record);
  if (datagram.error != 0) {
    stop("InterfaceWatch: The kernel refused the list of links: " + fileutil::systemMessage(-datagram.error) + ".");
    return;
  }
  if (datagram.dumpInterrupted) dumpAgain_ = true;
  if (datagram.dumpDone && dumping_) finishDump();
}

void InterfaceWatch::apply(const LinkRecord& record) {
  auto found = links_.find(record.index);
  if (record.deleted || !pattern_.matches(record.name)) {
    // Gone, or renamed to a name that does not match.
    if (found == links_.end()) return;
    if (record.hasCounters) found->second.last = record.counters;
    leave(found);
    return;
  }
  if (dumping_) reported_.insert(record.index);
  if (found == links_.end()) {
    found = links_.emplace(record.index, Link{}).first;
    refilter();
  }
  Link& link = found->second;
  link.up = record.up();
  if (record.hasCounters) link.last = record.counters;
  if (link.up && !link.everUp) {
    link.everUp = true;
    link.first = link.last;
  }
}

void InterfaceWatch::leave(std::map<int32_t, Link>::iterator link) {
  if (link->second.everUp) add(departed_, link->second.last, link->second.first);
  links_.erase(link);
  refilter();
}

void InterfaceWatch::refilter() {
  // Only an optimisation: without the filter every event arrives.
  std::set<int32_t> followed;
  for (const auto& entry : links_) followed.insert(entry.first);
  attachLinkEventFilter(fd_, pattern_, followed);
}

void InterfaceWatch::finishDump() {
  dumping_ = false;
  dumped_ = true;
  // A link the dump did not list, and no event mentioned meanwhile, is gone;
  // its delete message was lost, so its last known counters are its last.
  for (auto link = links_.begin(); link != links_.end();) {
    auto next = std::next(link);
    if (reported_.count(link->first) == 0) leave(link);
    link = next;
  }
  reported_.clear();
  if (dumpAgain_) {
    dumpAgain_ = false;
    resync();
  }
}

bool InterfaceWatch::requestDump() {
  struct {
    nlmsghdr header;
    ifinfomsg info;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = ++sequence_;
  request.info.ifi_family = AF_UNSPEC;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd_, &request, request.header.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) < 0) {
    return false;
  }
  dumping_ = true;
  reported_.clear();
  return true;
}

void InterfaceWatch::resync() {
  if (dumping_) {
    dumpAgain_ = true;  // one dump at a time; this one may have missed events
    return;
  }
  ++resyncs_;
  if (!requestDump()) {
    stop("InterfaceWatch: Asking for the list of links failed: " + fileutil::systemMessage(errno) + ".");
  }
}

bool InterfaceWatch::anyUp() const {
  if (!dumped_) return false;
  for (const auto& [index, link] : links_) {
    if (link.up) return true;
  }
  return false;
}

void InterfaceWatch::notifyIfChanged() {
  const bool now = anyUp();
  if (now == reportedUp_ && (announced_ || !dumped_)) return;
  reportedUp_ = now;
  if (dumped_) announced_ = true;
  notifyChanged();
}

void InterfaceWatch::stop(std::string failure) {
  failure_ = std::move(failure);
  if (readable_) readable_->setEnabled(false);
  notifyChanged();  // the user's next look raises the failure
}
