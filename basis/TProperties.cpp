#include "basis/TProperties.h"

#include <istream>
#include <sstream>

#include "basis/Conversions.h"
#include "basis/FileSystem.h"
#include "basis/TCSVParser.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TStringTokenizer.h"
#include "basis/TSystem.h"
#include "basis/TTextFile.h"
#include "basis/ValueObjects.h"

namespace {

std::string keyPrefix(const std::string& key) { return "TProperties: Key: " + key; }

// Editors may start a UTF-8 file with a byte order mark; it is no part of the first key.
constexpr char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

std::string withoutByteOrderMark(std::string line) {
  if (line.rfind(BYTE_ORDER_MARK, 0) == 0) line.erase(0, 3);
  return line;
}

// Runs `lookup`; any failure gives `defaultValue`.
template <class T, class F>
T orDefault(F&& lookup, T defaultValue) {
  try {
    return lookup();
  } catch (...) {
    return defaultValue;
  }
}

}  // namespace

// TProperties adds no fields and no initialize(), so the owning table
// constructor sets it up completely.
TProperties::TProperties() : TStringtable(true) {}

TProperties::TProperties(const std::string& fileName) : TProperties() { loadProperties(fileName); }

std::unique_ptr<TProperties> TProperties::createDefault() {
  auto properties = std::make_unique<TProperties>();
  properties->loadDefault();
  return properties;
}

std::string TProperties::defaultFileName() {
  return TSystem::getConfigurationPath() + TSystem::configurationFileName(TSystem::getExecutablePath());
}

void TProperties::loadDefault() { loadProperties(defaultFileName()); }

void TProperties::loadProperties(const std::string& fileName) {
  if (!fileutil::fileExists(fileName)) {
    throw InvalidPropertiesException("TProperty: Textfile: " + fileName + " does not exist.");
  }
  TTextFile file(fileName, TTextFile::MODE_READ);
  clear();
  if (!file.eof()) takeLine(withoutByteOrderMark(file.readln()));
  while (!file.eof()) takeLine(file.readln());
  file.close();
}

void TProperties::loadFromText(const std::string& text) {
  std::istringstream in(text);
  loadFromStream(in);
}

void TProperties::loadFromStream(std::istream& in) {
  clear();
  std::string line;
  bool pending = false;
  bool first = true;
  for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
    if (c == '\r' || c == '\n') {
      if (c == '\r' && in.peek() == '\n') in.get();
      takeLine(first ? withoutByteOrderMark(line) : line);
      first = false;
      line.clear();
      pending = false;
    } else {
      line.push_back(static_cast<char>(c));
      pending = true;
    }
  }
  if (in.bad()) throw IOException("TProperties.loadFromStream: The stream failed.");
  if (pending) takeLine(first ? withoutByteOrderMark(line) : line);
}

void TProperties::takeLine(const std::string& text) {
  std::string line = TString::trim(text);
  if (line.empty() || line[0] == '#' || line.rfind("//", 0) == 0) return;
  size_t i = line.find_first_of(" =\t");
  std::string key = line.substr(0, i == std::string::npos ? line.size() : i);
  bool seenEquals = false;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == '=' && !seenEquals) {
      seenEquals = true;
      ++i;
    } else {
      break;
    }
  }
  setProperty(key, i < line.size() ? line.substr(i) : std::string());
}

std::string TProperties::setProperty(const std::string& key, const std::string& value) {
  std::unique_ptr<TMappedObject> previous(put(key, new TString(value)));
  return previous != nullptr ? previous->toString() : std::string();
}

void TProperties::storeProperties(const std::string& fileName, const std::string& header) {
  TTextFile file(fileName, TTextFile::MODE_WRITE);
  file.writeln("# " + header);
  std::unique_ptr<TStringCollection> all = keys();
  for (const std::string& key : all->getStrings()) {
    TMappedObject* value = get(key);
    file.writeln(key + " = " + (value != nullptr ? value->toString() : std::string()));
  }
  file.close();
}

std::string TProperties::getString(const std::string& key) const {
  TMappedObject* value = get(key);
  return value != nullptr ? value->toString() : std::string();
}

