#include "platform/NetworkManagerActivation.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <utility>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/NetworkManagerDevices.h"
#include "platform/NetworkManagerReasons.h"

namespace nm = networkmanager;

namespace {

// One property, or an invalid QVariant when the object does not answer.
QVariant busProperty(const QString& path, const QString& interface, const QString& name) {
  QDBusMessage message = QDBusMessage::createMethodCall(nm::kService, path, nm::kProperties, "Get");
  message << interface << name;
  const QDBusMessage reply = networkManagerBus().call(message, QDBus::Block, nm::kCallMillis);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QVariant();
  return reply.arguments().front().value<QDBusVariant>().variant();
}

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

}  // namespace

NetworkManagerActivation::NetworkManagerActivation(NetworkManagerProfile profile) : profile_(std::move(profile)) {
  QDBusConnection bus = networkManagerBus();
  // Any active connection's path: the one to follow is known only from the
  // reply, and its first signals may come before it.
  bus.connect(nm::kService, QString(), nm::kActive, "StateChanged", this, SLOT(stateChanged(uint, uint, QDBusMessage)));
  bus.connect(nm::kService, nm::kPath, nm::kProperties, "PropertiesChanged", this, SLOT(managerChanged(QDBusMessage)));
  owner_ = new QDBusServiceWatcher(nm::kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, &NetworkManagerActivation::ownerChanged);
  awayTimer_.setSingleShot(true);
  awayTimer_.setInterval(kAwayMillis);
  connect(&awayTimer_, &QTimer::timeout, this, [this] { awayEnded(); });
}

NetworkManagerActivation::~NetworkManagerActivation() = default;

void NetworkManagerActivation::activate() {
  requireNetworkManager();
  uint32_t state = 0;
  const QString existing = findActive(&state);
  if (!existing.isEmpty() && state <= kActivated) {
    follow(existing, state, 0);
    return;
  }
  QDBusMessage message = QDBusMessage::createMethodCall(nm::kService, nm::kPath, nm::kInterface, "ActivateConnection");
  message << QVariant::fromValue(QDBusObjectPath(QString::fromStdString(profile_.path)))
          << QVariant::fromValue(QDBusObjectPath("/")) << QVariant::fromValue(QDBusObjectPath("/"));
  // NetworkManager may take long to answer (it may ask a secret agent first).
  auto* call = new QDBusPendingCallWatcher(networkManagerBus().asyncCall(message, 120000), this);
  requested_ = true;
  connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* c) {
    activationReplied(c);
    c->deleteLater();
  });
}

void NetworkManagerActivation::activationReplied(QDBusPendingCallWatcher* call) {
  requested_ = false;
  QDBusPendingReply<QDBusObjectPath> reply = *call;
  if (reply.isError()) {
    // Someone else activated it meanwhile: that one is followed.
    if (reply.error().name() == "org.freedesktop.NetworkManager.ConnectionAlreadyActive") {
      uint32_t state = 0;
      const QString existing = findActive(&state);
      if (!existing.isEmpty()) return follow(existing, state, 0);
    }
    return fail("NetworkManager did not activate the profile '" + profile_.id +
                "': " + reply.error().message().toStdString());
  }
  const QString path = reply.value().path();
  const auto early = early_.find(path);
  if (early != early_.end()) return follow(path, early->second.first, early->second.second);
  const QVariant state = busProperty(path, nm::kActive, "State");
  follow(path, state.isValid() ? state.toUInt() : kDeactivated, 0);
}

void NetworkManagerActivation::follow(const QString& path, uint32_t state, uint32_t reason) {
  active_ = path;
  early_.clear();
  apply(state, reason);
}

