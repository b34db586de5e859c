#pragma once
// A line of a mail's text as it goes on the wire.

#include <string>

// Appends the line ended by CR LF. Line breaks inside it (CR LF, lone CR or
// lone LF) become CR LF, and a full stop after such a break is doubled, so
// no text can end the message early or smuggle commands in.
void appendWireLine(std::string& out, const std::string& line);
