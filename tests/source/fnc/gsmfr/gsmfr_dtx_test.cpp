// Voice activity detection, discontinuous transmission and comfort noise of the full-rate
// codec, on both the transmit and the receive side.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "fr_codec.h"
#include "fr_kernels.h"
#include "gsmfr.h"
#include "gsmfr_test_signals.h"

namespace {

using Params = std::array<std::int16_t, GSMFR_NUM_DEC_PRM>;
using Samples = std::array<std::int16_t, GSMFR_FRAME_LEN>;

int vad_bit(const Params& p) { return (p[0] >> 15) & 1; }
int sp_bit(const Params& p) { return (p[1] >> 15) & 1; }

std::vector<Params> encode_dtx(const std::vector<std::int16_t>& signal) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 1);
  std::vector<Params> out(signal.size() / GSMFR_FRAME_LEN);
  for (std::size_t n = 0; n < out.size(); ++n) gsmfr_encode(&enc, &signal[n * GSMFR_FRAME_LEN], out[n].data());
  return out;
}

Params strip_flags(Params p) {
  p[0] &= 0x7FFF;
  p[1] &= 0x7FFF;
  return p;
}

TEST(GsmfrVad, SilenceFromResetGivesFourHangoverFramesThenSid) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 1);
  const Samples zeros{};
  for (int n = 0; n < 10; ++n) {
    Params p;
    gsmfr_encode(&enc, zeros.data(), p.data());
    EXPECT_EQ(0, vad_bit(p)) << n;
    EXPECT_EQ(n < 4 ? 1 : 0, sp_bit(p)) << n;
  }
  // Below the energy floor the threshold falls back to the low-level value.
  EXPECT_EQ(20, enc.VadState.thvad.e);
  EXPECT_EQ(25000, enc.VadState.thvad.m);
}

TEST(GsmfrVad, SpeechThenSilenceRunsBothHangoversThenSendsSid) {
  auto signal = gsmfr_test::load_speech(GSMFR_FRAME_LEN * 100);
  signal.resize(GSMFR_FRAME_LEN * 130, 0);
  const auto frames = encode_dtx(signal);
  for (int n = 95; n < 100; ++n) ASSERT_EQ(1, vad_bit(frames[n]));
  for (int n = 100; n < 105; ++n) EXPECT_EQ(1, vad_bit(frames[n])) << "VAD hangover " << n;
  for (int n = 105; n < 130; ++n) EXPECT_EQ(0, vad_bit(frames[n])) << n;
  for (int n = 100; n < 109; ++n) EXPECT_EQ(1, sp_bit(frames[n])) << "sent as speech " << n;
  for (int n = 109; n < 130; ++n) {
    EXPECT_EQ(0, sp_bit(frames[n])) << n;
    const Params p = strip_flags(frames[n]);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(p[11], p[11 + 17 * k]);
      for (int i = 0; i < 17; ++i) {
        if (i == 3) continue;
        EXPECT_EQ(0, p[8 + 17 * k + i]) << "frame " << n << " subframe " << k;
      }
    }
  }
}

TEST(GsmfrVad, AdaptsToStationaryNoise) {
  const auto frames = encode_dtx(gsmfr_test::noise(GSMFR_FRAME_LEN * 450, 2000, 3));
  for (int n = 0; n < 20; ++n) EXPECT_EQ(1, vad_bit(frames[n])) << n;
  for (int n = 420; n < 450; ++n) EXPECT_EQ(0, vad_bit(frames[n])) << n;
}

