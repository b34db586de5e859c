#pragma once
// The frame of an entry file, as TFile stores a TDebugEntries list: the
// header, the list record's length (counting every byte after itself), the
// entry count, then the entries, each as its class name and its record.
// Readers load the list through TFile; the binary writer reads and changes
// the frame in place from here, with TFile's encoding.

#include <cstdint>
#include <string>

#include "debug/TDebugEntries.h"

struct EntryFileFrame {
  static constexpr int64_t LIST_LENGTH_AT = std::char_traits<char>::length(TDebugEntries::HEADER);
  static constexpr int64_t COUNT_AT = LIST_LENGTH_AT + 4;

  int64_t listLength = 0;
  int32_t count = 0;

  // The frame of the entry file open as `fd`, `size` bytes long. A broken
  // frame raises what a reader of the file would raise.
  static EntryFileFrame read(int fd, int64_t size, const std::string& fileName);
  // A whole file holding one entry, whose bytes are `entryBytes`.
  static std::string fileWith(const std::string& entryBytes);
  // The list's length and count, as they stand at LIST_LENGTH_AT.
  std::string lengthAndCount() const;
  // Where the list ends: bytes after it are not part of the file's content.
  int64_t end() const { return COUNT_AT + listLength; }
};
