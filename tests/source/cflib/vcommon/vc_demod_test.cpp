// Carrier recovery, gear shifting, equaliser updates, gain finding, training jams and the tone
// detector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "vc_code.h"
#include "vc_demod.h"
#include "vc_dot_avx2.h"

namespace {

double phaseDeg(VCZCOMPLEX soft, VCZCOMPLEX ref) {
  return std::remainder(std::atan2(soft.imag, soft.real) - std::atan2(ref.imag, ref.real), 2 * M_PI) * 180 / M_PI;
}

TEST(VcCarrier, ZeroErrorLeavesTheFrequencyTermAndCoasts) {
  VCZCRPAR car{};
  car.pll1 = 300;
  car.pll2 = 800;
  car.f = 320;
  car.phasedecr = -16384;
  const VCZCOMPLEX p{8192, 8192};
  vcfCarrierRec(&p, &p, &car);
  EXPECT_EQ(car.f, 320);
  EXPECT_EQ(car.pher, 10);  // about f / 32
  EXPECT_EQ(car.qamRxPhase, int16_t(16384 + 10));
}

TEST(VcCarrier, PhaseErrorIsLimitedWhateverTheAngle) {
  const VCZCOMPLEX ref{8192, 0};
  int16_t last = 0;
  for (int deg : {10, 45, 90, 170}) {
    VCZCRPAR car{};
    car.pll1 = 32767;
    const VCZCOMPLEX soft{int16_t(8192 * std::cos(deg * M_PI / 180)), int16_t(-8192 * std::sin(deg * M_PI / 180))};
    vcfCarrierRec(&soft, &ref, &car);
    EXPECT_GT(car.pher, 0);
    EXPECT_LE(car.pher, (2048 * 32767 + 16384 + 512) >> 15);
    if (deg >= 45) {
      EXPECT_EQ(car.pher, last) << "limited";
    }
    last = car.pher;
  }
}

// Decision-directed lock of a QPSK stream whose carrier is off by df Hz at 2400 baud.
double residualAfterLock(double df, int symbols) {
  VCZCRPAR car{};
  car.pll1 = 300;
  car.pll2 = 800;
  std::mt19937 rng(5);
  double worst = 0;
  for (int n = 0; n < symbols; ++n) {
    const VCZCOMPLEX d = vctsRxgmapconst4LUT[rng() & 3];
    const double rx = 2 * M_PI * df * n / 2400 + 0.35;  // offset plus a 20 degree start error
    const double ph = rx + 2 * M_PI * uint16_t(car.qamRxPhase) / 65536.0;
    VCZRXMEM r{};
    r.bbeqout = VCZCOMPLEX{int16_t(std::lround(d.real * std::cos(ph) - d.imag * std::sin(ph))),
                           int16_t(std::lround(d.real * std::sin(ph) + d.imag * std::cos(ph)))};
    vcfRxdec4pv3x(&r, nullptr);
    if (n > symbols - 500) worst = std::max(worst, std::abs(phaseDeg(r.bbeqout, d)));
    vcfCarrierRec(&r.bbeqout, &r.dpout1, &car);
  }
  return worst;
}

TEST(VcCarrier, LoopLocksAPlusMinusTwoHertzOffset) {
  for (double df : {-2.0, -0.5, 0.0, 0.5, 2.0}) EXPECT_LT(residualAfterLock(df, 4000), 1.0) << df << " Hz";
}

struct Eq2T3 {
  VCZDEMOD2T3 d{};
  int16_t mixer[2 * 40]{};
  int16_t t3[2 * 35]{};
  int32_t coeff[2 * 18]{};
  VCZRXMEM r{};
  int16_t in[8]{};
  VCZBUF buf{in, in, in + 3};
  explicit Eq2T3(const VCZGS* table) {
    d.eq.fltMemp = mixer;
    d.eq.eqT3Memp = t3;
    d.eq.eqp = coeff;
    const VCZ2T3INIT init{3, 16, -15474, 17, vcT3LPF, table};
    vcfDemodInit2T3(&d, &init);
    r.u.t2 = &d;
  }
};

// The 2T/3 decimators' wide forms (V.27ter: six samples a symbol and a carrier turning by
// multiples of 4096; V.29: three) give the plain forms' bits symbol after symbol: mixer and T/3
// lines, phase, and the carrier detector's level of the newest three T/3 samples, which is that of
// the line's end in both (full-scale input: magnitudes of -32768, sums that saturate).
// Then the whole symbol, lines, equaliser output and tap update, from full-range taps, through
// gear rows that shift the update both ways (and one too coarse to update), and for V.27ter the
// same symbols through the forms a page-data run chooses once.
TEST(VcEqualiser, DecimatorsGiveThePlainFormsBitsAndTheCarrierLevel) {
  static const VCZGS gears[] = {
      {60, -9, 300, 800, 0}, {60, 3, 300, 800, 0}, {30, 40, 300, 800, 0}, {-1, -20, 300, 800, 0}};
  struct Lines {
    VCZDEMOD2T3 d{};
    VCZEQPARM2T3& eq = d.eq;
    VCZRXMEM r{};
    int16_t mixer[2 * 23]{}, t3[2 * 35]{};
    int32_t coeff[2 * 18]{};
    Lines(int16_t m, int16_t phaseDelta, int16_t eqlength) {
      eq.fltMemp = mixer;
      eq.eqT3Memp = t3;
      eq.eqp = coeff;
      const VCZ2T3INIT init{m, 16, phaseDelta, eqlength, vcT3LPF, gears};
      vcfDemodInit2T3(&d, &init);
      r.u.t2 = &d;
      std::mt19937 taps(7);
      for (auto& c : coeff) c = int32_t(taps());
    }
    // one symbol through the demodulator and the update, with the AVX2 forms or without
    void symbol(int16_t* in, VCZCOMPLEX reference, bool wide) {
      VCZBUF buf{in, in, in + eq.m};
      vcAllowAvx2(wide);
      vcfDemod2T3(&r, &buf);
      r.dpout1 = reference;
      vcfRxupd2T3(&r, &buf);
      vcAllowAvx2(true);
    }
#if defined(VC_HAVE_AVX2_KERNELS)
    void symbolInRun(int16_t* in, VCZCOMPLEX reference) {
      const VcCarrierTurn turn = vcfDemod2T3Six(&r, in);
      r.dpout1 = reference;
      vcfRxupd2T3Twelve(&r, turn);
    }
#endif
  };
  struct Case {
    int16_t m, phaseDelta, eqlength;
  };
  // V.27ter 4800 and 2400, a carrier off the multiples of 4096, V.29
  const Case cases[] = {{6, -12288, 11}, {6, -16384, 11}, {6, -12000, 11}, {3, -15474, 17}};
  std::mt19937 rng(4);
  for (const Case& c : cases) {
    Lines wide(c.m, c.phaseDelta, c.eqlength), plain(c.m, c.phaseDelta, c.eqlength), run(c.m, c.phaseDelta, c.eqlength);
    const int half = 2 * c.eqlength + 1;
#if defined(VC_HAVE_AVX2_KERNELS)
    const bool inRun = vcfDemod2T3SixWide(&run.r);
    EXPECT_EQ(inRun, vcHaveAvx2() && c.m == 6 && c.phaseDelta % 4096 == 0) << c.phaseDelta;
#endif
    for (int s = 0; s < 400; ++s) {
      int16_t in[6];
      for (auto& v : in) v = s % 50 < 10 ? int16_t(-32768 + int(rng() % 3)) : int16_t(int16_t(rng()) >> (s % 3 * 5));
      const VCZCOMPLEX reference{int16_t(rng()), int16_t(rng())};
      plain.symbol(in, reference, false);
      wide.symbol(in, reference, true);
      ASSERT_EQ(wide.r.pbeqout.real, plain.r.pbeqout.real) << c.m << " symbol " << s;
      ASSERT_EQ(wide.r.pbeqout.imag, plain.r.pbeqout.imag) << c.m << " symbol " << s;
      ASSERT_TRUE(std::equal(wide.coeff, wide.coeff + 2 * (c.eqlength + 1), plain.coeff)) << c.m << " symbol " << s;
      ASSERT_EQ(wide.d.car.qamRxPhase, plain.d.car.qamRxPhase) << c.m << " symbol " << s;
      ASSERT_EQ(std::vector<int16_t>(wide.mixer, wide.mixer + 2 * (16 + c.m + 1)),
                std::vector<int16_t>(plain.mixer, plain.mixer + 2 * (16 + c.m + 1))) << c.m << " symbol " << s;
      ASSERT_EQ(std::vector<int16_t>(wide.t3, wide.t3 + 2 * half), std::vector<int16_t>(plain.t3, plain.t3 + 2 * half))
          << c.m << " symbol " << s;
      ASSERT_EQ(wide.eq.phase, plain.eq.phase) << c.m << " symbol " << s;
      ASSERT_EQ(plain.eq.newestHalfMag, vcfHalfMagnitudes3Plain(plain.t3, plain.t3 + half, half)) << s;
      ASSERT_EQ(wide.eq.newestHalfMag, plain.eq.newestHalfMag) << c.m << " symbol " << s;
      ASSERT_EQ(wide.d.aveError, plain.d.aveError) << c.m << " symbol " << s;
#if defined(VC_HAVE_AVX2_KERNELS)
      if (!inRun) continue;
      run.symbolInRun(in, reference);
      ASSERT_EQ(run.r.bbeqout.real, plain.r.bbeqout.real) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.r.bbeqout.imag, plain.r.bbeqout.imag) << c.phaseDelta << " symbol " << s;
      ASSERT_TRUE(std::equal(run.coeff, run.coeff + 24, plain.coeff)) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.d.car.qamRxPhase, plain.d.car.qamRxPhase) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.d.car.f, plain.d.car.f) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.d.aveError, plain.d.aveError) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.d.currgshftidx, plain.d.currgshftidx) << c.phaseDelta << " symbol " << s;
      ASSERT_EQ(run.eq.newestHalfMag, plain.eq.newestHalfMag) << c.phaseDelta << " symbol " << s;
