#include "main/TMainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <functional>
#include <utility>

#include "basis/ConnectionLogLine.h"
#include "basis/Exceptions.h"
#include "basis/TProperties.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TStringTokenizer.h"
#include "debug/DebugStartup.h"
#include "debug/DialogHook.h"
#include "debug/TChannel.h"
#include "debug/TDialogWriter.h"
#include "main/ConnectionWatch.h"
#include "main/InterfaceMark.h"
#include "main/NetworkManagerMark.h"
#include "main/ShellLaunch.h"
#include "main/TWindowsIterator.h"
#include "main/WindowTitleMark.h"
#include "platform/netif/InterfacePattern.h"
#include "platform/networkmanager/NetworkManagerProfileWatch.h"
#include "platform/networkmanager/NetworkManagerProfiles.h"

TChannel* mainChannel = nullptr;
TChannel* netLogChannel = nullptr;

namespace {

// For display only: bytes the locale's encoding does not know are shown as
// replacement characters, while the program keeps the bytes themselves.
QString toQt(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// seconds x 1000 in 32 bits; values beyond the range are held at its end.
int32_t secondsToMillis(int32_t seconds) {
  int64_t millis = static_cast<int64_t>(seconds) * 1000;
  if (millis > INT32_MAX) return INT32_MAX;
  if (millis < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(millis);
}

// A number of seconds: `defaultValue` when the key is missing or empty; any
// other value that is no 32-bit integer fails, naming the key.
int32_t secondsSetting(const TProperties& properties, const std::string& key, int32_t defaultValue) {
  if (properties.getString(key, "").empty()) return defaultValue;
  return properties.getInteger(key);
}

}  // namespace

TMainForm::TMainForm() {
  // Design geometry at 96 pixels per inch; the system's default font family
  // at the design's character height of 11 pixels, so the captions fit.
  QFont designFont = font();
  designFont.setPixelSize(11);
  setFont(designFont);
  setWindowTitle("Morvane");
  setGeometry(265, 199, 253, 99);
  setFixedSize(253, 99);

  cbxConnection = new QComboBox(this);
  cbxConnection->setGeometry(8, 8, 225, 21);
  cbxConnection->setEditable(false);

  sbConnect = new QPushButton(tr("Verbinden"), this);
  sbConnect->setGeometry(8, 40, 121, 25);
  sbConnect->setFocusPolicy(Qt::NoFocus);  // a speed button takes no focus
  // It is still reachable from the keyboard: Return anywhere in the window
  // and Alt+V (shortcuts instead of a mnemonic keep the caption's look).
  for (QKeySequence keys : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter),
                            QKeySequence(Qt::ALT | Qt::Key_V)}) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, sbConnect, &QPushButton::click);  // no-op while disabled
  }
  cbxConnection->setAccessibleName(tr("Verbindung"));
  sbConnect->setAccessibleName(sbConnect->text());
  sbConnect->setAccessibleDescription(tr("Startet die gewählte Verbindung (Eingabetaste, Alt+V)"));

  cbLog = new QCheckBox(tr("Log schreiben"), this);
  // The design width, or what the caption needs in this style if that is more.
  cbLog->setGeometry(144, 40, std::max(89, cbLog->sizeHint().width()), 17);
  cbLog->setChecked(true);
  cbLog->setAccessibleName(cbLog->text());
  setTabOrder(cbxConnection, cbLog);

  timer = new QTimer(this);
  timerWarnings = new QTimer(this);

  connect(sbConnect, &QPushButton::clicked, this, [this] { sbConnectClick(); });
  connect(timer, &QTimer::timeout, this, [this] { timerTimer(); });
  connect(timerWarnings, &QTimer::timeout, this, [this] { timerWarningsTimer(); });
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // Run once the window is on the screen, outside the show itself.
  QTimer::singleShot(0, this, [this] { FormShow(); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  endOnRequest();
}

const TMainForm::Connection* TMainForm::selectedConnection() const {
  int index = cbxConnection->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= connections_.size()) return nullptr;
  return &connections_[static_cast<size_t>(index)];
}

std::string TMainForm::connectionName() const {
  const Connection* selected = selectedConnection();
  return selected != nullptr ? selected->name : std::string();
}

