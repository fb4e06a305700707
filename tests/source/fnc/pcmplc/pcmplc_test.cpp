// PCM concealment: the 64-bit accumulator against 128-bit arithmetic, the coarse pitch on voiced
// signals, continuity across a loss, noise level, the loss schedule, and the segmental SNR against
// frame repetition on real speech.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orvox_fixture.h"
#include "conceal.h"
#include "pcmplc.h"
#include "plc_bv32.h"
#include "plc_common.h"

namespace {

// A voiced signal: a pulse train of period `period` (fractional allowed) through two resonances.
std::vector<int16_t> voiced(int n, double period, double amp = 6000, int rate = 8000) {
  std::vector<int16_t> x(n);
  double y1 = 0, y2 = 0, z1 = 0, z2 = 0, next = 0;
  const double k = 8000.0 / rate;
  const double r1 = std::pow(0.95, k), r2 = std::pow(0.9, k);
  const double w1 = 2 * M_PI * 500 / rate, w2 = 2 * M_PI * 1500 / rate;
  for (int i = 0; i < n; ++i) {
    double e = 0;
    if (i >= next) {
      e = 1;
      next += period;
    }
    const double a = e + 2 * r1 * std::cos(w1) * y1 - r1 * r1 * y2;
    y2 = y1;
    y1 = a;
    const double b = a + 2 * r2 * std::cos(w2) * z1 - r2 * r2 * z2;
    z2 = z1;
    z1 = b;
    x[i] = static_cast<int16_t>(std::clamp(b * amp / 20, -32768.0, 32767.0));
  }
  return x;
}

std::vector<int16_t> loadSpeech(const char* name) { return orvox_fixture::loadPcm16(std::string("speech/") + name); }

template <class S>
struct Plc;

template <>
struct Plc<NB_PLC_State> {
  static constexpr int kFrame = NB_PLC_FRAME;
  static void reset(NB_PLC_State* s) { Reset_NB_PLC(s); }
  static void good(NB_PLC_State* s, int16_t* f) { NB_PLC(s, f, f); }
  static void lost(NB_PLC_State* s, int16_t* f) { NB_PLC_erasure(s, f); }
};
template <>
struct Plc<WB_PLC_State> {
  static constexpr int kFrame = WB_PLC_FRAME;
  static void reset(WB_PLC_State* s) { Reset_WB_PLC(s); }
  static void good(WB_PLC_State* s, int16_t* f) { WB_PLC(s, f, f); }
  static void lost(WB_PLC_State* s, int16_t* f) { WB_PLC_erasure(s, f); }
};

// Runs a stream through the concealment with the given frames lost.
template <class S>
std::vector<int16_t> conceal(const std::vector<int16_t>& in, const std::vector<bool>& lost, S* s = nullptr) {
  using P = Plc<S>;
  std::unique_ptr<S> own;
  if (s == nullptr) {
    own = std::make_unique<S>();
    s = own.get();
    P::reset(s);
  }
  std::vector<int16_t> out(in.size());
  for (size_t f = 0; f * P::kFrame + P::kFrame <= in.size(); ++f) {
    int16_t frame[P::kFrame];
    std::copy_n(&in[f * P::kFrame], P::kFrame, frame);
    if (lost[f]) {
      P::lost(s, frame);
    } else {
      P::good(s, frame);
    }
    std::copy_n(frame, P::kFrame, &out[f * P::kFrame]);
  }
  return out;
}

std::vector<int16_t> frameRepeat(const std::vector<int16_t>& in, const std::vector<bool>& lost, int frame) {
  std::vector<int16_t> history(frame, 0);
  HSZCONCEAL st;
  hsfInitConceal(&st);
  hsfCfgConceal(&st, history.data(), static_cast<int16_t>(frame));
  std::vector<int16_t> out(in);
  for (size_t f = 0; (f + 1) * frame <= in.size(); ++f) hsfConceal(&st, &out[f * frame], lost[f] ? 1 : 0, nullptr);
  return out;
}

// Segmental SNR over 20 ms segments of the whole signal (segments below -50 dB of full scale
// skipped), each segment's SNR limited to -10 .. 35 dB.
double segSnr(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, int seg) {
  double total = 0;
  int count = 0;
  for (size_t s = 0; s + seg <= ref.size(); s += seg) {
    double e = 0, d = 0;
    for (int i = 0; i < seg; ++i) {
      e += double(ref[s + i]) * ref[s + i];
      d += (double(ref[s + i]) - out[s + i]) * (double(ref[s + i]) - out[s + i]);
    }
    if (e / seg < 1073741824.0 * 1e-5) continue;
    total += std::clamp(10 * std::log10(e / std::max(d, 1.0)), -10.0, 35.0);
    ++count;
  }
  return count ? total / count : 0;
}

std::vector<bool> randomLoss(size_t frames, double rate, unsigned seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution d(rate);
  std::vector<bool> lost(frames);
  for (size_t i = 20; i < frames; ++i) lost[i] = d(rng);  // the first 100 ms arrive
  return lost;
}

}  // namespace

