#include "platform/SessionBus.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <atomic>
#include <cstdlib>
#include <string>

namespace {

// Without an address libdbus would start a bus of its own for an X display
// ("autolaunch"): only a bus the session already has is of any use here.
bool sessionHasBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && *runtime != '\0' && ::access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

QString nextConnectionName() {
  static std::atomic<unsigned> count{0};
  return QStringLiteral("morvane-windows-%1").arg(++count);
}

}  // namespace

SessionBus::SessionBus()
    : name_(nextConnectionName()),
      connection_(sessionHasBus() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)
                                  : QDBusConnection(name_)) {}

SessionBus::~SessionBus() {
  connection_ = QDBusConnection(QString());
  QDBusConnection::disconnectFromBus(name_);
}

QString SessionBus::ownerOf(const QString& name) {
  if (!connected()) return QString();
  QDBusReply<QString> owner = connection_.interface()->serviceOwner(name);
  return owner.isValid() ? owner.value() : QString();
}

QDBusMessage SessionBus::call(const QString& service, const QString& path, const QString& interface,
                              const QString& method, std::initializer_list<QVariant> arguments, int timeoutMs) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  for (const QVariant& argument : arguments) message << argument;
  return connection_.call(message, QDBus::Block, timeoutMs);
}
