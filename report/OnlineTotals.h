#pragma once
// Online time per local day and connection, and per month. A session is
// split at local midnight (23:30 to 00:30 gives each day 30 minutes); the
// sessions of a day or month are the finished sessions that started in it.
// Only days within the range count.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "report/Session.h"

class ConnectionNames;
class ZoneClock;

// Local days since 1970-01-01, both ends included.
struct DayRange {
  int64_t first = INT64_MIN;
  int64_t last = INT64_MAX;
  bool contains(int64_t day) const { return day >= first && day <= last; }
};

struct DayTotal {
  int64_t day = 0;  // local days since 1970-01-01
  uint32_t name = 0;
  int64_t ms = 0;
  int64_t sessions = 0;
};

struct MonthTotal {
  int year = 0, month = 0;
  uint32_t name = 0;
  int64_t ms = 0;
  int64_t sessions = 0;
};

class OnlineTotals {
 public:
  OnlineTotals(ZoneClock& clock, DayRange range);

  // Adds a finished session.
  void add(const Session& session);

  // In the order of days (months), then names.
  std::vector<DayTotal> days(const ConnectionNames& names) const;
  std::vector<MonthTotal> months(const ConnectionNames& names) const;

  // The local day of an instant.
  static int64_t dayOf(const Instant& instant);

 private:
  struct Total {
    int64_t ms = 0;
    int64_t sessions = 0;
  };
  Total& at(int64_t day, uint32_t name);

  ZoneClock& clock_;
  DayRange range_;
  std::unordered_map<uint64_t, Total> byDayAndName_;
  uint64_t lastKey_ = UINT64_MAX;
  Total* last_ = nullptr;
};
