// The morvane-entries command-line tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "debug/TBinaryWriter.h"
#include "debug/TErrorEntry.h"
#include "debug/TTraceEntry.h"
#include "tests/support/TempDir.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

ToolRun runTool(const TempDir& dir, const std::string& arguments) {
  std::string errFile = dir.file("stderr.txt");
  std::string command = std::string(MORVANE_ENTRIES_TOOL) + " " + arguments + " 2>" + errFile;
  ToolRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = TempDir::read(errFile);
  return run;
}

}  // namespace

TEST(EntriesTool, PrintsEveryFileOldestFirst) {
  TempDir dir;
  std::string first = dir.file("first.bin"), second = dir.file("second.bin");
  TBinaryWriter(first).write(TTraceEntry("open connection @x", "net-log", 2, 0, 0.0, 46000.5));
  TBinaryWriter(first).write(TTraceEntry("close connection @x", "net-log", 2, 0, 0.0, 46000.6));
  TBinaryWriter(second).write(TErrorEntry("gone", "IOException", "", 1, "TMainForm.init: ",
                                          "morvane", 0, 0.0, 46000.0));
  ToolRun one = runTool(dir, first);
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "net-log: open connection @x\nnet-log: close connection @x\n");
  ToolRun both = runTool(dir, first + " " + second);
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, "==> " + first + " <==\nnet-log: open connection @x\n"
                      "net-log: close connection @x\n==> " + second + " <==\n"
                      ": FATAL ERROR: TMainForm.init: \r\n\r\n\texception\r\n"
                      "\tclass: IOException\r\n\tmessage: gone\r\n\r\n\n");
  EXPECT_EQ(both.err, "");
}

TEST(EntriesTool, MissingOrCorruptFilesFailClearly) {
  TempDir dir;
  std::string good = dir.file("good.bin");
  TBinaryWriter(good).write(TTraceEntry("ok", "c", 0, 0, 0.0, 46000.0));
  std::string corrupt = dir.write("corrupt.bin", "not an entry file");
  std::string missing = dir.file("missing.bin");
  // A FIFO without a writer would block an open; an emptied file is an empty list.
  std::string fifo = dir.file("entries.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  std::string empty = dir.write("empty.bin", "");
  ToolRun run = runTool(dir, missing + " " + good + " " + corrupt + " " + fifo + " " + empty);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "==> " + good + " <==\n: ok\n==> " + empty + " <==\n") << "readable files are still printed";
  EXPECT_NE(run.err.find("morvane-entries: " + fifo + ": TBinaryReader.read: (IOException) TFile.open: "
                         "(IOException) File '" + fifo + "' is a FIFO, not a regular file.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("morvane-entries: " + missing +
                         ": TBinaryReader.read: (FileNotFoundException) File '" + missing +
                         "' not found.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("morvane-entries: " + corrupt + ": TBinaryReader.read: (IOException) "),
            std::string::npos)
      << run.err;
  ToolRun usage = runTool(dir, "");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err.rfind("usage: morvane-entries [--] FILE...", 0), 0u);
}

TEST(EntriesTool, OptionsAndFileNamesThatLookLikeOptions) {
  TempDir dir;
  ToolRun help = runTool(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: morvane-entries", 0), 0u) << help.out;
  ToolRun version = runTool(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("morvane-entries ") + MORVANE_VERSION + "\n");
  ToolRun unknown = runTool(dir, "--bogus " + dir.file("x.bin"));
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("morvane-entries: unknown option '--bogus'", 0), 0u) << unknown.err;
  // After "--" an argument that looks like an option is a file name.
  ToolRun dashed = runTool(dir, "-- --help");
  EXPECT_EQ(dashed.status, 1);
  EXPECT_NE(dashed.err.find("morvane-entries: --help: "), std::string::npos) << dashed.err;
}
