#pragma once
// Pairs the events of a connection log into sessions: an open with the next
// close of the same name, the traffic line between them giving the byte
// counts. Sessions are handed on in the order of their start (then name)
// as soon as no session still open can start earlier, so only sessions
// waiting for an earlier one to end are held.
//
// Wall times with two readings (the hour repeated when the clock is set
// back) take the pair of readings that gives the shortest length that is
// not negative; an unfinished session starts at the earlier reading.
// Warnings count the closes without an open, sessions whose close comes
// before their open on every reading (the clock was set back by hand), and
// sessions longer than MAX_SESSION_DAYS, none of which is handed on.

#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <utility>
#include <vector>

#include "report/ConnectionEvent.h"
#include "report/Session.h"
#include "report/ZoneClock.h"

class ConnectionNames;

class SessionPairing {
 public:
  using Sink = std::function<void(const Session&)>;

  // Longer than this is no session of a connection started from a desktop:
  // a log stitched from unrelated files or a damaged stamp.
  static constexpr int64_t MAX_SESSION_DAYS = 366;
  // Sessions held back at most for one that started earlier and is still
  // open; beyond that they are handed on, and the open one later out of order.
  static constexpr size_t MAX_HELD = 1 << 16;

  SessionPairing(ZoneClock& clock, const ConnectionNames& names, Sink sink);

  void add(const ConnectionEvent& event);
  // Every session still open becomes unfinished; all are handed on.
  void finish();
  int64_t closesWithoutOpen() const { return closesWithoutOpen_; }
  // Sessions skipped for ending before their start or lasting too long.
  int64_t impossibleSessions() const { return impossibleSessions_; }
  int64_t warnings() const { return closesWithoutOpen_ + impossibleSessions_; }

 private:
  struct Open {
    bool open = false;
    Readings start;
    std::optional<uint64_t> received, sent;
  };
  struct StartsLater {
    const ConnectionNames* names;
    bool operator()(const Session& a, const Session& b) const;
  };

  void opened(const ConnectionEvent& event, Open& state);
  void closed(const ConnectionEvent& event, Open& state);
  // Ends `state` as open, holding `session` when it is given.
  void settle(Open& state, const Session* session);
  void handOn(bool all);

  ZoneClock& clock_;
  Sink sink_;
  std::vector<Open> byName_;
  // The earliest start of a session still open, if there is one.
  std::optional<int64_t> earliestOpenStart();
  bool isOpen(const std::pair<int64_t, uint32_t>& start) const;

  // A heap (earliest on top) of the earliest reading of every open
  // session's start, with its name. Entries of sessions no longer open are
  // dropped when they come to the top, and all at once when they outnumber
  // the open ones, so the heap stays as small as the open sessions.
  std::vector<std::pair<int64_t, uint32_t>> openStarts_;
  size_t openCount_ = 0;
  std::priority_queue<Session, std::vector<Session>, StartsLater> held_;
  int64_t closesWithoutOpen_ = 0;
  int64_t impossibleSessions_ = 0;
};
