// A running 64-bit FNV-1a digest of a modem's outputs (line samples, in-band messages), so that a
// change meant to keep every output bit can be checked against the digest taken before it.
#pragma once

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../linetest/line_harness.h"
#include "vc_dot_avx2.h"

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

struct Expected {
  const char* name;
  uint64_t digest;
};

// Compares a case's digest with its reference; prints it as a table row, ready to paste when the
// behaviour is changed on purpose.
template <size_t N>
void check(const Expected (&table)[N], const std::string& name, const Digest& d) {
  std::printf("    {\"%s\", 0x%016" PRIx64 "ull},\n", name.c_str(), d.h);
  const Expected* e = nullptr;
  for (const Expected& x : table)
    if (name == x.name) e = &x;
  ASSERT_NE(e, nullptr) << name << " has no reference digest";
  EXPECT_EQ(d.h, e->digest) << name;
}

// Runs the cases with the processor's widest kernels, then with the baseline ones: both must give
// the reference bits.
template <class F>
void withEveryKernel(F run) {
  run();
#if defined(VC_HAVE_AVX2_KERNELS)
  vcAllowAvx2(false);
  run();
  vcAllowAvx2(true);
#endif
}

}  // namespace modemdigest
