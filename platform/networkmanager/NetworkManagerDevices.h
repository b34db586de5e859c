#pragma once
// Which of NetworkManager's devices carries an active connection's own IP
// traffic. For a device profile that is its device. A VPN's active
// connection names the uplink as its device, though, while its traffic goes
// through a tunnel device of its own: the device whose IP configuration is
// the VPN's (the same Ip4Config object, or Ip6Config where the VPN has no
// IPv4).

#include <string>
#include <vector>

struct NetworkManagerDeviceConfig {
  std::string path;       // the device's object path
  std::string ip4Config;  // its Ip4Config object path ("/" when none)
  std::string ip6Config;
};

struct NetworkManagerActiveConfig {
  bool vpn = false;
  std::vector<std::string> devices;  // the active connection's Devices
  std::string ip4Config;
  std::string ip6Config;
};

// The device path; empty when none fits (a VPN whose tunnel has no device).
std::string networkManagerTrafficDevice(const NetworkManagerActiveConfig& active,
                                        const std::vector<NetworkManagerDeviceConfig>& devices);
