// Writers, writer and reader lists, entry files and their readers.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "basis/TFile.h"
#include "basis/TTextFile.h"
#include "debug/TBinaryReader.h"
#include "debug/TBinaryWriter.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugReaders.h"
#include "debug/TDebugWriters.h"
#include "debug/TDialogWriter.h"
#include "debug/TErrorEntry.h"
#include "debug/TListWriter.h"
#include "debug/TSystemOutWriter.h"
#include "debug/TTextWriter.h"
#include "debug/TTraceEntry.h"
#include "tests/debug/DebugTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/TempDir.h"

namespace {

const std::string HEADER = "[Application:debug.Type:DebugEntries-Database.Version:1.0]";

// Counts the entries it is given; fails every write when told to.
class ProbeWriter : public TDebugWriter {
  MORVANE_CLASS(ProbeWriter, TDebugWriter)
  explicit ProbeWriter(int* calls, bool fail = false) : TDebugWriter(), calls_(calls), fail_(fail) {}
  void write(const TDebugEntry&) override {
    ++*calls_;
    if (fail_) throw IOException("ProbeWriter.write: refused");
  }

 private:
  int* calls_ = nullptr;
  bool fail_ = false;
};

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

// The trace entry of the documented 42-byte record.
TTraceEntry sampleTrace() { return TTraceEntry("abc", "net-log", 3, 0, 0.0, 46000.5); }

// An entry file of `count` trace entries with the messages prefix + index.
void writeTraces(const std::string& file, int count, const std::string& prefix) {
  TDebugEntries entries;
  for (int i = 0; i < count; ++i) {
    entries.add(new TTraceEntry(prefix + std::to_string(i), "c", 0, 0, 0.0, 46000.0));
  }
  entries.store(file);
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The bytes of `entries` stored anew as one whole entry file.
std::string storedBytes(TDebugEntries& entries, const TempDir& dir) {
  std::string copy = dir.file("stored.copy");
  entries.store(copy);
  std::string bytes = TempDir::read(copy);
  std::filesystem::remove(copy);
  return bytes;
}

// Runs `body` in a child process, which ends with its result as exit code.
pid_t inChild(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    int code = 100;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  return child;
}

int exitCodeOf(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

}  // namespace

TEST(BinaryWriter, FirstEntryFileIsTheDocumented127Bytes) {
  TempDir dir;
  std::string path = dir.file("trace.bin");
  TBinaryWriter writer(path);
  writer.write(sampleTrace());
  std::string record = std::string("\x03\0\0\0abc\x07\0\0\0net-log\x03\0\0\0\0\0\0\0", 26) +
                       std::string(8, '\0') + std::string("\0\0\0\0\x10\x76\xE6\x40", 8);
  std::string expected = HEADER + le32(65) + le32(1) + le32(11) + "TTraceEntry" + le32(42) + record;
  ASSERT_EQ(expected.size(), 127u);
  EXPECT_EQ(TempDir::read(path), expected);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"trace.bin"}) << "no file left beside";

  // A list of length 0 reads back with its count outside it, as empty: the
  // first write stores the same file as above.
  std::string odd = dir.write("odd.bin", HEADER + le32(0) + le32(0));
  TBinaryWriter(odd).write(sampleTrace());
  EXPECT_EQ(TempDir::read(odd), expected);
  // An emptied file (log rotation by copying and truncating) is an empty list.
  std::string emptied = dir.write("emptied.bin", "");
  EXPECT_EQ(TBinaryReader(emptied).read()->size(), 0);
  TBinaryWriter(emptied).write(sampleTrace());
  EXPECT_EQ(TempDir::read(emptied), expected);
}

TEST(BinaryWriter, LaterWritesAppendInOrderAndReadBack) {
  TempDir dir;
  std::string path = dir.file("mixed.bin");
  TBinaryWriter writer(path);
  writer.write(sampleTrace());
  writer.write(TErrorEntry("boom", "IOException", "sys", 1, "prefix: ", "morvane", 3, 0.0, 46001.0));
  writer.write(TDebugEntry("plain", "c", 0, 2, 0.0, 46002.0));
  std::unique_ptr<TDebugEntries> entries = TBinaryReader(path).read();
  ASSERT_EQ(entries->size(), 3);
  EXPECT_TRUE(entries->isOwner());
  EXPECT_EQ(entries->get(0)->className(), "TTraceEntry");
  EXPECT_EQ(entries->get(0)->toString(), sampleTrace().toString());
  auto* error = as<TErrorEntry>(entries->get(1));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->exceptionMessage, "boom");
  EXPECT_EQ(error->systemMessage, "sys");
  EXPECT_EQ(entries->get(2)->className(), "TDebugEntry");
  EXPECT_EQ(TempDir::read(path), storedBytes(*entries, dir)) << "the bytes of the whole list stored anew";
}

