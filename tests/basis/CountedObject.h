#pragma once
// Test-only value object that counts its live instances, so tests can tell
// exactly which objects a collection released. It is never registered, so
// only its ordinary constructors make instances.

#include <memory>

#include "basis/ValueObjects.h"

class TCounted : public TInteger {
  MORVANE_CLASS(TCounted, TInteger)

  TCounted() : TInteger(TBlank{}) {
    initialize();
    ++alive;
  }
  explicit TCounted(int32_t v) : TCounted() { value = v; }
  ~TCounted() override { --alive; }
  std::unique_ptr<TMappedObject> clone() const override { return std::make_unique<TCounted>(value); }

  static inline int alive = 0;
};
