#pragma once
// The lines of the connection log, the channel "net-log": the program
// writes them and the report reads them back, both through this unit alone,
// so a word changed here changes both sides.
//   open connection @<name>
//   traffic connection @<name>: <R> bytes received, <S> bytes sent
//   close connection @<name>

#include <cstdint>
#include <string>
#include <string_view>

// The channel of the connection log.
constexpr std::string_view CONNECTION_LOG_CHANNEL = "net-log";

enum class ConnectionLineKind { Open, Traffic, Close };

std::string openConnectionLine(const std::string& name);
std::string closeConnectionLine(const std::string& name);
std::string trafficConnectionLine(const std::string& name, uint64_t received, uint64_t sent);

// A line of the connection log, read back.
struct ConnectionMessage {
  ConnectionLineKind kind = ConnectionLineKind::Open;
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
