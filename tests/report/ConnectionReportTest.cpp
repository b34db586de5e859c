// Reports on connection logs written with the diagnostics' own writers:
// sessions across midnight, a month's end and both changes of clock,
// unfinished and overlapping sessions, traffic lines, garbage, ranges and
// names, the outputs, logs that cannot be read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "basis/TProperties.h"
#include "debug/TChannel.h"
#include "debug/TDebugEntries.h"
#include "tests/report/ReportTestSupport.h"
#include "tests/support/TempDir.h"

TEST(ConnectionReport, SessionsAcrossMidnightMonthEndAndBothChangesOfClock) {
  ScopedEnvironment tz("TZ", "Europe/Berlin");
  TempDir dir;
  const std::string log = dir.file("net.log");
  TextLog{log}(localTime(2026, 1, 31, 23, 30), "open connection @dsl")(
      localTime(2026, 2, 1, 0, 29, 59, 500), "traffic connection @dsl: 1000 bytes received, 2000 bytes sent")(
      localTime(2026, 2, 1, 0, 30, 0, 250), "close connection @dsl")
      // 01:30 to 03:30 on the wall is one hour: the clock skips 02:00 to 03:00.
      (localTime(2026, 3, 29, 1, 30), "open connection @vpn")(localTime(2026, 3, 29, 3, 30), "close connection @vpn")
      // 02:00 to 03:00 comes twice: 02:30 (summer time) to 02:10 (winter
      // time), then 02:20 (winter time, the shorter reading) to 03:30.
      (localTime(2026, 10, 25, 2, 30), "open connection @vpn")(localTime(2026, 10, 25, 2, 10), "close connection @vpn")(
          localTime(2026, 10, 25, 2, 20), "open connection @dsl")(localTime(2026, 10, 25, 3, 30), "close connection @dsl");
  const ReportResult json = runReportWith({"--format", "json", log});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"sessions\": [\n"
            "  {\"name\": \"dsl\", \"start\": \"2026-01-31T23:30:00.000+01:00\", \"end\": "
            "\"2026-02-01T00:30:00.250+01:00\", \"seconds\": 3600.25, \"received\": 1000, \"sent\": 2000},\n"
            "  {\"name\": \"vpn\", \"start\": \"2026-03-29T01:30:00.000+01:00\", \"end\": "
            "\"2026-03-29T03:30:00.000+02:00\", \"seconds\": 3600, \"received\": null, \"sent\": null},\n"
            "  {\"name\": \"vpn\", \"start\": \"2026-10-25T02:30:00.000+02:00\", \"end\": "
            "\"2026-10-25T02:10:00.000+01:00\", \"seconds\": 2400, \"received\": null, \"sent\": null},\n"
            "  {\"name\": \"dsl\", \"start\": \"2026-10-25T02:20:00.000+01:00\", \"end\": "
            "\"2026-10-25T03:30:00.000+01:00\", \"seconds\": 4200, \"received\": null, \"sent\": null}\n"
            "],\n\"unfinished\": [],\n\"days\": [\n"
            "  {\"date\": \"2026-01-31\", \"name\": \"dsl\", \"seconds\": 1800, \"sessions\": 1},\n"
            "  {\"date\": \"2026-02-01\", \"name\": \"dsl\", \"seconds\": 1800.25, \"sessions\": 0},\n"
            "  {\"date\": \"2026-03-29\", \"name\": \"vpn\", \"seconds\": 3600, \"sessions\": 1},\n"
            "  {\"date\": \"2026-10-25\", \"name\": \"dsl\", \"seconds\": 4200, \"sessions\": 1},\n"
            "  {\"date\": \"2026-10-25\", \"name\": \"vpn\", \"seconds\": 2400, \"sessions\": 1}\n"
            "],\n\"months\": [\n"
            "  {\"month\": \"2026-01\", \"name\": \"dsl\", \"seconds\": 1800, \"sessions\": 1},\n"
            "  {\"month\": \"2026-02\", \"name\": \"dsl\", \"seconds\": 1800.25, \"sessions\": 0},\n"
            "  {\"month\": \"2026-03\", \"name\": \"vpn\", \"seconds\": 3600, \"sessions\": 1},\n"
            "  {\"month\": \"2026-10\", \"name\": \"dsl\", \"seconds\": 4200, \"sessions\": 1},\n"
            "  {\"month\": \"2026-10\", \"name\": \"vpn\", \"seconds\": 2400, \"sessions\": 1}\n"
            "],\n\"warnings\": 0}\n");
  EXPECT_EQ(json.err, "");

  // A zone whose clock skips midnight: the session still gives each day its half.
  ScopedEnvironment havana("TZ", "America/Havana");
  const std::string cuba = dir.file("cuba.log");
  TextLog{cuba}(localTime(2026, 3, 7, 23, 30), "open connection @dsl")(localTime(2026, 3, 8, 1, 30),
                                                                       "close connection @dsl");
  const ReportResult days = runReportWith({"--format", "csv", cuba});
  EXPECT_EQ(days.out, "date,name,seconds,sessions\r\n2026-03-07,dsl,1800,1\r\n2026-03-08,dsl,1800,0\r\n");
}

