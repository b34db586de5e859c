#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace childprocess {

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int keepFd,
            const std::string& outputFile, int inputFd) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Dies with the test, also when the test crashes before its cleanup.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    int devnull = ::open("/dev/null", O_RDWR);
    int out = outputFile.empty() ? devnull : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(inputFd >= 0 ? inputFd : devnull, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != keepFd) ::close(fd);
    }
    for (const std::string& variable : environment) ::putenv(const_cast<char*>(variable.c_str()));
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  bool gone = waitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, 3000);
  if (!gone) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

std::optional<int> waitExit(pid_t pid, int timeoutMs) {
  int status = 0;
  if (!waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) return std::nullopt;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string shellOutput(const std::string& command) {
  std::string out;
  shellRun(command, out);
  return out;
}

StoppedLockHolder::StoppedLockHolder(const std::vector<std::string>& files) {
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const std::string& file : files) {
      if (::flock(::open(file.c_str(), O_RDONLY | O_CLOEXEC), LOCK_EX) != 0) ::_exit(1);
    }
    ::raise(SIGSTOP);
    ::_exit(0);
  }
  int status = 0;
  stopped_ = ::waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
}

void StoppedLockHolder::release() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int shellRun(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace childprocess
