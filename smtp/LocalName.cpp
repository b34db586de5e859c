#include "smtp/LocalName.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "net/TWSocket.h"

namespace {

// A host name with at least two labels, and not one of the names every
// host has for itself.
bool isFullyQualified(const std::string& name) {
  return isHostName(name) && name.find('.') != std::string::npos && name.rfind("localhost", 0) != 0;
}

std::string findDomainName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  if (isFullyQualified(host)) return host;
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return {};
  const std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : "";
  ::freeaddrinfo(found);
  return isFullyQualified(canonical) ? canonical : std::string();
}

struct DomainLookup {
  std::mutex guard;
  bool started = false;
  std::string name;
};

// Never destroyed: the lookup may still run when the program ends.
DomainLookup& domainLookup() {
  static DomainLookup* lookup = new DomainLookup;
  return *lookup;
}

}  // namespace

std::string localDomainName() {
  DomainLookup& lookup = domainLookup();
  std::lock_guard<std::mutex> lock(lookup.guard);
  if (!lookup.started) {
    lookup.started = true;
    // The resolver blocks; the UI thread must not.
    std::thread([] {
      std::string name = findDomainName();
      DomainLookup& done = domainLookup();
      std::lock_guard<std::mutex> doneLock(done.guard);
      done.name = std::move(name);
    }).detach();
  }
  return lookup.name;
}

bool isHostName(const std::string& name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.') return false;
  if (name.find("..") != std::string::npos) return false;
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                         c == '.';
    if (!allowed) return false;
  }
  return true;
}

std::string addressLiteral(const std::string& numericAddress) {
  if (numericAddress.find(':') != std::string::npos) return "[IPv6:" + numericAddress + "]";
  return "[" + numericAddress + "]";
}

std::string greetingName(const std::string& localAddress) {
  std::string name = localDomainName();
  if (!name.empty()) return name;
  if (!localAddress.empty()) return addressLiteral(localAddress);
  return TWSocket::GetLocalHostName();
}
