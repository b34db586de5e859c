#pragma once
// Stores every entry in a binary entry file: the file always holds the whole
// list of entries written to it, oldest first.

#include <memory>
#include <string>

#include "debug/TFileWriter.h"

class TBinaryWriter : public TFileWriter {
  MORVANE_CLASS(TBinaryWriter, TFileWriter)

  explicit TBinaryWriter(const std::string& fileName) : TFileWriter(fileName) {}
  ~TBinaryWriter() override { finishPending(); }

 protected:
  // Adds a copy of `entry` to the end of the stored list. The file's bytes
  // are those of the whole list stored anew, but only the new entry and the
  // list's length and count are written, under the file's exclusive lock,
  // so writers in other processes lose nothing and a crash at any moment
  // leaves the old or the new list readable. A write reads only the file's
  // frame (header, list length and count), never the entries, so it costs
  // the same in a file of any size. A new file (and its missing folders)
  // appears complete or not at all; an empty file counts as an empty list.
  // An existing file whose frame is broken, or that may not be written, or
  // that is not a regular file, fails every write and is left unchanged.
  // Failures raise IOException.
  bool writeLocked(const TDebugEntry& entry, int waitMilliseconds) override;

 private:
  // Adds the entry's bytes to the locked open file `fd`.
  void append(int fd, std::unique_ptr<TMappedObject> entry, const std::string& entryBytes);

  // Whether this writer removed what crashed writers left beside the file.
  bool temporariesChecked_ = false;
};
