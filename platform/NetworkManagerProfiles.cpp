#include "platform/NetworkManagerProfiles.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QMap>
#include <QVariantMap>

#include "basis/Exceptions.h"

namespace {

using SettingsMap = QMap<QString, QVariantMap>;

// Flags of profiles NetworkManager made itself: NM_GENERATED, VOLATILE, EXTERNAL.
constexpr uint32_t kGeneratedFlags = 0x2 | 0x4 | 0x8;

QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QList<QVariant>& arguments = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(networkmanager::kService, path, interface, method);
  message.setArguments(arguments);
  QDBusMessage reply = networkManagerBus().call(message, QDBus::Block, networkmanager::kCallMillis);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    throw IOException("NetworkManager: " + method.toStdString() + " failed: " + reply.errorMessage().toStdString());
  }
  return reply;
}

SettingsMap settingsOf(const QString& path) {
  static const int registered = (qDBusRegisterMetaType<SettingsMap>(), 0);
  (void)registered;
  QDBusMessage reply = call(path, networkmanager::kProfile, "GetSettings");
  SettingsMap settings;
  if (!reply.arguments().isEmpty()) {
    const QDBusArgument argument = reply.arguments().front().value<QDBusArgument>();
    argument >> settings;
  }
  return settings;
}

uint32_t flagsOf(const QString& path) {
  QDBusMessage reply =
      call(path, networkmanager::kProperties, "Get", {networkmanager::kProfile, QStringLiteral("Flags")});
  return reply.arguments().isEmpty() ? 0 : reply.arguments().front().value<QDBusVariant>().variant().toUInt();
}

}  // namespace

QDBusConnection networkManagerBus() { return QDBusConnection::systemBus(); }

bool networkManagerRunning() {
  QDBusConnection bus = networkManagerBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  QDBusReply<bool> registered = bus.interface()->isServiceRegistered(networkmanager::kService);
  return registered.isValid() && registered.value();
}

void requireNetworkManager() {
  if (!networkManagerBus().isConnected()) {
    throw IOException("NetworkManager cannot be reached: there is no system bus (" +
                      networkManagerBus().lastError().message().toStdString() + ").");
  }
  if (!networkManagerRunning()) {
    throw IOException("NetworkManager is not running: org.freedesktop.NetworkManager is not on the system bus.");
  }
}

std::vector<NetworkManagerProfile> networkManagerProfiles(bool savedOnly) {
  requireNetworkManager();
  QDBusMessage reply = call(networkmanager::kSettingsPath, networkmanager::kSettings, "ListConnections");
  QList<QDBusObjectPath> paths;
  if (!reply.arguments().isEmpty()) reply.arguments().front().value<QDBusArgument>() >> paths;
  std::vector<NetworkManagerProfile> profiles;
  for (const QDBusObjectPath& path : paths) {
    try {
      if (savedOnly && (flagsOf(path.path()) & kGeneratedFlags) != 0) continue;
      const QVariantMap connection = settingsOf(path.path()).value(QStringLiteral("connection"));
      profiles.push_back({path.path().toStdString(), connection.value("id").toString().toStdString(),
                          connection.value("uuid").toString().toStdString(),
                          networkManagerTypeName(connection.value("type").toString().toStdString())});
    } catch (const IOException&) {
      // Removed between the list and the question: no longer a profile.
    }
  }
  return profiles;
}

std::optional<NetworkManagerProfile> findNetworkManagerProfile(const std::string& idOrUuid) {
  const std::vector<NetworkManagerProfile> profiles = networkManagerProfiles(false);
  for (const NetworkManagerProfile& profile : profiles) {
    if (profile.uuid == idOrUuid) return profile;
  }
  for (const NetworkManagerProfile& profile : profiles) {
    if (profile.id == idOrUuid) return profile;
  }
  return std::nullopt;
}

std::string networkManagerTypeName(const std::string& settingsType) {
  if (settingsType == "802-3-ethernet") return "ethernet";
  if (settingsType == "802-11-wireless") return "wifi";
  if (settingsType == "802-11-olpc-mesh") return "olpc-mesh";
  return settingsType;
}
