// The report for people: aligned columns with the name last (so sessions
// can be written as they come, whatever the length of the names), lengths
// as h:mm:ss, byte counts with units, and a total line.
#include <string>
#include <vector>

#include "report/ConnectionNames.h"
#include "report/ReportFormatting.h"
#include "report/ReportWriter.h"

namespace {

using namespace reportformat;

std::string left(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string right(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string plural(int64_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

class TextReport : public ReportWriter {
 public:
  TextReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out)
      : grouping_(grouping), names_(names), out_(out) {
    if (grouping_ == ReportGrouping::Session) {
      writeText(out_, sessionRow("start", "end", "length", "received", "sent", "name"));
    }
  }

  void session(const Session& session) override {
    if (!session.finished()) {
      ++unfinished_;
      // Listed with the sessions, else after the totals.
      if (grouping_ != ReportGrouping::Session) {
        unfinishedLines_ += "unfinished since " + wallClock(session.start) + "  " + names_.text(session.name) + "\n";
        return;
      }
    } else {
      ++finished_;
      totalMs_ += session.lengthMs();
      if (session.received) {
        received_ += *session.received;
        sent_ += *session.sent;
        withTraffic_ = true;
      }
    }
    if (grouping_ != ReportGrouping::Session) return;
    const auto count = [](const std::optional<uint64_t>& value) { return value ? bytes(*value) : std::string("-"); };
    writeText(out_, sessionRow(wallClock(session.start), session.end ? wallClock(*session.end) : "unfinished",
                               session.end ? clock(session.lengthMs()) : "-", count(session.received),
                               count(session.sent), names_.text(session.name)));
  }

  void finish(const ReportTotals& totals) override {
    std::string text;
    if (grouping_ == ReportGrouping::Session) {
      std::string summary = plural(finished_, "session");
      if (unfinished_ > 0) summary += ", " + std::to_string(unfinished_) + " unfinished";
      text = sessionRow("total", "", clock(totalMs_), withTraffic_ ? bytes(received_) : "-",
                        withTraffic_ ? bytes(sent_) : "-", summary);
    } else {
      const bool byDay = grouping_ == ReportGrouping::Day;
      text = totalRow(byDay ? "date" : "month", "length", "sessions", "name");
      int64_t ms = 0, sessions = 0;
      const auto add = [&](const std::string& when, const auto& total) {
        text += totalRow(when, clock(total.ms), std::to_string(total.sessions), names_.text(total.name));
        ms += total.ms;
        sessions += total.sessions;
      };
      if (byDay) {
        for (const DayTotal& day : totals.days) add(date(day.day), day);
      } else {
        for (const MonthTotal& m : totals.months) add(month(m.year, m.month), m);
      }
      text += totalRow("total", clock(ms), std::to_string(sessions), "");
      text += unfinishedLines_;
    }
    writeText(out_, text);
  }

 private:
  static std::string sessionRow(const std::string& start, const std::string& end, const std::string& length,
                                const std::string& received, const std::string& sent, const std::string& name) {
    return trimmed(left(start, 19) + "  " + left(end, 19) + "  " + right(length, 10) + "  " + right(received, 9) +
                   "  " + right(sent, 9) + "  " + name);
  }
  static std::string totalRow(const std::string& when, const std::string& length, const std::string& sessions,
                              const std::string& name) {
    return trimmed(left(when, 10) + "  " + right(length, 10) + "  " + right(sessions, 8) + "  " + name);
  }
  static std::string trimmed(std::string row) {
    while (!row.empty() && row.back() == ' ') row.pop_back();
    return row + "\n";
  }

  ReportGrouping grouping_;
  const ConnectionNames& names_;
  std::FILE* out_;
  int64_t finished_ = 0, unfinished_ = 0, totalMs_ = 0;
  uint64_t received_ = 0, sent_ = 0;
  bool withTraffic_ = false;
  std::string unfinishedLines_;
};

}  // namespace

std::unique_ptr<ReportWriter> makeTextReport(ReportGrouping grouping, const ConnectionNames& names, std::FILE* out) {
  return std::make_unique<TextReport>(grouping, names, out);
}
