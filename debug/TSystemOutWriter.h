#pragma once
// Prints every entry as one line on standard output.

#include "debug/TDebugWriter.h"

class TSystemOutWriter : public TDebugWriter {
  MORVANE_CLASS(TSystemOutWriter, TDebugWriter)

  TSystemOutWriter() : TDebugWriter() {}

  // The entry's text and a line break; never raises (a process without
  // standard output just loses the line).
  void write(const TDebugEntry& entry) override;
};
