#pragma once
// One NetworkManager profile brought up and followed on the system bus: its
// active connection's state, kept current from the StateChanged signals
// (no polling), and the IP interface that carries its traffic.
//
// The connection counts as up while its active connection is ACTIVATED,
// and while NetworkManager is away (restarting) for at most kAwayMillis
// after it was: when NetworkManager is back with the profile's active
// connection still ACTIVATED, that one is followed on. An active connection
// of the profile that becomes ACTIVATED after the followed one has gone is
// followed instead. An activation that NetworkManager refuses, or an active
// connection that is DEACTIVATED without ever having been ACTIVATED, is a
// failure, told with NetworkManager's reason in words.
//
// The change handler (ChangeNotifier) is called whenever the answer of
// activated() or failure() may have changed.

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <map>
#include <string>

#include "platform/ChangeNotifier.h"
#include "platform/NetworkManagerProfiles.h"

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

class NetworkManagerActivation : public QObject, public ChangeNotifier {
  Q_OBJECT

 public:
  // Active connection states as NetworkManager numbers them.
  static constexpr uint32_t kActivated = 2;
  static constexpr uint32_t kDeactivated = 4;
  static constexpr int kAwayMillis = 10000;

  // Subscribes to the signals; nothing is activated yet.
  explicit NetworkManagerActivation(NetworkManagerProfile profile);
  ~NetworkManagerActivation() override;

  // Follows the profile's active connection when it has one (activating it
  // again would cut it), else asks NetworkManager to activate the profile;
  // the answer arrives on the event loop. Throws IOException when
  // NetworkManager does not answer the question for active connections.
  void activate();

  bool activated() const { return state_ == kActivated || away_; }
  bool everActivated() const { return everActivated_; }
  // Why the connection could not be made; empty while nothing failed.
  const std::string& failure() const { return failure_; }
  // The interface its traffic goes through (for a VPN the tunnel), known
  // from the first ACTIVATED on; empty when NetworkManager names none.
  const std::string& ipInterface() const { return ipInterface_; }
  const NetworkManagerProfile& profile() const { return profile_; }

 private slots:
  void stateChanged(uint state, uint reason, const QDBusMessage& message);
  // PropertiesChanged of NetworkManager itself: the active connections listed.
  void managerChanged(const QDBusMessage& message);
  void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

 private:
  void activationReplied(QDBusPendingCallWatcher* call);
  // The profile's active connection with its state; empty path when none.
  QString findActive(uint32_t* state) const;
  void follow(const QString& path, uint32_t state, uint32_t reason);
  void apply(uint32_t state, uint32_t reason);
  void awayEnded();
  void findInterface();
  void fail(std::string failure);

  NetworkManagerProfile profile_;
  QDBusServiceWatcher* owner_ = nullptr;
  QTimer awayTimer_;
  QString active_;                                          // followed active connection
  std::map<QString, std::pair<uint32_t, uint32_t>> early_;  // signals before the reply
  bool requested_ = false;                                  // activation asked, no reply yet
  uint32_t state_ = 0;
  bool everActivated_ = false;
  bool away_ = false;
  std::string failure_;
  std::string ipInterface_;
};