TEST(PlcAccumulator, AgreesWith128BitArithmetic) {
  std::mt19937_64 rng(1);
  for (int t = 0; t < 20000; ++t) {
    const int32_t a = static_cast<int32_t>(rng()), b = static_cast<int32_t>(rng());
    const int16_t c = static_cast<int16_t>(rng()), d = static_cast<int16_t>(rng());
    PlcAcc64 acc{};
    imult32(&acc, a, b);
    __int128 ref = (__int128)a * b;
    imac64_32(&acc, b, a);
    ref += (__int128)a * b;
    imsu64_16(&acc, c, d);
    ref -= c * d;
    imac64_16(&acc, d, d);
    ref += d * d;
    imsu64_32(&acc, a, a);
    ref -= (__int128)a * a;
    const int64_t want = static_cast<int64_t>(ref);  // 64-bit wrap, as the accumulator
    ASSERT_EQ(mfhi64(&acc), static_cast<int32_t>(static_cast<uint64_t>(want) >> 32));
    ASSERT_EQ(mflo64(&acc), static_cast<uint32_t>(want));
    Overflow = 0;
    const int32_t sat = sat64(&acc);
    const int64_t clamp = std::clamp<int64_t>(want, INT32_MIN, INT32_MAX);
    ASSERT_EQ(sat, clamp);
    ASSERT_EQ(Overflow != 0, clamp != want);
  }
  PlcAcc64 q{};
  idiv32(&q, -7, 2);
  EXPECT_EQ(static_cast<int32_t>(mflo64(&q)), -3);
  EXPECT_EQ(mfhi64(&q), -1);
  idiv32(&q, 123, -1);
  EXPECT_EQ(static_cast<int32_t>(mflo64(&q)), -123);
  for (int t = 0; t < 2000; ++t) {
    const int32_t b = static_cast<int32_t>(rng() % 0x7FFFFFF0) + 1;
    const int32_t a = static_cast<int32_t>(rng() % static_cast<uint64_t>(b));
    const double want = double(a) / b * 2147483648.0;
    EXPECT_NEAR(fdiv32(a, b), want, 8.0 + want * 1e-6) << a << "/" << b;
  }
}

TEST(PlcPitch, CoarsePitchOfVoicedSignalsIsWithinTwoSamplesAndNeverAMultiple) {
  int worst = 0;
  for (int period = 20; period <= 137; period += 3) {
    auto s = std::make_unique<NB_PLC_State>();
    Reset_NB_PLC(s.get());
    const auto x = voiced(8000, period + 0.3);
    std::vector<bool> none(x.size() / 40, false);
    conceal(x, none, s.get());
    const int err = std::abs(s->cpplast - period);
    worst = std::max(worst, err);
    EXPECT_LE(err, 2) << "period " << period << " coarse " << s->cpplast;
    // The refined pitch is made when a loss needs it; the first lost frame keeps it.
    int16_t f[NB_PLC_FRAME];
    NB_PLC_erasure(s.get(), f);
    EXPECT_LE(std::abs(s->pp - period), 2) << "period " << period << " refined " << s->pp;
  }
  std::printf("coarse pitch, periods 20..137: worst error %d samples\n", worst);
  ::testing::Test::RecordProperty("coarse_pitch_worst_error", worst);
  // Wideband: the same voices at 16 kHz, periods 40..265.
  int worstWide = 0;
  for (int period = 40; period <= 264; period += 7) {
    auto s = std::make_unique<WB_PLC_State>();
    Reset_WB_PLC(s.get());
    const auto x = voiced(16000, period + 0.6, 6000, 16000);
    std::vector<bool> none(x.size() / 80, false);
    conceal(x, none, s.get());
    int16_t f[WB_PLC_FRAME];
    WB_PLC_erasure(s.get(), f);
    worstWide = std::max(worstWide, std::abs(s->pp - period));
    EXPECT_LE(std::abs(s->cpplast - period), 4) << "period " << period << " coarse " << s->cpplast;
    EXPECT_LE(std::abs(s->pp - period), 2) << "period " << period << " refined " << s->pp;
  }
  std::printf("wideband pitch, periods 40..264: worst refined error %d samples\n", worstWide);
  // A decimated signal alternating in sign correlates positively at even lags and negatively at
  // odd ones: each positive lag beats its negative neighbours whatever their size, so the even
  // lags are the candidates and the shortest whose multiples all qualify wins (6 decimated
  // samples, 24 at 8 kHz) rather than the fallback.
  int16_t alternating[PLC_XWD + PLC_XWD_FRAME];
  for (int i = 0; i < PLC_XWD + PLC_XWD_FRAME; ++i) alternating[i] = static_cast<int16_t>(i % 2 ? 1000 : -1000);
  EXPECT_EQ(bvc16_coarsepitch(alternating, 50), 24);
}

