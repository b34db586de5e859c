#include "debug/TBinaryReader.h"

#include <fcntl.h>
#include <unistd.h>

#include "basis/FileSystem.h"
#include "debug/TDebugEntries.h"

namespace {

std::unique_ptr<TDebugEntries> load(const std::string& fileName) {
  if (!fileutil::fileExists(fileName)) throw FileNotFoundException(fileName);
  return std::make_unique<TDebugEntries>(fileName);
}

}  // namespace

std::unique_ptr<TDebugEntries> TBinaryReader::read() {
  try {
    // A file that cannot be opened here is left to the load for its error.
    fileutil::FileDescriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() >= 0 && !fileutil::lockFile(file.get(), false, LOCK_WAIT_MS)) {
      throw IOException(fileutil::lockedMessage(fileName));
    }
    return load(fileName);
  } catch (const std::exception& e) {
    throw IOException("TBinaryReader.read: " + wrappedText(e));
  }
}

std::unique_ptr<TDebugEntries> TBinaryReader::readWhileLocked() {
  try {
    return load(fileName);
  } catch (const std::exception& e) {
    throw IOException("TBinaryReader.read: " + wrappedText(e));
  }
}