void TMainForm::endOnRequest() {
  requestTermination(connected_ ? EXIT_ENDED_WHILE_CONNECTED : EXIT_CONNECTION_ENDED);
}

void TMainForm::requestTermination(int exitStatus) {
  // The loop may run on for a while (error mails still under way): no more
  // looks, which could only add reports to an end already decided.
  ending_ = true;
  timer->stop();
  timerWarnings->stop();
  if (watch_) watch_->stop();
  QCoreApplication::exit(exitStatus);
}

void TMainForm::reportError(const std::exception* e, const std::string& prefix) {
  if (mainChannel != nullptr) mainChannel->error(e, prefix, 1, dialogWriter());
}

template <class Body>
void TMainForm::fatalOnFailure(const char* handler, Body&& body) {
  const std::string prefix = std::string("FATAL: TMainForm.") + handler + ": ";
  try {
    body();
    return;
  } catch (const std::exception& e) {
    reportError(&e, prefix);
  } catch (...) {
    reportError(nullptr, prefix);
  }
  requestTermination(EXIT_FAILED);
}

void TMainForm::clearConnections() {
  cbxConnection->clear();
  connections_.clear();
}

bool TMainForm::init() {
  windowTitles.clear();
  intervalMillis = 1000;
  try {
    clearConnections();
    std::unique_ptr<TProperties> properties = TProperties::createDefault();

    intervalMillis = secondsToMillis(secondsSetting(*properties, "interval", 1));
    if (intervalMillis < 1) {
      throw IllegalArgumentException("Interval must be greater as or equal one second.");
    }

    // With profile types to list, the names may be left out.
    const std::string types = properties->getString("networkmanager.types", "");
    profileTypes_.clear();
    for (TStringTokenizer tokens(types, ", "); tokens.hasMoreTokens();) profileTypes_.push_back(tokens.nextToken());
    TStringTokenizer names(profileTypes_.empty() ? properties->getString("names") : properties->getString("names", ""),
                           ", ");
    while (names.hasMoreTokens()) {
      std::string name = names.nextToken();
      Connection connection{name, nullptr, std::nullopt, std::string(), std::string()};
      const std::string interfaceKey = name + ".interface";
      const std::string profileKey = name + ".networkmanager";
      if (properties->containsKey(profileKey)) {
        connection.profile = TString::trim(properties->getString(profileKey));
        connection.profileKey = profileKey;
        if (connection.profile.empty()) {
          throw IllegalArgumentException("Key: " + profileKey + " names no NetworkManager profile.");
        }
        if (properties->containsKey(name)) {
          throw IllegalArgumentException("Keys: " + name + " and " + profileKey +
                                         ": a connection starts a target or activates a NetworkManager profile, "
                                         "not both.");
        }
        if (properties->containsKey(interfaceKey)) {
          throw IllegalArgumentException("Keys: " + interfaceKey + " and " + profileKey +
                                         ": a NetworkManager connection is watched through its profile alone.");
        }
      } else {
        connection.target = properties->getStringObject(name);
        if (properties->containsKey(interfaceKey)) {
          connection.interface = InterfacePattern::parse(interfaceKey, properties->getString(interfaceKey));
        }
      }
      connections_.push_back(std::move(connection));
      cbxConnection->addItem(toQt(name));
    }
    configuredCount_ = connections_.size();
    // With profile types to list, the first listing decides (profilesListed).
    if (cbxConnection->count() == 0 && profileTypes_.empty()) {
      throw IllegalArgumentException("Please define at minimum one ppp connection.");
    }
    cbxConnection->setCurrentIndex(0);

    // The titles serve the connections without an interface or profile; when
    // every connection has one, "window" may be left out.
    const bool everyInterface = std::all_of(connections_.begin(), connections_.end(), [](const Connection& c) {
      return c.interface.has_value() || !c.profile.empty();
    });
    if (!everyInterface || properties->containsKey("window")) {
      windowTitles = properties->getString("window");
      if (TString::trim(windowTitles).empty()) {
        throw IllegalArgumentException("The Window Title string must contains at minimum one title.");
      }
      // The watcher would refuse an empty title, and a blank one matches every
      // untitled window: refused now, before anything is started.
      std::unique_ptr<TStringCollection> parts = TString::split(windowTitles, ',');
      for (const std::string& part : parts->getStrings()) {
        if (TString::trim(part).empty()) {
          throw IllegalArgumentException("Key: window holds an empty title (a comma at the start or end, or two "
                                         "in a row): '" + windowTitles + "'.");
        }
      }
    }
    warningsMillis = secondsToMillis(secondsSetting(*properties, "interval.warnings", 0));
    if (!profileTypes_.empty()) {
      // Nothing to connect until a listing brings something.
      sbConnect->setEnabled(cbxConnection->count() > 0);
      profilesListed_ = false;
      profileWatch_ = std::make_unique<NetworkManagerProfileWatch>(
          [this](const NetworkManagerListing& listing) { profilesListed(listing); });
    }
    return true;
  } catch (const std::exception& e) {
    reportError(&e, "TMainForm.init: ");
  } catch (...) {
    reportError(nullptr, "TMainForm.init: ");
  }
  return false;
}

