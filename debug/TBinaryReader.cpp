#include "debug/TBinaryReader.h"

#include "basis/FileSystem.h"
#include "debug/TDebugEntries.h"

std::unique_ptr<TDebugEntries> TBinaryReader::read() {
  try {
    if (!fileutil::fileExists(fileName)) throw FileNotFoundException(fileName);
    return std::make_unique<TDebugEntries>(fileName);
  } catch (const std::exception& e) {
    throw IOException("TBinaryReader.read: " + wrappedText(e));
  }
}
