#pragma once
// NetworkManager on the system bus (the bus of $DBUS_SYSTEM_BUS_ADDRESS where
// that is set, else the standard one): calls whose replies arrive on the
// event loop, and its connection profiles, read from its settings service.
//
// Every call is tied to a context object: replies that come after the
// context has been destroyed are never handled. Calls never start
// NetworkManager through bus activation: when it does not own its name, the
// answer is an error that networkManagerFailure() words as "not running".

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace networkmanager {
inline const QString SERVICE = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString PATH = QStringLiteral("/org/freedesktop/NetworkManager");
inline const QString INTERFACE = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString SETTINGS_PATH = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
inline const QString SETTINGS = QStringLiteral("org.freedesktop.NetworkManager.Settings");
inline const QString PROFILE = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
inline const QString ACTIVE = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
inline const QString DEVICE = QStringLiteral("org.freedesktop.NetworkManager.Device");
inline const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int CALL_MILLIS = 5000;
}  // namespace networkmanager

struct NetworkManagerProfile {
  std::string path;  // the settings object
  std::string id;    // as the user named it
  std::string uuid;
  std::string type;  // "vpn" for every VPN plug-in, "ethernet", "wifi", ...
};

// The profiles in NetworkManager's order, or why there are none.
struct NetworkManagerListing {
  std::vector<NetworkManagerProfile> profiles;
  std::string failure;  // empty when NetworkManager answered
};

using NetworkManagerReply = std::function<void(const QDBusMessage& reply)>;

// The system bus; not connected when there is none.
QDBusConnection networkManagerBus();
// Why NetworkManager cannot be reached when there is no system bus; empty
// when there is one.
std::string networkManagerUnreachable();
// A method call to NetworkManager; `done` gets the reply or the error (also
// on a timeout) on the event loop, unless `context` is gone by then.
void networkManagerCall(QObject* context, const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments, NetworkManagerReply done,
                        int timeoutMillis = networkmanager::CALL_MILLIS);
// One property: `done` gets its value, or an invalid QVariant when the
// object does not answer.
void networkManagerProperty(QObject* context, const QString& path, const QString& interface, const QString& name,
                            std::function<void(const QVariant& value)> done);
// Why an error reply came when the reason is that NetworkManager is not
// there: no system bus, or NetworkManager not running (not owning its name);
// empty for any other reply.
std::string networkManagerAbsence(const QDBusMessage& reply);
// What an error reply of `method` means for a report: the absence, else the
// error as the bus told it.
std::string networkManagerFailure(const QDBusMessage& reply, const QString& method);

// Lists the profiles. `savedOnly` leaves out those that NetworkManager made
// itself for what it found configured (a VPN's tunnel, the loopback device).
// The listing fails, with the failure worded, when NetworkManager is not
// running or does not answer.
void listNetworkManagerProfiles(QObject* context, bool savedOnly,
                                std::function<void(const NetworkManagerListing& listing)> done);
// Looks for the profile whose id or UUID is `idOrUuid` (the UUID first):
// `done` gets it, or none with the listing's failure (empty when
// NetworkManager answered but has no such profile).
void findNetworkManagerProfile(
    QObject* context, const std::string& idOrUuid,
    std::function<void(const std::optional<NetworkManagerProfile>& profile, const std::string& failure)> done);
// The type name users write for a settings type ("802-3-ethernet" -> "ethernet").
std::string networkManagerTypeName(const std::string& settingsType);