#endif
    }
  }
  // V.29's mixer reads its cosines and sines apart from the plain form's table look-ups: a symbol
  // from every phase, at -32768 on the line (the mixer then gives minus the cosine and the sine
  // themselves), meets each phase in each of the symbol's three places.
  Lines wide(3, -15474, 17), plain(3, -15474, 17);
  const int16_t full[3] = {-32768, -32768, -32768};
  for (int p = 0; p < 65536; ++p) {
    wide.eq.phase = plain.eq.phase = static_cast<uint16_t>(p);
    vcAllowAvx2(false);
    vcfdecimat2T3(&plain.eq, full);
    vcAllowAvx2(true);
    vcfdecimat2T3(&wide.eq, full);
    ASSERT_TRUE(std::equal(wide.mixer, wide.mixer + 2 * 20, plain.mixer)) << "phase " << p;
  }
}

TEST(VcGearShift, RowsLastCountPlusOneSymbolsAndTheLastRowStays) {
  const VCZGS table[] = {{100, 1, 10, 20, 0}, {5, 2, 30, 40, 0}, {-1, 3, 50, 60, 0}};
  Eq2T3 e(table);
  int switchedAt = -1, lastAt = -1;
  for (int s = 0; s < 200; ++s) {
    vcfRxupd2T3(&e.r, &e.buf);
    if (switchedAt < 0 && e.d.currgshftidx == 1) switchedAt = s;
    if (lastAt < 0 && e.d.currgshftidx == 2) lastAt = s;
  }
  EXPECT_EQ(switchedAt, 101);  // row 0 loaded on the first update, held for 101 symbols
  EXPECT_EQ(lastAt, 107);
  EXPECT_EQ(e.d.currgshftidx, 2);
  EXPECT_EQ(e.d.car.pll1, 50);
  EXPECT_EQ(e.d.eq.stepsize, 3);
}

