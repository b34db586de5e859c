#pragma once
// Shows the diagnostics' dialogs as modal Qt message boxes.

// Installs the hook; needs a QApplication.
void installMessageBoxHook();