// A good frame's pitch refinement waits for a loss. A loss after frame k must find what refining
// each frame as it ended would have given: frame k's pitch and outputs, and the four before it in
// the pitch history, each from its own frame's samples and coarse pitch.
template <class S>
void deferredRefinementMatchesImmediate(const std::vector<int16_t>& x) {
  using P = Plc<S>;
  constexpr int F = P::kFrame;
  constexpr int H = sizeof(S{}.xq) / sizeof(int16_t);
  auto s = std::make_unique<S>();
  P::reset(s.get());
  std::vector<int16_t> pp;  // pp[k]: frame k's pitch refined as it ended
  int compared = 0;
  for (size_t k = 0; (k + 1) * F <= x.size(); ++k) {
    int16_t frame[F];
    std::copy_n(&x[k * F], F, frame);
    P::good(s.get(), frame);
    // The frame's buffer: the history before it and the frame (no loss, so both are the input).
    std::vector<int16_t> buffer(H + F, 0);
    for (int i = 0; i < H + F; ++i) {
      const long at = static_cast<long>((k + 1) * F) - (H + F) + i;
      buffer[static_cast<size_t>(i)] = at < 0 ? 0 : x[static_cast<size_t>(at)];
    }
    PlcPitch now{};
    pp.push_back(F == NB_PLC_FRAME ? bvcprfn(&now, buffer.data(), s->cpplast) : bvc32prfn(&now, buffer.data(), s->cpplast));
    if (k % 3 != 0) continue;  // a loss after every third frame, on a copy
    auto lossy = std::make_unique<S>(*s);
    int16_t out[F];
    P::lost(lossy.get(), out);
    EXPECT_EQ(lossy->ptfe, now.ptfe) << "frame " << k;
    EXPECT_EQ(lossy->cormax, now.cormax) << "frame " << k;
    EXPECT_EQ(lossy->energymax32, now.energymax32) << "frame " << k;
    EXPECT_EQ(lossy->ppt, now.ppt) << "frame " << k;
    EXPECT_EQ(lossy->wsz, now.wsz) << "frame " << k;
    EXPECT_EQ(lossy->scaled_flag, now.scaled_flag) << "frame " << k;
    for (size_t j = 0; j <= 4 && j <= k; ++j, ++compared) {
      ASSERT_EQ(lossy->pph[1 + j], pp[k - j]) << "frame " << k << ", " << j << " back";
    }
  }
  EXPECT_GT(compared, 300);
}

TEST(PlcPitch, DeferredRefinementEqualsTheImmediateOne) {
  const auto nb = loadSpeech("speech_8k.raw");
  const auto wb = loadSpeech("speech_16k.raw");
  ASSERT_GT(nb.size(), 16000u);
  ASSERT_GT(wb.size(), 32000u);
  deferredRefinementMatchesImmediate<NB_PLC_State>(std::vector<int16_t>(nb.begin(), nb.begin() + 16000));
  deferredRefinementMatchesImmediate<WB_PLC_State>(std::vector<int16_t>(wb.begin(), wb.begin() + 32000));
}

