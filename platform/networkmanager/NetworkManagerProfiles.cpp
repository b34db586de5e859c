#include "platform/networkmanager/NetworkManagerProfiles.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <memory>
#include <utility>

namespace nm = networkmanager;

namespace {

using SettingsMap = QMap<QString, QVariantMap>;

// Flags of profiles NetworkManager made itself: NM_GENERATED, VOLATILE, EXTERNAL.
constexpr uint32_t GENERATED_FLAGS = 0x2 | 0x4 | 0x8;

bool answered(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

// One listing under way: the answers for each listed path, in the list's order.
struct Gathering {
  struct Entry {
    std::optional<NetworkManagerProfile> profile;
    uint32_t flags = 0;
    bool gone = false;  // removed between the list and the question
  };
  std::vector<Entry> entries;
  size_t waiting = 0;
  std::function<void(const NetworkManagerListing&)> done;

  void arrived() {
    if (--waiting > 0) return;
    NetworkManagerListing listing;
    for (Entry& entry : entries) {
      if (!entry.gone && entry.profile && (entry.flags & GENERATED_FLAGS) == 0) {
        listing.profiles.push_back(std::move(*entry.profile));
      }
    }
    done(listing);
  }
};

void gatherProfile(QObject* context, const std::shared_ptr<Gathering>& gathering, size_t index, const QString& path,
                   bool savedOnly) {
  static const int registered = (qDBusRegisterMetaType<SettingsMap>(), 0);
  (void)registered;
  networkManagerCall(context, path, nm::PROFILE, "GetSettings", {}, [gathering, index, path](const QDBusMessage& reply) {
    Gathering::Entry& entry = gathering->entries[index];
    if (!answered(reply)) {
      entry.gone = true;
    } else {
      SettingsMap settings;
      reply.arguments().front().value<QDBusArgument>() >> settings;
      const QVariantMap connection = settings.value(QStringLiteral("connection"));
      entry.profile = NetworkManagerProfile{path.toStdString(), connection.value("id").toString().toStdString(),
                                            connection.value("uuid").toString().toStdString(),
                                            networkManagerTypeName(connection.value("type").toString().toStdString())};
    }
    gathering->arrived();
  });
  if (!savedOnly) return;
  networkManagerCall(context, path, nm::PROPERTIES, "Get", {nm::PROFILE, QStringLiteral("Flags")},
                     [gathering, index](const QDBusMessage& reply) {
                       Gathering::Entry& entry = gathering->entries[index];
                       if (answered(reply)) {
                         entry.flags = reply.arguments().front().value<QDBusVariant>().variant().toUInt();
                       } else {
                         entry.gone = true;
                       }
                       gathering->arrived();
                     });
}

}  // namespace

QDBusConnection networkManagerBus() { return QDBusConnection::systemBus(); }

std::string networkManagerUnreachable() {
  QDBusConnection bus = networkManagerBus();
  if (bus.isConnected()) return std::string();
  return "NetworkManager cannot be reached: there is no system bus (" + bus.lastError().message().toStdString() + ").";
}

void networkManagerCall(QObject* context, const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments, NetworkManagerReply done, int timeoutMillis) {
  QDBusConnection bus = networkManagerBus();
  if (!bus.isConnected()) {
    // A call on no connection has nothing to watch: the error comes on the event loop all the same.
    QTimer::singleShot(0, context, [done = std::move(done)] {
      done(QDBusMessage::createError(QDBusError::Disconnected, QStringLiteral("Not connected to D-Bus server")));
    });
    return;
  }
  QDBusMessage message = QDBusMessage::createMethodCall(nm::SERVICE, path, interface, method);
  message.setArguments(arguments);
  message.setAutoStartService(false);
  auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMillis), context);
  QObject::connect(pending, &QDBusPendingCallWatcher::finished, context, [pending, done = std::move(done)] {
    pending->deleteLater();
    done(pending->reply());
  });
}

void networkManagerProperty(QObject* context, const QString& path, const QString& interface, const QString& name,
                            std::function<void(const QVariant& value)> done) {
  networkManagerCall(context, path, nm::PROPERTIES, "Get", {interface, name},
                     [done = std::move(done)](const QDBusMessage& reply) {
                       done(answered(reply) ? reply.arguments().front().value<QDBusVariant>().variant() : QVariant());
                     });
}

std::string networkManagerAbsence(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ErrorMessage) return std::string();
  const std::string unreachable = networkManagerUnreachable();
  if (!unreachable.empty()) return unreachable;
  const QString error = reply.errorName();
  if (error == "org.freedesktop.DBus.Error.NameHasNoOwner" || error == "org.freedesktop.DBus.Error.ServiceUnknown") {
    return "NetworkManager is not running: org.freedesktop.NetworkManager is not on the system bus.";
  }
  return std::string();
}

std::string networkManagerFailure(const QDBusMessage& reply, const QString& method) {
  const std::string absent = networkManagerAbsence(reply);
  if (!absent.empty()) return absent;
  return "NetworkManager: " + method.toStdString() + " failed: " + reply.errorMessage().toStdString();
}

void listNetworkManagerProfiles(QObject* context, bool savedOnly,
                                std::function<void(const NetworkManagerListing& listing)> done) {
  networkManagerCall(
      context, nm::SETTINGS_PATH, nm::SETTINGS, "ListConnections", {},
      [context, savedOnly, done = std::move(done)](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
          done({{}, networkManagerFailure(reply, "ListConnections")});
          return;
        }
        QList<QDBusObjectPath> paths;
        if (!reply.arguments().isEmpty()) reply.arguments().front().value<QDBusArgument>() >> paths;
        if (paths.isEmpty()) {
          done({});
          return;
        }
        // The profiles are asked all at once; the listing is made when the last answer is in.
        auto gathering = std::make_shared<Gathering>();
        gathering->entries.resize(static_cast<size_t>(paths.size()));
        gathering->waiting = static_cast<size_t>(paths.size()) * (savedOnly ? 2 : 1);
        gathering->done = done;
        for (size_t index = 0; index < gathering->entries.size(); ++index) {
          gatherProfile(context, gathering, index, paths[static_cast<qsizetype>(index)].path(), savedOnly);
        }
      });
}

void findNetworkManagerProfile(
    QObject* context, const std::string& idOrUuid,
    std::function<void(const std::optional<NetworkManagerProfile>& profile, const std::string& failure)> done) {
  listNetworkManagerProfiles(context, false, [idOrUuid, done = std::move(done)](const NetworkManagerListing& listing) {
    for (const NetworkManagerProfile& profile : listing.profiles) {
      if (profile.uuid == idOrUuid) return done(profile, std::string());
    }
    for (const NetworkManagerProfile& profile : listing.profiles) {
      if (profile.id == idOrUuid) return done(profile, std::string());
    }
    done(std::nullopt, listing.failure);
  });
}

std::string networkManagerTypeName(const std::string& settingsType) {
  if (settingsType == "802-3-ethernet") return "ethernet";
  if (settingsType == "802-11-wireless") return "wifi";
  if (settingsType == "802-11-olpc-mesh") return "olpc-mesh";
  return settingsType;
}
