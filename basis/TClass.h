#pragma once
// Runtime class descriptors and the class registry.
//
// Every class of the object base carries one static TClass: its name, its
// parent's descriptor and a factory for a blank instance (fields at their
// member defaults, no initialize() run). Class names at run time, "instance
// of this class or a subclass" tests and re-creating stored objects by name
// all go through it.

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class TMappedObject;

// Tag that selects a class's blank constructor: members take their defaults,
// nothing else runs. Only the registry's factories use it.
struct TBlank {};

class TClass {
 public:
  using BlankFactory = TMappedObject* (*)();

  constexpr TClass(const char* name, const TClass* parent, BlankFactory factory) noexcept
      : name_(name), parent_(parent), factory_(factory) {}
  TClass(const TClass&) = delete;
  TClass& operator=(const TClass&) = delete;

  std::string_view name() const noexcept { return name_; }
  const TClass* parent() const noexcept { return parent_; }

  // True when this class is `other` or derives from it.
  bool inheritsFrom(const TClass& other) const noexcept;

  // A blank instance for the caller; abstract classes have no factory and throw.
  std::unique_ptr<TMappedObject> newBlank() const;

 private:
  const char* name_;
  const TClass* parent_;
  BlankFactory factory_;
};

namespace detail {
template <class T>
TMappedObject* makeBlank() {
  if constexpr (std::is_abstract_v<T>) {
    return nullptr;
  } else {
    return new T(TBlank{});
  }
}
}  // namespace detail

// Declares the descriptor of class Self with parent Parent, its accessor and
// its blank constructor. Put it first in the class body; it leaves the
// access at public.
#define MORVANE_CLASS(Self, Parent)                                          \
 public:                                                                     \
  static const TClass& classInfo() noexcept {                                \
    static const TClass info(#Self, &Parent::classInfo(),                    \
                             &::detail::makeBlank<Self>);                    \
    return info;                                                             \
  }                                                                          \
  const TClass& getClass() const noexcept override { return classInfo(); }   \
  explicit Self(TBlank blank) : Parent(blank) {}

// Process-wide table of the classes that can be made by name. Filled by the
// explicit start-up calls of each layer; registering twice does nothing.
class TClassRegistry {
 public:
  static void registerClass(const TClass& cls);
  // The class of that name; throws ClassNotFoundException when unknown.
  static const TClass& find(std::string_view name);
  static bool contains(std::string_view name);
  // Registered classes in the order they were registered.
  static std::vector<const TClass*> classes();
};