TEST(VcGearShift, FreezeBitsStopTheEqualiserAndTheCarrierError) {
  const VCZGS frozen[] = {{-1, 0, 300, 800, int16_t(0x8000 | 0x4000)}};
  Eq2T3 e(frozen);
  e.t3[0] = 1000;
  e.r.dpout1 = VCZCOMPLEX{8192, 8192};
  e.r.bbeqout = VCZCOMPLEX{4000, 9000};
  vcfRxupd2T3(&e.r, &e.buf);
  for (int32_t c : e.coeff) EXPECT_EQ(c, 0);
  EXPECT_EQ(e.d.car.f, 0);
  const VCZGS live[] = {{-1, 0, 300, 800, 0}};
  Eq2T3 l(live);
  l.t3[0] = 1000;
  l.r.dpout1 = VCZCOMPLEX{8192, 8192};
  l.r.bbeqout = VCZCOMPLEX{4000, 9000};
  vcfRxupd2T3(&l.r, &l.buf);
  EXPECT_NE(l.coeff[0], 0);
  EXPECT_NE(l.d.car.f, 0);
}

TEST(VcEqualiser, TwoTThirdsEqualiserLearnsAChannelFromReferences) {
  // A 1700 Hz carrier at 2400 baud (three samples per symbol at 7200/s) with a mild echo; the
  // equaliser, fed the right references, must bring the decision error down.
  const VCZGS table[] = {{-1, -2, 300, 800, 0}};
  Eq2T3 e(table);
  e.coeff[8] = 1 << 29;  // centre tap 0.25 (value in the high half, Q13 output)
  std::mt19937 rng(9);
  std::vector<VCZCOMPLEX> sent;
  double early = 0, late = 0;
  const int symbols = 3000;
  std::vector<double> pb;
  for (int n = 0; n < symbols; ++n) {
    sent.push_back(vctsRxgmapconst4LUT[rng() & 3]);
    for (int k = 0; k < 3; ++k) {
      const double t = n + k / 3.0;
      // raised pulse: each symbol held for its three samples, plus an echo one symbol late
      const VCZCOMPLEX s = sent[n], s1 = n > 0 ? sent[n - 1] : VCZCOMPLEX{0, 0};
      const double re = s.real + 0.3 * s1.real, im = s.imag + 0.3 * s1.imag;
      const double ph = 2 * M_PI * 1700 * t / 2400;
      pb.push_back(0.5 * (re * std::cos(ph) - im * std::sin(ph)));
    }
  }
  int delayFound = -1;
  for (int n = 0; n < symbols; ++n) {
    for (int k = 0; k < 3; ++k) e.in[k] = int16_t(std::lround(pb[3 * n + k]));
    e.buf = VCZBUF{e.in, e.in, e.in + 3};
    vcfDemod2T3(&e.r, &e.buf);
    // the reference is the symbol the equaliser's centre sees; search the delay once
    if (delayFound < 0) delayFound = 6;
    const int idx = n - delayFound;
    e.r.dpout1 = idx >= 0 ? sent[idx] : VCZCOMPLEX{0, 0};
    VCZCOMPLEX err;
    fxcsub(&e.r.dpout1, &e.r.bbeqout, &err);
    const double p = double(err.real) * err.real + double(err.imag) * err.imag;
    if (n >= 200 && n < 400) early += p;
    if (n >= symbols - 200) late += p;
    vcfRxupd2T3(&e.r, &e.buf);
  }
  EXPECT_LT(late, early / 4) << "equaliser did not converge";
}

