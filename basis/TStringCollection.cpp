#include "basis/TStringCollection.h"

#include <stdexcept>

#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/TString.h"
#include "basis/TStringTokenizer.h"

TStringCollection::TStringCollection() : TPObject(TBlank{}) { initialize(); }

TStringCollection::TStringCollection(const std::string& text) : TStringCollection() {
  TStringTokenizer lines(text, "\r\n");
  while (lines.hasMoreTokens()) add(lines.nextToken());
}

TStringCollection::TStringCollection(const THashSet* set) : TStringCollection() {
  if (set == nullptr) throw IllegalArgumentException("TStringCollection.<init>: HashSet mustn't be nil.");
  set->forEach([this](TMappedObject* element) {
    if (const auto* text = as<TString>(element)) add(text->stringValue());
  });
}

int32_t TStringCollection::add(const std::string& text) {
  strings_.push_back(text);
  return size() - 1;
}

namespace {
size_t checked(int32_t index, size_t size, bool allowEnd) {
  if (index < 0 || static_cast<size_t>(index) > size || (!allowEnd && static_cast<size_t>(index) == size)) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  return static_cast<size_t>(index);
}
}  // namespace

void TStringCollection::insert(int32_t index, const std::string& text) {
  strings_.insert(strings_.begin() + static_cast<std::ptrdiff_t>(checked(index, strings_.size(), true)), text);
}

void TStringCollection::copyToStrings(std::vector<std::string>& list) const { list = strings_; }

const std::string& TStringCollection::get(int32_t index) const {
  return strings_[checked(index, strings_.size(), false)];
}

const std::string& TStringCollection::appendAt(int32_t index, const std::string& text) {
  std::string& entry = strings_[checked(index, strings_.size(), false)];
  entry += text;
  return entry;
}

void TStringCollection::remove(int32_t index) {
  strings_.erase(strings_.begin() + static_cast<std::ptrdiff_t>(checked(index, strings_.size(), false)));
}

bool TStringCollection::equals(const TMappedObject* obj) const {
  const auto* other = as<TStringCollection>(obj);
  return other != nullptr && other->toString() == toString();
}

std::string TStringCollection::toString() const {
  std::string text;
  for (const std::string& s : strings_) {
    text += s;
    text += "\r\n";
  }
  return text;
}

std::unique_ptr<TMappedObject> TStringCollection::clone() const {
  auto copy = std::make_unique<TStringCollection>();
  copy->strings_ = strings_;
  return copy;
}

void TStringCollection::readFrom(TFile& file) {
  clear();
  int32_t count = file.readInteger();
  file.checkCount(count, 4);  // every entry takes at least its length field
  for (int32_t i = 0; i < count; ++i) add(file.readString());
}

void TStringCollection::writeTo(TFile& file) {
  file.writeInteger(size());
  for (const std::string& s : strings_) file.writeString(s);
}