// Overlapping connections, a session opened twice, a close without an open
// and one never closed, from an entry file; listed in the order of their
// start, in each output.
TEST(ConnectionReport, PairingOfOverlappingUnfinishedAndOrphanedLines) {
  ScopedEnvironment tz("TZ", "Europe/Berlin");
  TempDir dir;
  const std::string file = dir.file("net.bin");
  EntryFile{file}(localTime(2026, 5, 4, 8, 0), "open connection @a")(localTime(2026, 5, 4, 8, 30),
                                                                      "open connection @b")(
      localTime(2026, 5, 4, 9, 15), "traffic connection @b: 5 bytes received, 7000000 bytes sent")(
      localTime(2026, 5, 4, 9, 30), "close connection @b")(localTime(2026, 5, 4, 10, 0), "close connection @a")(
      localTime(2026, 5, 4, 10, 30), "close connection @x")(localTime(2026, 5, 4, 11, 0), "open connection @c")(
      localTime(2026, 5, 4, 12, 0), "open connection @c")(localTime(2026, 5, 4, 12, 30), "close connection @c")(
      localTime(2026, 5, 4, 13, 0), "open connection @d")(localTime(2026, 5, 4, 13, 5), "close connection @d",
                                                            "morvane");
  const ReportResult csv = runReportWith({"--by", "session", "--format", "csv", file});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "name,start,end,seconds,received,sent\r\n"
            "a,2026-05-04T08:00:00.000+02:00,2026-05-04T10:00:00.000+02:00,7200,,\r\n"
            "b,2026-05-04T08:30:00.000+02:00,2026-05-04T09:30:00.000+02:00,3600,5,7000000\r\n"
            "c,2026-05-04T11:00:00.000+02:00,,,,\r\n"
            "c,2026-05-04T12:00:00.000+02:00,2026-05-04T12:30:00.000+02:00,1800,,\r\n"
            "d,2026-05-04T13:00:00.000+02:00,,,,\r\n");
  EXPECT_EQ(csv.err, "morvane-report: 1 close without an open skipped\n");

  const ReportResult text = runReportWith({"--by", "session", file});
  EXPECT_EQ(text.out,
            "start                end                      length   received       sent  name\n"
            "2026-05-04 08:00:00  2026-05-04 10:00:00     2:00:00          -          -  a\n"
            "2026-05-04 08:30:00  2026-05-04 09:30:00     1:00:00        5 B    7.00 MB  b\n"
            "2026-05-04 11:00:00  unfinished                    -          -          -  c\n"
            "2026-05-04 12:00:00  2026-05-04 12:30:00     0:30:00          -          -  c\n"
            "2026-05-04 13:00:00  unfinished                    -          -          -  d\n"
            "total                                        3:30:00        5 B    7.00 MB  3 sessions, 2 unfinished\n");
  const ReportResult byDay = runReportWith({file});
  EXPECT_EQ(byDay.out,
            "date            length  sessions  name\n"
            "2026-05-04     2:00:00         1  a\n"
            "2026-05-04     1:00:00         1  b\n"
            "2026-05-04     0:30:00         1  c\n"
            "total          3:30:00         3\n"
            "unfinished since 2026-05-04 11:00:00  c\n"
            "unfinished since 2026-05-04 13:00:00  d\n");
  const ReportResult json = runReportWith({"--format", "json", file});
  EXPECT_NE(json.out.find("\"unfinished\": [\n  {\"name\": \"c\", \"start\": \"2026-05-04T11:00:00.000+02:00\"},\n"
                          "  {\"name\": \"d\", \"start\": \"2026-05-04T13:00:00.000+02:00\"}\n]"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"warnings\": 1}"), std::string::npos) << json.out;
}

