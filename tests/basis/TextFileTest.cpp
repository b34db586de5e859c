// Text files in their three modes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "basis/TStringCollection.h"
#include "basis/TTextFile.h"
#include "tests/support/TempDir.h"

namespace {

TEST(TextFile, WritesLinesWithCrLfAndAppends) {
  TempDir dir;
  std::string p = dir.file("t.txt");
  {
    TTextFile out(p, TTextFile::MODE_WRITE);
    out.write("a");
    out.writeln("b");
    out.close();
  }
  {
    TTextFile more(p, TTextFile::MODE_APPEND);
    more.writeln("c");
    // An append holds the file's lock, which the text writers take too.
    int other = ::open(p.c_str(), O_RDONLY);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    more.close();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }
  EXPECT_EQ(TempDir::read(p), "ab\r\nc\r\n");
  {
    TTextFile again(p, TTextFile::MODE_WRITE);  // empties the file
  }
  EXPECT_EQ(TempDir::read(p), "");
}

TEST(TextFile, ReadStopsAtTheLineEndReadlnPassesIt) {
  TempDir dir;
  std::string p = dir.write("r.txt", "one\r\ntwo\nthree\rfour");
  TTextFile in(p, TTextFile::MODE_READ);
  EXPECT_EQ(in.read(), "one");
  EXPECT_EQ(in.read(), "");
  EXPECT_FALSE(in.eof());
  EXPECT_EQ(in.readln(), "");  // only the line end was left
  EXPECT_EQ(in.readln(), "two");
  EXPECT_EQ(in.readln(), "three");
  EXPECT_FALSE(in.eof());
  EXPECT_EQ(in.readln(), "four");
  EXPECT_TRUE(in.eof());
}

TEST(TextFile, ReadLinesByCount) {
  TempDir dir;
  std::string p = dir.write("l.txt", "1\r\n2\r\n3\r\n");
  TTextFile in(p, TTextFile::MODE_READ);
  auto first = in.readLines(2);
  ASSERT_EQ(first->size(), 2);
  EXPECT_EQ(first->get(1), "2");
  auto rest = in.readLines();
  ASSERT_EQ(rest->size(), 1);
  EXPECT_EQ(rest->get(0), "3");

  TTextFile empty(dir.write("e.txt", ""), TTextFile::MODE_READ);
  EXPECT_TRUE(empty.readLines()->isEmpty());
}

TEST(TextFile, KeepsNulBytesAndLongLines) {
  TempDir dir;
  std::string line = std::string("a\0b", 3) + std::string(100000, 'x');
  TTextFile in(dir.write("n.txt", line + "\n"), TTextFile::MODE_READ);
  EXPECT_EQ(in.readln(), line);
}

TEST(TextFile, OpenFailures) {
  TempDir dir;
  std::string missing = dir.file("m.txt");
  try {
    TTextFile in(missing, TTextFile::MODE_READ);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TTextFile.open: File '" + missing + "' does not exist.");
  }
  try {
    TTextFile(dir.file("none/m.txt"), TTextFile::MODE_APPEND);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TTextFile.open: Cannot open '" + dir.file("none/m.txt") +
                                         "': No such file or directory") << "names the file";
  }
  try {
    TTextFile out("", TTextFile::MODE_WRITE);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TTextFile.open: Missing filename, can't write to stdout.");
  }
  std::string ro = dir.write("ro.txt", "keep");
  ::chmod(ro.c_str(), 0444);
  for (int32_t mode : {TTextFile::MODE_WRITE, TTextFile::MODE_APPEND}) {
    try {
      TTextFile out(ro, mode);
      FAIL();
    } catch (const IOException& e) {
      EXPECT_EQ(std::string(e.what()), "TTextFile.open: Try to write read only file '" + ro + "'.");
    }
  }
  EXPECT_EQ(TempDir::read(ro), "keep");
  TTextFile readOnlyIsReadable(ro, TTextFile::MODE_READ);
  EXPECT_EQ(readOnlyIsReadable.readln(), "keep");
  // A directory is no file.
  EXPECT_THROW(TTextFile(dir.path(), TTextFile::MODE_READ), IOException);
}

TEST(TextFile, WrongDirectionIsAnIOException) {
  TempDir dir;
  TTextFile out(dir.file("w.txt"), TTextFile::MODE_WRITE);
  try {
    out.readln();
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("TTextFile.readln: ", 0), 0u);
  }
  TTextFile in(dir.write("r.txt", "x"), TTextFile::MODE_READ);
  EXPECT_THROW(in.writeln("y"), IOException);
}

}  // namespace