TEST(PlcContinuity, ALostVoicedFrameContinuesAtItsPeriodWithoutSteps) {
  for (int period : {31, 57, 100}) {
    const auto x = voiced(8000, period);
    std::vector<bool> lost(x.size() / 40, false);
    lost[100] = true;
    const auto y = conceal<NB_PLC_State>(x, lost);
    // The concealed frame follows the true signal closely, and neither edge of it jumps.
    double e = 0, d = 0;
    for (int i = 4000; i < 4040; ++i) {
      e += double(x[i]) * x[i];
      d += double(x[i] - y[i]) * (x[i] - y[i]);
    }
    const double snr = 10 * std::log10(e / std::max(d, 1.0));
    int maxStep = 0;
    for (int i = 3000; i < 3960; ++i) maxStep = std::max(maxStep, std::abs(x[i + 1] - x[i]));
    EXPECT_GT(snr, 8.0) << "period " << period;
    EXPECT_LE(std::abs(y[4000] - y[3999]), maxStep * 1.2) << "period " << period;
    EXPECT_LE(std::abs(y[4040] - y[4039]), maxStep * 1.2) << "period " << period;
    std::printf("voiced period %d: one lost frame concealed at %.1f dB SNR\n", period, snr);
  }
}

TEST(PlcContinuity, ALostWidebandVoicedFrameContinuesAtItsPeriod) {
  for (int period : {62, 114, 200}) {
    const auto x = voiced(16000, period + 0.3, 6000, 16000);
    std::vector<bool> lost(x.size() / 80, false);
    lost[100] = true;
    const auto y = conceal<WB_PLC_State>(x, lost);
    double e = 0, d = 0;
    for (int i = 8000; i < 8080; ++i) {
      e += double(x[i]) * x[i];
      d += double(x[i] - y[i]) * (x[i] - y[i]);
    }
    EXPECT_GT(10 * std::log10(e / std::max(d, 1.0)), 8.0) << "period " << period;
  }
}

TEST(PlcContinuity, AZeroedWidebandStateWorksAsAResetOne) {
  const auto x = voiced(16000, 90.3, 6000, 16000);
  std::vector<bool> lost(x.size() / 80, false);
  lost[50] = lost[51] = true;
  auto zeroed = std::make_unique<WB_PLC_State>();
  std::memset(zeroed.get(), 0, sizeof(WB_PLC_State));
  EXPECT_EQ(conceal(x, lost, zeroed.get()), conceal<WB_PLC_State>(x, lost));
}

TEST(PlcNoise, NoiseIsReplacedByNoiseOfTheSameLevel) {
  std::mt19937 rng(2);
  std::normal_distribution<double> d(0, 2000);
  std::vector<int16_t> x(8000 * 2);
  for (auto& v : x) v = static_cast<int16_t>(d(rng));
  std::vector<bool> lost(x.size() / 40, false);
  for (int f = 200; f < 204; ++f) lost[f] = true;  // four frames: before the ramp starts
  auto s = std::make_unique<NB_PLC_State>();
  Reset_NB_PLC(s.get());
  const auto y = conceal(x, lost, s.get());
  double pin = 0, pout = 0;
  for (int i = 8000; i < 8160; ++i) {
    pin += double(x[i - 400]) * x[i - 400];
    pout += double(y[i]) * y[i];
  }
  const double db = 10 * std::log10(pout / pin);
  std::printf("white noise: concealed level %.1f dB against the signal's\n", db);
  EXPECT_NEAR(db, 0.0, 3.0);
  EXPECT_EQ(s->scaler, 32767);  // pure noise

  std::vector<int16_t> w(16000 * 2);
  for (auto& v : w) v = static_cast<int16_t>(d(rng));
  std::vector<bool> lostWide(w.size() / 80, false);
  for (int f = 200; f < 204; ++f) lostWide[f] = true;
  auto ws = std::make_unique<WB_PLC_State>();
  Reset_WB_PLC(ws.get());
  const auto wy = conceal(w, lostWide, ws.get());
  double win = 0, wout = 0;
  for (int i = 16000; i < 16320; ++i) {
    win += double(w[i - 800]) * w[i - 800];
    wout += double(wy[i]) * wy[i];
  }
  const double wdb = 10 * std::log10(wout / win);
  std::printf("white noise, wideband: concealed level %.1f dB against the signal's\n", wdb);
  EXPECT_NEAR(wdb, 0.0, 3.0);
}

