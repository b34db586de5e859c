// Arbitrary bytes as a .properties file: the loader must load them or fail
// with a clear exception, and every typed lookup must answer or raise.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/TProperties.h"
#include "basis/TStringCollection.h"
#include "fuzz/FuzzFiles.h"

namespace {
std::string path;
void removeFile() { ::unlink(path.c_str()); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  startupBasis();
  path = fuzzTempFile("fuzz_properties");
  std::atexit(removeFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzInput(path, data, size);
  TProperties properties;
  try {
    properties.loadProperties(path);
  } catch (const std::exception&) {
    return 0;
  }
  auto keys = properties.keys();
  for (const std::string& key : keys->getStrings()) {
    properties.getInteger(key, 0);
    properties.getDouble(key, 0.0);
    properties.getBoolean(key, false);
    properties.getTime(key, 0.0);
    properties.getStringList(key, "");
    properties.getCSVValues(key, "");
    properties.getParameters(key, "");
  }
  return 0;
}
