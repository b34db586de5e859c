#pragma once
// The toplevel windows of KWin (KDE Plasma), native Wayland and XWayland
// alike, from KWin itself over the session bus.
//
// The source loads a small KWin script (platform/windows/kwin/window-list.js,
// carried inside the program) under a name of its own and gives it this
// source's bus name and object; the script reports the window list and every
// open, close and title change back, and the source keeps them in memory, so a
// poll makes no call. KWin 5 and 6 differ in their script API and in the
// object a loaded script is run through; the script and the source ask which
// one is there. KWin fails silently when a script does not run (a reused
// script id, a file it cannot read), so only the script's first report counts:
// until then the source asks KWin to start its loaded scripts once more, and
// then gives up. Every call to KWin is answered on the event loop: a slow or
// restarting KWin never holds up the program.
//
// The script goes when the source is destroyed, and by itself within a few
// seconds when this process is gone without that (a watchdog in the script
// asks the bus for this source's name). A restarted KWin (a new owner of
// org.kde.KWin) gets the script again; until its first report the last list
// stays, since windows may outlive a compositor restart.
//
// Where KWin does not run the script, the source polls KWin's window
// search (/WindowsRunner) for the titles it is given (setWantedTitles):
// a poll starts one search per title and lists what the last one found;
// the change handler tells when a search found something new.
//
// Not thread-safe; it belongs to the thread that made it, whose event loop
// delivers the script's reports.

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/windows/BusFedSource.h"
#include "platform/windows/LiveWindowList.h"
#include "platform/windows/WindowSource.h"

class QDBusMessage;
class SessionBus;

class KWinWindowSource : public WindowSource {
 public:
  // Script: the script's reports (until the first one, an empty list);
  // Search: KWin's window search, where the script did not run.
  enum class Mode { Script, Search };

  // The source when KWin is on the session bus; nullptr otherwise. It is
  // usable at once: the script is loaded and, where it does not run, the
  // window search taken on the event loop, each step reported through the
  // change handler. `why` stays empty (kept for WindowSource::open()).
  static std::unique_ptr<KWinWindowSource> open(std::string& why);
  ~KWinWindowSource() override;
  KWinWindowSource(const KWinWindowSource&) = delete;
  KWinWindowSource& operator=(const KWinWindowSource&) = delete;

  // Throws IOException when KWin has left the session for good or stopped
  // answering the search. Where KWin offers neither the script nor the
  // window search, XWayland stands in, with the notice why.
  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;
  std::string notice() const override { return feed_.notice(); }
  void setWantedTitles(const std::vector<std::string>& titles) override;

  Mode mode() const noexcept { return mode_; }
  // The name the script is loaded under in KWin.
  const QString& scriptName() const noexcept { return plugin_; }
  // Whether XWayland stands in for KWin's list.
  bool standingIn() const noexcept { return feed_.standingIn() != nullptr; }
  // Windows kept in memory.
  size_t trackedCount() const noexcept { return windows_.size(); }

  // How long the last list is kept after KWin has left the session bus.
  static constexpr int RETURN_GRACE_MS = BusFedSource::RETURN_GRACE_MS;

  class Receiver;

 private:
  explicit KWinWindowSource(std::unique_ptr<SessionBus> bus);
  // Writes the script for a new load and asks KWin to load and run it;
  // `retry`: a KWin that has just come is asked again while it refuses.
  void load(bool retry, int attempt = 0);
  void run(unsigned load, int id);
  void unloadScript();
  void checkStarted(unsigned load, bool retried);
  // The script cannot run: the window search, else the failure `why`.
  void fallBack(const std::string& why);
  void kwinOwnerChanged(const QString& owner);
  void searchWindows();
  // Handles one call of the script; returns the reply to send.
  QDBusMessage handle(const QDBusMessage& message);
  void removeScriptFile();

  BusFedSource feed_;
  std::unique_ptr<Receiver> receiver_;
  Mode mode_ = Mode::Script;
  QString plugin_;
  QString scriptFile_;
  unsigned load_ = 0;      // this load's token; reports of an older one are ignored
  bool reported_ = false;  // the current load's script has reported
  bool scriptLoaded_ = false;
  bool searching_ = false;  // a window search is under way
  std::string failure_;     // why the last window search failed, for the next poll
  std::vector<QString> wanted_;
  LiveWindowList windows_;
};
