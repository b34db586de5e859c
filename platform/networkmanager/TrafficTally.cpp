#include "platform/networkmanager/TrafficTally.h"

#include <fstream>

void TrafficTally::sample(const LinkCounters& counters) {
  if (!first_) {
    first_ = counters;
    last_ = counters;
    return;
  }
  if (ended_) return;
  if (counters.rxBytes < last_.rxBytes || counters.txBytes < last_.txBytes) {
    ended_ = true;
    return;
  }
  last_ = counters;
}

LinkCounters TrafficTally::total() const {
  if (!first_) return LinkCounters();
  return {last_.rxBytes - first_->rxBytes, last_.txBytes - first_->txBytes};
}

namespace {

std::optional<uint64_t> readCounter(const std::string& path) {
  std::ifstream file(path);
  uint64_t value = 0;
  if (!(file >> value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<LinkCounters> readInterfaceCounters(const std::string& interface) {
  // A name from outside must not walk the folder tree.
  if (interface.empty() || interface.find('/') != std::string::npos || interface == "." || interface == "..") {
    return std::nullopt;
  }
  const std::string folder = "/sys/class/net/" + interface + "/statistics/";
  const std::optional<uint64_t> received = readCounter(folder + "rx_bytes");
  const std::optional<uint64_t> sent = readCounter(folder + "tx_bytes");
  if (!received || !sent) return std::nullopt;
  return LinkCounters{*received, *sent};
}
