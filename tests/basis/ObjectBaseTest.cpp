// Object protocol, class descriptors, value objects and exception texts.
#include <gtest/gtest.h>

#include <clocale>

#include "basis/DateTime.h"
#include "basis/TFile.h"
#include "basis/TTextFile.h"
#include "basis/ValueObjects.h"
#include "tests/support/TempDir.h"

namespace {

class TSubInteger : public TInteger {
  MORVANE_CLASS(TSubInteger, TInteger)
  explicit TSubInteger(int32_t v) : TInteger(TBlank{}) {
    initialize();
    value = v;
  }
};

class TPlain : public TPObject {
  MORVANE_CLASS(TPlain, TPObject)
  TPlain() : TPObject(TBlank{}) { initialize(); }
  void initialize() override {
    TPObject::initialize();
    ++initializeCalls;
  }
  int initializeCalls = 0;
};

TEST(ClassDescriptor, NamesAndAncestry) {
  TSubInteger sub(1);
  EXPECT_EQ(sub.className(), "TSubInteger");
  EXPECT_TRUE(sub.isA<TInteger>());
  EXPECT_TRUE(sub.isA<TPObject>());
  EXPECT_FALSE(TInteger(1).isA<TSubInteger>());
  EXPECT_EQ(TInteger::classInfo().parent(), &TPObject::classInfo());
  EXPECT_EQ(as<TBoolean>(static_cast<TMappedObject*>(&sub)), nullptr);
}

TEST(ClassRegistry, MakesBlankInstancesByName) {
  TClassRegistry::registerClass(TPlain::classInfo());
  TClassRegistry::registerClass(TPlain::classInfo());  // again: ignored
  int seen = 0;
  for (const TClass* c : TClassRegistry::classes()) seen += c->name() == "TPlain";
  EXPECT_EQ(seen, 1);
  auto blank = TClassRegistry::find("TPlain").newBlank();
  // No constructor ran: initialize() was never called.
  EXPECT_EQ(static_cast<TPlain*>(blank.get())->initializeCalls, 0);
  EXPECT_EQ(TPlain().initializeCalls, 1);
  EXPECT_THROW(TClassRegistry::find("TMissing"), ClassNotFoundException);
}

TEST(ObjectProtocol, Defaults) {
  TPlain a, b;
  EXPECT_TRUE(a.equals(&a));
  EXPECT_FALSE(a.equals(&b));
  EXPECT_FALSE(a.equals(nullptr));
  EXPECT_EQ(a.toString(), "TPlain");
  EXPECT_EQ(a.hashCode(), a.hashCode());
  auto copy = a.clone();
  EXPECT_EQ(copy->className(), "TMappedObject");  // no copy of a class without clone()
  EXPECT_THROW(cloneOf(a), IllegalStateException);
}

TEST(ObjectProtocol, DefaultRecordIsHashCodeAndClassName) {
  TempDir dir;
  TPlain p;
  p.store(dir.file("p.dat"));
  std::string data = TempDir::read(dir.file("p.dat"));
  ASSERT_EQ(data.size(), 4u + 4u + 4u + 6u);
  EXPECT_EQ(data.substr(12), "TPlain");
  // read() initializes first, then reads nothing of the default record but
  // must consume it, so loading a default record fails as corrupt.
  EXPECT_THROW(p.load(dir.file("p.dat")), IOException);
}

TEST(ObjectProtocol, HandlersReplaceTheRecordHooks) {
  TempDir dir;
  TInteger i(3);
  i.onWrite = [](TFile& f) { f.writeInteger(42); };
  i.store(dir.file("h.dat"));
  TInteger back;
  int32_t seen = 0;
  back.onRead = [&](TFile& f) { seen = f.readInteger(); };
  back.load(dir.file("h.dat"));
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(back.intValue(), 0);

  i.onPrint = [](TTextFile& t) { t.writeln("custom"); };
  i.print(dir.file("p.txt"));
  i.append(dir.file("p.txt"));
  EXPECT_EQ(TempDir::read(dir.file("p.txt")), "custom\r\ncustom\r\n");
  EXPECT_THROW(i.append(dir.file("missing.txt")), IOException);
}

TEST(ObjectProtocol, ParameterlessFormsUseFileName) {
  TempDir dir;
  TBoolean b(true);
  b.fileName = dir.file("b.dat");
  b.store();
  b.print(dir.file("b.txt"));
  EXPECT_EQ(TempDir::read(dir.file("b.txt")), "true\r\n");
  TBoolean c;
  c.fileName = b.fileName;
  c.load();
  EXPECT_TRUE(c.booleanValue());
}

TEST(ValueObjects, EqualityFollowsTheClassTree) {
  TInteger five(5);
  TSubInteger subFive(5);
  EXPECT_TRUE(five.equals(&subFive));
  EXPECT_FALSE(subFive.equals(&five));
  EXPECT_FALSE(five.equals(nullptr));
  EXPECT_FALSE(five.equals(TInteger(6).clone().get()));
  EXPECT_TRUE(TBoolean(true).equals(TBoolean(true).clone().get()));
  EXPECT_FALSE(TBoolean(true).equals(&five));
  EXPECT_TRUE(TTDateTime(1.5).equals(TTDateTime(1.5).clone().get()));
}

TEST(ValueObjects, IntegerTextAndComparison) {
  EXPECT_EQ(TInteger(-12).toString(), "-12");
  EXPECT_EQ(TInteger("42").intValue(), 42);
  EXPECT_EQ(TInteger("-7").hashCode(), -7);
  EXPECT_THROW(TInteger("4x"), ConvertException);
  EXPECT_THROW(TInteger(""), ConvertException);
  EXPECT_THROW(TInteger("99999999999"), ConvertException);
  EXPECT_EQ(TInteger::compare(-5, 3), -1);
  EXPECT_EQ(TInteger::compare(3, 3), 0);
  EXPECT_EQ(TInteger::compare(7, 3), 1);
  EXPECT_EQ(TInteger(2).compareTo(TInteger(9)), -1);
}

TEST(ValueObjects, BooleanFromString) {
  EXPECT_TRUE(TBoolean::fromString("TRUE"));
  EXPECT_TRUE(TBoolean::fromString("True"));
  EXPECT_FALSE(TBoolean::fromString("false"));
  try {
    TBoolean::fromString("yes");
    FAIL();
  } catch (const ParserException& e) {
    EXPECT_EQ(std::string(e.what()), "TBoolean.fromString: No such boolean value: 'yes'.");
    EXPECT_EQ(e.getPosition(), 1);
  }
  try {
    TBoolean::fromString("");
    FAIL();
  } catch (const ParserException& e) {
    EXPECT_EQ(std::string(e.what()), "TBoolean.fromString: No such boolean value: ''.");
  }
}

TEST(Exceptions, MessageConventions) {
  EXPECT_EQ(std::string(ParserException("M", "R", "abcdef", 3).what()), "M: R: 'cdef'.");
  EXPECT_EQ(std::string(ParserException("M", "R", "abcdef", 1).what()), "M: R: 'abcdef'.");
  FileNotFoundException missing("a.dat");
  EXPECT_EQ(std::string(missing.what()), "File 'a.dat' not found.");
  EXPECT_EQ(missing.getFileName(), "a.dat");
  EXPECT_EQ(wrappedText(missing), "(FileNotFoundException) File 'a.dat' not found.");
  EXPECT_EQ(wrappedText(std::runtime_error("x")), "(std::runtime_error) x");
  const IOException& asBase = missing;
  EXPECT_STREQ(asBase.className(), "FileNotFoundException");
}

TEST(DateTimeValues, ElapsedMillis) {
  EXPECT_EQ(TTDateTime::elapsedMillis(1000.25, 1000.25), 0);
  EXPECT_EQ(TTDateTime::elapsedMillis(1001.5, 1000.0), 129600000);
  EXPECT_EQ(TTDateTime::elapsedMillis(1000.0, 1001.5), 0);
  EXPECT_EQ(TTDateTime::elapsedMillis(1001.0 + 2.0 / 24, 1000.0), 93600000);
  EXPECT_EQ(TTDateTime::elapsedMillis(100000.0, 1.0), INT32_MAX);
}

TEST(DateTimeValues, CalendarConversions) {
  // 9 December 2025, 12:00 is day 46000.5.
  datetime::Parts p = datetime::split(46000.5);
  EXPECT_EQ(p.year, 2025);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 9);
  EXPECT_EQ(p.hour, 12);
  EXPECT_EQ(p.weekday, 2);  // a Tuesday
  EXPECT_DOUBLE_EQ(datetime::compose(p), 46000.5);
  datetime::Parts q{2026, 12, 7, 9, 5, 3, 42, 0};
  datetime::Parts r = datetime::split(datetime::compose(q));
  EXPECT_EQ(r.minute, 5);
  EXPECT_EQ(r.second, 3);
  EXPECT_EQ(r.millisecond, 42);
  double now = datetime::now();
  EXPECT_GT(now, 46000.0);
}

TEST(DateTimeValues, TextShowsTheTimeOnlyWhenThereIsOne) {
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(TTDateTime(46000.0).toString(), "12/09/25");
  EXPECT_EQ(TTDateTime(46000.0 + 0.5 / 86400).toString(), "12/09/25");
  EXPECT_EQ(TTDateTime(46000.5).toString(), "12/09/25 12:00:00");
}

}  // namespace
