#include "platform/networkmanager/NetworkManagerReasons.h"

#include <array>

std::string networkManagerReasonText(uint32_t reason) {
  static constexpr std::array<const char*, 15> TEXTS = {
      "the reason is unknown",                                           // 0
      "no reason was given",                                             // 1
      "the user disconnected it",                                        // 2
      "the device it used was disconnected",                             // 3
      "the service providing the VPN connection stopped",                // 4
      "its IP configuration was invalid",                                // 5
      "the VPN connection attempt timed out",                            // 6
      "the service providing the VPN connection did not start in time",  // 7
      "the service providing the VPN connection could not be started",   // 8
      "secrets were required but not provided",                          // 9
      "the login to the server failed",                                  // 10
      "the profile was deleted",                                         // 11
      "the connection it depends on could not be activated",             // 12
      "its software device could not be created",                        // 13
      "the device it depended on disappeared",                           // 14
  };
  if (reason < TEXTS.size()) return TEXTS[reason];
  return "NetworkManager gave reason " + std::to_string(reason);
}
