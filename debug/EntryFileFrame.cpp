#include "debug/EntryFileFrame.h"

#include <unistd.h>

#include <cstring>

#include "basis/Exceptions.h"
#include "basis/TFile.h"

namespace {

[[noreturn]] void failCorrupt(const std::string& fileName, const std::string& why) {
  throw IOException("TBinaryReader.read: (IOException) File '" + fileName + "' is corrupt: " + why + ".");
}

}  // namespace

EntryFileFrame EntryFileFrame::read(int fd, int64_t size, const std::string& fileName) {
  const std::string header = TDebugEntries::HEADER;
  char head[COUNT_AT + 4];
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  if (got < static_cast<ssize_t>(header.size()) || std::memcmp(head, header.data(), header.size()) != 0) {
    throw IOException("TBinaryReader.read: (IOException) TFile.open: (IOException) File '" + fileName +
                      "' does not support header: '" + header + "'.");
  }
  if (got < static_cast<ssize_t>(sizeof head)) failCorrupt(fileName, "it ends inside the list's length and count");
  const int64_t listLength = static_cast<uint32_t>(TFile::integerOf(head + LIST_LENGTH_AT));
  const int32_t count = TFile::integerOf(head + COUNT_AT);
  if (listLength > INT32_MAX || COUNT_AT + listLength > size) {
    failCorrupt(fileName, "its list of " + std::to_string(listLength) + " bytes runs past its end at " +
                              std::to_string(size) + " bytes");
  }
  // Each entry takes at least its class name's length and its record's.
  if (listLength >= 4 && (count < 0 || count > (listLength - 4) / 8)) {
    failCorrupt(fileName, std::to_string(count) + " entries cannot fit in its list of " +
                              std::to_string(listLength) + " bytes");
  }
  return {listLength, count};
}

std::string EntryFileFrame::fileWith(const std::string& entryBytes) {
  return TDebugEntries::HEADER + EntryFileFrame{static_cast<int64_t>(entryBytes.size()) + 4, 1}.lengthAndCount() +
         entryBytes;
}

std::string EntryFileFrame::lengthAndCount() const {
  return TFile::integerBytes(static_cast<int32_t>(listLength)) + TFile::integerBytes(count);
}
