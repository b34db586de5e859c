#pragma once
// Owning list of diagnostics objects (a channel's writers or readers) that
// reports its own failures instead of raising them.

#include <memory>
#include <string>

#include "basis/TArrayList.h"
#include "debug/TDebugObject.h"

class TDebugList : public TDebugObject {
  MORVANE_CLASS(TDebugList, TDebugObject)

  // An empty list. When making `items` fails, the failure is reported and
  // the list stays without items (every later operation reports a failure).
  TDebugList();
  // Destroys the items; a failure is reported.
  ~TDebugList() override;

  // A new list, not an owner, of the elements that are instances of `cls`
  // or of a subclass, in list order; nullptr after a reported failure.
  virtual std::unique_ptr<TArrayList> get(const TClass& cls) const;
  // The same for elements whose class name equals `name` ignoring letter
  // case (that class only, no subclasses).
  virtual std::unique_ptr<TArrayList> get(const std::string& name) const;

  // Number of elements; 0 after a reported failure.
  int32_t size() const;
  // Removes and destroys every element.
  void clear();

 protected:
  // `items`, or IllegalStateException when the list has none.
  TArrayList& requireItems() const;
  // Appends `obj` (taken over) and returns its index; raises on failure, in
  // which case `obj` has been destroyed.
  int32_t addItem(std::unique_ptr<TMappedObject> obj);

  std::unique_ptr<TArrayList> items;
};
