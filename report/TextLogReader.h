#pragma once
// Reads the connection events of a text log as the text writer writes it:
// one entry per line, ended by CR LF (or LF), under any verbose mode. The
// file is read in pieces of a fixed size, so memory does not grow with it.
// Lines of other channels, other texts, lines longer than a piece, a cut
// last line (no line end yet) and binary garbage are skipped.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "basis/FileSystem.h"
#include "report/ConnectionEvent.h"

class ConnectionNames;

class TextLogReader : public EventSource {
 public:
  static constexpr size_t PIECE_BYTES = 1 << 20;

  // Reads the open file `fd` (taken over) from its start, in pieces of
  // `pieceBytes` (lines longer than that are skipped).
  TextLogReader(int fd, ConnectionNames& names, size_t pieceBytes = PIECE_BYTES);

  bool next(ConnectionEvent& event) override;
  // A read error, or a log whose connection lines all lack the time stamp.
  std::string failure() const override;
  // Connection lines without a time stamp in a log that has stamped ones.
  int64_t unusableLines() const override { return stamped_ > 0 ? unstamped_ : 0; }

 private:
  // The next complete line without its line end; false at the end.
  bool nextLine(std::string_view& line);
  bool fill();

  fileutil::FileDescriptor fd_;
  off_t offset_ = 0;
  ConnectionNames& names_;
  std::vector<char> piece_;
  size_t begin_ = 0, end_ = 0;
  bool atEnd_ = false;
  bool skippingLongLine_ = false;
  int readError_ = 0;
  int64_t stamped_ = 0, unstamped_ = 0;
};
