// Frame interface of the full-rate codec: homing frames, bad-frame substitution and muting,
// serial-frame conversion and SID detection.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "gsmfr.h"
#include "gsmfr_test_signals.h"

namespace {

using Params = std::array<std::int16_t, GSMFR_NUM_DEC_PRM>;
using Samples = std::array<std::int16_t, GSMFR_FRAME_LEN>;

// The decoder homing frame: what the encoder produces for the encoder homing frame from reset.
const std::int16_t kDecoderHomingFrame[GSMFR_NUM_PRM] = {
    9,  23, 15, 8, 7, 3, 3, 2,
    40, 0,  0,  0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0,  0,  0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0,  0,  0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0,  0,  0, 4, 4, 4, 4, 3, 4, 4, 4, 4, 4, 4, 4, 4,
};

Params homing_params() {
  Params p{};
  std::copy(std::begin(kDecoderHomingFrame), std::end(kDecoderHomingFrame), p.begin());
  return p;
}

std::vector<Params> encode_speech(int frames, int dtx) {
  const auto speech = gsmfr_test::load_speech(static_cast<std::size_t>(frames) * GSMFR_FRAME_LEN);
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, static_cast<std::int16_t>(dtx));
  std::vector<Params> out(static_cast<std::size_t>(frames));
  for (int n = 0; n < frames; ++n) gsmfr_encode(&enc, &speech[static_cast<std::size_t>(n) * GSMFR_FRAME_LEN], out[n].data());
  return out;
}

Samples decode(GSMFR_DECSTRUCT* dec, Params p, std::uint16_t flags) {
  Samples s;
  gsmfr_decode(dec, p.data(), flags, s.data());
  return s;
}

bool same_state(const void* a, const void* b, std::size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

TEST(GsmfrHoming, EncoderHomingFrameGivesDecoderHomingFrameAndResets) {
  const Samples ehf = [] { Samples s; s.fill(0x0008); return s; }();
  GSMFR_ENCSTRUCT fresh, enc;
  gsmfr_reset_enc(&fresh, 0);
  gsmfr_reset_enc(&enc, 0);
  Params p;
  gsmfr_encode(&enc, ehf.data(), p.data());
  EXPECT_TRUE(std::equal(std::begin(kDecoderHomingFrame), std::end(kDecoderHomingFrame), p.begin()));

  // After speech, the homing frame brings the encoder back to its reset state.
  const auto speech = gsmfr_test::load_speech(GSMFR_FRAME_LEN * 30);
  for (std::size_t n = 0; n + GSMFR_FRAME_LEN <= speech.size(); n += GSMFR_FRAME_LEN)
    gsmfr_encode(&enc, &speech[n], p.data());
  gsmfr_encode(&enc, ehf.data(), p.data());
  EXPECT_TRUE(same_state(&fresh, &enc, offsetof(GSMFR_ENCSTRUCT, end_marker)));
}

TEST(GsmfrHoming, DecoderHomingFramesResetAndForceTheHomingPattern) {
  GSMFR_DECSTRUCT fresh, dec;
  gsmfr_reset_dec(&fresh);
  gsmfr_reset_dec(&dec);
  auto is_ehf = [](const Samples& s) {
    return std::all_of(s.begin(), s.end(), [](std::int16_t v) { return v == 0x0008; });
  };
  // Right after reset a homing frame is already answered with the homing pattern.
  EXPECT_TRUE(is_ehf(decode(&dec, homing_params(), 0)));

  for (const auto& p : encode_speech(20, 0)) decode(&dec, p, 0);
  const Samples first = decode(&dec, homing_params(), 0);  // decoded normally, then reset
  EXPECT_FALSE(is_ehf(first));
  EXPECT_TRUE(same_state(&fresh, &dec, offsetof(GSMFR_DECSTRUCT, end_marker)));
  EXPECT_TRUE(is_ehf(decode(&dec, homing_params(), 0)));  // the second one in a row
  EXPECT_TRUE(same_state(&fresh, &dec, offsetof(GSMFR_DECSTRUCT, end_marker)));

  // After reset, a frame whose first subframe matches already counts as a homing frame.
  Params partial = homing_params();
  partial[60] = 7;
  EXPECT_TRUE(is_ehf(decode(&dec, partial, 0)));
}

TEST(GsmfrEncoder, DtxOffLeavesFlagBitsClearAndKeepsInput) {
  const auto speech = gsmfr_test::load_speech(GSMFR_FRAME_LEN * 50);
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 0);
  for (std::size_t n = 0; n + GSMFR_FRAME_LEN <= speech.size(); n += GSMFR_FRAME_LEN) {
    Samples in;
    std::copy_n(&speech[n], GSMFR_FRAME_LEN, in.begin());
    Params p;
    gsmfr_encode(&enc, in.data(), p.data());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), &speech[n]));
    EXPECT_GE(p[0], 0);
    EXPECT_GE(p[1], 0);
  }
}

