#pragma once
// What a window source fed by a desktop over the session bus (KWin's script,
// GNOME Shell's extension) needs besides its list, none of it blocking the
// thread's event loop:
//  - calls whose replies arrive on the event loop;
//  - the feeder: the one unique bus name whose reports count, and the rule
//    that a list whose feeder has been gone for RETURN_GRACE_MS is no list;
//  - a watch on the bus name the feeder holds, which tells the source of
//    each new owner once it is one to trust (optionally: the owner of a
//    second name too, as the shell's own extension must be the shell), and
//    of its going;
//  - XWayland standing in, with a notice, where the desktop never feeds
//    the list.
// Replies and timers of a destroyed helper never run.

#include <QElapsedTimer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <string>

#include "platform/windows/WindowSource.h"

class QDBusMessage;
class QDBusServiceWatcher;
class QObject;
class SessionBus;

class BusFedSource {
 public:
  // How long the last list is kept after its feeder has left the bus.
  static constexpr int RETURN_GRACE_MS = 10000;

  using Reply = std::function<void(const QDBusMessage& reply)>;
  using OwnerChanged = std::function<void(const QString& owner)>;

  explicit BusFedSource(std::unique_ptr<SessionBus> bus);
  ~BusFedSource();
  BusFedSource(const BusFedSource&) = delete;
  BusFedSource& operator=(const BusFedSource&) = delete;

  SessionBus& bus() { return *bus_; }

  // A method call; `done` gets the reply or the error (also on a timeout).
  void call(const QString& service, const QString& path, const QString& interface, const QString& method,
            const QVariantList& arguments, int timeoutMs, Reply done);
  // Runs `then` after `ms` on the event loop.
  void after(int ms, std::function<void()> then);

  // Watches `name`: `changed` gets each new owner that is to be trusted
  // (when `vouch` is given, it must own that name too), or "" when the name
  // is gone or its owner is not to be trusted; an owner other than the
  // feeder at the start counts as new. The feeder follows.
  void watch(const QString& name, const QString& vouch, OwnerChanged changed);
  // The unique name asked by watch(), or (before it) given at the start.
  void setFeeder(const QString& owner);
  const QString& feeder() const noexcept { return feeder_; }
  bool trusts(const QDBusMessage& message) const;

  // The source holds a list from its current feeder.
  void fed() { gone_.invalidate(); }
  // The feeder has been gone for longer than RETURN_GRACE_MS without a new
  // list since.
  bool goneTooLong() const { return gone_.isValid() && gone_.elapsed() > RETURN_GRACE_MS; }
  // Whether the feeder is away now.
  bool away() const { return gone_.isValid(); }

  // From now on the X server of $DISPLAY (XWayland) is polled instead, and
  // the notice tells `why` and what the user can do. Without an X server
  // the poll fails with the notice.
  void standIn(const std::string& why);
  WindowSource* standingIn() const noexcept { return standIn_.get(); }
  const std::string& notice() const noexcept { return notice_; }

 private:
  void ownerChanged(const QString& owner);

  std::unique_ptr<SessionBus> bus_;
  std::unique_ptr<QObject> context_;  // owns pending replies and timers
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  QString vouch_;
  OwnerChanged changed_;
  QString feeder_;
  unsigned change_ = 0;  // the latest owner change; older checks are void
  QElapsedTimer gone_;   // valid while the feeder is away
  std::unique_ptr<WindowSource> standIn_;
  std::string notice_;
};
