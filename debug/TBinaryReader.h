#pragma once
// Reads a binary entry file back.

#include "debug/TFileReader.h"

class TBinaryReader : public TFileReader {
  MORVANE_CLASS(TBinaryReader, TFileReader)

  explicit TBinaryReader(const std::string& fileName) : TFileReader(fileName) {}

  // The entries of the file. A missing file, a wrong header or a corrupt
  // record raises IOException "TBinaryReader.read: (Class) message".
  std::unique_ptr<TDebugEntries> read() override;
};
