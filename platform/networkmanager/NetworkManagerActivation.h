#pragma once
// One NetworkManager profile brought up and followed on the system bus: its
// active connection's state, kept current from the StateChanged signals
// (no polling), and the IP interface that carries its traffic. Every
// question to NetworkManager is asked without waiting: the answers arrive
// on the event loop, and one that a later turn of events has overtaken (a
// different active connection followed since) is dropped.
//
// The connection counts as up while its active connection is ACTIVATED,
// and while NetworkManager is away (restarting) for at most AWAY_MILLIS
// after it was: when NetworkManager is back with the profile's active
// connection still ACTIVATED, that one is followed on. An active connection
// of the profile that becomes ACTIVATED after the followed one has gone is
// followed instead. An activation that NetworkManager refuses, or an active
// connection that is DEACTIVATED without ever having been ACTIVATED, is a
// failure, told with NetworkManager's reason in words.
//
// The change handler (ChangeNotifier) is called whenever the answer of
// activated(), failure() or ipInterface() may have changed.

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ChangeNotifier.h"
#include "platform/networkmanager/NetworkManagerProfiles.h"

class QDBusServiceWatcher;

class NetworkManagerActivation : public QObject, public ChangeNotifier {
  Q_OBJECT

 public:
  // Active connection states as NetworkManager numbers them.
  static constexpr uint32_t ACTIVATED = 2;
  static constexpr uint32_t DEACTIVATED = 4;
  static constexpr int AWAY_MILLIS = 10000;

  // Subscribes to the signals; nothing is activated yet.
  explicit NetworkManagerActivation(NetworkManagerProfile profile);
  ~NetworkManagerActivation() override;

  // Follows the profile's active connection when it has one (activating it
  // again would cut it), else asks NetworkManager to activate the profile.
  // Returns at once: what NetworkManager answers arrives on the event loop,
  // a failure included.
  void activate();

  bool activated() const { return state_ == ACTIVATED || away_; }
  bool everActivated() const { return everActivated_; }
  // Why the connection could not be made; empty while nothing failed.
  const std::string& failure() const { return failure_; }
  // The interface its traffic goes through (for a VPN the tunnel), known
  // soon after the first ACTIVATED; empty until then, and when
  // NetworkManager names none.
  const std::string& ipInterface() const { return ipInterface_; }
  const NetworkManagerProfile& profile() const { return profile_; }

 private slots:
  void stateChanged(uint state, uint reason, const QDBusMessage& message);
  // PropertiesChanged of NetworkManager itself: the active connections listed.
  void managerChanged(const QDBusMessage& message);
  void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

 private:
  // The profile's active connection and its state (an empty path when it
  // has none), or the failure when NetworkManager does not list its active
  // connections. `found` is not called when a different active connection
  // has been followed meanwhile.
  using Found = std::function<void(const QString& path, uint32_t state)>;
  using Failed = std::function<void(const std::string& failure)>;
  void findActive(Found found, Failed failed);
  // Of the listed active connections, from `index` on, the first of the profile.
  void findActiveFrom(std::shared_ptr<const std::vector<QString>> listed, size_t index, unsigned followed,
                      Found found);
  // `then` gets the state of the active connection at `path` when it is one
  // of the profile; nothing when it is not, or is gone.
  void stateIfOurs(const QString& path, std::function<void(uint32_t state)> then);
  void requestActivation();
  void activationReplied(const QDBusMessage& reply);
  // A reconnection (NetworkManager back, or a new active connection): the
  // active connection is followed when it is ACTIVATED and nothing is
  // followed meanwhile.
  void followAgain();
  void follow(const QString& path, uint32_t state, uint32_t reason);
  void apply(uint32_t state, uint32_t reason);
  void awayEnded();
  void findInterface();
  void fail(std::string failure);

  NetworkManagerProfile profile_;
  QDBusServiceWatcher* owner_ = nullptr;
  QTimer awayTimer_;
  QString active_;                                          // followed active connection
  unsigned followed_ = 0;                                   // counts changes of active_
  std::map<QString, std::pair<uint32_t, uint32_t>> early_;  // signals before the reply
  bool requested_ = false;                                  // activation asked, no reply yet
  uint32_t state_ = 0;
  bool everActivated_ = false;
  bool away_ = false;
  std::string failure_;
  std::string ipInterface_;
};
