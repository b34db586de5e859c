// Arbitrary bytes as a binary entry file: read back through a reader and a
// reader list, every entry printed and cloned the way the writers and the
// entry tool use them. An unreadable file must fail a binary write and stay
// exactly as it was; a readable one takes the write and reads back with one
// entry more.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"
#include "debug/TBinaryReader.h"
#include "debug/TBinaryWriter.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugReaders.h"
#include "debug/TTraceEntry.h"
#include "fuzz/FuzzFiles.h"

namespace {

std::string path;

void removeFile() {
  if (!path.empty()) ::unlink(path.c_str());
}

std::string readBack() {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return bytes;
}

void use(const TDebugEntries& entries) {
  for (int32_t i = 0; i < entries.size(); ++i) {
    const TMappedObject* entry = entries.get(i);
    (void)entry->toString();
    std::unique_ptr<TMappedObject> copy = entry->clone();
    if (copy->className() != entry->className()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  startupBasis();
  startupDebug();
  path = fuzzTempFile("fuzz_entryfile");
  std::atexit(removeFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzInput(path, data, size);
  bool readable = false;
  int32_t count = 0;
  try {
    std::unique_ptr<TDebugEntries> entries = TBinaryReader(path).read();
    use(*entries);
    count = entries->size();
    readable = true;
  } catch (const Exception&) {
  }

  // The reader list reports instead of raising (the report goes to
  // standard output, so only readable files take this way).
  if (readable) {
    TDebugReaders readers;
    readers.add(std::make_unique<TBinaryReader>(path));
    std::unique_ptr<TDebugEntries> all = readers.read();
    if (all == nullptr) std::abort();
    use(*all);
    // Bytes after the list (a write cut off by a crash) are dropped by the write.
    TBinaryWriter(path).write(TTraceEntry("fuzz", "fuzz", 3, 0, 0.0, 46000.0));
    if (TBinaryReader(path).read()->size() != count + 1) std::abort();
  } else {
    const std::string before = readBack();
    try {
      TBinaryWriter(path).write(TTraceEntry("fuzz", "fuzz", 3, 0, 0.0, 46000.0));
      std::abort();  // an unreadable file was written
    } catch (const IOException&) {
    }
    if (readBack() != before) std::abort();
  }
  return 0;
}
