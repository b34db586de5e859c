// morvane-entries [--help | --version | [--] FILE...]
//
// Prints the entries stored in binary entry files, in their text forms,
// oldest first, one file after the other. With more than one file, each
// file's entries follow a line "==> FILE <==". A file that is missing or
// cannot be read is named on standard error with the reason; the other
// files are still printed and the exit status is 1. Without files, or with
// an unknown option, the usage goes to standard error and the exit status
// is 2. After "--" every argument is a file name.

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

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

constexpr const char* USAGE =
    "usage: morvane-entries [--] FILE...\n"
    "Prints the entries stored in binary entry files, oldest first.\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "Exit status: 0 all files printed, 1 a file could not be read, 2 usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (options && std::strcmp(argument, "--") == 0) {
      options = false;
    } else if (options && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)) {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (options && std::strcmp(argument, "--version") == 0) {
      std::printf("morvane-entries %s\n", MORVANE_VERSION);
      return 0;
    } else if (options && argument[0] == '-' && argument[1] != '\0') {
      std::fprintf(stderr, "morvane-entries: unknown option '%s'\n%s", argument, USAGE);
      return 2;
    } else {
      files.emplace_back(argument);
    }
  }
  if (files.empty()) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  startupBasis();
  startupDebug();
  bool allRead = true;
  for (const std::string& file : files) {
    if (!printFile(file, files.size() > 1)) allRead = false;
  }
  std::fflush(stdout);
  releaseDebug();
  return allRead ? 0 : 1;
}
