#pragma once
// Ordered collection indexed from 0, with its object-file and text forms.

#include <cstdint>

#include "basis/TAbstractCollection.h"

class TAbstractList : public TAbstractCollection {
  MORVANE_CLASS(TAbstractList, TAbstractCollection)

  // Stores `obj` at `index` and returns the element it replaces, which is
  // never released: the caller has it now.
  virtual TMappedObject* update(int32_t index, TMappedObject* obj) = 0;
  // Appends `obj` and returns its index.
  virtual int32_t add(TMappedObject* obj) = 0;
  // add(list.get(i)) for every element in order: the same objects.
  virtual void addAll(const TAbstractList& list);
  // The stored element; it stays the list's.
  virtual TMappedObject* get(int32_t index) const = 0;
  // Membership by identity.
  virtual bool contains(const TMappedObject* obj) const = 0;
  virtual void move(int32_t fromIndex, int32_t toIndex) = 0;
  // Removes the element at `index`, releasing it when the list is an owner.
  virtual void remove(int32_t index) = 0;
  // Removes the first element identical to `obj`; false when there is none.
  virtual bool remove(const TMappedObject* obj) = 0;

  // The count of TPObject elements, then each of them as a nested object;
  // other elements are skipped.
  void writeTo(TFile& file) override;
  // clear(), then the count and that many nested objects. The list does not
  // own what it read unless its class sets the flag in initialize(); when
  // reading fails, the elements read so far are released.
  void readFrom(TFile& file) override;
  // Owner of its elements and of everything inside them.
  void adoptContents() override;
  // toString(), then every TPObject element's printTo, then an empty line.
  void printTo(TTextFile& textFile) override;
};
