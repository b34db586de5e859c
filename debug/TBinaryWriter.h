#pragma once
// Stores every entry in a binary entry file: the file always holds the whole
// list of entries written to it, oldest first.

#include "debug/TFileWriter.h"

class TBinaryWriter : public TFileWriter {
  MORVANE_CLASS(TBinaryWriter, TFileWriter)

  explicit TBinaryWriter(const std::string& fileName) : TFileWriter(fileName) {}

  // Reads the stored list, appends a clone of `entry` and stores the list
  // again. The new file is written beside the old one and renamed over it,
  // so the file on disk is at every moment either the old or the new
  // complete list. An existing file that cannot be read, or that may not be
  // written, fails every write and is left unchanged. Failures raise
  // IOException "TBinaryWriter.write: (Class) message".
  void write(const TDebugEntry& entry) override;
};
