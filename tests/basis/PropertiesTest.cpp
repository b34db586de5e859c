// Properties files: the loader, typed lookups, storing, system properties.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "basis/Conversions.h"
#include "basis/TArrayList.h"
#include "basis/TProperties.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TSystem.h"
#include "tests/support/MessageOf.h"
#include "tests/support/TempDir.h"

namespace {

class PropertiesTest : public ::testing::Test {
 protected:
  void load(TProperties& p, const std::string& content) {
    p.loadProperties(dir.write("t.properties", content));
  }
  TempDir dir;
};

TEST_F(PropertiesTest, LoaderSplitsKeysAndValues) {
  TProperties p;
  p.loadProperties(dir.write("a.properties",
                             "a=b\n"
                             "  spaced = b c  \r\n"
                             "blank b\n"
                             "double==b\n"
                             "two = = b\n"
                             "url=x=y\n"
                             "keyonly\n"
                             "=empty key\n"
                             "tab\t\tvalue\n"
                             "hash = # not a comment\n"));
  EXPECT_EQ(p.getString("a"), "b");
  EXPECT_EQ(p.getString("spaced"), "b c");
  EXPECT_EQ(p.getString("blank"), "b");
  EXPECT_EQ(p.getString("double"), "=b");
  EXPECT_EQ(p.getString("two"), "= b");
  EXPECT_EQ(p.getString("url"), "x=y");
  EXPECT_EQ(p.getString("keyonly"), "");
  EXPECT_EQ(p.getString(""), "empty key");
  EXPECT_EQ(p.getString("tab"), "value");
  EXPECT_EQ(p.getString("hash"), "# not a comment");
  EXPECT_EQ(p.size(), 10);
}

TEST_F(PropertiesTest, CommentsEmptyLinesAndRepeatedKeys) {
  TProperties p;
  p.loadProperties(dir.write("c.properties", "# c\n   # indented\n// slash\n\n\t\nk=1\nk=2\n"));
  EXPECT_EQ(p.size(), 1);
  EXPECT_EQ(p.getString("k"), "2");
  TProperties onlyComments;
  onlyComments.loadProperties(dir.write("o.properties", "# x\n\n"));
  EXPECT_EQ(onlyComments.size(), 0);
}

TEST_F(PropertiesTest, ReloadReplacesAndMissingFileKeepsContents) {
  TProperties p;
  p.loadProperties(dir.write("1.properties", "a=1\nb=2\n"));
  p.loadProperties(dir.write("2.properties", "c=3\n"));
  EXPECT_FALSE(p.containsKey("a"));
  EXPECT_EQ(p.getString("c"), "3");
  std::string missing = dir.file("none.properties");
  try {
    p.loadProperties(missing);
    FAIL();
  } catch (const InvalidPropertiesException& e) {
    EXPECT_EQ(std::string(e.what()), "TProperty: Textfile: " + missing + " does not exist.");
  }
  EXPECT_EQ(p.getString("c"), "3");
  EXPECT_THROW(p.loadProperties(dir.path()), InvalidPropertiesException);
}

TEST_F(PropertiesTest, OddInputLoadsSensiblyFromFileTextAndStream) {
  // An editor's UTF-8 byte order mark is read past; one later is a byte of the value.
  std::string content = "\xEF\xBB\xBF" "cr=1\rmixed=2\r\nnul=a";
  content += '\0';
  content += "b\n";
  content += "utf=\xff\xfe\xc3\xEF\xBB\xBF\n";
  content += "long=" + std::string(200000, 'v') + "\n";
  content += "last=no line end";
  TProperties fromFile, fromText, fromStream;
  fromFile.loadProperties(dir.write("odd.properties", content));
  fromText.setProperty("replaced", "x");
  fromText.loadFromText(content);
  std::istringstream in(content);
  fromStream.loadFromStream(in);
  for (TProperties* p : {&fromFile, &fromText, &fromStream}) {
    EXPECT_EQ(p->size(), 6);
    EXPECT_EQ(p->getString("cr"), "1");
    EXPECT_EQ(p->getString("mixed"), "2");
    EXPECT_EQ(p->getString("nul"), std::string("a\0b", 3));
    EXPECT_EQ(p->getString("utf"), "\xff\xfe\xc3\xEF\xBB\xBF");
    EXPECT_EQ(p->getString("long").size(), 200000u);
    EXPECT_EQ(p->getString("last"), "no line end");
  }
  fromText.loadFromText("a=1\r\r\n\nb=2\r");
  EXPECT_EQ(fromText.size(), 2) << "a new load replaces the pairs";
  EXPECT_EQ(fromText.getString("b"), "2");
}

TEST_F(PropertiesTest, MissingKeysRaiseWithTheKey) {
  TProperties p;
  try {
    p.getString("absent");
    FAIL();
  } catch (const InvalidKeyException& e) {
    EXPECT_STREQ(e.what(), "absent");
  }
  EXPECT_EQ(p.getString("absent", "d"), "d");
  EXPECT_THROW(p.getInteger("absent"), InvalidKeyException);
  EXPECT_THROW(p.replaceValue("absent", "x"), InvalidKeyException);
}

TEST_F(PropertiesTest, IntegerLookups) {
  TProperties p;
  load(p, "dec=-42\nplus=+7\nhex=$1F\nhx=x1f\nh0=0X7fffffff\nbig=2147483648\n"
                       "min=-2147483648\nabc=abc\nsp=1 2\n");
  EXPECT_EQ(p.getInteger("dec"), -42);
  EXPECT_EQ(p.getInteger("plus"), 7);
  EXPECT_EQ(p.getInteger("hex"), 31);
  EXPECT_EQ(p.getInteger("hx"), 31);
  EXPECT_EQ(p.getInteger("h0"), 2147483647);
  EXPECT_EQ(p.getInteger("min"), INT32_MIN);
  for (const char* bad : {"big", "abc", "sp"}) {
    try {
      p.getInteger(bad);
      FAIL() << bad;
    } catch (const IllegalPropertyValueException& e) {
      EXPECT_EQ(std::string(e.what()), std::string("TProperties: Key: ") + bad + " no integer value.");
    }
  }
  EXPECT_EQ(p.getInteger("abc", 5), 5);
  EXPECT_EQ(p.getInteger("absent", 6), 6);
}

TEST_F(PropertiesTest, BooleanAndStringLookups) {
  TProperties p;
  load(p, "t=TRUE\nf=False\ny=yes\nlist=a, b,,c\nfile=" + dir.file("t.properties") +
                       " -x -y\ntrail=x \n");
  EXPECT_TRUE(p.getBoolean("t"));
  EXPECT_FALSE(p.getBoolean("f"));
  try {
    p.getBoolean("y");
    FAIL();
  } catch (const IllegalPropertyValueException& e) {
    EXPECT_STREQ(e.what(), "TProperties: Key: y no boolean value.");
  }
  EXPECT_TRUE(p.getBoolean("y", true));
  EXPECT_EQ(p.getStringObject("t")->stringValue(), "TRUE");
  EXPECT_EQ(p.getStringList("list")->getText(), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(p.getFileName("file"), dir.file("t.properties"));
  EXPECT_EQ(p.getParameters("file"), "-x -y");
  EXPECT_EQ(p.getParameters("t"), "");
  p.setProperty("trail", "dial.exe ");
  EXPECT_EQ(p.getParameters("trail"), "");
  p.setProperty("nofile", dir.file("none") + " -x");
  try {
    p.getFileName("nofile");
    FAIL();
  } catch (const IllegalPropertyValueException& e) {
    EXPECT_EQ(std::string(e.what()), "TProperties: Key: nofile with value " + dir.file("none") +
                                         " -x does not contain a valid filename.");
  }
  EXPECT_EQ(p.getFileName("nofile", "fallback"), "fallback");
  p.setProperty("csv", "\"a\",\"b\"");
  EXPECT_EQ(p.getCSVValues("csv")->size(), 2);
}

TEST_F(PropertiesTest, DoubleAndTimeFollowTheLocale) {
  TProperties p;
  load(p, "d=1.5\nc=1,5\nt=13:45\ns=07:08:09\npm=1:30 PM\nbad=25:00\n");
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_DOUBLE_EQ(p.getDouble("d"), 1.5);
  try {
    p.getDouble("c");
    FAIL();
  } catch (const IllegalPropertyValueException& e) {
    EXPECT_STREQ(e.what(), "TProperties: Key: c no double value, decimal seperator is: '.'.");
  }
  EXPECT_DOUBLE_EQ(p.getTime("t"), (13 * 60 + 45) / 1440.0);
  EXPECT_DOUBLE_EQ(p.getTime("s"), (7 * 3600 + 8 * 60 + 9) / 86400.0);
  EXPECT_DOUBLE_EQ(p.getTime("pm"), (13 * 60 + 30) / 1440.0);
  try {
    p.getTime("bad");
    FAIL();
  } catch (const IllegalPropertyValueException& e) {
    EXPECT_STREQ(e.what(), "TProperties: Key: bad no TDateTime value, format: HH:mm:ss.");
  }
  EXPECT_DOUBLE_EQ(p.getTime("bad", 0.25), 0.25);

  if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
    EXPECT_DOUBLE_EQ(p.getDouble("c"), 1.5);
    EXPECT_DOUBLE_EQ(p.getDouble("d", 9.0), 9.0);
    EXPECT_DOUBLE_EQ(p.getTime("t"), (13 * 60 + 45) / 1440.0);
  }
  std::setlocale(LC_ALL, "C.UTF-8");
}

TEST_F(PropertiesTest, StoredFileLoadsBack) {
  TProperties p;
  p.setProperty("one", "1");
  p.setProperty("spaced", " padded ");
  p.setProperty("with blank", "v");
  p.storeProperties(dir.file("s.properties"), "header");
  std::string text = TempDir::read(dir.file("s.properties"));
  EXPECT_EQ(text.rfind("# header\r\n", 0), 0u);
  EXPECT_NE(text.find("one = 1\r\n"), std::string::npos);
  TProperties back(dir.file("s.properties"));
  EXPECT_EQ(back.getString("one"), "1");
  EXPECT_EQ(back.getString("spaced"), "padded");
  EXPECT_EQ(back.getString("with"), "blank = v");
}

TEST_F(PropertiesTest, OwningAndNonOwningTables) {
  TStringtable owning;
  owning.put("k", new TString("v1"));
  EXPECT_EQ(owning.put("k", new TString("v2")), nullptr);  // v1 freed by the table
  owning.replaceValue("k", "v3");
  EXPECT_EQ(owning.get("k")->toString(), "v3");

  TStringtable borrowing(false);
  TString value("mine");
  borrowing.put("k", &value);
  EXPECT_EQ(borrowing.remove("k"), &value);
  EXPECT_EQ(borrowing.size(), 0);
  borrowing.put("k", &value);
  EXPECT_EQ(borrowing.put("k", &value), &value);
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { owning.put("nil", nullptr); }),
            "TStringtable.put: Object is nil.");
  EXPECT_FALSE(owning.containsKey("nil"));
  auto keys = owning.keys();
  auto values = owning.values();
  ASSERT_EQ(keys->size(), 1);
  EXPECT_EQ(values->size(), 1);
  auto copy = cloneOf(owning);
  EXPECT_EQ(copy->className(), "TStringtable");
  EXPECT_EQ(copy->get("k")->toString(), "v3");
  EXPECT_NE(copy->get("k"), owning.get("k"));
}

