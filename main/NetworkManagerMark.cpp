#include "main/NetworkManagerMark.h"

#include <optional>

#include "basis/Exceptions.h"
#include "main/InterfaceMark.h"
#include "platform/NetworkManagerProfiles.h"

namespace {

NetworkManagerProfile profileFor(const std::string& key, const std::string& profile) {
  std::optional<NetworkManagerProfile> found = findNetworkManagerProfile(profile);
  if (!found) throw IOException("Key: " + key + ": NetworkManager has no profile '" + profile + "'.");
  return *found;
}

}  // namespace

NetworkManagerMark::NetworkManagerMark(const std::string& key, const std::string& profile)
    : activation_(profileFor(key, profile)) {}

bool NetworkManagerMark::present() {
  // Told once: the report ends the program, looks until then find nothing.
  if (!activation_.failure().empty() && !failureTold_) {
    failureTold_ = true;
    throw IOException(activation_.failure());
  }
  const bool up = activation_.activated();
  if (up || traffic_.started()) count();
  return up;
}

void NetworkManagerMark::count() {
  if (const auto counters = readInterfaceCounters(activation_.ipInterface())) traffic_.sample(*counters);
}

std::vector<std::string> NetworkManagerMark::closingLines(const std::string& connectionName) {
  if (!traffic_.started()) return {};
  count();
  return {trafficLine(connectionName, traffic_.total())};
}
