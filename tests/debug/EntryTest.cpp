// Entries: text forms, binary records, clones, and the internal-error report.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "basis/DateTime.h"
#include "basis/TFile.h"
#include "debug/TDebugEntry.h"
#include "debug/TDebugObject.h"
#include "debug/TErrorEntry.h"
#include "debug/TTraceEntry.h"
#include "tests/debug/DebugTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

// 7 December 2026, 09:05:03.042.
double sampleTime() {
  datetime::Parts p;
  p.year = 2026;
  p.month = 12;
  p.day = 7;
  p.hour = 9;
  p.minute = 5;
  p.second = 3;
  p.millisecond = 42;
  return datetime::compose(p);
}

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace

TEST(DebugEntry, HeaderFollowsEveryVerboseBit) {
  const double t = sampleTime();
  const double before = t - 1.5 / 86400.0;  // 1.5 s earlier
  const char* expected[8] = {
      ": ",
      "07.12.2026 09:05:03.042 : ",
      "net-log: ",
      "07.12.2026 09:05:03.042 net-log: ",
      " (1500 ms): ",
      "07.12.2026 09:05:03.042  (1500 ms): ",
      "net-log (1500 ms): ",
      "07.12.2026 09:05:03.042 net-log (1500 ms): ",
  };
  for (int flags = 0; flags < 8; ++flags) {
    TDebugEntry plain("msg", "net-log", flags, 0, before, t);
    EXPECT_EQ(plain.toString(), expected[flags]) << "flags " << flags;
    TTraceEntry trace("msg", "net-log", flags, 0, before, t);
    EXPECT_EQ(trace.toString(), std::string(expected[flags]) + "msg") << "flags " << flags;
    // Read back, the line gives what was written.
    const std::string line = trace.toString();
    TDebugEntry::TextHeader header;
    ASSERT_TRUE(TDebugEntry::parseHeader(line, header)) << line;
    EXPECT_EQ(header.hasTime, (flags & 1) != 0) << line;
    if (header.hasTime) {
      EXPECT_EQ(datetime::compose(header.time), datetime::compose(datetime::split(t))) << line;
    }
    EXPECT_EQ(header.channelName, (flags & 2) != 0 ? "net-log" : "") << line;
    EXPECT_EQ(header.message, "msg") << line;
  }
  // Bits beyond the three known ones change nothing.
  EXPECT_EQ(TTraceEntry("m", "c", 8 | 2, 0, before, t).toString(), "c: m");
}

TEST(DebugEntry, ElapsedTime) {
  const double t = sampleTime();
  EXPECT_EQ(TDebugEntry("", "c", 4, 0, t, t).toString(), " (0 ms): ") << "equal times";
  EXPECT_EQ(TDebugEntry("", "c", 4, 0, t + 1, t).toString(), " (0 ms): ") << "previous later";
  EXPECT_EQ(TDebugEntry("", "c", 4, 0, t - 1 - 2.0 / 24, t).toString(), " (93600000 ms): ")
      << "one day and two hours";
}

TEST(DebugEntry, FormatTimePadsEveryField) {
  TDebugEntry entry;
  EXPECT_EQ(entry.formatTime(sampleTime()), "07.12.2026 09:05:03.042");
  datetime::Parts p;
  p.year = 812;
  p.month = 1;
  p.day = 2;
  EXPECT_EQ(entry.formatTime(datetime::compose(p)), "02.01.0812 00:00:00.000");
  datetime::Parts back;
  ASSERT_TRUE(TDebugEntry::parseDateTime("02.01.0812 00:00:00.000", back));
  EXPECT_EQ(datetime::compose(back), datetime::compose(p));
  ASSERT_TRUE(TDebugEntry::parseDateTime("29.02.2028 23:59:59.999", back));
  EXPECT_EQ(back.day, 29);
  for (const char* bad : {"29.02.2026 12:00:00.000", "31.04.2026 12:00:00.000", "07.13.2026 12:00:00.000",
                          "07.12.2026 24:00:00.000", "07.12.2026 09:60:03.042", "7.12.2026 09:05:03.042",
                          "07.12.2026 09:05:03.04", "07-12-2026 09:05:03.042", "07.12.2026 09:05:03.0x2"}) {
    EXPECT_FALSE(TDebugEntry::parseDateTime(bad, back)) << bad;
  }
}

