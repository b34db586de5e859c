#pragma once
// The toplevel windows of KWin (KDE Plasma), native Wayland and XWayland
// alike, from KWin itself over the session bus.
//
// The source loads a small KWin script (platform/kwin/window-list.js, carried
// inside the program) under a name of its own and gives it this source's
// bus name and object; the script reports the window list and every open,
// close and title change back, and the source keeps them in memory, so a
// poll makes no call. KWin 5 and 6 differ in their script API and in the
// object a loaded script is run through; the script and the source ask
// which one is there. KWin fails silently when a script does not run (a
// reused script id, a file it cannot read), so only the script's first
// report counts: until then the source asks KWin to start its loaded
// scripts once more, and then gives up.
//
// The script goes when the source is destroyed, and by itself within a few
// seconds when this process is gone without that (a watchdog in the script
// asks the bus for this source's name). A restarted KWin (a new owner of
// org.kde.KWin) gets the script again; until its first report the last list
// stays, since windows may outlive a compositor restart.
//
// Where KWin does not run the script, the source polls KWin's window
// search (/WindowsRunner) for the titles it is given (setWantedTitles):
// one call per title and poll, no events.
//
// Not thread-safe; it belongs to the thread that made it, whose event loop
// delivers the script's reports.

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/LiveWindowList.h"
#include "platform/WindowSource.h"

class QDBusMessage;
class QDBusServiceWatcher;
class QObject;
class SessionBus;

class KWinWindowSource : public WindowSource {
 public:
  enum class Mode { Script, Search };

  // The source when KWin is on the session bus and runs the script or
  // offers its window search; nullptr otherwise. When KWin is there but
  // offers neither, `why` says so for the user.
  static std::unique_ptr<KWinWindowSource> open(std::string& why);
  ~KWinWindowSource() override;
  KWinWindowSource(const KWinWindowSource&) = delete;
  KWinWindowSource& operator=(const KWinWindowSource&) = delete;

  // Throws IOException when KWin has left the session for good or stopped
  // answering the window search.
  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;
  void setWantedTitles(const std::vector<std::string>& titles) override;

  Mode mode() const noexcept { return mode_; }
  // The name the script is loaded under in KWin.
  const QString& scriptName() const noexcept { return plugin_; }
  // Windows kept in memory.
  size_t trackedCount() const noexcept { return windows_.size(); }

  // How long the last list is kept after KWin has left the session bus.
  static constexpr int kReturnGraceMs = 10000;

  class Receiver;

 private:
  explicit KWinWindowSource(std::unique_ptr<SessionBus> bus);
  // Writes the script for this load and asks KWin to load and run it.
  // Returns false with `why` when KWin refuses.
  bool loadScript(std::string& why);
  void unloadScript();
  // Waits up to `ms` for the script's first report, delivering only this
  // source's incoming calls meanwhile (nothing else of the event loop runs).
  bool awaitReport(int ms);
  // After a KWin restart: the same steps as at the start, on timers, the
  // load tried again while the new KWin is not ready for it.
  void reload(int attempt);
  void checkStarted(unsigned load, bool retried);
  // The script cannot run: the window search, else the failure `why`.
  void fallBack(const std::string& why);
  void kwinOwnerChanged(const QString& owner);
  bool startSearch();
  void searchWindows();
  // Handles one call of the script; returns the reply to send.
  QDBusMessage handle(const QDBusMessage& message);
  void removeScriptFile();

  std::unique_ptr<SessionBus> bus_;
  std::unique_ptr<Receiver> receiver_;
  std::unique_ptr<QDBusServiceWatcher> kwinWatcher_;
  std::unique_ptr<QObject> timers_;  // owns pending timer callbacks
  Mode mode_ = Mode::Script;
  QString kwinOwner_;
  QString plugin_;
  QString scriptFile_;
  unsigned load_ = 0;      // this load's token; reports of an older one are ignored
  bool reported_ = false;  // the current load's script has reported
  bool scriptLoaded_ = false;
  QElapsedTimer kwinGone_;  // valid while KWin is away
  std::string failure_;     // why the source can no longer see windows
  std::vector<QString> wanted_;
  LiveWindowList windows_;
};
