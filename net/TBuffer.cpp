#include "net/TBuffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int32_t capacity) : capacity_(capacity <= 0 ? 1514 : capacity) {
  data_ = std::make_unique<char[]>(static_cast<size_t>(capacity_));
}

int32_t TBuffer::write(const char* data, int32_t length) {
  int32_t count = std::min(length, room());
  if (count > 0) {
    std::memcpy(data_.get() + writeCount_, data, static_cast<size_t>(count));
    writeCount_ += count;
  }
  return count;
}

const char* TBuffer::peek(int32_t& length) const {
  length = writeCount_ - readCount_;
  return data_.get() + readCount_;
}

void TBuffer::remove(int32_t count) {
  readCount_ += count;
  if (readCount_ >= writeCount_) readCount_ = writeCount_ = 0;
}
