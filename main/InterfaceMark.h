#pragma once
// A connection's network interface as its mark: present while a matching
// interface is up (InterfaceWatch). When the connection has ended it tells
// the connection log what went through the interfaces.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "main/ConnectionMark.h"
#include "platform/netif/InterfaceWatch.h"

// The connection log's line for what went through a connection:
// "traffic connection @<name>: <R> bytes received, <S> bytes sent".
std::string trafficLine(const std::string& connectionName, const LinkCounters& bytes);

class InterfaceMark : public ConnectionMark {
 public:
  // Opens the kernel's link events at once, so that a failure is known
  // before the connection's target starts and an interface that is already
  // up counts from the first look. Throws IOException naming the cause.
  explicit InterfaceMark(const InterfacePattern& pattern) : watch_(pattern) {}

  bool present() override { return watch_.up(); }
  void setChangeHandler(std::function<void()> handler) override { watch_.setChangeHandler(std::move(handler)); }
  // "traffic connection @<name>: <R> bytes received, <S> bytes sent".
  std::vector<std::string> closingLines(const std::string& connectionName) override;

 private:
  InterfaceWatch watch_;
};
