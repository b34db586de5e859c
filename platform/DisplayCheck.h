#pragma once
// Whether the program can reach a display before Qt tries: without one Qt
// aborts the process (SIGABRT, a core dump, a text about reinstalling), which
// is no answer for a user started from a terminal, cron or SSH.

#include <string>

// Looks for what Qt will use: the platform of "-platform" or
// $QT_QPA_PLATFORM (any platform other than xcb and wayland needs no
// display), else an X server on "-display" or $DISPLAY, else a Wayland
// compositor on $WAYLAND_DISPLAY. An X server that refuses connections is
// asked again for about a second. Empty when a display answers; otherwise
// the one line to tell the user, naming what was tried and what to do.
// When only Wayland answers and no platform was chosen, QT_QPA_PLATFORM is
// set to wayland, so Qt does not try X first.
std::string displayProblem(int argc, char** argv);

// The display a window source connects to: `given` when not empty, else
// the value of the environment variable `variable` (DISPLAY,
// WAYLAND_DISPLAY); empty when that is unset too.
std::string displayName(const std::string& given, const char* variable);

// While it lives, Qt's own fatal failure to start its platform (a display
// that answered the check but not Qt a moment later, a platform plugin that
// cannot load) ends the program with one line naming Qt's reason on
// standard error and `status`, instead of an abort. Qt's messages in that
// time are held back and passed on once `started()` says that the platform
// came up.
class PlatformStartGuard {
 public:
  explicit PlatformStartGuard(int status);
  ~PlatformStartGuard();
  PlatformStartGuard(const PlatformStartGuard&) = delete;
  PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;
  void started();
};
