#pragma once
// Opens a connection log: a text log or a binary entry file, told apart by
// their content (an entry file starts with the entry list's header).

#include <memory>
#include <string>

#include "report/ConnectionEvent.h"

class ConnectionNames;

// A log that cannot be read (missing, not a regular file such as a FIFO,
// no permission, an entry file the diagnostics' reader refuses) raises an
// exception whose message says why.
std::unique_ptr<EventSource> openConnectionLog(const std::string& path, ConnectionNames& names);
