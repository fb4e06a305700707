// The vector forms of the LMS kernels against the portable form, on random full-scale inputs with
// runs of -32768 and 32767 (the multiply-add's overflow case included), every shift the tap
// update can see, every output count and every energy length; and the cancel and block
// adaptation through each form against plain loops over the taps in their natural order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "lms.h"
#include "lms_kernels.h"
#include "lsv_math.h"

namespace {

std::vector<const LmsKernels*> vectorForms() {
  std::vector<const LmsKernels*> forms;
  if (const LmsKernels* k = lmsKernelsSse2()) forms.push_back(k);
  if (const LmsKernels* k = lmsKernelsAvx2()) forms.push_back(k);
  return forms;
}

// Uniform over the whole 16-bit range, with stretches pinned to either end.
std::vector<int16_t> fullScale(size_t n, std::mt19937& rng) {
  std::uniform_int_distribution<int> d(-32768, 32767);
  std::vector<int16_t> x(n);
  for (auto& v : x) v = static_cast<int16_t>(d(rng));
  for (size_t i = 0; i + 40 < n; i += 97) {
    const int16_t end = (i / 97) % 3 == 2 ? 32767 : -32768;
    std::fill_n(x.begin() + static_cast<long>(i), 17, end);
  }
  return x;
}

class Forms : public ::testing::Test {
 protected:
  void TearDown() override { lmsUseKernels(nullptr); }
};

// Natural-order cancel: sOut[n] = sat16((sIn[n] * 32768 + 16384 - sum of rOut[n - k] * h[k]) >> 15).
std::vector<int16_t> plainCancel(const int16_t* rOut, const std::vector<int16_t>& h, const int16_t* sIn, int N) {
  std::vector<int16_t> out(N);
  for (int n = 0; n < N; ++n) {
    uint32_t acc = 0;
    for (size_t k = 0; k < h.size(); ++k) acc += static_cast<uint32_t>(int32_t{rOut[n - static_cast<int>(k)]} * h[k]);
    out[n] = lsvmath::sat16(lsvmath::wrap32(int64_t{sIn[n]} * 32768 + 16384 - static_cast<int32_t>(acc)) >> 15);
  }
  return out;
}

// Natural-order block adaptation: per sub-block cancel, normalise, scale by the step, adapt.
void plainBlockAdapt(const int16_t* sIn, const int16_t* rOut, std::vector<int16_t>& h, int16_t step,
                     int16_t stepExp, int N, int Nb) {
  for (int off = 0; off < N; off += Nb) {
    std::vector<int16_t> e = plainCancel(rOut + off, h, sIn + off, Nb);
    const int z = lsvmath::utilVectorNorm(e.data(), Nb);
    for (auto& v : e) v = static_cast<int16_t>((int32_t{v} * (step >> 4) * 2) >> 16);
    const int hExp = std::clamp(z - 4 - stepExp, 0, 31);
    for (size_t i = 0; i < h.size(); ++i) {
      uint32_t acc = 0;
      for (int k = 0; k < Nb; ++k) acc += static_cast<uint32_t>(int32_t{rOut[off + k - static_cast<int>(i)]} * e[k]);
      const int32_t S = static_cast<int32_t>(acc) >> hExp;
      h[i] = lsvmath::sat16((int64_t{h[i]} * 32768 + S + 16384) >> 15);
    }
  }
}

}  // namespace

