#include "basis/THashtable.h"

#include <vector>

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/TMapEntry.h"

namespace {
TMapEntry* entryOf(TMappedObject* element) { return static_cast<TMapEntry*>(element); }
}  // namespace

THashtable::THashtable() : THashtable(defaultOwner()) {}

THashtable::THashtable(bool isOwner) : TAbstractCollection(TBlank{}) {
  initialize();
  owner = isOwner;
  entries_ = new THashSet(isOwner);
}

THashtable::~THashtable() { releaseEntries(); }

void THashtable::initialize() {
  TAbstractCollection::initialize();
  if (entries_ == nullptr) owner = defaultOwner();
}

THashSet& THashtable::getEntries() const {
  if (entries_ == nullptr) throw IllegalStateException("THashtable: Table has no entry set.");
  return *entries_;
}

void THashtable::discard(TMapEntry* entry) const {
  if (!owner) {
    entry->releaseKey();
    entry->releaseValue();
  }
  delete entry;
}

void THashtable::releaseEntries() {
  if (entries_ == nullptr) return;
  std::unique_ptr<THashSet> set(entries_);
  entries_ = nullptr;
  std::vector<TMapEntry*> all;
  all.reserve(static_cast<size_t>(set->size()));
  set->forEach([&all](TMappedObject* element) { all.push_back(entryOf(element)); });
  set->setOwner(false);
  set.reset();
  for (TMapEntry* entry : all) discard(entry);
}

void THashtable::clear() {
  THashSet& set = getEntries();
  std::vector<TMapEntry*> all;
  all.reserve(static_cast<size_t>(set.size()));
  set.forEach([&all](TMappedObject* element) { all.push_back(entryOf(element)); });
  // The entries are taken out first and released by the table's own rule.
  set.setOwner(false);
  set.clear();
  set.setOwner(owner);
  for (TMapEntry* entry : all) discard(entry);
}

TAbstractCollection* THashtable::setOwner(bool isOwner) {
  owner = isOwner;
  if (entries_ == nullptr) return nullptr;
  return entries_->setOwner(isOwner);
}

void THashtable::adoptContents() {
  if (entries_ != nullptr) {
    entries_->forEach([](TMappedObject* element) {
      adoptContentsOf(entryOf(element)->getKey());
      adoptContentsOf(entryOf(element)->getValue());
    });
  }
  setOwner(true);
}

int32_t THashtable::size() const { return getEntries().size(); }

bool THashtable::equals(const TMappedObject* obj) const {
  const auto* other = as<THashtable>(obj);
  return other != nullptr && getEntries().equals(&other->getEntries());
}

int32_t THashtable::hashCode() const { return getEntries().hashCode(); }

std::unique_ptr<TMappedObject> THashtable::clone() const {
  auto copy = std::make_unique<THashtable>(owner);
  getEntries().forEach([&](TMappedObject* element) {
    TMapEntry* entry = entryOf(element);
    if (owner) {
      std::unique_ptr<TMappedObject> key = entry->getKey()->clone();
      std::unique_ptr<TMappedObject> value = entry->getValue()->clone();
      copy->put(key.release(), value.release());
    } else {
      copy->put(entry->getKey(), entry->getValue());
    }
  });
  return copy;
}

TMapEntry* THashtable::findByCopy(const TMappedObject* key) const {
  if (key == nullptr) throw IllegalArgumentException("THashtable: Given key is nil.");
  TMapEntry probe(key->clone().release(), nullptr);
  return static_cast<TMapEntry*>(getEntries().get(&probe));
}

bool THashtable::containsKey(const TMappedObject* key) const { return findByCopy(key) != nullptr; }

bool THashtable::containsValue(const TMappedObject* value) const {
  bool found = false;
  getEntries().forEach([&](TMappedObject* element) {
    if (!found && entryOf(element)->getValue()->equals(value)) found = true;
  });
  return found;
}

TMappedObject* THashtable::get(const TMappedObject* key) const {
  TMapEntry* entry = findByCopy(key);
  if (entry == nullptr) throw InvalidKeyException("THashtable.get: Key: " + key->toString() + " not found.");
  return entry->getValue();
}

