#include "basis/TArrayList.h"

#include <algorithm>
#include <stdexcept>
#include <string>

TArrayList::TArrayList() : TAbstractList(TBlank{}) { initialize(); }

TArrayList::~TArrayList() { clear(); }

void TArrayList::initialize() {
  TAbstractList::initialize();
  // Reading into a list replaces its content: what it owned must not leak.
  if (owner) clear();
  owner = false;
}

void TArrayList::clear() {
  if (owner) {
    // Released front to back, as removing index 0 repeatedly would, without
    // shifting the rest each time.
    std::vector<TMappedObject*> released;
    released.swap(items_);
    for (TMappedObject* element : released) delete element;
  }
  items_.clear();
}

size_t TArrayList::checkedIndex(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  return static_cast<size_t>(index);
}

TMappedObject* TArrayList::update(int32_t index, TMappedObject* obj) {
  if (obj == nullptr) throw IllegalArgumentException("TArrayList.update: Object is nil.");
  TMappedObject*& slot = items_[checkedIndex(index)];
  TMappedObject* previous = slot;
  slot = obj;
  return previous;
}

int32_t TArrayList::add(TMappedObject* obj) {
  if (obj == nullptr) throw IllegalArgumentException("TArrayList.add: Object is nil.");
  items_.push_back(obj);
  return size() - 1;
}

bool TArrayList::contains(const TMappedObject* obj) const {
  return std::find(items_.begin(), items_.end(), obj) != items_.end();
}

void TArrayList::move(int32_t fromIndex, int32_t toIndex) {
  size_t from = checkedIndex(fromIndex);
  size_t to = checkedIndex(toIndex);
  TMappedObject* element = items_[from];
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(from));
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(to), element);
}

void TArrayList::remove(int32_t index) {
  size_t at = checkedIndex(index);
  TMappedObject* element = items_[at];
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  if (owner) delete element;
}

bool TArrayList::remove(const TMappedObject* obj) {
  auto it = std::find(items_.begin(), items_.end(), obj);
  if (it == items_.end()) return false;
  remove(static_cast<int32_t>(it - items_.begin()));
  return true;
}

TMappedObject* TArrayList::elementAt(int32_t index) const { return items_[checkedIndex(index)]; }

std::unique_ptr<TMappedObject> TArrayList::clone() const {
  auto copy = std::make_unique<TArrayList>();
  copy->setOwner(isOwner());
  for (TMappedObject* element : items_) {
    if (owner) {
      std::unique_ptr<TMappedObject> elementCopy = element->clone();
      copy->add(elementCopy.get());
      elementCopy.release();
    } else {
      copy->add(element);
    }
  }
  return copy;
}
