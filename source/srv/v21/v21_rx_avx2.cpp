// The V.21 receiver's sub-tick on processors with AVX2. The channel filter's outputs are summed
// eight at a time and stay in registers through the discriminator to the slices; the level's
// serial chain reads their magnitudes while the next ones are summed. Every step gives the plain
// form's bits: the same products in 32-bit sums that wrap alike in any order, the same
// saturations and the same low halves.
#include <cstring>
#include <utility>

#include "v21.h"
#include "v21_tables.h"
#include "vc_dot_avx2.h"

#if defined(VC_HAVE_AVX2_KERNELS)

namespace {

constexpr int kOut = V21_RX_OUT;
constexpr int kLanes = 32;   // four groups of eight sums: the last two lanes are zero, read by no one
constexpr int kTaps = 67;    // per branch of the channel filter
constexpr int kBranch = 69;  // the branch's taps, its control word and its input advance
constexpr int kLead = 5;     // zeros in front of the taps: 72 = four sixteens and an eight
constexpr int kPadded = 80;
static_assert(kOut == 30 && kOut % 3 == 0);
// a lane's first sample is its newest less 71; the first output's newest is the window's 77th
static_assert(V21_HISTORY >= kTaps - 1 + kLead);

// The branches' input advances, as the generated table ends each branch: the positions of a
// sub-tick's outputs follow from them at compile time.
constexpr int kAdvance[3] = {1, 1, 2};

// Where each lane's 72 samples begin in the sub-tick's window and which branch it takes, for each
// branch a sub-tick can start on.
struct LanePlaces {
  int at[3][kLanes];
  int branch[3][kLanes];
};

constexpr LanePlaces makeLanePlaces() {
  LanePlaces p{};
  for (int start = 0; start < 3; ++start) {
    int newest = V21_HISTORY;
    for (int k = 0; k < kLanes; ++k) {  // the two zero lanes placed as output 29, never read
      p.at[start][k] = newest - (kTaps - 1) - kLead;
      p.branch[start][k] = (start + (k < kOut ? k : kOut - 1)) % 3;
      if (k < kOut - 1) newest += kAdvance[(start + k) % 3];
    }
  }
  return p;
}

constexpr LanePlaces kPlaces = makeLanePlaces();

// Each branch's taps behind kLead zeros.
struct WideTaps {
  alignas(32) int16_t t[3][kPadded];
};

WideTaps makeWideTaps() {
  WideTaps w{};
  for (int b = 0; b < 3; ++b)
    for (int i = 0; i < kTaps; ++i) w.t[b][kLead + i] = hstv21HChnlflt0[b * kBranch + i];
  return w;
}

const WideTaps kWideTaps = makeWideTaps();  // the generated table is constant-initialised

__attribute__((target("avx2"))) inline __m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// One output's 72 products summed to eight lanes.
template <int Start>
__attribute__((target("avx2"))) inline __m256i outputLanes(const int16_t* window, int lane) {
  const int16_t* x = window + kPlaces.at[Start][lane];
  const int16_t* h = kWideTaps.t[kPlaces.branch[Start][lane]];
  const __m256i a = _mm256_add_epi32(_mm256_madd_epi16(load16(x), load16(h)),
                                     _mm256_madd_epi16(load16(x + 16), load16(h + 16)));
  const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(load16(x + 32), load16(h + 32)),
                                     _mm256_madd_epi16(load16(x + 48), load16(h + 48)));
  const __m128i tail = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 64)),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(h + 64)));
  return _mm256_add_epi32(_mm256_add_epi32(a, b), _mm256_zextsi128_si256(tail));
}

// Sixteen outputs in order from two groups of eight, saturated as sat16 saturates.
__attribute__((target("avx2"))) inline __m256i sixteenOutputs(__m256i first, __m256i second) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8);  // the pack interleaves the halves
}

// Leaves the steps around it where they are: the compiler would gather the level's steps after
// the sums, where the serial chain has nothing beside it.
__attribute__((target("avx2"))) inline void keepOrder(__m256i& v) { asm volatile("" : "+x"(v)); }
inline void keepOrder(int32_t& v) { asm volatile("" : "+r"(v)); }

