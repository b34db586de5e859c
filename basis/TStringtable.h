#pragma once
// String-keyed table of objects: one TMapEntry per pair in a THashSet, the
// entry's key a TString. Keys compare byte for byte. The order of keys() and
// values() is the set's element order.

#include <memory>
#include <string>

#include "basis/TAbstractCollection.h"

class TArrayList;
class THashSet;
class TMapEntry;
class TStringCollection;

class TStringtable : public TAbstractCollection {
  MORVANE_CLASS(TStringtable, TAbstractCollection)

  // An owning table.
  TStringtable();
  // A table that frees its values (owner) or hands them back on removal.
  explicit TStringtable(bool owner);
  ~TStringtable() override;

  // Sets the flag on the table and on its entry set; returns the entry set.
  TAbstractCollection* setOwner(bool owner) override;
  int32_t size() const override;
  // Removes every key in the order of keys().
  void clear() override;
  // The entry of `key`, still the table's; nullptr when absent.
  virtual TMapEntry* getEntry(const std::string& key) const;
  // New key texts for the caller.
  virtual std::unique_ptr<TStringCollection> keys() const;
  // New non-owning list of the values, in the order of keys().
  virtual std::unique_ptr<TArrayList> values() const;
  virtual bool containsKey(const std::string& key) const;
  // The stored value (still the table's); an absent key raises
  // InvalidKeyException with the key as message.
  virtual TMappedObject* get(const std::string& key) const;
  // Replaces the value of a present key by a new TString holding `text`.
  virtual void replaceValue(const std::string& key, const std::string& text);
  // Enters the pair; the table takes `value`. Returns the previous value
  // when a non-owning table hands it back, else nullptr. nullptr raises
  // IllegalArgumentException "TStringtable.put: Object is nil.".
  virtual TMappedObject* put(const std::string& key, TMappedObject* value);
  // Removes the pair. An owning table frees the value and returns nullptr;
  // a non-owning one returns the value to the caller.
  virtual TMappedObject* remove(const std::string& key);

  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;
  void initialize() override;
  // Makes the table and the collections among its values owners.
  void adoptContents() override;

 protected:
  // The table's pairs; created with the table, replaced by readFrom.
  THashSet* set_ = nullptr;
};