TEST(VcGain, AverageOverTheRequestedSamplesAcrossBlocks) {
  VCZAGC agc;
  vcfInitFindGain(100, 16384, &agc);
  std::vector<int16_t> x(160);
  for (size_t i = 0; i < x.size(); ++i) x[i] = int16_t(i % 2 ? 1000 : -1000);
  VCZBUF rd{x.data(), x.data(), nullptr}, wr{x.data() + 60, nullptr, nullptr};
  EXPECT_FALSE(vcfFindGain(&rd, &wr, &agc));
  EXPECT_EQ(rd.bufp, x.data() + 60);
  wr.bufp = x.data() + 160;
  EXPECT_TRUE(vcfFindGain(&rd, &wr, &agc));
  EXPECT_EQ(rd.bufp, x.data() + 100);  // only the samples still wanted are taken
  EXPECT_NEAR(agc.sigLevel, 1000, 10);
  EXPECT_EQ(agc.gain, uint16_t(vcfdiv_d(16384, agc.sigLevel) >> 7));
}

TEST(VcJam, TrainingAverageGivesGainAndPhaseOffset) {
  for (double deg : {0.0, 10.0, -15.0}) {
    for (double scale : {1.0, 0.8}) {
      VCZRXMEM r{};
      vcfRxFupdave_init(&r);
      const double a = deg * M_PI / 180;
      for (int n = 0; n < 24; ++n) {
        r.dpout1 = vctsRxgmapconst4LUT[n & 3];
        const VCZCOMPLEX d = r.dpout1;
        r.bbeqout = VCZCOMPLEX{int16_t(scale * (d.real * std::cos(a) - d.imag * std::sin(a))),
                               int16_t(scale * (d.real * std::sin(a) + d.imag * std::cos(a)))};
        vcfRxFupdave(&r, nullptr);
      }
      int16_t gain, phase;
      vcfRxFcgjam(&r, &gain, &phase);
      // gain: 1 + gain / 32768 undoes the scale (to first order, with the phase's cos)
      EXPECT_NEAR(1.0 + gain / 32768.0, 1.0 / (scale * std::cos(a)), 0.05) << deg << " " << scale;
      EXPECT_NEAR(phase * 360.0 / 65536, deg, 1.5) << deg << " " << scale;
    }
  }
}

