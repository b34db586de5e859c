// The window title watcher against real windows on a private Xvfb.

#include "main/TWindowsIterator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "basis/Exceptions.h"
#include "basis/TStringCollection.h"
#include "tests/main/TitleLists.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/X11TestDisplay.h"

namespace {

bool eventually(const std::function<bool()>& condition) { return childprocess::waitFor(condition, 5000); }

// Runs its test with DISPLAY pointing at a fresh Xvfb.
class WindowsIteratorTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("DISPLAY", display.name().c_str(), 1); }

  X11TestDisplay display;
};

TEST(WindowsIteratorCreateTest, ChecksTheTitlesBeforeTheDisplay) {
  ::unsetenv("DISPLAY");
  try {
    TWindowsIterator iterator(nullptr, 0);
    FAIL();
  } catch (const IllegalArgumentException& e) {
    EXPECT_STREQ(e.what(), "TWindowsIterator.<init>: Titles must'nt be nil and empty.");
  }
  TStringCollection empty;
  EXPECT_THROW(TWindowsIterator(&empty, 0), IllegalArgumentException);
  auto withEmptyEntry = list({"Dial", ""});
  try {
    TWindowsIterator iterator(withEmptyEntry.get(), 0);
    FAIL();
  } catch (const IllegalArgumentException& e) {
    EXPECT_STREQ(e.what(), "TWindowsIterator.getTitleLength: Length is null.");
  }
  auto good = list({"Dial"});
  try {
    TWindowsIterator iterator(good.get(), 0);
    FAIL() << "created without a display";
  } catch (const IOException& e) {
    EXPECT_STREQ(e.what(), "X11WindowEnumerator.<init>: No X display: DISPLAY is not set.");
  }
}

TEST(WindowsIteratorCreateTest, TitleLengthIsTheShortestRawEntryInBytes) {
  EXPECT_EQ(TWindowsIterator::getTitleLength(list({"Dial", "Connection"}).get()), 4);
  EXPECT_EQ(TWindowsIterator::getTitleLength(list({" abc", "xyz"}).get()), 3) << "blanks count";
  EXPECT_EQ(TWindowsIterator::getTitleLength(list({"Connection", "abc", "xy", "abcd"}).get()), 2);
  EXPECT_EQ(TWindowsIterator::getTitleLength(list({"\xC3\x9C"}).get()), 2) << "'\xC3\x9C' is two bytes";
  EXPECT_EQ(TWindowsIterator::getTitleLength(list({" "}).get()), 1);
}

TEST_F(WindowsIteratorTest, MatchesThroughTheShortestTitleAsAPrefix) {
  display.createTitled("DIAL-UP NETWORKING");
  EXPECT_TRUE(matches({"Dial", "Connection"}));
  EXPECT_FALSE(matches({"Dial-up Networking window"})) << "longer than the window's title";

  X11TestDisplay plain;
  ::setenv("DISPLAY", plain.name().c_str(), 1);
  plain.createTitled("Connection");
  EXPECT_FALSE(matches({"Dial", "Connection"})) << "only 'Conn' is read";
  EXPECT_TRUE(matches({"connect", "CONNECTION"}));
}

TEST_F(WindowsIteratorTest, TrimsBlanksAndControlCharactersOnBothSides) {
  display.createTitled(" ab");
  EXPECT_FALSE(matches({" abc", "xyz"}));
  uint32_t abc = display.createTitled("abc");
  EXPECT_TRUE(matches({" abc", "xyz"}));
  display.destroyWindow(abc);
  display.createTitled("XYZ window");
  EXPECT_TRUE(matches({" abc", "xyz"}));
  display.createTitled("  ABC");
  EXPECT_FALSE(matches({"abc"})) << "'  A' trims to 'a'";
  display.createTitled("\t\x01" "Status\r");
  EXPECT_TRUE(matches({"\x02STATUS \x1F  \n"}));
}

