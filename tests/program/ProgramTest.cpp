// The real program on a private X server, used as a person would: choose,
// click "Verbinden", watch the status window come and go, close dialogs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/X11WindowEnumerator.h"
#include "tests/program/StatusWindowTimeline.h"
#include "tests/smtp/SmtpServers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/X11TestDisplay.h"

namespace {

using namespace std::chrono_literals;

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One installation of the program in a temporary directory: the executable
// with its configuration files beside it, run with that directory as the
// current directory.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.file("morvane");
    std::error_code error;
    std::filesystem::create_hard_link(MORVANE_PROGRAM, program_, error);
    if (error) std::filesystem::copy_file(MORVANE_PROGRAM, program_);
    writeDebugProperties("net-log.debug.tracefile = net.log\n");
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void writeConfiguration(const std::string& text) { dir_.write("morvane.properties", text); }
  void writeDebugProperties(const std::string& text) { dir_.write("debug.properties", text); }
  // A connection target: a script that shows a status window titled `title`
  // for `seconds` and leaves a marker file behind. A window that must be seen
  // needs to stay for a few polls: one poll per second, late under load.
  std::string statusScript(const std::string& title, int seconds, const std::string& name = "connect.sh") {
    std::string path = dir_.write(
        name, "#!/bin/sh\ntouch " + quote(dir_.file("started")) + "\nexec xmessage -title " +
                          quote(title) + " -timeout " + std::to_string(seconds) + " status\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }

  // Starts `program` (the test's copy by default) in `folder` (the test's
  // directory by default) with `arguments`, on the test display, with a home
  // and XDG folders of the test's own.
  void start(const std::vector<std::string>& arguments = {}, std::string program = {},
             std::string folder = {}) {
    if (program.empty()) program = program_;
    if (folder.empty()) folder = dir_.path();
    std::filesystem::create_directories(home());
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      if (::chdir(folder.c_str()) != 0) ::_exit(126);
      std::string out = dir_.file("stdout.txt");
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(out.c_str(), "a", stderr)) ::_exit(126);
      ::setenv("DISPLAY", display_.name().c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "xcb", 1);
      ::setenv("HOME", home().c_str(), 1);
      ::setenv("XDG_CONFIG_DIRS", dir_.file("xdg").c_str(), 1);
      for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) ::unsetenv(name);
      if (std::getenv("LSAN_OPTIONS") == nullptr) {
        ::setenv("LSAN_OPTIONS", "suppressions=" MORVANE_LSAN_SUPPRESSIONS, 1);
      }
      std::vector<char*> argv{program.data()};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  std::string home() const { return dir_.file("home"); }

  // Expects the program to end with `expected` within `limit`.
  void expectExit(int expected, std::chrono::milliseconds limit) {
    std::optional<int> status = waitExit(limit);
    ASSERT_TRUE(status.has_value()) << output();
    EXPECT_EQ(*status, expected) << output();
  }
  // The exit status, or nothing when the program still runs after `timeout`.
  std::optional<int> waitExit(std::chrono::milliseconds timeout) {
    std::optional<int> status = childprocess::waitExit(pid_, static_cast<int>(timeout.count()));
    if (status) pid_ = -1;
    return status;
  }

  // Runs xdotool on the test display; returns its last output line.
  std::string xdotool(const std::string& arguments) {
    std::string out = xdotoolAll(arguments);
    if (!out.empty()) out.pop_back();
    return out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
  }
  // Every output line of xdotool, each ended by a line feed.
  std::string xdotoolAll(const std::string& arguments) {
    return childprocess::shellOutput("DISPLAY=" + display_.name() + " timeout 20 xdotool " + arguments + " 2>/dev/null");
  }
  std::string waitForWindow(const std::string& titleRegex) {
    return xdotool("search --sync --onlyvisible --name " + quote(titleRegex));
  }
  void clickConnect() {
    std::string window = waitForWindow("^Morvane$");
    ASSERT_FALSE(window.empty()) << "no main window";
    xdotool("mousemove --window " + window + " 60 52 click 1");
  }
  // Types `keys` (xdotool names) into the main window.
  void typeIntoMainWindow(const std::string& keys) {
    std::string window = waitForWindow("^Morvane$");
    ASSERT_FALSE(window.empty()) << "no main window";
    xdotool("windowfocus --sync " + window);
    xdotool("key " + keys);
  }
  void clickLogCheckBox() {
    std::string window = waitForWindow("^Morvane$");
    xdotool("mousemove --window " + window + " 150 48 click 1");
  }
  // Closes one message box titled `title` with the keyboard, as a user would.
  bool closeDialog(const std::string& title) {
    std::string window = waitForWindow("^" + title + "$");
    if (window.empty()) return false;
    // Qt ignores synthetic key events sent to a window, so focus it and type.
    xdotool("windowfocus --sync " + window);
    xdotool("key Return");
    for (int i = 0; i < 100; ++i) {
      std::string all = xdotoolAll("search --onlyvisible --name " + quote("^" + title + "$"));
      if (all.find(window + "\n") == std::string::npos) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  // Connects, closes the error dialog that follows and expects the program
  // to end with status 1 within `limit`.
  void connectExpectingAFatalEnd(std::chrono::seconds limit) {
    clickConnect();
    EXPECT_TRUE(closeDialog("Error"));
    expectExit(1, limit);
  }
  std::string output() { return TempDir::read(dir_.file("stdout.txt")); }
  std::string netLog() { return TempDir::read(dir_.file("net.log")); }

  X11TestDisplay display_;
  TempDir dir_;
  std::string program_;
  pid_t pid_ = -1;
};

TEST_F(ProgramTest, ConnectionCycleLogsOpenAndCloseAndExitsNormally) {
  // Names and targets are bytes: ones no encoding knows reach the log and
  // the started file unchanged.
  writeConfiguration("interval = 1\nnames = d\xff\xfe\ndemo = x\nd\xff\xfe = " +
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
      [this] { return std::make_unique<X11WindowEnumerator>(display_.name()); },
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.configuration);
    if (c.configuration.empty()) {
      std::filesystem::remove(dir_.file("morvane.properties"));
    } else {
      writeConfiguration(c.configuration);
    }
    start();
    EXPECT_TRUE(closeDialog("Error")) << "no error report";
    EXPECT_TRUE(closeDialog("Error")) << "no configuration dialog";
    expectExit(1, 20s);
    std::string out = output();
    EXPECT_NE(out.find("morvane: FATAL ERROR: TMainForm.init: "), std::string::npos) << out;
    EXPECT_NE(out.find("\tclass: " + c.exceptionClass + "\r\n\tmessage: " + c.message), std::string::npos)
        << out;
  }
}

TEST_F(ProgramTest, EmptyWindowTitleFailsOnlyAfterTheTargetStarted) {
  writeConfiguration("names = demo\ndemo = " + statusScript("Never", 1) + "\nwindow = A,,B\n");
  start();
  connectExpectingAFatalEnd(20s);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("started")));
  std::string out = output();
  EXPECT_NE(out.find("FATAL ERROR: FATAL: TMainForm.getIterator: "), std::string::npos) << out;
  EXPECT_NE(out.find("TWindowsIterator.getTitleLength: Length is null."), std::string::npos) << out;
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

TEST_F(ProgramTest, MissingDebugPropertiesFallsBackToStandardOutput) {
  std::filesystem::remove(dir_.file("debug.properties"));
  writeConfiguration("names = demo\ndemo = " + statusScript("Dial Status", 3) + "\nwindow = Dial\n");
  start();
  // One internal-error report per channel: "morvane" and "net-log".
  EXPECT_TRUE(closeDialog("Error"));
  EXPECT_TRUE(closeDialog("Error"));
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
  // Before connecting a signal ends the program like closing its window.
  start();
  ASSERT_FALSE(waitForWindow("^Morvane$").empty());
  ::kill(pid_, SIGTERM);
  expectExit(0, 20s);
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
    start({}, bin, dir_.file("elsewhere"));
    typeIntoMainWindow(install.keys);
    expectExit(0, 40s);
    std::string log = TempDir::read(home() + "/.local/state/morvane/morvane-net.log");
    EXPECT_NE(log.find("net-log: open connection @demo\r\n"), std::string::npos) << log << output();
    EXPECT_NE(log.find("net-log: close connection @demo\r\n"), std::string::npos) << log;
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
    writeConfiguration("names = demo\ndemo = " + statusScript("Never", 1) + "\nwindow = A,,B\n");
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
  EXPECT_NE(mail.find("morvane: FATAL ERROR: FATAL: TMainForm.getIterator: \r\n\texception\r\n"
                      "\tclass: IllegalArgumentException\r\n"
                      "\tmessage: TWindowsIterator.getTitleLength: Length is null.\r\n"),
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
  std::optional<int> status;
  int closed = 0;
  auto end = std::chrono::steady_clock::now() + 90s;
  while (!(status = waitExit(200ms)) && std::chrono::steady_clock::now() < end) {
    if (!xdotool("search --onlyvisible --name '^Error$'").empty() && closeDialog("Error")) ++closed;
  }
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
}

}  // namespace
