#pragma once
// The process-wide set of channels, by name ignoring letter case.

#include <memory>
#include <string>

#include "basis/THashtable.h"
#include "debug/TDebugObject.h"

class TChannel;

class TChannelPool : public TDebugObject {
  MORVANE_CLASS(TChannelPool, TDebugObject)

  TChannelPool();
  // Destroys every channel.
  ~TChannelPool() override;

  // The channel `name` of the process-wide pool, which is made on first
  // use; never nullptr. The channel stays the pool's.
  static TChannel* getChannel(const std::string& name);
  // Destroys the process-wide pool and every channel in it; the next
  // getChannel makes a fresh pool.
  static void releasePool();

  // The channel whose name equals `name` ignoring letter case; a new one,
  // named `name` as given, when there is none yet.
  virtual TChannel* get(const std::string& name);

  // Lower-cased names (TString) to channels; owns both.
  std::unique_ptr<THashtable> channels;
};
