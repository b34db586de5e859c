// The real program on a private X server, used as a person would: choose,
// click "Verbinden", watch the status window come and go, close dialogs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows/X11WindowSource.h"
#include "tests/program/ProgramFixture.h"
#include "tests/program/StatusWindowTimeline.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempDir.h"
#include "tests/support/X11TestDisplay.h"

namespace {

using namespace std::chrono_literals;

class ProgramTest : public ProgramFixture {};

TEST_F(ProgramTest, ConnectionCycleLogsOpenAndCloseAndExitsNormally) {
  // Names and targets are bytes: ones no encoding knows reach the log and
  // the started file unchanged.
  // The file starts with an editor's byte order mark.
  writeConfiguration("\xEF\xBB\xBFnames = d\xff\xfe\ninterval = 1\ndemo = x\nd\xff\xfe = " +
                     statusScript("Dial Status", 3, "connect \xff\xfe.sh") + "\nwindow = Dial\n");
  start();
  clickConnect();
  expectExit(0, 30s);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("started")));
  std::string log = netLog();
  EXPECT_EQ(countOf(log, "net-log: open connection @d\xff\xfe\r\n"), 1u) << log;
  EXPECT_EQ(countOf(log, "net-log: close connection @d\xff\xfe\r\n"), 1u) << log;
  EXPECT_LT(log.find("open connection"), log.find("close connection"));
}

TEST_F(ProgramTest, TheStatusWindowIsFollowedBetweenTheTicks) {
  writeConfiguration("interval = 5\nnames = demo\ndemo = /bin/true\nwindow = Dial Status\n");
  std::vector<uint32_t> windows;
  StatusWindowTimeline timeline{
      dir_.file("net.log"),
      [this] {
        start();
        clickConnect();
      },
      [&] { windows.push_back(display_.createTitled("Dial Status")); },
      [&] {
        display_.destroyWindow(windows.back());
        windows.pop_back();
      },
      [this] {
        ::kill(pid_, SIGKILL);
        waitExit(20s);
      },
      [this] { return waitExit(20s).value_or(-1); },
      [this] { return std::make_unique<X11WindowSource>(display_.name()); },
      "Dial Status"};
  for (bool openbox : {false, true}) {
    SCOPED_TRACE(openbox ? "under openbox" : "without a window manager");
    if (openbox) display_.startWindowManager();
    timeline.run();
  }
}

TEST_F(ProgramTest, UncheckedLogWritesNothingOnNetLog) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 3) + "\nwindow = dial\n");
  start();
  clickLogCheckBox();
  clickConnect();
  expectExit(0, 30s);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("started")));
  EXPECT_EQ(netLog(), "");
}

TEST_F(ProgramTest, InvalidConfigurationsAreReportedAndEndWithStatusOne) {
  struct Case {
    std::string configuration;
    std::string exceptionClass;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "InvalidPropertiesException", "TProperty: Textfile: "},
      {"interval = 0\nnames = a\na = x\nwindow = w\n", "IllegalArgumentException",
       "Interval must be greater as or equal one second."},
      {"names = , ,\nwindow = w\n", "IllegalArgumentException",
       "Please define at minimum one ppp connection."},
      {"names = a,b c\na = x\nb = y\nwindow = w\n", "InvalidKeyException", "c"},
      {"names = a\na = x\nwindow =  \n", "IllegalArgumentException",
       "The Window Title string must contains at minimum one title."},
      {"names = a\na = x\n", "InvalidKeyException", "window"},
      // Values that are present but wrong fail before anything starts.
      {"names = a\na = x\nwindow = Title,\n", "IllegalArgumentException",
       "Key: window holds an empty title (a comma at the start or end, or two in a row): 'Title,'."},
      {"names = a\na = x\nwindow = A,,B\n", "IllegalArgumentException", "Key: window holds an empty title"},
      {"interval = 5s\nnames = a\na = x\nwindow = w\n", "IllegalPropertyValueException",
       "TProperties: Key: interval no integer value."},
      {"interval.warnings = 99999999999\nnames = a\na = x\nwindow = w\n", "IllegalPropertyValueException",
       "TProperties: Key: interval.warnings no integer value."},
      // The titles may be left out only when every connection has an interface.
      {"names = a b\na = x\nb = y\na.interface = ppp0\n", "InvalidKeyException", "window"},
      {"names = a\na = x\na.interface = ppp*0\n", "IllegalPropertyValueException",
       "InterfacePattern: Key: a.interface with value 'ppp*0' is no interface name: '*' may only stand at its end."},
      // A NetworkManager profile is activated, not started, and watched alone.
      {"names = a\na = x\na.networkmanager = VPN\n", "IllegalArgumentException",
       "Keys: a and a.networkmanager: a connection starts a target or activates a NetworkManager profile, not both."},
      {"names = a\na.networkmanager = VPN\na.interface = tun0\n", "IllegalArgumentException",
       "Keys: a.interface and a.networkmanager: a NetworkManager connection is watched through its profile alone."},
      // Profile types alone with no NetworkManager to list them: nothing to offer.
      {"networkmanager.types = vpn\n", "IllegalArgumentException", "Please define at minimum one ppp connection."},
  };
  environment_["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + dir_.file("no-bus");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.configuration);
    if (c.configuration.empty()) {
      std::filesystem::remove(dir_.file("morvane.properties"));
    } else {
      writeConfiguration(c.configuration);
    }
    start();
    EXPECT_TRUE(closeDialog("Fehler")) << "no error report";
    EXPECT_TRUE(closeDialog("Fehler")) << "no configuration dialog";
    expectExit(1, 20s);
    std::string out = output();
    EXPECT_NE(out.find("morvane: FATAL ERROR: TMainForm.init: "), std::string::npos) << out;
    EXPECT_NE(out.find("\tclass: " + c.exceptionClass + "\r\n\tmessage: " + c.message), std::string::npos)
        << out;
  }
  EXPECT_FALSE(std::filesystem::exists(home() + "/.local/state")) << "no log folder made that nothing uses";
}

