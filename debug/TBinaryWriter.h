#pragma once
// Stores every entry in a binary entry file: the file always holds the whole
// list of entries written to it, oldest first.

#include <cstdint>
#include <memory>
#include <string>

#include "debug/TFileWriter.h"

class TBinaryWriter : public TFileWriter {
  MORVANE_CLASS(TBinaryWriter, TFileWriter)

  explicit TBinaryWriter(const std::string& fileName) : TFileWriter(fileName) {}

  // Adds a copy of `entry` to the end of the stored list. The file's bytes
  // are those of the whole list stored anew, but only the new entry and the
  // list's length and count are written, under the file's exclusive lock,
  // so writers in other processes lose nothing and a crash at any moment
  // leaves the old or the new list readable. A new file appears complete or
  // not at all. An existing file that cannot be read, or that may not be
  // written, fails every write and is left unchanged. Failures raise
  // IOException "TBinaryWriter.write: (Class) message".
  void write(const TDebugEntry& entry) override;

 private:
  // The file as this writer last checked or left it, so that a later write
  // checks only the entries other writers added since.
  struct CheckedFile {
    bool valid = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t listLength = 0;
    int32_t count = 0;
  };

  // Adds the entry (its bytes already made) to the locked open file `fd`.
  void append(int fd, std::unique_ptr<TMappedObject> entry, const std::string& entryBytes);
  // Reads the entries added to the list since it was checked.
  void checkAdded(int64_t listLength, int32_t count);

  CheckedFile checked_;
};
