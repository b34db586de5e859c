// morvane-test-tun NAME [SECONDS]: what a VPN client does with its tunnel,
// for tests and benchmarks. Makes (or attaches to) the tun device NAME, sets
// it up, prints "up" and holds it, reading and dropping whatever the kernel
// sends through it, for SECONDS (default: until a signal ends it). When the
// process ends the kernel deletes the device, or, for a persistent one,
// takes its carrier away.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || std::strlen(argv[1]) >= IFNAMSIZ) {
    std::fprintf(stderr, "usage: %s NAME [SECONDS]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;
  const int tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  ifreq request{};
  std::strncpy(request.ifr_name, argv[1], IFNAMSIZ - 1);
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  if (tun < 0 || ::ioctl(tun, TUNSETIFF, &request) != 0) {
    std::perror("tun");
    return 1;
  }
  const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (control < 0 || ::ioctl(control, SIOCGIFFLAGS, &request) != 0) return 1;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (::ioctl(control, SIOCSIFFLAGS, &request) != 0) {
    std::perror("up");
    return 1;
  }
  std::printf("up\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  char packet[65536];
  for (;;) {
    int wait = -1;
    if (seconds > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return 0;
      wait = static_cast<int>(left.count());
    }
    pollfd readable{tun, POLLIN, 0};
    if (::poll(&readable, 1, wait) > 0 && ::read(tun, packet, sizeof packet) < 0) return 1;
  }
}