TEST(DebugEntry, ConstructorsStampTheCurrentTime) {
  double before = datetime::now();
  TTraceEntry trace("m", "c", 3, 2, 0.0);
  TErrorEntry error(nullptr, "", 1, "m", "c", 3, 0.0);
  double after = datetime::now();
  EXPECT_GE(trace.time, before);
  EXPECT_LE(trace.time, after);
  EXPECT_GE(error.time, before);
  EXPECT_LE(error.time, after);
  EXPECT_EQ(trace.level, 2);
  EXPECT_EQ(trace.previousTime, 0.0);
}

TEST(ErrorEntry, LabelsForEveryLevel) {
  const double t = sampleTime();
  const std::pair<int32_t, const char*> cases[] = {
      {0, "NO ERROR: "},     {1, "FATAL ERROR: "},    {2, "ERROR: "},
      {3, "WARNING: "},      {4, "ERROR NOTICE: "},   {5, "-UNKNOWN ERROR- "},
      {-1, "-UNKNOWN ERROR- "}, {INT32_MIN, "-UNKNOWN ERROR- "},
  };
  for (auto [level, label] : cases) {
    TErrorEntry entry("", "", "sys", level, "TMainForm.init: ", "morvane", 0, t, t);
    EXPECT_EQ(entry.toString(), std::string(": ") + label + "TMainForm.init: \r\n\r\n")
        << "level " << level;
  }
}

TEST(ErrorEntry, LayoutWithExceptionStripsControlsOfTheExceptionOnly) {
  const double t = sampleTime();
  TErrorEntry entry("line1\r\nline2\tend", "IOException", "No such\tfile\n", 1,
                    "TMainForm.init:\t", "morvane", 3, 0.0, t);
  EXPECT_EQ(entry.toString(),
            "07.12.2026 09:05:03.042 morvane: FATAL ERROR: TMainForm.init:\t\r\n"
            "\r\n"
            "\texception\r\n"
            "\tclass: IOException\r\n"
            "\tmessage: line1line2end\r\n"
            "\tsystem message: No suchfile\r\n"
            "\r\n");
  // Empty exception message and system message leave their lines out.
  TErrorEntry bare("", "IOException", "", 2, "x", "c", 0, 0.0, t);
  EXPECT_EQ(bare.toString(), ": ERROR: x\r\n\r\n\texception\r\n\tclass: IOException\r\n\r\n");
  // Without an exception the system message is not shown either.
  TErrorEntry noException("", "", "Success", 3, "x", "c", 0, 0.0, t);
  EXPECT_EQ(noException.toString(), ": WARNING: x\r\n\r\n");
}

TEST(ErrorEntry, TakesClassAndMessageFromTheException) {
  IOException io("TFile.open: (IOException) gone");
  TErrorEntry fromOwn(&io, "sys", 1, "m", "c", 0, 0.0);
  EXPECT_EQ(fromOwn.exceptionClass, "IOException");
  EXPECT_EQ(fromOwn.exceptionMessage, "TFile.open: (IOException) gone");
  EXPECT_EQ(fromOwn.systemMessage, "sys");
  std::runtime_error std("plain");
  TErrorEntry fromStd(&std, "", 1, "m", "c", 0, 0.0);
  EXPECT_EQ(fromStd.exceptionClass, "std::runtime_error");
  TErrorEntry none(nullptr, "sys", 1, "m", "c", 0, 0.0);
  EXPECT_EQ(none.exceptionClass, "");
  EXPECT_EQ(none.exceptionMessage, "");
}

TEST(DebugEntry, TraceRecordIsTheDocumentedFortyTwoBytes) {
  TempDir dir;
  std::string path = dir.file("record");
  TTraceEntry entry("abc", "net-log", 3, 0, 0.0, 46000.5);
  {
    TFile file(path, true, "");
    entry.writeTo(file);
  }
  EXPECT_EQ(hex(TempDir::read(path)),
            "03 00 00 00 61 62 63 07 00 00 00 6E 65 74 2D 6C 6F 67 03 00 00 00 00 00 00 00 "
            "00 00 00 00 00 00 00 00 00 00 00 00 10 76 E6 40");
}

