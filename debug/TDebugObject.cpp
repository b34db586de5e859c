#include "debug/TDebugObject.h"

#include <cstdio>

#include "debug/DialogHook.h"

void TDebugObject::internalError(const std::exception* exception) const {
  internalError("unknown", exception);
}

void TDebugObject::internalError(const std::string& method,
                                 const std::exception* exception) const {
  try {
    report(internalErrorText(method, exception));
  } catch (...) {
  }
}

void TDebugObject::internalError(const std::string& message) const {
  try {
    report(internalErrorText(message));
  } catch (...) {
  }
}

std::string TDebugObject::internalErrorText(const std::string& method,
                                            const std::exception* exception) {
  std::string text = "DEBUG: INTERNAL ERROR: method: <" + method + ">";
  if (exception == nullptr) return text + " unknown exception";
  return text + "\r\n     exClass: " + exceptionClassName(*exception) +
         "\r\n     exMsg:   " + exception->what();
}

std::string TDebugObject::internalErrorText(const std::string& message) {
  return "DEBUG: INTERNAL ERROR: msg: " + message;
}

void TDebugObject::report(const std::string& text) noexcept {
  // Standard output first; a process without one still gets the dialog.
  try {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  } catch (...) {
  }
  try {
    showDialog(DialogKind::Error, text);
  } catch (...) {
  }
}
