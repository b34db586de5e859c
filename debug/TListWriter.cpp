#include "debug/TListWriter.h"

#include "debug/TDebugEntry.h"

TListWriter::TListWriter() : TDebugWriter() { entries = std::make_unique<TDebugEntries>(); }

void TListWriter::write(const TDebugEntry& entry) {
  try {
    if (!entries) throw IllegalStateException("TListWriter: No entry list.");
    std::unique_ptr<TMappedObject> copy = entry.clone();
    entries->add(copy.get());
    copy.release();
  } catch (const std::exception& e) {
    throw IOException("TListWriter.write: " + wrappedText(e));
  }
}
