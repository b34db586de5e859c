// Arbitrary bytes as CSV lines: the whole input as one line, then line by
// line through nextValues. Checks what every parse must give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "basis/TCSVParser.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkValues(const std::string& line, const TStringCollection& values) {
  size_t commas = 0;
  for (char c : line) commas += c == ',';
  require(static_cast<size_t>(values.size()) <= commas + 1);
  size_t taken = 0;
  for (const std::string& v : values.getStrings()) {
    require(v.find_first_of(",\"") == std::string::npos);
    taken += v.size();
  }
  require(taken <= line.size());
}

void checkFailure(const std::string& line, const ParserException& e) {
  require(e.getMethod() == "TCSVParser.valuesOf");
  require(e.getReason() == "Unseperated values." || e.getReason() == "Unterminated value.");
  require(e.getPosition() >= 1 && static_cast<size_t>(e.getPosition()) <= line.size());
  char at = line[static_cast<size_t>(e.getPosition()) - 1];
  require(at == '"' || at == ',');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TCSVParser parser;
  try {
    checkValues(text, *parser.valuesOf(text));
  } catch (const ParserException& e) {
    checkFailure(text, e);
  }

  // Every line through valuesOf, and the first few through nextValues
  // (which removes from the front of its list, so many lines only cost time).
  TStringCollection lines(text);
  for (const std::string& line : lines.getStrings()) {
    try {
      checkValues(line, *parser.valuesOf(line));
    } catch (const ParserException& e) {
      checkFailure(line, e);
    }
  }
  while (lines.size() > 16) lines.remove(lines.size() - 1);
  TCSVParser byLine(lines);
  while (byLine.hasNext()) {
    const int32_t before = byLine.getLines().size();
    const std::string line = byLine.getLines().get(0);
    try {
      checkValues(line, *byLine.nextValues());
      require(byLine.getLines().size() == before - 1);
    } catch (const ParserException& e) {
      checkFailure(line, e);
      require(byLine.getLines().size() == before);
      break;
    }
  }
  return 0;
}
