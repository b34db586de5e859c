#include "basis/TStringtable.h"

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/TMapEntry.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"

TStringtable::TStringtable() : TStringtable(true) {}

TStringtable::TStringtable(bool owner) : TAbstractCollection(TBlank{}) {
  initialize();
  set_ = new THashSet(owner);
  TAbstractCollection::setOwner(owner);
}

TStringtable::~TStringtable() {
  if (set_ != nullptr) clear();
  delete set_;
}

void TStringtable::initialize() {
  TAbstractCollection::initialize();
  if (set_ == nullptr) TAbstractCollection::setOwner(defaultOwner());
}

TAbstractCollection* TStringtable::setOwner(bool owner) {
  TAbstractCollection::setOwner(owner);
  if (set_ == nullptr) return this;
  return set_->setOwner(owner);
}

int32_t TStringtable::size() const { return set_ == nullptr ? 0 : set_->size(); }

void TStringtable::clear() {
  if (set_ == nullptr) return;
  // The entries and their keys are the table's, the values only when it owns
  // them. The set releases its elements in the order of keys().
  if (!isOwner()) {
    set_->forEach([](TMappedObject* element) { static_cast<TMapEntry*>(element)->releaseValue(); });
  }
  const bool setOwns = set_->isOwner();
  set_->setOwner(true);
  set_->clear();
  set_->setOwner(setOwns);
}

TMapEntry* TStringtable::getEntry(const std::string& key) const {
  if (set_ == nullptr) return nullptr;
  // The entry a probe entry with a TString key of these bytes would find.
  // Every element is an entry with a TString key: put makes them so, and
  // readFrom refuses a stored set of anything else. So only the bytes are
  // compared, which keeps a lookup off the first lines of both objects.
  auto sameKey = [&key](const TMappedObject* element) {
    return static_cast<const TString*>(static_cast<const TMapEntry*>(element)->getKey())->value == key;
  };
  return static_cast<TMapEntry*>(set_->findBy(TString::lookupHashOf(key), sameKey));
}

std::unique_ptr<TStringCollection> TStringtable::keys() const {
  auto result = std::make_unique<TStringCollection>();
  if (set_ == nullptr) return result;
  std::unique_ptr<TArrayList> entries = set_->toList();
  for (int32_t i = 0; i < entries->size(); ++i) {
    auto* entry = static_cast<TMapEntry*>(entries->get(i));
    result->add(entry->getKey() != nullptr ? entry->getKey()->toString() : std::string());
  }
  return result;
}

std::unique_ptr<TArrayList> TStringtable::values() const {
  auto result = std::make_unique<TArrayList>();
  if (set_ == nullptr) return result;
  std::unique_ptr<TArrayList> entries = set_->toList();
  for (int32_t i = 0; i < entries->size(); ++i) {
    TMappedObject* value = static_cast<TMapEntry*>(entries->get(i))->getValue();
    if (value != nullptr) result->add(value);
  }
  return result;
}

bool TStringtable::containsKey(const std::string& key) const { return getEntry(key) != nullptr; }

TMappedObject* TStringtable::get(const std::string& key) const {
  TMapEntry* entry = getEntry(key);
  if (entry == nullptr) throw InvalidKeyException(key);
  return entry->getValue();
}

void TStringtable::replaceValue(const std::string& key, const std::string& text) {
  TMapEntry* entry = getEntry(key);
  if (entry == nullptr) throw InvalidKeyException(key);
  bool wasOwner = set_->isOwner();
  set_->setOwner(false);
  try {
    set_->remove(entry);
    delete entry->getValue();
    entry->setValue(new TString(text));
    set_->add(entry);
  } catch (...) {
    set_->setOwner(wasOwner);
    throw;
  }
  set_->setOwner(wasOwner);
}

TMappedObject* TStringtable::put(const std::string& key, TMappedObject* value) {
  // A pair without a value would leave keys() and values() out of step.
  if (value == nullptr) throw IllegalArgumentException("TStringtable.put: Object is nil.");
  auto* entry = new TMapEntry(new TString(key), value);
  try {
    if (set_->add(entry)) return nullptr;
    // The key is present: its pair leaves first, and the new one goes last.
    TMappedObject* previous = remove(key);
    set_->add(entry);
    return previous;
  } catch (...) {
    entry->releaseValue();
    delete entry;
    throw;
  }
}

TMappedObject* TStringtable::remove(const std::string& key) {
  TMapEntry* entry = getEntry(key);
  if (entry == nullptr) return nullptr;
  if (isOwner()) {
    set_->remove(entry);  // the owning set releases entry, key and value
    return nullptr;
  }
  TMappedObject* value = entry->getValue();
  entry->setValue(nullptr);
  bool setOwns = set_->isOwner();
  set_->remove(entry);
  // The entry and its key were made by this table; only the value is the caller's.
  if (!setOwns) delete entry;
  return value;
}

std::unique_ptr<TMappedObject> TStringtable::clone() const {
  auto copy = std::make_unique<TStringtable>(isOwner());
  std::unique_ptr<TStringCollection> all = keys();
  for (const std::string& key : all->getStrings()) {
    TMappedObject* value = get(key);
    if (isOwner()) {
      copy->put(key, value->clone().release());
    } else {
      copy->put(key, value);
    }
  }
  return copy;
}

void TStringtable::writeTo(TFile& file) { file.writeTPObject(*set_); }

void TStringtable::readFrom(TFile& file) {
  std::unique_ptr<THashSet> read = TMapEntry::readEntrySet(
      file, [](const TMappedObject* key) { return as<TString>(key) != nullptr; }, "TStringtable.readFrom",
      "map entries with string keys");
  if (set_ != nullptr) {
    clear();
    delete set_;
  }
  set_ = read.release();
  set_->setOwner(isOwner());
}

void TStringtable::adoptContents() {
  if (set_ != nullptr) {
    set_->forEach([](TMappedObject* element) {
      adoptContentsOf(static_cast<TMapEntry*>(element)->getValue());
    });
  }
  setOwner(true);
}
