#pragma once
// Splits a command line into words the way a POSIX shell would, without
// running one: blanks separate words; single quotes keep everything up to
// the next single quote; double quotes keep everything, a backslash in them
// escaping only $ ` " \ and the line end; a backslash outside quotes takes
// the next byte literally (a backslash before a line end joins the lines).
// Nothing else is interpreted: ";", "|", "$()", "~" and globs are ordinary
// bytes of a word.

#include <string>
#include <vector>

// The words of `line`. Raises IllegalArgumentException for an unterminated
// quote or a backslash at the very end.
std::vector<std::string> splitShellWords(const std::string& line);