// The channel filter's 30 outputs (and two zero lanes) in four groups of eight, and the level over
// them. The level is a serial chain of multiplies: its steps for one group are taken between the
// next group's sums, so that the chain runs while the sums are made.
struct FilterAndLevel {
  __m256i group[4];
  int32_t level;
};

template <int Start>
__attribute__((target("avx2"))) FilterAndLevel filterAndLevel(const int16_t* window, int32_t level) {
  FilterAndLevel r;
  alignas(16) uint16_t magnitude[kLanes];  // abs(-32768) read unsigned is 32768
#pragma GCC unroll 4
  for (int g = 0; g < 4; ++g) {
    // pairs of outputs summed across their lanes as they come: few registers live
    __m256i pair[4];
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) {
      const int lane = 8 * g + 2 * q;
      __m256i a = lane < kOut ? outputLanes<Start>(window, lane) : _mm256_setzero_si256();
      keepOrder(a);
      if (g > 0) level = v21LevelStep(level, magnitude[lane - 8]);
      keepOrder(level);
      __m256i b = lane + 1 < kOut ? outputLanes<Start>(window, lane + 1) : _mm256_setzero_si256();
      keepOrder(b);
      if (g > 0) level = v21LevelStep(level, magnitude[lane - 7]);
      keepOrder(level);
      pair[q] = _mm256_hadd_epi32(a, b);
    }
    const __m256i u0 = _mm256_hadd_epi32(pair[0], pair[1]);  // outputs 0..3, each half's sums
    const __m256i u1 = _mm256_hadd_epi32(pair[2], pair[3]);  // outputs 4..7
    r.group[g] = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_permute2x128_si256(u0, u1, 0x20), _mm256_permute2x128_si256(u0, u1, 0x31)), 15);
    const __m128i saturated =
        _mm_packs_epi32(_mm256_castsi256_si128(r.group[g]), _mm256_extracti128_si256(r.group[g], 1));
    _mm_store_si128(reinterpret_cast<__m128i*>(magnitude + 8 * g), _mm_abs_epi16(saturated));
  }
#pragma GCC unroll 8
  for (int k = 24; k < kOut; ++k) level = v21LevelStep(level, magnitude[k]);
  r.level = level;
  return r;
}

// [before[15], now[0..14]]: each output next to the one before it.
__attribute__((target("avx2"))) inline __m256i withOneBefore(__m256i now, __m256i before) {
  return _mm256_alignr_epi8(now, _mm256_permute2x128_si256(before, now, 0x21), 14);
}

// The discriminator (see the plain form): r = sat16((w1 s[k-1] + w2 s[k]) >> 15), then the low 16
// bits of (r s[k]) >> 15.
__attribute__((target("avx2"))) inline __m256i discriminate16(__m256i before, __m256i now, __m256i weights) {
  const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(before, now), weights), 15);
  const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(before, now), weights), 15);
  const __m256i r = _mm256_packs_epi32(lo, hi);  // unpacks and pack both per half: in order again
  return _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(r, now), 1),
                         _mm256_srli_epi16(_mm256_mullo_epi16(r, now), 15));
}

// The sixteen values from index O of the four registers read as one run of 64 (O 0..48): taken
// from the registers rather than from memory just written, which a load would wait on.
template <int O>
__attribute__((target("avx2"))) inline __m256i sixteenFrom(const __m256i (&v)[4]) {
  constexpr int q = O / 16, r = O % 16;
  if constexpr (r == 0) return v[q];
  const __m256i middle = _mm256_permute2x128_si256(v[q], v[q + 1], 0x21);  // [v[q] high, v[q+1] low]
  if constexpr (r < 8) return _mm256_alignr_epi8(middle, v[q], 2 * r);
  else return _mm256_alignr_epi8(v[q + 1], middle, 2 * (r - 8));
}

// Two taps' products added for sixteen outputs, a holding the values for the first tap and b
// those for the second; the sums of the outputs in each half's low four lanes, then high four.
__attribute__((target("avx2"))) inline void addTapPair(__m256i (&sums)[2], __m256i a, __m256i b, int32_t taps) {
  const __m256i pair = _mm256_set1_epi32(taps);
  sums[0] = _mm256_add_epi32(sums[0], _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pair));
  sums[1] = _mm256_add_epi32(sums[1], _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pair));
}