void TMainForm::startConnection() {
  const Connection* selected = selectedConnection();
  if (selected == nullptr) throw IllegalStateException("Illegal state: No connection selected.");
  if (!selected->profile.empty()) {
    if (profileMark_ == nullptr) throw IllegalStateException("Illegal state: The profile is not watched.");
    profileMark_->activate();
    return;
  }
  // The target's bytes whole: one holding a NUL byte is refused, not cut.
  shellLaunch(selected->target->stringValue(), this, [this](const std::string& failure) {
    // Once the connection's mark was seen, the opener's end says nothing about the connection.
    if (watch_ && watch_->seen()) return;
    fatalOnFailure("startConnection", [&failure] { throw IOException(failure); });
  });
}

TWindowsIterator* TMainForm::getIterator() {
  if (iterator) return iterator.get();
  fatalOnFailure("getIterator", [this] {
    if (!titles) titles = TString::split(windowTitles, ',');
    iterator = std::make_unique<TWindowsIterator>(titles.get(), static_cast<uintptr_t>(winId()));
  });
  return iterator.get();  // nullptr after a failure: the caller stops its work
}

void TMainForm::FormShow() {
  if (!init()) illegalConfiguration();
}

void TMainForm::illegalConfiguration() {
  try {
    showDialog(DialogKind::Error, "Illegal Configuration File. Messages should have been provided.");
  } catch (...) {
  }
  requestTermination(EXIT_FAILED);
}

void TMainForm::sbConnectClick() {
  fatalOnFailure("sbConnectClick", [this] {
    showMinimized();
    // The taskbar shows the main window's title on X11, so the application
    // title and the form caption are one and the same text.
    setWindowTitle(tr("Morvane: [Verbunden mit %1]").arg(toQt(connectionName())));
    cbxConnection->setEnabled(false);
    sbConnect->setEnabled(false);
    sbConnect->setText(tr("Verbunden"));
    sbConnect->setAccessibleName(sbConnect->text());
    cbLog->setEnabled(false);
    pressed_ = true;
    const Connection* selected = selectedConnection();
    if (selected != nullptr && !selected->profile.empty()) {
      // The profile is looked up first: one that does not exist, or
      // NetworkManager not running, ends the program before anything is
      // logged.
      NetworkManagerMark::lookUp(this, selected->profileKey, selected->profile,
                                 [this](std::unique_ptr<NetworkManagerMark> mark, const std::string& failure) {
                                   if (ending_) return;
                                   fatalOnFailure("sbConnectClick", [&] {
                                     if (!failure.empty()) throw IOException(failure);
                                     profileMark_ = mark.get();
                                     openConnection(std::move(mark));
                                   });
                                 });
      return;
    }
    // A connection with an interface is watched through it alone. Its link
    // events are opened before anything is logged or started, so a failure
    // ends the program before the target runs, and an interface that is up
    // already counts at once.
    std::unique_ptr<ConnectionMark> mark;
    if (selected != nullptr && selected->interface) mark = std::make_unique<InterfaceMark>(*selected->interface);
    openConnection(std::move(mark));
  });
}