TEST(BinaryWriter, UnreadableOrReadOnlyFileFailsAndStaysUnchanged) {
  TempDir dir;
  std::string wrongHeader = std::string(58, 'x') + le32(4) + le32(0);
  std::string bad = dir.write("bad.bin", wrongHeader);
  TBinaryWriter badWriter(bad);
  try {
    badWriter.write(sampleTrace());
    ADD_FAILURE() << "a file with another header was written";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "TBinaryWriter.write: (IOException) TBinaryReader.read: (IOException) "
                  "TFile.open: (IOException) File '" + bad + "' does not support header",
                  0),
              0u)
        << e.what();
  }
  EXPECT_EQ(TempDir::read(bad), wrongHeader);

  // A valid file whose last record is cut short.
  std::string cut = dir.file("cut.bin");
  writeTraces(cut, 2, "t");
  std::string bytes = TempDir::read(cut);
  dir.write("cut.bin", bytes.substr(0, bytes.size() - 5));
  EXPECT_THROW(TBinaryWriter(cut).write(sampleTrace()), IOException);
  EXPECT_EQ(TempDir::read(cut), bytes.substr(0, bytes.size() - 5));

  std::string readOnly = dir.file("ro.bin");
  writeTraces(readOnly, 1, "r");
  std::string before = TempDir::read(readOnly);
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  try {
    TBinaryWriter(readOnly).write(sampleTrace());
    ADD_FAILURE() << "a read-only file was written";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TBinaryWriter.write: (IOException) TFile.open: (IOException) Try to write read "
              "only file '" + readOnly + "'.");
  }
  EXPECT_EQ(TempDir::read(readOnly), before);
  try {
    TBinaryWriter("").write(sampleTrace());
    ADD_FAILURE() << "a file without a name was written";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TBinaryWriter.write: (IOException) TFile.open: (IOException) "
                                     "Missing filename, can't write to stdout.");
  }
  struct stat st {};
  ASSERT_EQ(::stat(readOnly.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(BinaryWriter, KeepsOwnerModeAndLinks) {
  TempDir dir;
  std::string real = dir.file("real.bin");
  writeTraces(real, 1, "a");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(real.c_str(), 4321, 4322), 0);
  }
  std::string link = dir.file("link.bin");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  std::string hard = dir.file("hard.bin");
  ASSERT_EQ(::link(real.c_str(), hard.c_str()), 0);
  struct stat before {};
  ASSERT_EQ(::stat(real.c_str(), &before), 0);

  TBinaryWriter(link).write(sampleTrace());
  TBinaryWriter(hard).write(sampleTrace());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(TBinaryReader(real).read()->size(), 3);
  struct stat after {};
  ASSERT_EQ(::stat(hard.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "still one file under both names";
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(after.st_mode & 0777, 0640u);
  if (root) {
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4322u);
  }

  // A link whose target is missing makes the target and stays a link.
  std::string dangling = dir.file("dangling.bin");
  ASSERT_EQ(::symlink("made.bin", dangling.c_str()), 0);
  TBinaryWriter(dangling).write(sampleTrace());
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(TBinaryReader(dir.file("made.bin")).read()->size(), 1);
  EXPECT_EQ(namesIn(dir.path()),
            (std::vector<std::string>{"dangling.bin", "hard.bin", "link.bin", "made.bin", "real.bin"}));
}

// What a crash leaves: bytes of an entry after the list (the list's length
// and count were not updated yet) and the temporary of a new file.
TEST(BinaryWriter, LeftoversOfACrashAreIgnoredThenRemoved) {
  TempDir dir;
  std::string path = dir.file("cut.bin");
  writeTraces(path, 2, "t");
  std::string list = TempDir::read(path);
  // Longer than the entry written next, so only cutting it off makes the file right.
  dir.write("cut.bin", list + std::string("\x0B\0\0\0TTraceEntry\x2C\x01\0\0", 19) + std::string(200, 'x'));
  EXPECT_EQ(TBinaryReader(path).read()->size(), 2) << "the old list is read";

  pid_t gone = inChild([] { return 0; });
  ASSERT_EQ(exitCodeOf(gone), 0);
  std::string stale = dir.write("cut.bin.tmp-" + std::to_string(gone) + "-0", list);
  std::string busy = dir.write("cut.bin.tmp-" + std::to_string(::getppid()) + "-0", list);
  std::string other = dir.write("cut.bin.tmp-notes", "x");
  TBinaryWriter(path).write(sampleTrace());
  std::unique_ptr<TDebugEntries> entries = TBinaryReader(path).read();
  ASSERT_EQ(entries->size(), 3);
  EXPECT_EQ(TempDir::read(path), storedBytes(*entries, dir)) << "the cut entry is gone";
  EXPECT_FALSE(std::filesystem::exists(stale)) << "its writer is gone";
  EXPECT_TRUE(std::filesystem::exists(busy)) << "its writer may still be at work";
  EXPECT_TRUE(std::filesystem::exists(other));

  // A new file is made beside and moved into place: its stale temporaries go too.
  std::string fresh = dir.file("fresh.bin");
  std::string staleFresh = dir.write("fresh.bin.tmp-" + std::to_string(gone) + "-7", "x");
  TBinaryWriter(fresh).write(sampleTrace());
  EXPECT_FALSE(std::filesystem::exists(staleFresh));
}

TEST(BinaryWriter, KilledInTheMiddleOfAWriteLeavesAReadableFile) {
  TempDir dir;
  std::string path = dir.file("killed.bin");
  // 300 entries before the kills, so each round can check that none was lost.
  writeTraces(path, 300, std::string(200, 'p'));
  for (int round = 0; round < 6; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TBinaryWriter writer(path);
      for (;;) writer.write(TTraceEntry(std::string(200, 'c'), "child", 3, 0, 0.0));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + 17 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::unique_ptr<TDebugEntries> entries;
    ASSERT_NO_THROW(entries = TBinaryReader(path).read()) << "round " << round;
    EXPECT_GE(entries->size(), 300) << "round " << round;
  }
  TBinaryWriter(path).write(sampleTrace());
  std::unique_ptr<TDebugEntries> entries = TBinaryReader(path).read();
  EXPECT_EQ(TempDir::read(path), storedBytes(*entries, dir));
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"killed.bin"});
}

