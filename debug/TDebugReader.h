#pragma once
// A source of stored entries.

#include <memory>

#include "debug/TDebugObject.h"

class TDebugEntries;

class TDebugReader : public TDebugObject {
  MORVANE_CLASS(TDebugReader, TDebugObject)

  TDebugReader() : TDebugObject(TBlank{}) {}

  // A new list of the stored entries, oldest first, for the caller.
  virtual std::unique_ptr<TDebugEntries> read() = 0;
};
