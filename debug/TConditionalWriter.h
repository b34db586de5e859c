#pragma once
// A writer with a level threshold; its subclasses decide what passing it means.

#include <cstdint>

#include "debug/TDebugWriter.h"

class TConditionalWriter : public TDebugWriter {
  MORVANE_CLASS(TConditionalWriter, TDebugWriter)

  explicit TConditionalWriter(int32_t level) : TDebugWriter() { this->level = level; }

  // Entries of a level above this are not written.
  int32_t level = 0;
};
