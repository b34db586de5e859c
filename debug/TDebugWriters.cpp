#include "debug/TDebugWriters.h"

int32_t TDebugWriters::add(std::unique_ptr<TDebugWriter> writer) {
  int32_t index = 0;
  guarded("TDebugWriters.add(TDebugWriter)", [&] { index = addItem(std::move(writer)); });
  return index;
}

TDebugWriter* TDebugWriters::writerAt(int32_t index) const {
  return static_cast<TDebugWriter*>(requireItems().get(index));
}

void TDebugWriters::write(const TDebugEntry& entry) {
  try {
    const TArrayList& list = requireItems();
    for (int32_t i = 0; i < list.size(); ++i) {
      static_cast<TDebugWriter*>(list.get(i))->write(entry);
    }
  } catch (const std::exception& e) {
    throw IOException("TDebugWriters.write(TDebugEntry): " + wrappedText(e));
  }
}
