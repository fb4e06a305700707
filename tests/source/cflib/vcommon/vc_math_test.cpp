// Fixed-point toolkit, interpolation bank, sample-rate converters and the transmit chain.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <utility>
#include <vector>

#include "vc_baud.h"
#include "vc_demod.h"
#include "vc_dot_avx2.h"
#include "vc_eqkern.h"
#include "vc_math.h"
#include "vc_test_tx.h"

namespace {

// Amplitude and phase of one frequency in a block (single-bin DFT).
double toneAmplitude(const std::vector<int16_t>& x, double freq, double fs, size_t from = 0) {
  double re = 0, im = 0;
  for (size_t n = from; n < x.size(); ++n) {
    re += x[n] * std::cos(2 * M_PI * freq * n / fs);
    im += x[n] * std::sin(2 * M_PI * freq * n / fs);
  }
  return 2 * std::hypot(re, im) / double(x.size() - from);
}

double rms(const std::vector<int16_t>& x, size_t from = 0) {
  double s = 0;
  for (size_t n = from; n < x.size(); ++n) s += double(x[n]) * x[n];
  return std::sqrt(s / double(x.size() - from));
}

TEST(VcArith, SineCosineAndProducts) {
  EXPECT_EQ(fxsin(0), 0);
  EXPECT_EQ(fxsin(8192), 23170);
  EXPECT_EQ(fxsin(16384), 32766);
  EXPECT_EQ(fxsin(32768), 0);
  EXPECT_EQ(fxsin(49152), -32766);
  EXPECT_EQ(fxcos(0), fxsin(16384));
  int worst = 0;
  for (int p = 0; p < 65536; p += 7)
    worst = std::max(worst, int(std::lround(std::abs(fxsin(uint16_t(p)) - 32767 * std::sin(2 * M_PI * p / 65536)))));
  EXPECT_LE(worst, 8);
  EXPECT_EQ(fxmul(16384, 16384), 8192);
  EXPECT_EQ(fxmul(-32768, -32768), -32768);  // wraps like the 16-bit result it stands for
  const VCZCOMPLEX a{1000, 2000}, b{3000, -4000};
  VCZCOMPLEX c;
  fxcmul(&a, &b, &c);
  EXPECT_EQ(c.real, fxmul(1000, 3000) - fxmul(2000, -4000));
  fxcmulconj(&a, &a, &c);
  EXPECT_EQ(c.imag, 0);
  EXPECT_NEAR(fxcmag(&a), std::hypot(1000, 2000), 0.05 * std::hypot(1000, 2000));
}

TEST(VcArith, DivisionsAnd64BitAdd) {
  EXPECT_EQ(vcfdiv_s(0, 100), 0);
  EXPECT_EQ(vcfdiv_s(100, 100), 32767);
  EXPECT_EQ(vcfdiv_s(200, 100), 32767);
  EXPECT_EQ(vcfdiv_s(1, 2), 16384);
  EXPECT_EQ(vcfdiv_L(1 << 20, 1 << 22), 8192);
  EXPECT_EQ(vcfdiv_d(3, 2), (3 << 15) / 2);
  EXPECT_EQ(vcfdiv_d(1000, 7), (1000 << 15) / 7);
  VCZDIV_T d;
  vcfdivt(-7, 2, &d);
  EXPECT_EQ(d.quot, -3);
  EXPECT_EQ(d.rem, -1);
  vcfdivt(123, -1, &d);
  EXPECT_EQ(d.quot, -123);
  uint32_t x[2] = {1, 0xFFFFFFFF}, y[2] = {2, 3};
  vcfUAdd64(&x[1], &y[1]);
  EXPECT_EQ(x[1], 0u);  // both low bits lost: (0x7FFFFFFF + 1) << 1 wraps
  EXPECT_EQ(x[0], 4u);  // 1 + 2 + the carry out of the halved sum
}

// Random 16-bit values with the extremes frequent: the wide kernels' pair sums wrap only there.
std::vector<int16_t> fullScale(std::mt19937& rng, size_t n) {
  std::vector<int16_t> v(n);
  for (auto& x : v) {
    const uint32_t r = rng();
    x = (r & 7) == 0 ? int16_t(-32768) : (r & 7) == 1 ? int16_t(32767) : int16_t(r >> 16);
  }
  return v;
}

#if defined(VC_HAVE_AVX2_KERNELS)
// The 2T/3 equaliser's AVX2 update is inlined into callers compiled for AVX2.
static __attribute__((target("avx2"))) void eq2T3UpdateAvx2(int32_t* cr, int32_t* ci, const int16_t* xr, const int16_t* xi,
                                                     int n, VCZCOMPLEX e, int step) {
  vcEq2T3UpdateAvx2(cr, ci, xr, xi, n, e, step);
}
#endif

TEST(VcArith, WideKernelsGiveThePlainFormsBitsAtFullScale) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 400; ++trial) {
    const auto x = fullScale(rng, 96), h = fullScale(rng, 96), g = fullScale(rng, 96);
    const int n = trial % 80;
    ASSERT_EQ(vcfConv(&x[80], &h[80], int16_t(n)), vcfConvPlain(&x[80], &h[80], int16_t(n))) << n;
    ASSERT_EQ(vcDot16(x.data(), h.data(), n), vcDot16Plain(x.data(), h.data(), n)) << n;
    uint32_t s0, s1;
    vcDot16Pair(x.data(), h.data(), g.data(), n, &s0, &s1);
    ASSERT_EQ(s0, vcDot16Plain(x.data(), h.data(), n)) << n;
    ASSERT_EQ(s1, vcDot16Plain(x.data(), g.data(), n)) << n;
#if defined(VC_HAVE_AVX2_KERNELS)
    if (vcHaveAvx2()) {
      ASSERT_EQ(vcDot16Avx2(x.data(), h.data(), n), vcDot16Plain(x.data(), h.data(), n)) << n;
      vcDot16Pair32Avx2(x.data() + n % 16, h.data(), g.data(), &s0, &s1);
      ASSERT_EQ(s0, vcDot16Plain(x.data() + n % 16, h.data(), 32)) << n;
      ASSERT_EQ(s1, vcDot16Plain(x.data() + n % 16, g.data(), 32)) << n;
    }
#endif
    // the Q10 gain, saturating
    std::vector<int16_t> wide = x, plain = x;
    const int16_t gain = (trial & 3) == 0 ? int16_t(1024) : g[0];  // unity is skipped
    vcGainQ10(wide.data(), n, gain);
    vcGainQ10Plain(plain.data(), n, gain);
    ASSERT_EQ(wide, plain) << n;
    // the carrier turning a run of symbols (eights and a tail) against one symbol at a time, at
    // every phase: the line's halves 48 apart, as the transmitter's are 99. Two carriers from one
    // phase, then the second from where its first symbol is the first one's: kept rotations are
    // found again only under all eight phases. A third of them turn whole times in eight symbols,
    // as V.27ter's and V.17's do.
    const bool periodic = trial % 3 == 0;
    const uint32_t start = rng(), a = periodic ? 0xC0000000u : uint32_t(rng()), b = periodic ? 0x20000000u : uint32_t(rng());
    const std::pair<uint32_t, uint32_t> carriers[] = {{start, a}, {start, b}, {start + a - b, b}};
    for (const auto& [from, inc] : carriers) {
      std::vector<int16_t> run(x.begin(), x.end()), single = run;
      uint32_t phase = from, phaseSingle = from;
      vcfModulateRun(run.data(), n % 48, 48, &phase, inc);
      for (int k = 0; k < n % 48; ++k) {
        const VCZCOMPLEX sig{single[k], single[k + 48]};
        phaseSingle += inc;
        vcModulateAt(&sig, phaseSingle, &single[k], 48);
      }
      ASSERT_EQ(run, single) << n << " " << inc;
      ASSERT_EQ(phase, phaseSingle) << n;
    }
    // the T/3 equaliser: its output and its tap update (32-bit taps, any value)
    std::vector<int32_t> cr(64), ci(64);
    for (auto& v : cr) v = int32_t(rng());
    for (auto& v : ci) v = int32_t(rng());
    const int taps = n % 64;
    uint32_t re, im, rePlain, imPlain;
    vcEqDot(cr.data(), ci.data(), &x[90], taps, &re, &im);
    vcEqDotPlain(cr.data(), ci.data(), &x[90], taps, &rePlain, &imPlain);
    ASSERT_EQ(re, rePlain) << taps;
    ASSERT_EQ(im, imPlain) << taps;
    auto cr2 = cr, ci2 = ci;
    const VCZCOMPLEX e{g[1], g[2]};
    vcEqUpdate(cr.data(), ci.data(), &x[90], taps, e, trial % 32);
    vcEqUpdatePlain(cr2.data(), ci2.data(), &x[90], taps, e, trial % 32);
    ASSERT_EQ(cr, cr2) << taps;
    ASSERT_EQ(ci, ci2) << taps;
    // the 2T/3 equaliser: lines of 2 * taps - 1 samples each, back to back as in the demodulator
    // and nothing after them (a read past the lines shows in the address-checked build)
    const int taps2 = 1 + n % 40;
    std::vector<int16_t> lines = fullScale(rng, size_t(2 * (2 * taps2 - 1)));
    const int16_t* xr = lines.data();
    const int16_t* xi = lines.data() + 2 * taps2 - 1;
    vcEq2T3DotPlain(cr.data(), ci.data(), xr, xi, taps2, &rePlain, &imPlain);
    vcEq2T3Dot(cr.data(), ci.data(), xr, xi, taps2, &re, &im);
    ASSERT_EQ(re, rePlain) << taps2;
    ASSERT_EQ(im, imPlain) << taps2;
    const int step = trial % 63 - 31;
    vcEq2T3UpdatePlain(cr2.data(), ci2.data(), xr, xi, taps2, e, step);
#if defined(VC_HAVE_AVX2_KERNELS)
    if (vcHaveAvx2()) {
      auto crWide = cr, ciWide = ci;
      eq2T3UpdateAvx2(crWide.data(), ciWide.data(), xr, xi, taps2, e, step);
      ASSERT_EQ(crWide, cr2) << taps2 << " step " << step;
      ASSERT_EQ(ciWide, ci2) << taps2 << " step " << step;
    }
#endif
    vcEq2T3Update(cr.data(), ci.data(), xr, xi, taps2, e, step);
    ASSERT_EQ(cr, cr2) << taps2 << " step " << step;
    ASSERT_EQ(ci, ci2) << taps2 << " step " << step;
    const uint32_t word = rng() & rng();
    ASSERT_EQ(vcPopcount(word), __builtin_popcount(word)) << word;
    ASSERT_EQ(vcPopcount(~word), __builtin_popcount(~word)) << word;
    // the 2T/3 demodulator's folded low-pass (full-scale lines: sums that wrap negative)
    ASSERT_EQ(vcT3LPFOne(&x[40]), vcT3LPFOnePlain(&x[40]));
  }
  int16_t one[1] = {300}, coef[1] = {200};
  EXPECT_EQ(vcfConv(one, coef, 0), (300 * 200) >> 15);
  std::vector<int16_t> big(3, 20000), neg(3, -20000);
  EXPECT_EQ(vcfConv(&big[2], &big[2], 2), 32767);
  EXPECT_EQ(vcfConv(&big[2], &neg[2], 2), -32768);
  // every product -32768 * -32768: each pair sums to 2^31, the wrapping total to 0 for 16 terms
  std::vector<int16_t> low(32, -32768);
  EXPECT_EQ(vcDot16(low.data(), low.data(), 16), 0u);
  EXPECT_EQ(vcDot16(low.data(), low.data(), 15), vcDot16Plain(low.data(), low.data(), 15));
}

