#pragma once
// Where the window title watcher gets the top-level windows of the desktop
// and their titles from. A source holds its own connection to the windowing
// system for its whole life; a poll (enumWindows) calls a plain callback once
// per top-level window until the callback returns false.
//
// Two backends, each keeping a live list from its windowing system's events:
// X11WindowEnumerator follows the X server's window tree,
// WaylandWindowSource the compositor's list of toplevels. open() chooses
// between them at start-up.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

  // The source for this session. In a Wayland session whose compositor
  // lists its toplevels: the Wayland source. Without a reachable Wayland
  // display: the X server of $DISPLAY. In a Wayland session whose compositor
  // lists no toplevels: the X server of $DISPLAY (XWayland), whose notice()
  // says that native Wayland windows stay unseen. Throws IOException when
  // no source can be opened.
  static std::unique_ptr<WindowSource> open();
};
