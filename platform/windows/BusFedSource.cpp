#include "platform/windows/BusFedSource.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>
#include <utility>

#include "basis/Exceptions.h"
#include "platform/SessionBus.h"
#include "platform/windows/X11WindowSource.h"

BusFedSource::BusFedSource(std::unique_ptr<SessionBus> bus)
    : bus_(std::move(bus)), context_(std::make_unique<QObject>()) {}

BusFedSource::~BusFedSource() {
  watcher_.reset();
  context_.reset();  // pending replies and timers go unheard
}

void BusFedSource::call(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QVariantList& arguments, int timeoutMs, Reply done) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  auto* pending = new QDBusPendingCallWatcher(bus_->connection().asyncCall(message, timeoutMs), context_.get());
  QObject::connect(pending, &QDBusPendingCallWatcher::finished, context_.get(),
                   [pending, done = std::move(done)] {
                     pending->deleteLater();
                     done(pending->reply());
                   });
}

void BusFedSource::after(int ms, std::function<void()> then) { QTimer::singleShot(ms, context_.get(), std::move(then)); }

void BusFedSource::watch(const QString& name, const QString& vouch, OwnerChanged changed) {
  vouch_ = vouch;
  changed_ = std::move(changed);
  watcher_ = std::make_unique<QDBusServiceWatcher>(name, bus_->connection(), QDBusServiceWatcher::WatchForOwnerChange);
  QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, context_.get(),
                   [this](const QString&, const QString&, const QString& owner) { ownerChanged(owner); });
  // The name may have changed hands before the watch began (a desktop that
  // was just asked to publish it): its owner now counts as a change.
  const unsigned change = change_;
  call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {name}, 2000,
       [this, change](const QDBusMessage& reply) {
         if (change != change_ || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
         const QString owner = reply.arguments().first().toString();
         if (owner != feeder_) ownerChanged(owner);
       });
}

void BusFedSource::setFeeder(const QString& owner) {
  if (owner.isEmpty() && !gone_.isValid()) gone_.start();
  feeder_ = owner;
}

bool BusFedSource::trusts(const QDBusMessage& message) const {
  return !feeder_.isEmpty() && message.service() == feeder_;
}

void BusFedSource::ownerChanged(const QString& owner) {
  const unsigned change = ++change_;
  if (owner.isEmpty() || vouch_.isEmpty()) {
    setFeeder(owner);
    changed_(owner);
    return;
  }
  // Not trusted until the bus says it also owns the vouching name.
  setFeeder(QString());
  call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {vouch_}, 2000,
       [this, change, owner](const QDBusMessage& reply) {
         if (change != change_) return;  // a later change decides
         const bool vouched = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                              reply.arguments().first().toString() == owner;
         setFeeder(vouched ? owner : QString());
         changed_(feeder_);
       });
}

void BusFedSource::standIn(const std::string& why) {
  notice_ = WindowSource::xwaylandNotice(why);
  try {
    standIn_ = std::make_unique<X11WindowSource>();
  } catch (const IOException&) {
    // No X server either: the poll tells the notice as its failure.
  }
}
