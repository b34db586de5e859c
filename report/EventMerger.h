#pragma once
// The events of several logs as one stream in the order of their time
// stamps; each log keeps its own order. A configuration may write the
// connection log twice, as text and as an entry file: an event that another
// log already gave, with the same time stamp, is given once.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "report/ConnectionEvent.h"

class EventMerger {
 public:
  struct Log {
    std::string path;
    std::unique_ptr<EventSource> events;
  };
  // Told once per log that ended with a failure.
  using FailureHandler = std::function<void(const std::string& path, const std::string& why)>;

  EventMerger(std::vector<Log> logs, FailureHandler onFailure);
  ~EventMerger();

  bool next(ConnectionEvent& event);
  // Connection lines of all logs that could not be used, so far.
  int64_t unusableLines() const;

 private:
  bool isRepeat(const ConnectionEvent& event, size_t log);
  void advance(size_t log);
  void reportFailure(size_t log);

  std::vector<Log> logs_;
  std::vector<std::optional<ConnectionEvent>> heads_;
  FailureHandler onFailure_;
  bool singleEnded_ = false;

  // The events given at the current time stamp and how often each log had
  // them: an event is given as often as the log that has it most often.
  struct Seen {
    ConnectionEvent event;
    std::vector<uint32_t> countByLog;
    uint32_t given = 0;
  };
  std::vector<Seen> seen_;
  int64_t seenAt_ = INT64_MIN;
};
