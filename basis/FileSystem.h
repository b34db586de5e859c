#pragma once
// Small file-system queries shared by the file classes.

#include <string>

namespace fileutil {

// True when `path` names an existing file that is not a directory.
bool fileExists(const std::string& path);
// True when `path` exists and may not be written: no write permission bit
// set, or the process is refused write access.
bool isReadOnlyFile(const std::string& path);
// The system's text for an errno value.
std::string systemMessage(int error);

// Takes an advisory lock (flock) on the open file `fd`, shared or
// exclusive, waiting at most `waitMilliseconds` for other holders to let go.
// Returns false when the wait ran out. A file system that offers no locks
// counts as locked: its single writer still gets its data written. The lock
// goes with the last descriptor of this open file.
bool lockFile(int fd, bool exclusive, int waitMilliseconds);

}  // namespace fileutil
