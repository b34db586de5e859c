#include "tests/support/WaylandTestCompositor.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/input-event-codes.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

std::string userName(uid_t uid) {
  passwd* entry = ::getpwuid(uid);
  if (entry == nullptr) throw std::runtime_error("no user name for uid " + std::to_string(uid));
  return entry->pw_name;
}

// The environment of a headless compositor: no GPU, no input devices.
std::vector<std::string> compositorEnvironment(const std::string& runtimeDir) {
  return {"XDG_RUNTIME_DIR=" + runtimeDir, "HOME=" + runtimeDir,  "WLR_BACKENDS=headless",
          "WLR_LIBINPUT_NO_DEVICES=1",     "WLR_RENDERER=pixman", "WAYLAND_DISPLAY=",
          "DISPLAY=",                      "XDG_SESSION_TYPE="};
}

}  // namespace

WaylandTestCompositor::WaylandTestCompositor(Kind kind) {
  char pattern[] = "/tmp/morvane-compositor.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  runtimeDir_ = pattern;
  ::chmod(runtimeDir_.c_str(), 0700);
  socket_ = runtimeDir_ + "/wayland-1";
  try {
    handToCompositorUser(runtimeDir_);
    if (kind == Kind::Sway) {
      startSway();
    } else {
      startWeston();
    }
  } catch (...) {
    childprocess::stop(compositor_);
    std::filesystem::remove_all(runtimeDir_);
    throw;
  }
}

// A virtual pointer device on its own connection to the compositor.
struct WaylandTestCompositor::Pointer {
  wl_display* display = nullptr;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
  zwlr_virtual_pointer_v1* pointer = nullptr;

  explicit Pointer(const std::string& socket) {
    display = wl_display_connect(socket.c_str());
    if (display == nullptr) throw std::runtime_error("cannot connect to " + socket);
    wl_registry* registry = wl_display_get_registry(display);
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* r, uint32_t name, const char* interface, uint32_t) {
          if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
            static_cast<Pointer*>(data)->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
                wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
          }
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(registry, &listener, this);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    if (manager == nullptr) {
      wl_display_disconnect(display);
      throw std::runtime_error("the compositor has no virtual pointers");
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr);
    wl_display_roundtrip(display);
  }
  ~Pointer() {
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
  }
  static uint32_t now() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  // Clients see a new pointer device only after a while: they bind it when
  // the seat tells them, and get the pointer's enter before its buttons.
  static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
};

struct WaylandTestCompositor::XClient {
  xcb_connection_t* connection = nullptr;
  const xcb_screen_t* screen = nullptr;
  explicit XClient(const std::string& display) {
    connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
      xcb_disconnect(connection);
      throw std::runtime_error("cannot connect to XWayland on " + display);
    }
    screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  }
  ~XClient() { xcb_disconnect(connection); }
};

std::vector<uint32_t> WaylandTestCompositor::openXWaylandWindows(size_t count) {
  if (xClient_ == nullptr) xClient_ = std::make_unique<XClient>(xDisplay_);
  xcb_connection_t* x = xClient_->connection;
  // A window becomes a toplevel once it has content: a background gives it
  // some. A fixed size makes sway float it instead of tiling all anew.
  const uint32_t background[] = {xClient_->screen->white_pixel};
  const uint32_t sizeHints[18] = {16 | 32, 0, 0, 0, 0, 20, 20, 20, 20};
  std::vector<uint32_t> windows;
  for (size_t i = 0; i < count; ++i) {
    xcb_window_t w = xcb_generate_id(x);
    xcb_create_window(x, XCB_COPY_FROM_PARENT, w, xClient_->screen->root, 0, 0, 20, 20, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, background);
    std::string title = "Toplevel " + std::to_string(i) + " with a title of typical length";
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                        sizeHints);
    xcb_map_window(x, w);
    windows.push_back(w);
  }
  xcb_flush(x);
  return windows;
}

void WaylandTestCompositor::closeXWaylandWindows(const std::vector<uint32_t>& windows) {
  for (uint32_t w : windows) xcb_destroy_window(xClient_->connection, w);
  xcb_flush(xClient_->connection);
}

