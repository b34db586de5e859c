// close_latency [RUNS] [DESKTOP...]: how long after its status window went
// the real program logs "close connection", RUNS times per desktop (20 by
// default), with interval = 5 so that no tick helps. DESKTOP is x11 (a
// private Xvfb), openbox (the same under openbox), sway (headless sway), or
// a headless desktop session of tests/support/desktop-session.sh (kwin5,
// kwin6, kwin6-wrapper, kwin67, gnome43, gnome48, gnome50, gnome51; the
// program natively on Wayland with a native status window); x11, openbox
// and sway when none is given. The peer, in the same runs, waits for nothing
// but the news of the end: a client that takes the server's own (a
// DestroyNotify on the root; the compositor's toplevel "closed"), or on a
// desktop session the session's window source alone in a process of its own
// (tests/support/window-source-probe). Prints median and worst of both, and
// their ratio.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaylandTestCompositor.h"
#include "tests/support/WindowSourceProbe.h"
#include "tests/support/X11TestDisplay.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Waits, polling every millisecond, until `line` is in the file.
std::optional<Clock::time_point> waitForLine(const std::string& path, const std::string& line, int timeoutMs) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (; Clock::now() < end; std::this_thread::sleep_for(1ms)) {
    if (TempDir::read(path).find(line) != std::string::npos) return Clock::now();
  }
  return std::nullopt;
}

// The peer on X11: its own connection, SubstructureNotify on the root, and
// the first DestroyNotify there (the window, or under openbox its frame).
class X11Peer {
 public:
  explicit X11Peer(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    thread_ = std::thread([this] {
      while (xcb_generic_event_t* event = xcb_wait_for_event(c_)) {
        const bool destroyed = (event->response_type & 0x7F) == XCB_DESTROY_NOTIFY;
        std::free(event);
        if (destroyed) {
          at_ = Clock::now();
          return;
        }
      }
    });
  }
  ~X11Peer() {
    ::shutdown(xcb_get_file_descriptor(c_), SHUT_RDWR);  // ends a wait that saw nothing
    thread_.join();
    xcb_disconnect(c_);
  }
  Clock::time_point at() const { return at_; }

 private:
  xcb_connection_t* c_;
  std::atomic<Clock::time_point> at_{Clock::time_point{}};
  std::thread thread_;
};

// The peer on sway: its own client of the wlr toplevel list, and the
// "closed" of the toplevel whose title begins with the status title.
class WaylandPeer {
 public:
  WaylandPeer(const std::string& socket, std::string title) : title_(std::move(title)) {
    display_ = wl_display_connect(socket.c_str());
    wl_registry* registry = wl_display_get_registry(display_);
    wl_registry_add_listener(registry, &REGISTRY, this);
    wl_display_roundtrip(display_);
    wl_registry_destroy(registry);
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &MANAGER, this);
    wl_display_roundtrip(display_);
    thread_ = std::thread([this] {
      pollfd ready{wl_display_get_fd(display_), POLLIN, 0};
      while (!stop_ && at_.load() == Clock::time_point{}) {
        while (wl_display_prepare_read(display_) != 0) wl_display_dispatch_pending(display_);
        wl_display_flush(display_);
        if (::poll(&ready, 1, 20) > 0) {
          wl_display_read_events(display_);
        } else {
          wl_display_cancel_read(display_);
        }
        wl_display_dispatch_pending(display_);
      }
    });
  }
  ~WaylandPeer() {
    stop_ = true;
    thread_.join();
    wl_display_disconnect(display_);  // the compositor frees the rest
  }
  Clock::time_point at() const { return at_; }

 private:
  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
      static_cast<WaylandPeer*>(data)->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, 3));
    }
  }
  static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &HANDLE, data);
  }
  static void title(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* text) {
    auto* self = static_cast<WaylandPeer*>(data);
    if (std::strncmp(text, self->title_.c_str(), self->title_.size()) == 0) self->watched_ = handle;
  }
  static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<WaylandPeer*>(data);
    if (handle == self->watched_) self->at_ = Clock::now();
  }
  static constexpr wl_registry_listener REGISTRY{&global, [](void*, wl_registry*, uint32_t) {}};
  static constexpr zwlr_foreign_toplevel_manager_v1_listener MANAGER{
      &toplevel, [](void*, zwlr_foreign_toplevel_manager_v1*) {}};
  static constexpr zwlr_foreign_toplevel_handle_v1_listener HANDLE{
      &title,
      [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {},
      [](void*, zwlr_foreign_toplevel_handle_v1*) {},
      &closed,
      [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}};

  std::string title_;
  wl_display* display_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  zwlr_foreign_toplevel_handle_v1* watched_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<Clock::time_point> at_{Clock::time_point{}};
  std::thread thread_;
};

