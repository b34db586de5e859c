#include "platform/networkmanager/NetworkManagerActivation.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <utility>
#include <vector>

#include "platform/networkmanager/NetworkManagerDevices.h"
#include "platform/networkmanager/NetworkManagerReasons.h"

namespace nm = networkmanager;

namespace {

std::vector<std::string> objectPaths(const QVariant& value) {
  std::vector<std::string> paths;
  if (value.canConvert<QDBusArgument>()) {
    QList<QDBusObjectPath> list;
    value.value<QDBusArgument>() >> list;
    for (const QDBusObjectPath& path : list) paths.push_back(path.path().toStdString());
  }
  return paths;
}

std::string objectPath(const QVariant& value) { return value.value<QDBusObjectPath>().path().toStdString(); }

// The properties of one interface of an object, empty when it does not answer.
void allProperties(QObject* context, const QString& path, const QString& interface,
                   std::function<void(const QVariantMap& properties)> done) {
  networkManagerCall(context, path, nm::PROPERTIES, "GetAll", {interface},
                     [done = std::move(done)](const QDBusMessage& reply) {
                       const bool answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
                       done(answered ? qdbus_cast<QVariantMap>(reply.arguments().front()) : QVariantMap());
                     });
}

// A VPN's devices as networkManagerTrafficDevice needs them, with their IP interfaces.
struct DeviceGathering {
  NetworkManagerActiveConfig active;
  std::vector<NetworkManagerDeviceConfig> devices;
  std::map<std::string, std::string> interfaces;  // device path -> IP interface
  size_t waiting = 0;
};

}  // namespace

NetworkManagerActivation::NetworkManagerActivation(NetworkManagerProfile profile) : profile_(std::move(profile)) {
  QDBusConnection bus = networkManagerBus();
  // Any active connection's path: the one to follow is known only from the
  // reply, and its first signals may come before it.
  bus.connect(nm::SERVICE, QString(), nm::ACTIVE, "StateChanged", this, SLOT(stateChanged(uint, uint, QDBusMessage)));
  bus.connect(nm::SERVICE, nm::PATH, nm::PROPERTIES, "PropertiesChanged", this, SLOT(managerChanged(QDBusMessage)));
  owner_ = new QDBusServiceWatcher(nm::SERVICE, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, &NetworkManagerActivation::ownerChanged);
  awayTimer_.setSingleShot(true);
  awayTimer_.setInterval(AWAY_MILLIS);
  connect(&awayTimer_, &QTimer::timeout, this, [this] { awayEnded(); });
}

NetworkManagerActivation::~NetworkManagerActivation() = default;

void NetworkManagerActivation::activate() {
  findActive(
      [this](const QString& existing, uint32_t state) {
        if (!existing.isEmpty() && state <= ACTIVATED) return follow(existing, state, 0);
        requestActivation();
      },
      [this](const std::string& failure) { fail(failure); });
}

void NetworkManagerActivation::requestActivation() {
  requested_ = true;
  // NetworkManager may take long to answer (it may ask a secret agent first).
  networkManagerCall(
      this, nm::PATH, nm::INTERFACE, "ActivateConnection",
      {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(profile_.path))),
       QVariant::fromValue(QDBusObjectPath("/")), QVariant::fromValue(QDBusObjectPath("/"))},
      [this](const QDBusMessage& reply) { activationReplied(reply); }, 120000);
}

void NetworkManagerActivation::activationReplied(const QDBusMessage& reply) {
  requested_ = false;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    const std::string refused = "NetworkManager did not activate the profile '" + profile_.id +
                                "': " + reply.errorMessage().toStdString();
    // Someone else activated it meanwhile: that one is followed.
    if (reply.errorName() == "org.freedesktop.NetworkManager.ConnectionAlreadyActive") {
      return findActive(
          [this, refused](const QString& existing, uint32_t state) {
            if (existing.isEmpty()) return fail(refused);
            follow(existing, state, 0);
          },
          [this, refused](const std::string&) { fail(refused); });
    }
    return fail(refused);
  }
  const QString path = reply.arguments().front().value<QDBusObjectPath>().path();
  const auto early = early_.find(path);
  if (early != early_.end()) return follow(path, early->second.first, early->second.second);
  // Its signals are followed from now on; the state asked now is at least as
  // new as any of them that came before the answer.
  active_ = path;
  early_.clear();
  const unsigned followed = ++followed_;
  networkManagerProperty(this, path, nm::ACTIVE, "State", [this, followed](const QVariant& state) {
    if (followed == followed_) apply(state.isValid() ? state.toUInt() : DEACTIVATED, 0);
  });
}

