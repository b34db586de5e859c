#include "platform/DisplayCheck.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QString>
#include <QtGlobal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of Qt's option `name` ("-name value", "--name value",
// "-name=value"); "" without it.
std::string qtOption(int argc, char** argv, std::string_view name) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument.size() < 2 || argument[0] != '-') continue;
    argument.remove_prefix(argument[1] == '-' ? 2 : 1);
    if (argument == name && i + 1 < argc) return argv[i + 1];
    if (argument.size() > name.size() && argument.substr(0, name.size()) == name && argument[name.size()] == '=')
      return std::string(argument.substr(name.size() + 1));
  }
  return {};
}

bool xServerAnswers(const std::string& display) {
  // A server under load refuses for a moment; it is asked a few times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error == 0) return true;
    if (error != XCB_CONN_ERROR) return false;  // a display name that is no display
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

// The compositor's socket: $WAYLAND_DISPLAY itself when it is a path, else
// in $XDG_RUNTIME_DIR, "wayland-0" when unset (as libwayland does).
bool compositorAnswers(const std::string& name) {
  if (!environment("WAYLAND_SOCKET").empty()) return true;  // handed over by the compositor itself
  std::string path = name;
  if (path.empty() || path[0] != '/') {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + (name.empty() ? "wayland-0" : name);
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answered;
}

// Qt's messages while its platform starts, and the line for its failure.
struct StartState {
  std::string line;
  int status = 1;
  QtMessageHandler previous = nullptr;
  std::vector<std::pair<QtMsgType, std::string>> held;
};
StartState* startState = nullptr;

void holdOrFail(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", startState->line.c_str());
    std::fflush(stderr);
    std::_Exit(startState->status);  // no abort, no core, nothing else of Qt's
  }
  startState->held.emplace_back(type, message.toStdString());
}

}  // namespace

std::string displayProblem(int argc, char** argv) {
  std::string platform = qtOption(argc, argv, "platform");
  if (platform.empty()) platform = environment("QT_QPA_PLATFORM");
  // Qt tries the platforms of a list in order; "name:options" names one.
  bool wantsX = platform.empty(), wantsWayland = platform.empty();
  for (size_t start = 0; start <= platform.size();) {
    size_t end = platform.find(';', start);
    if (end == std::string::npos) end = platform.size();
    const std::string entry = platform.substr(start, std::min(platform.find(':', start), end) - start);
    if (entry == "xcb") {
      wantsX = true;
    } else if (entry.rfind("wayland", 0) == 0) {
      wantsWayland = true;
    } else if (!entry.empty()) {
      return {};  // offscreen, vnc, eglfs, ...: none of them needs a display
    }
    start = end + 1;
  }

  std::string display = qtOption(argc, argv, "display");
  if (display.empty()) display = environment("DISPLAY");
  const std::string wayland = environment("WAYLAND_DISPLAY");
  if (wantsX && !display.empty() && xServerAnswers(display)) return {};
  if (wantsWayland && compositorAnswers(wayland)) {
    if (platform.empty()) ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    return {};
  }
  std::string tried;
  if (wantsX) tried = display.empty() ? "DISPLAY is not set" : "no X server answers on DISPLAY=" + display;
  if (wantsWayland) {
    if (!tried.empty()) tried += ", ";
    tried += wayland.empty() ? "WAYLAND_DISPLAY is not set" : "no Wayland compositor answers on WAYLAND_DISPLAY=" + wayland;
  }
  return "morvane: cannot open a display (" + tried +
         "): start Morvane in a desktop session, or set DISPLAY or WAYLAND_DISPLAY to a running one";
}

PlatformStartGuard::PlatformStartGuard(std::string line, int status) {
  startState = new StartState{std::move(line), status, nullptr, {}};
  startState->previous = qInstallMessageHandler(holdOrFail);
}

void PlatformStartGuard::started() {
  if (startState == nullptr) return;
  StartState* state = std::exchange(startState, nullptr);
  qInstallMessageHandler(state->previous);
  for (const auto& [type, text] : state->held) {
    if (type == QtDebugMsg) qDebug("%s", text.c_str());
    else if (type == QtInfoMsg) qInfo("%s", text.c_str());
    else if (type == QtWarningMsg) qWarning("%s", text.c_str());
    else qCritical("%s", text.c_str());
  }
  delete state;
}

PlatformStartGuard::~PlatformStartGuard() { started(); }
