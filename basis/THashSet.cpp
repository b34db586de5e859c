#include "basis/THashSet.h"

#include <cmath>

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/TStringCollection.h"

namespace {
const char* const NIL_OBJECT = "THashSet: Given object is nil.";

// Spreads every bit of a lookup hash over the low bits the index uses.
uint64_t spread(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}
}  // namespace

THashSet::THashSet() : THashSet(defaultCapacity(), defaultOwner(), defaultLoadFactor()) {}

THashSet::THashSet(bool isOwner) : THashSet(defaultCapacity(), isOwner, defaultLoadFactor()) {}

THashSet::THashSet(int32_t capacity, bool isOwner, double loadFactor)
    : TAbstractCollection(TBlank{}) {
  initialize();
  configure(capacity, isOwner, loadFactor);
}

void THashSet::configure(int32_t capacity, bool isOwner, double loadFactor) {
  if (!(loadFactor >= 0.1 && loadFactor <= 1.0)) {
    throw IllegalArgumentException("THashSet: The load factor must be a double between 0.1 and 1.");
  }
  // Checked here rather than at the next rebuild: with a capacity of 0 the
  // growth loop could never reach the load factor.
  if (capacity < 1) throw IllegalArgumentException("THashSet: The capacity must be bigger then 1.");
  owner = isOwner;
  capacity_ = capacity;
  loadFactor_ = loadFactor;
}

THashSet::~THashSet() { releaseElements(); }

void THashSet::initialize() {
  TAbstractCollection::initialize();
  if (!buckets_.empty()) return;
  owner = defaultOwner();
  capacity_ = defaultCapacity();
  loadFactor_ = defaultLoadFactor();
  makeBuckets();
}

void THashSet::makeBuckets() {
  if (capacity_ < 1) throw IllegalArgumentException("THashSet: The capacity must be bigger then 1.");
  buckets_.assign(static_cast<size_t>(capacity_), Bucket{});
}

void THashSet::releaseElements() {
  std::vector<TMappedObject*> old;
  if (owner) {
    old.reserve(static_cast<size_t>(count_));
    forEach([&old](TMappedObject* element) { old.push_back(element); });
  }
  // The set is empty before the first element is released.
  buckets_.clear();
  slots_.clear();
  index_.clear();
  freeSlot_ = NONE;
  count_ = 0;
  for (TMappedObject* element : old) delete element;
}

void THashSet::clear() {
  std::vector<Bucket> fresh(static_cast<size_t>(capacity_ < 1 ? 1 : capacity_));
  releaseElements();
  buckets_.swap(fresh);
}

int32_t THashSet::hashIndex(const TMappedObject* obj) const {
  if (obj == nullptr) throw IllegalArgumentException(NIL_OBJECT);
  if (buckets_.empty()) throw IllegalStateException("THashSet: Set has no buckets.");
  return static_cast<int32_t>(bucketIndexOf(obj->hashCode()));
}

size_t THashSet::bucketIndexOf(int32_t hashCode) const {
  // 64-bit, so that INT32_MIN has an absolute value too.
  int64_t code = hashCode;
  if (code < 0) code = -code;
  return static_cast<size_t>(code % static_cast<int64_t>(buckets_.size()));
}

void THashSet::link(int32_t at) {
  Slot& slot = slots_[static_cast<size_t>(at)];
  Bucket& bucket = buckets_[bucketIndexOf(slot.hashCode)];
  slot.prev = bucket.last;
  slot.next = NONE;
  if (bucket.last != NONE) {
    slots_[static_cast<size_t>(bucket.last)].next = at;
  } else {
    bucket.first = at;
  }
  bucket.last = at;
}

void THashSet::unlink(int32_t at) {
  Slot& slot = slots_[static_cast<size_t>(at)];
  Bucket& bucket = buckets_[bucketIndexOf(slot.hashCode)];
  if (slot.prev != NONE) {
    slots_[static_cast<size_t>(slot.prev)].next = slot.next;
  } else {
    bucket.first = slot.next;
  }
  if (slot.next != NONE) {
    slots_[static_cast<size_t>(slot.next)].prev = slot.prev;
  } else {
    bucket.last = slot.prev;
  }
}