// Four processes write 150 entries each to one entry file and one text
// file, all at once: every entry reported written is there, in each
// writer's order.
TEST(FileWriters, WritersInSeveralProcessesLoseNothing) {
  TempDir dir;
  std::string binary = dir.file("shared.bin"), text = dir.file("shared.log");
  const int writers = 4, each = 150;
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) {
    children.push_back(inChild([&, w] {
      TBinaryWriter binaryWriter(binary);
      TTextWriter textWriter(text);
      binaryWriter.lockWaitMilliseconds = textWriter.lockWaitMilliseconds = 60000;
      int failed = 0;
      for (int i = 0; i < each; ++i) {
        TTraceEntry entry(std::to_string(w) + " " + std::to_string(i), "c", 0, 0, 0.0, 46000.0);
        try {
          binaryWriter.write(entry);
          textWriter.write(entry);
        } catch (const IOException&) {
          ++failed;
        }
      }
      return failed;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(exitCodeOf(child), 0) << "writes that failed";
  std::unique_ptr<TDebugEntries> entries = TBinaryReader(binary).read();
  ASSERT_EQ(entries->size(), writers * each);
  std::vector<int> next(writers, 0);
  for (int32_t i = 0; i < entries->size(); ++i) {
    const std::string& message = as<TDebugEntry>(entries->get(i))->message;
    int w = message[0] - '0';
    EXPECT_EQ(message, std::to_string(w) + " " + std::to_string(next[static_cast<size_t>(w)]++));
  }
  std::istringstream lines(TempDir::read(text));
  std::fill(next.begin(), next.end(), 0);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_GT(line.size(), 2u) << "line " << count;
    int w = line[2] - '0';
    ASSERT_TRUE(w >= 0 && w < writers) << line;
    EXPECT_EQ(line, ": " + std::to_string(w) + " " + std::to_string(next[static_cast<size_t>(w)]++) + "\r");
  }
  EXPECT_EQ(count, writers * each);
}

// While another process holds the files' locks, writes return at once and
// keep their entries; once the lock is free, the event loop writes them in
// order. A reader takes no lock, so it is not held up either. What is still
// kept when a writer goes is reported once, naming the holder.
TEST(FileWriters, ALockHeldElsewhereKeepsEntriesUntilItIsFree) {
  TempDir dir;
  std::string binary = dir.file("held.bin"), text = dir.write("held.log", "x\r\n");
  writeTraces(binary, 1, "h");
  const std::string before = TempDir::read(binary);
  childprocess::StoppedLockHolder holder({binary, text});
  ASSERT_TRUE(holder.stopped());
  TBinaryWriter binaryWriter(binary);
  TTextWriter textWriter(text);
  for (int i = 0; i < 3; ++i) {
    TTraceEntry entry("k" + std::to_string(i), "c", 0, 0, 0.0, 46000.0);
    EXPECT_NO_THROW(binaryWriter.write(entry));
    EXPECT_NO_THROW(textWriter.write(entry));
  }
  EXPECT_EQ(binaryWriter.pendingCount(), 3u);
  EXPECT_EQ(textWriter.pendingCount(), 3u);
  EXPECT_EQ(TempDir::read(binary), before);
  EXPECT_EQ(TempDir::read(text), "x\r\n");
  EXPECT_EQ(TBinaryReader(binary).read()->size(), 1) << "read under another's exclusive lock";
  EXPECT_EQ(fileutil::lockedMessage(text), "File '" + text + "' is locked by another process (PID " +
                                               std::to_string(holder.pid()) + ").");

  holder.release();
  ASSERT_TRUE(runEventLoopUntil([&] { return binaryWriter.pendingCount() + textWriter.pendingCount() == 0; }));
  std::unique_ptr<TDebugEntries> entries = TBinaryReader(binary).read();
  ASSERT_EQ(entries->size(), 4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(as<TDebugEntry>(entries->get(i + 1))->message, "k" + std::to_string(i));
  EXPECT_EQ(TempDir::read(text), "x\r\n: k0\r\n: k1\r\n: k2\r\n");

  // Beyond the limit the oldest entries go, reported once when it begins
  // and once when the rest is written; a writer that goes while the lock is
  // still held reports what it kept, once.
  DialogRecorder recorder;
  testing::internal::CaptureStdout();
  childprocess::StoppedLockHolder again({text});
  ASSERT_TRUE(again.stopped());
  const size_t limit = TFileWriter::MAX_PENDING;
  for (size_t i = 0; i < limit + 2; ++i) textWriter.write(TTraceEntry("d" + std::to_string(i), "c", 0, 0, 0.0, 46000.0));
  EXPECT_EQ(textWriter.pendingCount(), limit);
  ASSERT_EQ(recorder.dialogs.size(), 1u);
  const std::string locked = "File '" + text + "' is locked by another process (PID " + std::to_string(again.pid()) + ").";
  EXPECT_EQ(recorder.dialogs[0].second, "DEBUG: INTERNAL ERROR: msg: TTextWriter.write: " + locked + " " +
                                            std::to_string(limit) + " entries wait for it; older ones are dropped.");
  again.release();
  ASSERT_TRUE(runEventLoopUntil([&] { return textWriter.pendingCount() == 0; }, 60000));
  ASSERT_EQ(recorder.dialogs.size(), 2u);
  EXPECT_EQ(recorder.dialogs[1].second, "DEBUG: INTERNAL ERROR: msg: TTextWriter.write: 2 entries for '" + text +
                                            "' were dropped while another process held it.");
  const std::string written = TempDir::read(text);
  EXPECT_EQ(written.find(": d1\r\n"), std::string::npos);
  EXPECT_NE(written.find(": d2\r\n: d3\r\n"), std::string::npos);
  const std::string newest = ": d" + std::to_string(limit + 1) + "\r\n";
  EXPECT_EQ(written.substr(written.size() - newest.size()), newest);

  childprocess::StoppedLockHolder atTheEnd({binary});
  ASSERT_TRUE(atTheEnd.stopped());
  TFileWriter::setFinalWait(100);
  {
    TBinaryWriter last(binary);
    last.write(sampleTrace());
    last.write(sampleTrace());
  }
  TFileWriter::setFinalWait(TFileWriter::FINAL_WAIT_MILLISECONDS);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(recorder.dialogs.size(), 3u);
  EXPECT_EQ(recorder.dialogs[2].second, "DEBUG: INTERNAL ERROR: msg: TBinaryWriter.write: File '" + binary +
                                            "' is locked by another process (PID " +
                                            std::to_string(atTheEnd.pid()) + "). 2 entries could not be written.");
}

// Writers that start at once, each with its first write, on a file of a
// million entries: a first write reads only the file's frame, and a writer
// that finds the lock taken keeps its entry until it can write it, so every
// entry is stored.
TEST(FileWriters, WritersStartingTogetherOnAMillionEntriesStoreEveryEntry) {
  TempDir dir;
  const std::string path = dir.file("million.bin");
  const int32_t existing = 1000000;
  TTraceEntry old("old", "c", 0, 0, 0.0, 46000.0);
  const std::string record = TFile::bytesOf(old);
  {
    std::string list;
    list.reserve(record.size() * existing);
    for (int32_t i = 0; i < existing; ++i) list += record;
    dir.write("million.bin", HEADER + le32(static_cast<uint32_t>(list.size() + 4)) + le32(existing) + list);
  }
  int64_t end = static_cast<int64_t>(std::filesystem::file_size(path));
  int32_t expected = existing;
  for (int writers : {8, 32}) {
    SCOPED_TRACE(writers);
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      children.push_back(inChild([&, w] {
        ::close(start[1]);
        char go;
        if (::read(start[0], &go, 1) != 0) return 1;
        TFileWriter::setFinalWait(60000);
        TBinaryWriter(path).write(TTraceEntry("w" + std::to_string(w), "c", 0, 0, 0.0, 46000.0));
        return 0;
      }));
    }
    ::close(start[0]);
    ::close(start[1]);  // all start now
    for (pid_t child : children) EXPECT_EQ(exitCodeOf(child), 0);
    expected += writers;
    // Only the added entries are read back: the frame, then the tail.
    TFile file(path, false, HEADER);
    file.readInteger();
    EXPECT_EQ(file.readInteger(), expected);
    file.seek(end);
    std::vector<std::string> messages;
    for (int w = 0; w < writers; ++w) messages.push_back(as<TDebugEntry>(file.readTPObject().get())->message);
    EXPECT_EQ(file.getPosition(), file.getSize());
    std::sort(messages.begin(), messages.end());
    std::vector<std::string> written;
    for (int w = 0; w < writers; ++w) written.push_back("w" + std::to_string(w));
    std::sort(written.begin(), written.end());
    EXPECT_EQ(messages, written);
    end = file.getSize();
  }
}

// Files that would block an open, or that are no files at all: each is
// refused at once with its name, and the writer, the reader and the text
// file carry on. (The alarm ends the test, should an open wait after all.)
TEST(FileWriters, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  TempDir dir;
  ::alarm(60);
  const std::string fifo = dir.file("log.fifo"), readOnlyFifo = dir.file("ro.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::mkfifo(readOnlyFifo.c_str(), 0444), 0);
  const std::string socketPath = dir.file("log.socket");
  int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto refusal = [](const std::string& path, const char* kind) {
    return "File '" + path + "' is " + kind + ", not a regular file.";
  };
  auto failure = [](const std::function<void()>& body) {
    try {
      body();
    } catch (const IOException& e) {
      return std::string(e.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(failure([&] { TTextWriter(fifo).write(sampleTrace()); }),
            "TTextWriter.write: (IOException) TTextFile.open: " + refusal(fifo, "a FIFO"));
  EXPECT_EQ(failure([&] { TTextWriter(socketPath).write(sampleTrace()); }),
            "TTextWriter.write: (IOException) TTextFile.open: " + refusal(socketPath, "a socket"));
  EXPECT_EQ(failure([&] { TBinaryWriter(fifo).write(sampleTrace()); }),
            "TBinaryWriter.write: (IOException) TFile.open: (IOException) " + refusal(fifo, "a FIFO"));
  EXPECT_EQ(failure([&] { TBinaryWriter(readOnlyFifo).write(sampleTrace()); }),
            "TBinaryWriter.write: (IOException) TFile.open: (IOException) " + refusal(readOnlyFifo, "a FIFO"));
  EXPECT_EQ(failure([&] { TBinaryReader(fifo).read(); }),
            "TBinaryReader.read: (IOException) TFile.open: (IOException) " + refusal(fifo, "a FIFO"));
  EXPECT_EQ(failure([&] { TBinaryWriter("/dev/null").write(sampleTrace()); }),
            "TBinaryWriter.write: (IOException) TFile.open: (IOException) " +
                refusal("/dev/null", "a character device"));
  EXPECT_EQ(failure([&] { TTextFile(fifo, TTextFile::MODE_READ); }), "TTextFile.open: " + refusal(fifo, "a FIFO"));
  // A character device is written without blocking.
  EXPECT_NO_THROW(TTextWriter("/dev/null").write(sampleTrace()));
  // A FIFO with a reader is still no log: the reader gets nothing.
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(failure([&] { TTextWriter(fifo).write(sampleTrace()); }),
            "TTextWriter.write: (IOException) TTextFile.open: " + refusal(fifo, "a FIFO"));
  char byte;
  EXPECT_EQ(::read(reader, &byte, 1), 0);
  ::close(reader);
  ::close(socket);
  ::alarm(0);
}

// The files may grow by a few bytes only (a full disk): each write fails
// part-way and the files stay as they were.
TEST(FileWriters, AWriteCutShortLeavesTheFileAsItWas) {
  TempDir dir;
  std::string binary = dir.file("full.bin"), text = dir.write("full.log", "kept\r\n");
  writeTraces(binary, 1, "f");
  const std::string binaryBefore = TempDir::read(binary);
  const TTraceEntry big(std::string(4000, 'b'), "c", 0, 0, 0.0, 46000.0);
  pid_t child = inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = binaryBefore.size() + 10;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
    int result = 0;
    try {
      TTextWriter(text).write(big);
      result |= 2;
    } catch (const IOException& e) {
      if (std::string(e.what()) != "TTextWriter.write: (IOException) TTextFile.writeln: File too large") result |= 4;
    }
    try {
      TBinaryWriter(binary).write(big);
      result |= 8;
    } catch (const IOException& e) {
      if (std::string(e.what()) != "TBinaryWriter.write: (IOException) File too large") result |= 16;
    }
    return result;
  });
  EXPECT_EQ(exitCodeOf(child), 0) << "bits: 2/8 written anyway, 4/16 another failure text";
  EXPECT_EQ(TempDir::read(text), "kept\r\n");
  EXPECT_EQ(TempDir::read(binary), binaryBefore);
}

// The kernel's protected_symlinks rule, for every folder others may write:
// a link there is followed only when it belongs to this user or to the
// folder's owner. The other user is the one setup makes for the tests.
TEST(FileWriters, LinksOfOtherUsersInSharedFoldersAreNotFollowed) {
  const passwd* other = ::getpwnam("morvane-compositor");
  if (::geteuid() != 0 || other == nullptr) GTEST_SKIP() << "needs root and the test user morvane-compositor";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string target = dir.write("target.log", "kept\r\n");
  const uid_t uid = other->pw_uid;
  const gid_t gid = other->pw_gid;
  // Makes `link` to `target` as the other user, or as this one.
  auto plant = [&](const std::string& link, bool asOther) {
    pid_t child = inChild([&] {
      if (asOther && (::setgid(gid) != 0 || ::setuid(uid) != 0)) return 1;
      return ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : 2;
    });
    return exitCodeOf(child) == 0;
  };
  auto folder = [&](const std::string& name, mode_t mode, uid_t owner, gid_t group) {
    const std::string path = dir.file(name);
    std::filesystem::create_directory(path);
    (void)!::chown(path.c_str(), owner, group);
    ::chmod(path.c_str(), mode);
    return path;
  };
  // Sticky and world-writable; writable by a group the other user is in; and the other user's own.
  const std::string sticky = folder("sticky", 01777, 0, 0), shared = folder("shared", 0775, 0, gid);
  const std::string theirs = folder("theirs", 01777, uid, gid);
  for (const std::string& at : {sticky, shared}) {
    SCOPED_TRACE(at);
    const std::string planted = at + "/planted.log";
    ASSERT_TRUE(plant(planted, true));
    const std::string refusal = "File '" + planted + "' leads through the symbolic link '" + planted +
                                "' of another user (uid " + std::to_string(uid) + ") in the folder '" + at +
                                "', which others may write; it is not followed.";
    try {
      TTextWriter(planted).write(sampleTrace());
      ADD_FAILURE() << "followed";
    } catch (const IOException& e) {
      EXPECT_EQ(std::string(e.what()), "TTextWriter.write: (IOException) TTextFile.open: " + refusal);
    }
    try {
      TBinaryWriter(planted).write(sampleTrace());
      ADD_FAILURE() << "followed";
    } catch (const IOException& e) {
      EXPECT_EQ(std::string(e.what()), "TBinaryWriter.write: (IOException) TFile.open: (IOException) " + refusal);
    }
    // The link to it leads through the planted one.
    const std::string chained = dir.file("chained.log");
    std::filesystem::remove(chained);
    std::filesystem::create_symlink(planted, chained);
    EXPECT_THROW(TTextWriter(chained).write(sampleTrace()), IOException);
  }
  EXPECT_EQ(TempDir::read(target), "kept\r\n");
  // This user's own link, and the folder owner's, are followed.
  ASSERT_TRUE(plant(sticky + "/own.log", false));
  ASSERT_TRUE(plant(theirs + "/owner.log", true));
  TTextWriter(sticky + "/own.log").write(TTraceEntry("own", "c", 0, 0, 0.0, 46000.0));
  TTextWriter(theirs + "/owner.log").write(TTraceEntry("owner", "c", 0, 0, 0.0, 46000.0));
  EXPECT_EQ(TempDir::read(target), "kept\r\n: own\r\n: owner\r\n");
}

// Writers make the folders of their files; a path that cannot be a
// folder fails, naming the file.
TEST(FileWriters, MakeTheFoldersOfTheirFiles) {
  TempDir dir;
  TTextWriter(dir.file("a/b/new.log")).write(sampleTrace());
  TBinaryWriter(dir.file("c/d/new.bin")).write(sampleTrace());
  EXPECT_EQ(TempDir::read(dir.file("a/b/new.log")), sampleTrace().toString() + "\r\n");
  EXPECT_EQ(TBinaryReader(dir.file("c/d/new.bin")).read()->size(), 1);
  const std::string blocked = dir.write("plain", "") + "/sub/new.log";
  try {
    TTextWriter(blocked).write(sampleTrace());
    ADD_FAILURE() << "written below a file";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TTextWriter.write: (IOException) TTextFile.open: Cannot open '" + blocked + "': Not a directory");
  }
  try {
    TBinaryWriter(blocked).write(sampleTrace());
    ADD_FAILURE() << "written below a file";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TBinaryWriter.write: (IOException) TFile.open: (IOException) Cannot open '" +
                                         blocked + "': Not a directory");
  }
}

TEST(BinaryReader, MissingFileAndReadersOverTwoFiles) {
  TempDir dir;
  try {
    TBinaryReader(dir.file("none.bin")).read();
    ADD_FAILURE() << "a missing file was read";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TBinaryReader.read: (FileNotFoundException) File '" +
                                         dir.file("none.bin") + "' not found.");
  }
  writeTraces(dir.file("a.bin"), 2, "a");
  writeTraces(dir.file("b.bin"), 3, "b");
  TDebugReaders readers;
  EXPECT_EQ(readers.add(std::make_unique<TBinaryReader>(dir.file("a.bin"))), 0);
  EXPECT_EQ(readers.add(std::make_unique<TBinaryReader>(dir.file("b.bin"))), 1);
  std::unique_ptr<TDebugEntries> all = readers.read();
  ASSERT_EQ(all->size(), 5);
  const char* order[] = {"a0", "a1", "b0", "b1", "b2"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(as<TDebugEntry>(all->get(i))->message, order[i]);
  EXPECT_TRUE(all->isOwner()) << "the combined list frees its entries (ASan checks once)";
  EXPECT_EQ(as<TBinaryReader>(readers.get(1))->fileName, dir.file("b.bin"));
}

TEST(DebugReaders, FailuresAreReportedNotRaised) {
  TempDir dir;
  DialogRecorder recorder;
  writeTraces(dir.file("a.bin"), 2, "a");
  TDebugReaders readers;
  readers.add(std::make_unique<TBinaryReader>(dir.file("a.bin")));
  readers.add(std::make_unique<TBinaryReader>(dir.file("missing.bin")));
  readers.add(std::make_unique<TBinaryReader>(dir.file("a.bin")));
  testing::internal::CaptureStdout();
  std::unique_ptr<TDebugEntries> gathered = readers.read();
  EXPECT_EQ(readers.get(3), nullptr);
  EXPECT_EQ(readers.add(nullptr), 0);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(gathered, nullptr);
  EXPECT_EQ(gathered->size(), 2) << "the entries before the failing reader";
  ASSERT_EQ(recorder.dialogs.size(), 3u);
  EXPECT_EQ(recorder.dialogs[0].second.rfind(
                "DEBUG: INTERNAL ERROR: method: <TDebugReaders.read>\r\n     exClass: "
                "IOException\r\n     exMsg:   TBinaryReader.read: (FileNotFoundException)",
                0),
            0u);
  EXPECT_EQ(recorder.dialogs[1].second.rfind("DEBUG: INTERNAL ERROR: method: <TDebugReaders.get>", 0), 0u);
  EXPECT_EQ(recorder.dialogs[2].second,
            "DEBUG: INTERNAL ERROR: method: <TDebugReaders.add>\r\n     exClass: "
            "IllegalArgumentException\r\n     exMsg:   TArrayList.add: Object is nil.");
  EXPECT_NE(out.find("<TDebugReaders.read>"), std::string::npos);
}

TEST(DebugWriters, GetByClassAndByName) {
  TDebugWriters writers;
  int calls = 0;
  writers.add(std::make_unique<TSystemOutWriter>());
  writers.add(std::make_unique<TBinaryWriter>("x.bin"));
  EXPECT_EQ(writers.add(std::make_unique<TTextWriter>("x.txt")), 2);
  writers.add(std::make_unique<ProbeWriter>(&calls));
  EXPECT_EQ(writers.size(), 4);

  std::unique_ptr<TArrayList> byName = writers.get("tbinarywriter");
  ASSERT_EQ(byName->size(), 1);
  EXPECT_EQ(byName->get(0)->className(), "TBinaryWriter");
  EXPECT_FALSE(byName->isOwner());
  EXPECT_EQ(writers.get("TFileWriter")->size(), 0) << "by name: that class only";
  std::unique_ptr<TArrayList> byClass = writers.get(TFileWriter::classInfo());
  ASSERT_EQ(byClass->size(), 2);
  EXPECT_EQ(byClass->get(0)->className(), "TBinaryWriter");
  EXPECT_EQ(byClass->get(1)->className(), "TTextWriter");
  EXPECT_EQ(writers.get(TDebugWriter::classInfo())->size(), 4);
  writers.clear();
  EXPECT_EQ(writers.size(), 0);
}

TEST(DebugWriters, AFailingWriterStopsTheRest) {
  int first = 0, failing = 0, last = 0;
  TDebugWriters writers;
  writers.add(std::make_unique<ProbeWriter>(&first));
  writers.add(std::make_unique<ProbeWriter>(&failing, true));
  writers.add(std::make_unique<ProbeWriter>(&last));
  try {
    writers.write(sampleTrace());
    ADD_FAILURE() << "the failure was not raised";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TDebugWriters.write(TDebugEntry): (IOException) ProbeWriter.write: refused");
  }
  EXPECT_EQ(first, 1);
  EXPECT_EQ(failing, 1);
  EXPECT_EQ(last, 0);
}

TEST(TextWriter, AppendsOrCreatesAndEndsEachEntry) {
  TempDir dir;
  std::string existing = dir.write("old.log", "kept\r\n");
  TTextWriter(existing).write(TTraceEntry("one", "c", 0, 0, 0.0, 46000.0));
  TTextWriter(existing).write(TErrorEntry("", "", "", 2, "two", "c", 0, 0.0, 46000.0));
  TTextWriter(existing).write(TTraceEntry("three", "c", 0, 0, 0.0, 46000.0));
  EXPECT_EQ(TempDir::read(existing), "kept\r\n: one\r\n: ERROR: two\r\n\r\n\r\n: three\r\n");
  std::string fresh = dir.file("new.log");
  TTextWriter(fresh).write(TTraceEntry("first", "c", 0, 0, 0.0, 46000.0));
  EXPECT_EQ(TempDir::read(fresh), ": first\r\n");

  std::string readOnly = dir.write("ro.log", "x\r\n");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  try {
    TTextWriter(readOnly).write(sampleTrace());
    ADD_FAILURE() << "a read-only file was written";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TTextWriter.write: (IOException) TTextFile.open: Try to write read only file '" + readOnly + "'.");
  }
  EXPECT_EQ(TempDir::read(readOnly), "x\r\n");
}

TEST(ListWriter, KeepsCopies) {
  TListWriter writer;
  {
    TTraceEntry entry = sampleTrace();
    writer.write(entry);
    entry.message = "changed";
  }
  ASSERT_EQ(writer.entries->size(), 1);
  auto* kept = as<TTraceEntry>(writer.entries->get(0));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->message, "abc");
}

TEST(DialogWriter, ShowsErrorsAndTracesOnlyWithHugeTextsCut) {
  DialogRecorder recorder;
  TDialogWriter writer;
  writer.write(TDebugEntry("plain", "c", 0, 0, 0.0, 46000.0));
  writer.write(TErrorEntry("", "", "", 1, "bad", "c", 0, 0.0, 46000.0));
  writer.write(TTraceEntry("note", "c", 0, 0, 0.0, 46000.0));
  ASSERT_EQ(recorder.dialogs.size(), 2u);
  EXPECT_EQ(recorder.dialogs[0].first, DialogKind::Error);
  EXPECT_EQ(recorder.dialogs[0].second, ": FATAL ERROR: bad\r\n\r\n");
  EXPECT_EQ(recorder.dialogs[1].first, DialogKind::Information);
  EXPECT_EQ(recorder.dialogs[1].second, ": note");

  // A text of a megabyte: the dialog shows its start, whole characters only,
  // and says it was cut; a file written alongside keeps every byte.
  const std::string huge = std::string(DIALOG_TEXT_LIMIT - 3, 'x') + "\xc3\xa9" + std::string(1 << 20, 'y');
  TempDir dir;
  TTextWriter file(dir.file("huge.log"));
  file.write(TTraceEntry(huge, "c", 0, 0, 0.0, 46000.0));
  writer.write(TTraceEntry(huge, "c", 0, 0, 0.0, 46000.0));
  ASSERT_EQ(recorder.dialogs.size(), 3u);
  EXPECT_EQ(recorder.dialogs[2].second, ": " + std::string(DIALOG_TEXT_LIMIT - 3, 'x') + "\r\n[... text cut: " +
                                            std::to_string(DIALOG_TEXT_LIMIT - 1) + " of " +
                                            std::to_string(huge.size() + 2) + " bytes shown]");
  EXPECT_EQ(TempDir::read(dir.file("huge.log")), ": " + huge + "\r\n");

  DialogHook previous = setDialogHook([](DialogKind, const std::string&) {
    throw IllegalStateException("no display");
  });
  try {
    writer.write(sampleTrace());
    ADD_FAILURE() << "the failure was not raised";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TDialogWriter.write: (IllegalStateException) no display");
  }
  setDialogHook(std::move(previous));
}

TEST(SystemOutWriter, PrintsOneLinePerEntry) {
  TSystemOutWriter writer;
  testing::internal::CaptureStdout();
  writer.write(sampleTrace());
  writer.write(TErrorEntry("", "", "", 3, "w", "c", 0, 0.0, 46000.0));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "09.12.2025 12:00:00.000 net-log: abc\n: WARNING: w\r\n\r\n\n");
}
