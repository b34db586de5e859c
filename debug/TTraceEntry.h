#pragma once
// An entry made by a channel's trace: the header followed by the text.

#include "debug/TDebugEntry.h"

class TTraceEntry : public TDebugEntry {
  MORVANE_CLASS(TTraceEntry, TDebugEntry)

  TTraceEntry();
  TTraceEntry(const std::string& message, const std::string& channelName, int32_t flags,
              int32_t level, double previousTime);
  TTraceEntry(const std::string& message, const std::string& channelName, int32_t flags,
              int32_t level, double previousTime, double time);

  // Header, then message.
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;
};
