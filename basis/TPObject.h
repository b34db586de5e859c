#pragma once
// Persistable object: loads and stores itself in binary object files, prints
// itself to text files, and nests inside other objects' records.

#include <string>

#include "basis/OptionalHandler.h"
#include "basis/OptionalText.h"
#include "basis/TMappedObject.h"

class TFile;
class TTextFile;
class THashtable;

class TPObject : public TMappedObject {
  MORVANE_CLASS(TPObject, TMappedObject)

  // create(): root construction, then initialize().
  TPObject();
  // create(text): create(), fileName := text, load(text).
  explicit TPObject(const std::string& text);
  // create(file): create(), then read(file).
  explicit TPObject(TFile& file);

  // The file that the parameterless load, store, print and append use.
  OptionalText fileName;
  // When set, read/write/print call these instead of readFrom/writeTo/printTo.
  OptionalHandler<void(TFile&)> onRead;
  OptionalHandler<void(TFile&)> onWrite;
  OptionalHandler<void(TTextFile&)> onPrint;

  // This object's own data inside the current record. The default writes
  // hashCode() and the class name, and reads nothing.
  virtual void readFrom(TFile& file);
  virtual void writeTo(TFile& file);
  // One line: toString().
  virtual void printTo(TTextFile& textFile);
  virtual bool isSizePrefixed() const { return true; }
  virtual bool isBuffered() const { return false; }
  // Resets the fields to their defaults. Overrides call the inherited one first.
  virtual void initialize() {}

  void load();
  void load(const std::string& fileName);
  // classMap (may be nullptr, not taken) translates stored class names.
  void load(const std::string& fileName, THashtable* classMap);
  // initialize(), then one record through readFrom (or onRead).
  void read(TFile& file);

  void store();
  // Replaces the file with the header and one top-level record.
  void store(const std::string& fileName);
  void write(TFile& file);

  void print();
  void print(const std::string& fileName);
  void print(TTextFile& textFile);
  void append();
  void append(const std::string& fileName);
  void append(TTextFile& textFile);

  // The text every object file of this class begins with; empty: no header.
  virtual std::string getHeader() const { return {}; }

 protected:
  // The bodies of create(text) and create(file) for subclasses, whose own
  // constructors must run them so initialize() and readFrom() dispatch to them.
  void constructFromText(const std::string& text);
  void constructFromFile(TFile& file);
};
