#include "basis/TString.h"

#include <cstring>
#include <functional>

#include "basis/TFile.h"
#include "basis/TStringCollection.h"

namespace {
bool isTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool isAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
}  // namespace

TString::TString() : TPObject(TBlank{}) { initialize(); }

TString::TString(const std::string& text) : TString() { value = text; }

std::string TString::replaceChar(char oldChar, char newChar) const {
  return replaceChar(value, oldChar, newChar);
}

std::string TString::replaceAll(const std::string& search, const std::string& replacement) const {
  return replaceAll(value, search, replacement);
}

std::unique_ptr<char[]> TString::toNullTerminated() const { return toNullTerminated(value); }

bool TString::equals(const TMappedObject* obj) const {
  return obj != nullptr && obj->inheritsFrom(getClass()) &&
         static_cast<const TString*>(obj)->value == value;
}

int32_t TString::hashCode() const {
  uint32_t sum = 0;
  for (char c : value) sum += static_cast<unsigned char>(c);
  return static_cast<int32_t>(sum);
}

uint64_t TString::lookupHash() const { return lookupHashOf(value); }

uint64_t TString::lookupHashOf(const std::string& text) { return std::hash<std::string>{}(text); }

std::unique_ptr<TMappedObject> TString::clone() const { return std::make_unique<TString>(value); }

void TString::readFrom(TFile& file) { value = file.readString(); }

void TString::writeTo(TFile& file) { file.writeString(value); }

bool TString::containsIgnoreCase(const std::string& text, const std::string& part) {
  return part.empty() || toUpperAscii(text).find(toUpperAscii(part)) != std::string::npos;
}

std::string TString::removeChar(const std::string& text, char ch) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ch) out.push_back(c);
  }
  return out;
}

std::string TString::replaceChar(const std::string& text, char oldChar, char newChar) {
  std::string out = text;
  for (char& c : out) {
    if (c == oldChar) c = newChar;
  }
  return out;
}

std::string TString::replaceAll(const std::string& text, const std::string& search,
                                const std::string& replacement) {
  if (search.empty()) return text;
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(search, from)) != std::string::npos; from = at + search.size()) {
    out.append(text, from, at - from);
    out += replacement;
  }
  out.append(text, from, std::string::npos);
  return out;
}

bool TString::startsWith(const std::string& text, const std::string& prefix, bool caseSensitive) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (caseSensitive ? a != b : upper(a) != upper(b)) return false;
  }
  return true;
}

bool TString::startsWith(const std::string& text, const std::string& prefix) {
  return startsWith(text, prefix, false);
}

std::unique_ptr<TStringCollection> TString::split(const std::string& text, char ch,
                                                  bool dropBlanks) {
  auto parts = std::make_unique<TStringCollection>();
  std::string current;
  if (dropBlanks && ch == ' ') {
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] == ' ') {
        parts->add(current);
        current.clear();
        while (i < text.size() && text[i] == ' ') ++i;
      } else {
        current.push_back(text[i++]);
      }
    }
    // The end adds the last part unless it came right after a separator.
    if (text.empty() || text.back() != ' ') parts->add(current);
    return parts;
  }
  for (char c : text) {
    if (c == ch) {
      parts->add(current);
      current.clear();
    } else if (!(dropBlanks && c == ' ')) {
      current.push_back(c);
    }
  }
  parts->add(current);
  return parts;
}

std::unique_ptr<TStringCollection> TString::split(const std::string& text, char ch) {
  return split(text, ch, false);
}

std::unique_ptr<char[]> TString::toNullTerminated(const std::string& text) {
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

int32_t TString::lastIndexOf(const std::string& part, const std::string& text) {
  size_t at = text.rfind(part);
  return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
}

int32_t TString::indexOf(const std::string& part, const std::string& text, int32_t from) {
  if (from < 1 || static_cast<size_t>(from) > text.size()) return 0;
  size_t at = text.find(part, static_cast<size_t>(from) - 1);
  return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
}

int32_t TString::compareIgnoreCase(const std::string& a, const std::string& b) {
  std::string x = toLowerAscii(a), y = toLowerAscii(b);
  size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    char c = x[i], d = y[i];
    if (c == d) continue;
    bool ac = isAlnum(c), ad = isAlnum(d);
    if (ac == ad) {
      return static_cast<unsigned char>(c) < static_cast<unsigned char>(d) ? -1 : 1;
    }
    return ac ? 1 : -1;
  }
  if (x.size() == y.size()) return 0;
  return x.size() < y.size() ? -1 : 1;
}

std::string TString::padNumber(int64_t number, int32_t width) {
  std::string digits = std::to_string(number);
  if (static_cast<int64_t>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return digits;
}

std::string TString::toLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string TString::toUpperAscii(std::string text) {
  for (char& c : text) c = upper(c);
  return text;
}

std::string TString::trim(const std::string& text) { return std::string(trimmed(text)); }

std::string_view TString::trimmed(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && isTrimmed(text[begin])) ++begin;
  while (end > begin && isTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool TString::equalsLowerAscii(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}