TEST(DebugEntry, ClonesKeepClassAndEveryFieldThroughAFile) {
  TempDir dir;
  std::string path = dir.file("entries");
  const double previous = 46000.123456789, time = 46001.987654321;
  TErrorEntry error("ex\tmsg", "IOException", "sys", -7, "prefix: ", "morvane", 5, previous,
                    time);
  TTraceEntry trace("text", "net-log", 2, 9, previous, time);
  TDebugEntry plain("p", "c", 1, 1, previous, time);
  auto errorCopy = cloneOf(error);
  auto traceCopy = cloneOf(trace);
  auto plainCopy = cloneOf(plain);
  EXPECT_EQ(errorCopy->className(), "TErrorEntry");
  EXPECT_EQ(traceCopy->className(), "TTraceEntry");
  EXPECT_EQ(plainCopy->className(), "TDebugEntry");
  {
    TFile file(path, true, "");
    file.writeTPObject(*errorCopy);
    file.writeTPObject(*traceCopy);
    file.writeTPObject(*plainCopy);
  }
  TFile file(path, false, "");
  std::unique_ptr<TPObject> readError = file.readTPObject();
  std::unique_ptr<TPObject> readTrace = file.readTPObject();
  std::unique_ptr<TPObject> readPlain = file.readTPObject();
  auto* e = as<TErrorEntry>(readError.get());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->message, "prefix: ");
  EXPECT_EQ(e->channelName, "morvane");
  EXPECT_EQ(e->flags, 5);
  EXPECT_EQ(e->level, -7);
  EXPECT_EQ(e->exceptionMessage, "ex\tmsg");
  EXPECT_EQ(e->exceptionClass, "IOException");
  EXPECT_EQ(e->systemMessage, "sys");
  EXPECT_EQ(std::memcmp(&e->time, &time, sizeof time), 0) << "time bit for bit";
  EXPECT_EQ(std::memcmp(&e->previousTime, &previous, sizeof previous), 0);
  EXPECT_EQ(readTrace->className(), "TTraceEntry");
  EXPECT_EQ(readTrace->toString(), trace.toString());
  EXPECT_EQ(readPlain->className(), "TDebugEntry");
  EXPECT_EQ(readPlain->toString(), plain.toString());
}

TEST(DebugEntry, TruncatedRecordFailsToRead) {
  TempDir dir;
  std::string path = dir.file("short");
  TTraceEntry entry("abc", "net-log", 3, 0, 0.0, 46000.5);
  {
    TFile file(path, true, "");
    file.writeTPObject(entry);
  }
  std::string bytes = TempDir::read(path);
  dir.write("short", bytes.substr(0, bytes.size() - 3));
  TFile file(path, false, "");
  EXPECT_THROW(file.readTPObject(), IOException);
}

TEST(DebugObject, InternalErrorGoesToStandardOutputThenAnErrorDialog) {
  DialogRecorder recorder;
  TDebugObject object;
  IOException failure("TFile.open: bad");
  testing::internal::CaptureStdout();
  object.internalError("TChannel.refresh", &failure);
  object.internalError("TChannel.trace", nullptr);
  object.internalError(std::string("text only"));
  object.internalError(&failure);
  std::string out = testing::internal::GetCapturedStdout();
  const std::string withException =
      "DEBUG: INTERNAL ERROR: method: <TChannel.refresh>\r\n     exClass: IOException\r\n"
      "     exMsg:   TFile.open: bad";
  EXPECT_EQ(out, withException + "\n" +
                     "DEBUG: INTERNAL ERROR: method: <TChannel.trace> unknown exception\n"
                     "DEBUG: INTERNAL ERROR: msg: text only\n"
                     "DEBUG: INTERNAL ERROR: method: <unknown>\r\n     exClass: IOException\r\n"
                     "     exMsg:   TFile.open: bad\n");
  ASSERT_EQ(recorder.dialogs.size(), 4u);
  EXPECT_EQ(recorder.dialogs[0].first, DialogKind::Error);
  EXPECT_EQ(recorder.dialogs[0].second, withException);
  EXPECT_EQ(recorder.dialogs[2].second, "DEBUG: INTERNAL ERROR: msg: text only");
}

TEST(DebugObject, InternalErrorSwallowsAFailingDialog) {
  DialogHook previous = setDialogHook([](DialogKind, const std::string&) {
    throw std::runtime_error("no display");
  });
  TDebugObject object;
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(object.internalError(std::string("x")));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "DEBUG: INTERNAL ERROR: msg: x\n");
  setDialogHook(std::move(previous));
}
