#pragma once
// Ordered list of texts; duplicates allowed; indexes from 0.

#include <cstdint>
#include <string>
#include <vector>

#include "basis/TPObject.h"

class THashSet;

class TStringCollection : public TPObject {
  MORVANE_CLASS(TStringCollection, TPObject)

  TStringCollection();
  // One entry per line of `text`; empty lines are dropped.
  explicit TStringCollection(const std::string& text);
  // The values of the set's TString elements in the set's order; other
  // elements are skipped. nullptr raises IllegalArgumentException.
  explicit TStringCollection(const THashSet* set);

  // Index of the new entry.
  virtual int32_t add(const std::string& text);
  virtual void insert(int32_t index, const std::string& text);
  virtual bool isEmpty() const { return strings_.empty(); }
  // Replace the content of a string list with the entries, in order.
  virtual void copyToStrings(std::vector<std::string>& list) const;

  int32_t addEmptyLine() { return add(std::string()); }
  // Index errors are the caller's: out of range raises std::out_of_range.
  const std::string& get(int32_t index) const;
  const std::string& appendAt(int32_t index, const std::string& text);
  void remove(int32_t index);
  void clear() { strings_.clear(); }
  int32_t size() const noexcept { return static_cast<int32_t>(strings_.size()); }
  std::string getText() const { return toString(); }
  std::vector<std::string>& getStrings() noexcept { return strings_; }
  const std::vector<std::string>& getStrings() const noexcept { return strings_; }

  // True for a TStringCollection with the same text form.
  bool equals(const TMappedObject* obj) const override;
  // Every entry followed by CR LF.
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

 private:
  std::vector<std::string> strings_;
};