TEST_F(ProgramTest, RemindsWhileConnected) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 30) +
                     "\nwindow = Dial\ninterval.warnings = 10\n");
  start();
  clickConnect();
  auto clicked = std::chrono::steady_clock::now();
  std::string reminder = waitForWindow("^Information$");
  ASSERT_FALSE(reminder.empty());
  EXPECT_GE(std::chrono::steady_clock::now() - clicked, 9s);
  EXPECT_TRUE(closeDialog("Information"));
  // The program keeps polling: it is still running.
  EXPECT_FALSE(waitExit(500ms).has_value());
}

// ---- the window's language

// The program with its English translation beside it and a private session
// bus, on which the accessibility bus is started for reading its controls
// as a screen reader would.
class ProgramLanguageTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    translation_ = dir_.file("morvane_en.qm");
    std::filesystem::copy_file(std::filesystem::path(MORVANE_PROGRAM).parent_path() / "morvane_en.qm", translation_);
    const std::string socket = dir_.file("bus");
    // The accessibility bus the session bus starts puts its socket in the
    // runtime folder, or in ~/.cache/at-spi without one: a folder of the
    // test's own keeps tests that run side by side off each other's socket.
    const std::string runtime = dir_.file("runtime");
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    bus_ = childprocess::spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket},
                               {"XDG_RUNTIME_DIR=" + runtime});
    ASSERT_TRUE(childprocess::waitFor([&] { return std::filesystem::exists(socket); }, 10000)) << "no session bus";
    busAddress_ = "unix:path=" + socket;
    writeConfiguration("names = demo\ndemo = /bin/true\nwindow = Dial Status\n");
  }
  void TearDown() override {
    ProgramTest::TearDown();
    if (bus_ > 0) childprocess::stop(bus_);
  }

  // What a user sees in one run under `language`: the controls before and
  // while connected ("role: name" lines), the taskbar title while connected,
  // and the connection log with its digits (the time stamps) masked.
  struct Seen {
    std::string controls, title, connectedControls, log;
  };
  Seen connectUnder(const std::map<std::string, std::optional<std::string>>& language) {
    Seen seen;
    environment_ = language;
    environment_["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
    environment_["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    std::filesystem::remove(dir_.file("net.log"));
    start();
    seen.controls = controls();
    clickConnect();
    EXPECT_TRUE(childprocess::waitFor([&] { return netLog().find("open connection") != std::string::npos; }, 20000));
    // The program watches the desktop from now on: the status window comes,
    // stays for a few ticks while the texts are read, and goes.
    const auto opened = std::chrono::steady_clock::now();
    uint32_t status = display_.createTitled("Dial Status");
    seen.title = xdotool("search --sync --name '^Morvane: ' getwindowname");
    seen.connectedControls = controls();
    std::this_thread::sleep_until(opened + 3s);
    display_.destroyWindow(status);
    expectExit(0, 30s);
    seen.log = netLog();
    for (char& c : seen.log) {
      if (c >= '0' && c <= '9') c = '#';
    }
    return seen;
  }
  std::string controls() {
    return childprocess::shellOutput("DISPLAY=" + display_.name() + " DBUS_SESSION_BUS_ADDRESS=" + quote(busAddress_) +
                                     " timeout 60 /usr/bin/python3 " +
                                     quote(std::string(MORVANE_SOURCE_DIR) + "/tests/support/control-names.py") + " " +
                                     std::to_string(pid_) + " 2>&1");
  }

  const std::string german = "push button: Verbinden\ncheck box: Log schreiben\n";
  const std::string germanConnected = "push button: Verbunden\ncheck box: Log schreiben\n";
  const std::string english = "push button: Connect\ncheck box: Write log\n";
  const std::string englishConnected = "push button: Connected\ncheck box: Write log\n";
  std::string translation_;
  pid_t bus_ = -1;
  std::string busAddress_;
};

// German for German, C, POSIX and no language; English for any other first
// language. The connection log is the same in every language.
TEST_F(ProgramLanguageTest, TheWindowSpeaksTheUsersLanguageAndTheLogStaysTheSame) {
  struct Case {
    std::string label;
    std::map<std::string, std::optional<std::string>> language;
    bool english;
  };
  const std::vector<Case> cases = {
      {"LANG=en_US.UTF-8", {{"LANG", "en_US.UTF-8"}}, true},
      {"LANG=de_DE.UTF-8", {{"LANG", "de_DE.UTF-8"}}, false},
      {"LANG=C", {{"LANG", "C"}}, false},
      {"no language", {}, false},
      {"LANGUAGE=fr:en", {{"LANGUAGE", "fr:en"}}, true},
  };
  std::optional<std::string> firstLog;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Seen seen = connectUnder(c.language);
    EXPECT_EQ(seen.controls, c.english ? english : german);
    EXPECT_EQ(seen.title, c.english ? "Morvane: [Connected to demo]" : "Morvane: [Verbunden mit demo]");
    EXPECT_EQ(seen.connectedControls, c.english ? englishConnected : germanConnected);
    EXPECT_NE(seen.log.find("net-log: close connection @demo\r\n"), std::string::npos) << seen.log;
    if (!firstLog) firstLog = seen.log;
    EXPECT_EQ(seen.log, *firstLog);
  }
}

