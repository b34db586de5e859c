#pragma once
// A private headless desktop session for one test: KWin 5.27 or GNOME Shell
// 43 from this machine's packages, KWin 6.3 and 6.7 or GNOME Shell 48, 50
// and 51 from Debian roots (scripts/make-desktop-roots.sh), started by
// desktop-session.sh beside this file; or an X11 session of KWin 5.27 or
// GNOME Shell 43 on Xvfb. Its session bus accepts only its user, so under
// root every client the test starts runs as that user (morvane-compositor),
// with the session's environment; programs it runs are copied into the
// session's folder first, where that user may run them. Everything is
// stopped by the destructor. Throws std::runtime_error when the session
// cannot be started (a missing root included: that is a setup failure, not a
// reason to skip).

#include <sys/types.h>

#include <string>
#include <vector>

class DesktopSession {
 public:
  enum class Desktop {
    KWin5,
    KWin6,
    KWin6Wrapper,
    KWin67,
    Gnome43,
    Gnome48,
    Gnome50,
    Gnome51,
    // X11 sessions of the same desktops: the window manager on Xvfb.
    KWin5X11,
    Gnome43X11
  };
  // "kwin5", "kwin6", "kwin6-wrapper", "kwin67", "gnome43", "gnome48",
  // "gnome50", "gnome51", "kwin5-x11", "gnome43-x11".
  static const char* name(Desktop desktop);
  // The Wayland desktops every desktop test runs on, one of each release:
  // KWin 5.27, 6.3, 6.7; GNOME Shell 43, 48, 50, 51.
  static std::vector<Desktop> kwins() { return {Desktop::KWin5, Desktop::KWin6, Desktop::KWin67}; }
  static std::vector<Desktop> gnomes() {
    return {Desktop::Gnome43, Desktop::Gnome48, Desktop::Gnome50, Desktop::Gnome51};
  }
  static std::vector<Desktop> matrix() {
    std::vector<Desktop> all = kwins();
    for (Desktop gnome : gnomes()) all.push_back(gnome);
    return all;
  }

  struct Setup {
    // GNOME: Morvane's extension is in the session's data folder at the
    // start, and enabled for the user.
    bool extensionInstalled = true;
    bool extensionEnabled = true;
    // More settings before the start: "schema key value" each.
    std::vector<std::string> settings;
    // GNOME: the extension names only GNOME Shell versions older than the
    // session's, so the shell marks it out of date.
    bool extensionOutOfDate = false;
  };

  explicit DesktopSession(Desktop desktop);
  DesktopSession(Desktop desktop, const Setup& setup);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  Desktop desktop() const { return desktop_; }
  bool isKWin() const {
    return desktop_ == Desktop::KWin5 || desktop_ == Desktop::KWin6 || desktop_ == Desktop::KWin6Wrapper ||
           desktop_ == Desktop::KWin67 || desktop_ == Desktop::KWin5X11;
  }
  bool isX11() const { return desktop_ == Desktop::KWin5X11 || desktop_ == Desktop::Gnome43X11; }
  // The session's folder under /tmp (its XDG_RUNTIME_DIR is run/ in it).
  const std::string& folder() const { return folder_; }
  // The environment of the session's clients ("NAME=value").
  std::vector<std::string> environment() const;
  std::string variable(const std::string& name) const;

  // A folder of the session's user for its programs and their files.
  std::string programs();
  // Copies a file of the build into programs() once; returns the copy.
  std::string install(const std::string& path);
  // Puts Morvane's GNOME Shell extension into the session's data folder
  // (as a package installed while the user is logged in would).
  void installExtension(bool outOfDate = false);

  // Starts argv as the session's user, with environment() and `extra`; its
  // output goes to `outputFile` (discarded when empty), its input comes from
  // `inputFd`; `asRoot` runs first, before the switch to the user (under
  // root only). Killed by the destructor unless reaped and forgotten first.
  pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra = {},
              const std::string& outputFile = std::string(), int inputFd = -1,
              const std::vector<std::string>& asRoot = {});
  // For `asRoot`: a mount namespace of its own in which `folder` is an empty
  // folder of the user that nobody else sees.
  std::vector<std::string> privateFolder(const std::string& folder) const;
  // Runs argv as the session's user and returns its standard output.
  std::string run(const std::vector<std::string>& argv);
  void kill(pid_t pid, int signal = 15);
  void forget(pid_t pid);

  // A native Wayland window (Qt) whose title can be changed while it runs,
  // and an XWayland window (xmessage).
  struct Window {
    pid_t pid = -1;
    int titleFd = -1;
  };
  Window openNativeWindow(const std::string& title);
  void setTitle(const Window& window, const std::string& title);
  pid_t openXWindow(const std::string& title);
  void close(Window& window, int signal = 15);

  // Ends the compositor at once (SIGKILL) and waits until it is up again:
  // started anew, or by kwin_wayland_wrapper under the wrapper. For GNOME
  // Shell this is what a log-out and log-in does to extensions.
  void restart();

 private:
  void start(const Setup& setup);
  void waitReady(int generation);
  std::vector<std::string> asUser(const std::vector<std::string>& argv) const;

  Desktop desktop_;
  std::string folder_;
  pid_t session_ = -1;
  int generation_ = 0;
  std::vector<pid_t> children_;
  std::vector<int> titleFds_;
};