TEST(PlcSchedule, RampsFromTheFifthLossAndMutesFromTheThirteenth) {
  const auto x = voiced(8000, 50);
  std::vector<bool> lost(x.size() / 40, false);
  for (int f = 100; f < 116; ++f) lost[f] = true;
  auto s = std::make_unique<NB_PLC_State>();
  Reset_NB_PLC(s.get());
  const auto y = conceal(x, lost, s.get());
  for (int i = 112 * 40; i < 116 * 40; ++i) ASSERT_EQ(y[i], 0) << i;  // the 13th to 16th lost frames
  // Frame 12 of the loss ends close to silence.
  EXPECT_LT(std::abs(y[111 * 40 + 39]), 200);
  // The first good frame after a long loss fades in from the zero continuation.
  EXPECT_LT(std::abs(y[116 * 40]), std::abs(x[116 * 40]) / 4 + 50);
  EXPECT_EQ(s->nfle, 16);
}

TEST(PlcSchedule, TheGoodFrameAfterALossFadesInOverTwentyOrEightSamples) {
  // Voiced: the first 20 samples are blended with the continuation, the rest pass untouched.
  const auto x = voiced(8000, 50);
  std::vector<bool> lost(x.size() / 40, false);
  lost[100] = true;
  const auto y = conceal<NB_PLC_State>(x, lost);
  for (int i = 101 * 40 + 20; i < 102 * 40; ++i) EXPECT_EQ(y[i], x[i]) << i;
  int differ = 0;
  for (int i = 101 * 40; i < 101 * 40 + 20; ++i) differ += y[i] != x[i];
  EXPECT_GT(differ, 0);  // close: the extrapolation of a steady voice is good
  // Noise (the last lost frame pure noise): only 8 samples are blended.
  std::mt19937 rng(4);
  std::normal_distribution<double> d(0, 2000);
  std::vector<int16_t> n(8000);
  for (auto& v : n) v = static_cast<int16_t>(d(rng));
  auto s = std::make_unique<NB_PLC_State>();
  Reset_NB_PLC(s.get());
  const auto z = conceal(n, lost, s.get());
  ASSERT_EQ(s->scaler, 32767);
  for (int i = 101 * 40 + 8; i < 102 * 40; ++i) EXPECT_EQ(z[i], n[i]) << i;
  EXPECT_NE(z[101 * 40], n[101 * 40]);
}