TEST_F(Forms, DotsAndTapUpdatesMatchThePortableFormAtFullScale) {
  const auto forms = vectorForms();
  if (forms.empty()) GTEST_SKIP() << "no vector form on this processor";
  const LmsKernels& ref = lmsKernelsPortable();
  std::mt19937 rng(11);
  for (int T : {16, 48, 256, 768}) {
    const auto x = fullScale(T + 64, rng);
    const auto h = fullScale(T, rng);
    for (const LmsKernels* k : forms) {
      for (int L : {1, 2, 3, 4, 5, 7, 9, 40}) {
        std::vector<int32_t> want(L), got(L);
        ref.dots(want.data(), x.data(), h.data(), T, L);
        k->dots(got.data(), x.data(), h.data(), T, L);
        EXPECT_EQ(got, want) << k->name << " dots T=" << T << " L=" << L;
      }
      // Energies of every length and alignment up to a full window, runs of -32768 included.
      for (int n = 0; n <= T + 40; n += (n < 48 ? 1 : 37)) {
        for (int at : {0, 1, 7}) {
          ASSERT_EQ(k->energy(x.data() + at, n), ref.energy(x.data() + at, n)) << k->name << " n=" << n;
        }
      }
      std::vector<int16_t> rev(T), back(T);
      k->reverse(rev.data(), h.data(), T);
      EXPECT_TRUE(std::equal(rev.begin(), rev.end(), h.rbegin())) << k->name << " T=" << T;
      // Error pairs at full scale, the pair of -32768 against a reference of -32768 included,
      // through every shift from none to beyond the word.
      for (int trial = 0; trial < 6; ++trial) {
        const auto e = fullScale(40, rng);
        const int16_t pinned[2] = {-32768, -32768};
        for (int Nb : {2, 4, 20}) {
          const int16_t* err = trial == 0 ? pinned : e.data();
          if (trial == 0 && Nb != 2) continue;
          for (int hExp : {0, 1, 7, 14, 15, 16, 30, 31, 32, 40}) {
            for (int L : {0, Nb}) {
              std::vector<int16_t> hWant(h), hGot(h);
              std::vector<int32_t> accWant(40, 7), accGot(40, 7);
              ref.adaptDots(hWant.data(), x.data(), err, Nb, hExp, T, accWant.data(), L);
              k->adaptDots(hGot.data(), x.data(), err, Nb, hExp, T, accGot.data(), L);
              ASSERT_EQ(hGot, hWant) << k->name << " T=" << T << " Nb=" << Nb << " shift " << hExp;
              ASSERT_EQ(accGot, accWant) << k->name << " T=" << T << " Nb=" << Nb << " L=" << L;
            }
          }
        }
      }
    }
  }
}

TEST_F(Forms, CancelAndBlockAdaptationEqualThePlainLoopsInEveryForm) {
  std::vector<const LmsKernels*> forms = vectorForms();
  forms.insert(forms.begin(), &lmsKernelsPortable());
  std::mt19937 rng(12);
  constexpr int T = 256, N = 40;
  for (const LmsKernels* k : forms) {
    lmsUseKernels(k);
    for (int trial = 0; trial < 4; ++trial) {
      // Full-scale reference and input (wrapping sums, saturated outputs), and a speech-sized
      // case where the filter really adapts.
      const bool loud = trial < 2;
      std::vector<int16_t> ref = fullScale(T + N, rng), in = fullScale(N, rng), h = fullScale(T, rng);
      if (!loud) {
        for (auto& v : ref) v = static_cast<int16_t>(v / 8);
        for (auto& v : in) v = static_cast<int16_t>(v / 16);
        for (auto& v : h) v = static_cast<int16_t>(v / 64);
      }
      const int16_t* r = ref.data() + T;
      std::vector<int16_t> out(N), scratch(2 * N);
      int32_t u = 0;
      lmsCancel(out.data(), r, h.data(), in.data(), T, N, &u, scratch.data());
      EXPECT_EQ(out, plainCancel(r, h, in.data(), N)) << k->name;
      for (int Nb : {2, 4, 20}) {
        std::vector<int16_t> got(h), want(h);
        plainBlockAdapt(in.data(), r, want, 23000, static_cast<int16_t>(loud ? -20 : -9), N, Nb);
        lmsBlockAdapt(in.data(), r, got.data(), 23000, static_cast<int16_t>(loud ? -20 : -9), N, Nb, T, nullptr,
                      scratch.data());
        ASSERT_EQ(got, want) << k->name << " Nb=" << Nb << " trial " << trial;
        if (!loud) {
          EXPECT_NE(got, h) << "the taps adapted";
        }
      }
    }
  }
}
