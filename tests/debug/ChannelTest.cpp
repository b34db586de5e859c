// Channels and the pool: configuration from "debug.properties" in the
// application folder (each test's own) or from a table handed in, levels,
// headers, writers, failures and release.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "basis/TProperties.h"
#include "debug/DebugStartup.h"
#include "debug/TBinaryReader.h"
#include "debug/TBinaryWriter.h"
#include "debug/TChannel.h"
#include "debug/TChannelPool.h"
#include "debug/TDebugEntries.h"
#include "debug/TDialogWriter.h"
#include "debug/TErrorEntry.h"
#include "debug/TListWriter.h"
#include "debug/TSystemOutWriter.h"
#include "debug/TTextWriter.h"
#include "debug/TTraceEntry.h"
#include "tests/debug/DebugTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

// Every test has an application folder of its own, at first without
// "debug.properties", and starts and ends without channels.
class Channel : public testing::Test {
 protected:
  std::string propertiesFile() const { return dir.file("debug.properties"); }
  // Quiet channels unless a test asks for standard output itself.
  static std::string quiet(const std::string& lines) { return quietDebugSettings(lines); }
  void writeProperties(const std::string& lines, bool quietly = true) {
    dir.write("debug.properties", quietly ? quiet(lines) : lines);
  }
  // A list writer for the extra-writer argument.
  static const TDebugEntries& kept(const TListWriter& writer) { return *writer.entries; }

  DialogRecorder dialogs;
  TempDir dir;
  OwnApplicationFolder folder{dir.path()};
};

}  // namespace

TEST_F(Channel, MissingPropertiesFallsBackToStandardOutputWithOneReportPerChannel) {
  testing::internal::CaptureStdout();
  TChannel* morvane = TChannelPool::getChannel("morvane");
  TChannel* netLog = TChannelPool::getChannel("net-log");
  TChannelPool::getChannel("MORVANE");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(dialogs.dialogs.size(), 2u) << "one report per channel made";
  const std::string report = "DEBUG: INTERNAL ERROR: method: <TChannel.refresh>\r\n"
                             "     exClass: InvalidPropertiesException\r\n"
                             "     exMsg:   TProperty: Textfile: " + propertiesFile() +
                             " does not exist.";
  EXPECT_EQ(dialogs.dialogs[0].first, DialogKind::Error);
  EXPECT_EQ(dialogs.dialogs[0].second, report);
  EXPECT_EQ(out, report + "\n" + report + "\n");
  for (TChannel* channel : {morvane, netLog}) {
    EXPECT_EQ(channel->errorLevel, 4);
    EXPECT_EQ(channel->traceLevel, 5);
    EXPECT_EQ(channel->verboseMode, 3);
    ASSERT_EQ(channel->traceWriters->size(), 1);
    EXPECT_EQ(channel->traceWriters->get("TSystemOutWriter")->size(), 1);
    ASSERT_EQ(channel->errorWriters->size(), 1);
    EXPECT_EQ(channel->errorWriters->get("TSystemOutWriter")->size(), 1);
    EXPECT_EQ(channel->readers->size(), 0);
  }
  testing::internal::CaptureStdout();
  netLog->trace("open connection @x");
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(23), " net-log: open connection @x\n") << out;
}

TEST_F(Channel, ChannelKeysOverrideSystemKeysOverrideDefaults) {
  TProperties settings;
  settings.loadFromText(quiet(
      "system.debug.tracelevel = 2\n"
      "net-log.debug.tracelevel = 7\n"
      "system.debug.errorlevel = 1\n"
      "net-log.debug.errorlevel = abc\n"
      "morvane.debug.verbosemode = 6\n"));
  TChannel netLog("net-log", settings);
  TChannel morvane("morvane", settings);
  EXPECT_EQ(netLog.traceLevel, 7);
  EXPECT_EQ(morvane.traceLevel, 2);
  EXPECT_EQ(netLog.errorLevel, 1) << "a value that does not convert counts as missing";
  EXPECT_EQ(netLog.verboseMode, 3) << "built-in default";
  EXPECT_EQ(morvane.verboseMode, 6);
  EXPECT_EQ(netLog.traceWriters->size(), 0);
  EXPECT_EQ(netLog.errorWriters->size(), 0);
  EXPECT_TRUE(dialogs.dialogs.empty());

  writeProperties("net-log.debug.tracelevel = 1\n");
  netLog.refresh();
  EXPECT_EQ(netLog.traceLevel, 1) << "refresh reads the file of the application folder";
  morvane.configure(TProperties());
  EXPECT_EQ(morvane.traceLevel, 5);
  EXPECT_EQ(morvane.traceWriters->size(), 1) << "standard output by default";
  EXPECT_TRUE(dialogs.dialogs.empty());
}

