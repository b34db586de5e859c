#pragma once
// The outputs of a report: text for people, CSV and JSON for programs.
// Sessions arrive one by one in the order of their start and are written
// as they come where the output allows; the totals come at the end.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "report/OnlineTotals.h"
#include "report/Session.h"

class ConnectionNames;

enum class ReportGrouping { Session, Day, Month };
enum class ReportFormat { Text, Csv, Json };

struct ReportTotals {
  std::vector<DayTotal> days;
  std::vector<MonthTotal> months;
  int64_t warnings = 0;
};

class ReportWriter {
 public:
  virtual ~ReportWriter() = default;
  // A session of the report, finished or unfinished.
  virtual void session(const Session& session) = 0;
  virtual void finish(const ReportTotals& totals) = 0;
};

// Writes to `out`; names are shown through `names`.
std::unique_ptr<ReportWriter> makeReportWriter(ReportFormat format, ReportGrouping grouping,
                                               const ConnectionNames& names, std::FILE* out);

// The three outputs (TextReport.cpp, CsvReport.cpp, JsonReport.cpp).
std::unique_ptr<ReportWriter> makeTextReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out);
std::unique_ptr<ReportWriter> makeCsvReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out);
std::unique_ptr<ReportWriter> makeJsonReport(const ConnectionNames& names, std::FILE* out);

// Writes all of `text` to `out`.
void writeText(std::FILE* out, const std::string& text);
