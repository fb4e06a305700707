// V.27ter receptions with the sampling clocks of the two ends apart: 20 s pages from the
// independent transmitter and from ours, through a band-limited clock offset and noise. The
// timing tracker's step follows up to 200 ppm.
#include <gtest/gtest.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "vfx_oracle_util.h"

using namespace vfxtest;

namespace {

// Our receiver set to `rate` takes the line audio; the bits it delivers.
std::vector<uint8_t> receive(uint16_t rate, const std::vector<int16_t>& audio) {
  open(&vfxarc);
  setRate(rate);
  command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
  command(VFX_ENABLE_CMD, 1, 0);
  command(VFX_RX_CMD, HSGFAXRXCFGECMDATA, 0);
  world().ingressIbd.clear();
  world().ingressIn.insert(world().ingressIn.end(), 800, 0);
  world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
  world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
  drain(10);
  auto got = receivedBits();
  close();
  return got;
}

std::vector<int16_t> ourPage(uint16_t rate, const std::vector<uint8_t>& bits) {
  open(&vfxarc);
  setRate(rate);
  command(VFX_ENABLE_CMD, 1, 0);
  auto audio = transmit(1, bits, 4000);
  close();
  return audio;
}

std::vector<int16_t> independentPage(int bps, const std::vector<uint8_t>& bits) {
  BitSource src{&bits, 0};
  v27ter_tx_state_t* tx = v27ter_tx_init(nullptr, bps, false, BitSource::get, &src);
  std::vector<int16_t> audio(size_t(8000) * (bits.size() / size_t(bps) + 3), 0);
  audio.resize(size_t(v27ter_tx(tx, audio.data(), int(audio.size()))));
  v27ter_tx_free(tx);
  return audio;
}

TEST(VfxV27Clock, TwentySecondPagesWithTheClocksApart) {
  for (auto [reg, bps] : {std::pair<uint16_t, int>{HSV27TER_2400, 2400}, {HSV27TER_4800, 4800}}) {
    const auto bits = randomBits(size_t(bps) * 20, unsigned(bps + 21));
    const auto ours = ourPage(reg, bits);
    const auto theirs = independentPage(bps, bits);
    for (double ppm : {-200.0, -100.0, 100.0, 200.0})
      for (bool independent : {false, true}) {
        const auto got = receive(reg, impair(independent ? theirs : ours, Line{25.0, ppm}));
        const int errors = bestErrors(bits, got, 8);
        std::printf("%d bit/s, %+4.0f ppm, 25 dB, from %s transmitter: %d bit errors, %zu bits received for %zu\n",
                    bps, ppm, independent ? "the independent" : "our", errors, got.size(), bits.size());
        EXPECT_EQ(errors, 0) << bps << " bit/s, " << ppm << " ppm, " << (independent ? "independent" : "ours");
        EXPECT_GE(got.size(), bits.size()) << bps << " bit/s, " << ppm << " ppm";
      }
  }
}

}  // namespace
