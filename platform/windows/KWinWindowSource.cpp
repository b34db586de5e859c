#include "platform/windows/KWinWindowSource.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVariantMap>
#include <memory>
#include <set>
#include <utility>

#include "basis/Exceptions.h"
#include "platform/windows/KWinScriptEvent.h"
#include "platform/SessionBus.h"

namespace {

const QString KWIN = QStringLiteral("org.kde.KWin");
const QString SCRIPTING = QStringLiteral("org.kde.kwin.Scripting");
const QString OBJECT_PATH = QStringLiteral("/org/morvane/KWinWindowList");
const QString INTERFACE = QStringLiteral("org.morvane.KWinWindowList1");
// Waits for the script's first report: after loading it, then after asking
// KWin to start its loaded scripts once more.
constexpr int FIRST_REPORT_MS = 700;
constexpr int RETRIED_REPORT_MS = 1500;
constexpr int WATCHDOG_MS = 2000;
constexpr int FIRST_SEARCH_MS = 15000;
// How often a restarted KWin is asked again to load the script.
constexpr int RELOAD_RETRY_MS = 250;

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
        .arg(INTERFACE);
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    QDBusConnection(connection).send(source_.handle(message));
    return true;
  }

 private:
  KWinWindowSource& source_;
};

KWinWindowSource::KWinWindowSource(std::unique_ptr<SessionBus> bus)
    : feed_(std::move(bus)), receiver_(std::make_unique<Receiver>(*this)) {
  static unsigned sources = 0;
  // Unique among the scripts KWin holds: this process, this source.
  plugin_ = QStringLiteral("morvane-window-list-%1-%2").arg(::getpid()).arg(++sources);
  feed_.bus().connection().registerVirtualObject(OBJECT_PATH, receiver_.get(), QDBusConnection::SingleNode);
}

KWinWindowSource::~KWinWindowSource() {
  // One short call at the end, so that KWin does not keep the script until
  // its watchdog notices.
  if (scriptLoaded_ && !feed_.feeder().isEmpty()) unloadScript();
  removeScriptFile();
  feed_.bus().connection().unregisterObject(OBJECT_PATH);
}

std::unique_ptr<KWinWindowSource> KWinWindowSource::open(std::string& /*why*/) {
  auto bus = std::make_unique<SessionBus>();
  if (!bus->connected()) return nullptr;
  QString kwin = bus->ownerOf(KWIN);  // the bus itself answers, not KWin
  if (kwin.isEmpty()) return nullptr;
  std::unique_ptr<KWinWindowSource> source(new KWinWindowSource(std::move(bus)));
  KWinWindowSource* self = source.get();
  source->feed_.setFeeder(kwin);
  source->feed_.watch(KWIN, QString(), [self](const QString& owner) { self->kwinOwnerChanged(owner); });
  source->load(false);
  return source;
}

void KWinWindowSource::load(bool retry, int attempt) {
  const unsigned load = ++load_;
  reported_ = false;
  scriptLoaded_ = false;
  QFile resource(QStringLiteral(":/morvane/kwin/window-list.js"));
  if (!resource.open(QIODevice::ReadOnly)) return fallBack("the script is missing from the program");
  QJsonObject config{{"service", feed_.bus().uniqueName()},
                     {"path", OBJECT_PATH},
                     {"iface", INTERFACE},
                     {"plugin", plugin_},
                     {"token", static_cast<int>(load)},
                     {"watchdogMs", WATCHDOG_MS}};
  QByteArray script = resource.readAll().replace("@CONFIG@", QJsonDocument(config).toJson(QJsonDocument::Compact));
  removeScriptFile();
  scriptFile_ = scriptFolder() + QStringLiteral("/%1.js").arg(plugin_);
  // A new file of our own: a leftover of an earlier process with this pid
  // goes first; a file or link of someone else's (in /tmp) stays and fails
  // the load rather than being written through.
  QFile::remove(scriptFile_);
  QFile file(scriptFile_);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(script) != script.size() || !file.flush()) {
    const std::string why = "cannot write " + text(scriptFile_) + ": " + text(file.errorString());
    removeScriptFile();
    return fallBack(why);
  }
  file.close();
  const QString owner = feed_.feeder();
  feed_.call(KWIN, "/Scripting", SCRIPTING, "loadScript", {scriptFile_, plugin_}, 2000,
             [this, load, retry, attempt, owner](const QDBusMessage& reply) {
               if (load != load_) return;
               const bool answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
               const int id = answered ? reply.arguments().first().toInt() : -1;
               if (id >= 0) {
                 scriptLoaded_ = true;
                 return run(load, id);
               }
               removeScriptFile();
               // A KWin that has just taken its bus name may not offer scripting yet.
               if (retry && attempt * RELOAD_RETRY_MS < RETURN_GRACE_MS) {
                 feed_.after(RELOAD_RETRY_MS, [this, load, attempt, owner] {
                   if (load == load_ && owner == feed_.feeder()) this->load(true, attempt + 1);
                 });
                 return;
               }
               fallBack(answered ? "KWin refused to load it" : "loading it failed: " + errorText(reply));
             });
}

void KWinWindowSource::run(unsigned load, int id) {
  // KWin 6 runs a loaded script through /Scripting/Script<id>, KWin 5
  // through /<id>; the object that exists tells which one this is. (A reused
  // id may name another script: only the first report proves anything.)
  feed_.call(KWIN, QStringLiteral("/Scripting/Script%1").arg(id), "org.kde.kwin.Script", "run", {}, 2000,
             [this, load, id](const QDBusMessage& reply) {
               if (load != load_ || reply.type() == QDBusMessage::ReplyMessage) return;
               feed_.call(KWIN, QStringLiteral("/%1").arg(id), "org.kde.kwin.Script", "run", {}, 2000,
                          [](const QDBusMessage&) {});  // KWin may still start it: the report decides
             });
  feed_.after(FIRST_REPORT_MS, [this, load] { checkStarted(load, false); });
}

