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

}  // namespace fileutil
