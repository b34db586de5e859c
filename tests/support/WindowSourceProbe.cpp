#include "tests/support/WindowSourceProbe.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// "windows <ms> <n>\t<title>\t...": the titles and the time.
std::vector<std::string> titlesOf(const std::string& line, double* ms = nullptr) {
  std::vector<std::string> titles;
  std::istringstream in(line.substr(8));
  double time = 0;
  in >> time;
  if (ms != nullptr) *ms = time;
  size_t tab = line.find('\t');
  while (tab != std::string::npos) {
    size_t next = line.find('\t', tab + 1);
    titles.push_back(line.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1));
    tab = next;
  }
  return titles;
}

}  // namespace

WindowSourceProbe::WindowSourceProbe(DesktopSession& session, const std::vector<std::string>& titles,
                                     const std::vector<std::string>& environment,
                                     const std::vector<std::string>& asRoot)
    : session_(session) {
  static int probes = 0;
  outputFile_ = session.folder() + "/probe-" + std::to_string(++probes) + ".out";
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv = {session.install(WINDOW_SOURCE_PROBE)};
  argv.insert(argv.end(), titles.begin(), titles.end());
  std::vector<std::string> env = environment;
  // Full stacks for the leak check, as in the program's own tests.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                "fast_unwind_on_malloc=0");
  env.push_back("LSAN_OPTIONS=suppressions=" + session.install(MORVANE_LSAN_SUPPRESSIONS) + ":print_suppressions=0");
  pid_ = session.spawn(argv, env, outputFile_, fds[0], asRoot);
  ::close(fds[0]);
  inputFd_ = fds[1];
  if (!childprocess::waitFor([&] { return !source().empty() || output().find("failed ") != std::string::npos; },
                             30000) ||
      source().empty()) {
    throw std::runtime_error("the window source probe did not start: " + output());
  }
}

WindowSourceProbe::~WindowSourceProbe() {
  if (pid_ > 0) {
    // A clean end, so that the source unloads what it loaded.
    (void)!::write(inputFd_, "quit\n", 5);
    if (childprocess::waitExit(pid_, 10000)) {
      session_.forget(pid_);
    } else {
      session_.kill(pid_);
    }
  }
  if (inputFd_ >= 0) ::close(inputFd_);
}

void WindowSourceProbe::kill() {
  session_.kill(pid_, SIGKILL);
  pid_ = -1;
}

std::string WindowSourceProbe::output() const { return TempDir::read(outputFile_); }

std::string WindowSourceProbe::field(const std::string& name) const {
  const std::vector<std::string> all = lines(output());
  for (auto line = all.rbegin(); line != all.rend(); ++line) {
    if (line->rfind(name + " ", 0) == 0) return line->substr(name.size() + 1);
  }
  return std::string();
}

std::vector<std::string> WindowSourceProbe::titles() const {
  std::vector<std::string> all = lines(output());
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (it->rfind("windows ", 0) == 0) return titlesOf(*it);
  }
  return {};
}

size_t WindowSourceProbe::count(const std::string& title) const {
  std::vector<std::string> list = titles();
  return static_cast<size_t>(std::count(list.begin(), list.end(), title));
}

bool WindowSourceProbe::waitFor(const std::function<bool(const WindowSourceProbe&)>& condition, int ms) const {
  return childprocess::waitFor([&] { return condition(*this); }, ms);
}

bool WindowSourceProbe::waitForCount(const std::string& title, size_t n, int ms) const {
  return waitFor([&](const WindowSourceProbe& probe) { return probe.count(title) == n; }, ms);
}

double WindowSourceProbe::reportedAt(const std::string& title, size_t n, double afterMs) const {
  for (const std::string& line : lines(output())) {
    if (line.rfind("windows ", 0) != 0) continue;
    double ms = 0;
    std::vector<std::string> list = titlesOf(line, &ms);
    if (ms > afterMs && static_cast<size_t>(std::count(list.begin(), list.end(), title)) == n) return ms;
  }
  return -1;
}
