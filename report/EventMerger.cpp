#include "report/EventMerger.h"

namespace {
// Time stamps are milliseconds: more distinct events in one is a flood of
// copies, and forgetting them only lets repeats through.
constexpr size_t MAX_SEEN = 256;
}  // namespace

EventMerger::EventMerger(std::vector<Log> logs, FailureHandler onFailure)
    : logs_(std::move(logs)), heads_(logs_.size()), onFailure_(std::move(onFailure)) {
  // One log is read straight through; more are merged by their first events.
  if (logs_.size() > 1) {
    for (size_t i = 0; i < logs_.size(); ++i) advance(i);
  }
}

EventMerger::~EventMerger() = default;

void EventMerger::advance(size_t log) {
  ConnectionEvent event;
  if (logs_[log].events->next(event)) {
    heads_[log] = event;
    return;
  }
  heads_[log].reset();
  reportFailure(log);
}

void EventMerger::reportFailure(size_t log) {
  const std::string why = logs_[log].events->failure();
  if (!why.empty() && onFailure_) onFailure_(logs_[log].path, why);
}

bool EventMerger::isRepeat(const ConnectionEvent& event, size_t log) {
  if (logs_.size() < 2) return false;
  if (event.localMs != seenAt_ || seen_.size() >= MAX_SEEN) {
    seen_.clear();
    seenAt_ = event.localMs;
  }
  Seen* seen = nullptr;
  for (Seen& candidate : seen_) {
    if (candidate.event == event) seen = &candidate;
  }
  if (seen == nullptr) seen = &seen_.emplace_back(Seen{event, std::vector<uint32_t>(logs_.size()), 0});
  const uint32_t count = ++seen->countByLog[log];
  if (count <= seen->given) return true;
  seen->given = count;
  return false;
}

bool EventMerger::next(ConnectionEvent& event) {
  for (;;) {
    if (logs_.size() == 1) {
      // One log: nothing to merge and nothing repeated.
      if (singleEnded_) return false;
      if (logs_[0].events->next(event)) return true;
      singleEnded_ = true;
      reportFailure(0);
      return false;
    }
    size_t earliest = heads_.size();
    for (size_t i = 0; i < heads_.size(); ++i) {
      if (heads_[i] && (earliest == heads_.size() || heads_[i]->localMs < heads_[earliest]->localMs)) earliest = i;
    }
    if (earliest == heads_.size()) return false;
    event = *heads_[earliest];
    advance(earliest);
    if (!isRepeat(event, earliest)) return true;
  }
}

int64_t EventMerger::unusableLines() const {
  int64_t lines = 0;
  for (const Log& log : logs_) lines += log.events->unusableLines();
  return lines;
}
