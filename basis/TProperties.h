#pragma once
// A string table of text values read from a ".properties" file, with typed
// lookups in pairs: one raising on an absent key or bad value, and a twin
// that takes a default.
//
// File format: one "key = value" pair per line (LF, CR LF or CR); lines are
// trimmed; empty lines and lines starting with "#" or "//" are skipped; the
// key ends at the first blank, "=" or tab; the separator is a run of blanks
// and tabs with at most one "="; the value is the rest, unchanged. The last
// occurrence of a key wins.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "basis/TStringtable.h"

class TString;
class TStringCollection;

class TProperties : public TStringtable {
  MORVANE_CLASS(TProperties, TStringtable)

  // Empty and owning.
  TProperties();
  // Owning, then loadProperties(fileName).
  explicit TProperties(const std::string& fileName);
  // Owning, then loadDefault(): the file named after the executable.
  static std::unique_ptr<TProperties> createDefault();

  // The main configuration file: TSystem::configurationFileName() in
  // TSystem::getConfigurationPath().
  static std::string defaultFileName();
  virtual void loadDefault();
  // Replaces the table's pairs by the file's. A missing file raises
  // InvalidPropertiesException and leaves the table as it was.
  virtual void loadProperties(const std::string& fileName);
  // Replaces the table's pairs by those of `text` or of what `in` gives
  // up to its end, read like a file. A stream that fails raises IOException.
  void loadFromText(const std::string& text);
  void loadFromStream(std::istream& in);
  // Puts a new TString; returns the text a non-owning table handed back.
  virtual std::string setProperty(const std::string& key, const std::string& value);
  // "# " + header, then "key = value" per key.
  virtual void storeProperties(const std::string& fileName, const std::string& header);

  virtual std::string getString(const std::string& key) const;
  // The default only when the key is absent; other failures pass.
  virtual std::string getString(const std::string& key, const std::string& defaultValue) const;
  virtual int32_t getInteger(const std::string& key) const;
  virtual int32_t getInteger(const std::string& key, int32_t defaultValue) const;
  virtual double getDouble(const std::string& key) const;
  virtual double getDouble(const std::string& key, double defaultValue) const;
  virtual bool getBoolean(const std::string& key) const;
  virtual bool getBoolean(const std::string& key, bool defaultValue) const;
  virtual std::unique_ptr<TString> getStringObject(const std::string& key) const;
  virtual std::unique_ptr<TString> getStringObject(const std::string& key,
                                                   const std::string& defaultValue) const;
  // A time of day as a date-time fraction.
  virtual double getTime(const std::string& key) const;
  virtual double getTime(const std::string& key, double defaultValue) const;
  // The value's tokens at "," and blank.
  virtual std::unique_ptr<TStringCollection> getStringList(const std::string& key) const;
  virtual std::unique_ptr<TStringCollection> getStringList(const std::string& key,
                                                           const std::string& defaultValue) const;
  virtual std::unique_ptr<TStringCollection> getCSVValues(const std::string& key) const;
  virtual std::unique_ptr<TStringCollection> getCSVValues(const std::string& key,
                                                          const std::string& defaultValue) const;
  // The value up to its first blank; that file must exist.
  virtual std::string getFileName(const std::string& key) const;
  virtual std::string getFileName(const std::string& key, const std::string& defaultValue) const;
  // The part after the first blank, when that blank is not the last character.
  virtual std::string getParameters(const std::string& key) const;
  virtual std::string getParameters(const std::string& key, const std::string& defaultValue) const;

 private:
  // Enters the pair of one line of the file format, if it holds one.
  void takeLine(const std::string& line);
};
