#pragma once
// Shows every error and trace entry in a modal message dialog.

#include "debug/TDebugWriter.h"

class TDialogWriter : public TDebugWriter {
  MORVANE_CLASS(TDialogWriter, TDebugWriter)

  TDialogWriter() : TDebugWriter() {}

  // An error entry in an error dialog, a trace entry in an information
  // dialog; a plain entry shows nothing. Returns once the dialog is closed.
  // A failure raises IOException "TDialogWriter.write: (Class) message".
  void write(const TDebugEntry& entry) override;
};
