#pragma once
// A channel's writers for one kind of entry, in the order they were added.

#include <memory>

#include "debug/TDebugList.h"
#include "debug/TDebugWriter.h"

class TDebugWriters : public TDebugList {
  MORVANE_CLASS(TDebugWriters, TDebugList)

  TDebugWriters() : TDebugList() {}

  // Takes `writer` over and returns its index; a failure (nullptr included)
  // is reported and gives 0.
  int32_t add(std::unique_ptr<TDebugWriter> writer);
  // The writer at `index` (it stays the list's); raises std::out_of_range.
  TDebugWriter* writerAt(int32_t index) const;
  // Calls every writer in order. The first failing writer ends the call:
  // IOException "TDebugWriters.write(TDebugEntry): (Class) message".
  virtual void write(const TDebugEntry& entry);
};
