#include "debug/TDialogWriter.h"

#include "debug/DialogHook.h"
#include "debug/TErrorEntry.h"
#include "debug/TTraceEntry.h"

void TDialogWriter::write(const TDebugEntry& entry) {
  try {
    if (entry.isA<TErrorEntry>()) {
      showDialog(DialogKind::Error, entry.toString());
    } else if (entry.isA<TTraceEntry>()) {
      showDialog(DialogKind::Information, entry.toString());
    }
  } catch (const std::exception& e) {
    throw IOException("TDialogWriter.write: " + wrappedText(e));
  }
}
