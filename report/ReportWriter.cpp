#include "report/ReportWriter.h"

#include <string>

std::unique_ptr<ReportWriter> makeReportWriter(ReportFormat format, ReportGrouping grouping,
                                               const ConnectionNames& names, std::FILE* out) {
  switch (format) {
    case ReportFormat::Csv:
      return makeCsvReport(grouping, names, out);
    case ReportFormat::Json:
      return makeJsonReport(names, out);
    case ReportFormat::Text:
      break;
  }
  return makeTextReport(grouping, names, out);
}

void writeText(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }
