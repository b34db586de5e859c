#include "platform/KWinWindowSource.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QVariantMap>
#include <set>

#include "basis/Exceptions.h"
#include "platform/KWinReport.h"
#include "platform/SessionBus.h"

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("org.kde.kwin.Scripting");
const QString kObjectPath = QStringLiteral("/org/morvane/KWinWindowList");
const QString kInterface = QStringLiteral("org.morvane.KWinWindowList1");
// Waits for the script's first report: after loading it, then after asking
// KWin to start its loaded scripts once more.
constexpr int kFirstReportMs = 700;
constexpr int kRetriedReportMs = 1500;
constexpr int kWatchdogMs = 2000;
constexpr int kFirstSearchMs = 15000;
// How often a restarted KWin is asked again to load the script.
constexpr int kReloadRetryMs = 250;

std::string text(const QString& s) { return s.toStdString(); }

std::string errorText(const QDBusMessage& reply) {
  return text(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
}

// KWin 5 shows a window whose title another window has already got with
// " <2>", " <3>", ... and a left-to-right mark; the window's own title is
// the rest. (The script does the same for its reports.)
QString ownTitle(QString caption) {
  static const QRegularExpression mark(QStringLiteral(" <\\d+>\u200e$"));
  return caption.remove(mark);
}

// Where KWin can read the script: the user's runtime folder, else /tmp.
QString scriptFolder() {
  QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

// This source's object on the bus: the script calls its Event(s).
class KWinWindowSource::Receiver : public QDBusVirtualObject {
 public:
  explicit Receiver(KWinWindowSource& source) : source_(source) {}
  QString introspect(const QString&) const override {
    return QStringLiteral(
               "<interface name=\"%1\"><method name=\"Event\"><arg name=\"json\" type=\"s\" "
               "direction=\"in\"/></method></interface>")
        .arg(kInterface);
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    QDBusConnection(connection).send(source_.handle(message));
    return true;
  }

 private:
  KWinWindowSource& source_;
};

KWinWindowSource::KWinWindowSource(std::unique_ptr<SessionBus> bus)
    : bus_(std::move(bus)), receiver_(std::make_unique<Receiver>(*this)), timers_(std::make_unique<QObject>()) {
  static unsigned sources = 0;
  // Unique among the scripts KWin holds: this process, this source.
  plugin_ = QStringLiteral("morvane-window-list-%1-%2").arg(::getpid()).arg(++sources);
  bus_->connection().registerVirtualObject(kObjectPath, receiver_.get(), QDBusConnection::SingleNode);
}

KWinWindowSource::~KWinWindowSource() {
  timers_.reset();
  kwinWatcher_.reset();
  if (scriptLoaded_ && !kwinOwner_.isEmpty()) unloadScript();
  removeScriptFile();
  bus_->connection().unregisterObject(kObjectPath);
}

std::unique_ptr<KWinWindowSource> KWinWindowSource::open(std::string& why) {
  auto bus = std::make_unique<SessionBus>();
  if (!bus->connected()) return nullptr;
  QString kwin = bus->ownerOf(kKWin);
  if (kwin.isEmpty()) return nullptr;
  std::unique_ptr<KWinWindowSource> source(new KWinWindowSource(std::move(bus)));
  source->kwinOwner_ = kwin;
  std::string scriptFailure;
  bool running = source->loadScript(scriptFailure) && source->awaitReport(kFirstReportMs);
  if (!running && source->scriptLoaded_) {
    source->bus_->call(kKWin, "/Scripting", kScripting, "start");
    running = source->awaitReport(kRetriedReportMs);
    if (!running) {
      scriptFailure = "it was loaded but never reported";
      source->unloadScript();
      source->removeScriptFile();
    }
  }
  if (!running && !source->startSearch()) {
    why = "KWin did not run Morvane's window list script (" + scriptFailure +
          ") and offers no window search (/WindowsRunner).";
    return nullptr;
  }
  source->kwinWatcher_ = std::make_unique<QDBusServiceWatcher>(kKWin, source->bus_->connection(),
                                                               QDBusServiceWatcher::WatchForOwnerChange);
  KWinWindowSource* self = source.get();
  QObject::connect(source->kwinWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, source->timers_.get(),
                   [self](const QString&, const QString&, const QString& owner) { self->kwinOwnerChanged(owner); });
  return source;
}

bool KWinWindowSource::loadScript(std::string& why) {
  ++load_;
  reported_ = false;
  QFile resource(QStringLiteral(":/morvane/kwin/window-list.js"));
  if (!resource.open(QIODevice::ReadOnly)) {
    why = "the script is missing from the program";
    return false;
  }
  QJsonObject config{
      {"service", bus_->uniqueName()},    {"path", kObjectPath},      {"iface", kInterface}, {"plugin", plugin_},
      {"token", static_cast<int>(load_)}, {"watchdogMs", kWatchdogMs}};
  QByteArray script = resource.readAll().replace("@CONFIG@", QJsonDocument(config).toJson(QJsonDocument::Compact));
  scriptFile_ = scriptFolder() + QStringLiteral("/%1.js").arg(plugin_);
  // A new file of our own: a leftover of an earlier process with this pid
  // goes first; a file or link of someone else's (in /tmp) stays and fails
  // the load rather than being written through.
  QFile::remove(scriptFile_);
  QFile file(scriptFile_);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(script) != script.size() || !file.flush()) {
    why = "cannot write " + text(scriptFile_) + ": " + text(file.errorString());
    removeScriptFile();
    return false;
  }
  file.close();
  QDBusMessage reply = bus_->call(kKWin, "/Scripting", kScripting, "loadScript", {scriptFile_, plugin_});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    why = "loading it failed: " + errorText(reply);
    removeScriptFile();
    return false;
  }
  const int id = reply.arguments().first().toInt();
  if (id < 0) {
    why = "KWin refused to load it";
    removeScriptFile();
    return false;
  }
  scriptLoaded_ = true;
  // KWin 6 runs a loaded script through /Scripting/Script<id>, KWin 5
  // through /<id>; the object that exists tells which one this is. (A reused
  // id may name another script: only the first report proves anything.)
  for (const QString& path : {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)}) {
    reply = bus_->call(kKWin, path, "org.kde.kwin.Script", "run");
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
  }
  why = "running it failed: " + errorText(reply);
  return true;  // loaded: KWin may still start it
}

