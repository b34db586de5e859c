// The report as one JSON object, whatever the grouping:
//   {"sessions":   [{"name", "start", "end", "seconds", "received", "sent"}],
//    "unfinished": [{"name", "start"}],
//    "days":       [{"date", "name", "seconds", "sessions"}],
//    "months":     [{"month", "name", "seconds", "sessions"}],
//    "warnings":   <count>}
// Instants in ISO 8601 with milliseconds and offset, counts null without a
// traffic line, one element per line. Finished sessions are written as they
// come; the unfinished ones are kept for their list.
#include <string>
#include <vector>

#include "report/ConnectionNames.h"
#include "report/ReportFormatting.h"
#include "report/ReportWriter.h"

namespace {

using namespace reportformat;

class JsonReport : public ReportWriter {
 public:
  JsonReport(const ConnectionNames& names, std::FILE* out) : names_(names), out_(out) {
    writeText(out_, "{\"sessions\": [");
  }

  void session(const Session& session) override {
    if (!session.finished()) {
      unfinished_.push_back(session);
      return;
    }
    const auto count = [](const std::optional<uint64_t>& value) { return value ? std::to_string(*value) : "null"; };
    writeText(out_, separator(sessions_++) + "{\"name\": " + name(session.name) + ", \"start\": \"" +
                        isoInstant(session.start) + "\", \"end\": \"" + isoInstant(*session.end) +
                        "\", \"seconds\": " + seconds(session.lengthMs()) + ", \"received\": " +
                        count(session.received) + ", \"sent\": " + count(session.sent) + "}");
  }

  void finish(const ReportTotals& totals) override {
    std::string text = closing(sessions_) + ",\n\"unfinished\": [";
    size_t n = 0;
    for (const Session& session : unfinished_) {
      text += separator(n++) + "{\"name\": " + name(session.name) + ", \"start\": \"" + isoInstant(session.start) + "\"}";
    }
    text += closing(n) + ",\n\"days\": [";
    n = 0;
    for (const DayTotal& day : totals.days) {
      text += separator(n++) + "{\"date\": \"" + date(day.day) + "\", " + rest(day) + "}";
    }
    text += closing(n) + ",\n\"months\": [";
    n = 0;
    for (const MonthTotal& m : totals.months) {
      text += separator(n++) + "{\"month\": \"" + month(m.year, m.month) + "\", " + rest(m) + "}";
    }
    text += closing(n) + ",\n\"warnings\": " + std::to_string(totals.warnings) + "}\n";
    writeText(out_, text);
  }

 private:
  static std::string separator(size_t index) { return index == 0 ? "\n  " : ",\n  "; }
  static std::string closing(size_t count) { return count == 0 ? "]" : "\n]"; }
  std::string name(uint32_t id) const { return jsonString(names_.text(id)); }
  std::string rest(const auto& total) const {
    return "\"name\": " + name(total.name) + ", \"seconds\": " + seconds(total.ms) +
           ", \"sessions\": " + std::to_string(total.sessions);
  }

  const ConnectionNames& names_;
  std::FILE* out_;
  size_t sessions_ = 0;
  std::vector<Session> unfinished_;
};

}  // namespace

std::unique_ptr<ReportWriter> makeJsonReport(const ConnectionNames& names, std::FILE* out) {
  return std::make_unique<JsonReport>(names, out);
}
