#pragma once
// One report: reads the logs (those given, or the configured ones), pairs
// their events into sessions, writes the sessions and totals in the chosen
// output and tells on `err` what could not be read.

#include <cstdio>
#include <memory>

#include "report/ConnectionNames.h"
#include "report/ReportCommandLine.h"
#include "report/ReportWriter.h"

// Exit statuses of morvane-report.
constexpr int EXIT_REPORTED = 0;
constexpr int EXIT_UNREADABLE = 1;  // a log could not be read or reported
constexpr int EXIT_USAGE = 2;

struct ReportRun {
  int status = EXIT_REPORTED;
  std::unique_ptr<ConnectionNames> names;
  ReportTotals totals;
};

ReportRun runReport(const ReportOptions& options, std::FILE* out, std::FILE* err);
