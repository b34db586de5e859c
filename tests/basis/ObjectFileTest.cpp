// Binary object files: framing, nesting, error texts and corrupt input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "basis/TFile.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/ValueObjects.h"
#include "tests/support/TempDir.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string le32(uint32_t v) {
  return bytes({static_cast<int>(v & 0xff), static_cast<int>(v >> 8 & 0xff),
                static_cast<int>(v >> 16 & 0xff), static_cast<int>(v >> 24 & 0xff)});
}

std::string str(const std::string& s) { return le32(static_cast<uint32_t>(s.size())) + s; }

// A test object holding nested objects, written as a count and nested records.
class TBox : public TPObject {
  MORVANE_CLASS(TBox, TPObject)
  TBox() : TPObject(TBlank{}) { initialize(); }
  void readFrom(TFile& file) override {
    children.clear();
    int32_t n = file.readInteger();
    for (int32_t i = 0; i < n; ++i) children.push_back(file.readTPObject());
  }
  void writeTo(TFile& file) override {
    file.writeInteger(static_cast<int32_t>(children.size()));
    for (auto& c : children) file.writeTPObject(*c);
  }
  std::vector<std::unique_ptr<TPObject>> children;
};

// Writes one integer but reads only part of it back.
class TShortReader : public TPObject {
  MORVANE_CLASS(TShortReader, TPObject)
  TShortReader() : TPObject(TBlank{}) { initialize(); }
  void readFrom(TFile& file) override { file.readByte(); }
  void writeTo(TFile& file) override { file.writeInteger(7); }
};

class TBufferedBox : public TBox {
  MORVANE_CLASS(TBufferedBox, TBox)
  TBufferedBox() : TBox(TBlank{}) { initialize(); }
  bool isBuffered() const override { return true; }
};

class ObjectFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TClassRegistry::registerClass(TBox::classInfo()); }
  TempDir dir;
};

TEST_F(ObjectFileTest, NestedObjectsAreFramedByLengthAndClassName) {
  TBox box;
  box.children.push_back(std::make_unique<TInteger>(5));
  box.store(dir.file("box.dat"));
  // outer length 24, count 1, class name, inner length 4, the value
  EXPECT_EQ(TempDir::read(dir.file("box.dat")),
            le32(24) + le32(1) + str("TInteger") + le32(4) + le32(5));

  TBox loaded;
  loaded.load(dir.file("box.dat"));
  ASSERT_EQ(loaded.children.size(), 1u);
  EXPECT_TRUE(loaded.children[0]->equals(box.children[0].get()));
}

TEST_F(ObjectFileTest, BufferedRecordsProduceTheSameBytes) {
  TBufferedBox buffered;
  TBox plain;
  for (TBox* b : {static_cast<TBox*>(&buffered), &plain}) {
    b->children.push_back(std::make_unique<TString>(std::string(300, 'x')));
    auto inner = std::make_unique<TBox>();
    inner->children.push_back(std::make_unique<TBoolean>(true));
    b->children.push_back(std::move(inner));
  }
  buffered.store(dir.file("a.dat"));
  plain.store(dir.file("b.dat"));
  EXPECT_EQ(TempDir::read(dir.file("a.dat")), TempDir::read(dir.file("b.dat")));
}

TEST_F(ObjectFileTest, HeaderIsWrittenAndChecked) {
  {
    TFile out(dir.file("h.dat"), true, "[HDR]");
    TString("x").write(out);
  }
  EXPECT_EQ(TempDir::read(dir.file("h.dat")), "[HDR]" + le32(5) + str("x"));
  TFile in(dir.file("h.dat"), false, "[HDR]");
  TString s;
  s.read(in);
  EXPECT_EQ(s.value, "x");

  for (const std::string& content : {std::string("[HD"), std::string("[XDR]123456789")}) {
    std::string p = dir.write("bad.dat", content);
    try {
      TFile bad(p, false, "[HDR]");
      FAIL() << "header accepted: " << content;
    } catch (const IOException& e) {
      EXPECT_EQ(std::string(e.what()), "TFile.open: (IOException) File '" + p +
                                           "' does not support header: '[HDR]'.");
    }
  }
}

TEST_F(ObjectFileTest, OpenFailuresAreWrapped) {
  std::string missing = dir.file("a.dat");
  try {
    TFile f(missing, false, "");
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile.open: (FileNotFoundException) File '" + missing + "' not found.");
  }
  try {
    TFile f("", true, "");
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile.open: (IOException) Missing filename, can't write to stdout.");
  }
  std::string readOnly = dir.write("ro.dat", "keep");
  ::chmod(readOnly.c_str(), 0444);
  try {
    TFile f(readOnly, true, "");
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile.open: (IOException) Try to write read only file '" + readOnly + "'.");
  }
  EXPECT_EQ(TempDir::read(readOnly), "keep");
}

