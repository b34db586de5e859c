#include "platform/NetworkManagerProfileWatch.h"

#include <QDBusServiceWatcher>

#include "platform/NetworkManagerProfiles.h"

namespace nm = networkmanager;

NetworkManagerProfileWatch::NetworkManagerProfileWatch() {
  QDBusConnection bus = networkManagerBus();
  bus.connect(nm::kService, nm::kSettingsPath, nm::kSettings, "NewConnection", this,
              SLOT(profileChanged(QDBusMessage)));
  bus.connect(nm::kService, nm::kSettingsPath, nm::kSettings, "ConnectionRemoved", this,
              SLOT(profileChanged(QDBusMessage)));
  owner_ = new QDBusServiceWatcher(nm::kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { notifyChanged(); });
}

NetworkManagerProfileWatch::~NetworkManagerProfileWatch() = default;

void NetworkManagerProfileWatch::profileChanged(const QDBusMessage&) { notifyChanged(); }
