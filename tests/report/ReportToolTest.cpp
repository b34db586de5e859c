// The morvane-report command: its options and the chart it draws.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <sys/stat.h>

#include "tests/report/ReportTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun runTool(const TempDir& dir, const std::string& arguments) {
  const std::string errFile = dir.file("stderr.txt");
  ToolRun run;
  run.status = childprocess::shellRun(
      "TZ=UTC timeout 120 " + std::string(MORVANE_REPORT_TOOL) + " " + arguments + " 2>" + errFile, run.out);
  run.err = TempDir::read(errFile);
  return run;
}

}  // namespace

TEST(ReportTool, HelpVersionAndBadOptions) {
  TempDir dir;
  const ToolRun help = runTool(dir, "--help");
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"Usage: morvane-report [OPTION]... [FILE]...", "--chart FILE", "net-log.debug.tracefile",
                           "\nConfiguration folder: /", "\nLooked for in this order", "\nExit status:"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part << "\n" << help.out;
  }
  const ToolRun version = runTool(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("morvane-report ") + MORVANE_VERSION + "\n");
  const ToolRun bad = runTool(dir, "--by week " + dir.file("x.log"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "morvane-report: --by takes session, day or month, not 'week'\nTry 'morvane-report --help'.\n");
}

// The chart of two days, drawn as PNG and as SVG without a display: the
// first connection's bar fills the first day, the second's half the next.
TEST(ReportTool, ChartsArePaintedOffscreen) {
  TempDir dir;
  const std::string log = dir.file("net.log");
  {
    ScopedEnvironment tz("TZ", "UTC");
    TextLog{log}(localTime(2026, 7, 1, 8, 0), "open connection @a")(localTime(2026, 7, 1, 10, 0),
                                                                     "close connection @a")(
        localTime(2026, 7, 2, 8, 0), "open connection @b")(localTime(2026, 7, 2, 9, 0), "close connection @b");
  }
  const std::string png = dir.file("chart.png"), svg = dir.file("chart.svg");
  const ToolRun drawn = runTool(dir, "--chart " + png + " " + log);
  EXPECT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(drawn.out.find("2026-07-01     2:00:00         1  a\n"), std::string::npos) << "the report as well";
  QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(1000, 400));
  EXPECT_EQ(image.pixelColor(293, 200), QColor(0x4e, 0x79, 0xa7)) << "the bar of a, two hours of two";
  EXPECT_EQ(image.pixelColor(751, 300), QColor(0xf2, 0x8e, 0x2b)) << "the bar of b, one hour";
  EXPECT_EQ(image.pixelColor(751, 120), QColor(Qt::white)) << "above the bar of b";
  EXPECT_EQ(image.pixelColor(3, 397), QColor(Qt::white));

  EXPECT_EQ(runTool(dir, "--from 2026-07-01 --chart " + svg + " " + log).status, 0);
  const std::string text = TempDir::read(svg);
  for (const char* part : {"viewBox=\"0 0 1000 400\"", "fill=\"#4e79a7\"", "fill=\"#f28e2b\"", ">2026-07-01<", ">a<",
                           ">2 h<"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
  const ToolRun unwritable = runTool(dir, "--chart " + dir.file("missing/chart.png") + " " + log);
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("morvane-report: " + dir.file("missing/chart.png") + ": "), std::string::npos)
      << unwritable.err;
  // A FIFO that nobody reads is refused at once, not waited on.
  const std::string fifo = dir.file("fifo.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  const ToolRun refused = runTool(dir, "--chart " + fifo + " " + log);
  EXPECT_EQ(refused.status, 1) << "124: it waited";
  EXPECT_EQ(refused.err, "morvane-report: " + fifo + ": File '" + fifo + "' is a FIFO, not a regular file.\n");
}
