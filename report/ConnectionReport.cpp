#include "report/ConnectionReport.h"

#include <exception>
#include <string>

#include "report/ConfiguredLogs.h"
#include "report/ConnectionLog.h"
#include "report/EventMerger.h"
#include "report/OnlineTotals.h"
#include "report/SessionPairing.h"
#include "report/ZoneClock.h"

namespace {

void tell(std::FILE* err, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(err, "morvane-report: %s\n", text.c_str());
}

// Whether a session belongs to the list of a range: a finished one when a
// part of it lies within, an unfinished one when it started within.
bool inRange(const Session& session, const DayRange& range) {
  const int64_t firstDay = OnlineTotals::dayOf(session.start);
  const int64_t lastDay = session.end ? OnlineTotals::dayOf(*session.end) : firstDay;
  return firstDay <= range.last && lastDay >= range.first;
}

}  // namespace

ReportRun runReport(const ReportOptions& options, std::FILE* out, std::FILE* err) {
  ReportRun run;
  run.names = std::make_unique<ConnectionNames>(options.names);
  std::vector<std::string> files = options.files;
  if (files.empty()) {
    ConfiguredLogs configured = configuredConnectionLogs();
    if (!configured.problem.empty()) {
      tell(err, configured.problem + "; name the log files on the command line");
      run.status = EXIT_UNREADABLE;
      return run;
    }
    files = configured.files;
  }

  std::vector<EventMerger::Log> logs;
  for (const std::string& file : files) {
    try {
      logs.push_back({file, openConnectionLog(file, *run.names)});
    } catch (const std::exception& e) {
      tell(err, file + ": " + e.what());
      run.status = EXIT_UNREADABLE;
    }
  }
  EventMerger events(std::move(logs), [&](const std::string& path, const std::string& why) {
    tell(err, path + ": " + why);
    run.status = EXIT_UNREADABLE;
  });

  ZoneClock clock;
  OnlineTotals totals(clock, options.range);
  std::unique_ptr<ReportWriter> writer = makeReportWriter(options.format, options.grouping, *run.names, out);
  SessionPairing pairing(clock, *run.names, [&](const Session& session) {
    if (inRange(session, options.range)) writer->session(session);
    totals.add(session);
  });
  ConnectionEvent event;
  while (events.next(event)) pairing.add(event);
  pairing.finish();

  run.totals.days = totals.days(*run.names);
  run.totals.months = totals.months(*run.names);
  run.totals.warnings = pairing.warnings() + events.unusableLines();
  writer->finish(run.totals);
  std::fflush(out);
  const auto warn = [&](int64_t count, const char* one, const char* many) {
    if (count > 0) tell(err, std::to_string(count) + (count == 1 ? one : many));
  };
  warn(pairing.closesWithoutOpen(), " close without an open skipped", " closes without an open skipped");
  warn(pairing.impossibleSessions(), " session skipped that ends before it starts or lasts over a year",
       " sessions skipped that end before they start or last over a year");
  warn(events.unusableLines(), " connection line without a time stamp skipped",
       " connection lines without a time stamp skipped");
  return run;
}
