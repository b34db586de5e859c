#pragma once
// The status window as a connection's mark: a top-level window whose title
// matches one of the configured titles, looked for by the window title
// watcher, whose window source reports every change of its list.

#include "main/ConnectionMark.h"

class TWindowsIterator;

class WindowTitleMark : public ConnectionMark {
 public:
  // The watcher stays with the caller and must outlive the mark.
  explicit WindowTitleMark(TWindowsIterator* watcher) : watcher_(watcher) {}
  ~WindowTitleMark() override;

  bool present() override;
  void setChangeHandler(std::function<void()> handler) override;
  std::string notice() const override;

 private:
  TWindowsIterator* watcher_;
};
