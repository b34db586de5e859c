// morvane-entries FILE...
//
// Prints the entries stored in binary entry files, in their text forms,
// oldest first, one file after the other. With more than one file, each
// file's entries follow a line "==> FILE <==". A file that is missing or
// cannot be read is named on standard error with the reason; the other
// files are still printed and the exit status is 1. Without arguments the
// usage goes to standard error and the exit status is 2.

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "debug/TBinaryReader.h"
#include "debug/TDebugEntries.h"

namespace {

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Prints the entries of one file; false when the file could not be read.
bool printFile(const std::string& fileName, bool withHeading) {
  std::unique_ptr<TDebugEntries> entries;
  try {
    entries = TBinaryReader(fileName).read();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "morvane-entries: %s: %s\n", fileName.c_str(), e.what());
    return false;
  }
  if (withHeading) print("==> " + fileName + " <==\n");
  for (int32_t i = 0; i < entries->size(); ++i) print(entries->get(i)->toString() + "\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: morvane-entries FILE...\n"
                         "Prints the entries stored in binary entry files, oldest first.\n");
    return 2;
  }
  startupBasis();
  startupDebug();
  bool allRead = true;
  for (int i = 1; i < argc; ++i) {
    if (!printFile(argv[i], argc > 2)) allRead = false;
  }
  std::fflush(stdout);
  releaseDebug();
  return allRead ? 0 : 1;
}
