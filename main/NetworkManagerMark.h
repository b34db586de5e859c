#pragma once
// A NetworkManager profile's active connection as a connection's mark:
// present while it is ACTIVATED (NetworkManagerActivation). Starting the
// connection means activating the profile. When the connection has ended it
// tells the connection log, in the line an interface mark writes, what went
// through the connection's own IP interface: the kernel's counters, read at
// the first look that saw it ACTIVATED and at every look after (each state
// change brings one, so the last is taken while the device still exists).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/ConnectionMark.h"
#include "platform/networkmanager/NetworkManagerActivation.h"
#include "platform/networkmanager/TrafficTally.h"

class NetworkManagerMark : public ConnectionMark {
 public:
  // The mark of the profile configured under `key` (its id or UUID), or why
  // there is none: NetworkManager not running (naming it), no such profile
  // (naming the key). Handed to `done` on the event loop, unless `context`
  // is gone by then.
  using Found = std::function<void(std::unique_ptr<NetworkManagerMark> mark, const std::string& failure)>;
  static void lookUp(QObject* context, const std::string& key, const std::string& profile, Found done);

  explicit NetworkManagerMark(NetworkManagerProfile profile) : activation_(std::move(profile)) {}

  // Activates the profile, or follows its active connection when it is up
  // already. Returns at once: the result arrives on the event loop.
  void activate() { activation_.activate(); }

  // Throws IOException naming the profile and NetworkManager's reason at the
  // first look after the activation has failed.
  bool present() override;
  void setChangeHandler(std::function<void()> handler) override { activation_.setChangeHandler(std::move(handler)); }
  // The traffic line, as for interface marks.
  std::vector<std::string> closingLines(const std::string& connectionName) override;

 private:
  void count();

  NetworkManagerActivation activation_;
  TrafficTally traffic_;  // from the first look that saw it ACTIVATED
  bool failureTold_ = false;
};
