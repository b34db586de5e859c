#pragma once
// The password of a mail login, kept in a file of its own that only its
// owner may read.

#include <string>

// The first line of the file at `path`, without its line end (CR LF or LF),
// blanks and every other character kept. Raises MailTransportException
// naming the file when it cannot be opened, is not a regular file, may be
// read or changed by other users (any permission for group or others, or
// owned by a user other than this process's or root, as through a link),
// or holds no password in its first line, or one longer than 4 KB. The
// file is opened without waiting, so a FIFO there blocks nothing.
std::string readPasswordFile(const std::string& path);
