// The report as CSV (RFC 4180: CR LF after every row, a header row):
//   by session  name,start,end,seconds,received,sent  (end and seconds empty
//               while unfinished, the counts empty without a traffic line)
//   by day      date,name,seconds,sessions
//   by month    month,name,seconds,sessions
#include <string>

#include "report/ConnectionNames.h"
#include "report/ReportFormatting.h"
#include "report/ReportWriter.h"

namespace {

using namespace reportformat;

class CsvReport : public ReportWriter {
 public:
  CsvReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out)
      : grouping_(grouping), names_(names), out_(out) {
    writeText(out_, grouping_ == ReportGrouping::Session ? "name,start,end,seconds,received,sent\r\n"
                    : grouping_ == ReportGrouping::Day   ? "date,name,seconds,sessions\r\n"
                                                         : "month,name,seconds,sessions\r\n");
  }

  void session(const Session& session) override {
    if (grouping_ != ReportGrouping::Session) return;
    const auto count = [](const std::optional<uint64_t>& value) { return value ? std::to_string(*value) : ""; };
    writeText(out_, csvField(names_.text(session.name)) + "," + isoInstant(session.start) + "," +
                        (session.end ? isoInstant(*session.end) + "," + seconds(session.lengthMs()) : ",") + "," +
                        count(session.received) + "," + count(session.sent) + "\r\n");
  }

  void finish(const ReportTotals& totals) override {
    std::string text;
    const auto row = [&](const std::string& when, const auto& total) {
      text += when + "," + csvField(names_.text(total.name)) + "," + seconds(total.ms) + "," +
              std::to_string(total.sessions) + "\r\n";
    };
    if (grouping_ == ReportGrouping::Day) {
      for (const DayTotal& day : totals.days) row(date(day.day), day);
    } else if (grouping_ == ReportGrouping::Month) {
      for (const MonthTotal& m : totals.months) row(month(m.year, m.month), m);
    }
    writeText(out_, text);
  }

 private:
  ReportGrouping grouping_;
  const ConnectionNames& names_;
  std::FILE* out_;
};

}  // namespace

std::unique_ptr<ReportWriter> makeCsvReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out) {
  return std::make_unique<CsvReport>(grouping, names, out);
}