TEST(VcArith, RestoringDivisionShortcutGivesTheLoopsQuotient) {
  std::mt19937 rng(8);
  for (int trial = 0; trial < 20000; ++trial) {
    const int32_t b = int32_t(rng() % 0x7FFFFFFF) + 1;
    const int32_t a = int32_t(rng() % uint32_t(b));
    if (a == 0) continue;
    ASSERT_EQ(vcfdiv_L(a, b), vcfdivRestoring(a, b)) << a << " / " << b;
  }
  EXPECT_EQ(vcfdiv_L(1, 0x7FFFFFFF), vcfdivRestoring(1, 0x7FFFFFFF));
  EXPECT_EQ(vcfdiv_L(0x7FFFFFFE, 0x7FFFFFFF), vcfdivRestoring(0x7FFFFFFE, 0x7FFFFFFF));
  EXPECT_EQ(vcfdiv_L(-5, 7), vcfdivRestoring(-5, 7));  // signs it was not meant for answer as before
}

TEST(VcArith, NearestPointSearchPrefersTheLowerIndexOnATie) {
  const VCZCOMPLEX table[3] = {{1000, 0}, {-1000, 0}, {0, 5000}};
  const VCZCOMPLEX mid{0, 0};
  EXPECT_EQ(vcfCsearch(&mid, table, 3), 0);
  const VCZCOMPLEX up{0, 4000};
  EXPECT_EQ(vcfCsearch(&up, table, 3), 2);
  // the AVX2 search gives the plain one's choice: random points and tables at full scale, with
  // repeated points (ties) and distances past the search's 32767 limit
  std::mt19937 rng(6);
  for (int trial = 0; trial < 20000; ++trial) {
    const int n = 8 * (1 + trial % 4);
    const auto v = fullScale(rng, size_t(2 * n + 2));
    std::vector<VCZCOMPLEX> points(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
      const int from = (trial & 1) ? k % 5 : k;  // repeats when odd
      points[size_t(k)] = VCZCOMPLEX{int16_t(v[size_t(2 * from)] >> (trial % 3)), int16_t(v[size_t(2 * from + 1)] >> (trial % 3))};
    }
    const VCZCOMPLEX d{int16_t(v[size_t(2 * n)] >> (trial % 3)), int16_t(v[size_t(2 * n + 1)] >> (trial % 3))};
    const int16_t want = vcfCsearchPlain(&d, points.data(), int16_t(n));
    ASSERT_EQ(vcfCsearch(&d, points.data(), int16_t(n)), want) << trial;
#if defined(VC_HAVE_AVX2_KERNELS)
    if (vcHaveAvx2()) {
      ASSERT_EQ(vcfCsearchAvx2(&d, points.data(), int16_t(n)), want) << trial;
    }
#endif
  }
  // nothing nearer than the limit: a point exactly at 32767 (32766 + 1) is not taken either
  std::vector<VCZCOMPLEX> far(8, VCZCOMPLEX{32767, 32767});  // 65532 away
  far[3] = VCZCOMPLEX{32767, 128};
  const VCZCOMPLEX origin{0, 0};
  EXPECT_EQ(vcfCsearchPlain(&origin, far.data(), 8), 0);
  EXPECT_EQ(vcfCsearch(&origin, far.data(), 8), 0);
}

