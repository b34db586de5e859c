#pragma once
// The list of entries stored in a binary entry file. It owns its entries:
// destroying or clearing the list destroys them.

#include <string>

#include "basis/TArrayList.h"

class TDebugEntries : public TArrayList {
  MORVANE_CLASS(TDebugEntries, TArrayList)

  static constexpr const char* HEADER = "[Application:debug.Type:DebugEntries-Database.Version:1.0]";

  // An empty owning list.
  TDebugEntries();
  // The list stored in the entry file `fileName`; failures raise as load() does.
  explicit TDebugEntries(const std::string& fileName);

  // The inherited reset, then owner of its entries (also for lists read from
  // a file).
  void initialize() override;
  std::string getHeader() const override { return HEADER; }
  // The list record is built in memory and written in one piece.
  bool isBuffered() const override { return true; }
};
