#include "platform/windows/GnomeShellWindowSource.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QObject>
#include <utility>
#include <vector>

#include "basis/Exceptions.h"
#include "platform/windows/GnomeShellExtension.h"
#include "platform/SessionBus.h"

namespace {

const QString LIST_NAME = QString::fromLatin1(GnomeShellExtension::BUS_NAME);
const QString LIST_PATH = QStringLiteral("/org/morvane/WindowList");
const QString LIST_INTERFACE = QStringLiteral("org.morvane.WindowList1");
const QString SHELL_NAME = QStringLiteral("org.gnome.Shell");
// How long the shell may take to answer for its list.
constexpr int LIST_ANSWER_MS = 2000;

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
    : feed_(std::move(bus)), receiver_(std::make_unique<Receiver>(*this)) {}

GnomeShellWindowSource::~GnomeShellWindowSource() = default;

std::unique_ptr<GnomeShellWindowSource> GnomeShellWindowSource::open(std::string& why) {
  auto bus = std::make_unique<SessionBus>();
  if (!bus->connected()) return nullptr;
  const QString shell = bus->ownerOf(SHELL_NAME);  // the bus itself answers, not the shell
  if (shell.isEmpty()) return nullptr;
  std::string ifLate;
  why = GnomeShellExtension::prepare(*bus, shell, ifLate);
  if (!why.empty()) return nullptr;
  std::unique_ptr<GnomeShellWindowSource> source(new GnomeShellWindowSource(std::move(bus)));
  // Signals first, then the list: a change in between comes after the list.
  QDBusConnection& connection = source->feed_.bus().connection();
  Receiver* receiver = source->receiver_.get();
  const bool subscribed = connection.connect(LIST_NAME, LIST_PATH, LIST_INTERFACE, "WindowOpened", receiver,
                                             SLOT(windowOpened(qulonglong, QString, QDBusMessage))) &&
                          connection.connect(LIST_NAME, LIST_PATH, LIST_INTERFACE, "TitleChanged", receiver,
                                             SLOT(titleChanged(qulonglong, QString, QDBusMessage))) &&
                          connection.connect(LIST_NAME, LIST_PATH, LIST_INTERFACE, "WindowClosed", receiver,
                                             SLOT(windowClosed(qulonglong, QDBusMessage)));
  if (!subscribed) {
    why = "GNOME Shell's window list (Morvane's extension) cannot be followed: log out and log in once.";
    return nullptr;
  }
  GnomeShellWindowSource* self = source.get();
  source->feed_.watch(LIST_NAME, SHELL_NAME, [self](const QString& owner) { self->listOwnerChanged(owner); });
  if (ifLate.empty()) {
    source->feed_.setFeeder(shell);
    source->readList();
    ifLate = "GNOME Shell's window list (Morvane's extension) does not answer: log out and log in once.";
  } else {
    source->feed_.setFeeder(QString());
  }
  source->feed_.after(GnomeShellExtension::START_MS + LIST_ANSWER_MS, [self, ifLate] {
    if (self->listed_) return;
    self->feed_.standIn(ifLate);
    self->notifyChanged();
  });
  return source;
}

std::vector<std::pair<uint64_t, std::string>> GnomeShellWindowSource::windowsOf(const QDBusMessage& reply) {
  std::vector<std::pair<uint64_t, std::string>> list;
  const QDBusArgument windows = reply.arguments().first().value<QDBusArgument>();
  windows.beginArray();
  while (!windows.atEnd()) {
    qulonglong id = 0;
    QString title;
    windows.beginStructure();
    windows >> id >> title;
    windows.endStructure();
    list.emplace_back(id, title.toStdString());
  }
  windows.endArray();
  return list;
}

void GnomeShellWindowSource::readList() {
  const unsigned reading = ++reading_;
  const QString shell = feed_.feeder();
  feed_.call(LIST_NAME, LIST_PATH, LIST_INTERFACE, "GetWindows", {}, LIST_ANSWER_MS,
             [this, reading, shell](const QDBusMessage& reply) {
               if (reading != reading_ || shell != feed_.feeder()) return;  // a newer publisher decides
               if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a(ts)")) return;
               std::vector<std::pair<std::string, std::string>> list;
               for (auto& [id, title] : windowsOf(reply)) list.emplace_back(keyOf(id), std::move(title));
               if (feed_.standingIn() != nullptr || !feed_.notice().empty()) return;  // XWayland has taken over
               listed_ = true;
               windows_.replace(list);
               feed_.fed();
               notifyChanged();
             });
}

void GnomeShellWindowSource::listOwnerChanged(const QString& owner) {
  // A list from anyone but the shell is not one to trust (the helper has
  // checked): the last list stays for the grace time.
  if (!owner.isEmpty()) readList();
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
  if (WindowSource* xwayland = feed_.standingIn()) return xwayland->enumWindows(maxTitleBytes, callback, value);
  if (!feed_.notice().empty()) throw IOException("GnomeShellWindowSource.enumWindows: " + feed_.notice());
  if (feed_.goneTooLong()) {
    throw IOException("GnomeShellWindowSource.enumWindows: GNOME Shell's window list has gone and not come back");
  }
  return windows_.enumerate(maxTitleBytes, callback, value);
}

#include "GnomeShellWindowSource.moc"