TEST(PlcFilters, AllPoleUndoesAllZeroAndLevinsonRecoversAPredictor) {
  const int16_t a[8] = {-4000, 2000, -500, 300, -200, 100, -50, 20};
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> u(-3000, 3000);
  std::vector<int16_t> x(8 + 100, 0), e(100), y(100);
  for (int i = 8; i < 108; ++i) x[i] = static_cast<int16_t>(u(rng));
  bvxx_azfilter_8th_Q0_Q0(a, &x[8], e.data(), 100);
  int16_t mem[8] = {};
  bvxx_apfilter_8th_Q0_Q0(a, e.data(), y.data(), 100, mem, 1);
  for (int i = 0; i < 100; ++i) EXPECT_NEAR(y[i], x[8 + i], 6) << i;
  EXPECT_EQ(mem[7], y[99]);
  // A second-order process through Levinson: a1, a2 close to the process's.
  std::normal_distribution<double> w(0, 1000);
  std::vector<int16_t> ar(160);
  double p1 = 0, p2 = 0;
  for (auto& v : ar) {
    const double n = 1.3 * p1 - 0.7 * p2 + w(rng);
    v = static_cast<int16_t>(std::clamp(n, -32768.0, 32767.0));
    p2 = p1;
    p1 = n;
  }
  std::vector<int16_t> flat(160, 32767);
  int32_t r[9];
  bvxx_Autocorr(r, ar.data(), flat.data(), 160, 8);
  int16_t got[8], prev[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  bvxx_Levinson(r, got, prev);
  EXPECT_NEAR(got[0] / 4096.0, -1.3, 0.15);
  EXPECT_NEAR(got[1] / 4096.0, 0.7, 0.15);
  EXPECT_EQ(prev[0], got[0]);  // kept as the fallback
  // An impossible autocorrelation (|r1| >= r0) falls back to the previous set.
  int32_t bad[9] = {1000, 2000, 0, 0, 0, 0, 0, 0, 0};
  int16_t out[8];
  bvxx_Levinson(bad, out, prev);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(out[k], prev[k]);
}

TEST(PlcSchedule, PitchTrendChangesThePeriodOnceAtTheSecondLostFrame) {
  auto s = std::make_unique<NB_PLC_State>();
  Reset_NB_PLC(s.get());
  const auto x = voiced(4000, 60);
  std::vector<bool> none(x.size() / 40, false);
  conceal(x, none, s.get());
  const int16_t pph[7] = {60, 62, 64, 66, 66, 66, 66};
  std::copy_n(pph, 7, s->pph);
  s->pp = 60;
  s->pendingPitch = 0;  // this history as made, not as refinements still to be made
  int16_t f[40];
  NB_PLC_erasure(s.get(), f);
  EXPECT_EQ(s->ppinc, -64);  // d = -2 over 1: -128, limited to -64
  EXPECT_EQ(s->pp, 60);
  NB_PLC_erasure(s.get(), f);
  EXPECT_EQ(s->pp, 59);
  NB_PLC_erasure(s.get(), f);
  EXPECT_EQ(s->pp, 59);
}

TEST(PlcQuality, BeatsFrameRepetitionOnRealSpeech) {
  const auto nb = loadSpeech("speech_8k.raw");
  const auto wb = loadSpeech("speech_16k.raw");
  ASSERT_GT(nb.size(), 8000u);
  ASSERT_GT(wb.size(), 16000u);
  for (double rate : {0.05, 0.10, 0.15, 0.20}) {
    double plcNb = 0, repNb = 0, plcWb = 0, repWb = 0;
    for (unsigned seed = 1; seed <= 3; ++seed) {
      const auto lostNb = randomLoss(nb.size() / 40, rate, seed);
      plcNb += segSnr(nb, conceal<NB_PLC_State>(nb, lostNb), 160) / 3;
      repNb += segSnr(nb, frameRepeat(nb, lostNb, 40), 160) / 3;
      const auto lostWb = randomLoss(wb.size() / 80, rate, seed);
      plcWb += segSnr(wb, conceal<WB_PLC_State>(wb, lostWb), 320) / 3;
      repWb += segSnr(wb, frameRepeat(wb, lostWb, 80), 320) / 3;
    }
    std::printf("loss %2.0f %%: segmental SNR narrowband %.2f dB (frame repeat %.2f), wideband %.2f dB (frame repeat %.2f)\n",
                rate * 100, plcNb, repNb, plcWb, repWb);
    ::testing::Test::RecordProperty("segsnr_nb_" + std::to_string(int(rate * 100)), std::to_string(plcNb - repNb));
    ::testing::Test::RecordProperty("segsnr_wb_" + std::to_string(int(rate * 100)), std::to_string(plcWb - repWb));
    EXPECT_GE(plcNb, repNb) << "narrowband, loss " << rate;
    EXPECT_GE(plcWb, repWb) << "wideband, loss " << rate;
  }
}

TEST(PlcLsf, LineSpectralFrequenciesRoundTripAndStayOrdered) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> kd(-0.6, 0.6);
  for (int t = 0; t < 50; ++t) {
    // A stable eighth-order predictor from reflection coefficients.
    std::vector<double> a(9, 0);
    a[0] = 1;
    for (int i = 1; i <= 8; ++i) {
      const double k = kd(rng);
      std::vector<double> n = a;
      for (int j = 1; j < i; ++j) n[j] = a[j] + k * a[i - j];
      n[i] = k;
      a = n;
    }
    int16_t q[8];
    for (int i = 0; i < 8; ++i) q[i] = static_cast<int16_t>(std::lround(a[i + 1] * 4096));
    int16_t lsf[8], back[8];
    bvxx_Lpc_lsf(q, lsf, 8);
    for (int i = 1; i < 8; ++i) EXPECT_GT(lsf[i], lsf[i - 1]) << t;
    bvxx_Lsf_lpc(lsf, back, 8);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(back[i], q[i], 120) << "predictor " << t << " coefficient " << i;
  }
  int16_t crowded[4] = {3000, 100, 3050, 32760};
  bvxx_stblz_lsf(crowded, 4);
  EXPECT_GE(crowded[0], 49);
  for (int i = 1; i < 4; ++i) EXPECT_GE(crowded[i] - crowded[i - 1], 205);
  EXPECT_LE(crowded[3], 32718);
}
