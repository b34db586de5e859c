#include "tests/support/NetworkNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace {

uint64_t numberAfter(const std::string& text, const std::string& key, size_t from) {
  size_t at = text.find(key, from);
  return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

bool NetworkNamespace::available() { return ::geteuid() == 0 && ::access("/dev/net/tun", R_OK | W_OK) == 0; }

NetworkNamespace::NetworkNamespace(bool enter) {
  static int made = 0;
  name_ = "morvane-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
  if (std::system(("ip netns add " + name_).c_str()) != 0) {
    throw std::runtime_error("cannot make the network namespace " + name_);
  }
  for (const char* conf : {"all", "default"}) {
    shell(std::string("echo 1 >/proc/sys/net/ipv6/conf/") + conf + "/disable_ipv6");
  }
  if (!ip("link set lo up")) throw std::runtime_error("cannot use " + name_);
  if (!enter) return;
  original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int inside = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = original_ >= 0 && inside >= 0 && ::setns(inside, CLONE_NEWNET) == 0;
  if (inside >= 0) ::close(inside);
  if (!entered) throw std::runtime_error("cannot enter " + name_);
}

NetworkNamespace::~NetworkNamespace() {
  for (pid_t pid : processes_) childprocess::stop(pid);
  if (original_ >= 0) {
    ::setns(original_, CLONE_NEWNET);
    ::close(original_);
  }
  std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
}

bool NetworkNamespace::ip(const std::string& arguments) const {
  return std::system(("ip -n " + name_ + " " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool NetworkNamespace::shell(const std::string& command) const {
  return std::system(("ip netns exec " + name_ + " sh -c '" + command + "' >/dev/null 2>&1").c_str()) == 0;
}

pid_t NetworkNamespace::spawn(const std::vector<std::string>& argv) {
  std::vector<std::string> inside{"ip", "netns", "exec", name_};
  inside.insert(inside.end(), argv.begin(), argv.end());
  pid_t pid = childprocess::spawn(inside);
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
  std::string line = childprocess::shellOutput("ip -n " + name_ + " -br link show dev " + interface + " 2>/dev/null");
  return line.find("UP,LOWER_UP") != std::string::npos;
}

NetworkNamespace::Bytes NetworkNamespace::counters(const std::string& interface) const {
  std::string json = childprocess::shellOutput("ip -n " + name_ + " -s -j link show dev " + interface + " 2>/dev/null");
  size_t stats = json.find("\"stats64\"");
  if (stats == std::string::npos) return {};
  return Bytes{numberAfter(json, "\"rx\":{\"bytes\":", stats), numberAfter(json, "\"tx\":{\"bytes\":", stats)};
}
