// Arbitrary bytes as a connection log: read as a text log in small pieces
// (so that refills and over-long lines are taken too) and through the file
// opener (which may take it for an entry file), paired into sessions and
// totalled. No session may be negative, and the days and months must hold
// exactly the length of the sessions.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "fuzz/FuzzFiles.h"
#include "report/ConnectionLog.h"
#include "report/ConnectionNames.h"
#include "report/OnlineTotals.h"
#include "report/ReportWriter.h"
#include "report/SessionPairing.h"
#include "report/TextLogReader.h"
#include "report/ZoneClock.h"

namespace {

std::string path;

void removeFile() {
  if (!path.empty()) ::unlink(path.c_str());
}

void report(EventSource& events, ConnectionNames& names) {
  ZoneClock clock;
  OnlineTotals totals(clock, DayRange{});
  std::FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) std::abort();
  std::unique_ptr<ReportWriter> writer = makeReportWriter(ReportFormat::Json, ReportGrouping::Session, names, out);
  int64_t sessionsMs = 0;
  SessionPairing pairing(clock, names, [&](const Session& session) {
    if (session.lengthMs() < 0) std::abort();
    sessionsMs += session.lengthMs();
    totals.add(session);
    writer->session(session);
  });
  ConnectionEvent event;
  while (events.next(event)) pairing.add(event);
  pairing.finish();
  ReportTotals result{totals.days(names), totals.months(names), pairing.warnings()};
  int64_t daysMs = 0, monthsMs = 0;
  for (const DayTotal& day : result.days) daysMs += day.ms;
  for (const MonthTotal& month : result.months) monthsMs += month.ms;
  if (daysMs != sessionsMs || monthsMs != sessionsMs) std::abort();
  writer->finish(result);
  std::fclose(out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  startupBasis();
  startupDebug();
  // A zone with changes of clock, so that both kinds of day are read.
  ::setenv("TZ", "Europe/Berlin", 1);
  path = fuzzTempFile("fuzz_connectionlog");
  std::atexit(removeFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzInput(path, data, size);
  {
    ConnectionNames names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    TextLogReader reader(fd, names, 64);
    report(reader, names);
  }
  try {
    ConnectionNames names;
    std::unique_ptr<EventSource> log = openConnectionLog(path, names);
    report(*log, names);
  } catch (const std::exception&) {
  }
  return 0;
}
