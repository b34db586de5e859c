// Arbitrary bytes as events of the KWin script: parsing must give an event
// or Invalid, and applying any sequence of events keeps the window list
// consistent (every listed window enumerated once, closes free it).
#include <QByteArrayList>
#include <cstdint>
#include <cstdlib>

#include "platform/windows/KWinScriptEvent.h"
#include "platform/windows/LiveWindowList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LiveWindowList windows;
  // Several events in one input, one a line, applied in turn.
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (const QByteArray& line : input.split('\n')) {
    KWinScriptEvent event = KWinScriptEvent::parse(line);
    event.applyTo(windows);
  }
  size_t seen = 0;
  const int32_t calls = windows.enumerate(
      16,
      [](uint32_t, std::string_view title, uintptr_t count) {
        if (title.size() > 16) std::abort();
        ++*reinterpret_cast<size_t*>(count);
        return true;
      },
      reinterpret_cast<uintptr_t>(&seen));
  if (static_cast<size_t>(calls) != seen || seen != windows.size()) std::abort();
  if (windows.size() > 10000) windows.replace({});
  return 0;
}
