#include "debug/TDebugReaders.h"

#include "debug/TDebugEntries.h"

int32_t TDebugReaders::add(std::unique_ptr<TDebugReader> reader) {
  int32_t index = 0;
  guarded("TDebugReaders.add", [&] { index = addItem(std::move(reader)); });
  return index;
}

TDebugReader* TDebugReaders::get(int32_t index) const {
  TDebugReader* reader = nullptr;
  guarded("TDebugReaders.get",
          [&] { reader = static_cast<TDebugReader*>(requireItems().get(index)); });
  return reader;
}

std::unique_ptr<TDebugEntries> TDebugReaders::read() const {
  std::unique_ptr<TDebugEntries> all;
  guarded("TDebugReaders.read", [&] {
    all = std::make_unique<TDebugEntries>();
    const TArrayList& list = requireItems();
    for (int32_t i = 0; i < list.size(); ++i) {
      std::unique_ptr<TDebugEntries> part = static_cast<TDebugReader*>(list.get(i))->read();
      // The combined list takes the entries over; `part` releases none.
      part->setOwner(false);
      for (int32_t k = 0; k < part->size(); ++k) {
        try {
          all->add(part->get(k));
        } catch (...) {
          for (int32_t rest = k; rest < part->size(); ++rest) delete part->get(rest);
          throw;
        }
      }
    }
  });
  return all;
}
