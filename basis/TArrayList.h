#pragma once
// The list type of the whole system: a growable array of object pointers.
// Index errors raise std::out_of_range.

#include <cstdint>
#include <vector>

#include "basis/TAbstractList.h"

class TArrayList : public TAbstractList {
  MORVANE_CLASS(TArrayList, TAbstractList)

  // An empty list that does not own its elements.
  TArrayList();
  // Releases the elements when an owner.
  ~TArrayList() override;

  // The inherited reset, the owner flag back to false (releasing the
  // elements first when the list owned them), and an empty list.
  void initialize() override;
  int32_t size() const override { return static_cast<int32_t>(items_.size()); }
  // Releases every element when an owner, then empties the list.
  void clear() override;

  // nullptr raises IllegalArgumentException "TArrayList.update: Object is nil.".
  TMappedObject* update(int32_t index, TMappedObject* obj) override;
  // nullptr raises IllegalArgumentException "TArrayList.add: Object is nil.".
  int32_t add(TMappedObject* obj) override;
  TMappedObject* get(int32_t index) const override { return elementAt(index); }
  bool contains(const TMappedObject* obj) const override;
  // Takes the element out at `fromIndex` and inserts it at `toIndex`.
  void move(int32_t fromIndex, int32_t toIndex) override;
  void remove(int32_t index) override;
  bool remove(const TMappedObject* obj) override;
  // The stored pointer at `index`.
  virtual TMappedObject* elementAt(int32_t index) const;

  // A plain TArrayList with the same owner flag. An owning list's copy holds
  // copies of the elements (and owns them); a list that does not own its
  // elements gives a copy that shares them.
  std::unique_ptr<TMappedObject> clone() const override;

 private:
  size_t checkedIndex(int32_t index) const;

  std::vector<TMappedObject*> items_;
};