TEST_F(WindowsIteratorTest, FoldsOnlyAsciiLetters) {
  display.createTitled("\xC3\xBC" "ber");  // 'über'
  EXPECT_FALSE(matches({"\xC3\x9C"})) << "'\xC3\x9C' against '\xC3\xBC'";
  EXPECT_TRUE(matches({"\xC3\xBC"}));
  display.createTitled("\xC3\x9C" "BER");
  EXPECT_TRUE(matches({"\xC3\x9C"}));
  EXPECT_TRUE(matches({"\xC3\x9C" "b"}));
}

TEST_F(WindowsIteratorTest, ABlankEntryMatchesUntitledWindows) {
  display.createTitled("Titled");
  EXPECT_FALSE(matches({" "}));
  EXPECT_TRUE(matches({"t"})) << "one letter matches either case";
  uint32_t blankStart = display.createTitled(" Titled");
  EXPECT_TRUE(matches({" "}));
  display.destroyWindow(blankStart);
  uint32_t controlStart = display.createTitled("\x07" "bell");
  EXPECT_TRUE(matches({" "}));
  display.destroyWindow(controlStart);
  display.createWindow({});
  EXPECT_TRUE(matches({" "}));
}

TEST_F(WindowsIteratorTest, CountsUnmappedWindowsAndBothTitleProperties) {
  display.createTitled("Hidden status", false);
  EXPECT_TRUE(matches({"hidden"}));
  X11TestDisplay::WindowSpec settings;
  settings.netWmName = "Net only";
  display.createWindow(settings);
  EXPECT_TRUE(matches({"net only"}));
  settings = {};
  settings.wmName = "Legacy only";
  display.createWindow(settings);
  EXPECT_TRUE(matches({"legacy"}));
  settings = {};
  settings.netWmName = "Modern";
  settings.wmName = "Ancient";
  display.createWindow(settings);
  EXPECT_TRUE(matches({"modern"}));
  EXPECT_FALSE(matches({"ancient"})) << "_NET_WM_NAME hides WM_NAME";
}

TEST_F(WindowsIteratorTest, SeenStaysUntilResetAcrossPolls) {
  auto titles = list({"Status"});
  TWindowsIterator iterator(titles.get(), 42);
  EXPECT_EQ(iterator.titleLength(), 6);
  EXPECT_EQ(iterator.ownerHandle(), 42u);
  EXPECT_FALSE(iterator.findWindow());
  EXPECT_FALSE(iterator.seen) << "a poll without match leaves it false";

  // The iterator's source learns of other clients' windows from events.
  uint32_t status = display.createTitled("status window");
  EXPECT_TRUE(eventually([&] { return iterator.findWindow(); }));
  EXPECT_TRUE(iterator.seen);
  EXPECT_TRUE(iterator.findWindow());

  display.destroyWindow(status);
  EXPECT_TRUE(eventually([&] { return !iterator.findWindow(); })) << "the window is gone";
  EXPECT_TRUE(iterator.seen) << "a poll never clears it";
  iterator.reset();
  EXPECT_FALSE(iterator.seen);
  EXPECT_FALSE(iterator.findWindow());
  EXPECT_FALSE(iterator.seen);

  // The list stays with its creator; a poll uses it as it is now.
  titles->add("Other");
  display.createTitled("Other");
  EXPECT_TRUE(eventually([&] { return iterator.findWindow(); }));
}

TEST_F(WindowsIteratorTest, FindsAnXmessageWindowUnderAWindowManager) {
  display.startWindowManager();
  pid_t status = display.spawn({"xmessage", "-title", "Dial-up status", "connected"});
  uint32_t client = display.waitForTitle("Dial-up status");
  ASSERT_NE(client, 0u);
  ASSERT_TRUE(display.waitManaged(client));

  auto titles = list({"DIAL-UP", "Verbindung"});
  TWindowsIterator iterator(titles.get(), 0);
  EXPECT_TRUE(iterator.findWindow()) << "the title sits on the client inside the frame";
  display.kill(status);
  EXPECT_TRUE(eventually([&] { return !iterator.findWindow(); }));
  EXPECT_TRUE(iterator.seen);
}

}  // namespace
