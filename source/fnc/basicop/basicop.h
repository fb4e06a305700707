// Shared fixed-point basic operators of the signal-processing library: the saturating 16/32-bit
// arithmetic of the ITU-T basic-operator set with its process-wide Overflow flag, the G.729
// maths routines and random generator, and block forms. The codecs carry private copies of what
// they need; this copy serves the library's own routines, which run on the DSP tick thread only.
#pragma once

#include <cstdint>

using SINT16 = std::int16_t;
using SINT32 = std::int32_t;

// Set to 1 by any operator that saturates; never cleared by the saturating operators (the
// carry-propagating additions and L_sat set and clear it as the standard does).
extern SINT16 Overflow;
// Carry of the carry-propagating additions L_add_c and L_sub_c.
extern SINT16 Carry;

SINT16 sature(SINT32 x);
SINT16 add(SINT16 a, SINT16 b);
SINT16 sub(SINT16 a, SINT16 b);
SINT16 shl(SINT16 a, SINT16 s);
SINT16 shr(SINT16 a, SINT16 s);
SINT16 shr_r(SINT16 a, SINT16 s);
SINT16 mult(SINT16 a, SINT16 b);
SINT16 mult_r(SINT16 a, SINT16 b);
SINT16 negate(SINT16 a);
SINT16 extract_h(SINT32 x);
SINT16 extract_l(SINT32 x);
SINT16 round(SINT32 x);
SINT32 L_mult(SINT16 a, SINT16 b);
SINT32 L_mac(SINT32 acc, SINT16 a, SINT16 b);
SINT32 L_msu(SINT32 acc, SINT16 a, SINT16 b);
SINT32 L_add(SINT32 a, SINT32 b);
SINT32 L_sub(SINT32 a, SINT32 b);
SINT32 L_shl(SINT32 x, SINT16 s);
SINT32 L_shr(SINT32 x, SINT16 s);
SINT32 L_shr_r(SINT32 x, SINT16 s);
SINT32 L_negate(SINT32 x);
SINT32 L_abs(SINT32 x);
SINT32 L_deposit_h(SINT16 a);
SINT32 L_deposit_l(SINT16 a);
SINT16 norm_l(SINT32 x);
SINT16 abs_s_itu(SINT16 a);
SINT16 norm_s_itu(SINT16 a);
// 0 <= num <= den, den > 0 (not checked): the Q15 quotient, 32767 when num equals den.
SINT16 div_s_itu(SINT16 num, SINT16 den);
SINT16 mac_r(SINT32 acc, SINT16 a, SINT16 b);
SINT16 msu_r(SINT32 acc, SINT16 a, SINT16 b);
SINT32 L_add_c(SINT32 a, SINT32 b);
SINT32 L_sub_c(SINT32 a, SINT32 b);
SINT32 L_macNs(SINT32 acc, SINT16 a, SINT16 b);
SINT32 L_msuNs(SINT32 acc, SINT16 a, SINT16 b);
SINT32 L_sat(SINT32 x);

// Added operators.
SINT32 I_mult(SINT16 a, SINT16 b);  // plain product: no doubling, no saturation
SINT32 I_mac(SINT32 acc, SINT16 a, SINT16 b);
SINT32 I_msu(SINT32 acc, SINT16 a, SINT16 b);
// L_mac and L_shl that report saturation in *ovf instead of Overflow.
SINT32 L_maco(SINT32 acc, SINT16 a, SINT16 b, SINT16* ovf);
SINT32 L_shlo(SINT32 x, SINT16 s, SINT16* ovf);
SINT32 L_mls(SINT32 x, SINT16 v);     // 32 by 16 fractional product
SINT16 div_l(SINT32 num, SINT16 den);  // 0 <= num, den > 0 (not checked)
SINT16 i_mult(SINT16 a, SINT16 b);     // low 16 bits of the integer product

// G.729 maths routines and random generator.
void Log2(SINT32 L_x, SINT16* exponent, SINT16* fraction);
SINT32 Pow2(SINT16 exponent, SINT16 fraction);
SINT32 Inv_sqrt(SINT32 L_x);
SINT16 Random(SINT16* seed);

// Block forms.
void block_add(SINT16* out, const SINT16* a, const SINT16* b, int n);
void block_sub(SINT16* out, const SINT16* a, const SINT16* b, int n);
void block_shl(SINT16* out, const SINT16* in, int s, int n);
void block_shrC(SINT16* out, const SINT16* in, int s, int n);
void block_extract_h(const SINT32* in, SINT16* out, int n);
void block_F16to32(const SINT16* in, SINT32* out, int n);
SINT32 V_mac_shift_blk8(int n, const SINT16* x, const SINT16* y);
void BlockShortCopy(int n, const SINT16* src, SINT16* dst);
void BlockShortClear(int n, SINT16* dst);
void BlockShortMove10Aligned(const SINT16* src, SINT16* dst);
void BlockShortMove10xAligned(int n, const SINT16* src, SINT16* dst);
void BlockShortClear10xAligned(int n, SINT16* dst);

// Interpolation tables of the maths routines (the G.729 reference's values).
extern const SINT16 basicop_tabpow[33];
extern const SINT16 basicop_tablog[33];
extern const SINT16 basicop_tabsqr[49];