TEST_F(PropertiesTest, TableRoundTripsThroughAnObjectFile) {
  TProperties p;
  p.setProperty("a", "1");
  p.setProperty("b", "2");
  p.store(dir.file("p.dat"));
  TProperties back;
  back.load(dir.file("p.dat"));
  EXPECT_EQ(back.getString("a"), "1");
  EXPECT_EQ(back.getString("b"), "2");
}

TEST(SystemProperties, ReadFromTheCurrentDirectory) {
  TempDir dir;
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  EXPECT_EQ(TSystem::getProperty("system.host", "unknown"), "");
  dir.write("system.properties", "system.host = alpha\n");
  EXPECT_EQ(TSystem::getProperty(TSystem::hostKey(), "unknown"), "alpha");
  EXPECT_EQ(TSystem::getProperty(TSystem::hostDisplayKey(), "unknown"), "unknown");
  dir.write("system.properties", "system.host = beta\n");
  EXPECT_EQ(TSystem::getProperty("system.host", "unknown"), "beta");
  ASSERT_EQ(::chdir(old), 0);
}

TEST(SystemProperties, ExecutableLocation) {
  std::string app = TSystem::getApplicationPath();
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(app.back(), '/');
  EXPECT_EQ(TSystem::getExecutablePath().rfind(app, 0), 0u);
  TSystem::setApplicationPath("/tmp/settings");
  EXPECT_EQ(TSystem::getApplicationPath(), "/tmp/settings/");
  TSystem::setApplicationPath("");
  EXPECT_EQ(TSystem::getApplicationPath(), app);
  // The name comes from the file name alone, whatever dots the folders hold.
  EXPECT_EQ(TSystem::configurationFileName("/opt/morvane-1.2/morvane"), "morvane.properties");
  EXPECT_EQ(TSystem::configurationFileName("/home/u/.local/libexec/morvane/morvane"), "morvane.properties");
  EXPECT_EQ(TSystem::configurationFileName("/opt/a.b/morvane.bin.x"), "morvane.bin.properties");
}

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SystemProperties, ConfigurationLookupOrder) {
  TempDir dir;
  const std::string user = dir.file("user"), first = dir.file("first"), second = dir.file("second");
  // A folder of the test's own stands for the executable's, so nothing is
  // written beside the test binary.
  std::filesystem::create_directories(dir.file("app"));
  TSystem::setApplicationPath(dir.file("app"));
  struct Restore {
    ~Restore() { TSystem::setApplicationPath(""); }
  } restore;
  const std::string app = TSystem::getApplicationPath();
  ScopedEnvironment home("HOME", dir.path().c_str());
  ScopedEnvironment userConfig("XDG_CONFIG_HOME", nullptr);
  ScopedEnvironment systemConfig("XDG_CONFIG_DIRS", nullptr);
  EXPECT_EQ(TSystem::configurationFolders(),
            (std::vector<std::string>{dir.path() + "/.config/morvane/", app, "/etc/xdg/morvane/"}));
  ::setenv("XDG_CONFIG_HOME", (user + "/").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", (first + ":relative::" + second).c_str(), 1);
  EXPECT_EQ(TSystem::configurationFolders(),
            (std::vector<std::string>{user + "/morvane/", app, first + "/morvane/", second + "/morvane/"}));

  // The first folder holding the main file wins; without one, the executable's.
  const std::string name = TSystem::configurationFileName(TSystem::getExecutablePath());
  EXPECT_EQ(TSystem::getConfigurationPath(), app);
  for (const std::string& base : {second, first, user}) {
    std::filesystem::create_directories(base + "/morvane");
    dir.write(base.substr(dir.path().size() + 1) + "/morvane/debug.properties", "");
  }
  EXPECT_EQ(TSystem::getConfigurationPath(), app) << "debug.properties alone does not count";
  dir.write("second/morvane/" + name, "");
  EXPECT_EQ(TSystem::getConfigurationPath(), second + "/morvane/");
  dir.write("first/morvane/" + name, "");
  EXPECT_EQ(TSystem::getConfigurationPath(), first + "/morvane/");
  std::ofstream(app + name) << "";
  EXPECT_EQ(TSystem::getConfigurationPath(), app);
  EXPECT_EQ(TProperties::defaultFileName(), app + name);
  dir.write("user/morvane/" + name, "");
  EXPECT_EQ(TSystem::getConfigurationPath(), user + "/morvane/");
}

TEST(Conversions, IntegerEdgeCases) {
  EXPECT_EQ(convert::toInt32("0x0"), 0);
  EXPECT_EQ(convert::toInt32("-$10"), -16);
  EXPECT_THROW(convert::toInt32(""), ConvertException);
  EXPECT_THROW(convert::toInt32("-"), ConvertException);
  EXPECT_THROW(convert::toInt32("$"), ConvertException);
  EXPECT_THROW(convert::toInt32("$FFFFFFFF"), ConvertException);
  EXPECT_THROW(convert::toInt32(" 1"), ConvertException);
  EXPECT_THROW(convert::toInt32("1.0"), ConvertException);
  EXPECT_THROW(convert::toDouble("inf"), ConvertException);
  EXPECT_THROW(convert::toDouble("0x1p3"), ConvertException);
  EXPECT_THROW(convert::toDouble("1e999"), ConvertException);
}

}  // namespace
