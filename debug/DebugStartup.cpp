#include "debug/DebugStartup.h"

#include <memory>

#include "basis/TClass.h"
#include "debug/TChannelPool.h"
#include "debug/TDebugEntries.h"
#include "debug/TDebugEntry.h"
#include "debug/TDialogWriter.h"
#include "debug/TErrorEntry.h"
#include "debug/TListWriter.h"
#include "debug/TSystemOutWriter.h"
#include "debug/TTraceEntry.h"

namespace {

struct ProcessWriters {
  std::unique_ptr<TDialogWriter> dialog;
  std::unique_ptr<TSystemOutWriter> systemOut;
  std::unique_ptr<TListWriter> list;
};

ProcessWriters& writers() {
  // Never destroyed: releaseDebug is the only release, and writers still
  // alive at exit are the host's omission, not a reason to run their
  // destructors after other statics are gone.
  static ProcessWriters* instance = new ProcessWriters();
  return *instance;
}

}  // namespace

void startupDebug() {
  for (const TClass* cls : {
           &TDebugEntries::classInfo(),
           &TDebugEntry::classInfo(),
           &TTraceEntry::classInfo(),
           &TErrorEntry::classInfo(),
       }) {
    TClassRegistry::registerClass(*cls);
  }
  ProcessWriters& w = writers();
  if (!w.dialog) w.dialog = std::make_unique<TDialogWriter>();
  if (!w.systemOut) w.systemOut = std::make_unique<TSystemOutWriter>();
  if (!w.list) w.list = std::make_unique<TListWriter>();
}

void releaseDebug() {
  TChannelPool::releasePool();
  ProcessWriters& w = writers();
  w.dialog.reset();
  w.systemOut.reset();
  w.list.reset();
}

TDialogWriter* dialogWriter() { return writers().dialog.get(); }
TSystemOutWriter* systemOutWriter() { return writers().systemOut.get(); }
TListWriter* listWriter() { return writers().list.get(); }
