#include "basis/ValueObjects.h"

#include <langinfo.h>

#include <charconv>
#include <cmath>
#include <ctime>

#include "basis/DateTime.h"
#include "basis/TFile.h"

namespace {
std::string lowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string formatLocal(const char* format, const std::tm& t) {
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, format, &t);
  return std::string(buffer, n);
}
}  // namespace

// ---- TInteger

TInteger::TInteger() : TPObject(TBlank{}) { initialize(); }

TInteger::TInteger(int32_t v) : TInteger() { value = v; }

TInteger::TInteger(const std::string& text) : TInteger() {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  int32_t parsed = 0;
  auto [end, error] = std::from_chars(first, last, parsed);
  if (text.empty() || error != std::errc() || end != last) {
    throw ConvertException("'" + text + "' is not a valid integer value");
  }
  value = parsed;
}

int32_t TInteger::compare(int32_t a, int32_t b) noexcept { return a < b ? -1 : (a > b ? 1 : 0); }

int32_t TInteger::compareTo(const TInteger& other) const { return compareTo(other.intValue()); }

int32_t TInteger::compareTo(int32_t other) const { return compare(value, other); }

bool TInteger::equals(const TMappedObject* obj) const {
  const TMappedObject* other = obj;
  return other != nullptr && other->inheritsFrom(getClass()) &&
         static_cast<const TInteger*>(other)->value == value;
}

std::string TInteger::toString() const { return std::to_string(value); }

std::unique_ptr<TMappedObject> TInteger::clone() const { return std::make_unique<TInteger>(value); }

void TInteger::readFrom(TFile& file) { value = file.readInteger(); }

void TInteger::writeTo(TFile& file) { file.writeInteger(value); }

// ---- TBoolean

TBoolean::TBoolean() : TPObject(TBlank{}) { initialize(); }

TBoolean::TBoolean(bool v) : TBoolean() { value = v; }

bool TBoolean::fromString(const std::string& text) {
  std::string lower = lowerAscii(text);
  if (lower == "true") return true;
  if (lower == "false") return false;
  throw ParserException("TBoolean.fromString", "No such boolean value", text, 1);
}

std::string TBoolean::toString(bool b) { return b ? "true" : "false"; }

bool TBoolean::equals(const TMappedObject* obj) const {
  return obj != nullptr && obj->inheritsFrom(getClass()) &&
         static_cast<const TBoolean*>(obj)->value == value;
}

std::string TBoolean::toString() const { return toString(value); }

std::unique_ptr<TMappedObject> TBoolean::clone() const { return std::make_unique<TBoolean>(value); }

void TBoolean::readFrom(TFile& file) { value = file.readByte() != 0; }

void TBoolean::writeTo(TFile& file) { file.writeByte(value ? 1 : 0); }

// ---- TTDateTime

TTDateTime::TTDateTime() : TPObject(TBlank{}) { initialize(); }

TTDateTime::TTDateTime(double v) : TTDateTime() { value = v; }

int32_t TTDateTime::elapsedMillis(double later, double earlier) {
  if (!(earlier < later)) return 0;
  double d = later - earlier;
  double days = std::floor(d);
  double millis = days * 86400000.0 + std::round((d - days) * 86400000.0);
  if (!(millis < 2147483647.0)) return INT32_MAX;
  return static_cast<int32_t>(millis);
}

bool TTDateTime::equals(const TMappedObject* obj) const {
  return obj != nullptr && obj->inheritsFrom(getClass()) &&
         static_cast<const TTDateTime*>(obj)->value == value;
}

std::string TTDateTime::toString() const {
  std::tm t = datetime::toTm(value);
  std::string text = formatLocal(nl_langinfo(D_FMT), t);
  if (t.tm_hour != 0 || t.tm_min != 0 || t.tm_sec != 0) {
    text += ' ';
    text += formatLocal(nl_langinfo(T_FMT), t);
  }
  return text;
}

std::unique_ptr<TMappedObject> TTDateTime::clone() const {
  return std::make_unique<TTDateTime>(value);
}

void TTDateTime::readFrom(TFile& file) { value = file.readDouble(); }

void TTDateTime::writeTo(TFile& file) { file.writeDouble(value); }
