#pragma once
// NetworkManager's saved profiles, listed at once and again whenever the
// list may have changed: a profile added or removed, or NetworkManager
// itself started or stopped. Each listing arrives on the event loop; one
// that a later listing has overtaken is dropped, so the handler only ever
// gets the newest. Nothing arrives after the watch is destroyed; the handler
// must not destroy it.

#include <QDBusMessage>
#include <QObject>
#include <functional>

#include "platform/networkmanager/NetworkManagerProfiles.h"

class QDBusServiceWatcher;

class NetworkManagerProfileWatch : public QObject {
  Q_OBJECT

 public:
  using Listed = std::function<void(const NetworkManagerListing& listing)>;

  // Subscribes to the changes and starts the first listing.
  explicit NetworkManagerProfileWatch(Listed listed);
  ~NetworkManagerProfileWatch() override;

 private slots:
  void profileChanged(const QDBusMessage& message);

 private:
  void list();

  Listed listed_;
  unsigned listing_ = 0;  // the newest listing; answers of older ones are void
  QDBusServiceWatcher* owner_ = nullptr;
};
