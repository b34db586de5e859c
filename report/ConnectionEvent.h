#pragma once
// One line of a connection log that the report uses, and a source of them.

#include <cstdint>
#include <string>

#include "basis/ConnectionLogLine.h"

struct ConnectionEvent {
  using Kind = ConnectionLineKind;
  Kind kind = Kind::Open;
  uint32_t name = 0;  // a ConnectionNames id
  int64_t localMs = 0;  // the entry's time stamp (ZoneClock::localMillis)
  // Byte counts of a traffic line.
  uint64_t received = 0;
  uint64_t sent = 0;

  bool operator==(const ConnectionEvent&) const = default;
};

// The events of one log, in the order the log holds them.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // The next event; false at the end, or when reading failed (failure()).
  virtual bool next(ConnectionEvent& event) = 0;
  // Why reading ended early, or how the log cannot be reported; empty when
  // it was read to its end.
  virtual std::string failure() const { return {}; }
  // Connection lines that could not be used (no time stamp), for the warnings.
  virtual int64_t unusableLines() const { return 0; }
};
