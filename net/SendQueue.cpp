#include "net/SendQueue.h"

#include <algorithm>

void SendQueue::append(const char* data, int32_t length) {
  if (length <= 0) return;
  if (!blocks_.empty()) {
    int32_t n = blocks_.back()->write(data, length);
    data += n;
    length -= n;
  }
  while (length > 0) {
    blocks_.push_back(std::make_unique<TBuffer>(blockSize_));
    int32_t n = blocks_.back()->write(data, length);
    data += n;
    length -= n;
  }
}

size_t SendQueue::gather(iovec* parts, size_t maxParts, size_t& bytes) const {
  size_t count = 0;
  bytes = 0;
  for (size_t i = 0; i < blocks_.size() && count < maxParts; ++i) {
    int32_t length = 0;
    const char* p = blocks_[i]->peek(length);
    if (length <= 0) continue;
    parts[count].iov_base = const_cast<char*>(p);
    parts[count].iov_len = static_cast<size_t>(length);
    bytes += static_cast<size_t>(length);
    ++count;
  }
  return count;
}

void SendQueue::consume(size_t count) {
  while (count > 0) {
    TBuffer& first = *blocks_.front();
    int32_t length = 0;
    first.peek(length);
    size_t taken = std::min(count, static_cast<size_t>(length));
    first.remove(static_cast<int32_t>(taken));
    count -= taken;
    if (taken == static_cast<size_t>(length) && blocks_.size() > 1) blocks_.pop_front();
  }
}

void SendQueue::trim() {
  while (blocks_.size() > 1) blocks_.pop_front();
}
