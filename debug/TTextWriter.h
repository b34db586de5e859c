#pragma once
// Appends every entry's text to a text file, creating the file when needed.

#include "debug/TFileWriter.h"

class TTextWriter : public TFileWriter {
  MORVANE_CLASS(TTextWriter, TFileWriter)

  explicit TTextWriter(const std::string& fileName) : TFileWriter(fileName) {}

  // Opens the file (appending, or creating it), writes the entry's text and
  // CR LF in one piece, closes it: one open and close per entry. A failure
  // raises IOException "TTextWriter.write: (Class) message"; a file without
  // any write permission bit is refused and left as it is.
  void write(const TDebugEntry& entry) override;
};
