#pragma once
// How this host names itself to a mail server: in HELO and EHLO, and on the
// right of a Message-ID.

#include <string>

// The local host's fully-qualified domain name; "" while it is not known
// yet, or when the host has none (a bare name such as "vm", or only
// "localhost"). The first call starts finding it in the background (the
// host name, else its canonical name from the resolver, which may have to
// ask the network), so no call ever waits for it.
std::string localDomainName();

// Whether `name` is a host name: labels of letters, digits and hyphens
// parted by single dots.
bool isHostName(const std::string& name);

// The address literal of a numeric address: "[192.0.2.1]",
// "[IPv6:2001:db8::1]".
std::string addressLiteral(const std::string& numericAddress);

// The greeting name when none is configured: the fully-qualified domain
// name where there is one, else the address literal of the connection's
// own local address, else the bare host name (without a connection).
std::string greetingName(const std::string& localAddress);
