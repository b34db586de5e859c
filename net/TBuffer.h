#pragma once
// One block of the socket's send queue: bytes written at the end, taken
// from the front as the network accepts them.

#include <cstdint>
#include <memory>

class TBuffer {
 public:
  // A capacity of 0 or less gives 1514 bytes.
  explicit TBuffer(int32_t capacity);
  // Copies as much of data as fits; returns the count copied.
  int32_t write(const char* data, int32_t length);
  // The unsent bytes and their count.
  const char* peek(int32_t& length) const;
  // Marks count bytes as sent; both counts return to 0 when all went.
  void remove(int32_t count);
  int32_t room() const { return capacity_ - writeCount_; }

 private:
  std::unique_ptr<char[]> data_;
  int32_t capacity_;
  int32_t writeCount_ = 0;
  int32_t readCount_ = 0;
};
