#pragma once
// Making a new file complete or not at all: it is written beside its name,
// flushed, moved into place without replacing a file made meanwhile, and
// the move flushed with its folder. Temporaries that a writer killed half-way
// left behind are recognised by their names and removed.

#include <cstdint>
#include <string>

#include "basis/Exceptions.h"

// Raised when not even the file itself could be opened to be made.
MORVANE_EXCEPTION(FileCreateException, IOException);

namespace fileutil {

// The file a new file at `path` is made as: the final target when `path` is
// a symbolic link (also one whose target is missing), so the link stays one.
std::string creationTarget(const std::string& path);
// Removes the temporaries "<target>.tmp-<pid>-<n>" whose writer is gone.
void removeStaleTemporaries(const std::string& target);
// Makes `target` holding `content`, complete or not at all. False when
// another writer made the file first (it is left as it is). Where no file
// can be made beside the target (its name leaves no room for the
// temporary's suffix, say), the file is written under its own name, and a
// crash can then cut it. Failures raise IOException with the system's text,
// FileCreateException when the file could not be opened at all.
bool createComplete(const std::string& target, const std::string& content);

// Writes all of `bytes` at `offset`; failures raise IOException with the
// system's text.
void writeAt(int fd, const std::string& bytes, int64_t offset);
// Flushes the data of the open file `fd` to the disk (a special file has
// none); failures raise IOException with the system's text.
void syncData(int fd);

}  // namespace fileutil