void THashSet::rebuildBuckets(size_t count) {
  std::vector<int32_t> order;
  order.reserve(static_cast<size_t>(count_));
  for (const Bucket& bucket : buckets_) {
    for (int32_t at = bucket.first; at != NONE; at = slots_[static_cast<size_t>(at)].next) order.push_back(at);
  }
  std::vector<Bucket> fresh(count);
  buckets_.swap(fresh);
  for (int32_t at : order) link(at);
}

size_t THashSet::homeOf(uint64_t lookupHash) const { return spread(lookupHash) & (index_.size() - 1); }

void THashSet::indexInsert(int32_t at) {
  const size_t mask = index_.size() - 1;
  const Slot& slot = slots_[static_cast<size_t>(at)];
  size_t i = homeOf(slot.lookupHash);
  while (index_[i].slot != NONE) i = (i + 1) & mask;
  index_[i] = IndexEntry{slot.element, at, tagOf(slot.lookupHash)};
}

void THashSet::indexErase(int32_t at) {
  const size_t mask = index_.size() - 1;
  size_t hole = homeOf(slots_[static_cast<size_t>(at)].lookupHash);
  while (index_[hole].slot != at) hole = (hole + 1) & mask;
  // Backward shift: later members of the probe run move up unless that would
  // put them before their home position.
  for (size_t j = (hole + 1) & mask; index_[j].slot != NONE; j = (j + 1) & mask) {
    size_t home = homeOf(slots_[static_cast<size_t>(index_[j].slot)].lookupHash);
    bool homeInGap = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (!homeInGap) {
      index_[hole] = index_[j];
      hole = j;
    }
  }
  index_[hole] = IndexEntry{};
}

void THashSet::growIndex() {
  size_t size = index_.empty() ? 32 : index_.size() * 2;
  while (size < 2 * (static_cast<size_t>(count_) + 1)) size *= 2;
  index_.assign(size, IndexEntry{});
  for (size_t at = 0; at < slots_.size(); ++at) {
    if (slots_[at].element != nullptr) indexInsert(static_cast<int32_t>(at));
  }
}

THashSet::Found THashSet::find(const TMappedObject* obj) const {
  if (obj == nullptr) throw IllegalArgumentException(NIL_OBJECT);
  return find(obj, obj->lookupHash());
}

THashSet::Found THashSet::find(const TMappedObject* obj, uint64_t lookupHash) const {
  if (buckets_.empty()) throw IllegalStateException("THashSet: Set has no buckets.");
  auto equalsObj = [obj](const TMappedObject* element) { return element->equals(obj); };
  return findSlot(lookupHash, equalsObj);
}

int32_t THashSet::newSlot(TMappedObject* obj, uint64_t lookupHash, int32_t hashCode) {
  int32_t at = freeSlot_;
  if (at != NONE) {
    freeSlot_ = slots_[static_cast<size_t>(at)].next;
  } else {
    slots_.emplace_back();
    at = static_cast<int32_t>(slots_.size() - 1);
  }
  Slot& slot = slots_[static_cast<size_t>(at)];
  slot.element = obj;
  slot.lookupHash = lookupHash;
  slot.hashCode = hashCode;
  return at;
}

TMappedObject* THashSet::takeOut(int32_t at) {
  unlink(at);
  indexErase(at);
  Slot& slot = slots_[static_cast<size_t>(at)];
  TMappedObject* element = slot.element;
  slot.element = nullptr;
  slot.next = freeSlot_;
  freeSlot_ = at;
  --count_;
  return element;
}

bool THashSet::add(TMappedObject* obj) { return add(obj, false); }

