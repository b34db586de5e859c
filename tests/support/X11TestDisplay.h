#pragma once
// A private X server for one test: Xvfb on the first free display number,
// a connection for making real windows, and helper processes (a window
// manager, xmessage) that run on it. Everything is stopped again by the
// destructor. Throws std::runtime_error when something cannot be started.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct xcb_connection_t;

class X11TestDisplay {
 public:
  // `serverOptions` go to Xvfb as they are (for example "-extension" "XFIXES").
  explicit X11TestDisplay(const std::vector<std::string>& serverOptions = {});
  ~X11TestDisplay();
  X11TestDisplay(const X11TestDisplay&) = delete;
  X11TestDisplay& operator=(const X11TestDisplay&) = delete;

  // ":N"
  const std::string& name() const { return name_; }
  xcb_connection_t* connection() const { return connection_; }
  uint32_t root() const { return root_; }

  struct WindowSpec {
    const char* netWmName = nullptr;  // _NET_WM_NAME (UTF8_STRING), not set when nullptr
    const char* wmName = nullptr;     // WM_NAME (STRING), not set when nullptr
    bool mapped = true;
    bool overrideRedirect = false;
    uint32_t parent = 0;              // 0: the root window
  };
  // A window of this connection; the request is flushed and the server has
  // handled it when this returns.
  uint32_t createWindow(const WindowSpec& settings);
  // A window with both title properties set to `title`.
  uint32_t createTitled(const std::string& title, bool mapped = true);
  void destroyWindow(uint32_t window);
  // Waits until the server has handled every request sent so far.
  void sync();

  // Starts a program with DISPLAY set to this display; its output is
  // discarded. Returns its process id; it is killed by the destructor.
  pid_t spawn(const std::vector<std::string>& argv);
  void kill(pid_t pid);

  // Stops the X server now, as a crash would end it for its clients.
  void stopServer();

  // Starts openbox and waits until it holds the window manager selection.
  void startWindowManager();
  // Waits until the window manager has taken `window` in: reparented away
  // from the root and marked with WM_STATE, which it sets after the
  // reparenting (true), or until the time runs out (false).
  bool waitManaged(uint32_t window, int timeoutMs = 5000);
  // Waits until a top-level window or a child of one has WM_NAME `title`
  // and returns it (0 when the time runs out).
  uint32_t waitForTitle(const std::string& title, int timeoutMs = 5000);

  uint32_t atom(const std::string& name);

 private:
  pid_t server_ = -1;
  std::string name_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  std::vector<pid_t> children_;
};