void KWinWindowSource::unloadScript() {
  feed_.bus().call(KWIN, "/Scripting", SCRIPTING, "unloadScript", {plugin_}, 1000);
  scriptLoaded_ = false;
}

void KWinWindowSource::removeScriptFile() {
  if (!scriptFile_.isEmpty()) QFile::remove(scriptFile_);
  scriptFile_.clear();
}

void KWinWindowSource::kwinOwnerChanged(const QString& owner) {
  scriptLoaded_ = false;  // the script went with the old KWin
  removeScriptFile();
  if (owner.isEmpty()) {
    ++load_;  // what is under way was for the KWin that has gone
  } else if (mode_ == Mode::Script) {
    load(true);
  } else {
    feed_.fed();
  }
}

void KWinWindowSource::checkStarted(unsigned load, bool retried) {
  if (load != load_ || reported_) return;
  if (!retried) {
    feed_.call(KWIN, "/Scripting", SCRIPTING, "start", {}, 2000, [](const QDBusMessage&) {});
    feed_.after(RETRIED_REPORT_MS, [this, load] { checkStarted(load, true); });
    return;
  }
  feed_.call(KWIN, "/Scripting", SCRIPTING, "unloadScript", {plugin_}, 2000, [](const QDBusMessage&) {});
  scriptLoaded_ = false;
  removeScriptFile();
  fallBack("it was loaded but never reported");
}

void KWinWindowSource::fallBack(const std::string& why) {
  ++load_;  // a late report of the failed load no longer counts
  // The search answers its first query only once it has gathered every
  // window, which takes seconds with a hundred of them.
  feed_.call(KWIN, "/WindowsRunner", "org.kde.krunner1", "Match", {QString()}, FIRST_SEARCH_MS,
             [this, why](const QDBusMessage& reply) {
               if (reply.type() == QDBusMessage::ReplyMessage) {
                 mode_ = Mode::Search;
                 feed_.fed();
               } else {
                 feed_.standIn("KWin did not run Morvane's window list script (" + why +
                               ") and offers no window search (/WindowsRunner).");
               }
               notifyChanged();  // the next poll searches, or tells the failure
             });
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
  if (searching_) return;
  searching_ = true;
  // The search matches any part of a caption, without regard to case: what
  // it finds includes every window the watcher's rule can match. One search
  // per title, all at once; the list changes when the last one answers.
  struct Round {
    size_t left = 0;
    std::string error;
    std::vector<std::pair<std::string, std::string>> found;
    std::set<QString> ids;
  };
  auto round = std::make_shared<Round>();
  round->left = wanted_.size();
  auto finish = [this, round] {
    searching_ = false;
    if (!round->error.empty()) {
      if (feed_.feeder().isEmpty()) return;  // KWin restarts: the last result stands meanwhile
      failure_ = "KWin's window search failed: " + round->error;
      notifyChanged();
    } else if (windows_.replace(round->found)) {
      notifyChanged();
    }
  };
  if (wanted_.empty()) return finish();
  for (const QString& query : wanted_) {
    feed_.call(KWIN, "/WindowsRunner", "org.kde.krunner1", "Match", {query}, 2000,
               [round, finish](const QDBusMessage& reply) {
                 if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                   round->error = errorText(reply);
                 } else {
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
                     if (id.startsWith(QStringLiteral("0_")) && round->ids.insert(id).second)
                       round->found.emplace_back(text(id), text(ownTitle(caption)));
                   }
                   matches.endArray();
                 }
                 if (--round->left == 0) finish();
               });
  }
}

int32_t KWinWindowSource::enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) {
  if (WindowSource* xwayland = feed_.standingIn()) return xwayland->enumWindows(maxTitleBytes, callback, value);
  if (!feed_.notice().empty()) throw IOException("KWinWindowSource.enumWindows: " + feed_.notice());
  if (!failure_.empty()) {
    // Told once, as a failed search was before: the next poll searches again.
    const std::string failure = std::exchange(failure_, std::string());
    throw IOException("KWinWindowSource.enumWindows: " + failure);
  }
  if (feed_.goneTooLong()) {
    throw IOException("KWinWindowSource.enumWindows: KWin has left the session and not come back");
  }
  if (mode_ == Mode::Search) searchWindows();
  return windows_.enumerate(maxTitleBytes, callback, value);
}

QDBusMessage KWinWindowSource::handle(const QDBusMessage& message) {
  if (message.interface() != INTERFACE || message.member() != QLatin1String("Event") ||
      message.signature() != QLatin1String("s")) {
    return message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("Event(s) is the only method"));
  }
  // Only KWin's script speaks here: anyone else could feed the list.
  if (!feed_.trusts(message)) {
    return message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("only KWin reports windows here"));
  }
  const KWinScriptEvent report = KWinScriptEvent::parse(message.arguments().first().toString().toUtf8());
  // Reports of an older load, and changes before the list, do not count.
  if (report.token != static_cast<long long>(load_) || mode_ != Mode::Script) return message.createReply();
  if (report.kind != KWinScriptEvent::Kind::List && !reported_) return message.createReply();
  const bool changed = report.applyTo(windows_);
  if (report.kind == KWinScriptEvent::Kind::List) {
    reported_ = true;
    feed_.fed();
    removeScriptFile();  // KWin has read it
  }
  if (changed) notifyChanged();
  return message.createReply();
}
