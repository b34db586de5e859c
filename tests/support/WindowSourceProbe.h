#pragma once
// The window source of a desktop session as one of its programs sees it:
// tests/support/window-source-probe.cpp run as the session's user, which
// reports the source it got and every change of the window list.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/DesktopSession.h"

class WindowSourceProbe {
 public:
  // Starts the probe with the wanted `titles`, `environment` and what runs
  // before the switch to the session's user (DesktopSession::spawn). Waits
  // until it has reported its source. Throws std::runtime_error when it
  // does not.
  WindowSourceProbe(DesktopSession& session, const std::vector<std::string>& titles = {},
                    const std::vector<std::string>& environment = {}, const std::vector<std::string>& asRoot = {});
  ~WindowSourceProbe();
  WindowSourceProbe(const WindowSourceProbe&) = delete;
  WindowSourceProbe& operator=(const WindowSourceProbe&) = delete;

  // "kwin-script", "kwin-search", "gnome", "wayland" or "x11"; the latest
  // told, as the source settles (also for the notice).
  std::string source() const { return field("source"); }
  std::string script() const { return field("script"); }
  std::string notice() const { return field("notice"); }
  // Everything it wrote.
  std::string output() const;

  // The titles of the latest list, newest first.
  std::vector<std::string> titles() const;
  // How many windows of the latest list have exactly `title`.
  size_t count(const std::string& title) const;
  // Waits up to `ms` until the latest list satisfies `condition`.
  bool waitFor(const std::function<bool(const WindowSourceProbe&)>& condition, int ms = 20000) const;
  // Waits until `title` is listed `n` times.
  bool waitForCount(const std::string& title, size_t n, int ms = 20000) const;

  // The CLOCK_MONOTONIC time (ms) of the first list after `afterMs` in which
  // `title` is listed `n` times; negative when there is none yet.
  double reportedAt(const std::string& title, size_t n, double afterMs) const;
  pid_t pid() const { return pid_; }
  // Ends it with SIGKILL, as a crash would.
  void kill();

 private:
  std::string field(const std::string& name) const;

  DesktopSession& session_;
  std::string outputFile_;
  pid_t pid_ = -1;
  int inputFd_ = -1;
};