void KWinWindowSource::unloadScript() {
  bus_->call(kKWin, "/Scripting", kScripting, "unloadScript", {plugin_}, 1000);
  scriptLoaded_ = false;
}

void KWinWindowSource::removeScriptFile() {
  if (!scriptFile_.isEmpty()) QFile::remove(scriptFile_);
  scriptFile_.clear();
}

bool KWinWindowSource::awaitReport(int ms) {
  // The bus's thread posts each incoming call to the receiver; delivering
  // only those keeps every other timer and event of the program waiting.
  QElapsedTimer waited;
  waited.start();
  while (!reported_ && waited.elapsed() < ms) {
    QCoreApplication::sendPostedEvents(receiver_.get());
    if (!reported_) QThread::msleep(2);
  }
  return reported_;
}

void KWinWindowSource::kwinOwnerChanged(const QString& owner) {
  kwinOwner_ = owner;
  scriptLoaded_ = false;  // the script went with the old KWin
  removeScriptFile();
  if (owner.isEmpty()) {
    kwinGone_.start();
  } else if (mode_ == Mode::Script) {
    reload(0);
  } else {
    kwinGone_.invalidate();
  }
}

void KWinWindowSource::reload(int attempt) {
  std::string why;
  if (loadScript(why)) {
    const unsigned load = load_;
    QTimer::singleShot(kFirstReportMs, timers_.get(), [this, load] { checkStarted(load, false); });
    return;
  }
  // A KWin that has just taken its bus name may not offer scripting yet.
  if (attempt * kReloadRetryMs < kReturnGraceMs) {
    const QString owner = kwinOwner_;
    QTimer::singleShot(kReloadRetryMs, timers_.get(), [this, attempt, owner] {
      if (owner == kwinOwner_) reload(attempt + 1);
    });
    return;
  }
  fallBack("KWin came back but did not load Morvane's window list script: " + why);
}

