// Adaptive codebook construction of the iLBC codec.
#include "ilbc_cb.h"

#include <array>

#include "ilbc_kernels.h"
#include "ilbc_tables.h"

namespace ilbc {
namespace {

// alfa*a + (1 - alfa)*b truncated, the weights of pair m of the interpolation table.
i16 ilbc_genCBvec_loop1(int m, i16 a, i16 b) {
  const i16 alfa = ilbc_cbAlphaTbl_q15[2 * m], alfa1 = ilbc_cbAlphaTbl_q15[2 * m + 1];
  return static_cast<i16>(ilbc_L_sub(ilbc_L_mult(alfa, a), ilbc_L_mult(alfa1, b)) >> 16);
}

}  // namespace

i16 ilbc_genCBvec_loop2(const i16* x) {
  i32 s = 0;
  for (int j = 0; j < 8; ++j) s = sat32(i64{s} + ilbc_L_mult(x[j - 3], ilbc_cbfiltersTbl_rev_q15[j]));
  return static_cast<i16>(s >> 16);
}

namespace {

constexpr i32 kCbFilterMagnitude = [] {
  i32 m = 0;
  for (auto c : ilbc_cbfiltersTbl_rev_q15) m += c < 0 ? -c : c;
  return m;
}();

}  // namespace

void ilbc_cb_filter(const i16* p, i16* out, int n) {
  // Inputs up to this magnitude cannot saturate any partial sum of the doubled products: the
  // plain sums are the chain's values.
  constexpr i32 kPlainMax = kMax32 / (2 * kCbFilterMagnitude);
  i32 peak = 0;
  for (int i = -3; i < n + 4; ++i) peak = std::max(peak, p[i] < 0 ? -i32{p[i]} : i32{p[i]});
  if (peak <= kPlainMax) {
    for (int i = 0; i < n; ++i) {
      i32 s = 0;
      for (int j = 0; j < 8; ++j) s += 2 * i32{p[i + j - 3]} * ilbc_cbfiltersTbl_rev_q15[j];
      out[i] = static_cast<i16>(s >> 16);
    }
    return;
  }
  for (int i = 0; i < n; ++i) out[i] = ilbc_genCBvec_loop2(p + i);
}

namespace {

// The augmented vector of lag k/2 taken from memory m (lMem samples).
void augmented_from(i16* out, const i16* m, int lMem, int k, int cbveclen) {
  const int ihigh = k / 2, ilow = ihigh - 5;
  for (int j = 0; j < ilow; ++j) out[j] = m[lMem - k / 2 + j];
  for (int j = ilow; j < ihigh; ++j) out[j] = ilbc_genCBvec_loop1(j - ilow, m[lMem - k + j], m[lMem - k / 2 + j]);
  for (int j = ihigh; j < cbveclen; ++j) out[j] = m[lMem - k + j];
}

}  // namespace

const i32* gain_table(int cblen) {
  if (cblen == 8) return ilbc_gain_sq3Tbl_q30.data();
  if (cblen == 16) return ilbc_gain_sq4Tbl_q30.data();
  return ilbc_gain_sq5Tbl_q30.data();
}

void ilbc_getCBvec(i16* cbvec, const i16* mem, int index, int lMem, int cbveclen) {
  const int lastPlain = lMem - cbveclen;
  const int base_size = lastPlain + 1 + (cbveclen == 40 ? 20 : 0);
  if (index <= lastPlain) {
    ilbc_Copy(mem + lMem - cbveclen - index, cbvec, cbveclen);
    return;
  }
  if (index < base_size) {
    augmented_from(cbvec, mem, lMem, 2 * (index - lastPlain - 1) + cbveclen, cbveclen);
    return;
  }
  // Zero-padded copy of the memory: 4 zeros, the memory, 5 zeros.
  std::array<i16, kCbMemMax + 9> padded{};
  ilbc_Copy(mem, padded.data() + 4, lMem);
  const i16* p = padded.data() + 4;
  const int f = index - base_size;
  if (f <= lastPlain) {
    const int s = lMem - f - cbveclen;
    ilbc_cb_filter(p + s, cbvec, cbveclen);
    return;
  }
  const int k = 2 * (f - lastPlain - 1) + cbveclen;
  const int sFilt = lMem - k;
  std::array<i16, kCbMemMax> tmpbuf_q0{};
  ilbc_cb_filter(p + sFilt, tmpbuf_q0.data() + sFilt, k);
  augmented_from(cbvec, tmpbuf_q0.data(), lMem, k, cbveclen);
}

i32 ilbc_gaindequant(int index, i32 maxIn_q30, int cblen) {
  const i32 scale_q30 = std::max<i32>(maxIn_q30, 107374182);
  return mpy_q30(scale_q30, gain_table(cblen)[index]);
}

void ilbc_iCBConstruct(i16* decvector, const i16* index, const i16* gain_index, const i16* mem, int lMem, int veclen,
                       int nStages) {
  std::array<i32, 3> gain_q30{};
  gain_q30[0] = ilbc_gaindequant(gain_index[0], 1073741824, 32);
  if (nStages > 1) gain_q30[1] = ilbc_gaindequant(gain_index[1], ilbc_L_abs(gain_q30[0]), 16);
  if (nStages > 2) gain_q30[2] = ilbc_gaindequant(gain_index[2], ilbc_L_abs(gain_q30[1]), 8);
  std::array<i16, 40> cbvec_q0{};
  std::array<i32, 40> decvector_q15{};
  for (int s = 0; s < nStages; ++s) {
    ilbc_getCBvec(cbvec_q0.data(), mem, index[s], lMem, veclen);
    for (int j = 0; j < veclen; ++j) {
      const i32 v = sat32((i64{cbvec_q0[j]} * gain_q30[s]) >> 15);  // 2*(x*2^16)*g / 2^32
      decvector_q15[j] = s == 0 ? v : sat32(i64{decvector_q15[j]} + v);
    }
  }
  for (int j = 0; j < veclen; ++j) decvector[j] = static_cast<i16>(sat32(2 * i64{decvector_q15[j]}) >> 16);
}

void ilbc_index_conv_enc(i16* index) {
  for (int k = 1; k < 3; ++k) {
    if (index[k] >= 108 && index[k] < 172)
      index[k] = static_cast<i16>(index[k] - 64);
    else if (index[k] >= 236)
      index[k] = static_cast<i16>(index[k] - 128);
  }
}

void ilbc_index_conv_dec(i16* index) {
  for (int k = 1; k < 3; ++k) {
    if (index[k] >= 44 && index[k] < 108)
      index[k] = static_cast<i16>(index[k] + 64);
    else if (index[k] >= 108 && index[k] < 128)
      index[k] = static_cast<i16>(index[k] + 128);
  }
}

void ilbc_filteredCBvecs(i16* cbvectors, const i16* mem, int lMem, i16* scratch, const i16* rev_taps) {
  ilbc_Set_zero(scratch, 3);
  ilbc_Copy(mem, scratch + 3, lMem);
  ilbc_Set_zero(scratch + 3 + lMem, 5);
  for (int n = 0; n < lMem; ++n) {
    i32 s = 0;
    for (int j = 0; j < 8; ++j) s = sat32(i64{s} + ilbc_L_mult(scratch[n + j], rev_taps[j]));
    cbvectors[n] = sat16((i64{s} + 32768) >> 16);
  }
}

void ilbc_createAugmentedVec_q0(int index, const i16* buffer, i16* cbVec) {
  ilbc_Copy(buffer - index, cbVec, index);
  for (int m = 0; m < 5; ++m) {
    const i16 alfa = static_cast<i16>(m * 6553);
    const i16 ppi = buffer[-index - 5 + m], ppo = buffer[-5 + m];
    const i32 a = sat32(2 * i64{alfa} * ppi), b = sat32(2 * (i64{alfa} - 32768) * ppo);
    cbVec[index - 5 + m] = static_cast<i16>(ilbc_L_sub(a, b) >> 16);
  }
  ilbc_Copy(buffer - index, cbVec + index, 40 - index);
}

}  // namespace ilbc
