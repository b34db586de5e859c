#pragma once
// Map from key objects to value objects on a hash set of TMapEntry objects:
// an entry's equality and hash code are its key's, so the set's buckets,
// growth and iteration order are the table's.
//
// Keys need equals and hashCode that agree and a clone that copies: get,
// containsKey and remove look a key up through a copy of it. Values need a
// real clone: put and remove hand back copies of the values they displace.
//
// Ownership: put hands the key and the value to the table. An owning table
// deletes keys and values that leave it (remove, replacement, clear, its
// own destruction); a table that is not an owner never deletes a key or a
// value, only the entries it made for them.

#include <memory>

#include "basis/TAbstractCollection.h"

class TArrayList;
class THashSet;
class TMapEntry;

class THashtable : public TAbstractCollection {
  MORVANE_CLASS(THashtable, TAbstractCollection)

  // create(defaultOwner()).
  THashtable();
  // An empty table with 20 buckets and load factor 0.75.
  explicit THashtable(bool owner);
  ~THashtable() override;

  void initialize() override;
  // Sets the flag of the table and of its entry set; returns the entry set.
  TAbstractCollection* setOwner(bool isOwner) override;
  // Owner of its keys and values and of everything inside them.
  void adoptContents() override;
  int32_t size() const override;
  bool isEmpty() const override { return size() == 0; }
  // Removes every entry (with its key and value when an owner).
  void clear() override;

  // Whether get(key) finds the key.
  virtual bool containsKey(const TMappedObject* key) const;
  // Whether a stored value equals `value` (the stored value is asked).
  virtual bool containsValue(const TMappedObject* value) const;
  // The stored value, which stays the table's. A missing key raises
  // InvalidKeyException "THashtable.get: Key: <key> not found.".
  virtual TMappedObject* get(const TMappedObject* key) const;
  // New lists, not owners, of the stored keys and of the values in the same order.
  virtual std::unique_ptr<TArrayList> keys() const;
  virtual std::unique_ptr<TArrayList> values() const;
  // Files the value of `oldKey` under `newKey`, which the table takes; the
  // caller keeps `oldKey`. When `newKey` is already a key, the pair of
  // `oldKey` leaves the table and the existing pair stays. nullptr raises
  // IllegalArgumentException "THashtable.reput: Old or new key not
  // assigned."; a missing `oldKey` InvalidKeyException
  // "THashtable.reput: Key <key> does not exists in map.".
  virtual void reput(const TMappedObject* oldKey, TMappedObject* newKey);
  // Enters the pair (the table takes both). Returns nullptr for a new key,
  // otherwise a copy of the value it replaced. nullptr raises
  // IllegalArgumentException "THashtable: Key and value mustn't equals nil.".
  virtual std::unique_ptr<TMappedObject> put(TMappedObject* key, TMappedObject* value);
  // put() of every pair of `table`: copies of its keys and values into an
  // owning table, the objects themselves into one that is not an owner.
  virtual void putAll(const THashtable& table);
  // Takes the pair out and returns a copy of its value, or nullptr when the
  // key is missing.
  virtual std::unique_ptr<TMappedObject> remove(const TMappedObject* key);

  // ---- as an object: compared, copied and stored through its entry set
  // For another table: every key of it is a key of this one. Values and
  // sizes are not compared; anything else gives false.
  bool equals(const TMappedObject* obj) const override;
  // Sum of the keys' hash codes, wrapping.
  int32_t hashCode() const override;
  // A table with the same owner flag; an owner's copy holds copies of the
  // keys and values, otherwise the same objects.
  std::unique_ptr<TMappedObject> clone() const override;
  // Replaces the entries with the hash set of entries stored in the file.
  // The table keeps its owner flag and the new set takes it. A stored set
  // holding anything but entries with both key and value is refused.
  void readFrom(TFile& file) override;
  // The entry set as one nested "THashSet".
  void writeTo(TFile& file) override;

  // The set of TMapEntry objects; it stays the table's.
  THashSet& getEntries() const;

 private:
  // The stored entry whose key equals a copy of `key`, or nullptr.
  TMapEntry* findByCopy(const TMappedObject* key) const;
  // Deletes an entry that left the table: with its key and value when the
  // table owns them, otherwise the entry alone.
  void discard(TMapEntry* entry) const;
  void releaseEntries();

  THashSet* entries_ = nullptr;
};
