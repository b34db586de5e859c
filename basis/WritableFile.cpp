#include "basis/WritableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fileutil {

namespace {

int flagsOf(WriteMode mode) {
  switch (mode) {
    case WriteMode::Replace:
      return O_WRONLY | O_CREAT;
    case WriteMode::Append:
      return O_WRONLY | O_APPEND;
    case WriteMode::AppendOrMake:
      return O_WRONLY | O_APPEND | O_CREAT;
    case WriteMode::Update:
      break;
  }
  return O_RDWR;
}

OpenedFile refusedAsReadOnly(const std::string& path) {
  OpenedFile result;
  result.readOnly = true;
  result.failure = readOnlyMessage(path);
  return result;
}

}  // namespace

std::string missingNameMessage() { return "Missing filename, can't write to stdout."; }

std::string readOnlyMessage(const std::string& path) { return "Try to write read only file '" + path + "'."; }

OpenedFile openForWriting(const std::string& path, WriteMode mode, FileKinds kinds) {
  if (path.empty()) {
    OpenedFile result;
    result.failure = missingNameMessage();
    return result;
  }
  const int flags = flagsOf(mode);
  OpenedFile file = openFile(path, flags, kinds);
  if (!file.ok() && file.error == ENOENT && mode == WriteMode::AppendOrMake) {
    const std::string folderFailure = makeFolderOf(path);
    if (!folderFailure.empty()) {
      file.failure = folderFailure;
      return file;
    }
    file = openFile(path, flags, kinds);
  }
  if (!file.ok()) {
    if ((file.error != EACCES && file.error != EROFS) || !fileExists(path)) return file;
    // What is no file to write is refused as that, read-only or not.
    OpenedFile reading = openFile(path, O_RDONLY, kinds);
    return reading.ok() || reading.error != 0 ? refusedAsReadOnly(path) : std::move(reading);
  }
  struct stat st {};
  if (::fstat(file.fd.get(), &st) != 0) {
    file.error = errno;
    file.failure = "Cannot open '" + path + "': " + systemMessage(file.error);
    file.fd = FileDescriptor();
    return file;
  }
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return refusedAsReadOnly(path);
  if (mode == WriteMode::Replace && S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(file.fd.get(), 0) != 0) {
    file.error = errno;
    file.failure = "Cannot open '" + path + "': " + systemMessage(file.error);
    file.fd = FileDescriptor();
  }
  return file;
}

}  // namespace fileutil
