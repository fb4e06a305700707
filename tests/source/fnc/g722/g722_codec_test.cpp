// G.722 codec behaviour of its own: the accelerated decision search against the linear search,
// encoder and decoder tracking each other, codeword handling, modes and block sizes, kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "g722.h"
#include "g722_internal.h"
#include "g722_tables.h"
#include "g722_test_signals.h"
#include "g722_zero_vec.h"

namespace {

using g722_test::encode_all;
using g722_test::kFrame;

// The standard's decision search: the first level above the magnitude, from level 1.
int linear_mil(int wd, int detl) {
  int mil = 1;
  while (mil < 30 && wd >= ((g722_q6[mil] * detl) >> 15)) ++mil;
  return mil;
}

TEST(G722Codec, AcceleratedSearchEqualsLinearSearchForEveryScaleAndMagnitude) {
  // Every scale factor the lower band can hold (table index 64 on; 32 at reset) and every
  // magnitude of the difference.
  std::size_t mismatches = 0;
  for (int j = 64; j < 353; ++j) {
    for (int wd = 0; wd <= 32767; ++wd) {
      const int fast = g722_quantl_mil(static_cast<Word16>(wd), g722_ila[j], g722_inv_ila[j]);
      if (fast != linear_mil(wd, g722_ila[j]) && mismatches++ < 5) {
        ADD_FAILURE() << "detl " << g722_ila[j] << " wd " << wd << ": " << fast << " vs " << linear_mil(wd, g722_ila[j]);
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(g722_quantl_mil(16384, 32, 33554432), 30);
}

void expect_same_predictors(const g722_state &e, const g722_state &d, std::size_t frame) {
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(e.al[i], d.al[i]) << frame;
    ASSERT_EQ(e.ah[i], d.ah[i]) << frame;
    ASSERT_EQ(e.plt[i], d.plt[i]) << frame;
    ASSERT_EQ(e.ph[i], d.ph[i]) << frame;
    ASSERT_EQ(e.rlt[i], d.rlt[i]) << frame;
    ASSERT_EQ(e.rh[i], d.rh[i]) << frame;
  }
  for (int i = 1; i <= 6; ++i) {
    ASSERT_EQ(e.bl[i], d.bl[i]) << frame;
    ASSERT_EQ(e.bh[i], d.bh[i]) << frame;
    ASSERT_EQ(e.dlt[i], d.dlt[i]) << frame;
    ASSERT_EQ(e.dh[i], d.dh[i]) << frame;
  }
  ASSERT_EQ(e.detl, d.detl) << frame;
  ASSERT_EQ(e.nbl, d.nbl) << frame;
  ASSERT_EQ(e.deth, d.deth) << frame;
  ASSERT_EQ(e.nbh, d.nbh) << frame;
  ASSERT_EQ(e.sl, d.sl) << frame;
  ASSERT_EQ(e.szl, d.szl) << frame;
  ASSERT_EQ(e.sh, d.sh) << frame;
  ASSERT_EQ(e.szh, d.szh) << frame;
}

TEST(G722Codec, EncoderAndDecoderPredictorsStayEqualOverACleanChannel) {
  auto pcm = g722_test::speech_16k(16000 * 4);
  const auto edges = g722_test::edge_signal();
  pcm.insert(pcm.end(), edges.begin(), edges.end());
  g722_state enc, dec;
  G722_APXIII_WB_PLC_State plc;
  g722_reset_encoder(&enc);
  g722_reset_decoder(&dec);
  g722_Reset_WB_PLC(&plc);
  for (std::size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) {
    std::int16_t codes[kFrame / 2], out[kFrame];
    g722_enc(&pcm[f], codes, kFrame, &enc);
    g722_dec(codes, out, G722_MODE_1, kFrame / 2, &dec, &plc, 0);
    expect_same_predictors(enc, dec, f / kFrame);
    if (HasFatalFailure()) return;
    ASSERT_GE(dec.nbl, 0);
    ASSERT_LE(dec.nbl, 18432);
    ASSERT_GE(dec.nbh, 0);
    ASSERT_LE(dec.nbh, 22528);
  }
}

TEST(G722Codec, OddSampleCountDropsTheLastSample) {
  const auto pcm = g722_test::speech_16k(kFrame + 2);
  g722_state a, b;
  g722_reset_encoder(&a);
  g722_reset_encoder(&b);
  std::int16_t ca[kFrame / 2 + 1] = {}, cb[kFrame / 2 + 1] = {};
  EXPECT_EQ(g722_enc(pcm.data(), ca, kFrame, &a), kFrame / 2);
  EXPECT_EQ(g722_enc(pcm.data(), cb, kFrame + 1, &b), kFrame / 2);
  for (int i = 0; i < kFrame / 2; ++i) EXPECT_EQ(ca[i], cb[i]);
  EXPECT_EQ(cb[kFrame / 2], 0) << "nothing written past the whole pairs";
  EXPECT_EQ(g722_enc(pcm.data(), ca, 0, &a), 0);
  EXPECT_EQ(g722_enc(pcm.data(), ca, -7, &a), 0);
}

// Decodes `codes` through g722_dec in calls of `per_call` codewords (a multiple of 80).
std::vector<std::int16_t> decode_all(const std::vector<std::int16_t> &codes, int mode, int per_call = 80) {
  g722_state dec;
  G722_APXIII_WB_PLC_State plc;
  g722_reset_decoder(&dec);
  g722_Reset_WB_PLC(&plc);
  std::vector<std::int16_t> out(codes.size() * 2);
  for (std::size_t c = 0; c + per_call <= codes.size(); c += per_call) {
    EXPECT_EQ(g722_dec(&codes[c], &out[2 * c], mode, per_call, &dec, &plc, 0), 2 * per_call);
  }
  return out;
}

TEST(G722Codec, DecoderReadsOnlyTheLowEightBitsAndTheLowerBandBitsOfItsMode) {
  const auto codes = encode_all(g722_test::speech_16k(16000));
  auto extended = codes;
  for (auto &c : extended) c = static_cast<std::int16_t>(static_cast<std::int8_t>(c & 0xFF));  // sign-extend bit 7
  auto dirty = codes;
  for (std::size_t i = 0; i < dirty.size(); ++i) dirty[i] = static_cast<std::int16_t>(dirty[i] | (i % 2 ? 0x7F00 : 0x1200));
  const auto reference = decode_all(codes, G722_MODE_1);
  EXPECT_EQ(decode_all(extended, G722_MODE_1), reference);
  EXPECT_EQ(decode_all(dirty, G722_MODE_1), reference);
  // A lower mode ignores the lower band's low bits: clearing them changes nothing there, while
  // the 64 kbit/s mode hears them.
  auto cleared1 = codes, cleared2 = codes;
  for (auto &c : cleared1) c = static_cast<std::int16_t>(c & ~1);
  for (auto &c : cleared2) c = static_cast<std::int16_t>(c & ~3);
  EXPECT_NE(decode_all(codes, G722_MODE_2), reference);
  EXPECT_EQ(decode_all(cleared1, G722_MODE_2), decode_all(codes, G722_MODE_2));
  EXPECT_EQ(decode_all(cleared2, G722_MODE_3), decode_all(codes, G722_MODE_3));
  EXPECT_NE(decode_all(cleared1, G722_MODE_1), reference);
  // Two frames per call continue the state exactly as two calls.
  EXPECT_EQ(decode_all(codes, G722_MODE_1, 160), reference);
}

TEST(G722Codec, SubBandDecoderModesUseSixFiveOrFourBits) {
  const auto codes = encode_all(g722_test::speech_16k(16000));
  auto run = [&](int mode) {
    g722_state dec;
    G722_APXIII_WB_PLC_State plc;
    g722_reset_decoder(&dec);
    g722_Reset_WB_PLC(&plc);
    std::vector<std::int16_t> out(codes.size() * 2);
    for (std::size_t c = 0; c + 80 <= codes.size(); c += 80) g722_decode(&codes[c], &out[2 * c], mode, 80, &dec, &plc);
    return out;
  };
  EXPECT_EQ(run(0), run(1));
  EXPECT_EQ(run(7), run(3));
  EXPECT_NE(run(2), run(1));
  EXPECT_NE(run(3), run(2));
}

TEST(G722Codec, PartialFrameTailIsZeroFilledNotLeftUnwritten) {
  const auto codes = encode_all(g722_test::speech_16k(16000));
  g722_state dec;
  G722_APXIII_WB_PLC_State plc;
  g722_reset_decoder(&dec);
  g722_Reset_WB_PLC(&plc);
  std::vector<std::int16_t> out(200, 0x5A5A);
  EXPECT_EQ(G722DecWithPLC(codes.data(), out.data(), G722_MODE_1, 200, &dec, &plc, 0), 200);
  for (int i = 160; i < 200; ++i) EXPECT_EQ(out[i], 0) << i;
  std::vector<std::int16_t> lost(100, 0x5A5A);
  EXPECT_EQ(G722DecWithPLC(codes.data(), lost.data(), G722_MODE_1, 100, &dec, &plc, 1), 100);
  for (int v : lost) EXPECT_EQ(v, 0);
}

TEST(G722Kernels, OperatorCopiesAndKernelEdges) {
  EXPECT_EQ(g722_norm_l(0), 0);
  EXPECT_EQ(g722_norm_l(-1), 31);
  EXPECT_EQ(g722_L_shl(1 << 30, 1), 0x7FFFFFFF);
  EXPECT_EQ(g722_L_shl(12345, -40), 0);
  EXPECT_EQ(g722_L_shl(-12345, -40), -1);
  EXPECT_EQ(g722_abs_s(-32768), 32767);
  EXPECT_EQ(g722_shr(-5, 20), -1);
  EXPECT_EQ(g722_div_s(1234, 1234), 32767);
  EXPECT_EQ(g722_div_s(1, 3), 10922);
  Word16 e = 9, f = 9;
  g722_Log2(0, &e, &f);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(f, 0);
  g722_Log2(1 << 30, &e, &f);
  EXPECT_EQ(e, 30);
  EXPECT_EQ(f, 0);
  Word16 zeros[65] = {};
  EXPECT_EQ(g722_decim_loop2(zeros), 11);

  // The shift saturates exactly where doubling step by step would, for every count.
  auto stepwise_shl = [](std::int64_t a, int n) {
    for (; n > 0; --n) {
      if (a > 0x3FFFFFFF) return std::int64_t{0x7FFFFFFF};
      if (a < -0x40000000) return -std::int64_t{0x80000000};
      a *= 2;
    }
    return a;
  };
  std::mt19937 rng(8);
  for (int round = 0; round < 20000; ++round) {
    const Word32 a = round < 64 ? (round & 1 ? -1 : 1) * (Word32{1} << (round / 2 % 31)) - (round & 2 ? 1 : 0)
                                : static_cast<Word32>(rng()) >> (rng() % 32);
    const auto n = static_cast<Word16>(1 + round % 40);
    ASSERT_EQ(g722_L_shl(a, n), stepwise_shl(a, n)) << a << " << " << n;
  }
  EXPECT_EQ(g722_L_shl(-2147483647 - 1, 1), -2147483647 - 1);
  EXPECT_EQ(g722_L_shl(-1, 31), -2147483647 - 1);
  EXPECT_EQ(g722_L_shl(-1, 32), -2147483647 - 1);

  // The decimated buffer's headroom from its largest magnitude (abs_s caps -32768 at 32767).
  for (int round = 0; round < 2000; ++round) {
    Word16 buf[65];
    const int scale = 1 << (round % 16);
    for (auto &v : buf) v = static_cast<Word16>(static_cast<int>(rng() % (2 * scale)) - scale);
    if (round % 7 == 0) buf[20 + round % 45] = -32768;
    Word16 m = 1;
    for (int i = 20; i < 65; ++i) m = std::max<Word16>(m, g722_abs_s(buf[i]));
    ASSERT_EQ(g722_decim_loop2(buf), g722::norm_s(m) - 3) << round;
  }

  // Without a new difference the zero predictor only leaks, and still shifts its delay line.
  Word16 dlt[9] = {0, 100, -200, 300, -400, 500, -600, 0, 0};
  Word16 b[9] = {0, 1000, -1000, 255, -255, 32767, -32768, 0, 0};
  g722_upzero(dlt, b);
  const Word16 leaked[7] = {0, 996, -997, 254, -255, 32639, -32640};  // floor(b * 255 / 256)
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(b[i], leaked[i]) << i;
  EXPECT_EQ(dlt[1], 0);
  EXPECT_EQ(dlt[2], 100);
  EXPECT_EQ(dlt[6], 500);

  // Silence stays silence through both QMF banks.
  Word16 in[32] = {}, xl[16], xh[16], row1[13] = {}, row2[13] = {}, out[32];
  g722_qmf_tx(in, xl, xh, row1, row2, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(xl[i] | xh[i], 0);
  g722_qmf_rx(xl, xh, out, row1, row2, 16);
  for (int v : out) EXPECT_EQ(v, 0);
}

// Random words of a chosen magnitude; a full-scale draw also lands on -32768 now and then.
std::int16_t draw(std::mt19937 &rng, int magnitude) {
  if (magnitude >= 32768 && rng() % 16 == 0) return -32768;
  std::uniform_int_distribution<int> d(-std::min(magnitude, 32767), std::min(magnitude, 32767));
  return static_cast<std::int16_t>(d(rng));
}

TEST(G722Kernels, ExactFastFormsEqualTheSaturatingModel) {
  // Magnitudes from the everyday (no sum can saturate) to full scale (partial sums saturate).
  std::mt19937 rng(722);
  const int magnitudes[] = {300, 3000, 12000, 32768};
  for (int round = 0; round < 400; ++round) {
    const int mx = magnitudes[round % 4], my = magnitudes[(round / 4) % 4];
    std::int16_t x[260], y[260];
    for (auto &v : x) v = draw(rng, mx);
    for (auto &v : y) v = draw(rng, my);
    const std::int16_t n = static_cast<std::int16_t>(1 + rng() % 160);
    ASSERT_EQ(g722_Vec_L_mac_ps0(x, y, n), g722_model_Vec_L_mac_ps0(x, y, n)) << round;
    ASSERT_EQ(g722_Vec_L_sqa0(x, n), g722_model_Vec_L_sqa0(x, n)) << round;
    if (g722_mac_cannot_saturate(x, 60, y, 200)) {
      for (int k = 0; k < 140; k += 7) ASSERT_EQ(g722_Vec_L_mac_ps0_plain(x, y + k, 60), g722_model_Vec_L_mac_ps0(x, y + k, 60));
    }

    // Windowing: rounded products, -32768 squared saturating.
    std::int16_t windowed[160];
    g722_Vec_mult_r_WINSZ(x, y, windowed);
    for (int i = 0; i < 160; ++i) ASSERT_EQ(windowed[i], g722::mult_r(x[i], y[i])) << round << " sample " << i;

    // Autocorrelation lags: wrapping lanes, saturating join, then the normalising shift.
    std::int16_t xa[176], xb[176];
    std::copy(x, x + 176, xa);
    std::copy(x, x + 176, xb);
    Word32 ra[9] = {}, rb[9] = {};
    const std::int16_t shift = static_cast<std::int16_t>(round % 9);
    g722_ACF(xa, ra, shift);
    g722_model_ACF(xb, rb, shift);
    for (int k = 1; k <= 8; ++k) ASSERT_EQ(ra[k], rb[k]) << round << " lag " << k;

    // Receive QMF: both branches at once against the two branch kernels, over blocks of eight
    // pairs and a tail of four, delay lines included; saturating outputs at full scale.
    {
      const Word16 pairs = static_cast<Word16>(4 * (1 + round % 24));
      Word16 rows_both[2][13], rows_parts[2][13];
      for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < 13; ++k) rows_both[r][k] = rows_parts[r][k] = draw(rng, mx);
      }
      Word16 out_both[192], out_parts[192];
      g722_qmf_rx_both(x, y, out_both, rows_both[0], rows_both[1], g722_coef_qmf2, pairs);
      g722_qmf_rx_part1(x, y, out_parts, rows_parts[0], g722_coef_qmf2, pairs);
      g722_qmf_rx_part2(x, y, out_parts, rows_parts[1], g722_coef_qmf2 + 12, pairs);
      for (int i = 0; i < 2 * pairs; ++i) ASSERT_EQ(out_both[i], out_parts[i]) << round << " sample " << i;
      for (int r = 0; r < 2; ++r) {
        for (int k = 1; k < 13; ++k) ASSERT_EQ(rows_both[r][k], rows_parts[r][k]) << round << " row " << r;
      }
    }

    // Lag counts in whole groups of eight, with a partial group, and below one group.
    for (const Word16 count : {Word16{35}, Word16{31}, Word16{16}, Word16{5}}) {
      Word32 fast[40], model[40];
      g722_Vec_L_mac_ps0_30_loop(x + 60, y + 60, fast, count);
      g722_model_Vec_L_mac_ps0_30_loop(x + 60, y + 60, model, count);
      for (int j = 0; j < count; ++j) ASSERT_EQ(fast[j], model[j]) << round << " lag " << j << " of " << count;
    }

    // Predictors from small to large coefficient sums, the larger ones saturating the chain.
    std::int16_t a[9];
    for (auto &v : a) v = draw(rng, magnitudes[(round / 16) % 4] / 4 + 1);
    a[0] = 4096;
    std::int16_t yf[180], ym[180];
    g722_azfilterQ0_Q1(a, x + 8, yf, 160);
    g722_model_azfilterQ0_Q1(a, x + 8, ym, 160);
    for (int i = 0; i < 160; ++i) ASSERT_EQ(yf[i], ym[i]) << round << " sample " << i;
    g722_azfilterQ0_Q1(a, x + 8, yf, 20);  // a block of eight and a scalar tail
    g722_model_azfilterQ0_Q1(a, x + 8, ym, 20);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(yf[i], ym[i]) << round << " sample " << i;
    for (int variant = 0; variant < 2; ++variant) {
      for (int i = 0; i < 8; ++i) yf[i] = ym[i] = y[i];
      if (variant == 0) {
        g722_apfilterQ1_Q0(a, x, yf + 8, 160);
        g722_model_apfilterQ1_Q0(a, x, ym + 8, 160);
      } else {
        g722_apfilterQ1_Q0_2(a, x, yf + 8, 160);
        g722_model_apfilterQ1_Q0_2(a, x, ym + 8, 160);
      }
      for (int i = 0; i < 168; ++i) ASSERT_EQ(yf[i], ym[i]) << round << " variant " << variant << " sample " << i;
    }
  }
}

TEST(G722Kernels, VectorZeroPredictorEqualsTheScalarUpdate) {
  // Random states and differences from small to full scale: at full scale the products reach
  // -32768 * -32768 and the six-term sum saturates on the way.
  std::mt19937 rng(6);
  const int magnitudes[] = {64, 2000, 20000, 32768};
  for (int round = 0; round < 200; ++round) {
    const int md = magnitudes[round % 4], mb = magnitudes[(round / 4) % 4];
    std::int16_t dlt[9], b[9];
    for (auto &v : dlt) v = draw(rng, md);
    for (auto &v : b) v = draw(rng, mb);
    if (round % 8 == 7) {
      for (auto &v : dlt) v = -32768;
      for (auto &v : b) v = -32768;
    }
    g722::ZeroVec z = g722::zero_vec_load(dlt, b);
    for (int step = 0; step < 300; ++step) {
      const std::int16_t d0 = step % 11 == 0 ? 0 : draw(rng, md);
      dlt[0] = d0;
      const std::int16_t expected = g722::upzero_step(dlt, b);
      ASSERT_EQ(g722::zero_vec_step(z, d0), expected) << round << " step " << step;
    }
    std::int16_t vd[9] = {}, vb[9] = {};
    g722::zero_vec_store(z, vd, vb);
    for (int i = 1; i <= 8; ++i) {
      ASSERT_EQ(vd[i], dlt[i]) << round << " delay " << i;
      ASSERT_EQ(vb[i], b[i]) << round << " coefficient " << i;
    }
  }
}

}  // namespace
