#pragma once
// Hands a connection's target to the desktop: an executable file is started
// as a detached process; anything else (a document, a URL, a .desktop file)
// goes to the desktop's opener. The outcome is not reported: a target that
// does not start simply never shows its status window.

#include <string>

void shellLaunch(const std::string& target);
