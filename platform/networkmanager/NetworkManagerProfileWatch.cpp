#include "platform/networkmanager/NetworkManagerProfileWatch.h"

#include <QDBusServiceWatcher>
#include <utility>

namespace nm = networkmanager;

NetworkManagerProfileWatch::NetworkManagerProfileWatch(Listed listed) : listed_(std::move(listed)) {
  QDBusConnection bus = networkManagerBus();
  bus.connect(nm::SERVICE, nm::SETTINGS_PATH, nm::SETTINGS, "NewConnection", this,
              SLOT(profileChanged(QDBusMessage)));
  bus.connect(nm::SERVICE, nm::SETTINGS_PATH, nm::SETTINGS, "ConnectionRemoved", this,
              SLOT(profileChanged(QDBusMessage)));
  owner_ = new QDBusServiceWatcher(nm::SERVICE, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(owner_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { list(); });
  list();
}

NetworkManagerProfileWatch::~NetworkManagerProfileWatch() = default;

void NetworkManagerProfileWatch::profileChanged(const QDBusMessage&) { list(); }

void NetworkManagerProfileWatch::list() {
  const unsigned listing = ++listing_;
  listNetworkManagerProfiles(this, true, [this, listing](const NetworkManagerListing& answer) {
    if (listing == listing_) listed_(answer);
  });
}
