#pragma once
// Turning the socket's texts into addresses: protocol names and numbers,
// service names and port numbers, dotted addresses and host names. Failures
// raise ESocketException with the text the socket reports.

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QObject;

// A dotted address of four decimal parts (only those), parsed into out.
bool parseDotted(const std::string& text, in_addr& out);
// The protocol number of a name or number; stream := not UDP.
int resolveProto(const std::string& proto, bool& stream);
// The port of a number or service name, in host order.
uint16_t resolvePort(const std::string& port, const std::string& proto);
// The IPv4 address of a dotted address or host name (blocking lookup).
in_addr resolveHost(const std::string& host);
// The local host's name, at most 63 characters.
std::string localHostName();
// The remote and local endpoints of a connection; stream := not UDP.
void resolveEndpoints(const std::string& proto, const std::string& addr, const std::string& port,
                      const std::string& localAddr, const std::string& localPort, bool& stream,
                      sockaddr_in& remote, sockaddr_in& local);

// Looks a host name up in the background; done gets the lookup's id, a
// socket error number and the IPv4 addresses, from the event loop, unless
// context is destroyed first. Returns the id.
using LookupDone = std::function<void(int id, uint16_t error, const std::vector<std::string>& addresses)>;
int lookupHostInBackground(const std::string& hostName, QObject* context, LookupDone done);
