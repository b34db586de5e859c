#pragma once
// Watches a window source from a thread of its own, polling it every
// millisecond, for windows whose title begins with a prefix, and keeps the
// longest time none was there after one had been: the gap that a watcher of
// the same desktop may have seen too. A test that means to re-create a
// window within some time checks with it that it did.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class WindowSource;

class WindowGapProbe {
 public:
  // Takes the source; polls start at once.
  WindowGapProbe(std::unique_ptr<WindowSource> source, std::string prefix);
  ~WindowGapProbe();
  WindowGapProbe(const WindowGapProbe&) = delete;
  WindowGapProbe& operator=(const WindowGapProbe&) = delete;

  // The longest gap so far, one still going on included.
  std::chrono::milliseconds longestGap() const;

 private:
  void run();

  std::unique_ptr<WindowSource> source_;
  std::string prefix_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  bool seen_ = false;
  std::chrono::steady_clock::time_point goneSince_;
  bool gone_ = false;
  std::chrono::steady_clock::duration longest_{};
  std::thread thread_;
};
