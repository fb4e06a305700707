// G.711 law conversion against spandsp's independent implementation, over every linear input and
// every code of both laws.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "g711.h"

extern "C" {
#include <spandsp.h>
}

namespace {

struct Law {
  void (*compress)(int, const int16_t*, int16_t*);
  void (*expand)(int, const int16_t*, int16_t*);
  int mode;
};

const Law kAlaw{g711AlawCompress, g711AlawExpand, G711_ALAW};
const Law kUlaw{g711UlawCompress, g711UlawExpand, G711_ULAW};

std::vector<int16_t> everyLinear() {
  std::vector<int16_t> v(65536);
  for (int i = 0; i < 65536; ++i) v[i] = static_cast<int16_t>(i - 32768);
  return v;
}

// Counts the inputs whose code differs from the reference's. With `mirrorNegatives` a negative
// sample x is compared with the reference's code for x + 1 (x < -1): the reference coder for mu-law takes
// a negative sample's magnitude as -x, while ours (as the ITU-T tools) takes the one's complement
// -x - 1, which moves the 127 negative decision levels by one LSB.
int compressMismatches(const Law& law, bool mirrorNegatives = false) {
  const std::vector<int16_t> in = everyLinear();
  std::vector<int16_t> ours(in.size());
  law.compress(static_cast<int>(in.size()), in.data(), ours.data());
  std::vector<uint8_t> theirs(in.size());
  g711_state_t* s = g711_init(nullptr, law.mode);
  g711_encode(s, theirs.data(), in.data(), static_cast<int>(in.size()));
  g711_free(s);
  int bad = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const size_t j = mirrorNegatives && in[i] < -1 ? i + 1 : i;  // -1 is negative zero
    bad += (ours[i] & 0xFF) != theirs[j];
  }
  return bad;
}

int expandMismatches(const Law& law) {
  std::vector<int16_t> codes(256);
  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) codes[i] = static_cast<int16_t>(i), bytes[i] = static_cast<uint8_t>(i);
  std::vector<int16_t> ours(256), theirs(256);
  law.expand(256, codes.data(), ours.data());
  g711_state_t* s = g711_init(nullptr, law.mode);
  g711_decode(s, theirs.data(), bytes.data(), 256);
  g711_free(s);
  int bad = 0;
  for (int i = 0; i < 256; ++i) bad += ours[i] != theirs[i];
  return bad;
}

TEST(G711, EveryLinearSampleCodesAsTheReference) {
  EXPECT_EQ(compressMismatches(kAlaw), 0);
  // mu-law: identical for all 32768 non-negative samples; the negative half is the exact mirror
  // image (one's complement), which differs from the reference at its 127 decision levels only.
  EXPECT_EQ(compressMismatches(kUlaw), 127);
  EXPECT_EQ(compressMismatches(kUlaw, true), 0);
}

TEST(G711, EveryCodeExpandsAsTheReference) {
  EXPECT_EQ(expandMismatches(kAlaw), 0);
  EXPECT_EQ(expandMismatches(kUlaw), 0);
}

TEST(G711, ExpansionThenCompressionGivesTheCodeBack) {
  for (const Law* law : {&kAlaw, &kUlaw}) {
    std::vector<int16_t> codes(256), lin(256), back(256);
    for (int i = 0; i < 256; ++i) codes[i] = static_cast<int16_t>(i);
    law->expand(256, codes.data(), lin.data());
    law->compress(256, lin.data(), back.data());
    for (int i = 0; i < 256; ++i) {
      // mu-law has two codes for zero (0x7F and 0xFF); both expand to 0, which codes as 0xFF.
      if (law == &kUlaw && i == 0x7F) continue;
      EXPECT_EQ(back[i] & 0xFF, i) << "law " << (law == &kAlaw ? "A" : "mu");
    }
  }
}

TEST(G711, CodesStayInTheLowByte) {
  std::vector<int16_t> in = everyLinear(), out(in.size());
  g711AlawCompress(static_cast<int>(in.size()), in.data(), out.data());
  for (int16_t c : out) ASSERT_EQ(c & ~0xFF, 0);
  g711UlawCompress(static_cast<int>(in.size()), in.data(), out.data());
  for (int16_t c : out) ASSERT_EQ(c & ~0xFF, 0);
}

}  // namespace
