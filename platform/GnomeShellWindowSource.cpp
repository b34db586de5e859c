#include "platform/GnomeShellWindowSource.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <utility>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/GnomeShellExtension.h"
#include "platform/SessionBus.h"

namespace {

const QString kListName = QString::fromLatin1(GnomeShellExtension::kBusName);
const QString kListPath = QStringLiteral("/org/morvane/WindowList");
const QString kListInterface = QStringLiteral("org.morvane.WindowList1");

std::string keyOf(uint64_t id) { return std::to_string(id); }

}  // namespace

// Receives the extension's signals (QtDBus delivers them to slots).
class GnomeShellWindowSource::Receiver : public QObject {
  Q_OBJECT
 public:
  explicit Receiver(GnomeShellWindowSource& source) : source_(source) {}

 public slots:
  void windowOpened(qulonglong id, const QString& title, const QDBusMessage& message) {
    if (source_.trusts(message)) source_.opened(id, title);
  }
  void titleChanged(qulonglong id, const QString& title, const QDBusMessage& message) {
    if (source_.trusts(message)) source_.retitled(id, title);
  }
  void windowClosed(qulonglong id, const QDBusMessage& message) {
    if (source_.trusts(message)) source_.closed(id);
  }

 private:
  GnomeShellWindowSource& source_;
};

GnomeShellWindowSource::GnomeShellWindowSource(std::unique_ptr<SessionBus> bus)
    : bus_(std::move(bus)), receiver_(std::make_unique<Receiver>(*this)) {}

GnomeShellWindowSource::~GnomeShellWindowSource() = default;

std::unique_ptr<GnomeShellWindowSource> GnomeShellWindowSource::open(std::string& why) {
  auto bus = std::make_unique<SessionBus>();
  if (!bus->connected()) return nullptr;
  const QString shell = bus->ownerOf(QStringLiteral("org.gnome.Shell"));
  if (shell.isEmpty()) return nullptr;
  why = GnomeShellExtension::prepare(*bus, shell);
  if (!why.empty()) return nullptr;
  std::unique_ptr<GnomeShellWindowSource> source(new GnomeShellWindowSource(std::move(bus)));
  source->shell_ = shell;
  // Signals first, then the list: a change in between comes after the list.
  QDBusConnection& connection = source->bus_->connection();
  Receiver* receiver = source->receiver_.get();
  const bool subscribed = connection.connect(kListName, kListPath, kListInterface, "WindowOpened", receiver,
                                             SLOT(windowOpened(qulonglong, QString, QDBusMessage))) &&
                          connection.connect(kListName, kListPath, kListInterface, "TitleChanged", receiver,
                                             SLOT(titleChanged(qulonglong, QString, QDBusMessage))) &&
                          connection.connect(kListName, kListPath, kListInterface, "WindowClosed", receiver,
                                             SLOT(windowClosed(qulonglong, QDBusMessage)));
  if (!subscribed || !source->readList()) {
    why = "GNOME Shell's window list (Morvane's extension) does not answer: log out and log in once.";
    return nullptr;
  }
  source->listWatcher_ =
      std::make_unique<QDBusServiceWatcher>(kListName, connection, QDBusServiceWatcher::WatchForOwnerChange);
  GnomeShellWindowSource* self = source.get();
  QObject::connect(source->listWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, receiver,
                   [self](const QString&, const QString&, const QString& owner) { self->listOwnerChanged(owner); });
  return source;
}

bool GnomeShellWindowSource::readList() {
  QDBusMessage reply = bus_->call(kListName, kListPath, kListInterface, "GetWindows");
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a(ts)")) return false;
  std::vector<std::pair<std::string, std::string>> list;
  const QDBusArgument windows = reply.arguments().first().value<QDBusArgument>();
  windows.beginArray();
  while (!windows.atEnd()) {
    qulonglong id = 0;
    QString title;
    windows.beginStructure();
    windows >> id >> title;
    windows.endStructure();
    list.emplace_back(keyOf(id), title.toStdString());
  }
  windows.endArray();
  windows_.replace(list);
  listGone_.invalidate();
  notifyChanged();
  return true;
}

bool GnomeShellWindowSource::trusts(const QDBusMessage& message) const {
  return !shell_.isEmpty() && message.service() == shell_;
}

void GnomeShellWindowSource::listOwnerChanged(const QString& owner) {
  // A list from anyone but the shell is not one to trust.
  const QString shell = owner.isEmpty() ? QString() : bus_->ownerOf(QStringLiteral("org.gnome.Shell"));
  if (owner.isEmpty() || owner != shell) {
    shell_.clear();
    if (!listGone_.isValid()) listGone_.start();
    return;
  }
  shell_ = shell;
  readList();
}

void GnomeShellWindowSource::opened(uint64_t id, const QString& title) {
  if (windows_.open(keyOf(id), title.toStdString())) notifyChanged();
}

void GnomeShellWindowSource::retitled(uint64_t id, const QString& title) {
  if (windows_.retitle(keyOf(id), title.toStdString())) notifyChanged();
}

void GnomeShellWindowSource::closed(uint64_t id) {
  if (windows_.close(keyOf(id))) notifyChanged();
}

int32_t GnomeShellWindowSource::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  if (listGone_.isValid() && listGone_.elapsed() > kReturnGraceMs) {
    throw IOException("GnomeShellWindowSource.enumWindows: GNOME Shell's window list has gone and not come back");
  }
  return windows_.enumerate(maxTitleBytes, callback, value);
}

#include "GnomeShellWindowSource.moc"
