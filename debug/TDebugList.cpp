#include "debug/TDebugList.h"

#include "basis/TString.h"

TDebugList::TDebugList() : TDebugObject(TBlank{}) {
  guarded("TDebugList.create", [this] {
    auto list = std::make_unique<TArrayList>();
    list->setOwner(true);
    items = std::move(list);
  });
}

TDebugList::~TDebugList() {
  guarded("TDebugList.destroy", [this] { items.reset(); });
}

TArrayList& TDebugList::requireItems() const {
  if (!items) throw IllegalStateException(className() + ": List has no items.");
  return *items;
}

int32_t TDebugList::addItem(std::unique_ptr<TMappedObject> obj) {
  int32_t index = requireItems().add(obj.get());
  obj.release();
  return index;
}

std::unique_ptr<TArrayList> TDebugList::get(const TClass& cls) const {
  std::unique_ptr<TArrayList> found;
  guarded("TDebugList.get(TClass)", [&] {
    const TArrayList& list = requireItems();
    auto matches = std::make_unique<TArrayList>();
    for (int32_t i = 0; i < list.size(); ++i) {
      TMappedObject* element = list.get(i);
      if (element->inheritsFrom(cls)) matches->add(element);
    }
    found = std::move(matches);
  });
  return found;
}

std::unique_ptr<TArrayList> TDebugList::get(const std::string& name) const {
  std::unique_ptr<TArrayList> found;
  guarded("TDebugList.get(string)", [&] {
    const TArrayList& list = requireItems();
    const std::string wanted = TString::toLowerAscii(name);
    auto matches = std::make_unique<TArrayList>();
    for (int32_t i = 0; i < list.size(); ++i) {
      TMappedObject* element = list.get(i);
      if (TString::toLowerAscii(element->className()) == wanted) matches->add(element);
    }
    found = std::move(matches);
  });
  return found;
}

int32_t TDebugList::size() const {
  int32_t count = 0;
  guarded("TDebugList.size", [&] { count = requireItems().size(); });
  return count;
}

void TDebugList::clear() {
  guarded("TDebugList.clear", [this] { requireItems().clear(); });
}
