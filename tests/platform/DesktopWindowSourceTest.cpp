// The window sources of KDE Plasma (KWin 5.27, 6.3 and 6.7) and GNOME (Shell
// 43, 48, 50 and 51) on real headless sessions: what WindowSource::open()
// gives a program of the desktop's user (the probe), and what it sees of
// native Wayland and XWayland windows as they open, change their titles and
// close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/WindowSourceProbe.h"

namespace {

using Desktop = DesktopSession::Desktop;

const char* const STATUS = "Dial-up status";

std::string nameOf(const ::testing::TestParamInfo<Desktop>& info) {
  std::string name = DesktopSession::name(info.param);
  std::erase(name, '-');
  return name;
}

class DesktopWindowsTest : public ::testing::TestWithParam<Desktop> {};

// A title change before the match, and windows that share one title: KWin 5
// tells those apart with " <2>" in what it shows, which must not reach the
// watcher; KWin 6 and GNOME Shell leave them alike.
TEST_P(DesktopWindowsTest, ListFollowsOpensTitlesAndCloses) {
  DesktopSession session(GetParam());
  WindowSourceProbe probe(session);
  EXPECT_EQ(probe.source(), session.isKWin() ? "kwin-script" : "gnome") << probe.output();
  EXPECT_EQ(probe.notice(), "");

  DesktopSession::Window native = session.openNativeWindow("Preparing the connection");
  ASSERT_TRUE(probe.waitForCount("Preparing the connection", 1)) << probe.output();
  session.setTitle(native, STATUS);
  ASSERT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
  EXPECT_EQ(probe.count("Preparing the connection"), 0u);

  pid_t first = session.openXWindow(STATUS);
  pid_t second = session.openXWindow(STATUS);
  EXPECT_TRUE(probe.waitForCount(STATUS, 3)) << probe.output();
  session.close(native);
  EXPECT_TRUE(probe.waitForCount(STATUS, 2)) << probe.output();
  session.kill(first);
  session.kill(second);
  EXPECT_TRUE(probe.waitForCount(STATUS, 0)) << probe.output();
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopWindowsTest, ::testing::ValuesIn(DesktopSession::matrix()), nameOf);

class KWinScriptTest : public ::testing::TestWithParam<Desktop> {};

bool scriptLoaded(DesktopSession& session, const std::string& name) {
  return session
             .run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin", "/Scripting",
                   "org.kde.kwin.Scripting.isScriptLoaded", "string:" + name})
             .find("boolean true") != std::string::npos;
}

// Calls the source's object in the process `pid` as another program of the
// session would, with a report that a window opened; returns what came back.
std::string reportAsAnotherProgram(DesktopSession& session, pid_t pid) {
  return session.run(
      {"sh", "-c",
       "for n in $(dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames |"
       "           sed -n 's/.*string \"\\(:[^\"]*\\)\".*/\\1/p'); do"
       "  pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
       "        org.freedesktop.DBus.GetConnectionUnixProcessID string:$n 2>/dev/null | sed -n 's/.*uint32 //p');"
       "  [ \"$pid\" = \"$0\" ] && dbus-send --session --print-reply --dest=$n /org/morvane/KWinWindowList "
       "    org.morvane.KWinWindowList1.Event string:'{\"k\":1,\"e\":\"open\",\"id\":\"{f}\",\"t\":\"Fake\"}';"
       "done 2>&1",
       std::to_string(pid)});
}

// Only KWin feeds the list. A killed program leaves no script behind. Where
// KWin cannot run the script (here it cannot read the file: the program's
// runtime folder is a private one), the source falls back to KWin's window
// search.
TEST_P(KWinScriptTest, GoesWithItsProgramAndSearchStandsInWhereItCannotRun) {
  DesktopSession session(GetParam());
  {
    WindowSourceProbe probe(session);
    const std::string script = probe.script();
    ASSERT_TRUE(scriptLoaded(session, script)) << script;
    EXPECT_NE(reportAsAnotherProgram(session, probe.pid()).find("AccessDenied"), std::string::npos);
    session.openXWindow("Real");
    EXPECT_TRUE(probe.waitForCount("Real", 1));
    EXPECT_EQ(probe.count("Fake"), 0u) << probe.output();
    probe.kill();
    EXPECT_TRUE(childprocess::waitFor([&] { return !scriptLoaded(session, script); }, 10000))
        << "the script's watchdog unloads it";
  }
  const std::string hidden = session.programs() + "/private-runtime";
  const std::string display = session.variable("XDG_RUNTIME_DIR") + "/" + session.variable("WAYLAND_DISPLAY");
  WindowSourceProbe probe(session, {"  dial-up STATUS", "Verbindung"},
                          {"XDG_RUNTIME_DIR=" + hidden, "WAYLAND_DISPLAY=" + display}, session.privateFolder(hidden));
  EXPECT_TRUE(childprocess::waitFor([&] { return probe.source() == "kwin-search"; }, 30000)) << probe.output();
  DesktopSession::Window status = session.openNativeWindow(STATUS);
  session.openXWindow("Something else");
  EXPECT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
  EXPECT_EQ(probe.titles().size(), 1u) << "only windows that may match are searched for";
  session.close(status);
  EXPECT_TRUE(probe.waitForCount(STATUS, 0)) << probe.output();
}

INSTANTIATE_TEST_SUITE_P(Desktops, KWinScriptTest, ::testing::ValuesIn(DesktopSession::kwins()), nameOf);

