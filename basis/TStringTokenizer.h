#pragma once
// Cuts a text into non-empty tokens at a set of delimiter characters.

#include <cstdint>
#include <memory>
#include <string>

#include "basis/TMappedObject.h"

class TStringCollection;

class TStringTokenizer : public TMappedObject {
  MORVANE_CLASS(TStringTokenizer, TMappedObject)

  // Delimiters tab, CR and blank (not line feed).
  explicit TStringTokenizer(const std::string& text);
  TStringTokenizer(const std::string& text, const std::string& delimiters);
  // With returnDelims every delimiter character is a token of its own.
  TStringTokenizer(const std::string& text, const std::string& delimiters, bool returnDelims);

  // Raises NoSuchElementException "TStringTokenizer: No more tokens in: " + text + ".".
  std::string nextToken();
  // Neither of these consumes anything.
  bool hasMoreTokens();
  int32_t countTokens();
  // The remaining tokens for the caller; consumes them.
  std::unique_ptr<TStringCollection> allTokens();

  void mark();
  void resetToMark();

 private:
  bool isDelimiter(int32_t position) const;

  std::string markedDelimiters_;
  std::string delimiters_;
  std::string text_;
  bool returnDelims_ = false;
  int32_t markedPosition_ = 1;
  int32_t position_ = 1;
};
