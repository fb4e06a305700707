// The SSE2 forms of the G.726 predictor lanes against the reference forms on random rows and
// coefficients (extremes included), and the block coder's state record: one long call and many
// short ones leave the same record and the same codes.
#include "g726.h"
#include "g726_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace g726_detail;

#if defined(G726_SSE2)
// A coefficient: mostly uniform over 16 bits, often an extreme or a value whose >> 2 is 0 or -1.
std::int16_t random_coef(std::mt19937 &rng) {
  static constexpr std::int16_t kEdges[] = {-32768, 32767, 0, 1, 3, -1, -4, -5, 4, 32764, -32764, 8191, -8192};
  if (rng() % 4 == 0) return kEdges[rng() % (sizeof kEdges / sizeof kEdges[0])];
  return static_cast<std::int16_t>(rng());
}

// A row as store_row makes it from a DQ magnitude (up to 16 bits) or an SR value.
void random_row(std::mt19937 &rng, std::int16_t *e, std::int16_t *m8, std::int16_t *raw) {
  std::int16_t row[kRowWords];
  const int kind = static_cast<int>(rng() % 4);
  int mag;
  if (kind == 0) {
    mag = 0;
  } else if (kind == 1) {
    mag = static_cast<int>(rng() % 65536);  // beyond what the inverse quantiser reaches
  } else {
    mag = static_cast<int>(rng() % 32768) >> (rng() % 15);
  }
  store_row(row, mag, static_cast<std::int16_t>(rng()));
  *e = row[0];
  *m8 = row[1];
  *raw = row[2];
}

TEST(G726Lanes, Sse2ProductsMatchTheReference) {
  std::mt19937 rng(44);
  for (int n = 0; n < 200000; ++n) {
    alignas(16) std::int16_t coef[8], e[8], m8[8], raw[8];
    for (int i = 0; i < 8; ++i) {
      coef[i] = random_coef(rng);
      random_row(rng, &e[i], &m8[i], &raw[i]);
    }
    const auto load = [](const std::int16_t *p) { return _mm_load_si128(reinterpret_cast<const __m128i *>(p)); };
    const Fmult8 ref = fmult8_portable(coef, e, m8, raw);
    const Fmult8 fast = fmult8_sse2(load(coef), load(e), load(m8), load(raw));
    ASSERT_EQ(fast.zero_sum, ref.zero_sum) << "case " << n;
    ASSERT_EQ(fast.pole_sum, ref.pole_sum) << "case " << n;
  }
}

TEST(G726Lanes, Sse2ZeroUpdateMatchesTheReference) {
  std::mt19937 rng(45);
  for (int n = 0; n < 100000; ++n) {
    alignas(16) std::int16_t coef[8], old_raw[8], fast[8];
    for (int i = 0; i < 8; ++i) {
      coef[i] = random_coef(rng);
      old_raw[i] = static_cast<std::int16_t>(rng());
    }
    const int dq_raw = static_cast<std::int16_t>(rng());
    const int dqmag = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 32768);
    std::int16_t ref[8];
    std::memcpy(ref, coef, sizeof ref);
    const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i *>(coef));
    const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i *>(old_raw));
    if (n % 2) {
      zero_update_portable<8>(ref, old_raw, dq_raw, dqmag);
      _mm_store_si128(reinterpret_cast<__m128i *>(fast), zero_update_sse2<8>(c, r, dq_raw, dqmag));
    } else {
      zero_update_portable<9>(ref, old_raw, dq_raw, dqmag);
      _mm_store_si128(reinterpret_cast<__m128i *>(fast), zero_update_sse2<9>(c, r, dq_raw, dqmag));
    }
    for (int i = 0; i < 6; ++i) ASSERT_EQ(fast[i], ref[i]) << "case " << n << " lane " << i;
  }
}
#endif

// Everything a record carries from one call to the next.
void expect_same_record(const G726_State &a, const G726_State &b) {
  EXPECT_EQ(a.yup, b.yup);
  EXPECT_EQ(a.ylp, b.ylp);
  EXPECT_EQ(a.apr, b.apr);
  EXPECT_EQ(a.dmsp, b.dmsp);
  EXPECT_EQ(a.dmlp, b.dmlp);
  EXPECT_EQ(a.tdr, b.tdr);
  EXPECT_EQ(a.pk0, b.pk0);
  EXPECT_EQ(a.pk1, b.pk1);
  EXPECT_EQ(a.a1r, b.a1r);
  EXPECT_EQ(a.a2r, b.a2r);
  EXPECT_EQ(0, std::memcmp(a.br, b.br, sizeof a.br));
  EXPECT_EQ(0, std::memcmp(a.dq_dat, b.dq_dat, sizeof a.dq_dat));
  EXPECT_EQ(0, std::memcmp(a.sr_dat, b.sr_dat, sizeof a.sr_dat));
}

TEST(G726Lanes, OneLongCallAndManyShortOnesLeaveTheSameRecord) {
  std::mt19937 rng(46);
  std::vector<std::int16_t> pcm(3001);
  double phase = 0;
  for (auto &v : pcm) {
    phase += 0.05 + 0.3 * (rng() % 100) / 100.0;
    v = static_cast<std::int16_t>(12000 * std::sin(phase) + static_cast<int>(rng() % 2001) - 1000);
  }
  for (int rate = 2; rate <= 5; ++rate) {
    G726_State whole{}, parts{}, single{};
    for (G726_State *s : {&whole, &parts, &single}) g726_configure(s, static_cast<G726_Rate>(rate), G726_LINEAR);
    auto in_whole = pcm, in_parts = pcm;
    std::vector<std::int16_t> out_whole(pcm.size()), out_parts(pcm.size()), out_single(pcm.size());
    g726_encode(in_whole.data(), out_whole.data(), &whole, static_cast<int>(pcm.size()));
    for (std::size_t p = 0, k = 0; p < pcm.size(); ++k) {
      const std::size_t len = std::min<std::size_t>(1 + (k * 29) % 97, pcm.size() - p);
      g726_encode(&in_parts[p], &out_parts[p], &parts, static_cast<int>(len));
      p += len;
    }
    for (std::size_t i = 0; i < pcm.size(); ++i) {
      std::int16_t sr, se, y;
      out_single[i] = g726_common(1, static_cast<std::int16_t>(pcm[i] >> 2), &sr, &se, &y, &single);
    }
    EXPECT_EQ(out_parts, out_whole) << "rate " << rate;
    EXPECT_EQ(out_single, out_whole) << "rate " << rate;
    expect_same_record(parts, whole);
    expect_same_record(single, whole);
  }
}

}  // namespace
