#pragma once
// Title lists and single polls shared by the window watcher's tests.

#include <initializer_list>
#include <memory>

#include "basis/TStringCollection.h"
#include "main/TWindowsIterator.h"

inline std::unique_ptr<TStringCollection> list(std::initializer_list<const char*> entries) {
  auto titles = std::make_unique<TStringCollection>();
  for (const char* e : entries) titles->add(e);
  return titles;
}

// One poll of a new iterator over `entries`.
inline bool matches(std::initializer_list<const char*> entries) {
  auto titles = list(entries);
  TWindowsIterator iterator(titles.get(), 0);
  return iterator.findWindow();
}
