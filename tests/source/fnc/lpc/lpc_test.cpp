// Linear-prediction routines against double-precision models.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lpc.h"

namespace {

// Step-down recursion in doubles: prediction-error ratio and reflection coefficients (the sign
// convention of A(z) = 1 + sum a_k z^-k).
double ratioModel(const std::vector<double>& a, std::vector<double>* k) {
  std::vector<double> c = a;
  const int m = static_cast<int>(a.size()) - 1;
  k->assign(m + 1, 0);
  double g = 1;
  for (int i = m; i >= 1; --i) {
    const double ki = c[i];
    (*k)[i] = ki;
    if (std::fabs(ki) >= 1) return -1;
    std::vector<double> n = c;
    for (int j = 1; j < i; ++j) n[j] = (c[j] - ki * c[i - j]) / (1 - ki * ki);
    c = n;
    g *= 1 - ki * ki;
  }
  return g;
}

// A predictor from random reflection coefficients of magnitude below `kmax`.
std::vector<int16_t> randomPredictor(int m, double kmax, std::mt19937& rng, std::vector<double>* ad) {
  std::uniform_real_distribution<double> d(-kmax, kmax);
  std::vector<double> a(m + 1, 0);
  a[0] = 1;
  for (int i = 1; i <= m; ++i) {
    const double k = d(rng);
    std::vector<double> n = a;
    for (int j = 1; j < i; ++j) n[j] = a[j] + k * a[i - j];
    n[i] = k;
    a = n;
  }
  std::vector<int16_t> q(m + 2, 0);
  ad->assign(m + 1, 0);
  (*ad)[0] = 1;
  for (int i = 0; i <= m; ++i) {
    q[i] = static_cast<int16_t>(std::lround(a[i] * 4096));
    (*ad)[i] = q[i] / 4096.0;
  }
  return q;
}

int assertsDuring(const std::function<void()>& f) {
  testing::internal::CaptureStdout();
  f();
  const std::string out = testing::internal::GetCapturedStdout();
  int n = 0;
  for (size_t p = 0; (p = out.find("Assert in file", p)) != std::string::npos; ++p) ++n;
  return n;
}

}  // namespace

TEST(Lpc, StepDownGivesTheErrorRatioAndReflectionCoefficients) {
  const int16_t first[2] = {4096, 2048};
  int16_t r[2] = {};
  const int32_t g = lpc_pred2refl(first, r, 1);
  EXPECT_NEAR(g, 24576, 8);
  EXPECT_EQ(r[1], 16384);
  const int16_t unstable[3] = {4096, 1000, 4096};  // k2 = 1
  EXPECT_EQ(lpc_pred2refl(unstable, nullptr, 2), -1);
  const int16_t beyond[2] = {4096, -5000};
  EXPECT_EQ(lpc_pred2refl(beyond, nullptr, 1), -1);

  std::mt19937 rng(3);
  for (int t = 0; t < 200; ++t) {
    const int m = 1 + t % 10;
    std::vector<double> ad, k;
    const auto q = randomPredictor(m, 0.7, rng, &ad);
    const double want = ratioModel(ad, &k);
    int16_t rq[LPC_MAX_ORDER + 1] = {};
    const int32_t got = lpc_pred2refl(q.data(), rq, m);
    if (want <= 0) {
      EXPECT_EQ(got, -1);
      continue;
    }
    EXPECT_NEAR(got / 32768.0, want, 0.01 + 0.02 * want) << "order " << m;
    for (int i = 1; i <= m; ++i) EXPECT_NEAR(rq[i] / 32768.0, k[i], 0.01) << m << " " << i;
  }
}

TEST(Lpc, SynthesisUndoesAnalysisAndKeepsMemoryOnlyWhenAsked) {
  std::mt19937 rng(5);
  std::vector<double> ad;
  auto a = randomPredictor(8, 0.8, rng, &ad);
  std::uniform_int_distribution<int> d(-8000, 8000);
  std::vector<int16_t> x(8 + 160, 0), e(160), y(160), y2(160), scratch(8 + 160);
  for (int i = 8; i < 168; ++i) x[i] = static_cast<int16_t>(d(rng));
  lpc_analysis(a.data(), &x[8], e.data(), 160, 8);
  int16_t mem[8] = {};
  lpc_synthesis(8, a.data(), e.data(), y.data(), 160, mem, 0, scratch.data());
  for (int16_t v : mem) EXPECT_EQ(v, 0);
  lpc_synthesis(8, a.data(), e.data(), y2.data(), 160, mem, 0, scratch.data());
  EXPECT_EQ(y, y2);
  for (int i = 0; i < 160; ++i) EXPECT_NEAR(y[i], x[8 + i], 40) << i;
  lpc_synthesis(8, a.data(), e.data(), y.data(), 160, mem, 1, scratch.data());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(mem[i], y[152 + i]);
  EXPECT_EQ(assertsDuring([&] { lpc_synthesis(0, a.data(), e.data(), y.data(), 10, mem, 0, scratch.data()); }), 1);
  EXPECT_EQ(assertsDuring([&] { lpc_synthesis(11, a.data(), e.data(), y.data(), 10, mem, 0, scratch.data()); }), 1);
  EXPECT_EQ(assertsDuring([&] { lpc_analysis(a.data(), &x[8], e.data(), 10, 7); }), 2);  // odd, no zero after
}

TEST(Lpc, LevinsonRecoversAnAutoregressiveProcess) {
  // x[n] = 1.2 x[n-1] - 0.6 x[n-2] + w: A(z) = 1 - 1.2 z^-1 + 0.6 z^-2.
  std::mt19937 rng(9);
  std::normal_distribution<double> w(0, 800);
  std::vector<int16_t> x(2000);
  double x1 = 0, x2 = 0;
  for (auto& v : x) {
    const double n = 1.2 * x1 - 0.6 * x2 + w(rng);
    v = static_cast<int16_t>(std::lround(n));
    x2 = x1;
    x1 = n;
  }
  std::vector<int16_t> scratch(2000);
  int16_t rh[3], rl[3], A[3], rc[2], gain = 0;
  lpc_acorr(scratch.data(), x.data(), 2, rh, rl, 2000);
  lpc_levinson(2, rh, rl, A, rc, &gain, scratch.data());
  EXPECT_EQ(A[0], 4096);
  EXPECT_NEAR(A[1] / 4096.0, -1.2, 0.05);
  EXPECT_NEAR(A[2] / 4096.0, 0.6, 0.05);
  EXPECT_LT(rc[0], -20000);  // strongly correlated
  EXPECT_GT(gain, 1000);
  EXPECT_LT(gain, 16000);
  // The step-up of the reflection coefficients gives the same predictor back.
  int16_t k[3] = {0, rc[0], rc[1]};
  int16_t back[3];
  std::vector<double> unused;
  lpc_refl2pred(k, back, 2);
  EXPECT_NEAR(back[1], A[1], 80);
  EXPECT_NEAR(back[2], A[2], 80);
}
