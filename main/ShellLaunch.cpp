#include "main/ShellLaunch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QSocketNotifier>
#include <QString>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "basis/Exceptions.h"
#include "basis/FileSystem.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "main/ShellWords.h"

namespace {

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// "scheme:" as URLs start (http:, file:, mailto:, ...).
bool looksLikeUrl(const std::string& target) {
  size_t colon = target.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!alpha(target[0])) return false;
  for (size_t i = 1; i < colon; ++i) {
    char c = target[i];
    if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

[[noreturn]] void reportAndExit(int pipeFd, int error) {
  ssize_t ignored = ::write(pipeFd, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

// Closes every descriptor from 3 on except `keep`.
void closeAllBut(int keep) {
  if (::close_range(3, static_cast<unsigned>(keep) - 1, 0) != 0 ||
      ::close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) != 0) {
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != keep) ::close(fd);
    }
  }
}

void waitFor(pid_t process, int* status) {
  while (::waitpid(process, status, 0) < 0 && errno == EINTR) {
  }
}

// Starts `program` with `arguments` (argument 0 included) in a process of
// its own session that nobody waits for. The middle process exits at once,
// so no zombie stays; the program's exec failure comes back through a pipe
// that closes on a successful exec. Returns 0 or the errno of the failure.
// With `watch`, the middle process instead waits for the program, holding
// nothing of this process but the write end of a pipe, and writes the
// program's wait status into it; *watch receives the read end and *middle
// the middle process, which ends right after writing.
int startDetached(const std::string& program, const std::vector<std::string>& arguments, int* watch = nullptr,
                  pid_t* watcher = nullptr) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int fds[2];
  int statusFds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  if (watch != nullptr && ::pipe2(statusFds, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return error;
  }
  auto closeStatus = [&statusFds] {
    for (int& fd : statusFds) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  };
  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    closeStatus();
    return error;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    ::close(fds[0]);
    ::setsid();
    pid_t child = ::fork();
    if (child < 0) reportAndExit(fds[1], errno);
    if (child > 0) {
      if (watch == nullptr) ::_exit(0);
      for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
      closeAllBut(statusFds[1]);
      int status = 0;
      waitFor(child, &status);
      ssize_t ignored = ::write(statusFds[1], &status, sizeof status);
      (void)ignored;
      ::_exit(0);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // What this program ignores is no business of the one it starts.
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGXFSZ, SIG_DFL);
    ::execv(program.c_str(), argv.data());
    reportAndExit(fds[1], errno);
  }
  ::close(fds[1]);
  if (statusFds[1] >= 0) ::close(statusFds[1]);
  statusFds[1] = -1;
  int status = 0;
  if (watch == nullptr) waitFor(middle, &status);
  int error = 0;
  ssize_t got;
  while ((got = ::read(fds[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(fds[0]);
  if (got != static_cast<ssize_t>(sizeof error)) error = 0;
  if (watch != nullptr) {
    if (error != 0) {
      closeStatus();
      waitFor(middle, &status);  // it ends with the failed program
    } else {
      *watch = statusFds[0];
      *watcher = middle;
    }
  }
  return error;
}

// The name as a program or the opener may be given it: one that starts
// with "-" would be read as an option.
std::string asArgument(const std::string& name) { return name.rfind('-', 0) == 0 ? "./" + name : name; }

void start(const std::string& program, const std::vector<std::string>& arguments, const std::string& target,
           int* watch = nullptr, pid_t* watcher = nullptr) {
  int error = startDetached(program, arguments, watch, watcher);
  if (error != 0) {
    // The reason first: a dialog shows only the start of a long target.
    throw IOException("shellLaunch: " + fileutil::systemMessage(error) + ": cannot start " + program + " for " +
                      target);
  }
}

// What the end of the desktop's opener says, "" for a success.
std::string openerFailure(int status) {
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 0) return {};
  static const char* const MEANINGS[] = {"", "a syntax error", "the file does not exist",
                                          "a required tool is missing", "the action failed"};
  const int code = WEXITSTATUS(status);
  return "exit status " + std::to_string(code) + (code < 5 ? std::string(", ") + MEANINGS[code] : std::string());
}

// Waits on the event loop for the middle process's word on how the opener
// ended; goes with its context.
class OpenerWatch : public QObject {
 public:
  OpenerWatch(int fd, pid_t middle, std::string description, std::function<void(const std::string&)> onFailed,
              QObject* context)
      : QObject(context), fd_(fd), middle_(middle), description_(std::move(description)),
        onFailed_(std::move(onFailed)) {
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { finished(); });
  }
  ~OpenerWatch() override {
    ::close(fd_);
    if (middle_ > 0) (void)::waitpid(middle_, nullptr, WNOHANG);
  }

 private:
  void finished() {
    int status = 0;
    ssize_t got;
    while ((got = ::read(fd_, &status, sizeof status)) < 0 && errno == EINTR) {
    }
    waitFor(middle_, nullptr);
    middle_ = -1;
    const std::string failure = got == static_cast<ssize_t>(sizeof status) ? openerFailure(status) : std::string();
    std::function<void(const std::string&)> onFailed = std::move(onFailed_);
    const std::string text = "shellLaunch: The desktop's opener failed (" + failure + "): " + description_;
    deleteLater();
    if (!failure.empty() && onFailed) onFailed(text);
  }

  int fd_;
  pid_t middle_;
  std::string description_;
  std::function<void(const std::string&)> onFailed_;
};

// The desktop's opener: xdg-open gets the bytes as they are; without it Qt's
// own opener, which needs text.
void openWithDesktop(const std::string& target, QObject* context,
                     std::function<void(const std::string&)> onOpenerFailed) {
  std::string opener = findExecutable("xdg-open");
  if (!opener.empty()) {
    int watch = -1;
    pid_t watcher = -1;
    const bool watched = context != nullptr && onOpenerFailed;
    start(opener, {opener, asArgument(target)}, target, watched ? &watch : nullptr, &watcher);
    if (watched) new OpenerWatch(watch, watcher, opener + " for " + target, std::move(onOpenerFailed), context);
    return;
  }
  const QString text = QString::fromLocal8Bit(target.data(), static_cast<qsizetype>(target.size()));
  if (!QDesktopServices::openUrl(QUrl::fromUserInput(text, QString(), QUrl::AssumeLocalFile))) {
    throw IOException("shellLaunch: No opener accepted " + target);
  }
}

}  // namespace

std::string findExecutable(const std::string& command) {
  if (command.empty()) return {};
  if (command.find('/') != std::string::npos) return isExecutableFile(command) ? command : std::string();
  const char* pathVariable = std::getenv("PATH");
  std::unique_ptr<TStringCollection> folders =
      TString::split(pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin", ':');
  for (int32_t i = 0; i < folders->size(); ++i) {
    const std::string& folder = folders->get(i);
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + command;
    if (isExecutableFile(candidate)) return candidate;
  }
  return {};
}

void shellLaunch(const std::string& target, QObject* context,
                 std::function<void(const std::string& failure)> onOpenerFailed) {
  const size_t nul = target.find('\0');
  if (nul != std::string::npos) {
    std::string shown = target;
    for (char& c : shown) {
      if (c == '\0') c = '?';
    }
    throw IllegalArgumentException("shellLaunch: The target holds a NUL byte (at byte " + std::to_string(nul + 1) +
                                   ", shown as ?): " + shown);
  }
  if (isExecutableFile(target)) {
    start(asArgument(target), {asArgument(target)}, target);
    return;
  }
  if (exists(target) || looksLikeUrl(target)) {
    openWithDesktop(target, context, std::move(onOpenerFailed));
    return;
  }
  std::vector<std::string> words = splitShellWords(target);
  std::string program = words.empty() ? std::string() : findExecutable(words[0]);
  if (program.empty()) {
    throw IOException("shellLaunch: No such file, URL or program: " + target);
  }
  start(program, words, target);
}
