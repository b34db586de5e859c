#include "basis/TMappedObject.h"

#include <cstdint>

bool TMappedObject::equals(const TMappedObject* obj) const { return obj == this; }

std::string TMappedObject::toString() const { return className(); }

int32_t TMappedObject::hashCode() const {
  // Fold the address into 32 bits; objects are at least 8-byte aligned.
  auto bits = reinterpret_cast<std::uintptr_t>(this) >> 3;
  return static_cast<int32_t>(static_cast<uint32_t>(bits ^ (bits >> 32)));
}

std::unique_ptr<TMappedObject> TMappedObject::clone() const {
  return std::make_unique<TMappedObject>();
}
