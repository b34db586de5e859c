#pragma once
// A reader of entries stored in a file.

#include <string>

#include "debug/TDebugReader.h"

class TFileReader : public TDebugReader {
  MORVANE_CLASS(TFileReader, TDebugReader)

  // Keeps the name; opens nothing.
  explicit TFileReader(const std::string& fileName) : TDebugReader() {
    this->fileName = fileName;
  }

  std::string fileName;
};
