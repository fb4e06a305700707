// Output digests of the line side of a channel on fixed signals: the two-band filter bank (split,
// combine, the 5 ms combine and their kernels) on full-scale noise with saturating bursts, the
// saturating frame mix of the conference points, and a wideband line channel on the framework
// (high-pass, split, echo canceller, conference points looping the top back, combine) playing
// speech and loud noise. Every output sample and filter state goes into one hash per block; a
// rework for speed keeps every bit, so any changed output fails here.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "../../../digests/digest_util.h"
#include "../linechan/line_channel.h"
#include "bandsplit.h"
#include "hsf/hsf.h"
#include "orvox_fixture.h"

namespace {

using Digest = digest::Fnv1a;

// Full-scale noise with runs of the extremes (-32768 included) that drive every sum into
// saturation, the same on every machine.
struct Noise {
  uint32_t s;
  int16_t next() {
    s = s * 1664525u + 1013904223u;
    const uint32_t r = s >> 8;
    if ((r & 0x3F00) == 0) return (r & 1) ? int16_t{32767} : int16_t{-32768};
    return static_cast<int16_t>(static_cast<int>(r & 0xFFFF) - 32768);
  }
  void fill(int16_t* x, int n) {
    for (int i = 0; i < n; ++i) x[i] = next();
  }
};

}  // namespace

TEST(LineChainDigest, BandSplitAndCombine) {
  Noise noise{7};
  std::array<int16_t, BS_SPLIT_STATE_WORDS> split{};
  std::array<int16_t, BS_COMBINE_STATE_WORDS> comb{}, comb2{};
  Digest d;
  for (int f = 0; f < 3000; ++f) {
    std::array<int16_t, 160> wide, high, out, high2;
    std::array<int16_t, 80> low, low2, out2;
    noise.fill(wide.data(), 160);
    noise.fill(low.data(), 80);
    if (f % 3 == 0) noise.fill(high.data(), 160);  // a foreign high band into the combine
    bandSplit(low.data(), high.data(), wide.data(), split.data());
    bandCombine(low.data(), high.data(), out.data(), comb.data());
    noise.fill(low2.data(), 40);
    noise.fill(high2.data(), 80);
    bandCombine2(low2.data(), high2.data(), out2.data(), comb2.data());
    // In place: the high band over the wideband input, the output over the high band.
    bandSplit(low.data(), wide.data(), wide.data(), split.data());
    bandCombine(low.data(), wide.data(), wide.data(), comb.data());
    for (const auto* a : {&low}) d.words(a->data(), a->size());
    for (const auto* a : {&high, &out, &wide}) d.words(a->data(), a->size());
    d.words(out2.data(), 80);
    d.words(split.data(), split.size());
    d.words(comb.data(), comb.size());
    d.words(comb2.data(), comb2.size());
  }
  EXPECT_EQ(d.h, 0xA0F03199E0F6C24Aull);
}

TEST(LineChainDigest, FilterBankKernels) {
  Noise noise{99};
  Digest d;
  for (int f = 0; f < 2000; ++f) {
    std::array<int16_t, 40 + 160> x;
    std::array<int16_t, 20 + 80> u;
    noise.fill(x.data(), x.size());
    noise.fill(u.data(), u.size());
    std::array<int16_t, 160> y;
    std::array<int16_t, 80> low;
    bs_firdown(x.data() + 40, low.data());
    d.words(low.data(), low.size());
    bs_firup(u.data() + 20, y.data());
    d.words(y.data(), 160);
    bs_firup2(u.data() + 20, y.data());
    d.words(y.data(), 80);
  }
  EXPECT_EQ(d.h, 0x22FACFB6E89A1D9Dull);
}

TEST(LineChainDigest, ConferenceMix) {
  Noise noise{3};
  Digest d;
  std::array<int16_t, 160> frame;
  noise.fill(frame.data(), frame.size());
  for (int round = 0; round < 20000; ++round) {
    std::array<int16_t, 48> block;
    noise.fill(block.data(), block.size());
    const unsigned n = round % 49;
    const unsigned at = round % (160 - 48 + 1);
    hsfMedqAdd(frame.data() + at, block.data(), n);
    if (round % 7 == 0) noise.fill(frame.data(), 16);  // keep the frame off the rails
    d.words(frame.data(), frame.size());
  }
  EXPECT_EQ(d.h, 0xE1696CA1BBFB4D03ull);
}

TEST(LineChainDigest, WidebandLineChannel) {
  auto in = orvox_fixture::loadPcm16("speech/speech_16k.raw");
  ASSERT_GE(in.size(), 80u * 1000);
  in.resize(80 * 1000);
  Noise noise{5};
  std::vector<int16_t> loud(80 * 200);
  noise.fill(loud.data(), static_cast<int>(loud.size()));
  // Silence after speech and after loud noise: the first silent frames meet filters whose state
  // is not at rest yet (the DC blocker's, the split's and the combine's), the later ones find
  // them at rest.
  const std::vector<int16_t> quiet(80 * 40, 0);
  in.insert(in.end(), quiet.begin(), quiet.end());
  in.insert(in.end(), loud.begin(), loud.end());
  in.insert(in.end(), quiet.begin(), quiet.end());
  linechan::Channel channel;
  const auto out = channel.run(in);
  ASSERT_EQ(out.size(), in.size());
  double energy = 0;
  for (int16_t v : out) energy += double(v) * v;
  ASSERT_GT(energy / out.size(), 1e5) << "the channel put out next to nothing";
  Digest d;
  d.words(out.data(), out.size());
  EXPECT_EQ(d.h, 0x4E276C9B864AD4ADull);
}
