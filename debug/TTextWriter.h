#pragma once
// Appends every entry's text to a text file, creating the file when needed.

#include "debug/TFileWriter.h"

class TTextWriter : public TFileWriter {
  MORVANE_CLASS(TTextWriter, TFileWriter)

  explicit TTextWriter(const std::string& fileName) : TFileWriter(fileName) {}

  // Opens the file, writes the entry's text and CR LF, closes it. A failure
  // raises IOException "TTextWriter.write: (Class) message".
  void write(const TDebugEntry& entry) override;
};