TEST(VcInterp, EveryPhaseHasUnityGainAndPhasesAdvanceByASixteenth) {
  for (int k = 0; k < 16; ++k) {
    int sum = 0;
    double centre = 0;
    for (int n = 0; n < 32; ++n) {
      sum += vcgInterp[k * 32 + n];
      centre += n * double(vcgInterp[k * 32 + n]);
    }
    EXPECT_NEAR(sum, 32767, 4) << "phase " << k;
    // the centre of mass moves from tap 15 + 1/16 by 1/16 per phase
    EXPECT_NEAR(centre / sum, 15 + (k + 1) / 16.0, 0.02) << "phase " << k;
  }
  EXPECT_EQ(vcgInterp[15], 32531);
  EXPECT_EQ(vcgInterp[16], 2170);
}

// Steps and the position a block leaves, by the toolkit's halved-sum add (the lowest bits of both
// low words drop out) and the rule that the second phase (the next sample after phase 15) reads
// inside the block.
int referenceSteps(VCZRESAMPLE& rs, int avail) {
  int steps = 0;
  for (;;) {
    uint32_t next[2] = {rs.interpSampPos, rs.interpSampPosLow};
    const uint32_t inc[2] = {rs.interpSampInc, rs.interpSampIncLow};
    vcfUAdd64(&next[1], &inc[1]);
    const int32_t second = (int32_t(next[0]) >> 24) + (((next[0] >> 20) & 15) == 15);
    if (second >= avail) break;
    rs.interpSampPos = next[0];
    rs.interpSampPosLow = next[1];
    ++steps;
  }
  rs.interpSampPos -= uint32_t(avail) << 24;
  return steps;
}

