#pragma once
// Starting and stopping the helper processes of a test (servers,
// compositors, small clients), and waiting for a condition with a deadline.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace childprocess {

// Polls `condition` every 10 ms until it holds (true) or `timeoutMs` passes
// (false).
bool waitFor(const std::function<bool()>& condition, int timeoutMs);

// Starts argv[0] (looked up in PATH) with `environment` ("NAME=value") added
// to this process's. Its standard streams go to /dev/null, or its output to
// `outputFile` and its input from `inputFd` when they are given; every other
// descriptor but `keepFd` is closed. It dies with the test. Throws
// std::runtime_error when fork fails.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
            int keepFd = -1, const std::string& outputFile = std::string(), int inputFd = -1);

// SIGTERM, then SIGKILL after 3 s; reaps the process.
void stop(pid_t pid);

// Waits up to `timeoutMs` for the process to end and reaps it: its exit
// status, or 128 + the signal that ended it; nothing while it still runs.
std::optional<int> waitExit(pid_t pid, int timeoutMs);

// Runs `command` with /bin/sh and returns everything it wrote to its
// standard output ("" when it cannot be started).
std::string shellOutput(const std::string& command);
// The same, with its exit status (-1 when it did not exit).
int shellRun(const std::string& command, std::string& output);

// A process that takes the exclusive locks (flock) of `files` and stops
// itself, as a suspended reader or a stopped second instance would hold
// them; killed by release() or the destructor.
class StoppedLockHolder {
 public:
  explicit StoppedLockHolder(const std::vector<std::string>& files);
  ~StoppedLockHolder() { release(); }
  StoppedLockHolder(const StoppedLockHolder&) = delete;
  StoppedLockHolder& operator=(const StoppedLockHolder&) = delete;
  // Whether it holds the locks, stopped.
  bool stopped() const { return stopped_; }
  pid_t pid() const { return pid_; }
  void release();

 private:
  pid_t pid_ = -1;
  bool stopped_ = false;
};

}  // namespace childprocess
