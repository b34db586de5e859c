#include "basis/TPObject.h"

#include "basis/TFile.h"
#include "basis/TTextFile.h"

TPObject::TPObject() : TMappedObject(TBlank{}) { initialize(); }

TPObject::TPObject(const std::string& text) : TPObject() { constructFromText(text); }

TPObject::TPObject(TFile& file) : TPObject() { constructFromFile(file); }

void TPObject::constructFromText(const std::string& text) {
  fileName = text;
  load(text);
}

void TPObject::constructFromFile(TFile& file) { read(file); }

void TPObject::readFrom(TFile&) {}

void TPObject::writeTo(TFile& file) {
  file.writeInteger(hashCode());
  file.writeString(className());
}

void TPObject::printTo(TTextFile& textFile) { textFile.writeln(toString()); }

void TPObject::load() { load(fileName); }

void TPObject::load(const std::string& name) { load(name, nullptr); }

void TPObject::load(const std::string& name, THashtable* classMap) {
  TFile file(name, false, getHeader());
  if (classMap != nullptr) file.classMap = classMap;
  read(file);
}

void TPObject::read(TFile& file) {
  initialize();
  file.beginReadRecord(isSizePrefixed());
  if (onRead) {
    onRead(file);
  } else {
    readFrom(file);
  }
  file.endReadRecord();
}

void TPObject::store() { store(fileName); }

void TPObject::store(const std::string& name) {
  TFile file(name, true, getHeader());
  write(file);
  file.close();
}

void TPObject::write(TFile& file) {
  file.beginWriteRecord(isSizePrefixed(), isBuffered());
  if (onWrite) {
    onWrite(file);
  } else {
    writeTo(file);
  }
  file.endWriteRecord();
}

void TPObject::print() { print(fileName); }

void TPObject::print(const std::string& name) {
  TTextFile textFile(name, TTextFile::MODE_WRITE);
  print(textFile);
  textFile.close();
}

void TPObject::print(TTextFile& textFile) {
  if (onPrint) {
    onPrint(textFile);
  } else {
    printTo(textFile);
  }
}

void TPObject::append() { append(fileName); }

void TPObject::append(const std::string& name) {
  TTextFile textFile(name, TTextFile::MODE_APPEND);
  append(textFile);
  textFile.close();
}

void TPObject::append(TTextFile& textFile) { print(textFile); }
