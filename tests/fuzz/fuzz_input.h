// Reading a fuzzer's input as a stream of small decisions and payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  size_t left() const { return size_ - pos_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
  // Copies up to n bytes into out (the rest is zero); returns how many came from the input.
  size_t take(void* out, size_t n) {
    const size_t got = n < left() ? n : left();
    std::memcpy(out, data_ + pos_, got);
    std::memset(static_cast<uint8_t*>(out) + got, 0, n - got);
    pos_ += got;
    return got;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
