#pragma once
// What the tests of the real program on a private X server share: one
// installation of the program in a temporary directory, started and used
// as a person would (xdotool), its output and its connection log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/X11TestDisplay.h"

inline std::string quote(const std::string& s) {
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

inline size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One installation of the program in a temporary directory: the executable
// with its configuration files beside it, run with that directory as the
// current directory.
class ProgramFixture : public ::testing::Test {
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
      // No language of the tester's: the window's German texts.
      for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
      if (!stateHome_.empty()) ::setenv("XDG_STATE_HOME", stateHome_.c_str(), 1);
      if (fileSizeLimit_ != RLIM_INFINITY) {
        struct rlimit limit {fileSizeLimit_, fileSizeLimit_};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      }
      for (const auto& [name, value] : environment_) {
        if (value) {
          ::setenv(name.c_str(), value->c_str(), 1);
        } else {
          ::unsetenv(name.c_str());
        }
      }
      if (std::getenv("LSAN_OPTIONS") == nullptr) {
        ::setenv("LSAN_OPTIONS", "suppressions=" MORVANE_LSAN_SUPPRESSIONS, 1);
      }
      std::vector<char*> argv;
      for (std::string& part : launcher_) argv.push_back(part.data());
      argv.push_back(program.data());
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      if (launcher_.empty()) {
        ::execv(program.c_str(), argv.data());
      } else {
        ::execvp(argv.front(), argv.data());
      }
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
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // Connects, closes the error dialog that follows and expects the program
  // to end with status 1 within `limit`.
  void connectExpectingAFatalEnd(std::chrono::seconds limit) {
    clickConnect();
    EXPECT_TRUE(closeDialog("Fehler"));
    expectExit(1, limit);
  }
  // Waits up to `limit` for the end, closing error dialogs as a user would
  // as they come; the exit status, or nothing.
  std::optional<int> exitClosingDialogs(std::chrono::seconds limit, int* closed = nullptr) {
    std::optional<int> status;
    auto end = std::chrono::steady_clock::now() + limit;
    while (!(status = waitExit(std::chrono::milliseconds(200))) && std::chrono::steady_clock::now() < end) {
      if (!xdotool("search --onlyvisible --name '^Fehler$'").empty() && closeDialog("Fehler") && closed != nullptr) {
        ++*closed;
      }
    }
    return status;
  }
  // Whether the program catches SIGTERM already (/proc/PID/status).
  bool catchesTermination() {
    std::string status = TempDir::read("/proc/" + std::to_string(pid_) + "/status");
    size_t at = status.find("SigCgt:\t");
    return at != std::string::npos && (std::stoull(status.substr(at + 8, 16), nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
  }
  std::string output() { return TempDir::read(dir_.file("stdout.txt")); }
  std::string netLog() { return TempDir::read(dir_.file("net.log")); }

  X11TestDisplay display_;
  TempDir dir_;
  std::string program_;
  pid_t pid_ = -1;
  // XDG_STATE_HOME of the program, unset when empty; its file size limit.
  std::string stateHome_;
  rlim_t fileSizeLimit_ = RLIM_INFINITY;
  // Changes to the program's environment after the defaults (nullopt: unset).
  std::map<std::string, std::optional<std::string>> environment_;
  // The command the program is started through, with its arguments (for
  // example into a network namespace); none when empty.
  std::vector<std::string> launcher_;
};
