#pragma once
// Set of objects by equals/hashCode, kept in buckets.
//
// Bucket i holds the elements whose hash index is i, in the order they were
// added; iterating the set walks bucket 0 first. That order decides the order
// of elements in object files and of keys in stored tables, so growth follows
// fixed rules: when an element is offered while size / capacity exceeds the
// load factor, the capacity doubles (as often as needed) and the buckets are
// rebuilt with `capacity` buckets, old buckets taken in order.
//
// A new set has 20 buckets whatever capacity it was given; the first clear()
// or growth makes `capacity` buckets.
//
// The buckets only keep that order. Lookups go through an index beside them,
// keyed by the elements' lookupHash(), so that elements sharing a hash code
// (TString's byte sum gathers many texts on few codes) cost no more to find,
// add or remove than any others. Buckets are lists linked through the
// element slots, so taking an element out never shifts the others.

#include <cstdint>
#include <memory>
#include <vector>

#include "basis/TAbstractCollection.h"

class TAbstractList;
class TArrayList;
class TStringCollection;

class THashSet : public TAbstractCollection {
  MORVANE_CLASS(THashSet, TAbstractCollection)

  static int32_t defaultCapacity() noexcept { return 20; }
  static double defaultLoadFactor() noexcept { return 0.75; }

  // create(defaultCapacity(), defaultOwner(), defaultLoadFactor()).
  THashSet();
  explicit THashSet(bool owner);
  // A load factor outside 0.1 ... 1.0 raises IllegalArgumentException
  // "THashSet: The load factor must be a double between 0.1 and 1."; a
  // capacity below 1 raises "THashSet: The capacity must be bigger then 1.".
  THashSet(int32_t capacity, bool owner, double loadFactor);
  // Releases the elements when an owner.
  ~THashSet() override;

  // For a set of this class or a subclass: containsAll(other). Sizes are
  // not compared.
  bool equals(const TMappedObject* obj) const override;
  // Sum of the elements' hash codes, wrapping.
  int32_t hashCode() const override;
  // A plain THashSet with this set's capacity, owner flag and load factor;
  // an owner's copy holds copies of the elements, otherwise the same ones.
  std::unique_ptr<TMappedObject> clone() const override;
  // clear(), then the elements of one nested list. Elements the set refuses
  // as duplicates are released.
  void readFrom(TFile& file) override;
  // The elements as one nested "TArrayList".
  void writeTo(TFile& file) override;
  // Defaults for a set without buckets; a set that has them keeps its state.
  void initialize() override;
  // Owner of its elements and of everything inside them.
  void adoptContents() override;

  int32_t size() const override { return count_; }
  bool isEmpty() const override { return count_ == 0; }
  // Releases the elements when an owner and makes `capacity` empty buckets.
  void clear() override;

  // add(obj, false).
  virtual bool add(TMappedObject* obj);
  // Adds `obj` unless an equal element is present; then it returns false and
  // deletes `obj` when `releaseIfPresent`. nullptr raises
  // IllegalArgumentException "THashSet.add: Given object is nil.".
  virtual bool add(TMappedObject* obj, bool releaseIfPresent);
  // The stored element equal to `obj` (the stored one is asked), or nullptr.
  virtual TMappedObject* get(const TMappedObject* obj) const;
  virtual bool contains(const TMappedObject* obj) const;
  // True when every element of `list` is found (true when it is empty).
  virtual bool containsAll(const TAbstractList& list) const;
  virtual bool containsAll(const THashSet& set) const;

  // add(element) for every element in order; true when all were added.
  bool addAll(const TAbstractList& list);
  // Removes the first stored element equal to `obj` from its bucket,
  // releasing it when an owner; `obj` itself is only released when it is
  // that stored element.
  bool remove(const TMappedObject* obj);
  // Takes the stored element equal to `obj` out without releasing it and
  // hands it to the caller; nullptr when there is none.
  TMappedObject* extract(const TMappedObject* obj);
  // The elements in bucket order, in a new list that does not own them.
  std::unique_ptr<TArrayList> toList() const;
  // toString() of every element in bucket order.
  std::unique_ptr<TStringCollection> toStringCollection() const;
  // |hashCode| modulo the bucket count; a hash code of INT32_MIN maps inside
  // too. nullptr raises IllegalArgumentException "THashSet: Given object is nil.".
  int32_t hashIndex(const TMappedObject* obj) const;

