#pragma once
// One event that Morvane's KWin script (platform/windows/kwin/window-list.js)
// sends over the session bus, a JSON object: {"k": token, "e": "list",
// "w": [[id, title], ...]} for the whole list, {"k", "e": "open" | "title",
// "id", "t"} and {"k", "e": "close", "id"}.
// Anything else, or an event that lacks what its kind needs, is Invalid.

#include <QByteArray>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/LiveWindowList.h"

struct KWinScriptEvent {
  enum class Kind { Invalid, List, Open, Title, Close };

  static KWinScriptEvent parse(const QByteArray& json);
  // Applies the event to `windows`; returns true when the list changed.
  bool applyTo(LiveWindowList& windows) const;

  Kind kind = Kind::Invalid;
  long long token = -1;
  std::string id;
  std::string title;
  std::vector<std::pair<std::string, std::string>> windows;  // List: keys and titles
};