void WaylandTestCompositor::click(int x, int y) {
  if (pointer_ == nullptr) {
    pointer_ = std::make_unique<Pointer>(socket_);
    Pointer::settle();
  }
  zwlr_virtual_pointer_v1* p = pointer_->pointer;
  // The extent is the layout's size, so the position is in layout pixels.
  const uint32_t width = 1280, height = 720;
  zwlr_virtual_pointer_v1_motion_absolute(p, Pointer::now(), static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                          width, height);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(pointer_->display);
  Pointer::settle();
  zwlr_virtual_pointer_v1_button(p, Pointer::now(), BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
  zwlr_virtual_pointer_v1_frame(p);
  zwlr_virtual_pointer_v1_button(p, Pointer::now(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(p);
  wl_display_roundtrip(pointer_->display);
}

bool WaylandTestCompositor::clickInWindow(const std::string& title, int x, int y) {
  // Where the window's content starts on the screen, from sway's tree.
  auto origin = [&] {
    TempDir scratch;
    std::string tree = scratch.write("tree.json", swaymsg("", "get_tree"));
    std::string command = "python3 -c 'import json,sys\n"
                          "def walk(n):\n"
                          "  if n.get(\"name\") == sys.argv[2] and n.get(\"pid\"):\n"
                          "    print(n[\"rect\"][\"x\"] + n[\"window_rect\"][\"x\"], n[\"rect\"][\"y\"] + n[\"window_rect\"][\"y\"])\n"
                          "    sys.exit(0)\n"
                          "  for c in n.get(\"nodes\", []) + n.get(\"floating_nodes\", []): walk(c)\n"
                          "walk(json.load(open(sys.argv[1])))' " +
                          tree + " '" + title + "'";
    return childprocess::shellOutput(command);
  };
  int left = 0, top = 0;
  if (!childprocess::waitFor([&] { return std::sscanf(origin().c_str(), "%d %d", &left, &top) == 2; }, 30000)) {
    return false;
  }
  click(left + x, top + y);
  return true;
}

WaylandTestCompositor::~WaylandTestCompositor() {
  pointer_.reset();
  xClient_.reset();
  for (int fd : titleFds_) ::close(fd);
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) childprocess::stop(*it);
  childprocess::stop(compositor_);
  std::error_code ignored;
  std::filesystem::remove_all(runtimeDir_, ignored);
}

void WaylandTestCompositor::handToCompositorUser(const std::string& path) {
  if (::getuid() != 0) return;
  passwd* user = ::getpwnam(USER);
  if (user == nullptr) throw std::runtime_error(std::string("user ") + USER + " is missing: run scripts/setup.sh");
  if (::chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) {
    throw std::runtime_error("cannot hand " + path + " to " + USER);
  }
}

std::vector<std::string> WaylandTestCompositor::compositorCommand(const std::vector<std::string>& argv) const {
  if (::getuid() != 0) return argv;
  std::vector<std::string> command = {"runuser", "-u", USER, "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

int WaylandTestCompositor::runAsCompositorUser(const std::vector<std::string>& argv,
                                               const std::vector<std::string>& environment) {
  pid_t pid = childprocess::spawn(compositorCommand(argv), environment);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WaylandTestCompositor::startSway() {
  const std::string config = runtimeDir_ + "/config";
  {
    std::ofstream out(config);
    // No borders: a window's content starts at its rectangle.
    out << "xwayland enable\ndefault_border none\ndefault_floating_border none\n";
  }
  handToCompositorUser(config);
  compositor_ = childprocess::spawn(compositorCommand({"sway", "-c", config}), compositorEnvironment(runtimeDir_),
                                    -1, runtimeDir_ + "/compositor.log");
  bool up = childprocess::waitFor(
      [&] {
        for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_)) {
          if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) swaySocket_ = entry.path();
        }
        return !swaySocket_.empty() && std::filesystem::exists(socket_);
      },
      20000);
  if (!up) throw std::runtime_error("sway did not start: " + TempDir::read(runtimeDir_ + "/compositor.log"));
  // sway hands its XWayland display to the programs it starts; one of them
  // lets the test's user in and tells the display. XWayland may still be
  // starting, so this is tried again until it works.
  const std::string displayFile = runtimeDir_ + "/display";
  const std::string command = "exec 'xhost +si:localuser:" + userName(::getuid()) +
                              " >/dev/null 2>&1 && echo $DISPLAY > " + displayFile + ".new && mv " + displayFile +
                              ".new " + displayFile + "'";
  bool ready = false;
  for (int attempt = 0; attempt < 20 && !ready; ++attempt) {
    swaymsg(command);
    ready = childprocess::waitFor([&] { return std::filesystem::exists(displayFile); }, 1000);
  }
  if (!ready) throw std::runtime_error("sway's XWayland did not start");
  xDisplay_ = TempDir::read(displayFile);
  while (!xDisplay_.empty() && (xDisplay_.back() == '\n' || xDisplay_.back() == ' ')) xDisplay_.pop_back();
}

void WaylandTestCompositor::startWeston() {
  const std::string log = runtimeDir_ + "/compositor.log";
  // weston writes the display its XWayland will answer on to its log.
  const std::string marker = "xserver listening on display ";
  // An X server of a test running beside this one can take the display
  // weston chose between weston's look and its bind ("Address already in
  // use"), which ends weston: it starts again and chooses anew.
  for (int attempt = 1;; ++attempt) {
    std::filesystem::remove(log);
    compositor_ = childprocess::spawn(
        compositorCommand({"weston", "--backend=headless-backend.so", "--xwayland", "--socket=wayland-1",
                           "--log=" + log}),
        compositorEnvironment(runtimeDir_));
    bool lost = false;
    bool up = childprocess::waitFor(
        [&] {
          const std::string text = TempDir::read(log);
          lost = text.find("failed to bind to") != std::string::npos;
          return lost || (std::filesystem::exists(socket_) && text.find(marker) != std::string::npos);
        },
        20000);
    if (up && !lost) break;
    childprocess::stop(compositor_);
    compositor_ = -1;
    if (attempt == 3) throw std::runtime_error("weston did not start: " + TempDir::read(log));
  }
  std::string text = TempDir::read(log);
  size_t at = text.find(marker) + marker.size();
  xDisplay_ = text.substr(at, text.find_first_of(" \n", at) - at);
  // The first X client starts XWayland; this one lets the test's user in.
  bool allowed = childprocess::waitFor(
      [&] {
        return runAsCompositorUser({"xhost", "+si:localuser:" + userName(::getuid())},
                                   {"DISPLAY=" + xDisplay_, "XDG_RUNTIME_DIR=" + runtimeDir_}) == 0;
      },
      20000);
  if (!allowed) throw std::runtime_error("weston's XWayland did not start: " + TempDir::read(log));
}

void WaylandTestCompositor::terminate() {
  pointer_.reset();
  xClient_.reset();
  childprocess::stop(compositor_);
  compositor_ = -1;
}

std::vector<std::string> WaylandTestCompositor::environment() const {
  return {"WAYLAND_DISPLAY=" + socket_, "DISPLAY=" + xDisplay_};
}

pid_t WaylandTestCompositor::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                                   const std::string& outputFile) {
  std::vector<std::string> env = environment();
  env.insert(env.end(), extra.begin(), extra.end());
  pid_t pid = childprocess::spawn(argv, env, -1, outputFile);
  children_.push_back(pid);
  return pid;
}

void WaylandTestCompositor::kill(pid_t pid) {
  childprocess::stop(pid);
  forget(pid);
}

void WaylandTestCompositor::forget(pid_t pid) { std::erase(children_, pid); }

WaylandTestCompositor::NativeWindow WaylandTestCompositor::openNativeWindow(const std::string& title) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> env = environment();
  env.insert(env.end(), {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1"});
  NativeWindow window;
  window.pid = childprocess::spawn({MORVANE_DEMO_WINDOW, title, "0"}, env, -1, std::string(), fds[0]);
  ::close(fds[0]);
  window.titleFd = fds[1];
  children_.push_back(window.pid);
  titleFds_.push_back(window.titleFd);
  return window;
}

void WaylandTestCompositor::setTitle(const NativeWindow& window, const std::string& title) {
  std::string line = title + "\n";
  if (::write(window.titleFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    throw std::runtime_error("cannot change the title");
  }
}

void WaylandTestCompositor::close(NativeWindow& window) {
  kill(window.pid);
  ::close(window.titleFd);
  std::erase(titleFds_, window.titleFd);
  window = {};
}

std::string WaylandTestCompositor::swaymsg(const std::string& command, const std::string& type) {
  // The command may hold double quotes and dollars for sway: escape them for the shell.
  std::string quoted;
  for (char c : command) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  std::string line = "SWAYSOCK=" + swaySocket_ + " swaymsg -t " + type;
  if (!command.empty()) line += " -- \"" + quoted + "\"";
  return childprocess::shellOutput(line + " 2>&1");
}
