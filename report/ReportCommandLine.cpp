#include "report/ReportCommandLine.h"

#include <optional>
#include <string_view>

#include "report/ZoneClock.h"

namespace {

// The local day of "YYYY-MM-DD", when that date exists.
std::optional<int64_t> dayOf(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  datetime::Parts date;
  int* const fields[3] = {&date.year, &date.month, &date.day};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int f = 0; f < 3; ++f) {
    *fields[f] = 0;
    for (size_t i = starts[f]; i < starts[f] + lengths[f]; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      *fields[f] = *fields[f] * 10 + (text[i] - '0');
    }
  }
  if (date.month < 1 || date.month > 12 || date.day < 1) return std::nullopt;
  int64_t localMs;
  if (!ZoneClock::localMillis(date, localMs)) return std::nullopt;
  const int64_t day = ZoneClock::floorDiv(localMs, ZoneClock::DAY_MS);
  // A day beyond its month (02-30) moves on to the next month.
  const datetime::Parts back = ZoneClock::wallTime(day * ZoneClock::DAY_MS);
  if (back.day != date.day || back.month != date.month) return std::nullopt;
  return day;
}

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

ReportCommandLine parseReportCommandLine(int argc, char** argv) {
  ReportCommandLine result;
  ReportOptions& options = result.options;
  const auto fail = [&](const std::string& error) {
    result.action = ReportCommandLine::Action::UsageError;
    result.error = error;
    return result;
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      options.files.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      result.action = ReportCommandLine::Action::Help;
      return result;
    }
    if (argument == "--version") {
      result.action = ReportCommandLine::Action::Version;
      return result;
    }
    const size_t equals = argument.find('=');
    const std::string option = argument.substr(0, equals);
    if (option != "--from" && option != "--to" && option != "--name" && option != "--by" && option != "--format" &&
        option != "--chart") {
      return fail("unknown option '" + argument + "'");
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return fail("option '" + option + "' needs a value");
    }
    if (option == "--from" || option == "--to") {
      const std::optional<int64_t> day = dayOf(value);
      if (!day) return fail("'" + value + "' is no date of the form YYYY-MM-DD (" + option + ")");
      (option == "--from" ? options.range.first : options.range.last) = *day;
    } else if (option == "--name") {
      options.names.push_back(value);
    } else if (option == "--by") {
      if (value == "session") {
        options.grouping = ReportGrouping::Session;
      } else if (value == "day") {
        options.grouping = ReportGrouping::Day;
      } else if (value == "month") {
        options.grouping = ReportGrouping::Month;
      } else {
        return fail("--by takes session, day or month, not '" + value + "'");
      }
    } else if (option == "--format") {
      if (value == "text") {
        options.format = ReportFormat::Text;
      } else if (value == "csv") {
        options.format = ReportFormat::Csv;
      } else if (value == "json") {
        options.format = ReportFormat::Json;
      } else {
        return fail("--format takes text, csv or json, not '" + value + "'");
      }
    } else {
      if (!endsWith(value, ".png") && !endsWith(value, ".svg")) {
        return fail("--chart takes a file name ending in .png or .svg, not '" + value + "'");
      }
      options.chart = value;
    }
  }
  if (options.range.first > options.range.last) return fail("--from is after --to");
  return result;
}