// Whatever else a text log holds, only whole connection lines of the
// channel count: garbage, NUL bytes, a line longer than the reader's piece,
// lines of other channels, impossible dates, counts beyond 64 bits, and a
// last line cut off in the middle are skipped. Lines end in CR LF or LF
// and show any verbose mode that has the time stamp.
TEST(ConnectionReport, GarbageAndACutLastLineAreSkipped) {
  ScopedEnvironment utc("TZ", "UTC");
  TempDir dir;
  const std::string log = dir.file("net.log");
  TextLog{log}(localTime(2026, 6, 1, 10, 0), "open connection @caf\xe9");
  const auto append = [&](const std::string& bytes) { dir.write("net.log", TempDir::read(log) + bytes); };
  const char garbage[] = "garbage\0\xff\xfe line\r\n\0\0\0\n";
  const char nulInName[] = "01.06.2026 10:06:00.000 net-log: close connection @caf\xe9\0b\r\n";
  append(std::string(garbage, sizeof garbage - 1) + std::string(3 << 20, 'x') + "\n" +
         "01.06.2026 10:05:00.000 net-log: traffic connection @caf\xe9: 10 bytes received, 20 bytes sent\n" +
         std::string(nulInName, sizeof nulInName - 1) +
         "01.06.2026 10:07:00.000 morvane: close connection @caf\xe9\r\n"
         "31.06.2026 10:08:00.000 net-log: close connection @caf\xe9\r\n"
         "01.06.2026 10:08:00.000 net-log: traffic connection @caf\xe9: 99999999999999999999 bytes received, 1 "
         "bytes sent\r\n");
  TextLog{log, 7}(localTime(2026, 6, 1, 10, 10), "close connection @caf\xe9");
  TextLog{log, 1}(localTime(2026, 6, 1, 10, 20), "open connection @b");
  append("01.06.2026 10:30:00.000 net-log: close connection @b");
  const ReportResult json = runReportWith({"--format", "json", log});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("{\"sessions\": [\n  {\"name\": \"caf\xc3\xa9\", \"start\": \"2026-06-01T10:00:00.000+00:00\", "
                          "\"end\": \"2026-06-01T10:10:00.000+00:00\", \"seconds\": 600, \"received\": 10, "
                          "\"sent\": 20}\n],\n\"unfinished\": [\n  {\"name\": \"b\", \"start\": "
                          "\"2026-06-01T10:20:00.000+00:00\"}\n]"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"warnings\": 0}"), std::string::npos) << json.out;
  EXPECT_EQ(json.err, "");
}

TEST(ConnectionReport, RangeAndNamesChooseWhatCounts) {
  ScopedEnvironment tz("TZ", "Europe/Berlin");
  TempDir dir;
  const std::string log = dir.file("net.log");
  TextLog{log}(localTime(2026, 3, 30, 23, 0), "open connection @a")(localTime(2026, 3, 31, 1, 0),
                                                                     "close connection @a")(
      localTime(2026, 3, 31, 10, 0), "open connection @b")(localTime(2026, 3, 31, 11, 0), "close connection @b")(
      localTime(2026, 4, 1, 9, 0), "open connection @a")(localTime(2026, 4, 1, 10, 0), "close connection @a")(
      localTime(2026, 4, 2, 9, 0), "open connection @a");
  EXPECT_EQ(runReportWith({"--from", "2026-03-31", "--to=2026-03-31", "--format", "csv", log}).out,
            "date,name,seconds,sessions\r\n2026-03-31,a,3600,0\r\n2026-03-31,b,3600,1\r\n");
  EXPECT_EQ(runReportWith({"--name", "a", "--by", "month", "--format", "csv", log}).out,
            "month,name,seconds,sessions\r\n2026-03,a,7200,1\r\n2026-04,a,3600,1\r\n");
  // Listed: sessions with a part in the range, unfinished ones started in it.
  const ReportResult sessions =
      runReportWith({"--from", "2026-03-31", "--to", "2026-04-01", "--name", "a", "--name", "b", "--by", "session",
                     "--format", "csv", log});
  EXPECT_EQ(sessions.out,
            "name,start,end,seconds,received,sent\r\n"
            "a,2026-03-30T23:00:00.000+02:00,2026-03-31T01:00:00.000+02:00,7200,,\r\n"
            "b,2026-03-31T10:00:00.000+02:00,2026-03-31T11:00:00.000+02:00,3600,,\r\n"
            "a,2026-04-01T09:00:00.000+02:00,2026-04-01T10:00:00.000+02:00,3600,,\r\n");
  EXPECT_EQ(runReportWith({"--name", "nobody", "--format", "csv", log}).out, "date,name,seconds,sessions\r\n");
}

