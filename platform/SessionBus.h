#pragma once
// A private connection to the desktop session's D-Bus, for one window
// source: a unique bus name of its own (which a desktop can watch to see the
// source go), objects of its own, and an end of its own when the source is
// destroyed. Calls block for at most the given time and never run the event
// loop; incoming calls and signals arrive through the event loop.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <initializer_list>

class SessionBus {
 public:
  // Connects when the session has a bus ($DBUS_SESSION_BUS_ADDRESS or
  // $XDG_RUNTIME_DIR/bus); never starts one. connected() tells.
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  bool connected() const { return connection_.isConnected(); }
  QDBusConnection& connection() { return connection_; }
  // This connection's unique name (":1.42").
  QString uniqueName() const { return connection_.baseService(); }

  // The unique name that owns `name`, or "" when nobody does.
  QString ownerOf(const QString& name);
  // A method call; the reply, or an error message (also on a timeout).
  QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                    std::initializer_list<QVariant> arguments = {}, int timeoutMs = 2000);

 private:
  QString name_;
  QDBusConnection connection_;
};