TEST(VcToneDetector, FindsTheAlternationItsEndAndThePhaseReversal) {
  // Training alternation A B A B ... at 2400 baud on an 1800 Hz carrier through our transmitter
  // chain at 7200 samples/s (three per symbol), then the same with the sign of every symbol
  // turned (phase reversal), then silence.
  VCZBAUD baud{};
  vcfTonedetinit(&baud.rxmem, 16384, 20, 150, 1);
  baud.rxmem.sdet.tonetap = int16_t(0x8001);
  std::vector<int16_t> x;
  for (int n = 0; n < 900; ++n) {
    const VCZCOMPLEX p = vctsigmapconst4LUT[(n & 1) ? 2 : 0];
    const double sign = (n >= 300 && n < 600) ? -1 : 1;
    for (int k = 0; k < 3; ++k) {
      const double t = n + k / 3.0;
      const double ph = 2 * M_PI * 1800 * t / 2400;
      const double v = n < 600 ? sign * 0.4 * (p.real * std::cos(ph) - p.imag * std::sin(ph)) : 0.0;
      x.push_back(int16_t(std::lround(v)));
    }
  }
  bool toneOn = false, reversal = false, toneOff = false;
  int onAt = -1;
  for (int n = 0; n < 900; ++n) {
    VCZBUF b{&x[3 * n], &x[0], &x[3 * n + 3]};
    const VCBDMSTATUS st = vcfTonedet(&baud.rxmem, &b);
    if (n > 20 && n < 290 && (st & VCBDM_TONE_ON)) {
      toneOn = true;
      if (onAt < 0) onAt = n;
    }
    if (n >= 298 && n < 310 && (st & VCBDM_CORR_NEG)) reversal = true;
    if (n > 40 && n < 290) { EXPECT_FALSE(st & VCBDM_CORR_NEG) << n; }
    if (n >= 600 && (st & VCBDM_TONE_OFF)) toneOff = true;
    if (n > 700) { EXPECT_TRUE(st & VCBDM_PWR_BELOW); }
  }
  EXPECT_TRUE(toneOn);
  EXPECT_LT(onAt, 60);
  EXPECT_TRUE(reversal);
  EXPECT_TRUE(toneOff);
}

}  // namespace
