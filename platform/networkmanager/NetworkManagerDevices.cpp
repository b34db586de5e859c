#include "platform/networkmanager/NetworkManagerDevices.h"

namespace {

bool isObject(const std::string& path) { return !path.empty() && path != "/"; }

}  // namespace

std::string networkManagerTrafficDevice(const NetworkManagerActiveConfig& active,
                                        const std::vector<NetworkManagerDeviceConfig>& devices) {
  if (!active.vpn) return active.devices.empty() ? std::string() : active.devices.front();
  // The uplink has configurations of its own, never the VPN's.
  for (const NetworkManagerDeviceConfig& device : devices) {
    if (isObject(active.ip4Config) && device.ip4Config == active.ip4Config) return device.path;
  }
  for (const NetworkManagerDeviceConfig& device : devices) {
    if (isObject(active.ip6Config) && device.ip6Config == active.ip6Config) return device.path;
  }
  return std::string();
}
