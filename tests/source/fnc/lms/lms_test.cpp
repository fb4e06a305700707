// Block normalised LMS: identification of an unknown echo path, the step-size rules, the
// equivalence of the kernels with the plain loops, and the silent-error and weak-reference edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <cstdio>
#include <random>
#include <vector>

#include "lms.h"

namespace {

constexpr int kTaps = 256;
constexpr int kBlock = 40;
// The exponent the caller starts the step size from: 2^-9 scales the block-power normalisation
// (energies are measured >> 9) back to a normalised step below one.
constexpr int kStepBias = -9;

std::vector<int16_t> whiteNoise(int n, int amplitude, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> d(0, amplitude);
  std::vector<int16_t> x(n);
  for (auto& v : x) v = static_cast<int16_t>(std::clamp(d(rng), -32768.0, 32767.0));
  return x;
}

// Runs the adaptive filter over `seconds` of reference through the path and returns the
// cancellation of the last second in dB.
double identify(const std::vector<int16_t>& path, double seconds, unsigned seed, int nb, int bias = 0) {
  const int n = static_cast<int>(seconds * 8000);
  const auto ref = whiteNoise(n + kTaps, 4000, seed);
  std::vector<int16_t> echo(n);
  for (int i = 0; i < n; ++i) {
    int64_t acc = 0;
    for (int k = 0; k < kTaps; ++k) acc += int32_t{path[k]} * ref[kTaps + i - k];
    echo[i] = static_cast<int16_t>(std::clamp<int64_t>((acc + 16384) >> 15, -32768, 32767));
  }
  std::vector<int16_t> h(kTaps, 0), scratch(2 * kBlock);
  double pin = 0, pout = 0;
  for (int off = 0; off + kBlock <= n; off += kBlock) {
    const int16_t* r = &ref[kTaps + off];
    int16_t stepExp = static_cast<int16_t>(bias);
    const int16_t step = lmsStepSize(r, &stepExp, kBlock, 32767, 20, kTaps);
    if (step != 0) {
      lmsBlockAdapt(&echo[off], r, h.data(), static_cast<int16_t>((step * 24000) >> 15), stepExp,
                    kBlock, nb, kTaps, nullptr, scratch.data());
    }
    std::vector<int16_t> e(kBlock);
    lmsCancel(e.data(), r, h.data(), &echo[off], kTaps, kBlock, nullptr, scratch.data());
    if (off >= n - 8000) {
      for (int i = 0; i < kBlock; ++i) {
        pin += double(echo[off + i]) * echo[off + i];
        pout += double(e[i]) * e[i];
      }
    }
  }
  return 10 * std::log10(pin / std::max(pout, 1.0));
}

}  // namespace

TEST(Lms, IdentifiesARandom256TapPath) {
  std::mt19937 rng(17);
  std::normal_distribution<double> d(0, 1);
  std::vector<int16_t> path(kTaps);
  for (int k = 0; k < kTaps; ++k) {
    // A decaying random response, like a hybrid's, peaking at about 0.4.
    path[k] = static_cast<int16_t>(std::lround(d(rng) * 13000 * std::exp(-k / 60.0)));
  }
  const double db = identify(path, 6.0, 5, 20, kStepBias);
  std::printf("LMS 256-tap identification after 6 s of noise: %.1f dB\n", db);
  RecordProperty("lms256_db", std::to_string(db));
  EXPECT_GE(db, 30.0);
  // Without the caller's exponent the step is too large and the filter gets nowhere near.
  EXPECT_LT(identify(path, 2.0, 5, 20, 0), 25.0);
}

TEST(Lms, StepSizeIsZeroForAWeakReferenceAndKeepsTheExponent) {
  std::vector<int16_t> weak(300, 0);
  for (size_t i = 0; i < weak.size(); ++i) weak[i] = (i % 2) ? 20 : -20;
  int16_t exp = 3;
  EXPECT_EQ(lmsStepSize(&weak[260], &exp, 40, 32767, 20, 256), 0);
  EXPECT_EQ(exp, 3);
  const auto loud = whiteNoise(400, 3000, 1);
  const int16_t step = lmsStepSize(&loud[300], &exp, 40, 32767, 20, 256);
  EXPECT_GE(step, 16384);  // a Q15 mantissa of a half to one
  EXPECT_LE(step, 32767);
  EXPECT_GT(exp, 3);
  // A louder reference gives a smaller step: four times the power, two octaves of exponent.
  std::vector<int16_t> louder(loud);
  for (auto& v : louder) v = static_cast<int16_t>(v * 2);
  int16_t e1 = 0, e2 = 0;
  const int16_t s1 = lmsStepSize(&loud[300], &e1, 40, 32767, 20, 256);
  const int16_t s2 = lmsStepSize(&louder[300], &e2, 40, 32767, 20, 256);
  EXPECT_EQ(e1 - e2, 2);
  EXPECT_NEAR(s1, s2, 64);
}

TEST(Lms, KernelsMatchThePlainLoopsAndEdgesHold) {
  const auto ref = whiteNoise(400, 6000, 2);
  const auto in = whiteNoise(40, 6000, 3);
  for (int taps : {6, 7, 8, 64}) {
    std::vector<int16_t> h(taps);
    for (int k = 0; k < taps; ++k) h[k] = static_cast<int16_t>(3000 - 500 * k);
    std::vector<int16_t> a(20), b(20), scratch(80);
    int32_t u1 = 0, u2 = 0;
    // The four-output kernel (tap counts of multiples of 4) and the plain loop agree.
    const uint32_t p1 = lmsCancel(a.data(), &ref[200], h.data(), in.data(), taps, 20, &u1, scratch.data());
    std::vector<int16_t> plain(20);
    for (int n = 0; n < 20; ++n) {
      int64_t acc = 0;
      for (int k = 0; k < taps; ++k) acc += int32_t{ref[200 + n - k]} * h[k];
      plain[n] = static_cast<int16_t>(std::clamp<int64_t>((int64_t{in[n]} * 32768 + 16384 - acc) >> 15, -32768, 32767));
    }
    EXPECT_EQ(a, plain) << taps;
    const uint32_t p2 = lmsCancelprog(b.data(), &ref[200], h.data(), in.data(), taps, 20, &u2, scratch.data());
    EXPECT_EQ(p1 > 0, p2 > 0);
    for (int n = 0; n < 20; ++n) EXPECT_NEAR(a[n], b[n], 1) << taps;
    std::vector<int16_t> h1(h), h2(h);
    lmsAdapt(&ref[200], h1.data(), in.data(), taps, 20, 12, scratch.data());
    lmsAdaptprog(&ref[200], h2.data(), in.data(), taps, 20, 12, scratch.data());
    EXPECT_EQ(h1, h2);
  }
  // A silent error leaves the coefficients as they are; a null u returns 1.
  std::vector<int16_t> h(8, 1000), scratch(80);
  std::vector<int16_t> zeroRef(100, 0), zeroIn(40, 0);
  EXPECT_EQ(lmsBlockAdapt(zeroIn.data(), &zeroRef[60], h.data(), 16000, 3, 40, 20, 8, nullptr, scratch.data()), 1u);
  for (int16_t v : h) EXPECT_EQ(v, 1000);
}
