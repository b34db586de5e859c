#pragma once
// Reads a binary entry file back.

#include "basis/FileSystem.h"
#include "debug/TFileReader.h"

class TBinaryReader : public TFileReader {
  MORVANE_CLASS(TBinaryReader, TFileReader)

  explicit TBinaryReader(const std::string& fileName) : TFileReader(fileName) {}

  // The entries of the file. Writers only ever add to the end of the list
  // and then update its length and count, so the read takes no lock and
  // never holds writers up; a read that fails (a writer may have been
  // half-way, or was replacing an odd file whole) is made once more under
  // the file's shared lock, waiting at most LOCK_WAIT_MS for it. An empty
  // file holds no entries. A missing file, a wrong header, a corrupt
  // record, or anything but a regular file raises IOException
  // "TBinaryReader.read: (Class) message".
  std::unique_ptr<TDebugEntries> read() override;
  // The same without any lock, for a writer that holds it already.
  std::unique_ptr<TDebugEntries> readWhileLocked();

  static constexpr int LOCK_WAIT_MS = fileutil::LOCK_WAIT_MILLISECONDS;
};
