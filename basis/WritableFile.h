#pragma once
// The one way the programs open a file to write it, with the texts of its
// refusals: object files, text files, the log writers, XML documents and the
// report's chart all open theirs here.

#include <string>

#include "basis/FileSystem.h"

namespace fileutil {

enum class WriteMode {
  Replace,       // emptied, or made when missing
  Append,        // an existing file, written at its end
  AppendOrMake,  // written at its end, or made with its missing folders
  Update,        // an existing file, read and written in place
};

// "Missing filename, can't write to stdout."
std::string missingNameMessage();
// "Try to write read only file '<path>'."
std::string readOnlyMessage(const std::string& path);

// Opens `path` to write it in `mode`, never waiting (openFile's rules for
// the kinds of file and for symbolic links apply). Refused: an empty path;
// a file that may not be written, that is one without any write permission
// bit (also for a process that could override the bits) or one the process
// is refused writing (then `readOnly` is set); a missing file, except in
// the modes that make one. Whatever is refused is left as it was: Replace
// empties the file only once it is accepted.
OpenedFile openForWriting(const std::string& path, WriteMode mode, FileKinds kinds);

}  // namespace fileutil
