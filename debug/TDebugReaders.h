#pragma once
// A channel's readers, one per binary entry file it writes.

#include <memory>

#include "debug/TDebugList.h"
#include "debug/TDebugReader.h"

class TDebugEntries;

class TDebugReaders : public TDebugList {
  MORVANE_CLASS(TDebugReaders, TDebugList)

  TDebugReaders() : TDebugList() {}

  using TDebugList::get;

  // Takes `reader` over and returns its index; a failure (nullptr included)
  // is reported and gives 0.
  int32_t add(std::unique_ptr<TDebugReader> reader);
  // The reader at `index` (it stays the list's); nullptr after a reported
  // failure such as an index out of range.
  virtual TDebugReader* get(int32_t index) const;
  // A new list, owned by the caller, of the entries of every reader in list
  // order. After a reported failure, the entries gathered until then.
  virtual std::unique_ptr<TDebugEntries> read() const;
};
