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

const char* const ADVICE = "start Morvane in a desktop session, or set DISPLAY or WAYLAND_DISPLAY to a running one";

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

// Qt's messages while its platform starts, and the status for its failure.
struct HeldMessage {
  QtMsgType type;
  const char* category;  // Qt's category names are static texts
  QString text;
};
struct StartState {
  int status = 1;
  QtMessageHandler previous = nullptr;
  std::thread::id thread;
  std::vector<HeldMessage> held;
};
StartState* startState = nullptr;

void passOn(QtMessageHandler handler, QtMsgType type, const char* category, const QString& text) {
  if (handler != nullptr) {
    handler(type, QMessageLogContext(nullptr, 0, nullptr, category), text);
  } else {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }
}

// The one line for a platform that did not start; Qt's first complaint
// names the cause, its last one only that no platform started.
void tellPlatformFailure(const QString& last) {
  std::string reason = (startState->held.empty() ? last : startState->held.front().text).toStdString();
  reason = reason.substr(0, reason.find('\n'));
  if (reason.empty()) reason = "the platform did not start";
  std::fprintf(stderr, "morvane: cannot open a display: %s; %s\n", reason.c_str(), ADVICE);
  std::fflush(stderr);
}

void holdOrFail(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    tellPlatformFailure(message);
    std::_Exit(startState->status);  // no abort, no core, nothing else of Qt's
  }
  // Only the starting thread's complaints wait for the verdict; a platform
  // thread that ends the process itself has its say at once.
  if (std::this_thread::get_id() != startState->thread) {
    passOn(startState->previous, type, context.category, message);
    return;
  }
  startState->held.push_back({type, context.category, message});
}

// Platforms that end the process with exit() when they cannot start.
void tellAtExit() {
  if (startState != nullptr) tellPlatformFailure(QString());
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
  return "morvane: cannot open a display (" + tried + "): " + ADVICE;
}

PlatformStartGuard::PlatformStartGuard(int status) {
  static const bool registered = std::atexit(tellAtExit) == 0;
  (void)registered;
  startState = new StartState{status, nullptr, std::this_thread::get_id(), {}};
  startState->previous = qInstallMessageHandler(holdOrFail);
}

void PlatformStartGuard::started() {
  if (startState == nullptr) return;
  StartState* state = std::exchange(startState, nullptr);
  qInstallMessageHandler(state->previous);
  for (const HeldMessage& message : state->held) passOn(state->previous, message.type, message.category, message.text);
  delete state;
}

PlatformStartGuard::~PlatformStartGuard() { started(); }

std::string displayName(const std::string& given, const char* variable) {
  return given.empty() ? environment(variable) : given;
}