TEST(GsmfrDtxTransmit, ControlWordSequence) {
  FRdtx_encState st{};
  fr_reset_tx_dtx(&st);
  auto run = [&](int vad, int frames) {
    std::vector<int> ctrl;
    for (int i = 0; i < frames; ++i) {
      FR_tx_dtx(static_cast<Word16>(vad), &st, 0);
      ctrl.push_back(st.txdtx_ctrl);
    }
    return ctrl;
  };
  EXPECT_EQ((std::vector<int>{3, 3}), run(1, 2));
  // Long after the last SID: four hangover frames as speech, then fresh SIDs every frame.
  EXPECT_EQ((std::vector<int>{5, 13, 13, 13, 24, 16, 16}), run(0, 7));
  EXPECT_EQ(0x70816958, st.L_pn_seed_tx);
  // A short burst soon after a SID: the previous SID is repeated instead of a hangover.
  run(1, 3);
  EXPECT_EQ((std::vector<int>{32, 32, 32, 32, 16}), run(0, 5));
  // 30 frames of speech: the hangover is sent as speech again.
  run(1, 30);
  EXPECT_EQ((std::vector<int>{5, 13, 13, 13, 24}), run(0, 5));
}

TEST(GsmfrDtxTransmit, SidParametersAverageTheLastFourFrames) {
  FRdtx_encState st{};
  fr_reset_tx_dtx(&st);
  const std::int16_t xmax[4] = {1000, 1000, 1000, 1000};
  for (int row = 0; row < 4; ++row) {
    std::int16_t lar[8] = {};
    lar[0] = row == 0 ? 409 : 410;  // mean 409.75 rounds to 410, which codes one step higher
    fr_UpdateSIDmem(lar, xmax, &st);
  }
  EXPECT_EQ(0, st.HistIndx);
  st.txdtx_ctrl = FR_TX_SID_UPDATE;
  std::int16_t lar[8], xmaxc[4];
  fr_GenSIDprm(lar, xmaxc, &st);
  EXPECT_EQ((std::vector<std::int16_t>{33, 32, 20, 11, 8, 5, 3, 2}), std::vector<std::int16_t>(lar, lar + 8));
  for (std::int16_t x : xmaxc) EXPECT_EQ(23, x);

  // With "use old SID" the parameters last sent come back whatever the history holds now.
  const std::int16_t other[8] = {-3000, 2000, 100, -100, 500, 600, 700, 800};
  for (int row = 0; row < 4; ++row) fr_UpdateSIDmem(other, xmax, &st);
  st.txdtx_ctrl = FR_TX_USE_OLD_SID;
  std::int16_t again[8], xagain[4];
  fr_GenSIDprm(again, xagain, &st);
  EXPECT_TRUE(std::equal(lar, lar + 8, again));
  EXPECT_TRUE(std::equal(xmaxc, xmaxc + 4, xagain));
}

TEST(GsmfrDtxReceive, ClassificationInterpolationAndMuting) {
  FRdtx_decState st{};
  fr_reset_rx_dtx(&st);
  Word16 state = 0, prev_bf = 0;
  auto frame = [&](int taf, int bfi, int sid) {
    FR_rx_dtx(static_cast<Word16>(taf), static_cast<Word16>(bfi), static_cast<Word16>(sid), &state, &prev_bf, 0, &st);
    return int(st.rxdtx_ctrl);
  };
  EXPECT_EQ(1, frame(0, 1, 0));  // unusable frame during speech stays speech
  EXPECT_EQ(1, state);
  EXPECT_EQ(4 | 2, frame(0, 0, 2));  // first SID; the long pause since reset renews the seed
  EXPECT_EQ(23, st.rx_dtx_state);
  EXPECT_EQ(512 | 64, frame(0, 1, 0));  // nothing sent
  EXPECT_EQ(23, st.rx_dtx_state);
  EXPECT_EQ(8, frame(0, 0, 2));  // next SID restarts the interpolation
  EXPECT_EQ(0, st.rx_dtx_state);
  for (int n = 1; n <= 25; ++n) {
    frame(0, 1, 0);
    EXPECT_EQ(std::min(n, 23), st.rx_dtx_state);
  }
  EXPECT_EQ(8 | 32, frame(0, 1, 2) & ~2);  // invalid SID
  EXPECT_EQ(512 | 16, frame(1, 1, 0) & ~2);  // a SID was due and is lost
  EXPECT_EQ(512 | 16 | 128, frame(1, 1, 0) & ~2);  // the second lost SID mutes
  EXPECT_EQ(1024 | 256 | 1, frame(0, 0, 0));  // first speech frame after muted comfort noise
  EXPECT_EQ(5, state);
  EXPECT_EQ(0, prev_bf);
}