void NetworkManagerActivation::apply(uint32_t state, uint32_t reason) {
  state_ = state;
  if (state == kActivated) {
    away_ = false;
    awayTimer_.stop();
    if (!everActivated_) {
      everActivated_ = true;
      findInterface();
    }
  } else if (state == kDeactivated && !everActivated_) {
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
  if (state == kActivated && everActivated_ && !activated() &&
      busProperty(path, nm::kActive, "Uuid").toString().toStdString() == profile_.uuid) {
    follow(path, state, reason);
  }
}

void NetworkManagerActivation::managerChanged(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();
  if (arguments.size() < 2 || arguments[0].toString() != nm::kInterface) return;
  const QVariantMap changed = qdbus_cast<QVariantMap>(arguments[1]);
  if (!changed.contains("ActiveConnections") || active_.isEmpty()) return;
  if (away_) {
    // Back after a restart: the profile's connection may be listed again.
    uint32_t state = 0;
    const QString existing = findActive(&state);
    if (!existing.isEmpty() && state == kActivated) follow(existing, state, 0);
    return;
  }
  const std::vector<std::string> listed = objectPaths(changed.value("ActiveConnections"));
  for (const std::string& path : listed) {
    if (path == active_.toStdString()) return;
  }
  // Gone from the bus without a word: taken as deactivated.
  if (state_ != kDeactivated) apply(kDeactivated, 0);
}

void NetworkManagerActivation::ownerChanged(const QString&, const QString&, const QString& newOwner) {
  if (newOwner.isEmpty()) {
    if (state_ == kActivated) {
      away_ = true;
      state_ = 0;
      awayTimer_.start();
    } else if (!everActivated_ && !active_.isEmpty() && failure_.empty()) {
      fail("NetworkManager stopped while activating the profile '" + profile_.id + "'.");
    }
    return;
  }
  if (!away_) return;
  uint32_t state = 0;
  const QString existing = findActive(&state);
  if (!existing.isEmpty() && state == kActivated) follow(existing, state, 0);
}

void NetworkManagerActivation::awayEnded() {
  if (!away_) return;
  away_ = false;
  state_ = kDeactivated;
  notifyChanged();
}

QString NetworkManagerActivation::findActive(uint32_t* state) const {
  const QVariant list = busProperty(nm::kPath, nm::kInterface, "ActiveConnections");
  if (!list.isValid()) {
    if (away_) return QString();
    throw IOException("NetworkManager did not tell its active connections.");
  }
  for (const std::string& path : objectPaths(list)) {
    const QString active = QString::fromStdString(path);
    if (busProperty(active, nm::kActive, "Uuid").toString().toStdString() != profile_.uuid) continue;
    const QVariant current = busProperty(active, nm::kActive, "State");
    if (!current.isValid()) continue;
    *state = current.toUInt();
    return active;
  }
  return QString();
}

void NetworkManagerActivation::findInterface() {
  NetworkManagerActiveConfig active;
  active.vpn = busProperty(active_, nm::kActive, "Vpn").toBool();
  active.devices = objectPaths(busProperty(active_, nm::kActive, "Devices"));
  active.ip4Config = objectPath(busProperty(active_, nm::kActive, "Ip4Config"));
  active.ip6Config = objectPath(busProperty(active_, nm::kActive, "Ip6Config"));
  std::vector<NetworkManagerDeviceConfig> devices;
  if (active.vpn) {
    for (const std::string& path : objectPaths(busProperty(nm::kPath, nm::kInterface, "AllDevices"))) {
      const QString device = QString::fromStdString(path);
      devices.push_back({path, objectPath(busProperty(device, nm::kDevice, "Ip4Config")),
                         objectPath(busProperty(device, nm::kDevice, "Ip6Config"))});
    }
  }
  const std::string device = networkManagerTrafficDevice(active, devices);
  if (!device.empty()) {
    ipInterface_ = busProperty(QString::fromStdString(device), nm::kDevice, "IpInterface").toString().toStdString();
  }
}

void NetworkManagerActivation::fail(std::string failure) {
  if (!failure_.empty()) return;
  failure_ = std::move(failure);
  notifyChanged();
}
