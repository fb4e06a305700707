// A running 64-bit FNV-1a digest of a modem's outputs (line samples, in-band messages), so that a
// change meant to keep every output bit can be checked against the digest taken before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../linetest/line_harness.h"

namespace modemdigest {

struct Digest {
  uint64_t h = 1469598103934665603ull;
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ull;
    }
  }
  void word(uint64_t v) { bytes(&v, sizeof(v)); }
  void samples(const std::vector<int16_t>& x) {
    word(x.size());
    bytes(x.data(), x.size() * sizeof(int16_t));
  }
  // Every message that reached the top of the channel: code, operands, payload and frame.
  void messages(const std::vector<linetest::Ibd>& ibd) {
    word(ibd.size());
    for (const linetest::Ibd& e : ibd) {
      word(e.header);
      word(e.op1);
      word(e.op2);
      word(uint64_t(e.frame));
      word(e.data.size());
      bytes(e.data.data(), e.data.size());
    }
  }
};

}  // namespace modemdigest