// A translation that is missing, cut short or no translation at all leaves German.
TEST_F(ProgramLanguageTest, WithoutAReadableTranslationTheWindowStaysGerman) {
  const std::string built = TempDir::read(translation_);
  ASSERT_GT(built.size(), 64u);
  for (const std::optional<std::string>& content :
       {std::optional<std::string>(), std::optional<std::string>(built.substr(0, built.size() / 2)),
        std::optional<std::string>("not a translation, and long enough to look like one: 0123456789abcdef")}) {
    SCOPED_TRACE(content ? "broken: " + content->substr(0, 16) : std::string("missing"));
    std::filesystem::remove(translation_);
    if (content) dir_.write("morvane_en.qm", *content);
    Seen seen = connectUnder({{"LANG", "en_US.UTF-8"}});
    EXPECT_EQ(seen.controls, german);
    EXPECT_EQ(seen.title, "Morvane: [Verbunden mit demo]");
    EXPECT_EQ(seen.connectedControls, germanConnected);
  }
}

TEST_F(ProgramTest, MissingDebugPropertiesFallsBackToStandardOutput) {
  std::filesystem::remove(dir_.file("debug.properties"));
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 3) + "\nwindow = Dial\n");
  start();
  // One internal-error report per channel: "morvane" and "net-log".
  EXPECT_TRUE(closeDialog("Fehler"));
  EXPECT_TRUE(closeDialog("Fehler"));
  clickConnect();
  expectExit(0, 30s);
  std::string out = output();
  EXPECT_EQ(countOf(out, "DEBUG: INTERNAL ERROR: method: <TChannel.refresh>"), 2u) << out;
  EXPECT_NE(out.find("net-log: open connection @demo"), std::string::npos) << out;
  EXPECT_NE(out.find("net-log: close connection @demo"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir_.file("net.log")));
}

TEST_F(ProgramTest, ATargetThatCannotStartIsFatal) {
  const std::string marker = dir_.write("marker", "keep");
  writeConfiguration("names = demo\ndemo = no-such-program-here ;rm -f " + marker + "\nwindow = Dial\n");
  start();
  connectExpectingAFatalEnd(20s);
  std::string out = output();
  EXPECT_NE(out.find("FATAL ERROR: FATAL: TMainForm.sbConnectClick: "), std::string::npos) << out;
  EXPECT_NE(out.find("\tclass: IOException\r\n\tmessage: shellLaunch: No such file, URL or program: "),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST_F(ProgramTest, SignalsEndCleanlyWithTheirOwnStatusWhileConnected) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 60) + "\nwindow = Dial\n");
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signalNumber);
    std::filesystem::remove(dir_.file("net.log"));
    start();
    clickConnect();
    ASSERT_FALSE(waitForWindow("^Dial Status$").empty());
    ::kill(pid_, signalNumber);
    expectExit(3, 20s);
    std::string log = netLog();
    EXPECT_NE(log.find("open connection @demo"), std::string::npos) << log;
    EXPECT_EQ(log.find("close connection"), std::string::npos) << "the connection may still be up";
    xdotool("search --name '^Dial Status$' windowkill");
  }
  // Before connecting a signal ends the program like closing its window,
  // also one that comes the moment the program can take it, before its
  // window or even its connection to the display exists.
  start();
  ASSERT_FALSE(waitForWindow("^Morvane$").empty());
  ::kill(pid_, SIGTERM);
  expectExit(0, 20s);
  start();
  ASSERT_TRUE(childprocess::waitFor([this] { return catchesTermination(); }, 10000));
  ::kill(pid_, SIGTERM);
  expectExit(0, 20s);
}

