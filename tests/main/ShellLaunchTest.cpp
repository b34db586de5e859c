// Starting a connection's target: shell-like splitting without a shell, and
// the launcher's failure reports, with real child processes.
#include "main/ShellLaunch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "basis/Exceptions.h"
#include "main/ShellWords.h"
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
}

}  // namespace
