#include "tests/support/DesktopSession.h"

#include <fcntl.h>
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
#include "tests/support/TempDir.h"

namespace {

// The user a session started by root runs as (scripts/setup.sh makes it).
constexpr const char* USER = "morvane-compositor";
const char* const EXTENSIONS[] = {"windowlist@morvane.org", "windowlist-gnome43@morvane.org"};

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

const char* DesktopSession::name(Desktop desktop) {
  switch (desktop) {
    case Desktop::KWin5:
      return "kwin5";
    case Desktop::KWin6:
      return "kwin6";
    case Desktop::KWin6Wrapper:
      return "kwin6-wrapper";
    case Desktop::Gnome43:
      return "gnome43";
    case Desktop::KWin67:
      return "kwin67";
    case Desktop::Gnome48:
      return "gnome48";
    case Desktop::Gnome50:
      return "gnome50";
    case Desktop::Gnome51:
      return "gnome51";
    case Desktop::KWin5X11:
      return "kwin5-x11";
    case Desktop::Gnome43X11:
      return "gnome43-x11";
  }
  return "?";
}

DesktopSession::DesktopSession(Desktop desktop) : DesktopSession(desktop, Setup()) {}

DesktopSession::DesktopSession(Desktop desktop, const Setup& setup) : desktop_(desktop) {
  // Under /tmp: a Debian root shares this machine's /tmp, so the paths
  // of sockets and files mean the same on both sides.
  char pattern[] = "/tmp/morvane-desktop.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  try {
    start(setup);
  } catch (...) {
    childprocess::stop(session_);
    std::filesystem::remove_all(folder_);
    throw;
  }
}

void DesktopSession::start(const Setup& setup) {
  std::ofstream settings(folder_ + "/settings");
  if (!isKWin()) {
    if (setup.extensionInstalled) installExtension(setup.extensionOutOfDate);
    std::string enabled =
        setup.extensionEnabled ? "['windowlist@morvane.org', 'windowlist-gnome43@morvane.org']" : "@as []";
    settings << "org.gnome.shell enabled-extensions " << enabled << "\n"
             << "org.gnome.shell disable-user-extensions false\n";
  }
  for (const std::string& line : setup.settings) settings << line << "\n";
  settings.close();
  session_ = childprocess::spawn({"bash", MORVANE_DESKTOP_SESSION, name(desktop_), folder_}, {}, -1, folder_ + "/out");
  waitReady(++generation_);
}

void DesktopSession::waitReady(int generation) {
  const std::string ready = folder_ + "/ready";
  bool up = childprocess::waitFor(
      [&] {
        return std::filesystem::exists(folder_ + "/failed") || std::filesystem::exists(folder_ + "/stopped") ||
               trimmed(TempDir::read(ready)) == std::to_string(generation);
      },
      150000);
  if (!up || trimmed(TempDir::read(ready)) != std::to_string(generation)) {
    throw std::runtime_error(std::string(name(desktop_)) + " did not start: " +
                             TempDir::read(folder_ + "/session.log") + TempDir::read(folder_ + "/out"));
  }
}

