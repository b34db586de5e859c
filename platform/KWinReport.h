#pragma once
// One report of Morvane's KWin script (platform/kwin/window-list.js), a JSON
// object: {"k": token, "e": "list", "w": [[id, title], ...]} for the whole
// list, {"k", "e": "open" | "title", "id", "t"} and {"k", "e": "close", "id"}.
// Anything else, or a report that lacks what its kind needs, is Invalid.

#include <QByteArray>
#include <string>
#include <utility>
#include <vector>

#include "platform/LiveWindowList.h"

struct KWinReport {
  enum class Kind { Invalid, List, Open, Title, Close };

  static KWinReport parse(const QByteArray& json);
  // Applies the report to `windows`; returns true when the list changed.
  bool applyTo(LiveWindowList& windows) const;

  Kind kind = Kind::Invalid;
  long long token = -1;
  std::string id;
  std::string title;
  std::vector<std::pair<std::string, std::string>> windows;  // List: keys and titles
};
