// The connection log's lines: what the program writes the report reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basis/ConnectionLogLine.h"

TEST(ConnectionLogLine, WhatIsWrittenReadsBack) {
  EXPECT_EQ(openConnectionLine("dsl"), "open connection @dsl");
  EXPECT_EQ(closeConnectionLine("dsl"), "close connection @dsl");
  EXPECT_EQ(trafficConnectionLine("dsl", 1, 2), "traffic connection @dsl: 1 bytes received, 2 bytes sent");
  // Names may hold what the lines use as separators, and 8-bit text.
  for (const std::string name : {"dsl", "a: 5 bytes received, 6 bytes sent", "@x", "caf\xe9 dial-up"}) {
    SCOPED_TRACE(name);
    ConnectionMessage message;
    const std::string open = openConnectionLine(name), close = closeConnectionLine(name);
    ASSERT_TRUE(parseConnectionMessage(open, message));
    EXPECT_EQ(message.kind, ConnectionLineKind::Open);
    EXPECT_EQ(message.name, name);
    ASSERT_TRUE(parseConnectionMessage(close, message));
    EXPECT_EQ(message.kind, ConnectionLineKind::Close);
    EXPECT_EQ(message.name, name);
    const std::string traffic = trafficConnectionLine(name, UINT64_MAX, 0);
    ASSERT_TRUE(parseConnectionMessage(traffic, message));
    EXPECT_EQ(message.kind, ConnectionLineKind::Traffic);
    EXPECT_EQ(message.name, name);
    EXPECT_EQ(message.received, UINT64_MAX);
    EXPECT_EQ(message.sent, 0u);
  }
  // Lines no writer makes: no name, a control character, a count past 64 bits.
  ConnectionMessage message;
  for (const std::string& line : std::vector<std::string>{openConnectionLine(""), closeConnectionLine("a\nb"),
                                 std::string("traffic connection @a: 18446744073709551616 bytes received, 1 bytes sent"),
                                 std::string("Open connection @a")}) {
    EXPECT_FALSE(parseConnectionMessage(line, message)) << line;
  }
  EXPECT_TRUE(isConnectionLogChannel(CONNECTION_LOG_CHANNEL));
  EXPECT_TRUE(isConnectionLogChannel("NET-LOG"));
  EXPECT_TRUE(isConnectionLogChannel("")) << "a line without a channel may be one";
  EXPECT_FALSE(isConnectionLogChannel("net-logs"));
}
