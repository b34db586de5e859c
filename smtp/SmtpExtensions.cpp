#include "smtp/SmtpExtensions.h"

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The next word of `text` from `at` on, words parted by blanks (and, for
// the old AUTH form, "="); at moves behind it.
std::string_view nextWord(std::string_view text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '=')) ++at;
  const size_t start = at;
  while (at < text.size() && text[at] != ' ' && text[at] != '=') ++at;
  return text.substr(start, at - start);
}

}  // namespace

bool SmtpExtensions::addLine(std::string_view line) {
  if (complete_) return false;
  if (line.size() < 3 || line.substr(0, 3) != "250") return false;
  if (line.size() > 3 && line[3] != '-' && line[3] != ' ') return false;
  complete_ = line.size() == 3 || line[3] == ' ';
  // The first line greets with the server's name; extensions follow it.
  if (lines_++ == 0) return true;
  const std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view();
  size_t at = 0;
  const std::string_view keyword = nextWord(text, at);
  if (sameLetters(keyword, "STARTTLS")) {
    startTls_ = true;
  } else if (sameLetters(keyword, "AUTH")) {
    auth_ = true;
    for (std::string_view mechanism = nextWord(text, at); !mechanism.empty(); mechanism = nextWord(text, at)) {
      if (sameLetters(mechanism, "PLAIN")) authPlain_ = true;
      if (sameLetters(mechanism, "LOGIN")) authLogin_ = true;
    }
  }
  return true;
}
