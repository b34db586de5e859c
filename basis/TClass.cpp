#include "basis/TClass.h"

#include "basis/Exceptions.h"
#include "basis/TMappedObject.h"

bool TClass::inheritsFrom(const TClass& other) const noexcept {
  for (const TClass* c = this; c != nullptr; c = c->parent_) {
    if (c == &other) return true;
  }
  return false;
}

std::unique_ptr<TMappedObject> TClass::newBlank() const {
  if (factory_ == nullptr) {
    throw IllegalStateException("TClass.newBlank: Class " + std::string(name_) + " is abstract.");
  }
  return std::unique_ptr<TMappedObject>(factory_());
}

namespace {
std::vector<const TClass*>& registry() {
  static std::vector<const TClass*> classes;
  return classes;
}
}  // namespace

void TClassRegistry::registerClass(const TClass& cls) {
  if (!contains(cls.name())) registry().push_back(&cls);
}

bool TClassRegistry::contains(std::string_view name) {
  for (const TClass* c : registry()) {
    if (c->name() == name) return true;
  }
  return false;
}

const TClass& TClassRegistry::find(std::string_view name) {
  for (const TClass* c : registry()) {
    if (c->name() == name) return *c;
  }
  throw ClassNotFoundException("Class " + std::string(name) + " not found");
}

std::vector<const TClass*> TClassRegistry::classes() { return registry(); }
