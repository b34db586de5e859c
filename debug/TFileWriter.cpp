#include "debug/TFileWriter.h"

#include "basis/FileSystem.h"
#include "debug/TBinaryReader.h"
#include "debug/TDebugEntries.h"

std::unique_ptr<TDebugEntries> TFileWriter::loadEntries() const {
  if (!fileutil::fileExists(fileName)) return std::make_unique<TDebugEntries>();
  TBinaryReader reader(fileName);
  return reader.read();
}
