#pragma once
// A private headless Wayland compositor with XWayland for one test: sway
// (which lists its toplevels to other clients) or weston (which does not).
// Compositors refuse to run as root, so under root the compositor runs as
// the unprivileged user scripts/setup.sh creates, with a runtime directory
// of its own; the test's own clients connect to its socket by path, and its
// X server lets the test's user in. Everything is stopped by the destructor.
// Throws std::runtime_error when something cannot be started.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class WaylandTestCompositor {
 public:
  enum class Kind { Sway, Weston };
  // The user a compositor started by root runs as.
  static constexpr const char* USER = "morvane-compositor";

  explicit WaylandTestCompositor(Kind kind);
  ~WaylandTestCompositor();
  WaylandTestCompositor(const WaylandTestCompositor&) = delete;
  WaylandTestCompositor& operator=(const WaylandTestCompositor&) = delete;

  // The compositor's socket as an absolute path, for WAYLAND_DISPLAY.
  const std::string& socket() const { return socket_; }
  // ":N", the display of its XWayland.
  const std::string& xDisplay() const { return xDisplay_; }
  // WAYLAND_DISPLAY and DISPLAY for a client of this compositor.
  std::vector<std::string> environment() const;

  // Starts a program as the test's user with environment() and `extra`;
  // its output goes to `outputFile` (discarded when empty). It is killed by
  // the destructor.
  pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra = {},
              const std::string& outputFile = std::string());
  void kill(pid_t pid);
  // Drops a child the test has reaped itself, without a signal: its pid may
  // belong to another process by now.
  void forget(pid_t pid);

  // A native Wayland window (Qt) whose title can be changed while it runs.
  struct NativeWindow {
    pid_t pid = -1;
    int titleFd = -1;
  };
  NativeWindow openNativeWindow(const std::string& title);
  void setTitle(const NativeWindow& window, const std::string& title);
  void close(NativeWindow& window);

  // Moves the pointer to (x, y) of the layout and clicks the left button,
  // through a virtual pointer (sway only). The pointer stays for later clicks.
  void click(int x, int y);
  // Waits up to 30 s for a window titled `title` and clicks at (x, y) of its
  // content (sway only); false when it never came.
  bool clickInWindow(const std::string& title, int x, int y);

  // Stops the compositor now (its clients lose their connection).
  void terminate();

  // `count` titled XWayland windows of one X client ("Toplevel <i> ..."),
  // all requests sent at once; and their end.
  std::vector<uint32_t> openXWaylandWindows(size_t count);
  void closeXWaylandWindows(const std::vector<uint32_t>& windows);

  // sway only: runs `swaymsg -t <type> <command>` and returns its output.
  std::string swaymsg(const std::string& command, const std::string& type = "command");

 private:
  void startSway();
  void startWeston();
  // Runs a command as the compositor's user and waits for it.
  int runAsCompositorUser(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
  std::vector<std::string> compositorCommand(const std::vector<std::string>& argv) const;
  // Under root, gives `path` to the compositor's user.
  static void handToCompositorUser(const std::string& path);

  struct Pointer;
  struct XClient;
  std::unique_ptr<XClient> xClient_;
  std::unique_ptr<Pointer> pointer_;
  std::string runtimeDir_;
  std::string socket_;
  std::string xDisplay_;
  std::string swaySocket_;
  pid_t compositor_ = -1;
  std::vector<pid_t> children_;
  std::vector<int> titleFds_;
};
