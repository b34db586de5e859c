#include "smtp/MessageId.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "net/TWSocket.h"
#include "smtp/LocalName.h"

namespace {

// The right side of the id must be a dot-atom; a host name is one.
std::string idHost() {
  std::string host = localDomainName();
  if (host.empty()) host = TWSocket::GetLocalHostName();
  return isHostName(host) ? host : "localhost";
}

}  // namespace

std::string newMessageId() {
  static std::atomic<uint64_t> count{0};
  uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
    // Without the kernel's randomness the clock's nanoseconds still differ.
    random = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &utc);
  char id[96];
  std::snprintf(id, sizeof id, "%s.%ld.%llu.%016llx", stamp, static_cast<long>(::getpid()),
                static_cast<unsigned long long>(++count), static_cast<unsigned long long>(random));
  return "<" + std::string(id) + "@" + idHost() + ">";
}