// One desktop: how to start and connect the program, and how to open and
// close a status window there.
struct Desktop {
  std::string name;
  std::string title;  // what the configuration watches
  std::string folder;  // where the program runs; a fresh temporary folder when empty
  std::function<pid_t(const std::string& folder)> startConnected;
  std::function<void()> open;
  std::function<void()> close;
  std::function<std::function<Clock::time_point()>()> armPeer;
  std::function<void(pid_t)> reap;
};

struct Figures {
  std::vector<double> program, peer;
};

Figures measure(const Desktop& desktop, int runs) {
  Figures figures;
  TempDir dir;
  const std::string folder = desktop.folder.empty() ? dir.path() : desktop.folder;
  std::filesystem::copy_file(MORVANE_PROGRAM, folder + "/morvane", std::filesystem::copy_options::overwrite_existing);
  std::ofstream(folder + "/morvane.properties")
      << "interval = 5\nnames = demo\ndemo = /bin/true\nwindow = " << desktop.title << "\n";
  const std::string log = folder + "/net.log";
  std::ofstream(folder + "/debug.properties")
      << "system.debug.tracesystemout = false\nnet-log.debug.tracefile = " << log << "\n";
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(log);
    pid_t program = desktop.startConnected(folder);
    if (!waitForLine(log, "open connection @demo", 30000)) {
      std::fprintf(stderr, "%s: run %d did not connect\n", desktop.name.c_str(), run);
      std::exit(1);
    }
    desktop.open();
    std::this_thread::sleep_for(300ms);
    {
      std::function<Clock::time_point()> peer = desktop.armPeer();
      const Clock::time_point gone = Clock::now();
      desktop.close();
      std::optional<Clock::time_point> closed = waitForLine(log, "close connection @demo", 5000);
      if (!closed) {
        std::fprintf(stderr, "%s: run %d logged no close\n", desktop.name.c_str(), run);
        std::exit(1);
      }
      std::this_thread::sleep_for(50ms);  // the peer's news came long before
      figures.program.push_back(millis(*closed - gone));
      figures.peer.push_back(millis(peer() - gone));
    }
    desktop.reap(program);
  }
  return figures;
}

void report(const std::string& name, Figures figures) {
  auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double programMedian = median(figures.program), peerMedian = median(figures.peer);
  std::printf("%-10s %4zu runs  program median %7.1f ms worst %7.1f ms   peer median %6.2f ms worst %6.2f ms   "
              "median ratio %.0fx\n",
              name.c_str(), figures.program.size(), programMedian, figures.program.back(), peerMedian,
              figures.peer.back(), peerMedian > 0 ? programMedian / peerMedian : 0.0);
}

void measureX11(bool openbox, int runs) {
  {
    X11TestDisplay display;
    if (openbox) display.startWindowManager();
    uint32_t window = 0;
    Desktop desktop{
        openbox ? "openbox" : "X11",
        "Dial Status",
        std::string(),
        [&](const std::string& folder) {
          pid_t pid = childprocess::spawn({folder + "/morvane"}, {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                                                                  "HOME=" + folder, "XDG_CONFIG_HOME=", "XDG_CONFIG_DIRS=" + folder});
          std::string main = childprocess::shellOutput("DISPLAY=" + display.name() +
                                                       " xdotool search --sync --onlyvisible --name '^Morvane$' | head -1");
          while (!main.empty() && main.back() == '\n') main.pop_back();
          childprocess::shellOutput("DISPLAY=" + display.name() + " xdotool mousemove --window " + main +
                                    " 60 52 click 1");
          return pid;
        },
        [&] { window = display.createTitled("Dial Status"); },
        [&] { display.destroyWindow(window); },
        [&] {
          auto peer = std::make_shared<X11Peer>(display.name());
          return [peer] { return peer->at(); };
        },
        [](pid_t pid) {
          if (!childprocess::waitExit(pid, 10000)) childprocess::stop(pid);
        }};
    report(desktop.name, measure(desktop, runs));
  }
}