// Substitution and muting of a run of bad frames during speech: the first repeats the last
// good LARs and block maxima, the next seven lower the block maxima by 4 each, and from the
// ninth on the silence frame is played. Each bad frame is checked against a good frame that
// carries the substituted values, decoded from the same state.
TEST(GsmfrBadFrames, RepeatThenAttenuateThenSilence) {
  const auto frames = encode_speech(40, 0);
  GSMFR_DECSTRUCT dec;
  gsmfr_reset_dec(&dec);
  for (const auto& p : frames) decode(&dec, p, 0);
  const Params& last_good = frames.back();

  gsmfr_test::Lcg g{5};
  std::array<std::int16_t, 4> xmax{};
  for (int k = 0; k < 4; ++k) xmax[k] = last_good[11 + 17 * k];
  for (int bad = 1; bad <= 12; ++bad) {
    Params garbage{};
    for (int i = 0; i < GSMFR_NUM_PRM; ++i) garbage[i] = static_cast<std::int16_t>(g.next() >> 26);
    GSMFR_DECSTRUCT twin = dec;
    const Samples out = decode(&dec, garbage, GSMFR_FLAG_BFI);
    if (bad <= 8) {
      Params equivalent = garbage;
      std::copy_n(last_good.begin(), 8, equivalent.begin());
      for (int k = 0; k < 4; ++k) {
        if (bad > 1) xmax[k] = static_cast<std::int16_t>(std::max(0, xmax[k] - 4));
        equivalent[11 + 17 * k] = xmax[k];
      }
      EXPECT_EQ(decode(&twin, equivalent, 0), out) << "bad frame " << bad;
    } else {
      for (std::int16_t v : out) EXPECT_LE(std::abs(v), 64) << "bad frame " << bad;
    }
  }
  EXPECT_EQ(11, dec.dtxState.mute_count);  // bad frames 2 to 12 were attenuated
  // A good frame ends the muting.
  decode(&dec, frames[10], 0);
  EXPECT_EQ(0, dec.dtxState.mute_count);
}

TEST(GsmfrSerial, PackUnpackRoundTrip) {
  gsmfr_test::Lcg g{11};
  const int widths[17] = {7, 2, 2, 6, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
  for (int trial = 0; trial < 50; ++trial) {
    std::int16_t prm[GSMFR_NUM_PRM];
    for (auto& v : prm) v = static_cast<std::int16_t>(g.next() >> 16);  // bits above widths too
    std::int16_t serial[GSMFR_SERIAL_BITS];
    gsmfr_prm2bits(prm, serial);
    for (std::int16_t b : serial) ASSERT_TRUE(b == 0 || b == 1);
    // Any non-zero word counts as a 1.
    for (auto& b : serial) if (b) b = static_cast<std::int16_t>(-(g.next() % 100) - 1);
    std::int16_t back[GSMFR_NUM_PRM];
    gsmfr_bits2prm(serial, back);
    const int lar_widths[8] = {6, 6, 5, 5, 4, 4, 3, 3};
    for (int i = 0; i < GSMFR_NUM_PRM; ++i) {
      const int w = i < 8 ? lar_widths[i] : widths[(i - 8) % 17];
      ASSERT_EQ(prm[i] & ((1 << w) - 1), back[i]) << "parameter " << i;
    }
  }
  // Subframe k starts at bit 36 + 56k with its lag, most significant bit first.
  std::int16_t prm[GSMFR_NUM_PRM] = {};
  prm[8 + 17 * 2] = 0x40;
  std::int16_t serial[GSMFR_SERIAL_BITS];
  gsmfr_prm2bits(prm, serial);
  EXPECT_EQ(1, std::count(serial, serial + GSMFR_SERIAL_BITS, 1));
  EXPECT_EQ(1, serial[36 + 56 * 2]);
}

TEST(GsmfrSerial, SidCodeWordDetection) {
  std::int16_t serial[GSMFR_SERIAL_BITS];
  std::fill(serial, serial + GSMFR_SERIAL_BITS, 1);
  for (int k = 0; k < 4; ++k)
    for (int p = 0; p < 13; ++p) serial[53 + 56 * k + 3 * p] = serial[53 + 56 * k + 3 * p + 1] = 0;
  EXPECT_EQ(1, gsmfr_sid_frame_detection(serial));  // pulses 5..13 of the last subframe: MSB only
  serial[53 + 56 * 3 + 3 * 4 + 1] = 0;
  serial[53 + 56 * 1 + 3 * 7 + 1] = 1;
  EXPECT_EQ(0, gsmfr_sid_frame_detection(serial));
  serial[53 + 56 * 1 + 3 * 7 + 1] = 0;
  serial[53 + 56 * 3 + 3 * 3 + 1] = 1;  // pulse 4 of the last subframe still counts both bits
  EXPECT_EQ(0, gsmfr_sid_frame_detection(serial));
}

// Parameters beyond their widths (a caller passing raw words) decode like their low bits.
TEST(GsmfrDecoder, OutOfRangeParametersAreKeptToTheirWidths) {
  const auto frames = encode_speech(10, 0);
  GSMFR_DECSTRUCT a, b;
  gsmfr_reset_dec(&a);
  gsmfr_reset_dec(&b);
  for (const auto& p : frames) {
    Params wide = p;
    for (int i = 8; i < GSMFR_NUM_PRM; ++i) wide[i] = static_cast<std::int16_t>(wide[i] | 0x7F80);
    EXPECT_EQ(decode(&a, p, 0), decode(&b, wide, 0));
  }
}

}  // namespace
