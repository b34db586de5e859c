#pragma once
// The bytes that went through one network interface between a first sample
// of its kernel counters and the last one that still counted them. Counters
// that drop (the device went, and a reader sees zeros, or a new device of the
// same name starts from zero) end the counting: the total stays what the
// samples before showed, never turns into nothing.

#include <optional>
#include <string>

#include "platform/netif/LinkMessages.h"

class TrafficTally {
 public:
  // The first sample sets the base; later ones the end, as long as neither
  // counter went down since the one before. After a drop, nothing counts.
  void sample(const LinkCounters& counters);
  bool started() const { return first_.has_value(); }
  LinkCounters total() const;

 private:
  std::optional<LinkCounters> first_;
  LinkCounters last_;
  bool ended_ = false;
};

// The kernel's byte counters of `interface` in this network namespace
// (/sys/class/net); none when it does not exist (any more).
std::optional<LinkCounters> readInterfaceCounters(const std::string& interface);
