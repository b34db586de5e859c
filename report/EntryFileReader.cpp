#include "report/EntryFileReader.h"

#include "basis/ConnectionLogLine.h"
#include "debug/TBinaryReader.h"
#include "debug/TDebugEntries.h"
#include "debug/TTraceEntry.h"
#include "report/ConnectionNames.h"
#include "report/ZoneClock.h"

EntryFileReader::EntryFileReader(const std::string& path, ConnectionNames& names)
    : entries_(TBinaryReader(path).read()), names_(names) {}

EntryFileReader::~EntryFileReader() = default;

bool EntryFileReader::next(ConnectionEvent& event) {
  ConnectionMessage message;
  while (index_ < entries_->size()) {
    const TTraceEntry* entry = as<TTraceEntry>(entries_->get(index_++));
    if (entry == nullptr || !isConnectionLogChannel(entry->channelName) || entry->channelName.empty() ||
        !parseConnectionMessage(entry->message, message)) {
      continue;
    }
    // The time as the text form would show it, to the millisecond.
    int64_t localMs;
    if (!ZoneClock::localMillis(datetime::split(entry->time), localMs)) continue;
    const uint32_t name = names_.idOf(message.name);
    if (name == ConnectionNames::EXCLUDED) continue;
    event = ConnectionEvent{message.kind, name, localMs, message.received, message.sent};
    return true;
  }
  return false;
}