TEST(VcResample, OutputCountsFollowTheRateAndATonePassesUnchanged) {
  for (int index = 0; index < 7; ++index) {
    VCZRESAMPLE rs;
    vcfInitResample(int16_t(index), &rs);
    // in phase 15, so that steps land there next to a block's end; an odd low word, whose lowest
    // bit drops out at the first step
    rs.interpSampPos = 0x00F80000;
    rs.interpSampPosLow = 0x9E3779B9;
    VCZRESAMPLE ref = rs;
    const double step = (rs.interpSampInc + rs.interpSampIncLow / 4294967296.0) / double(1 << 24);
    std::vector<int16_t> in(40 + 8000), out;
    for (size_t n = 0; n < in.size(); ++n) in[n] = int16_t(std::lround(8000 * std::sin(2 * M_PI * 1000 * n / 8000.0)));
    int16_t obuf[64];
    int total = 0;
    for (size_t at = 40; at < in.size(); at += 40) {
      VCZBUF rd{&in[at], &in[0], nullptr}, wr{&in[at + 40], nullptr, nullptr}, ob{obuf, obuf, nullptr};
      const int16_t got = vcfResample(&rd, &wr, &ob, &rs);
      EXPECT_EQ(rd.bufp, &in[at + 40]);
      EXPECT_EQ(ob.bufp - obuf, got);
      ASSERT_EQ(got, referenceSteps(ref, 40)) << "index " << index << " at " << at;
      ASSERT_EQ(rs.interpSampPos, ref.interpSampPos) << "index " << index << " at " << at;
      ASSERT_EQ(rs.interpSampPosLow, ref.interpSampPosLow) << "index " << index << " at " << at;
      out.insert(out.end(), obuf, obuf + got);
      total += got;
    }
    EXPECT_NEAR(total, 8000 / step, 2.5) << "index " << index;  // starting a sample in: one fewer
    const double fsOut = 8000 / step;
    EXPECT_NEAR(toneAmplitude(out, 1000, fsOut, 100), 8000, 80) << "index " << index;
    // no new input: nothing out, position unchanged
    const uint32_t pos = rs.interpSampPos;
    VCZBUF rd{&in[80], nullptr, nullptr}, wr{&in[80], nullptr, nullptr}, ob{obuf, obuf, nullptr};
    EXPECT_EQ(vcfResample(&rd, &wr, &ob, &rs), 0);
    EXPECT_EQ(rs.interpSampPos, pos);
  }
}

