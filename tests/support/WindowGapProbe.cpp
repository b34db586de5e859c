#include "tests/support/WindowGapProbe.h"

#include <string_view>
#include <utility>

#include "platform/windows/WindowSource.h"

WindowGapProbe::WindowGapProbe(std::unique_ptr<WindowSource> source, std::string prefix)
    : source_(std::move(source)), prefix_(std::move(prefix)), thread_([this] { run(); }) {}

WindowGapProbe::~WindowGapProbe() {
  stop_ = true;
  thread_.join();
}

std::chrono::milliseconds WindowGapProbe::longestGap() const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto longest = longest_;
  if (gone_) longest = std::max(longest, std::chrono::steady_clock::now() - goneSince_);
  return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

void WindowGapProbe::run() {
  struct Look {
    const std::string* prefix;
    bool found = false;
  };
  while (!stop_) {
    Look look{&prefix_};
    try {
      source_->enumWindows(
          static_cast<int32_t>(prefix_.size()),
          [](uint32_t, std::string_view title, uintptr_t value) {
            auto* l = reinterpret_cast<Look*>(value);
            l->found = title == *l->prefix;
            return !l->found;
          },
          reinterpret_cast<uintptr_t>(&look));
    } catch (const std::exception&) {
      return;  // the desktop is gone: the test ends anyway
    }
    const auto now = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (look.found) {
        if (gone_) longest_ = std::max(longest_, now - goneSince_);
        seen_ = true;
        gone_ = false;
      } else if (seen_ && !gone_) {
        gone_ = true;
        goneSince_ = now;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