TEST_F(Channel, NamesIgnoreLetterCaseAndKeepTheFirstForm) {
  writeProperties("");
  TChannel* first = TChannelPool::getChannel("net-log");
  EXPECT_EQ(TChannelPool::getChannel("NET-LOG"), first);
  EXPECT_EQ(TChannelPool::getChannel("Net-Log"), first);
  EXPECT_EQ(first->name, "net-log");
  TChannel* upper = TChannelPool::getChannel("Morvane");
  EXPECT_EQ(TChannelPool::getChannel("morvane"), upper);
  EXPECT_EQ(upper->name, "Morvane");
  EXPECT_NE(upper, first);
}

TEST_F(Channel, ThresholdsFilterReportsAndTheExtraWriter) {
  writeProperties("a.debug.tracelevel = -1\nb.debug.tracelevel = 0\nsystem.debug.verbosemode = 0\n");
  TListWriter extra;
  TChannel* a = TChannelPool::getChannel("a");
  a->trace(true, "hidden", 0, &extra);
  a->trace(false, "disabled", -5, &extra);
  EXPECT_EQ(kept(extra).size(), 0);
  TChannel* b = TChannelPool::getChannel("b");
  b->trace(true, "shown", 0, &extra);
  b->trace(true, "too high", 1, &extra);
  b->error(nullptr, "TMainForm.init: ", 5, &extra);
  b->error(false, nullptr, "disabled", 1, &extra);
  b->error(nullptr, "TMainForm.init: ", 4, &extra);
  ASSERT_EQ(kept(extra).size(), 2);
  EXPECT_EQ(kept(extra).get(0)->toString(), ": shown") << "verbose mode 0: header is just ': '";
  EXPECT_EQ(kept(extra).get(1)->toString(), ": ERROR NOTICE: TMainForm.init: \r\n\r\n");
}

TEST_F(Channel, ErrorEntryCarriesTheExceptionAndTheSystemMessage) {
  writeProperties("");
  TListWriter extra;
  IOException failure("TFile.open: (IOException) gone");
  TChannel* channel = TChannelPool::getChannel("morvane");
  errno = ENOENT;
  channel->error(&failure, "TMainForm.init: ", 1, &extra);
  ASSERT_EQ(kept(extra).size(), 1);
  auto* entry = as<TErrorEntry>(kept(extra).get(0));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->exceptionClass, "IOException");
  EXPECT_EQ(entry->exceptionMessage, "TFile.open: (IOException) gone");
  EXPECT_EQ(entry->systemMessage, "No such file or directory");
  EXPECT_EQ(entry->channelName, "morvane");
  EXPECT_EQ(entry->level, 1);
  EXPECT_EQ(entry->flags, 3);
  std::string text = entry->toString();
  EXPECT_EQ(text.substr(23), " morvane: FATAL ERROR: TMainForm.init: \r\n\r\n\texception\r\n"
                             "\tclass: IOException\r\n\tmessage: TFile.open: (IOException) gone\r\n"
                             "\tsystem message: No such file or directory\r\n\r\n");
  EXPECT_EQ(TChannel::systemMessage(0), "Success");
  EXPECT_LE(TChannel::systemMessage(EINVAL).size(), 256u);
}

