#pragma once
// Root of the collections: the owner flag that decides whether a collection
// releases the elements that leave it. Collections hold raw pointers; an
// owning collection deletes an element when it is removed, when the
// collection is cleared and when the collection itself is destroyed. A
// collection that is not an owner never deletes an element.
//
// Collections are persisted in object files only; their XML operations refuse.

#include <cstdint>

#include "basis/TXMLPersistent.h"

class TAbstractCollection : public TXMLPersistent {
  MORVANE_CLASS(TAbstractCollection, TXMLPersistent)

  // The owner flag every collection starts with: false.
  static bool defaultOwner() noexcept { return false; }

  // Both raise IllegalStateException "<Class>.fromXML not implemented!" /
  // "<Class>.toXML not implemented!".
  void fromXML(const QDomNode& node) override;
  QDomNode toXML(QDomDocument& document) override;

  // Sets the flag; returns this collection (tables return their entry set).
  virtual TAbstractCollection* setOwner(bool isOwner);
  virtual int32_t size() const = 0;
  virtual bool isEmpty() const { return size() == 0; }
  virtual void clear() = 0;

  bool isOwner() const noexcept { return owner; }

  // Makes this collection, and every collection it holds, an owner, so that
  // releasing it releases everything below it. Objects read from an object
  // file own nothing at first; this hands such a tree to its root. Meant for
  // trees: a collection that holds itself would recurse without end.
  virtual void adoptContents() { setOwner(true); }
  // adoptContents() of `obj` when it is a collection, and of the key and
  // value when it is a map entry; nothing for other objects.
  static void adoptContentsOf(TMappedObject* obj);

 protected:
  bool owner = false;
};
