#include "report/SessionPairing.h"

#include <algorithm>

#include "report/ConnectionNames.h"

bool SessionPairing::StartsLater::operator()(const Session& a, const Session& b) const {
  if (a.start.utcMs != b.start.utcMs) return a.start.utcMs > b.start.utcMs;
  return names->less(b.name, a.name);
}

SessionPairing::SessionPairing(ZoneClock& clock, const ConnectionNames& names, Sink sink)
    : clock_(clock), sink_(std::move(sink)), held_(StartsLater{&names}) {}

void SessionPairing::add(const ConnectionEvent& event) {
  if (event.name >= byName_.size()) byName_.resize(event.name + 1);
  Open& state = byName_[event.name];
  switch (event.kind) {
    case ConnectionEvent::Kind::Open:
      opened(event, state);
      break;
    case ConnectionEvent::Kind::Traffic:
      if (state.open) {
        state.received = event.received;
        state.sent = event.sent;
      }
      break;
    case ConnectionEvent::Kind::Close:
      closed(event, state);
      break;
  }
  handOn(false);
}

void SessionPairing::settle(Open& state, const Session* session) {
  state.open = false;
  // With no session open, every entry of the heap is stale.
  if (--openCount_ == 0) openStarts_.clear();
  if (session == nullptr) return;
  // Nothing to wait for, as long as connections do not overlap.
  if (held_.empty()) {
    const std::optional<int64_t> open = earliestOpenStart();
    if (!open || *open >= session->start.utcMs) {
      sink_(*session);
      return;
    }
  }
  held_.push(*session);
}

void SessionPairing::opened(const ConnectionEvent& event, Open& state) {
  if (state.open) {
    // Opened again before a close: the first one never ended in the log.
    Session unfinished{event.name, state.start.at[0], std::nullopt, state.received, state.sent};
    settle(state, &unfinished);
  }
  state.open = true;
  clock_.readings(event.localMs, state.start);
  state.received.reset();
  state.sent.reset();
  ++openCount_;
  if (openStarts_.size() > 2 * openCount_ + 64) {
    std::erase_if(openStarts_, [&](const auto& start) { return !isOpen(start); });
    std::make_heap(openStarts_.begin(), openStarts_.end(), std::greater<>());
  }
  openStarts_.emplace_back(state.start.at[0].utcMs, event.name);
  std::push_heap(openStarts_.begin(), openStarts_.end(), std::greater<>());
}

void SessionPairing::closed(const ConnectionEvent& event, Open& state) {
  if (!state.open) {
    ++closesWithoutOpen_;
    return;
  }
  Readings end;
  clock_.readings(event.localMs, end);
  int best = -1;  // start reading * 2 + end reading
  int64_t bestLength = 0;
  for (int s = 0; s < state.start.count; ++s) {
    for (int e = 0; e < end.count; ++e) {
      const int64_t length = end.at[e].utcMs - state.start.at[s].utcMs;
      if (length >= 0 && (best < 0 || length < bestLength)) {
        best = s * 2 + e;
        bestLength = length;
      }
    }
  }
  if (best < 0 || bestLength > MAX_SESSION_DAYS * ZoneClock::DAY_MS) {
    ++impossibleSessions_;
    settle(state, nullptr);
    return;
  }
  Session session{event.name, state.start.at[best / 2], end.at[best % 2], state.received, state.sent};
  settle(state, &session);
}

bool SessionPairing::isOpen(const std::pair<int64_t, uint32_t>& start) const {
  const Open& state = byName_[start.second];
  return state.open && state.start.at[0].utcMs == start.first;
}

std::optional<int64_t> SessionPairing::earliestOpenStart() {
  while (!openStarts_.empty()) {
    if (isOpen(openStarts_.front())) return openStarts_.front().first;
    std::pop_heap(openStarts_.begin(), openStarts_.end(), std::greater<>());
    openStarts_.pop_back();
  }
  return std::nullopt;
}

void SessionPairing::handOn(bool all) {
  while (!held_.empty()) {
    const std::optional<int64_t> open = earliestOpenStart();
    const bool blocked = open && *open < held_.top().start.utcMs;
    if (blocked && !all && held_.size() <= MAX_HELD) return;
    sink_(held_.top());
    held_.pop();
  }
}

void SessionPairing::finish() {
  for (uint32_t name = 0; name < byName_.size(); ++name) {
    Open& state = byName_[name];
    if (!state.open) continue;
    Session unfinished{name, state.start.at[0], std::nullopt, state.received, state.sent};
    settle(state, &unfinished);
  }
  handOn(true);
}