void KWinWindowSource::checkStarted(unsigned load, bool retried) {
  if (load != load_ || reported_) return;
  if (!retried) {
    bus_->call(kKWin, "/Scripting", kScripting, "start");
    QTimer::singleShot(kRetriedReportMs, timers_.get(), [this, load] { checkStarted(load, true); });
    return;
  }
  unloadScript();
  removeScriptFile();
  fallBack("KWin came back but did not run Morvane's window list script");
}

void KWinWindowSource::fallBack(const std::string& why) {
  if (!startSearch()) failure_ = why;
  notifyChanged();  // the next poll searches, or tells the failure
}

bool KWinWindowSource::startSearch() {
  // The search answers its first query only once it has gathered every
  // window, which takes seconds with a hundred of them.
  QDBusMessage reply = bus_->call(kKWin, "/WindowsRunner", "org.kde.krunner1", "Match", {QString()}, kFirstSearchMs);
  if (reply.type() != QDBusMessage::ReplyMessage) return false;
  mode_ = Mode::Search;
  kwinGone_.invalidate();
  return true;
}

void KWinWindowSource::setWantedTitles(const std::vector<std::string>& titles) {
  wanted_.clear();
  std::set<QString> seen;
  for (const std::string& title : titles) {
    QString query = QString::fromStdString(title).trimmed();
    if (!query.isEmpty() && seen.insert(query).second) wanted_.push_back(query);
  }
}

void KWinWindowSource::searchWindows() {
  // The search matches any part of a caption, without regard to case: what
  // it finds includes every window the watcher's rule can match.
  std::vector<std::pair<std::string, std::string>> found;
  std::set<QString> ids;
  for (const QString& query : wanted_) {
    QDBusMessage reply = bus_->call(kKWin, "/WindowsRunner", "org.kde.krunner1", "Match", {query});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      if (kwinOwner_.isEmpty()) return;  // KWin restarts: the last result stands meanwhile
      throw IOException("KWinWindowSource.enumWindows: KWin's window search failed: " + errorText(reply));
    }
    const QDBusArgument matches = reply.arguments().first().value<QDBusArgument>();
    matches.beginArray();
    while (!matches.atEnd()) {
      QString id, caption, icon;
      int type = 0;
      double relevance = 0;
      QVariantMap properties;
      matches.beginStructure();
      matches >> id >> caption >> icon >> type >> relevance >> properties;
      matches.endStructure();
      // Windows are "0_{uuid}"; other matches (desktops, actions) are not.
      if (id.startsWith(QStringLiteral("0_")) && ids.insert(id).second)
        found.emplace_back(text(id), text(ownTitle(caption)));
    }
    matches.endArray();
  }
  windows_.replace(found);
}

int32_t KWinWindowSource::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  if (!failure_.empty()) throw IOException("KWinWindowSource.enumWindows: " + failure_);
  if (kwinGone_.isValid() && kwinGone_.elapsed() > kReturnGraceMs) {
    throw IOException("KWinWindowSource.enumWindows: KWin has left the session and not come back");
  }
  if (mode_ == Mode::Search) searchWindows();
  return windows_.enumerate(maxTitleBytes, callback, value);
}

QDBusMessage KWinWindowSource::handle(const QDBusMessage& message) {
  if (message.interface() != kInterface || message.member() != QLatin1String("Event") ||
      message.signature() != QLatin1String("s")) {
    return message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("Event(s) is the only method"));
  }
  // Only KWin's script speaks here: anyone else could feed the list.
  if (message.service() != kwinOwner_ || kwinOwner_.isEmpty()) {
    return message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("only KWin reports windows here"));
  }
  const KWinReport report = KWinReport::parse(message.arguments().first().toString().toUtf8());
  // Reports of an older load, and changes before the list, do not count.
  if (report.token != static_cast<long long>(load_) || mode_ != Mode::Script) return message.createReply();
  if (report.kind != KWinReport::Kind::List && !reported_) return message.createReply();
  const bool changed = report.applyTo(windows_);
  if (report.kind == KWinReport::Kind::List) {
    reported_ = true;
    kwinGone_.invalidate();
    removeScriptFile();  // KWin has read it
  }
  if (changed) notifyChanged();
  return message.createReply();
}