class KWinRestartTest : public ::testing::TestWithParam<Desktop> {};

// The status window goes with the compositor; the source still sees that,
// and sees the windows of the KWin that comes back (on Plasma 6 through
// kwin_wayland_wrapper, which keeps the sockets).
TEST_P(KWinRestartTest, SeesTheCloseAndTheWindowsAfterARestart) {
  DesktopSession session(GetParam());
  WindowSourceProbe probe(session);
  DesktopSession::Window status = session.openNativeWindow(STATUS);
  ASSERT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
  session.restart();
  EXPECT_TRUE(probe.waitForCount(STATUS, 0)) << probe.output();
  session.close(status);
  DesktopSession::Window again = session.openNativeWindow(STATUS);
  EXPECT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
  session.close(again);
  EXPECT_TRUE(probe.waitForCount(STATUS, 0)) << probe.output();
}

std::vector<Desktop> restartingKWins() {
  std::vector<Desktop> kwins = DesktopSession::kwins();
  kwins.push_back(Desktop::KWin6Wrapper);
  return kwins;
}

INSTANTIATE_TEST_SUITE_P(Desktops, KWinRestartTest, ::testing::ValuesIn(restartingKWins()), nameOf);

class GnomeExtensionTest : public ::testing::TestWithParam<Desktop> {};

// A first run: nothing installed; installed while the user is logged in;
// after one log-out and log-in, Morvane switches it on itself. Until then
// the notice names the case and XWayland windows are seen.
TEST_P(GnomeExtensionTest, FromNotInstalledToRunningAfterOneRelogin) {
  DesktopSession::Setup setup;
  setup.extensionInstalled = false;
  setup.extensionEnabled = false;
  DesktopSession session(GetParam(), setup);
  {
    WindowSourceProbe probe(session);
    EXPECT_EQ(probe.source(), "x11");
    EXPECT_NE(probe.notice().find("It is not installed"), std::string::npos) << probe.notice();
    pid_t status = session.openXWindow(STATUS);
    EXPECT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
    session.kill(status);
  }
  session.installExtension();
  {
    WindowSourceProbe probe(session);
    EXPECT_NE(probe.notice().find("installed after this GNOME session began"), std::string::npos) << probe.notice();
  }
  session.restart();
  WindowSourceProbe probe(session);
  EXPECT_EQ(probe.source(), "gnome") << probe.output();
  session.openNativeWindow(STATUS);
  EXPECT_TRUE(probe.waitForCount(STATUS, 1)) << probe.output();
}

// Extensions switched off (GNOME does that after a crash of the shell): the
// notice says so. Switched on again, Morvane enables its extension, which the
// shell has found but the user never enabled, without a re-login.
TEST_P(GnomeExtensionTest, SwitchedOffThenEnabledByMorvane) {
  DesktopSession::Setup setup;
  setup.extensionEnabled = false;
  setup.settings = {"org.gnome.shell disable-user-extensions true"};
  DesktopSession session(GetParam(), setup);
  {
    WindowSourceProbe probe(session);
    EXPECT_EQ(probe.source(), "x11");
    EXPECT_NE(probe.notice().find("Extensions are switched off"), std::string::npos) << probe.notice();
  }
  session.run({"dbus-send", "--session", "--print-reply", "--dest=org.gnome.Shell", "/org/gnome/Shell",
               "org.freedesktop.DBus.Properties.Set", "string:org.gnome.Shell.Extensions",
               "string:UserExtensionsEnabled", "variant:boolean:true"});
  WindowSourceProbe probe(session);
  EXPECT_EQ(probe.source(), "gnome") << probe.output();
  EXPECT_EQ(probe.notice(), "");
}

// A GNOME newer than every version the extension names marks it out of date:
// the notice names the running version. Told to stop checking versions (what
// the README offers a user meanwhile), the shell starts it at once.
TEST_P(GnomeExtensionTest, OutOfDateUntilVersionsGoUnchecked) {
  DesktopSession::Setup setup;
  setup.extensionOutOfDate = true;
  DesktopSession session(GetParam(), setup);
  const std::string reply = session.run({"dbus-send", "--session", "--print-reply", "--dest=org.gnome.Shell",
                                         "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Get",
                                         "string:org.gnome.Shell", "string:ShellVersion"});
  const size_t quote = reply.find('"');
  ASSERT_NE(quote, std::string::npos) << reply;
  const std::string version = reply.substr(quote + 1, reply.find('"', quote + 1) - quote - 1);
  {
    WindowSourceProbe probe(session);
    EXPECT_EQ(probe.source(), "x11");
    EXPECT_NE(probe.notice().find("It is not made for this version of GNOME Shell (" + version + ")"),
              std::string::npos)
        << probe.notice();
  }
  session.run({"gsettings", "set", "org.gnome.shell", "disable-extension-version-validation", "true"});
  EXPECT_TRUE(childprocess::waitFor(
      [&] {
        return session
                   .run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                         "org.freedesktop.DBus.NameHasOwner", "string:org.morvane.WindowList"})
                   .find("boolean true") != std::string::npos;
      },
      20000));
  WindowSourceProbe probe(session);
  EXPECT_EQ(probe.source(), "gnome") << probe.output();
  EXPECT_EQ(probe.notice(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, GnomeExtensionTest, ::testing::ValuesIn(DesktopSession::gnomes()), nameOf);

}  // namespace