void TMainForm::openConnection(std::unique_ptr<ConnectionMark> mark) {
  if (cbLog->isChecked()) netLogChannel->trace(openConnectionLine(connectionName()));
  startConnection();
  connected_ = true;
  if (!mark) mark = connectionMark();
  if (mark == nullptr) return;
  auto run = [this](const char* handler, const std::function<void()>& look) { fatalOnFailure(handler, look); };
  watch_ = std::make_unique<ConnectionWatch>(std::move(mark), run, [this] { connectionEnded(); });
  timer->setInterval(intervalMillis);
  timer->start();
  if (warningsMillis > 9999) {
    timerWarnings->setInterval(warningsMillis);
    timerWarnings->start();
  }
  watch_->start();
  // Watching has started: the dialog does not hold it up.
  toldNotice_.clear();
  tellNotice();
}

void TMainForm::tellNotice() {
  // A notice is no failure: it is told as information, on the channel and
  // in a dialog.
  const std::string notice = watch_->mark().notice();
  if (notice.empty() || notice == toldNotice_) return;
  toldNotice_ = notice;
  if (mainChannel != nullptr) mainChannel->trace(true, "NOTICE: " + notice, 3, dialogWriter());
}

std::unique_ptr<ConnectionMark> TMainForm::connectionMark() {
  TWindowsIterator* watcher = getIterator();
  if (watcher == nullptr) return nullptr;
  watcher->reset();
  return std::make_unique<WindowTitleMark>(watcher);
}

void TMainForm::timerTimer() {
  fatalOnFailure("timerTimer", [this] {
    if (!watch_) return;
    watch_->look();
    tellNotice();
  });
}

void TMainForm::connectionEnded() {
  if (cbLog->isChecked()) {
    const std::string name = connectionName();
    for (const std::string& line : watch_->mark().closingLines(name)) netLogChannel->trace(line);
    netLogChannel->trace(closeConnectionLine(name));
  }
  connected_ = false;
  requestTermination(EXIT_CONNECTION_ENDED);
}

void TMainForm::profilesListed(const NetworkManagerListing& listing) {
  if (destroyed_ || ending_) return;
  const bool first = !profilesListed_;
  profilesListed_ = true;
  // The configured connections go on working without NetworkManager. Told on
  // the channel only: the installed configuration lists types, and a desktop
  // without NetworkManager would see a dialog at every start.
  if (first && !listing.failure.empty() && mainChannel != nullptr) {
    mainChannel->trace("NOTICE: networkmanager.types: " + listing.failure, 3);
  }
  if (pressed_) return;
  const std::string selected = connectionName();
  connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(configuredCount_), connections_.end());
  while (cbxConnection->count() > static_cast<int>(configuredCount_)) {
    cbxConnection->removeItem(cbxConnection->count() - 1);
  }
  for (const NetworkManagerProfile& profile : listing.profiles) {
    if (std::find(profileTypes_.begin(), profileTypes_.end(), profile.type) == profileTypes_.end()) continue;
    const bool named = std::any_of(connections_.begin(), connections_.end(),
                                   [&profile](const Connection& c) { return c.name == profile.id; });
    if (named) continue;
    connections_.push_back({profile.id, nullptr, std::nullopt, profile.uuid, "networkmanager.types"});
    cbxConnection->addItem(toQt(profile.id));
  }
  const auto kept = std::find_if(connections_.begin(), connections_.end(),
                                 [&selected](const Connection& c) { return c.name == selected; });
  cbxConnection->setCurrentIndex(kept != connections_.end() ? static_cast<int>(kept - connections_.begin()) : 0);
  sbConnect->setEnabled(cbxConnection->count() > 0);
  if (first && cbxConnection->count() == 0) {
    // No names configured and nothing listed: nothing the window could offer.
    const IllegalArgumentException nothing("Please define at minimum one ppp connection.");
    reportError(&nothing, "TMainForm.init: ");
    illegalConfiguration();
  }
}

void TMainForm::timerWarningsTimer() {
  try {
    showDialog(DialogKind::Information, tr("Es besteht eine Internetverbindung.").toStdString());
  } catch (const std::exception& e) {
    reportError(&e, "TMainForm.timerWarningsTimer: ");
  } catch (...) {
    reportError(nullptr, "TMainForm.timerWarningsTimer: ");
  }
}

void TMainForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    clearConnections();
    profileWatch_.reset();
    profileMark_ = nullptr;
    watch_.reset();    // its mark looks through `iterator`
    iterator.reset();  // it watches `titles`
    titles.reset();
  } catch (...) {
  }
  releaseDebug();
  mainChannel = nullptr;
  netLogChannel = nullptr;
}
