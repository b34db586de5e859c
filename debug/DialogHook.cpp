#include "debug/DialogHook.h"

#include <cstdio>

namespace {

DialogHook& installedHook() {
  static DialogHook hook;
  return hook;
}

void noticeOnStandardError(DialogKind kind, const std::string& text) {
  const char* title = kind == DialogKind::Error ? "Error" : "Information";
  std::fprintf(stderr, "[%s] ", title);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

DialogHook setDialogHook(DialogHook hook) {
  DialogHook previous = std::move(installedHook());
  installedHook() = std::move(hook);
  return previous;
}

void showDialog(DialogKind kind, const std::string& text) {
  // A copy, so a hook that installs another hook while it runs stays alive.
  DialogHook hook = installedHook();
  if (hook) {
    hook(kind, text);
  } else {
    noticeOnStandardError(kind, text);
  }
}
