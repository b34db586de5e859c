#pragma once
// One poll over the windows a source keeps: the poll's callback gets each
// listed window with its title cut to maxTitleBytes (negative counts as 0)
// until it asks to stop. `describe` tells, for one kept entry, its id and
// title, and whether it is listed at all.

#include <cstdint>
#include <string_view>

#include "platform/windows/WindowSource.h"

struct PolledWindow {
  WindowSource::WindowId id = 0;
  std::string_view title;
  bool listed = true;
};

template <typename Windows, typename Describe>
int32_t pollWindows(const Windows& windows, int32_t maxTitleBytes, WindowSource::Callback callback,
                    uintptr_t value, Describe describe) {
  const size_t maxBytes = maxTitleBytes < 0 ? 0 : static_cast<size_t>(maxTitleBytes);
  int32_t calls = 0;
  for (const auto& entry : windows) {
    const PolledWindow window = describe(entry);
    if (!window.listed) continue;
    ++calls;
    if (!callback(window.id, window.title.substr(0, maxBytes), value)) break;
  }
  return calls;
}