std::string TProperties::getString(const std::string& key, const std::string& defaultValue) const {
  try {
    return getString(key);
  } catch (const InvalidKeyException&) {
    return defaultValue;
  }
}

int32_t TProperties::getInteger(const std::string& key) const {
  std::string text = getString(key);
  try {
    return convert::toInt32(text);
  } catch (const ConvertException&) {
    throw IllegalPropertyValueException(keyPrefix(key) + " no integer value.");
  }
}

int32_t TProperties::getInteger(const std::string& key, int32_t defaultValue) const {
  return orDefault([&] { return getInteger(key); }, defaultValue);
}

double TProperties::getDouble(const std::string& key) const {
  std::string text = getString(key);
  try {
    return convert::toDouble(text);
  } catch (const ConvertException&) {
    throw IllegalPropertyValueException(keyPrefix(key) +
                                        " no double value, decimal seperator is: '" +
                                        convert::decimalSeparator() + "'.");
  }
}

double TProperties::getDouble(const std::string& key, double defaultValue) const {
  return orDefault([&] { return getDouble(key); }, defaultValue);
}

bool TProperties::getBoolean(const std::string& key) const {
  std::string text = TString::toLowerAscii(getString(key));
  if (text == "true") return true;
  if (text == "false") return false;
  throw IllegalPropertyValueException(keyPrefix(key) + " no boolean value.");
}

bool TProperties::getBoolean(const std::string& key, bool defaultValue) const {
  return orDefault([&] { return getBoolean(key); }, defaultValue);
}

std::unique_ptr<TString> TProperties::getStringObject(const std::string& key) const {
  return std::make_unique<TString>(getString(key));
}

std::unique_ptr<TString> TProperties::getStringObject(const std::string& key,
                                                      const std::string& defaultValue) const {
  try {
    return getStringObject(key);
  } catch (...) {
    return std::make_unique<TString>(defaultValue);
  }
}

double TProperties::getTime(const std::string& key) const {
  std::string text = getString(key);
  try {
    return convert::toTimeOfDay(text);
  } catch (const ConvertException&) {
    throw IllegalPropertyValueException(keyPrefix(key) + " no TDateTime value, format: " +
                                        convert::longTimeFormat() + ".");
  }
}

double TProperties::getTime(const std::string& key, double defaultValue) const {
  return orDefault([&] { return getTime(key); }, defaultValue);
}

std::unique_ptr<TStringCollection> TProperties::getStringList(const std::string& key) const {
  TStringTokenizer tokens(getString(key), ", ");
  return tokens.allTokens();
}

std::unique_ptr<TStringCollection> TProperties::getStringList(
    const std::string& key, const std::string& defaultValue) const {
  try {
    return getStringList(key);
  } catch (...) {
    TStringTokenizer tokens(defaultValue, ", ");
    return tokens.allTokens();
  }
}

std::unique_ptr<TStringCollection> TProperties::getCSVValues(const std::string& key) const {
  return TCSVParser().valuesOf(getString(key));
}

std::unique_ptr<TStringCollection> TProperties::getCSVValues(
    const std::string& key, const std::string& defaultValue) const {
  try {
    return getCSVValues(key);
  } catch (...) {
    try {
      return TCSVParser().valuesOf(defaultValue);
    } catch (...) {
      return std::make_unique<TStringCollection>();
    }
  }
}

std::string TProperties::getFileName(const std::string& key) const {
  std::string value = getString(key);
  std::string name = value.substr(0, value.find(' '));
  if (!fileutil::fileExists(name)) {
    throw IllegalPropertyValueException(keyPrefix(key) + " with value " + value +
                                        " does not contain a valid filename.");
  }
  return name;
}

std::string TProperties::getFileName(const std::string& key, const std::string& defaultValue) const {
  return orDefault([&] { return getFileName(key); }, defaultValue);
}

std::string TProperties::getParameters(const std::string& key) const {
  std::string value = getString(key);
  size_t blank = value.find(' ');
  if (blank == std::string::npos || blank + 1 == value.size()) return {};
  return value.substr(blank + 1);
}

std::string TProperties::getParameters(const std::string& key,
                                       const std::string& defaultValue) const {
  return orDefault([&] { return getParameters(key); }, defaultValue);
}