// The X server ends while connected: a report, and the status of an end
// while connected.
TEST_F(ProgramTest, TheDisplayEndingWhileConnectedIsReported) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 60) + "\nwindow = Dial\n");
  start();
  clickConnect();
  ASSERT_FALSE(waitForWindow("^Dial Status$").empty());
  display_.stopServer();
  expectExit(3, 20s);
  std::string out = output();
  EXPECT_NE(out.find("morvane: FATAL ERROR: main: "), std::string::npos) << out;
  EXPECT_NE(out.find("\tclass: IOException\r\n\tmessage: The connection to the display broke: The X11 connection broke"),
            std::string::npos)
      << out;
}

// Log files that would block, that hit the file size limit, or whose lock
// another process holds while stopped: each is reported or waited out
// without holding the connection up, and the cycle ends normally.
TEST_F(ProgramTest, LogFilesThatBlockFailOrAreLockedDoNotStopTheCycle) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 3) + "\nwindow = Dial\n");
  const std::string fifo = dir_.file("net.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  {
    SCOPED_TRACE("a FIFO without a reader");
    writeDebugProperties("net-log.debug.tracefile = " + fifo + "\n");
    start();
    clickConnect();
    int closed = 0;
    std::optional<int> status = exitClosingDialogs(40s, &closed);
    ASSERT_TRUE(status.has_value()) << output();
    EXPECT_EQ(*status, 0) << output();
    EXPECT_GE(closed, 2) << "a report for each entry";
    EXPECT_GE(countOf(output(), "File '" + fifo + "' is a FIFO, not a regular file."), 2u) << output();
  }
  {
    SCOPED_TRACE("the file size limit");
    const rlim_t limit = 1 << 20;
    const std::string full = dir_.write("net.log", std::string(limit - 10, 'x'));
    fileSizeLimit_ = limit;
    writeDebugProperties("net-log.debug.tracefile = net.log\n");
    std::filesystem::remove(dir_.file("started"));
    start();
    clickConnect();
    std::optional<int> status = exitClosingDialogs(40s);
    fileSizeLimit_ = RLIM_INFINITY;
    ASSERT_TRUE(status.has_value()) << output();
    EXPECT_EQ(*status, 0) << output();
    EXPECT_TRUE(std::filesystem::exists(dir_.file("started")));
    EXPECT_GE(countOf(output(), "TTextFile.writeln: File too large"), 2u) << output();
    EXPECT_EQ(std::filesystem::file_size(dir_.file("net.log")), limit - 10) << "cut back";
  }
  {
    SCOPED_TRACE("a lock held by a stopped process");
    const std::string binary = dir_.write("net.bin", "");
    writeDebugProperties("net-log.debug.binary-tracefile = net.bin\n");
    childprocess::StoppedLockHolder holder({binary});
    ASSERT_TRUE(holder.stopped());
    std::filesystem::remove(dir_.file("started"));
    start();
    clickConnect();
    // The target starts at once, and no dialog waits for anyone.
    EXPECT_TRUE(childprocess::waitFor([this] { return std::filesystem::exists(dir_.file("started")); }, 20000));
    EXPECT_EQ(xdotool("search --onlyvisible --name '^Fehler$'"), "");
    EXPECT_EQ(TempDir::read(binary), "") << "the open entry waits for the lock";
    holder.release();
    expectExit(0, 30s);
    const std::string entries = TempDir::read(binary);
    ASSERT_GE(entries.size(), 66u);
    EXPECT_EQ(entries.substr(62, 4), std::string("\x02\0\0\0", 4)) << "open and close, in the file";
    EXPECT_LT(entries.find("open connection @demo"), entries.find("close connection @demo"));
  }
}

