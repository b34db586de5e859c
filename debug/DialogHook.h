#pragma once
// The one way the diagnostics show a modal message dialog.
//
// The framework must be able to show a notice deep inside a report (its own
// internal errors, the dialog writer) without depending on a GUI toolkit.
// It calls showDialog(); whoever owns the user interface installs a hook
// that shows a real modal box and returns once the user closed it. Without
// a hook the notice goes to standard error and the call returns at once.

#include <cstddef>
#include <functional>
#include <string>

enum class DialogKind { Error, Information };

using DialogHook = std::function<void(DialogKind, const std::string&)>;

// Installs `hook` for every later showDialog(); an empty hook restores the
// standard-error notice. Returns the hook that was installed before.
DialogHook setDialogHook(DialogHook hook);

// The most bytes of a text a dialog shows. A message box lays out all of its
// text, so a text of megabytes (an absurd name in a report) would keep it
// busy for minutes; the files written alongside keep the whole text.
constexpr size_t DIALOG_TEXT_LIMIT = 4096;

// `text` as a dialog shows it: whole when it fits, else its first bytes up
// to DIALOG_TEXT_LIMIT (not splitting a UTF-8 character) and a line that
// says how much was left out.
std::string dialogText(const std::string& text);

// Shows dialogText(text) as a modal dialog of `kind` with a single OK
// button and waits for it to be closed. Exceptions of the hook pass to the
// caller.
void showDialog(DialogKind kind, const std::string& text);
