#include "report/TextLogReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "basis/ConnectionLogLine.h"
#include "debug/TDebugEntry.h"
#include "report/ConnectionNames.h"
#include "report/ZoneClock.h"

TextLogReader::TextLogReader(int fd, ConnectionNames& names, size_t pieceBytes)
    : fd_(fd), names_(names), piece_(pieceBytes) {
  (void)::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool TextLogReader::fill() {
  if (begin_ > 0) {
    std::memmove(piece_.data(), piece_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == piece_.size()) {
    // A line longer than a piece is no entry of a connection log.
    skippingLongLine_ = true;
    end_ = 0;
  }
  for (;;) {
    const ssize_t n = ::pread(fd_.get(), piece_.data() + end_, piece_.size() - end_, offset_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readError_ = errno;
    if (n <= 0) return false;
    end_ += static_cast<size_t>(n);
    offset_ += n;
    return true;
  }
}

bool TextLogReader::nextLine(std::string_view& line) {
  for (;;) {
    const char* start = piece_.data() + begin_;
    const auto* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (lineEnd == nullptr) {
      // What is left after the last line end is cut (or still being written).
      if (atEnd_ || !fill()) {
        atEnd_ = true;
        return false;
      }
      continue;
    }
    begin_ = static_cast<size_t>(lineEnd - piece_.data()) + 1;
    if (skippingLongLine_) {
      skippingLongLine_ = false;
      continue;
    }
    size_t length = static_cast<size_t>(lineEnd - start);
    if (length > 0 && start[length - 1] == '\r') --length;
    line = std::string_view(start, length);
    return true;
  }
}

bool TextLogReader::next(ConnectionEvent& event) {
  std::string_view line;
  TDebugEntry::TextHeader header;
  ConnectionMessage message;
  while (nextLine(line)) {
    if (!TDebugEntry::parseHeader(line, header) || !isConnectionLogChannel(header.channelName) ||
        !parseConnectionMessage(header.message, message)) {
      continue;
    }
    if (!header.hasTime) {
      ++unstamped_;
      continue;
    }
    int64_t localMs;
    if (!ZoneClock::localMillis(header.time, localMs)) continue;
    ++stamped_;
    const uint32_t name = names_.idOf(message.name);
    if (name == ConnectionNames::EXCLUDED) continue;
    event = ConnectionEvent{message.kind, name, localMs, message.received, message.sent};
    return true;
  }
  return false;
}

std::string TextLogReader::failure() const {
  if (readError_ != 0) return "read failed: " + fileutil::systemMessage(readError_);
  if (stamped_ == 0 && unstamped_ > 0) {
    return "written without time stamps, so its sessions have no times; set " + std::string(CONNECTION_LOG_CHANNEL) +
           ".debug.verbosemode (or system.debug.verbosemode) in debug.properties to a "
           "value that includes 1, the time stamp (the default 3 does)";
  }
  return {};
}