bool THashSet::add(TMappedObject* obj, bool releaseIfPresent) {
  if (obj == nullptr) throw IllegalArgumentException("THashSet.add: Given object is nil.");
  const uint64_t lookupHash = obj->lookupHash();
  const TMappedObject* present = find(obj, lookupHash).element;
  if (present != nullptr) {
    // The stored element itself offered again stays where it is.
    if (releaseIfPresent && present != obj) delete obj;
    return false;
  }
  bool grew = false;
  while (static_cast<double>(count_) / capacity_ > loadFactor_ && capacity_ <= INT32_MAX / 2) {
    capacity_ *= 2;
    grew = true;
  }
  if (grew) rebuildBuckets(static_cast<size_t>(capacity_));
  if (2 * (static_cast<size_t>(count_) + 1) > index_.size()) growIndex();
  const int32_t hashCode = obj->hashCode();
  int32_t at = newSlot(obj, lookupHash, hashCode);
  link(at);
  indexInsert(at);
  ++count_;
  return true;
}

TMappedObject* THashSet::get(const TMappedObject* obj) const {
  return find(obj).element;
}

bool THashSet::contains(const TMappedObject* obj) const { return get(obj) != nullptr; }

bool THashSet::containsAll(const TAbstractList& list) const {
  int32_t count = list.size();
  for (int32_t i = 0; i < count; ++i) {
    if (get(list.get(i)) == nullptr) return false;
  }
  return true;
}

bool THashSet::containsAll(const THashSet& set) const {
  bool all = true;
  set.forEach([&](TMappedObject* element) {
    if (all && get(element) == nullptr) all = false;
  });
  return all;
}

bool THashSet::addAll(const TAbstractList& list) {
  bool all = true;
  int32_t count = list.size();
  for (int32_t i = 0; i < count; ++i) {
    if (!add(list.get(i))) all = false;
  }
  return all;
}

TMappedObject* THashSet::extract(const TMappedObject* obj) {
  int32_t at = find(obj).slot;
  return at == NONE ? nullptr : takeOut(at);
}

bool THashSet::remove(const TMappedObject* obj) {
  TMappedObject* element = extract(obj);
  if (element == nullptr) return false;
  if (owner) delete element;
  return true;
}

bool THashSet::equals(const TMappedObject* obj) const {
  if (obj == nullptr || !obj->inheritsFrom(getClass())) return false;
  return containsAll(*static_cast<const THashSet*>(obj));
}

int32_t THashSet::hashCode() const {
  uint32_t sum = 0;
  forEach([&sum](TMappedObject* element) { sum += static_cast<uint32_t>(element->hashCode()); });
  return static_cast<int32_t>(sum);
}

std::unique_ptr<TMappedObject> THashSet::clone() const {
  auto copy = std::make_unique<THashSet>(capacity_, owner, loadFactor_);
  forEach([&](TMappedObject* element) {
    if (owner) {
      std::unique_ptr<TMappedObject> elementCopy = element->clone();
      copy->add(elementCopy.release(), true);
    } else {
      copy->add(element);
    }
  });
  return copy;
}

std::unique_ptr<TArrayList> THashSet::toList() const {
  auto list = std::make_unique<TArrayList>();
  forEach([&list](TMappedObject* element) { list->add(element); });
  return list;
}

std::unique_ptr<TStringCollection> THashSet::toStringCollection() const {
  auto strings = std::make_unique<TStringCollection>();
  forEach([&strings](TMappedObject* element) { strings->add(element->toString()); });
  return strings;
}

void THashSet::readFrom(TFile& file) {
  clear();
  std::unique_ptr<TPObject> read = file.readTPObject();
  auto* list = as<TAbstractList>(read.get());
  if (list == nullptr) {
    adoptContentsOf(read.get());
    throw IOException("THashSet.readFrom: Stored " + read->className() + " is no list.");
  }
  // The elements move to the set; the list must not release them.
  list->setOwner(false);
  // Each element either joins the set or,
  // as a duplicate nobody else holds, is released here.
  for (int32_t i = 0; i < list->size(); ++i) {
    TMappedObject* element = list->get(i);
    if (!add(element)) {
      adoptContentsOf(element);
      delete element;
    }
  }
}

void THashSet::writeTo(TFile& file) {
  std::unique_ptr<TArrayList> list = toList();
  file.writeTPObject(*list);
}

void THashSet::adoptContents() {
  forEach([](TMappedObject* element) { adoptContentsOf(element); });
  setOwner(true);
}
