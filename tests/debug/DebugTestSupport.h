#pragma once
// Helpers of the diagnostics tests.

#include <string>
#include <utility>
#include <vector>

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