// The decoder turns a SID frame from the encoder into comfort noise with the SID's LARs and
// block maximum and pseudo-random pulses; the same output comes from decoding a speech frame
// that carries those values.
TEST(GsmfrComfortNoise, DecoderUsesTheEncodersSidParameters) {
  auto signal = gsmfr_test::load_speech(GSMFR_FRAME_LEN * 100);
  signal.resize(GSMFR_FRAME_LEN * 115, 0);
  const auto sent = encode_dtx(signal);
  ASSERT_EQ(0, sp_bit(sent[110]));
  const Params sid = strip_flags(sent[110]);

  GSMFR_DECSTRUCT dec;
  gsmfr_reset_dec(&dec);
  for (int n = 0; n < 100; ++n) {
    Samples out;
    Params p = strip_flags(sent[n]);
    gsmfr_decode(&dec, p.data(), 0, out.data());
  }
  Word32 seed = 0x70816958;  // the generator restarts at the first SID
  for (int n = 0; n < 12; ++n) {
    Params equivalent = sid;
    Word16 Mc[4], xMc[52];
    fr_GenCN(Mc, xMc, &seed);
    for (int k = 0; k < 4; ++k) {
      equivalent[8 + 17 * k] = (k & 1) ? 120 : 40;
      equivalent[9 + 17 * k] = 0;
      equivalent[10 + 17 * k] = Mc[k];
      std::copy_n(xMc + 13 * k, 13, &equivalent[12 + 17 * k]);
    }
    GSMFR_DECSTRUCT twin = dec;
    Samples cn, expected;
    Params received = sid;
    gsmfr_decode(&dec, received.data(), n == 0 ? GSMFR_FLAG_SID : GSMFR_FLAG_BFI, cn.data());
    gsmfr_decode(&twin, equivalent.data(), 0, expected.data());
    EXPECT_EQ(expected, cn) << "comfort-noise frame " << n;
  }
}

TEST(GsmfrComfortNoise, LostFramesInterpolateBetweenTheLastTwoSids) {
  GSMFR_DECSTRUCT dec;
  gsmfr_reset_dec(&dec);
  Params first{}, second{};
  const std::int16_t lar_a[8] = {10, 50, 3, 30, 2, 14, 1, 6};
  const std::int16_t lar_b[8] = {60, 5, 28, 1, 13, 0, 7, 0};
  std::copy_n(lar_a, 8, first.begin());
  std::copy_n(lar_b, 8, second.begin());
  for (int k = 0; k < 4; ++k) {
    first[11 + 17 * k] = 10;
    second[11 + 17 * k] = 40;
  }
  Samples out;
  gsmfr_decode(&dec, first.data(), GSMFR_FLAG_SID, out.data());
  gsmfr_decode(&dec, second.data(), GSMFR_FLAG_SID, out.data());
  std::array<std::int16_t, 8> old_lar, new_lar;
  std::copy_n(dec.dtxState.LAR_CN_Old, 8, old_lar.begin());
  std::copy_n(dec.dtxState.LAR_CN_New, 8, new_lar.begin());
  ASSERT_NE(old_lar, new_lar);
  for (int pos = 1; pos <= 23; ++pos) {
    Params nothing{};
    gsmfr_decode(&dec, nothing.data(), GSMFR_FLAG_BFI, out.data());
    const std::int32_t f = std::min(32768 * (pos + 1) / 24, 32767);
    const std::int16_t* cur = dec.LARpp[dec.j ^ 1];
    for (int i = 0; i < 8; ++i) {
      const std::int32_t expected = (2 * f * new_lar[i] + 2 * (32768 - f) * old_lar[i] + 32768) >> 16;
      EXPECT_EQ(expected, cur[i]) << "position " << pos << " LAR " << i;
    }
  }
}

}  // namespace
