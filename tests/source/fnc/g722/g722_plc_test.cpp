// The G.722 concealment: loss patterns on speech, fading and resets of long losses, pitch
// analysis on periodic signals, the choice between periodic extrapolation and noise, block
// handling, and re-convergence to the loss-free decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "g722.h"
#include "g722_plc_analysis.h"
#include "g722_test_signals.h"

namespace {

using g722_test::Decoder;
using g722_test::encode_all;
using g722_test::kFrame;
using g722_test::periodic;
constexpr int kCodes = kFrame / 2;

double snr_db(const std::int16_t *ref, const std::int16_t *x, int n) {
  double s = 0, e = 0;
  for (int i = 0; i < n; ++i) {
    s += double(ref[i]) * ref[i];
    e += double(ref[i] - x[i]) * (ref[i] - x[i]);
  }
  return 10 * std::log10((s + 1) / (e + 1));
}

TEST(G722Concealment, LossPatternsOnSpeechRunCleanly) {
  const auto codes = encode_all(g722_test::speech_16k(16000 * 6));
  const std::size_t frames = codes.size() / kCodes;
  std::mt19937 rng(9);
  std::vector<std::vector<bool>> patterns;
  std::vector<bool> single(frames, false), bursts(frames, false), random(frames, false);
  for (std::size_t k = 10; k < frames; k += 7) single[k] = true;
  for (std::size_t k = 10, len = 2; k + len < frames; k += len + 12, len = len % 10 + 2) {
    for (std::size_t j = 0; j < len; ++j) bursts[k + j] = true;
  }
  for (std::size_t k = 0; k < frames; ++k) random[k] = rng() % 10 == 0;
  for (const auto &lost : {single, bursts, random}) {
    Decoder d;
    std::int16_t out[kFrame];
    int good_run = 0;
    for (std::size_t k = 0; k < frames; ++k) {
      d.frame(&codes[k * kCodes], out, lost[k]);
      good_run = lost[k] ? 0 : good_run + 1;
      if (lost[k]) {
        ASSERT_EQ(d.plc.ngfae, 0);
      } else {
        ASSERT_EQ(d.plc.cfecount, 0);
      }
      if (good_run >= 9) {
        ASSERT_EQ(d.plc.ngfae, 9) << "the concealment hooks are idle from the ninth good frame";
      }
      if (good_run >= 5) {
        ASSERT_EQ(d.plc.hp_flag, 0) << "DC removal only in the first four good frames";
      }
    }
  }
}

TEST(G722Concealment, FullScaleAndArbitraryCodesWithLossesStaySafe) {
  // Full-scale square wave, noise and tones at the ends of the pitch range, then codewords of
  // any value, all with losses: meant for the sanitizer builds.
  std::vector<std::int16_t> pcm;
  std::mt19937 rng(4);
  for (int i = 0; i < 3200; ++i) pcm.push_back((i / 30) % 2 ? 32767 : -32768);
  for (int i = 0; i < 3200; ++i) pcm.push_back(static_cast<std::int16_t>(rng()));
  for (int i = 0; i < 3200; ++i) pcm.push_back(static_cast<std::int16_t>(32767 * std::sin(i * 2 * M_PI / 41.0)));
  for (int i = 0; i < 3200; ++i) pcm.push_back(static_cast<std::int16_t>(32767 * std::sin(i * 2 * M_PI / 266.0)));
  auto codes = encode_all(pcm);
  for (int i = 0; i < 100 * kCodes; ++i) codes.push_back(static_cast<std::int16_t>(rng()));
  Decoder d;
  std::int16_t out[kFrame];
  for (std::size_t k = 0; k + 1 < codes.size() / kCodes; ++k) d.frame(&codes[k * kCodes], out, rng() % 3 == 0);
  SUCCEED();
}

TEST(G722Concealment, LongLossFadesToSilenceAndResetsTheBands) {
  const auto codes = encode_all(g722_test::speech_16k(16000 * 2));
  Decoder d;
  std::int16_t out[kFrame];
  for (int k = 0; k < 40; ++k) d.frame(&codes[k * kCodes], out, false);
  for (int lost = 1; lost <= 12; ++lost) {
    d.frame(&codes[40 * kCodes], out, true);
    EXPECT_EQ(d.plc.cfecount, lost);
    if (lost >= 6) {
      EXPECT_EQ(d.dec.detl, 32) << "lower band reset from the sixth lost frame";
      EXPECT_EQ(d.dec.deth, 8) << "higher band reset from the sixth lost frame";
    }
    if (lost >= 7) {
      for (int i = 0; i < kFrame; ++i) ASSERT_EQ(out[i], 0) << "lost frame " << lost;
    }
  }
  // Decoding resumes from the reset bands.
  for (int k = 41; k < 80; ++k) d.frame(&codes[k * kCodes], out, false);
  EXPECT_EQ(d.plc.ngfae, 9);
}

TEST(G722Concealment, PitchAnalysisFindsThePeriodAcrossItsRange) {
  for (int period : {40, 45, 57, 64, 73, 100, 128, 150, 160, 200, 230, 250, 265}) {
    const auto codes = encode_all(periodic(period, 31));
    Decoder d;
    std::int16_t out[kFrame];
    for (int k = 0; k < 30; ++k) d.frame(&codes[k * kCodes], out, false);
    // The refined pitch is computed only when a loss needs it; the first lost frame keeps it.
    d.frame(&codes[30 * kCodes], out, true);
    EXPECT_NEAR(d.plc.pp, period, 1) << "period " << period;
  }
}

// The coarse search's fast comparison must answer as the mantissa model on every input: random
// figures over the whole 32-bit range, edge values, and near ties (where the two forms' roundings
// differ most), with and without the search's factors and its negated figures.
TEST(G722Concealment, PitchFigureComparisonEqualsTheMantissaModel) {
  constexpr Word16 kFactors[] = {32767, 13107, 23921, 25559, 14090, 22938, 18022, 15728, 12124, 9830};
  std::mt19937_64 rng(722);
  auto any32 = [&rng] {
    const int bits = static_cast<int>(rng() % 32);
    return static_cast<Word32>(static_cast<std::int64_t>(rng() >> (63 - bits)) * ((rng() & 1) ? 1 : -1));
  };
  auto energy = [&rng] { return std::max<Word32>(1, static_cast<Word32>(rng() >> (33 + rng() % 31))); };
  auto near = [&rng](Word32 v, int spread) {
    const std::int64_t d = static_cast<std::int64_t>(rng() % (2 * spread + 1)) - spread;
    return static_cast<Word32>(std::clamp<std::int64_t>(v + d * std::max<std::int64_t>(1, std::llabs(v) >> 16), -2147483647, 2147483647));
  };
  std::size_t cases = 0, mismatches = 0;
  auto check = [&](const g722_pitch_ratio &p, const g722_pitch_ratio &q, Word16 t) {
    ++cases;
    const bool model = g722_model_pitch_ratio_greater(p, q, t);
    if (g722_pitch_ratio_greater(p, q, t) != model && mismatches++ < 5) {
      ADD_FAILURE() << p.c << "/" << p.e << (p.negated ? " neg" : "") << " vs " << q.c << "/" << q.e
                    << (q.negated ? " neg" : "") << " t " << t << ": model " << model;
    }
  };
  for (int i = 0; i < 400000; ++i) {
    const Word16 t = kFactors[rng() % std::size(kFactors)];
    const bool neg = (rng() & 7) == 0;
    const g722_pitch_ratio p{any32(), energy(), neg};
    check(p, {any32(), energy(), neg}, t);
    // Near ties: the other figure scaled by the factor's inverse and moved by a few parts in 2^16.
    const double scale = t == 32767 ? 1.0 : std::sqrt(32768.0 / t);
    const Word32 c = static_cast<Word32>(std::clamp(p.c * scale, -2147483647.0, 2147483647.0));
    auto near_energy = [&](int spread) { return std::max<Word32>(1, near(p.e, spread)); };
    check({near(p.c, 40), near_energy(40), neg}, {near(c, 40), p.e, neg}, t);
    check({p.c, p.e, neg}, {near(c, 3), near_energy(3), neg}, t);
  }
  const Word32 edges[] = {0, 1, -1, 2, 3, 23171, -23171, 65535, -65536, 1 << 30, -(1 << 30), 2147483647,
                          -2147483647, -2147483647 - 1, -23171 * 65536, 46341, -46341};
  for (Word32 cp : edges) {
    for (Word32 cq : edges) {
      for (Word32 e : {1, 2, 3, 65536, 2147483647}) {
        for (Word16 t : kFactors) {
          for (bool neg : {false, true}) {
            check({cp, e, neg}, {cq, e, neg}, t);
            check({cp, 1, neg}, {cq, e, neg}, t);
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << "of " << cases;
}

TEST(G722Concealment, DeferredPitchRefinementSeesEachFrameAsItEnded) {
  // A loss refines the pitch of up to five earlier good frames from the kept history. Frame j's
  // pitch, refined by a loss right after it (distance 0), must equal the same frame's pitch
  // refined by a loss one to four frames later: the history views line up with each frame's end.
  const auto codes = encode_all(g722_test::speech_16k(16000 * 2));
  const int frames = static_cast<int>(codes.size() / kCodes) - 1;
  Decoder d;
  std::int16_t out[kFrame];
  std::vector<std::int16_t> refined;  // refined[j]: frame j's pitch, from a loss right after it
  int compared = 0;
  for (int k = 0; k < frames; ++k) {
    d.frame(&codes[k * kCodes], out, false);
    Decoder lossy = d;
    lossy.frame(&codes[(k + 1) * kCodes], out, true);
    // After the lost frame pph[0] is its own pitch and pph[1 + j] the pitch of frame k - j.
    refined.push_back(lossy.plc.pph[1]);
    for (int j = 1; j <= 3 && j <= k; ++j, ++compared) {
      ASSERT_EQ(lossy.plc.pph[1 + j], refined[static_cast<std::size_t>(k - j)]) << "frame " << k << " back " << j;
    }
  }
  EXPECT_GT(compared, 100);
}

TEST(G722Concealment, PeriodicHistoryIsContinuedPeriodically) {
  const int period = 100;
  const auto pcm = periodic(period, 30);
  const auto codes = encode_all(pcm);
  Decoder clean, lossy;
  std::int16_t ref[kFrame], out[kFrame];
  for (int k = 0; k < 20; ++k) {
    clean.frame(&codes[k * kCodes], ref, false);
    lossy.frame(&codes[k * kCodes], out, false);
  }
  clean.frame(&codes[20 * kCodes], ref, false);
  lossy.frame(&codes[20 * kCodes], out, true);
  EXPECT_GT(lossy.plc.merit, 7168);
  EXPECT_EQ(lossy.plc.scaler, 0) << "no noise in a periodic extrapolation";
  // The first 20 samples blend in the filter ringing (scaled by the pitch tap) and come back one
  // period later; in between the frame is the waveform's periodic continuation.
  EXPECT_GT(snr_db(ref + 20, out + 20, period - 20), 30.0) << "the lost frame continues the waveform";
  clean.frame(&codes[21 * kCodes], ref, false);
  lossy.frame(&codes[21 * kCodes], out, false);
  EXPECT_EQ(lossy.plc.ngfae, 1);
}

TEST(G722Concealment, SilentHistoryGivesNoiseOnlyConcealment) {
  // A loss before anything was received: the history is all zeros.
  Decoder d;
  std::int16_t codes[kCodes] = {}, out[kFrame];
  d.frame(codes, out, true);
  EXPECT_EQ(d.plc.ptfe, 0);
  EXPECT_LE(d.plc.merit, 5120);
  EXPECT_EQ(d.plc.scaler, 32767);
  for (int v : out) EXPECT_EQ(v, 0) << "noise at the level of a silent residual";
  d.frame(codes, out, false);
  EXPECT_EQ(d.plc.lag, 0);
  EXPECT_EQ(d.plc.ngfae, 1);
}

TEST(G722Concealment, OneCallConcealsTwoFrames) {
  const auto codes = encode_all(g722_test::speech_16k(16000));
  Decoder d;
  std::int16_t out[2 * kFrame];
  for (int k = 0; k < 20; ++k) d.frame(&codes[k * kCodes], out, false);
  EXPECT_EQ(g722_dec(&codes[0], out, G722_MODE_1, 2 * kCodes, &d.dec, &d.plc, 1), 2 * kFrame);
  EXPECT_EQ(d.plc.cfecount, 2);
}

TEST(G722Concealment, DecoderReconvergesToTheLossFreeOutput) {
  // After a loss the concealment hooks are idle from the ninth good frame on (ngfae 9, plain
  // pole bound, no DC removal, no scale-factor ramp); what remains is the mismatch of the
  // adaptive predictors, which their leakage (255/256 per sample) wears off within a few more
  // frames. Measured bound: 25 dB against the loss-free decoder from the 17th good frame.
  const auto codes = encode_all(g722_test::speech_16k(16000 * 10));
  const std::size_t frames = codes.size() / kCodes;
  for (int burst = 1; burst <= 10; ++burst) {
    Decoder clean, lossy;
    std::vector<std::int16_t> ref(frames * kFrame), out(frames * kFrame);
    double sig = 0, err = 0;
    int since = 1000;
    for (std::size_t k = 0; k < frames; ++k) {
      const bool lost = k % 40 >= 10 && k % 40 < 10u + burst;
      clean.frame(&codes[k * kCodes], &ref[k * kFrame], false);
      lossy.frame(&codes[k * kCodes], &out[k * kFrame], lost);
      since = lost ? 0 : since + 1;
      if (since >= 17 && since <= 20) {
        for (int i = 0; i < kFrame; ++i) {
          sig += double(ref[k * kFrame + i]) * ref[k * kFrame + i];
          err += double(ref[k * kFrame + i] - out[k * kFrame + i]) * (ref[k * kFrame + i] - out[k * kFrame + i]);
        }
      }
    }
    EXPECT_GT(10 * std::log10(sig / (err + 1)), 25.0) << "burst " << burst;
  }
}

TEST(G722Concealment, TimeWarpingKeepsItsOutputLength) {
  Word16 frame[kFrame];
  for (int i = 0; i < kFrame; ++i) frame[i] = static_cast<Word16>(1000 * std::sin(i * 0.3));
  Word16 out[kFrame + 8];
  g722_resample(frame + 16, out, 0);
  for (int i = 0; i < 144; ++i) EXPECT_EQ(out[i], frame[16 + i]);
  for (int delta = -30; delta <= 30; ++delta) {
    const int n = std::min(delta + 144, 160);
    for (auto &v : out) v = 0x7777;
    g722_resample(frame + 16, out, static_cast<Word16>(delta));
    for (int i = 0; i < n; ++i) EXPECT_NE(out[i], 0x7777) << "delta " << delta << " sample " << i;
    for (int i = n; i < kFrame + 8; ++i) EXPECT_EQ(out[i], 0x7777) << "delta " << delta << " wrote past " << n;
  }
}

TEST(G722Concealment, UnstablePredictorKeepsThePreviousOne) {
  Word16 old_a[9] = {4096, -3000, 1000, 0, 0, 0, 0, 0, 0};
  Word16 a[9] = {};
  const Word32 r[9] = {0x40000000, 0x40000000, 0, 0, 0, 0, 0, 0, 0};  // reflection of -1
  g722_Levinson(r, a, old_a);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(a[i], old_a[i]);
  EXPECT_EQ(old_a[1], -3000);
}

}  // namespace
