#include "main/ShellLaunch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDesktopServices>
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

// Starts `program` with `arguments` (argument 0 included) in a process of
// its own session that nobody waits for. The middle process exits at once,
// so no zombie stays; the program's exec failure comes back through a pipe
// that closes on a successful exec. Returns 0 or the errno of the failure.
int startDetached(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return error;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    ::close(fds[0]);
    ::setsid();
    pid_t child = ::fork();
    if (child < 0) reportAndExit(fds[1], errno);
    if (child > 0) ::_exit(0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execv(program.c_str(), argv.data());
    reportAndExit(fds[1], errno);
  }
  ::close(fds[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = ::read(fds[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(fds[0]);
  if (got == static_cast<ssize_t>(sizeof error)) return error;
  return 0;
}

void start(const std::string& program, const std::vector<std::string>& arguments, const std::string& target) {
  int error = startDetached(program, arguments);
  if (error != 0) {
    throw IOException("shellLaunch: Cannot start " + program + " for " + target + ": " +
                      fileutil::systemMessage(error));
  }
}

// The desktop's opener: xdg-open gets the bytes as they are; without it Qt's
// own opener, which needs text.
void openWithDesktop(const std::string& target) {
  std::string opener = findExecutable("xdg-open");
  if (!opener.empty()) {
    start(opener, {opener, target}, target);
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

void shellLaunch(const std::string& target) {
  if (isExecutableFile(target)) {
    start(target, {target}, target);
    return;
  }
  if (exists(target) || looksLikeUrl(target)) {
    openWithDesktop(target);
    return;
  }
  std::vector<std::string> words = splitShellWords(target);
  std::string program = words.empty() ? std::string() : findExecutable(words[0]);
  if (program.empty()) {
    throw IOException("shellLaunch: No such file, URL or program: " + target);
  }
  start(program, words, target);
}
