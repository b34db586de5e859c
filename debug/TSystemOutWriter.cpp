#include "debug/TSystemOutWriter.h"

#include <cstdio>

#include "debug/TDebugEntry.h"

void TSystemOutWriter::write(const TDebugEntry& entry) {
  try {
    std::string line = entry.toString();
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
  }
}
