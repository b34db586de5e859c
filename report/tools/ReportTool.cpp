// morvane-report [OPTION]... [FILE]...
//
// The online time per connection from Morvane's connection logs, per
// session, day or month, as text, CSV or JSON, and as a chart on request.
// The reading, pairing and totalling are the report library's; this is its
// command line.

#include <QGuiApplication>
#include <cstdio>
#include <optional>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/ConnectionLogLine.h"
#include "debug/DebugStartup.h"
#include "report/ConfiguredLogs.h"
#include "report/ConnectionReport.h"
#include "report/OnlineChart.h"
#include "report/ReportCommandLine.h"

namespace {

std::string helpText() {
  const std::string channel(CONNECTION_LOG_CHANNEL);
  std::string text =
      "Usage: morvane-report [OPTION]... [FILE]...\n"
      "Reports the online time per connection from Morvane's connection logs, text logs\n"
      "and binary entry files alike (told apart by their content).\n"
      "\n"
      "  --from DATE          only from the day DATE on (YYYY-MM-DD, local time)\n"
      "  --to DATE            only up to the day DATE, that day included\n"
      "  --name NAME          only the connection NAME (give it again for more)\n"
      "  --by session|day|month  list the sessions, or totals per day (the default)\n"
      "                       or per month\n"
      "  --format text|csv|json  text to read (the default), CSV or JSON\n"
      "  --chart FILE         also draw the online time per day into FILE (.png or .svg)\n"
      "  -h, --help           show this help and exit\n"
      "  --version            show the version and exit\n"
      "\n"
      "A session runs from \"" +
      openConnectionLine("NAME") + "\" to the next \"" + closeConnectionLine("NAME") +
      "\";\n"
      "one never closed is listed as unfinished and not counted. Day and month totals\n"
      "split sessions at local midnight. Where the clock was set back and an hour\n"
      "repeats, a session takes the reading that gives it the shortest length that is\n"
      "not negative.\n"
      "\n"
      "Without FILE the connection logs of Morvane's configuration are read: the files\n"
      "that debug.properties in its configuration folder names for the \"" +
      channel + "\"\nchannel (" + channel + ".debug.tracefile, " + channel +
      ".debug.binary-tracefile, or their\n"
      "system.* forms).\n";
  const ConfiguredLogs logs = configuredConnectionLogs();
  text += "Configuration folder: " + logs.folder + "\nLooked for in this order (the first holding morvane.properties is used):\n";
  for (const std::string& folder : logs.searched) text += "  " + folder + "\n";
  if (logs.problem.empty()) {
    text += "Connection logs:\n";
    for (const std::string& file : logs.files) text += "  " + file + "\n";
  } else {
    text += "Connection logs: none, " + logs.problem + "\n";
  }
  text += "\nExit status:\n"
          "  0  reported\n"
          "  1  a log could not be read or reported, or the chart not written\n"
          "  2  bad options\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  const ReportCommandLine commandLine = parseReportCommandLine(argc, argv);
  startupBasis();
  startupDebug();
  int status = EXIT_REPORTED;
  switch (commandLine.action) {
    case ReportCommandLine::Action::Help:
      std::fputs(helpText().c_str(), stdout);
      break;
    case ReportCommandLine::Action::Version:
      std::printf("morvane-report %s\n", MORVANE_VERSION);
      break;
    case ReportCommandLine::Action::UsageError:
      std::fprintf(stderr, "morvane-report: %s\nTry 'morvane-report --help'.\n", commandLine.error.c_str());
      status = EXIT_USAGE;
      break;
    case ReportCommandLine::Action::Run: {
      const ReportOptions& options = commandLine.options;
      ReportRun run = runReport(options, stdout, stderr);
      status = run.status;
      if (!options.chart.empty() && run.names != nullptr) {
        // Fonts need a GUI application; the offscreen platform needs no display.
        char platform[] = "-platform", offscreen[] = "offscreen";
        char* qtArguments[] = {argv[0], platform, offscreen, nullptr};
        int qtCount = 3;
        // Qt's notices (no XDG_RUNTIME_DIR, say) are none of the user's business.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
          if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "morvane-report: %s\n", message.toLocal8Bit().constData());
          }
        });
        QGuiApplication application(qtCount, qtArguments);
        std::string error;
        if (!writeOnlineChart(options.chart, run.totals.days, *run.names, options.range, error)) {
          std::fprintf(stderr, "morvane-report: %s: %s\n", options.chart.c_str(), error.c_str());
          status = EXIT_UNREADABLE;
        }
      }
      break;
    }
  }
  std::fflush(stdout);
  releaseDebug();
  return status;
}
