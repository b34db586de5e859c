#pragma once
// Reads a binary entry file back.

#include "basis/FileSystem.h"
#include "debug/TFileReader.h"

class TBinaryReader : public TFileReader {
  MORVANE_CLASS(TBinaryReader, TFileReader)

  explicit TBinaryReader(const std::string& fileName) : TFileReader(fileName) {}

  // The entries of the file, read under a shared lock so that no writer
  // changes the list half-way through the read (a writer holding the lock
  // longer than LOCK_WAIT_MS fails the read). A missing file, a wrong header
  // or a corrupt record raises IOException "TBinaryReader.read: (Class) message".
  std::unique_ptr<TDebugEntries> read() override;
  // The same without taking the lock, for a writer that holds it already.
  std::unique_ptr<TDebugEntries> readWhileLocked();

  static constexpr int LOCK_WAIT_MS = fileutil::kLockWaitMilliseconds;
};
