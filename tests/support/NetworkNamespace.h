#pragma once
// A network namespace of a test's own (root only): made (and entered, unless
// told otherwise) by the constructor, so this thread's sockets and every
// process it starts live in it; left and deleted, with the processes
// started through it, by the destructor. Only `lo` exists in it at first
// (up), and IPv6 is off, so the kernel sends nothing through a device by
// itself and its counters hold only what a test sent.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class NetworkNamespace {
 public:
  // Whether namespaces and tun devices can be made here (root, /dev/net/tun).
  static bool available();

  explicit NetworkNamespace(bool enter = true);
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  const std::string& name() const { return name_; }

  // Runs "ip ARGUMENTS" in the namespace; true when it succeeded.
  bool ip(const std::string& arguments) const;
  // Runs `command` with /bin/sh in the namespace; true when it succeeded.
  bool shell(const std::string& command) const;
  // Starts morvane-test-tun holding `interface` up (for `seconds`, 0: until
  // stopped) and waits until the device is up with its carrier.
  pid_t holdTun(const std::string& interface, int seconds = 0);
  // Ends a process started by spawn or holdTun (or adopted) and waits until
  // it is gone.
  void release(pid_t holder);
  // Starts a process that stays in the namespace until the destructor.
  pid_t spawn(const std::vector<std::string>& argv);
  // Ends a process started by others (not a child of this one) with the
  // namespace, unless release() ended it before.
  void adopt(pid_t pid) { processes_.push_back(pid); }

  // The device exists, is up and has its carrier ("ip link").
  bool linkUp(const std::string& interface) const;
  // Bytes received and sent, as "ip -s -j link" shows them.
  struct Bytes {
    uint64_t received = 0;
    uint64_t sent = 0;
  };
  Bytes counters(const std::string& interface) const;

 private:
  std::string name_;
  int original_ = -1;  // this thread's namespace before entering, or -1
  std::vector<pid_t> processes_;
};
