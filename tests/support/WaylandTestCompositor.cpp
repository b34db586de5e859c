#include "tests/support/WaylandTestCompositor.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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

WaylandTestCompositor::WaylandTestCompositor(Kind kind) : kind_(kind) {
  char pattern[] = "/tmp/morvane-compositor.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  runtimeDir_ = pattern;
  if (::getuid() == 0) {
    passwd* user = ::getpwnam(kUser);
    if (user == nullptr) {
      std::filesystem::remove_all(runtimeDir_);
      throw std::runtime_error(std::string("user ") + kUser + " is missing: run scripts/setup.sh");
    }
    if (::chown(runtimeDir_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + runtimeDir_ + " to " + kUser);
    }
  }
  ::chmod(runtimeDir_.c_str(), 0700);
  socket_ = runtimeDir_ + "/wayland-1";
  try {
    if (kind_ == Kind::Sway) {
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

WaylandTestCompositor::~WaylandTestCompositor() {
  for (int fd : titleFds_) ::close(fd);
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) childprocess::stop(*it);
  childprocess::stop(compositor_);
  std::error_code ignored;
  std::filesystem::remove_all(runtimeDir_, ignored);
}

std::vector<std::string> WaylandTestCompositor::compositorCommand(const std::vector<std::string>& argv) const {
  if (::getuid() != 0) return argv;
  std::vector<std::string> command = {"runuser", "-u", kUser, "--"};
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
  if (::getuid() == 0) {
    passwd* user = ::getpwnam(kUser);
    if (::chown(config.c_str(), user->pw_uid, user->pw_gid) != 0) throw std::runtime_error("chown failed");
  }
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
  if (!up) throw std::runtime_error("sway did not start: " + readFile(runtimeDir_ + "/compositor.log"));
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
  xDisplay_ = readFile(displayFile);
  while (!xDisplay_.empty() && (xDisplay_.back() == '\n' || xDisplay_.back() == ' ')) xDisplay_.pop_back();
}

void WaylandTestCompositor::startWeston() {
  const std::string log = runtimeDir_ + "/compositor.log";
  compositor_ = childprocess::spawn(
      compositorCommand({"weston", "--backend=headless-backend.so", "--xwayland", "--socket=wayland-1",
                         "--log=" + log}),
      compositorEnvironment(runtimeDir_));
  // weston writes the display its XWayland will answer on to its log.
  const std::string marker = "xserver listening on display ";
  bool up = childprocess::waitFor(
      [&] { return std::filesystem::exists(socket_) && readFile(log).find(marker) != std::string::npos; }, 20000);
  if (!up) throw std::runtime_error("weston did not start: " + readFile(log));
  std::string text = readFile(log);
  size_t at = text.find(marker) + marker.size();
  xDisplay_ = text.substr(at, text.find_first_of(" \n", at) - at);
  // The first X client starts XWayland; this one lets the test's user in.
  bool allowed = childprocess::waitFor(
      [&] {
        return runAsCompositorUser({"xhost", "+si:localuser:" + userName(::getuid())},
                                   {"DISPLAY=" + xDisplay_, "XDG_RUNTIME_DIR=" + runtimeDir_}) == 0;
      },
      20000);
  if (!allowed) throw std::runtime_error("weston's XWayland did not start: " + readFile(log));
}

void WaylandTestCompositor::terminate() {
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
  std::erase(children_, pid);
}

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
  line += " 2>&1";
  std::string out;
  if (FILE* p = ::popen(line.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}
