#pragma once
// The options of morvane-report.

#include <string>
#include <vector>

#include "basis/CommandLineAction.h"
#include "report/OnlineTotals.h"
#include "report/ReportWriter.h"

struct ReportOptions {
  ReportGrouping grouping = ReportGrouping::Day;
  ReportFormat format = ReportFormat::Text;
  DayRange range;  // --from, --to
  std::vector<std::string> names;  // --name, any number
  std::string chart;  // --chart FILE, .png or .svg; empty for none
  std::vector<std::string> files;  // none: the configured logs
};

struct ReportCommandLine {
  using Action = CommandLineAction;
  Action action = Action::Run;
  ReportOptions options;
  std::string error;  // what is wrong, for UsageError
};

// Options take their value as the next argument or after "=" (--by=day);
// "--" ends the options. Dates are YYYY-MM-DD and must exist.
ReportCommandLine parseReportCommandLine(int argc, char** argv);
