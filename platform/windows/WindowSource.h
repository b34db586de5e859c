#pragma once
// Where the window title watcher gets the top-level windows of the desktop
// and their titles from. A source holds its own connection to the windowing
// system for its whole life; a poll (enumWindows) calls a plain callback once
// per top-level window until the callback returns false.
//
// Backends, each keeping a live list from its windowing system's events:
// X11WindowSource follows the X server's window tree,
// WaylandWindowSource the compositor's list of toplevels, KWinWindowSource
// the events of Morvane's KWin script (KDE Plasma), GnomeShellWindowSource
// the signals of Morvane's GNOME Shell extension. open(), in
// WindowSourceFactory.cpp, chooses one at start-up.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ChangeNotifier.h"

// A source that keeps a live list from the windowing system's events calls
// its change handler (see ChangeNotifier) whenever a window opened, closed
// or changed its title, and when its connection failed; the caller's
// interval poll remains the safety net.
class WindowSource : public ChangeNotifier {
 public:
  using WindowId = uint32_t;
  // Called once per top-level window with an id that is unique among the
  // windows of one poll, its title (at most the poll's maxTitleBytes bytes)
  // and the poll's caller-defined value. Returning false ends the poll.
  using Callback = bool (*)(WindowId window, std::string_view title, uintptr_t value);

  virtual ~WindowSource() = default;

  // One poll. Titles are cut to maxTitleBytes bytes (negative counts as 0).
  // Returns the number of callback calls. Throws IOException when the
  // connection to the windowing system is broken.
  virtual int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) = 0;

  // What the user should know about the windows this source can see: empty
  // when it sees every window of the desktop.
  virtual std::string notice() const { return std::string(); }

  // The titles the caller looks for (as configured). A source that can only
  // search for windows, not list them all, lists those that may match;
  // every other source lists all windows and ignores this.
  virtual void setWantedTitles(const std::vector<std::string>& /*titles*/) {}

  // The source for this session. Without a reachable Wayland display: the
  // X server of $DISPLAY. In a Wayland session, the first that sees native
  // Wayland windows: the compositor's ext_foreign_toplevel_list_v1, its
  // zwlr_foreign_toplevel_manager_v1, KWin, GNOME Shell's window list
  // extension; else the X server of $DISPLAY (XWayland), whose notice() says
  // why native Wayland windows stay unseen. The KWin and GNOME Shell
  // sources settle on the event loop and may let XWayland stand in later,
  // with such a notice. Throws IOException when no source can be opened.
  static std::unique_ptr<WindowSource> open();

  // The notice of a source that sees only XWayland windows because of
  // `why`: the reason, then what the user can do meanwhile.
  static std::string xwaylandNotice(const std::string& why);
};
