#include "platform/windows/LiveWindowList.h"

#include "platform/windows/WindowPoll.h"

bool LiveWindowList::open(const std::string& key, const std::string& title) {
  auto known = byKey_.find(key);
  if (known != byKey_.end()) return retitle(key, title);
  windows_.push_front(Window{nextId_++, key, title});
  byKey_.emplace(key, windows_.begin());
  return true;
}

bool LiveWindowList::retitle(const std::string& key, const std::string& title) {
  auto known = byKey_.find(key);
  if (known == byKey_.end() || known->second->title == title) return false;
  known->second->title = title;
  return true;
}

bool LiveWindowList::close(const std::string& key) {
  auto known = byKey_.find(key);
  if (known == byKey_.end()) return false;
  windows_.erase(known->second);
  byKey_.erase(known);
  return true;
}

bool LiveWindowList::replace(const std::vector<std::pair<std::string, std::string>>& windows) {
  // The list holds the newest first.
  bool same = windows.size() == windows_.size();
  auto known = windows_.rbegin();
  for (size_t i = 0; same && i < windows.size(); ++i, ++known) {
    same = known->key == windows[i].first && known->title == windows[i].second;
  }
  if (same) return false;
  windows_.clear();
  byKey_.clear();
  for (const auto& [key, title] : windows) open(key, title);
  return true;
}

int32_t LiveWindowList::enumerate(int32_t maxTitleBytes, WindowSource::Callback callback, uintptr_t value) const {
  return pollWindows(windows_, maxTitleBytes, callback, value,
                     [](const Window& window) { return PolledWindow{window.id, window.title}; });
}