#if defined(VC_HAVE_AVX2_KERNELS)
// The resampler's wide form (positions taken four at a time) against the baseline one, block by
// block at every rate, on full-scale input with positions of every phase and blocks of any length.
TEST(VcResample, WideKernelGivesTheBaselineBitsAtFullScale) {
  if (!vcHaveAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(12);
  for (int trial = 0; trial < 300; ++trial) {
    VCZRESAMPLE rs, rsWide;
    vcfInitResample(int16_t(trial % 7), &rs);
    rs.interpSampPos = rng() & 0x01FFFFFF;
    rs.interpSampPosLow = rng();
    rsWide = rs;
    const auto in = fullScale(rng, 40 + 100);
    for (int block = 0; block < 3; ++block) {
      const int len = 1 + int(rng() % 100);
      int16_t out[160], outWide[160];
      VCZBUF rd{const_cast<int16_t*>(&in[40]), nullptr, nullptr}, wr{const_cast<int16_t*>(&in[40 + len]), nullptr, nullptr};
      VCZBUF rdWide = rd, ob{out, out, nullptr}, obWide{outWide, outWide, nullptr};
      vcAllowAvx2(false);
      const int16_t n = vcfResample(&rd, &wr, &ob, &rs);
      vcAllowAvx2(true);
      const int16_t nWide = vcfResample(&rdWide, &wr, &obWide, &rsWide);
      ASSERT_EQ(std::vector<int16_t>(outWide, outWide + nWide), std::vector<int16_t>(out, out + n)) << trial;
      ASSERT_EQ(rsWide.interpSampPos, rs.interpSampPos) << trial;
      ASSERT_EQ(rsWide.interpSampPosLow, rs.interpSampPosLow) << trial;
    }
  }
}
#endif

TEST(VcTransmit, SymbolCountsPerBlock) {
  int16_t buf[200];
  VCZBUF b{buf, buf, buf + 160};
  EXPECT_EQ(vcfCalcNumSymbols(&b, S_2400), 48);
  b.endp = buf + 40;
  EXPECT_EQ(vcfCalcNumSymbols(&b, S_2400), 12);
  b.endp = buf + 80;
  EXPECT_EQ(vcfCalcNumSymbols(&b, S_1200), 12);
}

#if defined(VC_HAVE_AVX2_KERNELS)
// Both shapes of pulse shaper the wide transmit kernel takes (three samples per symbol from 20 taps
// at 0.9 input samples per output, six from six at 1.2), with full-scale taps, lines, history,
// positions of every phase and amplitudes: the wide kernel's samples and state are the baseline's.
TEST(VcTransmit, WideKernelGivesTheBaselineBitsAtFullScale) {
  if (!vcHaveAvx2()) GTEST_SKIP() << "no AVX2";
  struct Shape {
    int16_t ns, taps;
    uint32_t inc, incLow;
  };
  // and a step far shorter than the modems', whose runs take hundreds of positions, and one far
  // longer, whose last positions of a run lie far apart at the line's end
  const Shape shapes[] = {{3, 20, 0x00E66666, 0x66666666},
                          {6, 6, 0x01333333, 0x33333333},
                          {3, 20, 0x00200000, 0x2468ACE1},
                          {6, 6, 0x02F00000, 0x9ABCDEF1}};
  std::mt19937 rng(11);
  for (int trial = 0; trial < 600; ++trial) {
    const Shape& sh = shapes[trial % 7 == 3 ? 2 : trial % 7 == 5 ? 3 : trial & 1];
    auto taps = fullScale(rng, size_t(2 * sh.ns * sh.taps));
    if (trial % 5 == 0) std::fill(taps.begin(), taps.begin() + sh.taps, int16_t(0));  // a zero block
    // full-scale taps saturate most samples; smaller ones let every sum show
    auto history = fullScale(rng, VC_T3SAMPLES);
    for (auto& v : taps) v = int16_t(v >> (trial % 3 * 3));
    for (auto& v : history) v = int16_t(v >> (trial % 3 * 3));
    const auto line = fullScale(rng, 2 * 99);
    VCZMOD mod{};
    vcfInitTxParam32(&mod, int16_t(trial & 2 ? rng() : rng() % 8192));
    vcfSetTxShaper(&mod, sh.ns, sh.taps, taps.data());
    mod.interpSampInc = sh.inc;
    mod.interpSampIncLow = sh.incLow;
    // 31 up to 33; at 31 the first sample's taps reach the first kept sample
    mod.interpSampPos = trial % 7 == 0 ? 0x1F000000 : 0x1F000000 + (rng() & 0x01FFFFFF);
    mod.interpSampPosLow = rng();
    std::copy(history.begin(), history.end(), mod.t3Samples);
    const int symbols = 1 + trial % 70;  // runs of many symbols, and more than one
    VCZMOD modWide = mod;
    std::vector<int16_t> fast(line), fastWide(line);
    std::vector<int16_t> outLine(2048), outWideLine(2048);
    int16_t *out = outLine.data(), *outWide = outWideLine.data();
    int16_t *w = out, *wWide = outWide;
    VCZFASTBULKDLYHDL hdl{fast.data() + 19, fast.data() + 99, fast.data() + 19 + symbols, fast.data() + 19, 99};
    VCZFASTBULKDLYHDL hdlWide{fastWide.data() + 19, fastWide.data() + 99, fastWide.data() + 19 + symbols,
                              fastWide.data() + 19, 99};
    vcfTxSymbols(&wWide, &modWide, &hdlWide);
    vcAllowAvx2(false);
    vcfTxSymbols(&w, &mod, &hdl);
    vcAllowAvx2(true);
    ASSERT_EQ(std::vector<int16_t>(outWide, wWide), std::vector<int16_t>(out, w)) << trial;
    ASSERT_TRUE(std::equal(mod.t3Samples, mod.t3Samples + VC_T3SAMPLES, modWide.t3Samples)) << trial;
    ASSERT_EQ(modWide.interpSampPos, mod.interpSampPos) << trial;
    ASSERT_EQ(modWide.interpSampPosLow, mod.interpSampPosLow) << trial;
    ASSERT_EQ(hdlWide.fstRdp - fastWide.data(), hdl.fstRdp - fast.data()) << trial;
  }
}
#endif

std::vector<int16_t> transmitConstant(VCZCOMPLEX sym, int16_t amplitude, int blocks) {
  static VCZCOMPLEX point[1];
  point[0] = sym;
  TestTransmitter tx(amplitude);
  tx.baud.txmem.sigmap = point;
  std::vector<int16_t> out;
  tx.run(blocks, out);
  return out;
}

TEST(VcTransmit, ConstantSymbolGivesTheCarrierAtAProportionalLevel) {
  const auto quiet = transmitConstant(vctsigmapconst4LUT[0], 1000, 100);
  const auto loud = transmitConstant(vctsigmapconst4LUT[0], 2000, 100);
  ASSERT_NEAR(double(quiet.size()), 4000, 12);
  const double a1 = toneAmplitude(quiet, 1800, 8000, 200);
  const double a2 = toneAmplitude(loud, 1800, 8000, 200);
  // the whole signal is the carrier: nothing else carries power
  EXPECT_NEAR(a1 / std::sqrt(2.0), rms(quiet, 200), 0.02 * rms(quiet, 200));
  EXPECT_NEAR(a2 / a1, 2.0, 0.01);
  // Level: each of the three pass-band phases of the pulse shaper has the carrier gain
  // |Hr + j Hi| / 32768, with H the taps weighted by the carrier's turn per symbol; the resampler
  // passes it at unity and the amplitude scales it by (14178 x value / 32768) / 8192.
  const double theta = 1.5 * M_PI;
  double gains[3];
  for (int b = 0; b < 3; ++b) {
    std::complex<double> hr, hi;
    for (int j = 0; j < 20; ++j) {
      const std::complex<double> e = std::polar(1.0, theta * (j - 19));
      hr += double(vcgTxbandpassfilt32[b * 20 + j]) * e;
      hi += double(vcgTxbandpassfilt32[60 + b * 20 + j]) * e;
    }
    gains[b] = std::abs(hr + std::complex<double>(0, 1) * hi) / 32768;
  }
  EXPECT_NEAR(gains[0], gains[1], 0.02 * gains[1]);
  EXPECT_NEAR(gains[2], gains[1], 0.02 * gains[1]);
  const double point = std::hypot(10991.0, 3664.0);
  const double expected = point * gains[1] * (14178.0 * 1000 / 32768) / 8192.0;
  EXPECT_NEAR(a1, expected, 0.02 * expected);
  // a zero point is silence
  const auto silent = transmitConstant(vctSigmapzeroLUT[0], 2000, 10);
  for (int16_t v : silent) EXPECT_EQ(v, 0);
}

}  // namespace
