#pragma once
// The classic socket error numbers (10061 connection refused, 11001 host not
// found, ...) that the socket reports, and their texts. System errors are
// mapped onto them, so callers see the same codes on every platform.

#include <cstdint>
#include <string>

// The socket error number of a system error number (errno); numbers without
// a counterpart pass through unchanged.
uint16_t socketErrorOf(int systemError);

// The text of a socket error number; "Not a WinSock error" for others.
std::string socketErrorDescription(int32_t code);
