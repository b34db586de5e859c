#pragma once
// Hands a connection's target to the desktop and reports when that fails.
//
// The target is taken as bytes, whatever the locale's encoding:
// - an executable file is started detached, without arguments;
// - an existing file or folder, or a URL, goes to the desktop's opener;
// - otherwise it is a command line, split like a shell would split it
//   (see ShellWords.h) but never run by a shell: when its first word is an
//   executable file (a word with "/") or a command found on PATH, that
//   program is started detached with the other words as its arguments.
// Anything else, and a program that cannot be started, raises IOException
// (IllegalArgumentException for unbalanced quoting, and for a target that
// holds a NUL byte, which no program could be given). A started program is
// not watched: what it does after it started is not reported here. The
// desktop's opener is watched when `context` is given: when it ends with a
// failure (it found no application, say), `onOpenerFailed` runs on the
// event loop with the reason, unless `context` is gone by then.

#include <QObject>
#include <functional>
#include <string>

void shellLaunch(const std::string& target, QObject* context = nullptr,
                 std::function<void(const std::string& failure)> onOpenerFailed = {});

// The executable file `command` names: itself when it holds a "/", else the
// first match in $PATH. Empty when there is none.
std::string findExecutable(const std::string& command);
