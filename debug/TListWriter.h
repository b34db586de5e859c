#pragma once
// Keeps a copy of every entry it is given, in memory.

#include <memory>

#include "debug/TDebugEntries.h"
#include "debug/TDebugWriter.h"

class TListWriter : public TDebugWriter {
  MORVANE_CLASS(TListWriter, TDebugWriter)

  TListWriter();

  // Appends a clone of `entry` to `entries`. A failure raises
  // IOException "TListWriter.write: (Class) message".
  void write(const TDebugEntry& entry) override;

  // The copies written so far, oldest first; owned by the writer. Its owner
  // may read, remove or clear them.
  std::unique_ptr<TDebugEntries> entries;
};
