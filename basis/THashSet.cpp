#include "basis/THashSet.h"

#include <cmath>

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/TStringCollection.h"

namespace {
const char* const kNilObject = "THashSet: Given object is nil.";
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
  std::vector<std::vector<TMappedObject*>> fresh(static_cast<size_t>(capacity_));
  buckets_.swap(fresh);
}

void THashSet::releaseElements() {
  std::vector<std::vector<TMappedObject*>> old;
  old.swap(buckets_);
  count_ = 0;
  if (!owner) return;
  for (std::vector<TMappedObject*>& bucket : old) {
    for (TMappedObject* element : bucket) delete element;
  }
}

void THashSet::clear() {
  std::vector<std::vector<TMappedObject*>> fresh(static_cast<size_t>(capacity_ < 1 ? 1 : capacity_));
  releaseElements();
  buckets_.swap(fresh);
}

int32_t THashSet::hashIndex(const TMappedObject* obj) const {
  if (obj == nullptr) throw IllegalArgumentException(kNilObject);
  if (buckets_.empty()) throw IllegalStateException("THashSet: Set has no buckets.");
  // 64-bit, so that INT32_MIN has an absolute value too.
  int64_t code = obj->hashCode();
  if (code < 0) code = -code;
  return static_cast<int32_t>(code % static_cast<int64_t>(buckets_.size()));
}

const std::vector<TMappedObject*>& THashSet::bucketOf(const TMappedObject* obj) const {
  return buckets_[static_cast<size_t>(hashIndex(obj))];
}

void THashSet::addToBucket(TMappedObject* obj) {
  buckets_[static_cast<size_t>(hashIndex(obj))].push_back(obj);
}

bool THashSet::add(TMappedObject* obj) { return add(obj, false); }

bool THashSet::add(TMappedObject* obj, bool releaseIfPresent) {
  if (obj == nullptr) throw IllegalArgumentException("THashSet.add: Given object is nil.");
  if (TMappedObject* present = get(obj)) {
    // The stored element itself offered again stays where it is.
    if (releaseIfPresent && present != obj) delete obj;
    return false;
  }
  bool grew = false;
  while (static_cast<double>(count_) / capacity_ > loadFactor_ && capacity_ <= INT32_MAX / 2) {
    capacity_ *= 2;
    grew = true;
  }
  if (grew) {
    std::vector<std::vector<TMappedObject*>> old;
    old.swap(buckets_);
    try {
      makeBuckets();
    } catch (...) {
      buckets_.swap(old);
      throw;
    }
    for (const std::vector<TMappedObject*>& bucket : old) {
      for (TMappedObject* element : bucket) addToBucket(element);
    }
  }
  addToBucket(obj);
  ++count_;
  return true;
}

TMappedObject* THashSet::get(const TMappedObject* obj) const {
  for (TMappedObject* element : bucketOf(obj)) {
    if (element->equals(obj)) return element;
  }
  return nullptr;
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
  for (const std::vector<TMappedObject*>& bucket : set.buckets_) {
    for (TMappedObject* element : bucket) {
      if (get(element) == nullptr) return false;
    }
  }
  return true;
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
  std::vector<TMappedObject*>& bucket = buckets_[static_cast<size_t>(hashIndex(obj))];
  for (auto it = bucket.begin(); it != bucket.end(); ++it) {
    if ((*it)->equals(obj)) {
      TMappedObject* element = *it;
      bucket.erase(it);
      --count_;
      return element;
    }
  }
  return nullptr;
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
