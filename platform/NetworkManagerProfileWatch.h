#pragma once
// Tells when NetworkManager's list of profiles may have changed: a profile
// added or removed, or NetworkManager itself started or stopped. The change
// handler (ChangeNotifier) runs on the event loop; it should read the list
// again (networkManagerProfiles).

#include <QDBusMessage>
#include <QObject>
#include <QString>

#include "platform/ChangeNotifier.h"

class QDBusServiceWatcher;

class NetworkManagerProfileWatch : public QObject, public ChangeNotifier {
  Q_OBJECT

 public:
  NetworkManagerProfileWatch();
  ~NetworkManagerProfileWatch() override;

 private slots:
  void profileChanged(const QDBusMessage& message);

 private:
  QDBusServiceWatcher* owner_ = nullptr;
};
