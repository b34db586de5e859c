// Starting a connection's target: shell-like splitting without a shell, and
// the launcher's failure reports, with real child processes.
#include "main/ShellLaunch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QObject>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "basis/Exceptions.h"
#include "main/ShellWords.h"
#include "tests/support/EventLoop.h"
#include "tests/support/TempDir.h"

namespace {

using Words = std::vector<std::string>;
using namespace std::chrono_literals;

TEST(ShellWords, SplitsLikeAShellWithoutInterpretingAnything) {
  EXPECT_EQ(splitShellWords("xmessage -title \"Dial Status\" hi"), (Words{"xmessage", "-title", "Dial Status", "hi"}));
  EXPECT_EQ(splitShellWords("  a\t b \n"), (Words{"a", "b"}));
  EXPECT_EQ(splitShellWords(""), Words{});
  EXPECT_EQ(splitShellWords("'it'\\''s' \"a\\\"b\\\\c\\d\" x\\ y"), (Words{"it's", "a\"b\\c\\d", "x y"}));
  EXPECT_EQ(splitShellWords("'' \"\" a''b"), (Words{"", "", "ab"}));
  EXPECT_EQ(splitShellWords("one\\\ntwo '$HOME' \"$(id)\""), (Words{"onetwo", "$HOME", "$(id)"}));
  EXPECT_EQ(splitShellWords("true;rm -rf *|cat `x` ~ &"), (Words{"true;rm", "-rf", "*|cat", "`x`", "~", "&"}));
  EXPECT_EQ(splitShellWords("\xff\xfe 'caf\xe9'"), (Words{"\xff\xfe", "caf\xe9"}));
  for (const char* bad : {"a 'b", "a \"b", "a \\", "\"a\\\""}) {
    EXPECT_THROW(splitShellWords(bad), IllegalArgumentException) << bad;
  }
}

class ShellLaunchTest : public ::testing::Test {
 protected:
  // An executable script at `name` that writes its arguments, one a line, to
  // `name`.out once it runs.
  std::string recorder(const std::string& name) {
    std::string path = dir.write(name, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  // What the recorder at `path` wrote; "" when it did not run within 10 s.
  static std::string recorded(const std::string& path) {
    for (int i = 0; i < 200 && !std::filesystem::exists(path + ".out"); ++i) std::this_thread::sleep_for(50ms);
    return TempDir::read(path + ".out");
  }
  static std::string quoted(const std::string& path) { return "'" + path + "'"; }

  TempDir dir;
};

TEST_F(ShellLaunchTest, ProgramsRunWithTheirArgumentsAndNoShell) {
  std::string program = recorder("record");
  std::string marker = dir.write("marker", "keep");
  shellLaunch(quoted(program) + " -title \"Dial Status\" 'a b'\\ c ';rm' -f " + quoted(marker) + " $(id) *");
  EXPECT_EQ(recorded(program), "-title\nDial Status\na b c\n;rm\n-f\n" + marker + "\n$(id)\n*\n");
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the target ran something besides its program";

  // A plain executable path runs as it is, with spaces and whatever bytes.
  std::string odd = recorder("with space \xff\xfe");
  shellLaunch(odd);
  EXPECT_EQ(recorded(odd), "\n") << "no arguments";

  // A command found on PATH.
  std::string folder = dir.file("bin");
  std::filesystem::create_directory(folder);
  std::string onPath = recorder("bin/dial-up");
  std::string oldPath = std::getenv("PATH");
  ::setenv("PATH", ("/nonexistent::" + folder + ":" + oldPath).c_str(), 1);
  EXPECT_EQ(findExecutable("dial-up"), folder + "/dial-up");
  EXPECT_EQ(findExecutable("no-such-command-here"), "");
  shellLaunch("dial-up now");
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(recorded(onPath), "now\n");
}

TEST_F(ShellLaunchTest, TargetsThatCannotStartAreReported) {
  std::string notAProgram = dir.write("garbage", "\x7f" "ELF but not really");
  ::chmod(notAProgram.c_str(), 0755);
  const std::vector<std::string> targets = {
      "",
      "no-such-program-anywhere --flag",
      dir.file("missing") + " arg",
      dir.file("missing-document.pdf"),
      quoted(notAProgram) + " arg",
      notAProgram,
  };
  for (const std::string& target : targets) {
    EXPECT_THROW(shellLaunch(target), IOException) << target;
  }
  EXPECT_THROW(shellLaunch("xmessage 'unbalanced"), IllegalArgumentException);
  // The reason comes first: a dialog shows only the start of a long target.
  try {
    shellLaunch(notAProgram + std::string(100000, ' '));
    ADD_FAILURE() << "started";
  } catch (const IOException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("shellLaunch: Exec format error: cannot start " + notAProgram, 0), 0u)
        << std::string(e.what()).substr(0, 200);
  }
  // A NUL byte would cut the target short: refused, not cut.
  try {
    shellLaunch(std::string("xmessage hi\0 -rf", 16));
    ADD_FAILURE() << "started";
  } catch (const IllegalArgumentException& e) {
    EXPECT_EQ(std::string(e.what()), "shellLaunch: The target holds a NUL byte (at byte 12, shown as ?): xmessage hi? -rf");
  }
}

// Documents and URLs go to the desktop's opener: a name that starts with
// "-" reaches it as a file, and its failure after it started is reported
// on the event loop.
TEST_F(ShellLaunchTest, TheOpenerGetsNamesSafelyAndItsFailureIsReported) {
  std::string folder = dir.file("bin");
  std::filesystem::create_directory(folder);
  std::string opener = recorder("bin/xdg-open");
  std::string oldPath = std::getenv("PATH");
  ::setenv("PATH", (folder + ":" + oldPath).c_str(), 1);
  const std::filesystem::path oldFolder = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  dir.write("-document.txt", "x");
  QObject context;
  std::vector<std::string> failures;
  auto record = [&failures](const std::string& failure) { failures.push_back(failure); };
  shellLaunch("-document.txt", &context, record);
  EXPECT_EQ(recorded(opener), "./-document.txt\n");
  runEventLoopFor(300);
  EXPECT_TRUE(failures.empty()) << "the opener succeeded";

  dir.write("bin/xdg-open", "#!/bin/sh\nexit 4\n");
  shellLaunch("https://example.invalid/", &context, record);
  ASSERT_TRUE(runEventLoopUntil([&] { return !failures.empty(); }));
  EXPECT_EQ(failures[0], "shellLaunch: The desktop's opener failed (exit status 4, the action failed): " + opener +
                             " for https://example.invalid/");
  {
    QObject gone;
    shellLaunch("https://example.invalid/", &gone, record);
  }
  runEventLoopFor(300);
  EXPECT_EQ(failures.size(), 1u) << "nothing is reported once the context is gone";
  std::filesystem::current_path(oldFolder);
  ::setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
