#include "basis/TMapEntry.h"

#include "basis/TAbstractCollection.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"

TMapEntry::TMapEntry() : TPObject(TBlank{}) { initialize(); }

TMapEntry::TMapEntry(TMappedObject* key, TMappedObject* value) : TMapEntry() {
  key_ = key;
  value_ = value;
}

TMapEntry::~TMapEntry() {
  delete value_;
  delete key_;
}

TMappedObject* TMapEntry::releaseKey() noexcept {
  TMappedObject* key = key_;
  key_ = nullptr;
  return key;
}

TMappedObject* TMapEntry::releaseValue() noexcept {
  TMappedObject* value = value_;
  value_ = nullptr;
  return value;
}

void TMapEntry::initialize() {
  TPObject::initialize();
  delete releaseValue();
  delete releaseKey();
}

bool TMapEntry::equals(const TMappedObject* obj) const {
  if (obj == nullptr || !obj->inheritsFrom(getClass())) return false;
  const TMappedObject* otherKey = static_cast<const TMapEntry*>(obj)->key_;
  if (key_ == nullptr) return otherKey == nullptr;
  return key_->equals(otherKey);
}

int32_t TMapEntry::hashCode() const { return key_ != nullptr ? key_->hashCode() : 0; }

uint64_t TMapEntry::lookupHash() const { return key_ != nullptr ? key_->lookupHash() : 0; }

std::string TMapEntry::toString() const {
  std::string text = "key.toString: ";
  if (key_ != nullptr) text += key_->toString() + " ";
  text += "value.toString: ";
  if (value_ != nullptr) text += value_->toString();
  return text;
}

std::unique_ptr<TMappedObject> TMapEntry::clone() const {
  std::unique_ptr<TMappedObject> key = key_ != nullptr ? key_->clone() : nullptr;
  std::unique_ptr<TMappedObject> value = value_ != nullptr ? value_->clone() : nullptr;
  auto copy = std::make_unique<TMapEntry>();
  copy->key_ = key.release();
  copy->value_ = value.release();
  return copy;
}

namespace {
void writeOptional(TFile& file, TMappedObject* obj) {
  if (auto* persistable = as<TPObject>(obj)) {
    file.writeInteger(1);
    file.writeTPObject(*persistable);
  } else {
    file.writeInteger(0);
  }
}
}  // namespace

void TMapEntry::writeTo(TFile& file) {
  writeOptional(file, value_);
  writeOptional(file, key_);
}

void TMapEntry::readFrom(TFile& file) {
  if (file.readInteger() > 0) {
    std::unique_ptr<TPObject> value = file.readTPObject();
    delete value_;
    value_ = value.release();
  }
  if (file.readInteger() > 0) {
    std::unique_ptr<TPObject> key = file.readTPObject();
    delete key_;
    key_ = key.release();
  }
}

std::unique_ptr<THashSet> TMapEntry::readEntrySet(TFile& file, bool (*validKey)(const TMappedObject*),
                                                  const std::string& reader, const std::string& what) {
  std::unique_ptr<TPObject> read = file.readTPObject();
  auto* set = as<THashSet>(read.get());
  bool valid = set != nullptr;
  if (valid) {
    set->forEach([&](TMappedObject* element) {
      auto* entry = as<TMapEntry>(element);
      if (entry == nullptr || !validKey(entry->getKey()) || entry->getValue() == nullptr) valid = false;
    });
  }
  if (!valid) {
    TAbstractCollection::adoptContentsOf(read.get());  // what was read belongs to nobody else
    throw IOException(reader + ": Stored " + read->className() + " is no set of " + what + ".");
  }
  read.release();
  return std::unique_ptr<THashSet>(set);
}
