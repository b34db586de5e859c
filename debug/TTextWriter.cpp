#include "debug/TTextWriter.h"

#include "basis/FileSystem.h"
#include "basis/TTextFile.h"
#include "debug/TDebugEntry.h"

void TTextWriter::write(const TDebugEntry& entry) {
  try {
    int32_t mode =
        fileutil::fileExists(fileName) ? TTextFile::MODE_APPEND : TTextFile::MODE_WRITE;
    TTextFile file(fileName, mode);
    file.writeln(entry.toString());
    file.close();
  } catch (const std::exception& e) {
    throw IOException("TTextWriter.write: " + wrappedText(e));
  }
}
