#include "net/SocketResolution.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <QHostAddress>
#include <QHostInfo>
#include <cerrno>
#include <cstdlib>

#include "basis/TString.h"
#include "net/SocketErrors.h"
#include "net/TWSocket.h"

namespace {

uint16_t mapLookupError(int gaiError) {
  switch (gaiError) {
    case EAI_NONAME: return TCustomWSocket::WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return 11002;
#ifdef EAI_NODATA
    case EAI_NODATA: return TCustomWSocket::WSANO_DATA;
#endif
    case EAI_SYSTEM: return socketErrorOf(errno);
    default: return 11003;
  }
}

// Four decimal parts separated by dots and nothing else.
bool looksDotted(const std::string& text) {
  if (text.empty()) return false;
  int dots = 0;
  for (char c : text) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  return dots == 3;
}

std::string formatted(const char* format, const std::string& text, int code) {
  // Formats of the shape "...'%s', Error #%d".
  std::string result = format;
  result.replace(result.find("%s"), 2, text);
  result.replace(result.find("%d"), 2, std::to_string(code));
  return result;
}

}  // namespace

bool parseDotted(const std::string& text, in_addr& out) {
  return looksDotted(text) && inet_pton(AF_INET, text.c_str(), &out) == 1;
}

int resolveProto(const std::string& proto, bool& stream) {
  if (proto.empty()) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  int number;
  if (proto[0] >= '0' && proto[0] <= '9') {
    number = std::atoi(proto.c_str());
  } else if (TString::equalsLowerAscii(proto, "tcp")) {
    number = IPPROTO_TCP;  // the two common names need no database
  } else if (TString::equalsLowerAscii(proto, "udp")) {
    number = IPPROTO_UDP;
  } else {
    protoent entry{};
    protoent* result = nullptr;
    char buffer[1024];
    std::string lower = TString::toLowerAscii(proto);
    if (getprotobyname_r(lower.c_str(), &entry, buffer, sizeof buffer, &result) != 0 || !result)
      throw ESocketException(formatted("WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                       proto, TCustomWSocket::WSANO_DATA));
    number = result->p_proto;
  }
  stream = number != IPPROTO_UDP;
  return number;
}

uint16_t resolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() > 31) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (proto.empty()) throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (port[0] >= '0' && port[0] <= '9') return static_cast<uint16_t>(std::atoi(port.c_str()));
  servent entry{};
  servent* result = nullptr;
  char buffer[1024];
  std::string lowerProto = TString::toLowerAscii(proto);
  if (getservbyname_r(port.c_str(), lowerProto.c_str(), &entry, buffer, sizeof buffer, &result) != 0 ||
      !result)
    throw ESocketException(formatted("WSocketResolvePort: Cannot convert port '%s', Error #%d", port,
                                     TCustomWSocket::WSANO_DATA));
  return ntohs(static_cast<uint16_t>(result->s_port));
}

in_addr resolveHost(const std::string& host) {
  if (host.empty() || host.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
  in_addr address{};
  if (looksDotted(host)) {
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
      throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0)
    throw ESocketException(formatted("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                     host, mapLookupError(rc)));
  if (!list) throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
  address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
  freeaddrinfo(list);
  return address;
}

std::string localHostName() {
  char name[256];
  if (gethostname(name, sizeof name) != 0) throw ESocketException("Winsock.GetHostName failed");
  name[sizeof name - 1] = '\0';
  std::string result = name;
  if (result.size() > 63) result.resize(63);
  return result;
}

void resolveEndpoints(const std::string& proto, const std::string& addr, const std::string& port,
                      const std::string& localAddr, const std::string& localPort, bool& stream,
                      sockaddr_in& remote, sockaddr_in& local) {
  resolveProto(proto, stream);
  std::string protoName = stream ? "tcp" : "udp";
  remote.sin_family = AF_INET;
  remote.sin_port = htons(resolvePort(port, protoName));
  local.sin_family = AF_INET;
  local.sin_port = htons(resolvePort(localPort, protoName));
  remote.sin_addr = resolveHost(addr);
  if (localAddr != "0.0.0.0") local.sin_addr = resolveHost(localAddr);
}

int lookupHostInBackground(const std::string& hostName, QObject* context, LookupDone done) {
  return QHostInfo::lookupHost(
      QString::fromStdString(hostName), context, [done = std::move(done)](const QHostInfo& info) {
        std::vector<std::string> addresses;
        uint16_t error = 0;
        if (info.error() == QHostInfo::HostNotFound) {
          error = TCustomWSocket::WSAHOST_NOT_FOUND;
        } else if (info.error() != QHostInfo::NoError) {
          error = 11003;
        } else {
          for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol) addresses.push_back(a.toString().toStdString());
          if (addresses.empty()) error = TCustomWSocket::WSANO_DATA;
        }
        done(info.lookupId(), error, addresses);
      });
}
