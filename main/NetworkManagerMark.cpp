#include "main/NetworkManagerMark.h"

#include <optional>

#include "basis/Exceptions.h"
#include "main/InterfaceMark.h"
#include "platform/networkmanager/NetworkManagerProfiles.h"

void NetworkManagerMark::lookUp(QObject* context, const std::string& key, const std::string& profile, Found done) {
  findNetworkManagerProfile(context, profile,
                            [key, profile, done = std::move(done)](const std::optional<NetworkManagerProfile>& found,
                                                                   const std::string& failure) {
                              if (found) return done(std::make_unique<NetworkManagerMark>(*found), std::string());
                              done(nullptr, !failure.empty()
                                                ? failure
                                                : "Key: " + key + ": NetworkManager has no profile '" + profile + "'.");
                            });
}

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
