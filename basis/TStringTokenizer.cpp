#include "basis/TStringTokenizer.h"

#include "basis/TString.h"
#include "basis/TStringCollection.h"

TStringTokenizer::TStringTokenizer(const std::string& text)
    : TStringTokenizer(text, std::string("\t\r ", 3)) {}

TStringTokenizer::TStringTokenizer(const std::string& text, const std::string& delimiters)
    : TStringTokenizer(text, delimiters, false) {}

TStringTokenizer::TStringTokenizer(const std::string& text, const std::string& delimiters,
                                   bool returnDelims)
    : TMappedObject(TBlank{}), delimiters_(delimiters), text_(text), returnDelims_(returnDelims) {
  position_ = 1;
  mark();
}

namespace {
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool TStringTokenizer::isDelimiter(int32_t position) const {
  if (position < 1 || static_cast<size_t>(position) > text_.size()) return false;
  const char c = upper(text_[static_cast<size_t>(position) - 1]);
  for (char d : delimiters_) {
    if (upper(d) == c) return true;
  }
  return false;
}

std::string TStringTokenizer::nextToken() {
  const auto length = static_cast<int32_t>(text_.size());
  std::string token;
  if (returnDelims_ && isDelimiter(position_)) {
    token.push_back(text_[static_cast<size_t>(position_) - 1]);
    ++position_;
  } else {
    if (!returnDelims_) {
      while (position_ <= length && isDelimiter(position_)) ++position_;
    }
    while (position_ <= length && !isDelimiter(position_)) {
      token.push_back(text_[static_cast<size_t>(position_) - 1]);
      ++position_;
    }
  }
  if (token.empty()) throw NoSuchElementException("TStringTokenizer: No more tokens in: " + text_ + ".");
  return token;
}

bool TStringTokenizer::hasMoreTokens() {
  mark();
  bool more = true;
  try {
    nextToken();
  } catch (const NoSuchElementException&) {
    more = false;
  } catch (...) {
    resetToMark();
    throw;
  }
  resetToMark();
  return more;
}

int32_t TStringTokenizer::countTokens() {
  mark();
  int32_t count = 0;
  try {
    for (;;) {
      nextToken();
      ++count;
    }
  } catch (const NoSuchElementException&) {
  } catch (...) {
    resetToMark();
    throw;
  }
  resetToMark();
  return count;
}

std::unique_ptr<TStringCollection> TStringTokenizer::allTokens() {
  auto tokens = std::make_unique<TStringCollection>();
  try {
    for (;;) tokens->add(nextToken());
  } catch (const NoSuchElementException&) {
  }
  return tokens;
}

void TStringTokenizer::mark() {
  markedPosition_ = position_;
  markedDelimiters_ = delimiters_;
}

void TStringTokenizer::resetToMark() {
  position_ = markedPosition_;
  delimiters_ = markedDelimiters_;
}
