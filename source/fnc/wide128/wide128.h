// 128-bit integers for the exact intermediate products of the codecs: squares of 64-bit
// correlations times energies, Q31 x Q31 products before their rounding shift, and the like.
//
// Where the compiler has a 128-bit integer (64-bit targets) orvox::Int128 and orvox::UInt128 are
// that type, so x86-64 and aarch64 keep their code. Elsewhere (32-bit targets) they are a pair of
// 64-bit words with the same operations and the same wrap-around at 2^128, so every result is the
// same bit for bit. ORVOX_PORTABLE_INT128 takes the two-word form on a 64-bit build too, to check
// that against the digests.
#pragma once

#include <concepts>
#include <cstdint>

#if defined(__SIZEOF_INT128__) && !defined(ORVOX_PORTABLE_INT128)

namespace orvox {
using Int128 = __int128;
using UInt128 = unsigned __int128;
}  // namespace orvox

#else

namespace orvox {

// a * b as the high and low 64-bit words of the full product.
constexpr void wide128MulU64(std::uint64_t a, std::uint64_t b, std::uint64_t* hi, std::uint64_t* lo) {
  const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  *lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  *hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
}

// A two's-complement 128-bit integer in two words; kSigned chooses the comparisons and the right
// shift (arithmetic or logical), as for the built-in signed and unsigned types.
template <bool kSigned>
struct Wide128 {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;

  constexpr Wide128() = default;
  // From any integer, extended by its own sign as a built-in conversion does.
  template <std::integral T>
  constexpr Wide128(T v) : lo(static_cast<std::uint64_t>(v)), hi(0) {  // NOLINT: implicit like the built-in
    if constexpr (std::is_signed_v<T>) hi = v < 0 ? ~std::uint64_t{0} : 0;
  }
  // To any integer: the low bits, as a built-in narrowing conversion keeps them.
  template <std::integral T>
  explicit constexpr operator T() const {
    return static_cast<T>(lo);
  }

  friend constexpr Wide128 operator+(Wide128 a, Wide128 b) {
    Wide128 r;
    r.lo = a.lo + b.lo;
    r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
    return r;
  }
  friend constexpr Wide128 operator-(Wide128 a) {
    Wide128 r;
    r.lo = ~a.lo + 1;
    r.hi = ~a.hi + (r.lo == 0 ? 1 : 0);
    return r;
  }
  friend constexpr Wide128 operator-(Wide128 a, Wide128 b) { return a + -b; }
  friend constexpr Wide128 operator*(Wide128 a, Wide128 b) {
    Wide128 r;
    wide128MulU64(a.lo, b.lo, &r.hi, &r.lo);
    r.hi += a.lo * b.hi + a.hi * b.lo;
    return r;
  }
  friend constexpr Wide128 operator<<(Wide128 a, int n) {
    if (n == 0) return a;
    Wide128 r;
    if (n >= 64) {
      r.hi = a.lo << (n - 64);
    } else {
      r.hi = (a.hi << n) | (a.lo >> (64 - n));
      r.lo = a.lo << n;
    }
    return r;
  }
  friend constexpr Wide128 operator>>(Wide128 a, int n) {
    if (n == 0) return a;
    // The words the top one shifts in: copies of the sign for a signed value.
    const std::uint64_t fill = kSigned && static_cast<std::int64_t>(a.hi) < 0 ? ~std::uint64_t{0} : 0;
    Wide128 r;
    if (n >= 64) {
      r.lo = n == 64 ? a.hi : (a.hi >> (n - 64)) | (fill << (128 - n));
      r.hi = fill;
    } else {
      r.lo = (a.lo >> n) | (a.hi << (64 - n));
      r.hi = (a.hi >> n) | (fill << (64 - n));
    }
    return r;
  }
  friend constexpr bool operator==(Wide128 a, Wide128 b) { return a.lo == b.lo && a.hi == b.hi; }
  friend constexpr bool operator<(Wide128 a, Wide128 b) {
    if (a.hi != b.hi) {
      if constexpr (kSigned) return static_cast<std::int64_t>(a.hi) < static_cast<std::int64_t>(b.hi);
      return a.hi < b.hi;
    }
    return a.lo < b.lo;
  }
  friend constexpr bool operator>(Wide128 a, Wide128 b) { return b < a; }
  friend constexpr bool operator<=(Wide128 a, Wide128 b) { return !(b < a); }
  friend constexpr bool operator>=(Wide128 a, Wide128 b) { return !(a < b); }
  constexpr Wide128& operator+=(Wide128 b) { return *this = *this + b; }
};

using Int128 = Wide128<true>;
using UInt128 = Wide128<false>;

}  // namespace orvox

#endif
