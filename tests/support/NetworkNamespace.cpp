#include "tests/support/NetworkNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace {

uint64_t numberAfter(const std::string& text, const std::string& key, size_t from) {
  size_t at = text.find(key, from);
  return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

bool NetworkNamespace::available() { return ::geteuid() == 0 && ::access("/dev/net/tun", R_OK | W_OK) == 0; }

NetworkNamespace::NetworkNamespace() {
  static int made = 0;
  name_ = "morvane-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
  original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original_ < 0 || std::system(("ip netns add " + name_).c_str()) != 0) {
    throw std::runtime_error("cannot make the network namespace " + name_);
  }
  const int inside = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = inside >= 0 && ::setns(inside, CLONE_NEWNET) == 0;
  if (inside >= 0) ::close(inside);
  if (!entered || !ip("link set lo up")) throw std::runtime_error("cannot enter " + name_);
  // Without IPv6 the kernel sends nothing through a device by itself, so
  // its counters hold only what a test sent.
  for (const char* conf : {"all", "default"}) {
    std::ofstream(std::string("/proc/sys/net/ipv6/conf/") + conf + "/disable_ipv6") << "1\n";
  }
}

NetworkNamespace::~NetworkNamespace() {
  for (pid_t pid : processes_) childprocess::stop(pid);
  ::setns(original_, CLONE_NEWNET);
  ::close(original_);
  std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
}

bool NetworkNamespace::ip(const std::string& arguments) const {
  // The namespace is this thread's, so the children's too.
  return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

pid_t NetworkNamespace::spawn(const std::vector<std::string>& argv) {
  pid_t pid = childprocess::spawn(argv);
  processes_.push_back(pid);
  return pid;
}

pid_t NetworkNamespace::holdTun(const std::string& interface, int seconds) {
  pid_t pid = spawn({MORVANE_TUN_HOLDER, interface, std::to_string(seconds)});
  if (!childprocess::waitFor([&] { return linkUp(interface); }, 10000)) {
    throw std::runtime_error(interface + " did not come up");
  }
  return pid;
}

void NetworkNamespace::release(pid_t holder) {
  childprocess::stop(holder);
  processes_.erase(std::remove(processes_.begin(), processes_.end(), holder), processes_.end());
}

bool NetworkNamespace::linkUp(const std::string& interface) const {
  std::string line = childprocess::shellOutput("ip -br link show dev " + interface + " 2>/dev/null");
  return line.find("UP,LOWER_UP") != std::string::npos;
}

NetworkNamespace::Bytes NetworkNamespace::counters(const std::string& interface) const {
  std::string json = childprocess::shellOutput("ip -s -j link show dev " + interface + " 2>/dev/null");
  size_t stats = json.find("\"stats64\"");
  if (stats == std::string::npos) return {};
  return Bytes{numberAfter(json, "\"rx\":{\"bytes\":", stats), numberAfter(json, "\"tx\":{\"bytes\":", stats)};
}
