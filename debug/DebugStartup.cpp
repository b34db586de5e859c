#include "debug/DebugStartup.h"

#include "basis/TClass.h"
#include "debug/TDebugEntry.h"
#include "debug/TErrorEntry.h"
#include "debug/TTraceEntry.h"

void startupDebug() {
  for (const TClass* cls : {
           &TDebugEntry::classInfo(),
           &TTraceEntry::classInfo(),
           &TErrorEntry::classInfo(),
       }) {
    TClassRegistry::registerClass(*cls);
  }
}

void releaseDebug() {}
