#include "debug/TBinaryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "basis/FileSystem.h"
#include "debug/TDebugEntries.h"

namespace {

std::unique_ptr<TDebugEntries> load(const std::string& fileName) {
  if (!fileutil::fileExists(fileName)) throw FileNotFoundException(fileName);
  fileutil::OpenedFile file = fileutil::openFile(fileName, O_RDONLY, fileutil::FileKinds::RegularOnly);
  if (!file.ok()) throw IOException("TFile.open: (IOException) " + file.failure);
  struct stat st {};
  // An emptied file (log rotation by copying and truncating) holds an empty list.
  if (::fstat(file.fd.get(), &st) == 0 && st.st_size == 0) return std::make_unique<TDebugEntries>();
  return std::make_unique<TDebugEntries>(fileName);
}

}  // namespace

std::unique_ptr<TDebugEntries> TBinaryReader::read() {
  try {
    fileutil::OpenedFile locked;
    try {
      return load(fileName);
    } catch (const FileNotFoundException&) {
      throw;
    } catch (const std::exception&) {
      locked = fileutil::openFile(fileName, O_RDONLY, fileutil::FileKinds::RegularOnly);
      // Held by a writer that does not let go: what the first read found stands.
      if (!locked.ok() || !fileutil::lockFile(locked.fd.get(), false, LOCK_WAIT_MS)) throw;
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
