#pragma once
// Enumeration of the top-level windows of an X server with their titles.
//
// One object holds one connection to the X server for its whole life. A poll
// (enumWindows) reads the titles of all top-level windows and then calls a
// plain callback once per window, top of the stacking order first, until the
// callback returns false.
//
// Which windows count: every child of the screen's root window, mapped or
// not, override-redirect or not, the caller's own windows included.
// Under a reparenting window manager the root's children are the manager's
// frames; the title of such a frame is taken from the client window inside
// it: a window the manager lists in _NET_CLIENT_LIST, or else (managers
// without that list) the first window carrying WM_STATE, searched level by
// level as ICCCM tools do. Without a window manager (nobody owns WM_S<n>) a
// titled top-level window is its own client and only untitled ones are
// searched.
// Title: _NET_WM_NAME (UTF-8) when the window has it, else WM_NAME (Latin-1
// STRING is converted to UTF-8, other encodings are passed on as they are);
// a window without either has the empty title.
//
// Cost: every request of one step is sent before the first reply is
// awaited, so a poll takes a small number of round trips whatever the
// number of windows: two without a window manager, three under an EWMH
// manager (one more per extra level a manager wraps its clients in), and
// one per level searched under a manager without the client list. A window
// destroyed while a poll runs is skipped. Not thread-safe; one poll at a
// time per object.

#include <cstdint>
#include <string>

#include "platform/WindowSource.h"

struct xcb_connection_t;

// The window id handed to the callback is the X window id of the top-level
// window.
class X11WindowEnumerator : public WindowSource {
 public:
  // Connects to `displayName`, or to $DISPLAY when it is empty. Throws
  // IOException when there is no display to connect to or the connection
  // fails; the message names the display.
  explicit X11WindowEnumerator(const std::string& displayName = std::string());
  ~X11WindowEnumerator() override;
  X11WindowEnumerator(const X11WindowEnumerator&) = delete;
  X11WindowEnumerator& operator=(const X11WindowEnumerator&) = delete;

  int32_t enumWindows(int32_t maxTitleBytes, Callback callback, uintptr_t value) override;

  // The display name connected to, as given or as found in $DISPLAY.
  const std::string& displayName() const noexcept { return displayName_; }

 private:
  void checkConnection(const char* operation) const;

  std::string displayName_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  // Atoms interned once at connection time.
  uint32_t netWmName_ = 0;
  uint32_t utf8String_ = 0;
  uint32_t wmState_ = 0;
  uint32_t wmSelection_ = 0;  // WM_S<screen>, owned by an ICCCM window manager
  uint32_t clientList_ = 0;   // _NET_CLIENT_LIST, the EWMH manager's client windows
};
