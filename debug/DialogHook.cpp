#include "debug/DialogHook.h"

#include <cstdio>
#include <string>

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

std::string dialogText(const std::string& text) {
  if (text.size() <= DIALOG_TEXT_LIMIT) return text;
  size_t end = DIALOG_TEXT_LIMIT;
  // Back over continuation bytes to the start of the character that was cut.
  for (size_t back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back) --end;
  return text.substr(0, end) + "\r\n[... text cut: " + std::to_string(end) + " of " +
         std::to_string(text.size()) + " bytes shown]";
}

DialogHook setDialogHook(DialogHook hook) {
  DialogHook previous = std::move(installedHook());
  installedHook() = std::move(hook);
  return previous;
}

void showDialog(DialogKind kind, const std::string& text) {
  // A copy, so a hook that installs another hook while it runs stays alive.
  DialogHook hook = installedHook();
  const std::string shown = dialogText(text);
  if (hook) {
    hook(kind, shown);
  } else {
    noticeOnStandardError(kind, shown);
  }
}
