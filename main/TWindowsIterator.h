#pragma once
// The window title watcher: one poll tells whether a top-level window whose
// title matches one of a list of titles exists right now, and `seen`
// remembers whether any poll since the last reset found one.
//
// Matching: the first titleLength bytes of a window's title (titleLength is
// the length of the shortest entry, untrimmed), trimmed of codes 0 to 32 at
// both ends and with A-Z lower-cased, must equal an entry treated the same
// way, byte for byte. So it is a case-insensitive prefix test against the
// shortest titles; a longer entry can only match a window that shows its
// first titleLength bytes.
//
// The windows come from the session's window source (WindowSource::open():
// the X server, the Wayland compositor's toplevel list, KWin's script or
// GNOME Shell's extension), chosen when the iterator is made.
//
// Polls share module-level state with the enumeration callback: findWindow
// is not reentrant, and two iterators must not poll at the same time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TStringCollection;
class WindowSource;

class TWindowsIterator {
 public:
  // `titles` stays with the caller and must outlive the iterator.
  // `ownerHandle` is handed to the enumeration as its caller-defined value.
  // Throws IllegalArgumentException when `titles` is nullptr or empty or has
  // an empty entry, and IOException when no window source can be opened.
  TWindowsIterator(const TStringCollection* titles, uintptr_t ownerHandle);
  ~TWindowsIterator();
  TWindowsIterator(const TWindowsIterator&) = delete;
  TWindowsIterator& operator=(const TWindowsIterator&) = delete;

  // The smallest length among the entries, at least 1; an empty entry raises
  // IllegalArgumentException.
  static int32_t getTitleLength(const TStringCollection* titles);

  void reset() { seen = false; }
  // One poll over all top-level windows; stops at the first match. Sets
  // `seen` when it finds a window and never clears it.
  bool findWindow();

  int32_t titleLength() const noexcept { return titleLength_; }
  uintptr_t ownerHandle() const noexcept { return ownerHandle_; }
  // What the user should be told about the windows this iterator can see
  // (empty when it sees all of them); see WindowSource::notice.
  std::string notice() const;
  // Called on the event loop whenever the window source's list may have
  // changed (see ChangeNotifier); an empty handler switches it off.
  void setChangeHandler(std::function<void()> handler);

  // A poll since construction or the last reset found a matching window.
  bool seen = false;

 private:
  void prepare();
  static bool enumWindowsCallback(uint32_t window, std::string_view title, uintptr_t value);

  const TStringCollection* titles_;
  int32_t titleLength_ = 1;
  uintptr_t ownerHandle_ = 0;
  std::unique_ptr<WindowSource> windows_;
};
