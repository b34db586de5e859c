#pragma once
// The socket's bytes still to send: blocks of one capacity, filled at the
// back and sent from the front. An emptied block is freed unless it is the
// only one, which stays for the next bytes.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "net/TBuffer.h"

class SendQueue {
 public:
  explicit SendQueue(int32_t blockSize) : blockSize_(blockSize) {}

  // Appends the bytes: the last block is filled up before new ones follow.
  void append(const char* data, int32_t length);
  // Points parts at the unsent bytes of up to maxParts blocks, in queue
  // order; returns the count of parts, bytes := their total.
  size_t gather(iovec* parts, size_t maxParts, size_t& bytes) const;
  // Marks count bytes from the front as sent.
  void consume(size_t count);
  // Frees the empty blocks but one.
  void trim();
  bool empty() const { return blocks_.empty(); }
  void clear() { blocks_.clear(); }

 private:
  int32_t blockSize_;
  std::deque<std::unique_ptr<TBuffer>> blocks_;
};