void NetworkManagerActivation::follow(const QString& path, uint32_t state, uint32_t reason) {
  active_ = path;
  ++followed_;
  early_.clear();
  apply(state, reason);
}

void NetworkManagerActivation::apply(uint32_t state, uint32_t reason) {
  state_ = state;
  if (state == ACTIVATED) {
    away_ = false;
    awayTimer_.stop();
    if (!everActivated_) {
      everActivated_ = true;
      findInterface();
    }
  } else if (state == DEACTIVATED && !everActivated_) {
    return fail("NetworkManager could not activate the profile '" + profile_.id +
                "': " + networkManagerReasonText(reason) + ".");
  }
  notifyChanged();
}

void NetworkManagerActivation::stateChanged(uint state, uint reason, const QDBusMessage& message) {
  const QString path = message.path();
  if (path == active_) return apply(state, reason);
  if (active_.isEmpty() && requested_) {
    early_[path] = {state, reason};
    return;
  }
  // Another active connection of the profile came up after the followed one went.
  if (state != ACTIVATED || !everActivated_ || activated()) return;
  const unsigned followed = followed_;
  stateIfOurs(path, [this, path, followed](uint32_t current) {
    if (followed == followed_ && current == ACTIVATED && !activated()) follow(path, current, 0);
  });
}

void NetworkManagerActivation::managerChanged(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();
  if (arguments.size() < 2 || arguments[0].toString() != nm::INTERFACE) return;
  const QVariantMap changed = qdbus_cast<QVariantMap>(arguments[1]);
  if (!changed.contains("ActiveConnections") || active_.isEmpty()) return;
  // Back after a restart: the profile's connection may be listed again.
  if (away_) return followAgain();
  const std::vector<std::string> listed = objectPaths(changed.value("ActiveConnections"));
  for (const std::string& path : listed) {
    if (path == active_.toStdString()) return;
  }
  // Gone from the bus without a word: taken as deactivated.
  if (state_ != DEACTIVATED) apply(DEACTIVATED, 0);
}

void NetworkManagerActivation::ownerChanged(const QString&, const QString&, const QString& newOwner) {
  if (newOwner.isEmpty()) {
    if (state_ == ACTIVATED) {
      away_ = true;
      state_ = 0;
      awayTimer_.start();
    } else if (!everActivated_ && !active_.isEmpty() && failure_.empty()) {
      fail("NetworkManager stopped while activating the profile '" + profile_.id + "'.");
    }
    return;
  }
  if (away_) followAgain();
}

void NetworkManagerActivation::followAgain() {
  findActive(
      [this](const QString& existing, uint32_t state) {
        if (away_ && !existing.isEmpty() && state == ACTIVATED) follow(existing, state, 0);
      },
      // Not listed (yet): a later change of the list asks again, and the away timer ends the wait.
      [](const std::string&) {});
}

void NetworkManagerActivation::awayEnded() {
  if (!away_) return;
  away_ = false;
  state_ = DEACTIVATED;
  notifyChanged();
}

void NetworkManagerActivation::findActive(Found found, Failed failed) {
  const unsigned followed = followed_;
  networkManagerCall(this, nm::PATH, nm::PROPERTIES, "Get", {nm::INTERFACE, QStringLiteral("ActiveConnections")},
                     [this, followed, found = std::move(found), failed = std::move(failed)](const QDBusMessage& reply) {
                       if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                         const std::string absent = networkManagerAbsence(reply);
                         return failed(!absent.empty() ? absent : "NetworkManager did not tell its active connections.");
                       }
                       auto listed = std::make_shared<std::vector<QString>>();
                       for (const std::string& path :
                            objectPaths(reply.arguments().front().value<QDBusVariant>().variant())) {
                         listed->push_back(QString::fromStdString(path));
                       }
                       findActiveFrom(listed, 0, followed, found);
                     });
}

