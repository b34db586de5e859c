#pragma once
// A key-value pair that owns both: destroying an entry deletes its value,
// then its key. Equality and hash code are the key's, so a hash set of
// entries works as a map.

#include <memory>

#include "basis/TPObject.h"

class THashSet;

class TMapEntry : public TPObject {
  MORVANE_CLASS(TMapEntry, TPObject)

  TMapEntry();
  // Takes both; nothing is copied.
  TMapEntry(TMappedObject* key, TMappedObject* value);
  ~TMapEntry() override;

  TMappedObject* getKey() const noexcept { return key_; }
  TMappedObject* getValue() const noexcept { return value_; }
  // The setters take the new object and do not release the one they replace.
  void setKey(TMappedObject* key) noexcept { key_ = key; }
  void setValue(TMappedObject* value) noexcept { value_ = value; }
  // Hands the object to the caller; the entry holds nullptr afterwards.
  TMappedObject* releaseKey() noexcept;
  TMappedObject* releaseValue() noexcept;

  // Releases what the entry holds; key and value become nullptr.
  void initialize() override;
  // For an entry of this class or a subclass: the keys are equal (two
  // missing keys count as equal). Values are not compared.
  bool equals(const TMappedObject* obj) const override;
  // The key's hash code; 0 without a key.
  int32_t hashCode() const override;
  // The key's lookup hash; 0 without a key.
  uint64_t lookupHash() const override;
  // "key.toString: " [key " "] "value.toString: " [value].
  std::string toString() const override;
  // A new entry holding copies of the key and the value.
  std::unique_ptr<TMappedObject> clone() const override;

  // Reads one nested set of entries, as the tables store them. Anything but
  // a THashSet of entries with a value and a key that `validKey` accepts is
  // released and refused with IOException
  // "<reader>: Stored <Class> is no set of <what>.".
  static std::unique_ptr<THashSet> readEntrySet(TFile& file, bool (*validKey)(const TMappedObject*),
                                                const std::string& reader, const std::string& what);
  // The value, then the key: each as 1 and a nested object, or as 0 when it
  // is missing or no TPObject.
  void writeTo(TFile& file) override;
  void readFrom(TFile& file) override;

 private:
  TMappedObject* key_ = nullptr;
  TMappedObject* value_ = nullptr;
};
