#include "main/WindowTitleMark.h"

#include <utility>

#include "main/TWindowsIterator.h"

WindowTitleMark::~WindowTitleMark() { watcher_->setChangeHandler(nullptr); }

bool WindowTitleMark::present() { return watcher_->findWindow(); }

void WindowTitleMark::setChangeHandler(std::function<void()> handler) {
  watcher_->setChangeHandler(std::move(handler));
}

std::string WindowTitleMark::notice() const { return watcher_->notice(); }
