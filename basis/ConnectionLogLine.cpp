#include "basis/ConnectionLogLine.h"

#include <cstring>

namespace {

constexpr std::string_view OPEN = "open connection @";
constexpr std::string_view CLOSE = "close connection @";
constexpr std::string_view TRAFFIC = "traffic connection @";
constexpr std::string_view RECEIVED = " bytes received, ";
constexpr std::string_view SENT = " bytes sent";

// Equality tests of a known length, which the compiler inlines: every line
// of a log passes here.
bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         std::memcmp(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool isName(std::string_view name) {
  bool control = false;
  for (char c : name) control |= static_cast<unsigned char>(c) < 0x20;
  return !name.empty() && !control;
}

// The decimal number that ends `text`, which is cut before it.
bool takeTrailingCount(std::string_view& text, uint64_t& value) {
  size_t first = text.size();
  while (first > 0 && text[first - 1] >= '0' && text[first - 1] <= '9') --first;
  const size_t digits = text.size() - first;
  if (digits == 0 || digits > 20) return false;
  value = 0;
  for (size_t i = first; i < text.size(); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  text.remove_suffix(digits);
  return true;
}

}  // namespace

std::string openConnectionLine(const std::string& name) { return std::string(OPEN) + name; }

std::string closeConnectionLine(const std::string& name) { return std::string(CLOSE) + name; }

std::string trafficConnectionLine(const std::string& name, uint64_t received, uint64_t sent) {
  return std::string(TRAFFIC) + name + ": " + std::to_string(received) + std::string(RECEIVED) +
         std::to_string(sent) + std::string(SENT);
}

bool parseConnectionMessage(std::string_view message, ConnectionMessage& result) {
  if (message.empty()) return false;
  std::string_view name;
  switch (message[0]) {
    case 'o':
      if (!startsWith(message, OPEN)) return false;
      result.kind = ConnectionLineKind::Open;
      name = message.substr(OPEN.size());
      break;
    case 'c':
      if (!startsWith(message, CLOSE)) return false;
      result.kind = ConnectionLineKind::Close;
      name = message.substr(CLOSE.size());
      break;
    case 't': {
      // Read from the end: the name may hold ": " itself.
      if (!startsWith(message, TRAFFIC) || !endsWith(message, SENT)) return false;
      std::string_view rest = message.substr(TRAFFIC.size(), message.size() - TRAFFIC.size() - SENT.size());
      if (!takeTrailingCount(rest, result.sent) || !endsWith(rest, RECEIVED)) return false;
      rest.remove_suffix(RECEIVED.size());
      if (!takeTrailingCount(rest, result.received) || !endsWith(rest, ": ")) return false;
      rest.remove_suffix(2);
      result.kind = ConnectionLineKind::Traffic;
      name = rest;
      break;
    }
    default:
      return false;
  }
  if (!isName(name)) return false;
  result.name = name;
  return true;
}

bool isConnectionLogChannel(std::string_view channelName) {
  if (channelName.empty()) return true;
  if (channelName.size() != CONNECTION_LOG_CHANNEL.size()) return false;
  for (size_t i = 0; i < channelName.size(); ++i) {
    char c = channelName[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != CONNECTION_LOG_CHANNEL[i]) return false;
  }
  return true;
}
