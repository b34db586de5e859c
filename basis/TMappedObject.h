#pragma once
// Root of the object base: equality, text form, hash code and cloning.

#include <cstdint>
#include <memory>
#include <string>

#include "basis/Exceptions.h"
#include "basis/TClass.h"

class TMappedObject {
 public:
  static const TClass& classInfo() noexcept {
    static const TClass info("TMappedObject", nullptr, &::detail::makeBlank<TMappedObject>);
    return info;
  }
  virtual const TClass& getClass() const noexcept { return classInfo(); }

  TMappedObject() = default;
  explicit TMappedObject(TBlank) {}
  virtual ~TMappedObject() = default;
  TMappedObject(const TMappedObject&) = delete;
  TMappedObject& operator=(const TMappedObject&) = delete;

  // True only for this very object; nullptr gives false.
  virtual bool equals(const TMappedObject* obj) const;
  // The class name.
  virtual std::string toString() const;
  // Identity: stable for the object's life.
  virtual int32_t hashCode() const;
  // The hash that hash sets find elements by: equal objects must give equal
  // values. hashCode() unless a class has a better spread one.
  virtual uint64_t lookupHash() const { return static_cast<uint32_t>(hashCode()); }
  // A new object for the caller. The root gives a plain, empty TMappedObject,
  // not a copy; classes that can be copied override it.
  virtual std::unique_ptr<TMappedObject> clone() const;

  std::string className() const { return std::string(getClass().name()); }
  bool inheritsFrom(const TClass& cls) const noexcept { return getClass().inheritsFrom(cls); }
  // True when this object is a T or an instance of a class derived from T.
  template <class T>
  bool isA() const noexcept {
    return getClass().inheritsFrom(T::classInfo());
  }
};

// Downcast checked through the class descriptors; nullptr when obj is not a T.
template <class T>
T* as(TMappedObject* obj) noexcept {
  return obj != nullptr && obj->isA<T>() ? static_cast<T*>(obj) : nullptr;
}
template <class T>
const T* as(const TMappedObject* obj) noexcept {
  return obj != nullptr && obj->isA<T>() ? static_cast<const T*>(obj) : nullptr;
}

// clone() with the static type of the original; a class that does not
// override clone() (and so returns a plain TMappedObject) fails here.
template <class T>
std::unique_ptr<T> cloneOf(const T& obj) {
  std::unique_ptr<TMappedObject> copy = obj.clone();
  if (as<T>(copy.get()) == nullptr) {
    throw IllegalStateException(obj.className() + ".clone: Copy is no " + obj.className() + ".");
  }
  return std::unique_ptr<T>(static_cast<T*>(copy.release()));
}
