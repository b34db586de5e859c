#pragma once
// The texts Morvane traces on its "net-log" channel, read back:
//   open connection @<name>
//   traffic connection @<name>: <R> bytes received, <S> bytes sent
//   close connection @<name>

#include <cstdint>
#include <string_view>

#include "report/ConnectionEvent.h"

// The channel of the connection log.
constexpr std::string_view CONNECTION_LOG_CHANNEL = "net-log";

struct ConnectionMessage {
  ConnectionEvent::Kind kind = ConnectionEvent::Kind::Open;
  std::string_view name;  // points into the message
  uint64_t received = 0;
  uint64_t sent = 0;
};

// False for any other text, and for a name that is empty or holds control
// characters (a torn or garbled line), or counts beyond 64 bits.
bool parseConnectionMessage(std::string_view message, ConnectionMessage& result);
// Whether a channel name shown in a log line is the connection log's; an
// empty name (the line shows none) may be.
bool isConnectionLogChannel(std::string_view channelName);
