#pragma once
// Appends every entry's text to a text file, creating the file when needed.

#include "debug/TFileWriter.h"

class TTextWriter : public TFileWriter {
  MORVANE_CLASS(TTextWriter, TFileWriter)

  explicit TTextWriter(const std::string& fileName) : TFileWriter(fileName) {}
  ~TTextWriter() override { finishPending(); }

 protected:
  // Opens the file (appending, or creating it and its missing folders),
  // writes the entry's text and CR LF in one piece, closes it: one open and
  // close per entry. The append holds the file's exclusive lock, which other
  // writers of the file take too; a write that fails part-way (a full disk,
  // the file size limit) cuts the file back to its length before the write,
  // so no torn line stays. A failure raises IOException with the text
  // file's failure text ("TTextFile.open: ...", "TTextFile.writeln: ...",
  // "TTextFile.close: ..."); a file without any write permission bit is
  // refused and left as it is, and so is anything but a regular file or a
  // character device (such as /dev/null, written without blocking).
  bool writeLocked(const TDebugEntry& entry, int waitMilliseconds) override;
};
