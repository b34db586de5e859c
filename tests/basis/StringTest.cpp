// TString: the value object and its text functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "basis/TFile.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> entries(const TStringCollection& c) { return c.getStrings(); }
using Parts = std::vector<std::string>;

class TName : public TString {
  MORVANE_CLASS(TName, TString)
  explicit TName(const std::string& text) : TString(TBlank{}) {
    initialize();
    value = text;
  }
};

TEST(StringTest, CompareIgnoreCaseSortsPunctuationBeforeLettersAndDigits) {
  struct Case { const char* a; const char* b; int32_t expected; };
  for (const Case& c : std::vector<Case>{{"abc", "ABD", -1},
                                         {"a-b", "ab", -1},
                                         {"abc", "abcd", -1},
                                         {"", "a", -1},
                                         {"ABC", "abc", 0},
                                         {"", "", 0},
                                         {"a", "B", -1},
                                         {"_", "A", -1},   // '_' lies between the cases in ASCII
                                         {"9", "a", -1},
                                         {"\xe4", "a", -1},  // bytes above 127 before letters
                                         {"\xe4", "-", 1},   // ... but by value among the rest
                                         {"a b", "a-b", -1}}) {
    EXPECT_EQ(TString::compareIgnoreCase(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(TString::compareIgnoreCase(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
  }
  // Only A-Z fold: the Latin-1 capitals 0xC0-0xDE stay apart from 0xE0-0xFE.
  for (int c = 0xC0; c <= 0xDE; ++c) {
    const std::string upper(1, static_cast<char>(c)), lower(1, static_cast<char>(c + 0x20));
    EXPECT_EQ(TString::compareIgnoreCase(upper, lower), -1) << c;
    EXPECT_EQ(TString::toLowerAscii(upper), upper) << c;
    EXPECT_EQ(TString::toUpperAscii(lower), lower) << c;
    EXPECT_FALSE(TString::containsIgnoreCase(upper, lower)) << c;
    EXPECT_FALSE(TString::equalsLowerAscii(upper, lower)) << c;
  }
  EXPECT_TRUE(TString::equalsLowerAscii(TString::trimmed(" \tDial Status\r\n"), "dial status"));
}

TEST(StringTest, PositionsCountFromOne) {
  EXPECT_EQ(TString::lastIndexOf(".", "a.b.c"), 4);
  EXPECT_EQ(TString::lastIndexOf("x", "a.b.c"), 0);
  EXPECT_EQ(TString::lastIndexOf("ab", "abab"), 3);
  EXPECT_EQ(TString::indexOf("b", "abcb", 3), 4);
  EXPECT_EQ(TString::indexOf("b", "abcb", 2), 2);
  EXPECT_EQ(TString::indexOf("b", "abcb", 4), 4);
  EXPECT_EQ(TString::indexOf("b", "abcb", 5), 0) << "from beyond the end";
  EXPECT_EQ(TString::indexOf("b", "abcb", 0), 0) << "from below 1";
  EXPECT_EQ(TString::indexOf("cb", "abcb", 4), 0) << "match starts before from";
  EXPECT_EQ(TString::indexOf("b", "", 1), 0);
}

TEST(StringTest, ReplacingNeverSearchesTheReplacementAgain) {
  EXPECT_EQ(TString::replaceAll("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(TString::replaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(TString::replaceAll("abcabc", "bc", ""), "aa");
  EXPECT_EQ(TString::replaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(TString::replaceAll("", "a", "x"), "");
  TString s("a.b.c");
  EXPECT_EQ(s.replaceAll(".", "::"), "a::b::c");
  EXPECT_EQ(s.replaceChar('.', '/'), "a/b/c");
  EXPECT_EQ(s.value, "a.b.c") << "instance forms leave the value alone";
  EXPECT_EQ(TString::removeChar("a.b.c", '.'), "abc");
}

TEST(StringTest, SplitKeepsEveryPartInPlainMode) {
  EXPECT_EQ(entries(*TString::split("a,,b,", ',')), (Parts{"a", "", "b", ""}));
  EXPECT_EQ(entries(*TString::split("x", ',')), (Parts{"x"}));
  EXPECT_EQ(entries(*TString::split(",", ',')), (Parts{"", ""}));
  EXPECT_EQ(entries(*TString::split("", ',')), (Parts{""}));
  // dropBlanks with another separator only removes the blanks
  EXPECT_EQ(entries(*TString::split(" a b, c ,", ',', true)), (Parts{"ab", "c", ""}));
  EXPECT_EQ(entries(*TString::split("a  b", ' ', false)), (Parts{"a", "", "b"}));
}

TEST(StringTest, SplitAtBlanksSeparatesOncePerRun) {
  EXPECT_EQ(entries(*TString::split("a  b   c", ' ', true)), (Parts{"a", "b", "c"}));
  EXPECT_EQ(entries(*TString::split(" a b", ' ', true)), (Parts{"", "a", "b"}));
  EXPECT_EQ(entries(*TString::split("a b  ", ' ', true)), (Parts{"a", "b"}));
  EXPECT_EQ(entries(*TString::split("   ", ' ', true)), (Parts{""}));
  EXPECT_EQ(entries(*TString::split("", ' ', true)), (Parts{""}));
  EXPECT_EQ(entries(*TString::split("a,b", ' ', true)), (Parts{"a,b"}));
}

TEST(StringTest, SmallTextFunctions) {
  EXPECT_EQ(TString::padNumber(7, 3), "007");
  EXPECT_EQ(TString::padNumber(1234, 2), "1234");
  EXPECT_EQ(TString::padNumber(0, 0), "0");
  EXPECT_TRUE(TString::containsIgnoreCase("Hello World", "o w"));
  EXPECT_TRUE(TString::containsIgnoreCase("", ""));
  EXPECT_FALSE(TString::containsIgnoreCase("Hello", "hellos"));
  EXPECT_TRUE(TString::startsWith("Hello", "hE"));
  EXPECT_FALSE(TString::startsWith("Hello", "hE", true));
  EXPECT_TRUE(TString::startsWith("Hello", "He", true));
  EXPECT_FALSE(TString::startsWith("He", "Hello"));
  EXPECT_TRUE(TString::startsWith("", ""));
  auto z = TString::toNullTerminated(std::string("a\0b", 3));
  EXPECT_EQ(std::memcmp(z.get(), "a\0b\0", 4), 0);
}

TEST(StringTest, EqualityAndHashFollowTheBytes) {
  EXPECT_EQ(TString("ab").hashCode(), 195);
  EXPECT_EQ(TString("").hashCode(), 0);
  EXPECT_EQ(TString("\xff").hashCode(), 255) << "bytes count unsigned";
  EXPECT_EQ(TString(std::string(16843010, '\xff')).hashCode(), 254) << "the sum wraps in 32 bits";

  TString a("a"), upperA("A"), other("a");
  EXPECT_FALSE(a.equals(&upperA));
  EXPECT_TRUE(a.equals(&other));
  EXPECT_FALSE(a.equals(nullptr));
  TName name("a");
  EXPECT_TRUE(a.equals(&name)) << "a subclass instance with the same value";
  EXPECT_FALSE(name.equals(&a)) << "a plain TString is no TName";
  auto copy = cloneOf(a);
  EXPECT_TRUE(copy->equals(&a));
  EXPECT_NE(copy.get(), &a);
}

TEST(StringTest, StoresItsValueAsOneString) {
  TempDir dir;
  TString s(std::string("x\0y", 3));
  s.store(dir.file("s.dat"));
  TString loaded;
  loaded.load(dir.file("s.dat"));
  EXPECT_TRUE(loaded.equals(&s));
}

}  // namespace
