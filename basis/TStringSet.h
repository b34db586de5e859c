#pragma once
// Set of TString elements that owns them, with text-based operations.

#include <memory>
#include <string>

#include "basis/THashSet.h"

class TStringCollection;

class TStringSet : public THashSet {
  MORVANE_CLASS(TStringSet, THashSet)

  // An empty set with the THashSet defaults that owns its strings.
  TStringSet();
  TStringSet(int32_t capacity, bool owner, double loadFactor);
  // create(), then addAll(strings).
  explicit TStringSet(const TStringCollection& strings);

  // A TStringSet with this set's capacity, owner flag and load factor.
  std::unique_ptr<TMappedObject> clone() const override;

  using THashSet::add;
  using THashSet::addAll;
  using THashSet::contains;
  using THashSet::remove;

  virtual bool contains(const std::string& s) const;
  // Adds a new TString holding `s` unless the text is present.
  virtual bool add(const std::string& s);
  virtual void addAll(const TStringCollection& strings);
  // The toString() of every element of `set`.
  virtual void addAll(const THashSet& set);
  virtual bool remove(const std::string& s);
  // The strings in ascending order of TString::compareIgnoreCase; of equal
  // strings the one later in set order comes first.
  virtual std::unique_ptr<TStringCollection> toSortedStringCollection() const;
};
