#pragma once
// The windows a source has learnt of from the desktop's events, kept in
// memory so that a poll costs no call to the desktop. Windows are known by
// the desktop's own key (KWin's uuid, GNOME Shell's window id); each gets a
// small id of its own for the poll's callback. Newest windows come first.
//
// Closing a window frees everything kept for it: the list holds only what
// is open now, however many windows came and went.

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/windows/WindowSource.h"

class LiveWindowList {
 public:
  // Adds a window, or gives a known one its new title. Returns true when
  // the list changed.
  bool open(const std::string& key, const std::string& title);
  // Changes a known window's title; an unknown key changes nothing (a
  // change that arrives after the window's close). Returns true when the
  // list changed.
  bool retitle(const std::string& key, const std::string& title);
  // Returns true when the window was known.
  bool close(const std::string& key);
  // Replaces the whole list (keys and titles, oldest first). Returns true
  // when the list changed.
  bool replace(const std::vector<std::pair<std::string, std::string>>& windows);

  // One poll over the list, as WindowSource::enumWindows.
  int32_t enumerate(int32_t maxTitleBytes, WindowSource::Callback callback, uintptr_t value) const;
  size_t size() const noexcept { return windows_.size(); }

 private:
  struct Window {
    WindowSource::WindowId id;
    std::string key;
    std::string title;
  };
  std::list<Window> windows_;
  std::unordered_map<std::string, std::list<Window>::iterator> byKey_;
  WindowSource::WindowId nextId_ = 1;
};
