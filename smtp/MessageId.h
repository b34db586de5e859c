#pragma once
// Message-IDs: unique per message and host.

#include <string>

// A new "<time.process.count.random@host>": the UTC time, this process, a
// count within it and 64 random bits, at the local host's fully-qualified
// name where it is known, else its bare name.
std::string newMessageId();
