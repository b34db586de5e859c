#include "debug/TDebugEntries.h"

TDebugEntries::TDebugEntries() : TArrayList(TBlank{}) { initialize(); }

TDebugEntries::TDebugEntries(const std::string& fileName) : TDebugEntries() {
  constructFromText(fileName);
}

void TDebugEntries::initialize() {
  TArrayList::initialize();
  setOwner(true);
}