std::unique_ptr<TArrayList> THashtable::keys() const {
  auto list = std::make_unique<TArrayList>();
  getEntries().forEach([&list](TMappedObject* element) { list->add(entryOf(element)->getKey()); });
  return list;
}

std::unique_ptr<TArrayList> THashtable::values() const {
  auto list = std::make_unique<TArrayList>();
  getEntries().forEach([&list](TMappedObject* element) { list->add(entryOf(element)->getValue()); });
  return list;
}

void THashtable::reput(const TMappedObject* oldKey, TMappedObject* newKey) {
  if (oldKey == nullptr || newKey == nullptr) {
    throw IllegalArgumentException("THashtable.reput: Old or new key not assigned.");
  }
  THashSet& set = getEntries();
  TMapEntry* entry = nullptr;
  {
    // The probe borrows oldKey, which stays the caller's.
    TMapEntry probe(const_cast<TMappedObject*>(oldKey), nullptr);
    try {
      entry = static_cast<TMapEntry*>(set.extract(&probe));
    } catch (...) {
      probe.releaseKey();
      throw;
    }
    probe.releaseKey();
  }
  if (entry == nullptr) {
    throw InvalidKeyException("THashtable.reput: Key " + oldKey->toString() + " does not exists in map.");
  }
  TMappedObject* previousKey = entry->releaseKey();
  entry->setKey(newKey);
  if (!set.add(entry)) {
    // newKey is taken: the pair of oldKey leaves the table, the other stays.
    auto* existing = static_cast<TMapEntry*>(set.get(entry));
    if (existing->getKey() == newKey) entry->releaseKey();
    discard(entry);
  }
  if (owner && previousKey != newKey) delete previousKey;
}

std::unique_ptr<TMappedObject> THashtable::put(TMappedObject* key, TMappedObject* value) {
  if (key == nullptr || value == nullptr) {
    throw IllegalArgumentException("THashtable: Key and value mustn't equals nil.");
  }
  THashSet& set = getEntries();
  auto* entry = new TMapEntry(key, value);
  bool added = false;
  try {
    added = set.add(entry);
  } catch (...) {
    entry->releaseKey();
    entry->releaseValue();
    delete entry;
    throw;
  }
  if (added) return nullptr;
  auto* stored = static_cast<TMapEntry*>(set.extract(entry));
  std::unique_ptr<TMappedObject> copy = stored->getValue()->clone();
  // Objects offered again must survive the release of the old pair.
  if (stored->getKey() == key) stored->releaseKey();
  if (stored->getValue() == value) stored->releaseValue();
  discard(stored);
  set.add(entry);
  return copy;
}

void THashtable::putAll(const THashtable& table) {
  std::unique_ptr<TArrayList> otherKeys = table.keys();
  std::unique_ptr<TArrayList> otherValues = table.values();
  for (int32_t i = 0; i < otherKeys->size(); ++i) {
    if (owner) {
      // Two owning tables must never hold the same object.
      std::unique_ptr<TMappedObject> key = otherKeys->get(i)->clone();
      std::unique_ptr<TMappedObject> value = otherValues->get(i)->clone();
      put(key.release(), value.release());
    } else {
      put(otherKeys->get(i), otherValues->get(i));
    }
  }
}

std::unique_ptr<TMappedObject> THashtable::remove(const TMappedObject* key) {
  TMapEntry* stored = findByCopy(key);
  if (stored == nullptr) return nullptr;
  std::unique_ptr<TMappedObject> copy = stored->getValue()->clone();
  getEntries().extract(stored);
  discard(stored);
  return copy;
}

void THashtable::readFrom(TFile& file) {
  releaseEntries();
  try {
    entries_ = TMapEntry::readEntrySet(
                   file, [](const TMappedObject* key) { return key != nullptr; }, "THashtable.readFrom",
                   "complete map entries")
                   .release();
    entries_->setOwner(owner);
  } catch (...) {
    entries_ = new THashSet(owner);
    throw;
  }
}

void THashtable::writeTo(TFile& file) { file.writeTPObject(getEntries()); }
