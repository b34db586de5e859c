#pragma once
// NetworkManager's connection profiles, read from its settings service on
// the system bus (the bus of $DBUS_SYSTEM_BUS_ADDRESS where that is set,
// else the standard one). Calls block for at most a few seconds each.

#include <QDBusConnection>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace networkmanager {
inline const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
inline const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
inline const QString kSettings = QStringLiteral("org.freedesktop.NetworkManager.Settings");
inline const QString kProfile = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
inline const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
inline const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallMillis = 5000;
}  // namespace networkmanager

struct NetworkManagerProfile {
  std::string path;  // the settings object
  std::string id;    // as the user named it
  std::string uuid;
  std::string type;  // "vpn" for every VPN plug-in, "ethernet", "wifi", ...
};

// The system bus; not connected when there is none.
QDBusConnection networkManagerBus();
// NetworkManager owns its name on the system bus.
bool networkManagerRunning();
// Throws IOException naming NetworkManager unless it is running.
void requireNetworkManager();

// The profiles in NetworkManager's order. `savedOnly` leaves out those that
// NetworkManager made itself for what it found configured (a VPN's tunnel,
// the loopback device). Throws IOException when NetworkManager is not
// running or does not answer.
std::vector<NetworkManagerProfile> networkManagerProfiles(bool savedOnly);
// The profile whose id or UUID is `idOrUuid` (the UUID first); none when no
// profile has it. Throws as networkManagerProfiles.
std::optional<NetworkManagerProfile> findNetworkManagerProfile(const std::string& idOrUuid);
// The type name users write for a settings type ("802-3-ethernet" -> "ethernet").
std::string networkManagerTypeName(const std::string& settingsType);