// Where sixteen low-pass sums are negative, for the outputs from First on; v holds 12 unused
// values, the 20 discriminator outputs kept before output 0, then the 32 of the sub-tick. Each
// multiply-add takes a pair of taps for every output (small positive taps: no pair overflows)
// and the 32-bit sums wrap as the one-by-one sums do.
template <int First, int... J>
__attribute__((target("avx2"))) inline __m256i lowpassNegative(const __m256i (&v)[4],
                                                               std::integer_sequence<int, J...>) {
  constexpr auto pair = [](int i) {
    return static_cast<int32_t>((uint32_t(uint16_t(hstv21lpf[i + 1])) << 16) | uint16_t(hstv21lpf[i]));
  };
  __m256i sums[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
  // output n's sum takes taps 0..19 against values n - 19 .. n, at 12 + 20 + n in v
  (addTapPair(sums, sixteenFrom<13 + First + 2 * J>(v), sixteenFrom<14 + First + 2 * J>(v), pair(2 * J)), ...);
  return _mm256_packs_epi32(_mm256_srai_epi32(sums[0], 31), _mm256_srai_epi32(sums[1], 31));
}

}  // namespace

__attribute__((target("avx2"))) bool v21RxDemodAvx2(V21LOCLMEM* m, bool always) {
  HSZV21RX& rx = m->hsxv21rx;
  __m256i s0 = _mm256_setzero_si256(), s1 = s0;
  if (!m->lineQuiet) {
    // a sub-tick takes the three branches a whole number of times: it ends on the one it began with
    const int start = static_cast<int>(rx.hsxdwnsmplcoefp - hstv21HChnlflt0) / kBranch;
    const FilterAndLevel f = start == 0   ? filterAndLevel<0>(m->linearbufp, rx.hsxpowlevel)
                             : start == 1 ? filterAndLevel<1>(m->linearbufp, rx.hsxpowlevel)
                                          : filterAndLevel<2>(m->linearbufp, rx.hsxpowlevel);
    s0 = sixteenOutputs(f.group[0], f.group[1]);
    s1 = sixteenOutputs(f.group[2], f.group[3]);
    rx.hsxpowlevel = static_cast<int16_t>(f.level);
  } else if (rx.hsxpowlevel != 0) {  // every sample zero: so is every output, and a level at zero stays
    int32_t level = rx.hsxpowlevel;
    for (int k = 0; k < kOut; ++k) level = v21LevelStep(level, 0);
    rx.hsxpowlevel = static_cast<int16_t>(level);
  }
  if (!v21RecoverNow(m, always)) return false;

  const int16_t* w = rx.hsxphaseshftcoefp;
  const __m256i weights =
      _mm256_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(w[2])) << 16) | uint16_t(w[1])));
  const __m256i d0 = discriminate16(withOneBefore(s0, _mm256_set1_epi16(rx.hsxxprev1)), s0, weights);
  const __m256i d1 = discriminate16(withOneBefore(s1, s0), s1, weights);
  rx.hsxxprev2 = static_cast<int16_t>(_mm256_extract_epi16(s1, kOut - 2 - 16));
  rx.hsxxprev1 = static_cast<int16_t>(_mm256_extract_epi16(s1, kOut - 1 - 16));

  // the 20 discriminator outputs kept from the last sub-tick, then these
  static_assert(sizeof(rx.hsxy) == 20 * sizeof(int16_t));
  uint64_t keptFirst;
  std::memcpy(&keptFirst, rx.hsxy, sizeof(keptFirst));
  const __m256i v[4] = {_mm256_set_epi64x(static_cast<int64_t>(keptFirst), 0, 0, 0),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rx.hsxy + 4)), d0, d1};
  const auto taps = std::make_integer_sequence<int, 10>();
  const __m256i negative = _mm256_permute4x64_epi64(
      _mm256_packs_epi16(lowpassNegative<0>(v, taps), lowpassNegative<16>(v, taps)), 0xD8);
  const uint32_t slices = ~static_cast<uint32_t>(_mm256_movemask_epi8(negative));
  // the last 20 kept for the next sub-tick
  alignas(32) int16_t now[kLanes];
  _mm256_store_si256(reinterpret_cast<__m256i*>(now), d0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(now + 16), d1);
  std::memcpy(rx.hsxy, now + kOut - 20, sizeof(rx.hsxy));
  v21RecoverBits(rx, slices);
  return true;
}

#endif