  int32_t getCapacity() const noexcept { return capacity_; }
  double getLoadFactor() const noexcept { return loadFactor_; }
  int32_t bucketCount() const noexcept { return static_cast<int32_t>(buckets_.size()); }

  // The stored element that `matches` accepts among those whose
  // lookupHash() is `lookupHash`, the first in bucket order; nullptr when
  // there is none. A lookup by a key that is not an object of the set.
  template <class Match>
  TMappedObject* findBy(uint64_t lookupHash, Match&& matches) const {
    return findSlot(lookupHash, matches).element;
  }

  // Calls f(element) for every element in bucket order.
  template <class F>
  void forEach(F&& f) const {
    for (const Bucket& bucket : buckets_) {
      for (int32_t at = bucket.first; at != NONE; at = slots_[static_cast<size_t>(at)].next) {
        f(slots_[static_cast<size_t>(at)].element);
      }
    }
  }

 protected:
  // The body of create(capacity, owner, loadFactor) after initialize().
  void configure(int32_t capacity, bool owner, double loadFactor);

 private:
  static constexpr int32_t NONE = -1;

  // One stored element, linked into its bucket. A free slot is chained
  // through `next`.
  struct Slot {
    TMappedObject* element = nullptr;
    uint64_t lookupHash = 0;
    // The hash code when added, which places the element on every rebuild.
    int32_t hashCode = 0;
    int32_t next = NONE;
    int32_t prev = NONE;
  };
  struct Bucket {
    int32_t first = NONE;
    int32_t last = NONE;
  };
  // A place in the index. It holds the element itself and part of its
  // lookup hash, so a probe touches only likely matches and no slot.
  struct IndexEntry {
    TMappedObject* element = nullptr;
    int32_t slot = NONE;
    uint32_t tag = 0;
  };

  void makeBuckets();
  void releaseElements();
  size_t bucketIndexOf(int32_t hashCode) const;
  void link(int32_t slot);
  void unlink(int32_t slot);
  // Relinks every element into `count` buckets, old buckets taken in order.
  void rebuildBuckets(size_t count);
  // A stored element and its slot; NONE and nullptr when there is none.
  struct Found {
    int32_t slot = NONE;
    TMappedObject* element = nullptr;
  };
  // The stored element equal to `obj` that comes first in bucket order.
  Found find(const TMappedObject* obj) const;
  Found find(const TMappedObject* obj, uint64_t lookupHash) const;
  template <class Match>
  Found findSlot(uint64_t lookupHash, Match& matches) const;
  static uint32_t tagOf(uint64_t lookupHash) {
    return static_cast<uint32_t>(lookupHash ^ (lookupHash >> 32));
  }
  int32_t newSlot(TMappedObject* obj, uint64_t lookupHash, int32_t hashCode);
  // Takes the element of `slot` out of its bucket and the index.
  TMappedObject* takeOut(int32_t slot);

  // The index: open addressing with linear probing; its size is a power of
  // two at least twice the element count.
  size_t homeOf(uint64_t lookupHash) const;
  void indexInsert(int32_t slot);
  void indexErase(int32_t slot);
  void growIndex();

  int32_t capacity_ = 0;
  double loadFactor_ = 0.0;
  std::vector<Bucket> buckets_;
  std::vector<Slot> slots_;
  int32_t freeSlot_ = NONE;
  std::vector<IndexEntry> index_;
  int32_t count_ = 0;
};

template <class Match>
THashSet::Found THashSet::findSlot(uint64_t lookupHash, Match& matches) const {
  if (index_.empty()) return {};
  const uint32_t tag = tagOf(lookupHash);
  const size_t mask = index_.size() - 1;
  Found found;
  for (size_t i = homeOf(lookupHash); index_[i].slot != NONE; i = (i + 1) & mask) {
    const IndexEntry& entry = index_[i];
    if (entry.tag != tag || !matches(entry.element)) continue;
    if (found.slot == NONE) {
      found = Found{entry.slot, entry.element};
      continue;
    }
    // Several stored elements match (equals of related classes need not be
    // symmetric): the first in bucket order answers.
    const Bucket& bucket = buckets_[bucketIndexOf(slots_[static_cast<size_t>(found.slot)].hashCode)];
    for (int32_t at = bucket.first; at != NONE; at = slots_[static_cast<size_t>(at)].next) {
      const Slot& slot = slots_[static_cast<size_t>(at)];
      if (slot.lookupHash == lookupHash && matches(slot.element)) return Found{at, slot.element};
    }
    break;
  }
  return found;
}
