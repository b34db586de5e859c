#pragma once
// Helpers of the report tests: connection logs written with the
// diagnostics' own writers, and reports run on them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "basis/DateTime.h"
#include "debug/DebugStartup.h"
#include "debug/TBinaryWriter.h"
#include "debug/TTextWriter.h"
#include "debug/TTraceEntry.h"
#include "report/ConnectionReport.h"

// A local date-time as the channels stamp entries.
inline double localTime(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0) {
  datetime::Parts p;
  p.year = year;
  p.month = month;
  p.day = day;
  p.hour = hour;
  p.minute = minute;
  p.second = second;
  p.millisecond = ms;
  return datetime::compose(p);
}

// Writes trace entries of "net-log" (or `channel`) to a text log or an
// entry file, as a channel with verbose mode `flags` would.
template <class Writer>
class LogWriter {
 public:
  explicit LogWriter(const std::string& path, int flags = 3) : writer_(path), flags_(flags) {}
  LogWriter& operator()(double time, const std::string& message, const std::string& channel = "net-log") {
    writer_.write(TTraceEntry(message, channel, flags_, 0, time - 1.0 / 86400, time));
    return *this;
  }

 private:
  Writer writer_;
  int flags_;
};
using TextLog = LogWriter<TTextWriter>;
using EntryFile = LogWriter<TBinaryWriter>;

struct ReportResult {
  int status = -1;
  std::string out, err;
};

// Runs a report with the command-line arguments `arguments`.
inline ReportResult runReportWith(std::vector<std::string> arguments) {
  startupDebug();
  arguments.insert(arguments.begin(), "morvane-report");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  const ReportCommandLine commandLine = parseReportCommandLine(static_cast<int>(argv.size()), argv.data());
  ReportResult result;
  if (commandLine.action != ReportCommandLine::Action::Run) {
    result.err = commandLine.error;
    return result;
  }
  char *out = nullptr, *err = nullptr;
  size_t outSize = 0, errSize = 0;
  std::FILE* outStream = open_memstream(&out, &outSize);
  std::FILE* errStream = open_memstream(&err, &errSize);
  result.status = runReport(commandLine.options, outStream, errStream).status;
  std::fclose(outStream);
  std::fclose(errStream);
  result.out.assign(out, outSize);
  result.err.assign(err, errSize);
  std::free(out);
  std::free(err);
  return result;
}

// Sets an environment variable (TZ, XDG_CONFIG_HOME, ...) for one test
// and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (had_) {
      ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};