void NetworkManagerActivation::findActiveFrom(std::shared_ptr<const std::vector<QString>> listed, size_t index,
                                              unsigned followed, Found found) {
  if (followed != followed_) return;
  if (index >= listed->size()) return found(QString(), 0);
  const QString path = (*listed)[index];
  // One after the other: the first of the profile in NetworkManager's order counts.
  networkManagerProperty(this, path, nm::ACTIVE, "Uuid", [=, this](const QVariant& uuid) {
    if (uuid.toString().toStdString() != profile_.uuid) return findActiveFrom(listed, index + 1, followed, found);
    networkManagerProperty(this, path, nm::ACTIVE, "State", [=, this](const QVariant& state) {
      if (!state.isValid()) return findActiveFrom(listed, index + 1, followed, found);
      if (followed == followed_) found(path, state.toUInt());
    });
  });
}

void NetworkManagerActivation::stateIfOurs(const QString& path, std::function<void(uint32_t state)> then) {
  networkManagerProperty(this, path, nm::ACTIVE, "Uuid", [this, path, then = std::move(then)](const QVariant& uuid) {
    if (uuid.toString().toStdString() != profile_.uuid) return;
    // Asked after the signal: no signal of it that comes later is missed.
    networkManagerProperty(this, path, nm::ACTIVE, "State", [then](const QVariant& state) {
      if (state.isValid()) then(state.toUInt());
    });
  });
}

void NetworkManagerActivation::findInterface() {
  // Told once known: the traffic is counted from then on.
  auto named = [this](const std::string& interface) {
    if (interface.empty()) return;
    ipInterface_ = interface;
    notifyChanged();
  };
  allProperties(this, active_, nm::ACTIVE, [this, named](const QVariantMap& properties) {
    auto gathering = std::make_shared<DeviceGathering>();
    NetworkManagerActiveConfig& active = gathering->active;
    active.vpn = properties.value("Vpn").toBool();
    active.devices = objectPaths(properties.value("Devices"));
    active.ip4Config = objectPath(properties.value("Ip4Config"));
    active.ip6Config = objectPath(properties.value("Ip6Config"));
    if (!active.vpn) {
      const std::string device = networkManagerTrafficDevice(active, {});
      if (device.empty()) return;
      return networkManagerProperty(this, QString::fromStdString(device), nm::DEVICE, "IpInterface",
                                    [named](const QVariant& interface) { named(interface.toString().toStdString()); });
    }
    // The tunnel is the device that has the VPN's IP configuration.
    networkManagerProperty(this, nm::PATH, nm::INTERFACE, "AllDevices", [this, gathering, named](const QVariant& all) {
      const std::vector<std::string> paths = objectPaths(all);
      gathering->devices.resize(paths.size());
      gathering->waiting = paths.size();
      for (size_t index = 0; index < paths.size(); ++index) {
        const std::string path = paths[index];
        allProperties(this, QString::fromStdString(path), nm::DEVICE,
                      [gathering, named, index, path](const QVariantMap& device) {
                        gathering->devices[index] = {path, objectPath(device.value("Ip4Config")),
                                                     objectPath(device.value("Ip6Config"))};
                        gathering->interfaces[path] = device.value("IpInterface").toString().toStdString();
                        if (--gathering->waiting > 0) return;
                        const std::string tunnel = networkManagerTrafficDevice(gathering->active, gathering->devices);
                        if (!tunnel.empty()) named(gathering->interfaces[tunnel]);
                      });
      }
    });
  });
}

void NetworkManagerActivation::fail(std::string failure) {
  if (!failure_.empty()) return;
  failure_ = std::move(failure);
  notifyChanged();
}
