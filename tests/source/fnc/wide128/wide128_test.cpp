// The two-word 128-bit integers that 32-bit targets use in place of __int128, checked here, where
// the compiler has __int128, against it operation by operation.
#define ORVOX_PORTABLE_INT128 1
#include "wide128.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#if defined(__SIZEOF_INT128__)

namespace {

using orvox::Int128;
using orvox::UInt128;
using Native = __int128;
using UNative = unsigned __int128;

UNative bitsOf(const Int128& v) { return (UNative{v.hi} << 64) | v.lo; }
UNative bitsOf(const UInt128& v) { return (UNative{v.hi} << 64) | v.lo; }
Int128 signedFrom(UNative b) {
  Int128 v;
  v.lo = static_cast<std::uint64_t>(b);
  v.hi = static_cast<std::uint64_t>(b >> 64);
  return v;
}
UInt128 unsignedFrom(UNative b) {
  UInt128 v;
  v.lo = static_cast<std::uint64_t>(b);
  v.hi = static_cast<std::uint64_t>(b >> 64);
  return v;
}

// Operands that reach every carry and sign case: the edges of each word and random words, with
// random high words and with the sign extensions of random 64-bit values.
std::vector<UNative> operands() {
  const std::uint64_t edges[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x100000000,
                                 0x7FFFFFFFFFFFFFFF, 0x8000000000000000, 0xFFFFFFFFFFFFFFFE, 0xFFFFFFFFFFFFFFFF};
  std::vector<UNative> v;
  for (std::uint64_t hi : edges)
    for (std::uint64_t lo : edges) v.push_back((UNative{hi} << 64) | lo);
  std::mt19937_64 rng(128);
  for (int i = 0; i < 200; ++i) {
    v.push_back((UNative{rng()} << 64) | rng());
    v.push_back(static_cast<UNative>(Native{static_cast<std::int64_t>(rng())}));
    v.push_back(static_cast<UNative>(Native{static_cast<std::int64_t>(rng() >> (rng() % 64))}));
  }
  return v;
}

TEST(Wide128, ArithmeticAndComparisonsMatchTheBuiltInTypeBitForBit) {
  const std::vector<UNative> ops = operands();
  for (UNative a : ops) {
    ASSERT_EQ(bitsOf(-signedFrom(a)), UNative{0} - a);  // unsigned: the lowest value negates to itself
    for (UNative b : ops) {
      const Native sa = static_cast<Native>(a), sb = static_cast<Native>(b);
      const Int128 wa = signedFrom(a), wb = signedFrom(b);
      const UInt128 ua = unsignedFrom(a), ub = unsignedFrom(b);
      ASSERT_EQ(bitsOf(wa + wb), a + b);
      ASSERT_EQ(bitsOf(wa - wb), a - b);
      ASSERT_EQ(bitsOf(wa * wb), a * b);
      ASSERT_EQ(bitsOf(ua * ub), a * b);
      Int128 sum = wa;
      sum += wb;
      ASSERT_EQ(bitsOf(sum), a + b);
      ASSERT_EQ(wa < wb, sa < sb);
      ASSERT_EQ(wa > wb, sa > sb);
      ASSERT_EQ(wa <= wb, sa <= sb);
      ASSERT_EQ(wa >= wb, sa >= sb);
      ASSERT_EQ(wa == wb, a == b);
      ASSERT_EQ(ua < ub, a < b);
      ASSERT_EQ(ua >= ub, a >= b);
    }
  }
}

TEST(Wide128, ShiftsMatchTheBuiltInTypeAtEveryCount) {
  for (UNative a : operands()) {
    for (int n = 0; n < 128; ++n) {
      ASSERT_EQ(bitsOf(signedFrom(a) << n), a << n) << n;
      ASSERT_EQ(bitsOf(signedFrom(a) >> n), static_cast<UNative>(static_cast<Native>(a) >> n)) << n;
      ASSERT_EQ(bitsOf(unsignedFrom(a) >> n), a >> n) << n;
    }
  }
}

TEST(Wide128, ConversionsExtendAndNarrowAsTheBuiltInTypeDoes) {
  std::mt19937_64 rng(64);
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t r = rng();
    const auto s64 = static_cast<std::int64_t>(r);
    const auto s32 = static_cast<std::int32_t>(r);
    const auto s16 = static_cast<std::int16_t>(r);
    ASSERT_EQ(bitsOf(Int128{s64}), static_cast<UNative>(Native{s64}));
    ASSERT_EQ(bitsOf(Int128{s32}), static_cast<UNative>(Native{s32}));
    ASSERT_EQ(bitsOf(Int128{s16}), static_cast<UNative>(Native{s16}));
    ASSERT_EQ(bitsOf(Int128{r}), static_cast<UNative>(Native{r}));
    ASSERT_EQ(bitsOf(UInt128{s64}), static_cast<UNative>(s64));
    const UNative wide = (UNative{rng()} << 64) | r;
    ASSERT_EQ(static_cast<std::int64_t>(signedFrom(wide)), static_cast<std::int64_t>(static_cast<Native>(wide)));
    ASSERT_EQ(static_cast<std::int16_t>(signedFrom(wide)), static_cast<std::int16_t>(static_cast<Native>(wide)));
    ASSERT_EQ(static_cast<std::uint32_t>(unsignedFrom(wide)), static_cast<std::uint32_t>(wide));
  }
}

}  // namespace

#endif
