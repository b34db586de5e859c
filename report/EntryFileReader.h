#pragma once
// Reads the connection events of a binary entry file through the
// diagnostics' own reader, which loads the file's list in one piece.

#include <cstdint>
#include <memory>
#include <string>

#include "report/ConnectionEvent.h"

class ConnectionNames;
class TDebugEntries;

class EntryFileReader : public EventSource {
 public:
  // Reads the file now; a file the reader refuses raises its IOException.
  EntryFileReader(const std::string& path, ConnectionNames& names);
  ~EntryFileReader() override;

  bool next(ConnectionEvent& event) override;

 private:
  std::unique_ptr<TDebugEntries> entries_;
  ConnectionNames& names_;
  int32_t index_ = 0;
};
