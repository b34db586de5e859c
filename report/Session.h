#pragma once
// One connection from its open to its close, or unfinished: opened and
// never closed (the program ended while connected, or the name was opened
// again first).

#include <cstdint>
#include <optional>

#include "report/ZoneClock.h"

struct Session {
  uint32_t name = 0;  // a ConnectionNames id
  Instant start;
  std::optional<Instant> end;  // none while unfinished
  // From the session's traffic line, when it has one.
  std::optional<uint64_t> received;
  std::optional<uint64_t> sent;

  bool finished() const { return end.has_value(); }
  int64_t lengthMs() const { return end ? end->utcMs - start.utcMs : 0; }
};
