#include "debug/TTraceEntry.h"

#include "basis/DateTime.h"

TTraceEntry::TTraceEntry() : TDebugEntry(TBlank{}) { initialize(); }

TTraceEntry::TTraceEntry(const std::string& message, const std::string& channelName,
                         int32_t flags, int32_t level, double previousTime)
    : TDebugEntry(TBlank{}) {
  assign("TDebugEntry.create", message, channelName, flags, level, previousTime,
         datetime::now());
}

TTraceEntry::TTraceEntry(const std::string& message, const std::string& channelName,
                         int32_t flags, int32_t level, double previousTime, double time)
    : TDebugEntry(TBlank{}) {
  assign("TDebugEntry.create", message, channelName, flags, level, previousTime, time);
}

std::string TTraceEntry::toString() const { return TDebugEntry::toString() + message; }

std::unique_ptr<TMappedObject> TTraceEntry::clone() const {
  auto copy = std::make_unique<TTraceEntry>();
  copyFieldsTo(*copy);
  return copy;
}