TEST_F(Channel, ElapsedTimeCountsFromCreationAndFromTheLastPassingEntry) {
  writeProperties("system.debug.verbosemode = 4\nsystem.debug.tracelevel = 3\n");
  TListWriter extra;
  TChannel* channel = TChannelPool::getChannel("elapsed");
  double created = channel->lastEntryTime;
  EXPECT_GT(created, 0.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  channel->trace(true, "filtered", 9, &extra);
  EXPECT_EQ(channel->lastEntryTime, created) << "a filtered entry does not move the time";
  channel->trace(true, "first", 0, &extra);
  ASSERT_EQ(kept(extra).size(), 1);
  auto* first = as<TDebugEntry>(kept(extra).get(0));
  EXPECT_EQ(first->previousTime, created);
  int32_t ms = std::stoi(first->toString().substr(2));
  EXPECT_GE(ms, 25);
  EXPECT_LT(ms, 5000);
  EXPECT_EQ(channel->lastEntryTime, first->time);

  // Without the bit the time stays 0.
  writeProperties("");
  EXPECT_EQ(TChannelPool::getChannel("plain")->lastEntryTime, 0.0);
}

TEST_F(Channel, FilesConfiguredInOrderAndReadBack) {
  const std::string errors = dir.file("errors.log"), binaryErrors = dir.file("errors.bin");
  const std::string traces = dir.file("trace.log"), binaryTraces = dir.file("trace.bin");
  writeProperties("system.debug.errorsystemout = true\n"
                  "net-log.debug.errorfile = " + errors + "\n"
                  "net-log.debug.binary-errorfile = " + binaryErrors + "\n"
                  "net-log.debug.tracefile = " + traces + "\n"
                  "net-log.debug.binary-tracefile = " + binaryTraces + "\n"
                  "other.debug.tracefile =\n", false);
  TChannel* channel = TChannelPool::getChannel("net-log");
  ASSERT_EQ(channel->errorWriters->size(), 3);
  EXPECT_EQ(channel->errorWriters->writerAt(0)->className(), "TSystemOutWriter");
  EXPECT_EQ(channel->errorWriters->writerAt(1)->className(), "TTextWriter");
  EXPECT_EQ(channel->errorWriters->writerAt(2)->className(), "TBinaryWriter");
  ASSERT_EQ(channel->traceWriters->size(), 3) << "trace standard output stays on by default";
  EXPECT_EQ(channel->traceWriters->writerAt(1)->className(), "TTextWriter");
  EXPECT_EQ(channel->traceWriters->writerAt(2)->className(), "TBinaryWriter");
  ASSERT_EQ(channel->readers->size(), 2);
  EXPECT_EQ(as<TBinaryReader>(channel->readers->get(0))->fileName, binaryErrors);
  EXPECT_EQ(as<TBinaryReader>(channel->readers->get(1))->fileName, binaryTraces);
  EXPECT_EQ(TChannelPool::getChannel("other")->traceWriters->size(), 1) << "empty name: no file";

  testing::internal::CaptureStdout();
  channel->trace("close connection @x");
  channel->error(nullptr, "TMainForm.poll: ", 2, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("net-log: close connection @x\n"), std::string::npos);
  EXPECT_NE(TempDir::read(traces).find("net-log: close connection @x\r\n"), std::string::npos);
  EXPECT_NE(TempDir::read(errors).find("net-log: ERROR: TMainForm.poll: \r\n\r\n\r\n"),
            std::string::npos);
  std::unique_ptr<TDebugEntries> stored = channel->readers->read();
  ASSERT_EQ(stored->size(), 2);
  EXPECT_EQ(stored->get(0)->className(), "TErrorEntry") << "error file first";
  EXPECT_EQ(stored->get(1)->className(), "TTraceEntry");
  EXPECT_TRUE(dialogs.dialogs.empty());
}

TEST_F(Channel, AFailingWriterStopsTheRestForThatEntryOnly) {
  const std::string traces = dir.file("trace.log"), binary = dir.file("trace.bin");
  writeProperties("system.debug.tracefile = " + traces + "\n"
                  "system.debug.binary-tracefile = " + binary + "\n");
  dir.write("trace.bin", std::string(80, 'z'));
  TListWriter extra;
  TChannel* channel = TChannelPool::getChannel("net-log");
  testing::internal::CaptureStdout();
  channel->trace(true, "one", 0, &extra);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(dialogs.dialogs.size(), 1u);
  const std::string start =
      "DEBUG: INTERNAL ERROR: method: <TChannel.trace>\r\n     exClass: IOException\r\n"
      "     exMsg:   TDebugWriters.write(TDebugEntry): (IOException) TBinaryWriter.write: "
      "(IOException) TBinaryReader.read: (IOException) ";
  EXPECT_EQ(dialogs.dialogs[0].second.rfind(start, 0), 0u) << dialogs.dialogs[0].second;
  EXPECT_EQ(out, dialogs.dialogs[0].second + "\n");
  EXPECT_EQ(kept(extra).size(), 0) << "the extra writer comes after the failing one";
  EXPECT_NE(TempDir::read(traces).find("one"), std::string::npos) << "writers before it ran";
  EXPECT_EQ(TempDir::read(binary), std::string(80, 'z'));

  ::unlink(binary.c_str());
  channel->trace(true, "two", 0, &extra);
  EXPECT_EQ(dialogs.dialogs.size(), 1u);
  EXPECT_EQ(kept(extra).size(), 1) << "the next report tries every writer again";
  EXPECT_EQ(TBinaryReader(binary).read()->size(), 1);
}

TEST_F(Channel, RefreshReadsTheFileAgain) {
  writeProperties("");
  TChannel* channel = TChannelPool::getChannel("net-log");
  EXPECT_EQ(channel->traceLevel, 5);
  writeProperties("net-log.debug.tracelevel = 9\nsystem.debug.tracefile = " + dir.file("t.log") + "\n");
  EXPECT_EQ(TChannelPool::getChannel("net-log")->traceLevel, 5) << "read once, at creation";
  channel->refresh();
  EXPECT_EQ(channel->traceLevel, 9);
  EXPECT_EQ(channel->traceWriters->size(), 1);
  channel->refresh();
  EXPECT_EQ(channel->traceWriters->size(), 1) << "refresh replaces the writers";
}

TEST_F(Channel, AssertTrueRaisesOnlyOnFalse) {
  writeProperties("");
  TChannel* channel = TChannelPool::getChannel("morvane");
  EXPECT_NO_THROW(channel->assertTrue(true, "fine"));
  try {
    channel->assertTrue(false, "TMainForm: no connection selected.");
    ADD_FAILURE() << "nothing raised";
  } catch (const AssertException& e) {
    EXPECT_EQ(std::string(e.what()), "TMainForm: no connection selected.");
    EXPECT_STREQ(e.className(), "AssertException");
  }
  EXPECT_TRUE(dialogs.dialogs.empty());
}

TEST_F(Channel, ReleaseDebugDestroysChannelsAndProcessWriters) {
  writeProperties("system.debug.tracelevel = 1\n");
  ASSERT_NE(dialogWriter(), nullptr);
  ASSERT_NE(systemOutWriter(), nullptr);
  ASSERT_NE(listWriter(), nullptr);
  TChannel* before = TChannelPool::getChannel("net-log");
  before->trace(true, "kept", 0, listWriter());
  EXPECT_EQ(listWriter()->entries->size(), 1);
  releaseDebug();
  EXPECT_EQ(dialogWriter(), nullptr);
  EXPECT_EQ(systemOutWriter(), nullptr);
  EXPECT_EQ(listWriter(), nullptr);
  writeProperties("system.debug.tracelevel = 8\n");
  TChannel* after = TChannelPool::getChannel("net-log");
  EXPECT_EQ(after->traceLevel, 8) << "a fresh pool makes and configures a fresh channel";
  releaseDebug();
  releaseDebug();  // twice is harmless
}

TEST_F(Channel, ProcessWideDialogWriterShowsErrors) {
  writeProperties("");
  TChannel* channel = TChannelPool::getChannel("morvane");
  std::runtime_error failure("disk on fire");
  channel->error(&failure, "TMainForm.sbConnectClick: ", 1, dialogWriter());
  ASSERT_EQ(dialogs.dialogs.size(), 1u);
  EXPECT_EQ(dialogs.dialogs[0].first, DialogKind::Error);
  EXPECT_NE(dialogs.dialogs[0].second.find("morvane: FATAL ERROR: TMainForm.sbConnectClick: \r\n"),
            std::string::npos);
  EXPECT_NE(dialogs.dialogs[0].second.find("\tclass: std::runtime_error\r\n\tmessage: disk on fire"),
            std::string::npos);
}
