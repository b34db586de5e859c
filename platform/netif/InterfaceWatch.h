#pragma once
// The network interfaces of one connection, kept current from the kernel's
// own link events: an rtnetlink socket (NETLINK_ROUTE, link group) read
// whenever Qt's event loop finds it readable. A full link dump at the start
// and after every overrun (ENOBUFS, a cut datagram, an interrupted dump)
// replaces what may have been missed, so no lost event leaves a stale state.
//
// A socket filter (LinkEventFilter) keeps the events of other interfaces in
// the kernel.
//
// An interface counts as up while it exists, is administratively up and has
// its carrier (IFF_UP and IFF_LOWER_UP). The change handler (ChangeNotifier)
// is called when the answer of up() changes, and once when the first dump
// has been read; events about other interfaces never call it.
//
// The watch also counts the bytes through the matching interfaces: for
// each one, its 64-bit counters in its latest message minus those in the
// first message that showed it up to this watch. The counters of a deleted
// interface are those of the kernel's delete message.
//
// Not thread-safe; it belongs to the thread that made it.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ChangeNotifier.h"
#include "platform/DescriptorWatch.h"
#include "platform/netif/InterfacePattern.h"
#include "platform/netif/LinkMessages.h"


class InterfaceWatch : public ChangeNotifier {
 public:
  // Opens the socket and asks for the current links; the answer arrives on
  // the event loop. Throws IOException naming the cause when the socket
  // cannot be opened or the request cannot be sent.
  explicit InterfaceWatch(InterfacePattern pattern);
  ~InterfaceWatch() override;
  InterfaceWatch(const InterfaceWatch&) = delete;
  InterfaceWatch& operator=(const InterfaceWatch&) = delete;

  // Reads what has arrived (without waiting), then answers whether a
  // matching interface is up. False until the first dump has been read.
  // Throws IOException once reading the socket has failed.
  bool up();
  // Bytes received and sent through the matching interfaces since each was
  // first seen up by this watch, the departed ones included.
  LinkCounters traffic() const;

  const InterfacePattern& pattern() const noexcept { return pattern_; }
  // Dumps asked for after the first one (overruns and interrupted dumps).
  int resyncs() const noexcept { return resyncs_; }

 private:
  struct Link {
    std::string name;
    bool up = false;
    bool everUp = false;
    LinkCounters first;  // at the first message that showed it up
    LinkCounters last;
  };

  void readArrived();
  void handle(const LinkDatagram& datagram);
  void apply(const LinkRecord& record);
  // Counts the traffic of a matching link that is gone and forgets it.
  void leave(std::map<int32_t, Link>::iterator link);
  void finishDump();
  // Lets the kernel drop the events of links that neither match nor are followed.
  void refilter();
  // Sends the dump request; false (with errno) when it cannot be sent.
  bool requestDump();
  // Asks for a new dump now, or after the one running.
  void resync();
  bool anyUp() const;
  void notifyIfChanged();
  [[noreturn]] void fail(const char* call, int error);
  // Reading has failed for good: up() raises `failure` from now on.
  void stop(std::string failure);

  InterfacePattern pattern_;
  int fd_ = -1;
  uint32_t sequence_ = 0;
  std::unique_ptr<DescriptorWatch> readable_;
  std::map<int32_t, Link> links_;  // the matching links, by interface index
  LinkCounters departed_;          // traffic of matching links that are gone
  bool dumped_ = false;            // the first dump has been read
  bool dumping_ = false;
  bool dumpAgain_ = false;         // an overrun while a dump was running
  std::set<int32_t> reported_;     // indexes heard of while the dump runs
  bool reportedUp_ = false;        // up() as last notified or answered
  bool announced_ = false;         // the first dump's result was told
  int resyncs_ = 0;
  std::string failure_;
  std::vector<uint32_t> buffer_;   // one datagram, aligned for netlink headers
};