TEST_F(ProgramTest, OptionsAndTheConfigurationFolder) {
  struct Run {
    int status;
    std::string out;
  };
  auto run = [this](const std::string& arguments) {
    std::filesystem::remove(dir_.file("stdout.txt"));
    start({arguments});
    std::optional<int> status = waitExit(20s);
    return Run{status.value_or(-1), output()};
  };
  Run version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("morvane ") + MORVANE_VERSION + "\n");
  Run unknown = run("--bogus");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out.rfind("morvane: unknown option '--bogus'", 0), 0u) << unknown.out;

  // The folder beside the program, unless the user's own holds the file.
  writeConfiguration("names = a\na = x\nwindow = w\n");
  Run help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: morvane [OPTION]...\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("NAME.interface = wg0, or ppp*\n"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("Configuration folder: " + dir_.path() + "/\n"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("  " + home() + "/.config/morvane/\n  " + dir_.path() + "/\n  " + dir_.file("xdg") +
                          "/morvane/\n"),
            std::string::npos)
      << help.out;
  std::filesystem::create_directories(home() + "/.config/morvane");
  dir_.write("home/.config/morvane/morvane.properties", "");
  help = run("-h");
  EXPECT_NE(help.out.find("Configuration folder: " + home() + "/.config/morvane/\n"), std::string::npos)
      << help.out;
}

