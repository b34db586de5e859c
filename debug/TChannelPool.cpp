#include "debug/TChannelPool.h"

#include "basis/THashtable.h"
#include "basis/TString.h"
#include "debug/TChannel.h"

namespace {
// Not a smart pointer on purpose: the pool dies only by releasePool, never
// by static destruction at exit, when the writers' files and streams may be
// gone already.
TChannelPool* channelPool = nullptr;
}  // namespace

TChannelPool::TChannelPool() : TDebugObject(TBlank{}) {
  channels = std::make_unique<THashtable>(true);
}

TChannelPool::~TChannelPool() = default;

TChannel* TChannelPool::getChannel(const std::string& name) {
  if (channelPool == nullptr) channelPool = new TChannelPool();
  return channelPool->get(name);
}

void TChannelPool::releasePool() {
  TChannelPool* pool = channelPool;
  channelPool = nullptr;
  delete pool;
}

TChannel* TChannelPool::get(const std::string& name) {
  auto key = std::make_unique<TString>(TString::toLowerAscii(name));
  if (channels->containsKey(key.get())) {
    return static_cast<TChannel*>(channels->get(key.get()));
  }
  auto channel = std::make_unique<TChannel>(name);
  TChannel* result = channel.get();
  channels->put(key.get(), channel.get());
  key.release();
  channel.release();
  return result;
}
