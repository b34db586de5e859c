// The reader of EHLO replies on arbitrary server bytes, cut into lines at
// LF (a CR before it removed): what a server offers (STARTTLS, AUTH PLAIN
// and LOGIN) is read from the lines of a positive reply only, and never
// from more than one reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "smtp/SmtpExtensions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SmtpExtensions offered;
  bool ended = false;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool taken = offered.addLine(line);
    if (taken && (ended || line.substr(0, 3) != "250")) __builtin_trap();
    ended = offered.complete();
    start = end + 1;
  }
  if ((offered.authPlain() || offered.authLogin()) && !offered.auth()) __builtin_trap();
  return 0;
}