TEST_F(ProgramTest, WithoutADisplayOneLineAndStatusOne) {
  writeConfiguration("names = a\na = x\nwindow = w\n");
  const std::string tail = "): start Morvane in a desktop session, or set DISPLAY or WAYLAND_DISPLAY to a running one\n";
  std::filesystem::create_directories(dir_.file("runtime"));
  std::filesystem::permissions(dir_.file("runtime"), std::filesystem::perms::owner_all);
  struct Case {
    std::map<std::string, std::optional<std::string>> environment;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{{"DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}},
       "morvane: cannot open a display (DISPLAY is not set, WAYLAND_DISPLAY is not set" + tail},
      {{{"DISPLAY", ":4999"}, {"QT_QPA_PLATFORM", std::nullopt}, {"WAYLAND_DISPLAY", "wayland-nowhere"}},
       "morvane: cannot open a display (no X server answers on DISPLAY=:4999, no Wayland compositor answers on "
       "WAYLAND_DISPLAY=wayland-nowhere" + tail},
      {{{"DISPLAY", ":4999"}}, "morvane: cannot open a display (no X server answers on DISPLAY=:4999" + tail},
      // The server answers, but Qt finds no such screen on it.
      {{{"DISPLAY", display_.name() + ".5"}},
       "morvane: cannot open a display: could not connect to display " + display_.name() +
           ".5; start Morvane in a desktop session, or set DISPLAY or WAYLAND_DISPLAY to a running one\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    environment_ = {{"WAYLAND_DISPLAY", std::nullopt}, {"XDG_RUNTIME_DIR", dir_.file("runtime")}};
    for (const auto& [name, value] : c.environment) environment_[name] = value;
    std::filesystem::remove(dir_.file("stdout.txt"));
    start();
    expectExit(1, 20s);
    EXPECT_EQ(output(), c.line);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("core")));
  }
  // Help and version need no display.
  environment_ = {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
  for (const char* option : {"--help", "--version"}) {
    start({option});
    expectExit(0, 20s);
  }
}

// Installs the build under a prefix given at install time, once plainly and
// once through DESTDIR into a folder with a dot in its name, and runs each
// installed program from an unrelated folder through the demo connection,
// connecting from the keyboard.
TEST_F(ProgramTest, InstalledProgramsRunTheDemoFromAnyPrefix) {
  struct Install {
    std::string environment, prefix, root, keys;
  };
  const std::vector<Install> installs = {
      {"", dir_.file("prefix-a"), dir_.file("prefix-a"), "Return"},
      {"DESTDIR=" + quote(dir_.file("stage")), "/opt/morvane-1.2", dir_.file("stage") + "/opt/morvane-1.2",
       "alt+v"},
  };
  std::filesystem::create_directories(dir_.file("elsewhere"));
  for (const Install& install : installs) {
    SCOPED_TRACE(install.prefix);
    std::string command = install.environment + " " + quote(MORVANE_CMAKE) + " --install " +
                          quote(MORVANE_BUILD_DIR) + " --prefix " + quote(install.prefix) + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::string bin = install.root + "/bin/morvane";
    ASSERT_TRUE(std::filesystem::is_symlink(bin));
    EXPECT_EQ(std::filesystem::read_symlink(bin).string().front(), '.') << "a relative link";
    std::string manifest = TempDir::read(std::string(MORVANE_BUILD_DIR) + "/install_manifest.txt");
    EXPECT_NE(manifest.find(install.prefix + "/bin/morvane\n"), std::string::npos) << manifest;
    // Installing again keeps a changed configuration; the new default goes beside it.
    const std::string configuration = install.root + "/libexec/morvane/morvane.properties";
    std::ofstream(configuration, std::ios::app) << "# changed\n";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_NE(TempDir::read(configuration).find("# changed\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(configuration + ".new"));

    std::filesystem::remove_all(home());
    // The connection log goes to the state folder: XDG_STATE_HOME, or ~/.local/state.
    stateHome_ = install.environment.empty() ? dir_.file("state") : std::string();
    const std::string stateFolder = stateHome_.empty() ? home() + "/.local/state" : stateHome_;
    // In English, from the translation in the installed data folder.
    EXPECT_TRUE(std::filesystem::is_regular_file(install.root + "/share/morvane/translations/morvane_en.qm"));
    environment_["LANG"] = "en_US.UTF-8";
    start({}, bin, dir_.file("elsewhere"));
    typeIntoMainWindow(install.keys);
    EXPECT_EQ(xdotool("search --sync --name '^Morvane: ' getwindowname"), "Morvane: [Connected to demo]");
    expectExit(0, 40s);
    std::string log = TempDir::read(stateFolder + "/morvane/morvane-net.log");
    EXPECT_NE(log.find("net-log: open connection @demo\r\n"), std::string::npos) << log << output();
    EXPECT_NE(log.find("net-log: close connection @demo\r\n"), std::string::npos) << log;
    // The installed report finds that log through the installed configuration.
    const std::string report = childprocess::shellOutput(
        "cd " + quote(dir_.file("elsewhere")) + " && env -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME=" + quote(home()) +
        (stateHome_.empty() ? std::string() : " XDG_STATE_HOME=" + quote(stateHome_)) + " XDG_CONFIG_DIRS=" +
        quote(dir_.file("xdg")) + " " + quote(install.root + "/bin/morvane-report") + " --format csv 2>&1");
    EXPECT_NE(report.find(",demo,"), std::string::npos) << report;
  }
}

// ---- error mails

class ProgramMailTest : public ProgramTest {
 protected:
  void configureMail(const std::string& port) {
    writeDebugProperties("net-log.debug.tracefile = net.log\n"
                         "system.debug.mail.enabled = true\n"
                         "morvane.debug.error-mail.recipients = admin@test.example\n");
    dir_.write("system.properties",
               "system.mail-enabled = true\nsystem.smtp-host.address = 127.0.0.1\n"
               "system.smtp-host.port = " + port + "\nsystem.from-header = Morvane <morvane@test.example>\n"
               "system.host = alpha\nsystem.host.display = desk\nsystem.host.environment = test\n");
    // A target that cannot start: a fatal report after connecting.
    writeConfiguration("names = demo\ndemo = no-such-program-here\nwindow = Never\n");
  }
};

TEST_F(ProgramMailTest, AFatalErrorIsMailedOnceBeforeTheProgramEnds) {
  AiosmtpdServer server;
  ASSERT_TRUE(server.running());
  configureMail(server.portText());
  start();
  connectExpectingAFatalEnd(30s);
  std::string mail = server.message(1);
  EXPECT_TRUE(server.message(2).empty());
  EXPECT_EQ(server.envelope(1), "MAIL FROM:<>\nRCPT TO:<admin@test.example>\n");
  const std::string sender = "\"Morvane\" <morvane@test.example>";
  EXPECT_EQ(mail.rfind("Reply-To: " + sender + "\r\nFrom: " + sender +
                           "\r\nTo: \r\nSubject: ERROR at alpha - desk (test) in morvane\r\nSender: " +
                           sender + "\r\nMime-Version: 1.0\r\n",
                       0),
            0u)
      << mail;
  const std::string separator = "___________________________________________";
  EXPECT_NE(mail.find("\r\n\r\n" + separator + "\r\nautomatically generated by varnel ...\r\n" + separator +
                      "\r\n\r\n"),
            std::string::npos)
      << mail;
  EXPECT_NE(mail.find("morvane: FATAL ERROR: FATAL: TMainForm.sbConnectClick: \r\n\texception\r\n"
                      "\tclass: IOException\r\n"
                      "\tmessage: shellLaunch: No such file, URL or program: no-such-program-here\r\n"),
            std::string::npos)
      << mail;
  EXPECT_NE(mail.find("\r\n\r\n" + separator + "\r\nDO NOT REPLY ON THIS MESSAGE\r\n"), std::string::npos)
      << mail;
  EXPECT_NE(output().find("system: TMailWriter.mailSend: Queue said error mail send."), std::string::npos)
      << output();
}

TEST_F(ProgramMailTest, AMailServerThatIsDownIsReportedAndTheProgramStillEnds) {
  configureMail(LoopbackServer::closedPort());
  start();
  clickConnect();
  // The fatal report, the failed mail and its failed retry each show an
  // error dialog; a user closes them as they come until the program ends.
  int closed = 0;
  std::optional<int> status = exitClosingDialogs(90s, &closed);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_GE(closed, 2);
  std::string out = output();
  EXPECT_GE(countOf(out, "DEBUG: INTERNAL ERROR: method: <TMailWriter.mailError(TObject)>"), 1u) << out;
  EXPECT_NE(out.find("Error 10061 @request connect"), std::string::npos) << out;
}

TEST_F(ProgramMailTest, AMailServerThatNeverAnswersDoesNotKeepTheProgramAlive) {
  ScriptedServer silent([](ScriptedServer::Peer& peer) { peer.readLine(60000); });
  configureMail(silent.portText());
  start();
  connectExpectingAFatalEnd(45s);
  EXPECT_NE(output().find("system: morvane: 1 error mail was not sent: the program waits at most 30 s for mail "
                          "when it ends."),
            std::string::npos)
      << output();
}

TEST_F(ProgramMailTest, AfterTheLoopEndedAFailedMailOpensNoDialog) {
  // The server greets only once the program has left its loop, and with 421.
  std::atomic<bool> loopEnded{false};
  ScriptedServer refusing([&](ScriptedServer::Peer& peer) {
    childprocess::waitFor([&] { return loopEnded.load(); }, 40000);
    peer.send("421 4.3.2 Service not available, closing transmission channel\r\n");
  });
  configureMail(refusing.portText());
  start();
  clickConnect();
  EXPECT_TRUE(closeDialog("Fehler")) << "no fatal report";
  // The connected window goes when the loop has ended.
  ASSERT_TRUE(childprocess::waitFor([&] { return xdotool("search --onlyvisible --name '^Morvane: '").empty(); }, 20000));
  loopEnded = true;
  // No one is at the desk from here on.
  bool dialogShown = false;
  std::optional<int> status;
  const auto end = std::chrono::steady_clock::now() + 45s;
  while (!(status = waitExit(200ms)) && std::chrono::steady_clock::now() < end) {
    if (!xdotool("search --onlyvisible --name '^Fehler$'").empty()) dialogShown = true;
  }
  ASSERT_TRUE(status.has_value()) << "the 30 s limit did not hold";
  EXPECT_EQ(*status, 1);
  EXPECT_FALSE(dialogShown);
  const std::string out = output();
  EXPECT_NE(out.find("TMailMessage.requestDone: Error 421 @request connect."), std::string::npos) << out;
  EXPECT_NE(out.find("1 error mail was not sent"), std::string::npos) << out;
}

// ---- connections watched through their network interface, with the
// program inside a network namespace of the test's own

class ProgramInterfaceTest : public ProgramTest {
 protected:
  void SetUp() override {
    if (!NetworkNamespace::available()) GTEST_SKIP() << "needs root and /dev/net/tun";
    ProgramTest::SetUp();
    net_ = std::make_unique<NetworkNamespace>();
  }
  void TearDown() override {
    ProgramTest::TearDown();
    net_.reset();
  }
  // A connection target made of shell lines.
  std::string script(const std::string& lines) {
    std::string path = dir_.write("connect.sh", "#!/bin/sh\n" + lines + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  // The connection log's line after the first one holding `part` ("" if none).
  std::string lineAfter(const std::string& log, const std::string& part) {
    size_t at = log.find(part);
    if (at == std::string::npos || (at = log.find('\n', at)) == std::string::npos) return std::string();
    return log.substr(at + 1, log.find('\n', at + 1) - at - 1);
  }
  void expectTrafficThenClose(const std::string& name, uint64_t received, uint64_t sent) {
    std::string log = netLog();
    const std::string traffic = "net-log: traffic connection @" + name + ": " + std::to_string(received) +
                                " bytes received, " + std::to_string(sent) + " bytes sent\r\n";
    EXPECT_LT(log.find("net-log: open connection @" + name + "\r\n"), log.find(traffic)) << log << output();
    EXPECT_NE(lineAfter(log, traffic).find("net-log: close connection @" + name + "\r"), std::string::npos) << log;
    EXPECT_EQ(countOf(log, "close connection"), 1u) << log;
  }

  std::unique_ptr<NetworkNamespace> net_;
};

TEST_F(ProgramInterfaceTest, AConnectionEndsWhenItsInterfaceGoesOrWasUpAlready) {
  // Started by the target, among titles that serve another connection.
  writeConfiguration("interval = 5\nnames = dial other\ndial = " + script("exec " MORVANE_TUN_HOLDER " ppp1 2") +
                     "\ndial.interface = ppp*\nother = x\nwindow = Dial\n");
  start();
  clickConnect();
  expectExit(0, 30s);
  expectTrafficThenClose("dial", 0, 0);

  // Up before connecting and set down by the target; no titles at all.
  std::filesystem::remove(dir_.file("net.log"));
  net_->holdTun("wg0");
  writeConfiguration("interval = 5\nnames = vpn\nvpn = " + script("sleep 1; ip link set wg0 down") +
                     "\nvpn.interface = wg0\n");
  start();
  clickConnect();
  expectExit(0, 30s);
  expectTrafficThenClose("vpn", 0, 0);
}

TEST_F(ProgramInterfaceTest, AnInterfaceThatNeverComesUpKeepsTheConnectionWaitingWithReminders) {
  writeConfiguration("interval = 5\nnames = dial\ndial = " + script("touch " + quote(dir_.file("started"))) +
                     "\ndial.interface = ppp7\ninterval.warnings = 10\n");
  start();
  clickConnect();
  ASSERT_FALSE(waitForWindow("^Information$").empty());
  EXPECT_TRUE(closeDialog("Information"));
  EXPECT_FALSE(waitExit(500ms).has_value());
  EXPECT_TRUE(std::filesystem::exists(dir_.file("started")));
  EXPECT_EQ(netLog().find("close connection"), std::string::npos);
}

// A real VPN: a WireGuard tunnel (userspace, over tun) to a second namespace
// across a veth pair, brought up by the connection's target.
TEST_F(ProgramInterfaceTest, AWireGuardTunnelLogsWhatWentThroughIt) {
  ::setenv("WG_I_PREFER_BUGGY_USERSPACE_TO_POLISHED_KMOD", "1", 1);
  NetworkNamespace server(false);
  // Control sockets live in one folder for the whole machine: names of this run's own.
  const std::string id = std::to_string(::getpid() % 100000);
  const std::string client = "mwc" + id, peer = "mws" + id;
  ASSERT_TRUE(net_->ip("link add va type veth peer name vb netns " + server.name()));
  ASSERT_TRUE(net_->ip("addr add 10.77.0.1/24 dev va") && net_->ip("link set va up"));
  ASSERT_TRUE(server.ip("addr add 10.77.0.2/24 dev vb") && server.ip("link set vb up"));
  for (const char* side : {"client", "server"}) {
    ASSERT_EQ(std::system(("umask 077; wg genkey >" + dir_.file(std::string(side) + ".key")).c_str()), 0);
  }
  auto publicKey = [this](const char* side) {
    std::string key = childprocess::shellOutput("wg pubkey <" + dir_.file(std::string(side) + ".key"));
    return key.substr(0, key.find('\n'));
  };
  const std::string socketOf = "/var/run/wireguard/";
  server.spawn({"wireguard-go", "-f", peer});
  ASSERT_TRUE(childprocess::waitFor([&] { return std::filesystem::exists(socketOf + peer + ".sock"); }, 10000));
  ASSERT_TRUE(server.shell("wg set " + peer + " private-key " + dir_.file("server.key") +
                           " listen-port 51820 peer " + publicKey("client") + " allowed-ips 10.78.0.1/32 && "
                           "ip addr add 10.78.0.2/24 dev " + peer + " && ip link set " + peer + " up"));
  const std::string pidFile = dir_.file("client.pid");
  writeConfiguration("interval = 5\nnames = vpn\nvpn.interface = " + client + "\nvpn = " +
                     script("wireguard-go -f " + client + " >/dev/null 2>&1 &\necho $! >" + pidFile +
                            "\nwhile [ ! -S " + socketOf + client + ".sock ]; do sleep 0.05; done\n"
                            "wg set " + client + " private-key " + dir_.file("client.key") + " peer " +
                            publicKey("server") + " allowed-ips 10.78.0.2/32 endpoint 10.77.0.2:51820\n"
                            "ip addr add 10.78.0.1/24 dev " + client + "\nip link set " + client + " up"));
  start();
  clickConnect();
  ASSERT_TRUE(childprocess::waitFor([&] { return net_->linkUp(client); }, 20000)) << output();
  pid_t tunnel = 0;
  ASSERT_TRUE(childprocess::waitFor([&] { return (tunnel = std::atoi(TempDir::read(pidFile).c_str())) > 0; }, 5000));
  net_->adopt(tunnel);
  // One datagram each way; each side answers the other's with a port
  // unreachable: 38 + 66 bytes through the tunnel in each direction.
  ASSERT_TRUE(net_->shell("bash -c \"printf 0123456789 >/dev/udp/10.78.0.2/9\""));
  ASSERT_TRUE(server.shell("bash -c \"printf 0123456789 >/dev/udp/10.78.0.1/9\""));
  ASSERT_TRUE(childprocess::waitFor(
      [&] {
        NetworkNamespace::Bytes bytes = net_->counters(client);
        return bytes.received >= 104 && bytes.sent >= 104;
      },
      10000));
  const NetworkNamespace::Bytes before = net_->counters(client);
  net_->release(tunnel);  // the VPN ends: its interface goes down, then away
  expectExit(0, 20s);
  expectTrafficThenClose("vpn", before.received, before.sent);
}

}  // namespace
