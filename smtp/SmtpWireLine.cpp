#include "smtp/SmtpWireLine.h"

void appendWireLine(std::string& out, const std::string& line) {
  if (line.find_first_of("\r\n") == std::string::npos) {
    out += line;
    out += "\r\n";
    return;
  }
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
    out += "\r\n";
    if (i + 1 < line.size() && line[i + 1] == '.') out += '.';
  }
  out += "\r\n";
}
