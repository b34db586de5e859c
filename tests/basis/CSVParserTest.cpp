// TCSVParser: quoted comma-separated values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basis/TCSVParser.h"

namespace {

using Parts = std::vector<std::string>;

// The test cases write the double quote as Q.
std::string q(std::string text) {
  for (char& c : text) {
    if (c == 'Q') c = '"';
  }
  return text;
}

Parts valuesOf(const std::string& line) { return TCSVParser().valuesOf(q(line))->getStrings(); }

void expectFailure(const std::string& line, const std::string& reason, int32_t position) {
  try {
    TCSVParser().valuesOf(q(line));
    ADD_FAILURE() << line << " parsed";
  } catch (const ParserException& e) {
    EXPECT_EQ(e.getMethod(), "TCSVParser.valuesOf") << line;
    EXPECT_EQ(e.getReason(), reason) << line;
    EXPECT_EQ(e.getPosition(), position) << line;
    EXPECT_EQ(e.getText(), q(line));
  }
}

TEST(CSVParserTest, TakesOnlyTextInsideQuotes) {
  EXPECT_EQ(valuesOf("QaQ,QbQ,"), (Parts{"a", "b"}));
  EXPECT_EQ(valuesOf("QaQx,"), (Parts{"a"}));
  EXPECT_EQ(valuesOf("xQa bQ y,"), (Parts{"a b"}));
  EXPECT_EQ(valuesOf("a,b,"), (Parts{"", ""})) << "unquoted fields are empty";
  EXPECT_EQ(valuesOf(",,"), (Parts{"", ""}));
  EXPECT_EQ(valuesOf("QQ,"), (Parts{""}));
  EXPECT_EQ(valuesOf(""), (Parts{}));
}

TEST(CSVParserTest, QuotedValueAfterTheLastCommaEndsTheLine) {
  EXPECT_EQ(valuesOf("QaQ,QbQ"), (Parts{"a", "b"}));
  EXPECT_EQ(valuesOf("QaQ"), (Parts{"a"}));
  EXPECT_EQ(valuesOf("QaQ,QQ"), (Parts{"a", ""}));
  EXPECT_EQ(valuesOf("QaQ,b"), (Parts{"a"})) << "no quoted piece after the last comma";
}

TEST(CSVParserTest, MalformedLinesNameThePosition) {
  expectFailure("QaQQbQ,", "Unseperated values.", 4);
  expectFailure("Qa,bQ", "Unterminated value.", 3);
  expectFailure("QaQ,QbQ,Qc", "Unterminated value.", 9);
  expectFailure("Q", "Unterminated value.", 1);
  try {
    TCSVParser().valuesOf(q("x,Qab"));
    FAIL();
  } catch (const ParserException& e) {
    EXPECT_STREQ(e.what(), "TCSVParser.valuesOf: Unterminated value.: '\"ab'.");
  }
}

TEST(CSVParserTest, NextValuesWalksTheLines) {
  TStringCollection lines;
  lines.add(q("QaQ,QbQ"));
  lines.add(q("Qbroken"));
  lines.add(q("QcQ,"));
  TCSVParser parser(lines);
  lines.clear();
  ASSERT_TRUE(parser.hasNext()) << "the parser keeps its own copy";
  EXPECT_EQ(parser.nextValues()->getStrings(), (Parts{"a", "b"}));
  EXPECT_THROW(parser.nextValues(), ParserException);
  EXPECT_EQ(parser.getLines().size(), 2) << "the failing line stays first";
  EXPECT_THROW(parser.nextValues(), ParserException);

  // Taken lines leave in batches; the lines left and their order never show it.
  TStringCollection many;
  for (int i = 0; i < 7; ++i) many.add(q("Q" + std::to_string(i) + "Q"));
  TCSVParser walker(many);
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(walker.hasNext());
    if (i == 3 || i == 5) {
      EXPECT_EQ(walker.getLines().size(), 7 - i);
      EXPECT_EQ(walker.getLines().get(0), q("Q" + std::to_string(i) + "Q"));
    }
    EXPECT_EQ(walker.nextValues()->getStrings(), (Parts{std::to_string(i)}));
  }
  EXPECT_FALSE(walker.hasNext());
  EXPECT_EQ(walker.getLines().size(), 0);

  TCSVParser empty;
  EXPECT_FALSE(empty.hasNext());
  try {
    empty.nextValues();
    FAIL();
  } catch (const NoSuchElementException& e) {
    EXPECT_STREQ(e.what(), "TCSVParser.nextValues");
  }
}

}  // namespace
