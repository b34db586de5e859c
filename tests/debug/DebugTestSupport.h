#pragma once
// Helpers of the diagnostics tests.

#include <string>
#include <utility>
#include <vector>

#include "basis/TSystem.h"
#include "debug/DebugStartup.h"
#include "debug/DialogHook.h"

// Installs a dialog hook that records every dialog instead of showing it,
// and restores the previous hook when it goes.
class DialogRecorder {
 public:
  DialogRecorder() {
    previous_ = setDialogHook([this](DialogKind kind, const std::string& text) {
      dialogs.emplace_back(kind, text);
    });
  }
  ~DialogRecorder() { setDialogHook(std::move(previous_)); }
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;

  std::vector<std::pair<DialogKind, std::string>> dialogs;

 private:
  DialogHook previous_;
};

// Gives a test `folder` as its application folder, where channels look for
// "debug.properties", and diagnostics without channels from start to end.
class OwnApplicationFolder {
 public:
  explicit OwnApplicationFolder(const std::string& folder) {
    TSystem::setApplicationPath(folder);
    releaseDebug();
    startupDebug();
  }
  ~OwnApplicationFolder() {
    releaseDebug();
    startupDebug();
    TSystem::setApplicationPath("");
  }
  OwnApplicationFolder(const OwnApplicationFolder&) = delete;
  OwnApplicationFolder& operator=(const OwnApplicationFolder&) = delete;
};

// Settings that keep channels off standard output, then `lines`.
inline std::string quietDebugSettings(const std::string& lines) {
  return "system.debug.tracesystemout = false\nsystem.debug.errorsystemout = false\n" + lines;
}