TEST_F(ObjectFileTest, ReadingLessThanTheRecordHoldsIsCorrupt) {
  TShortReader writer;
  writer.store(dir.file("s.dat"));
  TShortReader reader;
  try {
    reader.load(dir.file("s.dat"));
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TFile: Read-Buffer too small or too large, file corrupt: ");
  }
}

TEST_F(ObjectFileTest, ReadingPastTheRecordFailsInsideTheBuffer) {
  std::string p = dir.write("r.dat", le32(2) + bytes({1, 2}));
  TInteger i;
  try {
    i.load(p);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile: Read-Buffer too small or too large, file corrupt: 0@buffer.");
  }
}

TEST_F(ObjectFileTest, EmptyTopLevelRecordIsReadFromTheFile) {
  // Length 0: no buffer, the content comes straight from the file.
  std::string p = dir.write("z.dat", le32(0) + le32(9));
  TFile f(p, false, "");
  f.beginReadRecord(true);
  EXPECT_EQ(f.readInteger(), 9);
  f.endReadRecord();
}

TEST_F(ObjectFileTest, EmptyStringIsOnlyItsLength) {
  {
    TFile out(dir.file("e.dat"), true, "");
    out.writeString("");
  }
  EXPECT_EQ(TempDir::read(dir.file("e.dat")), le32(0));
}

TEST_F(ObjectFileTest, UnknownClassNameIsWrappedTwice) {
  std::string p = dir.write("u.dat", le32(4 + 4 + 7 + 4) + le32(1) + str("TNoSuch") + le32(0));
  TBox box;
  try {
    box.load(p);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile.readTPObject: (IOException) TFile.createTPObject: (ClassNotFoundException) "
              "Class TNoSuch not found");
  }
}

TEST_F(ObjectFileTest, RegisteredClassThatIsNoPersistableObjectIsRefused) {
  TClassRegistry::registerClass(TMappedObject::classInfo());
  std::string p = dir.write("m.dat", le32(4 + 4 + 13) + le32(1) + str("TMappedObject"));
  TBox box;
  try {
    box.load(p);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()),
              "TFile.readTPObject: (IOException) TFile.createTPObject: (Exception) "
              "Class reference isn't TPObject.");
  }
}

TEST_F(ObjectFileTest, WrongDirectionIsRefused) {
  TFile out(dir.file("w.dat"), true, "");
  EXPECT_THROW(out.readInteger(), IOException);
  out.writeInteger(1);
  out.close();
  TFile in(dir.file("w.dat"), false, "");
  try {
    in.writeInteger(1);
    FAIL();
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()), "TFile: Illegal write, file opened for read.");
  }
}

// Lengths and counts read from a file are never trusted.
TEST_F(ObjectFileTest, CorruptLengthsFailBeforeAllocating) {
  const std::vector<std::string> corrupt = {
      le32(0x7fffffff),                                 // record longer than the file
      bytes({0xff, 0xff, 0xff, 0xff}) + le32(1),        // negative record length
      le32(8) + le32(0x7ffffff0) + le32(0),             // string longer than its record
      le32(8) + bytes({0xfe, 0xff, 0xff, 0xff}) + le32(0),  // negative string length
  };
  for (const std::string& content : corrupt) {
    std::string p = dir.write("c.dat", content);
    TString s;
    EXPECT_THROW(s.load(p), IOException);
  }
  // A count the record cannot hold.
  std::string p = dir.write("n.dat", le32(4) + le32(0x40000000));
  TStringCollection list;
  EXPECT_THROW(list.load(p), IOException);
}

TEST_F(ObjectFileTest, DeepNestingIsRefused) {
  // Each level: count 1, class name "TBox", then the next record.
  std::string body = le32(0);
  for (int level = 0; level < TFile::MAX_READ_DEPTH + 5; ++level) {
    std::string record = le32(static_cast<uint32_t>(body.size())) + body;
    body = le32(1) + str("TBox") + record;
  }
  std::string p = dir.write("d.dat", le32(static_cast<uint32_t>(body.size())) + body);
  TBox box;
  EXPECT_THROW(box.load(p), IOException);
}

TEST_F(ObjectFileTest, FileObjectStoresItsOwnSettings) {
  TFile out(dir.file("f.dat"), true, "H");
  TFile described(dir.file("described"), true, "HEAD");
  described.write(out);
  out.close();
  EXPECT_EQ(TempDir::read(dir.file("f.dat")),
            "H" + le32(4 + static_cast<uint32_t>(dir.file("described").size()) + 4 + 4 + 1) +
                str(dir.file("described")) + str("HEAD") + bytes({1}));
}

}  // namespace