void measureSway(int runs) {
  WaylandTestCompositor sway(WaylandTestCompositor::Kind::Sway);
  std::vector<uint32_t> windows;
  Desktop desktop{
      "sway",
      "Toplevel 0",
      std::string(),
      [&](const std::string& folder) {
        pid_t pid = sway.spawn({folder + "/morvane"}, {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1",
                                                       "HOME=" + folder, "XDG_CONFIG_HOME=", "XDG_CONFIG_DIRS=" + folder});
        if (!sway.clickInWindow("Morvane", 60, 52)) std::exit(1);
        return pid;
      },
      [&] { windows = sway.openXWaylandWindows(1); },
      [&] { sway.closeXWaylandWindows(windows); },
      [&] {
        auto peer = std::make_shared<WaylandPeer>(sway.socket(), "Toplevel 0");
        return [peer] { return peer->at(); };
      },
      [&](pid_t pid) {
        if (childprocess::waitExit(pid, 10000)) {
          sway.forget(pid);
        } else {
          sway.kill(pid);
        }
      }};
  report(desktop.name, measure(desktop, runs));
}

// On a desktop session the program runs as the session's user, natively on
// Wayland; "Verbinden" is pressed through the accessibility bus.
void measureSession(DesktopSession::Desktop which, int runs) {
  const std::string title = "Dial Status";
  DesktopSession session(which);
  WindowSourceProbe probe(session, {title});
  DesktopSession::Window window;
  Desktop desktop{
      DesktopSession::name(which),
      title,
      session.programs(),
      [&](const std::string& folder) {
        pid_t pid = session.spawn({"env", "-C", folder, folder + "/morvane"},
                                  {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1",
                                   "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
        if (session.run({"/usr/bin/python3", session.install(MORVANE_PRESS_BUTTON), std::to_string(pid),
                         "Verbinden"}) != "pressed\n") {
          std::fprintf(stderr, "%s: cannot press Verbinden\n", DesktopSession::name(which));
          std::exit(1);
        }
        return pid;
      },
      [&] {
        window = session.openNativeWindow(title);
        if (!probe.waitForCount(title, 1)) {
          std::fprintf(stderr, "%s: the status window is not seen\n", DesktopSession::name(which));
          std::exit(1);
        }
      },
      [&] { session.close(window); },
      [&] {
        const double armed = millis(Clock::now().time_since_epoch());
        return [&probe, title, armed] {
          probe.waitFor([&](const WindowSourceProbe& p) { return p.reportedAt(title, 0, armed) >= 0; }, 5000);
          const double at = std::max(probe.reportedAt(title, 0, armed), armed);
          return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(at)));
        };
      },
      [&](pid_t pid) {
        if (childprocess::waitExit(pid, 10000)) {
          session.forget(pid);
        } else {
          session.kill(pid);
        }
      }};
  report(desktop.name, measure(desktop, runs));
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  std::vector<std::string> desktops(argv + std::min(argc, 2), argv + argc);
  if (desktops.empty()) desktops = {"x11", "openbox", "sway"};
  std::vector<DesktopSession::Desktop> sessions = DesktopSession::matrix();
  sessions.push_back(DesktopSession::Desktop::KWin6Wrapper);
  for (const std::string& name : desktops) {
    if (name == "x11" || name == "openbox") {
      measureX11(name == "openbox", runs);
      continue;
    }
    if (name == "sway") {
      measureSway(runs);
      continue;
    }
    auto session = std::find_if(sessions.begin(), sessions.end(),
                                [&](DesktopSession::Desktop d) { return name == DesktopSession::name(d); });
    if (session == sessions.end()) {
      std::fprintf(stderr, "close_latency: unknown desktop %s\n", name.c_str());
      return 2;
    }
    measureSession(*session, runs);
  }
  return 0;
}
