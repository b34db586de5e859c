#pragma once
// The string value object and the base library's text functions. Texts are
// 8-bit strings; positions count from 1 and 0 means "not found"; case
// folding touches the ASCII letters A to Z only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "basis/TPObject.h"

class TStringCollection;

class TString : public TPObject {
  MORVANE_CLASS(TString, TPObject)

  TString();
  explicit TString(const std::string& text);

  const std::string& stringValue() const noexcept { return value; }

  // Instance forms: apply the class function to value and return the result;
  // value itself stays as it is.
  virtual std::string replaceChar(char oldChar, char newChar) const;
  virtual std::string replaceAll(const std::string& search, const std::string& replacement) const;
  std::unique_ptr<char[]> toNullTerminated() const;

  bool equals(const TMappedObject* obj) const override;
  std::string toString() const override { return value; }
  // Sum of the byte values, wrapping in 32 bits.
  int32_t hashCode() const override;
  // A hash over all bytes and their order, unlike the byte sum:
  // lookupHashOf(value).
  uint64_t lookupHash() const override;
  static uint64_t lookupHashOf(const std::string& text);
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

  // ---- class functions
  static bool containsIgnoreCase(const std::string& text, const std::string& part);
  static std::string removeChar(const std::string& text, char ch);
  static std::string replaceChar(const std::string& text, char oldChar, char newChar);
  // Text produced by a replacement is never searched again.
  static std::string replaceAll(const std::string& text, const std::string& search,
                                const std::string& replacement);
  static bool startsWith(const std::string& text, const std::string& prefix, bool caseSensitive);
  static bool startsWith(const std::string& text, const std::string& prefix);
  // Always one entry more than `text` has `ch` characters, except in blank
  // mode (dropBlanks with ch == ' '), where runs of blanks separate once.
  static std::unique_ptr<TStringCollection> split(const std::string& text, char ch,
                                                  bool dropBlanks);
  static std::unique_ptr<TStringCollection> split(const std::string& text, char ch);
  static std::unique_ptr<char[]> toNullTerminated(const std::string& text);
  static int32_t lastIndexOf(const std::string& part, const std::string& text);
  static int32_t indexOf(const std::string& part, const std::string& text, int32_t from);
  // -1, 0 or 1; ignores letter case and sorts punctuation before letters and digits.
  static int32_t compareIgnoreCase(const std::string& a, const std::string& b);
  static std::string padNumber(int64_t number, int32_t width);

  // Helpers shared across the library.
  static std::string toLowerAscii(std::string text);
  static std::string toUpperAscii(std::string text);
  // Removes characters with codes 0 to 32 from both ends.
  static std::string trim(const std::string& text);
  // The part of `text` trim() keeps, without a copy.
  static std::string_view trimmed(std::string_view text);
  // `text` equals `lower` when A-Z in `text` are taken as a-z; `lower` is
  // already lower case.
  static bool equalsLowerAscii(std::string_view text, std::string_view lower);

  std::string value;
};
