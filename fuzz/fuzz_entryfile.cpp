// Arbitrary bytes as a binary entry file: read back through a reader and a
// reader list, every entry printed and cloned the way the writers and the
// entry tool use them. A readable file takes a binary write and reads back
// with one entry more. An unreadable one either fails the write and stays
// exactly as it was (a broken frame), or, where only its entries are bad
// (a writer checks the frame alone), keeps every byte of its list and only
// grows.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
    bool written = false;
    try {
      TBinaryWriter(path).write(TTraceEntry("fuzz", "fuzz", 3, 0, 0.0, 46000.0));
      written = true;
    } catch (const IOException&) {
    }
    const std::string after = readBack();
    if (!written) {
      if (after != before) std::abort();  // a refused file was changed
    } else {
      // A sound frame around entries only readers check: the write kept
      // the header and every byte of the old list, and only added.
      const size_t lengthAt = std::strlen(TDebugEntries::HEADER), listStart = lengthAt + 4;
      if (before.size() < listStart + 4) std::abort();
      uint32_t oldLength = 0;
      for (int i = 3; i >= 0; --i) oldLength = oldLength << 8 | static_cast<uint8_t>(before[lengthAt + static_cast<size_t>(i)]);
      const size_t oldEnd = listStart + oldLength;
      if (after.size() <= oldEnd || after.compare(0, lengthAt, before, 0, lengthAt) != 0 ||
          after.compare(listStart + 4, oldEnd - listStart - 4, before, listStart + 4, oldEnd - listStart - 4) != 0) {
        std::abort();
      }
    }
  }
  return 0;
}
