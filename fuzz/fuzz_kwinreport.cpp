// Arbitrary bytes as a report of the KWin script: parsing must give a report
// or Invalid, and applying any sequence of reports keeps the window list
// consistent (every listed window enumerated once, closes free it).
#include <QByteArrayList>
#include <cstdint>
#include <cstdlib>

#include "platform/KWinReport.h"
#include "platform/LiveWindowList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LiveWindowList windows;
  // Several reports in one input, one a line, applied in turn.
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (const QByteArray& line : input.split('\n')) {
    KWinReport report = KWinReport::parse(line);
    report.applyTo(windows);
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
