#pragma once
// A writer to a named file; it keeps no file open between entries.

#include <string>

#include "basis/FileSystem.h"
#include "debug/TDebugWriter.h"

class TFileWriter : public TDebugWriter {
  MORVANE_CLASS(TFileWriter, TDebugWriter)

  // Keeps the name (used unchanged: a relative name is relative to the
  // current directory); opens nothing.
  explicit TFileWriter(const std::string& fileName) : TDebugWriter() {
    this->fileName = fileName;
  }

  std::string fileName;
  // How long a write waits for other writers (other processes too) to let
  // go of the file's lock before it fails.
  int lockWaitMilliseconds = fileutil::kLockWaitMilliseconds;

 protected:
  // The failure text of a write that gave up waiting for the lock.
  std::string lockedMessage() const { return fileutil::lockedMessage(fileName); }
};
