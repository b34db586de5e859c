#include "basis/TAbstractList.h"

#include "basis/TFile.h"
#include "basis/TTextFile.h"

void TAbstractList::addAll(const TAbstractList& list) {
  int32_t count = list.size();
  for (int32_t i = 0; i < count; ++i) add(list.get(i));
}

void TAbstractList::writeTo(TFile& file) {
  int32_t count = 0;
  for (int32_t i = 0; i < size(); ++i) {
    if (as<TPObject>(get(i)) != nullptr) ++count;
  }
  file.writeInteger(count);
  for (int32_t i = 0; i < size(); ++i) {
    if (auto* element = as<TPObject>(get(i))) file.writeTPObject(*element);
  }
}

void TAbstractList::readFrom(TFile& file) {
  clear();
  try {
    int32_t count = file.readInteger();
    // A nested object takes at least its class name's length and its record length.
    file.checkCount(count, 8);
    for (int32_t i = 0; i < count; ++i) {
      std::unique_ptr<TPObject> element = file.readTPObject();
      add(element.get());
      element.release();
    }
  } catch (...) {
    // Nobody else holds what was read so far.
    bool wasOwner = isOwner();
    adoptContents();
    clear();
    setOwner(wasOwner);
    throw;
  }
}

void TAbstractList::adoptContents() {
  for (int32_t i = 0; i < size(); ++i) adoptContentsOf(get(i));
  setOwner(true);
}

void TAbstractList::printTo(TTextFile& textFile) {
  textFile.writeln(toString());
  for (int32_t i = 0; i < size(); ++i) {
    if (auto* element = as<TPObject>(get(i))) element->printTo(textFile);
  }
  textFile.writeln("");
}