DesktopSession::~DesktopSession() {
  for (int fd : titleFds_) ::close(fd);
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) childprocess::stop(*it);
  int control = ::open((folder_ + "/ctl").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (control >= 0) {
    (void)!::write(control, "stop\n", 5);
    ::close(control);
  }
  if (!childprocess::waitExit(session_, 15000)) childprocess::stop(session_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> DesktopSession::environment() const {
  std::vector<std::string> variables;
  std::istringstream lines(TempDir::read(folder_ + "/env"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) variables.push_back(line);
  }
  return variables;
}

std::string DesktopSession::variable(const std::string& name) const {
  for (const std::string& entry : environment()) {
    if (entry.rfind(name + "=", 0) == 0) return entry.substr(name.size() + 1);
  }
  return std::string();
}

std::string DesktopSession::programs() {
  const std::string folder = folder_ + "/programs";
  if (std::filesystem::create_directory(folder) && ::getuid() == 0) {
    passwd* user = ::getpwnam(USER);
    if (user == nullptr || ::chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + folder + " to " + USER);
    }
  }
  return folder;
}

std::string DesktopSession::install(const std::string& path) {
  const std::string copy = programs() + "/" + std::filesystem::path(path).filename().string();
  if (!std::filesystem::exists(copy)) {
    std::filesystem::copy_file(path, copy);
    ::chmod(copy.c_str(), 0755);
  }
  return copy;
}

void DesktopSession::installExtension(bool outOfDate) {
  const std::string target = folder_ + "/share/gnome-shell/extensions";
  std::filesystem::create_directories(target);
  for (const char* uuid : EXTENSIONS) {
    std::filesystem::copy(std::string(MORVANE_GNOME_EXTENSIONS) + "/" + uuid, target + "/" + uuid,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    if (outOfDate) {
      const std::string metadata = target + "/" + uuid + "/metadata.json";
      std::string text = TempDir::read(metadata);
      const size_t from = text.find("\"shell-version\"");
      const size_t to = text.find(']', from);
      if (from == std::string::npos || to == std::string::npos) throw std::runtime_error("no shell-version in " + metadata);
      text.replace(from, to + 1 - from, "\"shell-version\": [\"40\"]");
      std::ofstream(metadata, std::ios::trunc) << text;
    }
  }
  // Readable by the session's user.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_ + "/share")) {
    ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
  }
  ::chmod((folder_ + "/share").c_str(), 0755);
}

std::vector<std::string> DesktopSession::privateFolder(const std::string& folder) const {
  passwd* user = ::getpwnam(USER);
  if (user == nullptr) throw std::runtime_error(std::string("user ") + USER + " is missing: run scripts/setup.sh");
  const std::string owner = "mode=0700,uid=" + std::to_string(user->pw_uid) + ",gid=" + std::to_string(user->pw_gid);
  return {"unshare", "--mount", "--",
          "sh",      "-c",      "mkdir -p \"$0\" && mount -t tmpfs -o " + owner + " tmpfs \"$0\" && exec \"$@\"",
          folder};
}

std::vector<std::string> DesktopSession::asUser(const std::vector<std::string>& argv) const {
  if (::getuid() != 0) return argv;
  passwd* user = ::getpwnam(USER);
  if (user == nullptr) throw std::runtime_error(std::string("user ") + USER + " is missing: run scripts/setup.sh");
  std::vector<std::string> command = {"setpriv", "--reuid=" + std::to_string(user->pw_uid),
                                      "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

pid_t DesktopSession::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                            const std::string& outputFile, int inputFd, const std::vector<std::string>& asRoot) {
  std::vector<std::string> env = environment();
  env.insert(env.end(), extra.begin(), extra.end());
  std::vector<std::string> command = ::getuid() == 0 ? asRoot : std::vector<std::string>();
  for (const std::string& word : asUser(argv)) command.push_back(word);
  pid_t pid = childprocess::spawn(command, env, -1, outputFile, inputFd);
  children_.push_back(pid);
  return pid;
}

std::string DesktopSession::run(const std::vector<std::string>& argv) {
  const std::string output = folder_ + "/run.out";
  std::filesystem::remove(output);
  pid_t pid = spawn(argv, {}, output);
  childprocess::waitExit(pid, 30000);
  childprocess::stop(pid);
  forget(pid);
  return TempDir::read(output);
}

void DesktopSession::kill(pid_t pid, int signal) {
  if (signal == SIGKILL) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  } else {
    childprocess::stop(pid);
  }
  forget(pid);
}

void DesktopSession::forget(pid_t pid) { std::erase(children_, pid); }

DesktopSession::Window DesktopSession::openNativeWindow(const std::string& title) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  Window window;
  window.pid =
      spawn({install(MORVANE_DEMO_WINDOW), title, "0"},
            {"QT_QPA_PLATFORM=wayland", "QT_WAYLAND_DISABLE_WINDOWDECORATION=1", "DISPLAY="}, std::string(), fds[0]);
  ::close(fds[0]);
  window.titleFd = fds[1];
  titleFds_.push_back(window.titleFd);
  return window;
}

void DesktopSession::setTitle(const Window& window, const std::string& title) {
  std::string line = title + "\n";
  if (::write(window.titleFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    throw std::runtime_error("cannot change the title");
  }
}

pid_t DesktopSession::openXWindow(const std::string& title) {
  return spawn({"xmessage", "-title", title, "status"}, {"WAYLAND_DISPLAY="});
}

void DesktopSession::close(Window& window, int signal) {
  kill(window.pid, signal);
  ::close(window.titleFd);
  std::erase(titleFds_, window.titleFd);
  window = {};
}

void DesktopSession::restart() {
  int control = ::open((folder_ + "/ctl").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (control < 0 || ::write(control, "restart\n", 8) != 8) throw std::runtime_error("cannot restart the session");
  ::close(control);
  waitReady(++generation_);
}
