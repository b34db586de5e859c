// TStringCollection and TStringTokenizer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basis/TFile.h"
#include "basis/TStringCollection.h"
#include "basis/TStringTokenizer.h"
#include "tests/support/TempDir.h"

namespace {

using Parts = std::vector<std::string>;

Parts tokens(TStringTokenizer& t) {
  Parts out;
  while (t.hasMoreTokens()) out.push_back(t.nextToken());
  return out;
}

TEST(StringCollectionTest, TextConstructorTakesNonEmptyLines) {
  TStringCollection c("a\r\n\r\nb\n\n  \rc\r");
  EXPECT_EQ(c.getStrings(), (Parts{"a", "b", "  ", "c"}));
  EXPECT_TRUE(TStringCollection("\r\n\n").isEmpty());
  EXPECT_EQ(c.toString(), "a\r\nb\r\n  \r\nc\r\n");
  EXPECT_EQ(c.getText(), c.toString());
  EXPECT_EQ(TStringCollection().toString(), "");
}

TEST(StringCollectionTest, EditsByIndex) {
  TStringCollection c;
  EXPECT_EQ(c.add("b"), 0);
  EXPECT_EQ(c.addEmptyLine(), 1);
  c.insert(0, "a");
  c.insert(3, "d");
  EXPECT_EQ(c.appendAt(2, "c"), "c");
  EXPECT_EQ(c.getStrings(), (Parts{"a", "b", "c", "d"}));
  c.remove(1);
  EXPECT_EQ(c.get(1), "c");
  EXPECT_EQ(c.size(), 3);
  EXPECT_THROW(c.get(3), std::out_of_range);
  EXPECT_THROW(c.get(-1), std::out_of_range);
  EXPECT_THROW(c.insert(5, "x"), std::out_of_range);
  EXPECT_THROW(c.remove(3), std::out_of_range);
  std::vector<std::string> list{"old"};
  c.copyToStrings(list);
  EXPECT_EQ(list, (Parts{"a", "c", "d"}));
  c.clear();
  EXPECT_TRUE(c.isEmpty());
}

TEST(StringCollectionTest, EqualityComparesTheTextForm) {
  TStringCollection ab("a\nb"), joined, other("a\nc");
  joined.add("a\r\nb");
  EXPECT_TRUE(ab.equals(&joined)) << "same text, different entries";
  EXPECT_FALSE(ab.equals(&other));
  EXPECT_FALSE(ab.equals(nullptr));
  auto copy = cloneOf(ab);
  copy->add("c");
  EXPECT_EQ(ab.size(), 2) << "the clone is independent";
}

TEST(StringCollectionTest, RoundTripThroughAnObjectFile) {
  TempDir dir;
  TStringCollection c;
  c.add("one");
  c.addEmptyLine();
  c.add(std::string("t\0o", 3));
  {
    TFile out(dir.file("c.dat"), true, "");
    out.writeTPObject(c);
  }
  TFile in(dir.file("c.dat"), false, "");
  std::unique_ptr<TPObject> read = in.readTPObject();
  auto* loaded = as<TStringCollection>(read.get());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getStrings(), c.getStrings());

  // Loading replaces what was there.
  TStringCollection target("stale");
  c.store(dir.file("s.dat"));
  target.load(dir.file("s.dat"));
  EXPECT_EQ(target.getStrings(), c.getStrings());
}

TEST(StringCollectionTest, CountBeyondTheRecordIsCorrupt) {
  TempDir dir;
  // record of 8 bytes: count 1000, then one empty string
  std::string bytes = std::string("\x08\0\0\0", 4) + std::string("\xe8\x03\0\0", 4) +
                      std::string(4, '\0');
  TStringCollection c;
  EXPECT_THROW(c.load(dir.write("c.dat", bytes)), IOException);
}

TEST(TokenizerTest, RunsOfDelimitersGiveNoEmptyTokens) {
  TStringTokenizer t(", a,,b ", ", ");
  EXPECT_EQ(t.countTokens(), 2);
  EXPECT_TRUE(t.hasMoreTokens());
  EXPECT_EQ(t.countTokens(), 2) << "neither call consumes";
  EXPECT_EQ(tokens(t), (Parts{"a", "b"}));
  EXPECT_EQ(t.countTokens(), 0);
}

TEST(TokenizerTest, EmptyTextHasNoTokens) {
  TStringTokenizer t("");
  EXPECT_FALSE(t.hasMoreTokens());
  EXPECT_TRUE(t.allTokens()->isEmpty());
  try {
    t.nextToken();
    FAIL() << "token from the empty text";
  } catch (const NoSuchElementException& e) {
    EXPECT_STREQ(e.what(), "TStringTokenizer: No more tokens in: .");
  }
  TStringTokenizer blanks("  \t", " \t");
  EXPECT_THROW(blanks.nextToken(), NoSuchElementException);
}

TEST(TokenizerTest, ReturnedDelimitersAreSingleTokens) {
  TStringTokenizer t("a,,b", ",", true);
  EXPECT_EQ(t.countTokens(), 4);
  EXPECT_EQ(tokens(t), (Parts{"a", ",", ",", "b"}));
  TStringTokenizer lead(",x", ",", true);
  EXPECT_EQ(tokens(lead), (Parts{",", "x"}));
}

TEST(TokenizerTest, DefaultDelimitersLeaveLineFeedInTokens) {
  TStringTokenizer t("a\nb c\td\re");
  EXPECT_EQ(tokens(t), (Parts{"a\nb", "c", "d", "e"}));
}

TEST(TokenizerTest, LetterDelimitersMatchEitherCase) {
  TStringTokenizer t("1x2X3", "x");
  EXPECT_EQ(tokens(t), (Parts{"1", "2", "3"}));
}

TEST(TokenizerTest, MarkAndAllTokens) {
  TStringTokenizer t("a b c");
  EXPECT_EQ(t.nextToken(), "a");
  t.mark();
  EXPECT_EQ(t.nextToken(), "b");
  t.resetToMark();
  auto rest = t.allTokens();
  EXPECT_EQ(rest->getStrings(), (Parts{"b", "c"}));
  EXPECT_FALSE(t.hasMoreTokens()) << "allTokens consumes";
  try {
    t.nextToken();
    FAIL();
  } catch (const NoSuchElementException& e) {
    EXPECT_STREQ(e.what(), "TStringTokenizer: No more tokens in: a b c.");
  }
}

}  // namespace
