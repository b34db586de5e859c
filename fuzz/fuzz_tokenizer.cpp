// Arbitrary bytes cut into tokens and split into parts. The first byte
// chooses the mode: bit 0 returnDelims, bit 1 dropBlanks for split, bits
// 2 to 4 how many of the following bytes are delimiters (none: the default
// tokenizer). The rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TStringTokenizer.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDelimiter(const std::string& delimiters, char c) {
  for (char d : delimiters) {
    if (upper(d) == upper(c)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool returnDelims = (data[0] & 1) != 0;
  const bool dropBlanks = (data[0] & 2) != 0;
  size_t count = (data[0] >> 2) & 7;
  if (count > size - 1) count = size - 1;
  const std::string delimiters(reinterpret_cast<const char*>(data) + 1, count);
  const std::string text(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);

  const std::string used = count == 0 ? std::string("\t\r ", 3) : delimiters;
  const bool returns = count != 0 && returnDelims;
  TStringTokenizer tokenizer = count == 0 ? TStringTokenizer(text)
                                          : TStringTokenizer(text, delimiters, returnDelims);
  const int32_t counted = tokenizer.countTokens();

  // Without returnDelims the tokens are the text less its delimiters; with
  // it they are the whole text, each delimiter a token of its own.
  std::string joined, expected;
  for (char c : text) {
    if (returns || !isDelimiter(used, c)) expected.push_back(c);
  }
  int32_t got = 0;
  while (tokenizer.hasMoreTokens()) {
    std::string token = tokenizer.nextToken();
    require(!token.empty());
    if (returns && isDelimiter(used, token[0])) require(token.size() == 1);
    joined += token;
    ++got;
  }
  require(got == counted);
  require(joined == expected);
  try {
    tokenizer.nextToken();
    std::abort();
  } catch (const NoSuchElementException&) {
  }

  TStringTokenizer again(text, used, returns);
  require(again.allTokens()->size() == counted);
  require(!again.hasMoreTokens());

  const char separator = count == 0 ? ',' : delimiters[0];
  std::unique_ptr<TStringCollection> parts = TString::split(text, separator, dropBlanks);
  size_t separators = 0;
  for (char c : text) separators += c == separator;
  if (!(dropBlanks && separator == ' ')) {
    require(static_cast<size_t>(parts->size()) == separators + 1);
  } else {
    require(parts->size() >= 1 && static_cast<size_t>(parts->size()) <= separators + 1);
  }

  TStringCollection lines(text);
  for (const std::string& line : lines.getStrings()) {
    require(!line.empty() && line.find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
