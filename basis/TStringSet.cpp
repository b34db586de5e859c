#include "basis/TStringSet.h"

#include <algorithm>

#include "basis/TString.h"
#include "basis/TStringCollection.h"

TStringSet::TStringSet() : THashSet(TBlank{}) {
  initialize();
  setOwner(true);
}

TStringSet::TStringSet(int32_t capacity, bool isOwner, double loadFactor) : THashSet(TBlank{}) {
  initialize();
  configure(capacity, isOwner, loadFactor);
}

TStringSet::TStringSet(const TStringCollection& strings) : TStringSet() { addAll(strings); }

std::unique_ptr<TMappedObject> TStringSet::clone() const {
  auto copy = std::make_unique<TStringSet>(getCapacity(), isOwner(), getLoadFactor());
  forEach([&](TMappedObject* element) {
    if (isOwner()) {
      copy->add(element->clone().release(), true);
    } else {
      copy->add(element);
    }
  });
  return copy;
}

bool TStringSet::contains(const std::string& s) const {
  TString probe(s);
  return contains(&probe);
}

bool TStringSet::add(const std::string& s) { return add(new TString(s), true); }

void TStringSet::addAll(const TStringCollection& strings) {
  for (const std::string& s : strings.getStrings()) add(s);
}

void TStringSet::addAll(const THashSet& set) { addAll(*set.toStringCollection()); }

bool TStringSet::remove(const std::string& s) {
  TString probe(s);
  return remove(&probe);
}

std::unique_ptr<TStringCollection> TStringSet::toSortedStringCollection() const {
  std::unique_ptr<TStringCollection> work = toStringCollection();
  auto sorted = std::make_unique<TStringCollection>();
  std::vector<std::string>& result = sorted->getStrings();
  for (const std::string& s : work->getStrings()) {
    // Before the first string that s does not sort after.
    auto at = std::lower_bound(result.begin(), result.end(), s, [](const std::string& e, const std::string& v) {
      return TString::compareIgnoreCase(v, e) > 0;
    });
    result.insert(at, s);
  }
  return sorted;
}
