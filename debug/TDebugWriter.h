#pragma once
// An output of the diagnostics: receives entries one at a time.

#include "debug/TDebugObject.h"

class TDebugEntry;

class TDebugWriter : public TDebugObject {
  MORVANE_CLASS(TDebugWriter, TDebugObject)

  TDebugWriter() : TDebugObject(TBlank{}) {}

  // Writes `entry`, which stays the caller's; a writer that keeps the entry
  // keeps a clone. Failures raise IOException "<Class>.write: (Class) message".
  virtual void write(const TDebugEntry& entry) = 0;
};