// A configuration that writes the connection log twice, as text and as an
// entry file, found as the program finds its configuration: each session
// counts once.
TEST(ConnectionReport, ConfiguredLogsWrittenByTheChannelCountOnce) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("config/morvane"));
  dir.write("config/morvane/morvane.properties", "names = demo\n");
  dir.write("config/morvane/debug.properties",
            "system.debug.tracesystemout = false\nnet-log.debug.tracefile = " + dir.file("net.log") +
                "\nnet-log.debug.binary-tracefile = " + dir.file("net.bin") + "\n");
  ScopedEnvironment home("XDG_CONFIG_HOME", dir.file("config"));
  ScopedEnvironment system("XDG_CONFIG_DIRS", dir.file("nowhere"));
  {
    TChannel channel("net-log", TProperties(dir.file("config/morvane/debug.properties")));
    channel.trace("open connection @demo");
    channel.trace("traffic connection @demo: 1 bytes received, 2 bytes sent");
    channel.trace("close connection @demo");
  }
  for (const std::vector<std::string>& files :
       {std::vector<std::string>{}, std::vector<std::string>{dir.file("net.log"), dir.file("net.bin")}}) {
    const ReportResult run = runReportWith([&] {
      std::vector<std::string> arguments{"--by", "session", "--format", "csv"};
      arguments.insert(arguments.end(), files.begin(), files.end());
      return arguments;
    }());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_NE(run.out.find(",1,2\r\n"), std::string::npos) << run.out;
  }
  std::filesystem::remove(dir.file("config/morvane/debug.properties"));
  const ReportResult missing = runReportWith({});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(dir.file("config/morvane/debug.properties") + " is missing"), std::string::npos)
      << missing.err;
}

// Each log that cannot be read is named with the reason, the others are
// still reported, and the status says so.
TEST(ConnectionReport, LogsThatCannotBeReadAreNamedAndTheOthersReported) {
  ScopedEnvironment tz("TZ", "UTC");
  TempDir dir;
  const std::string good = dir.file("good.log"), unstamped = dir.file("unstamped.log");
  TextLog{good}(localTime(2026, 7, 1, 8, 0), "open connection @a")(localTime(2026, 7, 1, 9, 0),
                                                                    "close connection @a");
  TextLog{unstamped, 2}(localTime(2026, 7, 1, 8, 0), "open connection @a")(localTime(2026, 7, 1, 9, 0),
                                                                            "close connection @a");
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string corrupt =
      dir.write("corrupt.bin", std::string(TDebugEntries::HEADER) + std::string("\x40\0\0\0\x01\0\0\0", 8));
  const std::string missing = dir.file("missing.log");
  const ReportResult run =
      runReportWith({"--format", "csv", missing, dir.path(), fifo, unstamped, corrupt, good});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "date,name,seconds,sessions\r\n2026-07-01,a,3600,1\r\n") << "the readable log counts once";
  for (const std::string& expected : std::vector<std::string>{missing + ": No such file or directory\n", dir.path() + ": not a regular file\n",
        fifo + ": not a regular file\n", unstamped + ": written without time stamps",
        "set net-log.debug.verbosemode", corrupt + ": TBinaryReader.read: (IOException) "}) {
    EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << run.err;
  }
}

TEST(ConnectionReport, BadOptionsAreRefused) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--from", "2026-02-29"},
                                             {"--to", "2026-13-01"},
                                             {"--from", "2026-05-02", "--to", "2026-05-01"},
                                             {"--by", "week"},
                                             {"--format", "xml"},
                                             {"--chart", "chart.jpg"},
                                             {"--name"},
                                             {"--frobnicate"}}) {
    EXPECT_FALSE(runReportWith(arguments).err.empty()) << arguments[0];
  }
  EXPECT_EQ(runReportWith({"--from", "2028-02-29", "--to", "2028-02-29", "--", "--missing"}).err,
            "morvane-report: --missing: No such file or directory\n")
      << "a leap day is a date, and after -- every argument is a file";
}
