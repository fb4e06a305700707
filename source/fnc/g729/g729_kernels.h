// Vector kernels of the G.729 Annex A/B codec: filters, correlations, quantiser searches and the
// fixed-codebook search steps. Portable C++ with the exact lane sums, tie-breaks and saturation
// that the codec's bit stream depends on; every kernel is stateless.
#pragma once

#include "g729.h"
#include "g729_ops.h"

namespace g729 {

// --- filter and signal kernels ---
void g729ab_Pre_Process(PrePostProcessState* st, W16* in, W16* out, int mode);
void g729ab_Residu(const W16* a, const W16* x, W16* y);
void g729ab_Syn_filt2(const W16* a, const W16* x, W16* y);
int g729ab_Syn_filt3(const W16* a, const W16* x, W16* y);
void g729ab_Weight_Az(const W16* a, const W16* gamma_tab, W16* ap);
void g729ab_preemphasis(W16* mem, W16* signal, W16 g);
W32 g729a_agc_nrg(const W16* x);
void g729ab_agcLoop(W16* sig_out, W16* gains, W16 g0);
void g729ab_Vec_mult_r(const W16* in, const W16* window, W16* out, int n);
void g729ab_ACF(W16* y, W32* r, int norm);
W16 g729ab_Chebps_11(W16 x, const W32* f, const W16* params);
W16 g729ab_div_s(W16 num, W16 den);
void g729ab_Pred_lt_3_fast(W16* exc, int t0, int frac);
void g729ab_Pred_lt_3_dec(W16* exc, int t0, int frac);
W16 g729ab_ComputeZeroCross(const W16* x);
void g729ab_CalcTargetVec(const W16* y1, const W16* xn, W16 gain, W16* out);
void g729ab_TotalExc(W16* exc, const W16* code, W16 gain_pit, W16 gain_code, int mode);
void g729ab_Calc_exc_gain(W16* excg, W16 cur_gain, W32 L_inv);

// --- correlations, energies and vector utilities ---
W32 g729ab_Vec_L_mac8(const W16* x, const W16* y, int n, W32 acc);
void g729ab_4Vec_L_mac8(const W16* x, const W16* y, int n, W32* out);
void g729ab_comp_corr_loop(const W16* x, const W16* y, int nlag, W32* out, int len);
W32 g729ab_Vec_L_sqa(const W16* x, int n, W32 acc);
W32 g729ab_Vec_L_sqa_2(const W16* x, int n, W32 acc);
W32 g729ab_Vec_L_sqa_40(const W16* x, W32 acc);
W32 g729ab_Vec_L_abs_max(const W32* L, int n);
void g729ab_Vec_shr_8(const W16* x, W16* y, int s, int n);
void g729ab_Vec_shl_8(const W16* x, W16* y, int s, int n);
void g729ab_Vec_L_shl_ExtractH(const W32* L, W16* y, int s, int n);
void g729ab_Vec_shl3_split(const W16* x, W16* even, W16* odd, int n);
void g729ab_Vec_shr3_split(const W16* x, W16* even, W16* odd, int n);
void g729ab_Vec_split(const W16* x, W16* even, W16* odd, int n);
void g729ab_Vec_Add4(const W16* a, const W16* b, W16* c, int n);
void g729ab_Vec_Sub4(const W16* a, const W16* b, W16* c, int n);
void g729ab_Set_zero(W16* p, int n);
void g729ab_Set_const(W16* p, W16 value, int n);

// --- LSP quantiser kernels ---
void g729ab_Lsp_prev_compose(const W16* lsp_ele, W16* lsp, const W16 (*fg)[10], const W16 (*freq_prev)[10], const W16* fg_sum);
void g729ab_Lsp_prev_extract(const W16* lsp, W16* lsp_ele, const W16 (*fg)[10], const W16 (*freq_prev)[10], const W16* fg_sum_inv);
void g729ab_Get_wegt(const W16* flsp, W16* wegt);
void g729ab_Lsp_pre_select(const W16* rbuf, const W16* codebook, W32* cand);
int g729ab_Lsp_select_1(const W16* rbuf, const W16* cb1, const W16* wegt, const W16* codebook);
void g729ab_Lsp_get_tdist(const W16* wegt, const W16* buf, W32* L_tdist, const W16* rbuf, const W16* fg_sum);

// --- gain quantiser kernels ---
void g729ab_Qua_gainLoop2_PreSrch(const W16 (*g1)[2], const W16 (*g2)[2], W16 gcode0, W16* table);
int g729ab_Qua_gainLoop2_Srch(const W32* coeff, const W16* table);

// --- fixed-codebook search kernels ---
void g729ab_Cor_h_loop2_3_4_5(const W16* h, const W16* h2, W16* rr);
void g729ab_D4i40_SetSign(W16* dn, W16* psign, W16* nsign);
void g729ab_D4i40_ModRrixiy1(W16* rr01, const W16* psign, const W16* psignTrk, const W16* nsignTrk);
void g729ab_D4i40_ModRrixiy2(W16* rr12, const W16* psign, const W16* psignTrk, const W16* nsignTrk);
void g729ab_D4i40_ModRrixiy3(W16* rr23, const W16* psign, const W16* psignTrk, const W16* nsignTrk);
void g729ab_D4i40_CalcRrv_NB_POS(const W16* A, const W16* B, const W16* C, W32* rrv);
void g729ab_D4i40_CalcRrv_1(const W16* A, const W16* B, const W16* C, W32* rrv);
void g729ab_D4i40_cbs_NB_POS_1(W32 alp0, const W16* R1, const W16* R2, const W16* dn, W16 ps0, W16* index, W16* sq, W16* alp);
void g729ab_D4i40_cbs_NB_POS_2(W32 alp0, const W16* R1, const W16* R2, const W16* dn, W16 ps0, W16* index, W16* sq, W16* alp,
                               W16* best_sq, W16* best_alp, W16* best_index);
void g729ab_CBS2_PulsePosition_MR122(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                                     const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index);

// rr layout: 40 diagonal words (track-major), then nine 8 x 8 blocks of the track pairs below.
enum : int { kRrDiag = 0, kRr01 = 40, kRr02 = 104, kRr03 = 168, kRr04 = 232, kRr12 = 296, kRr13 = 360, kRr14 = 424, kRr23 = 488,
             kRr24 = 552, kRrSize = 616 };

// Four partial sums of doubled products, lane k taking the terms with index k modulo 4,
// joined as (p0 + p2) + (p1 + p3) with saturation at each join.
W32 g729PartialSums4(const W16* x, const W16* y, int n);
// True when n doubled products of any values from x[0..nx) and y[0..ny) sum without any lane or
// join saturating; then g729PlainSums equals g729PartialSums4 on such vectors.
bool g729SumsCannotSaturate(const W16* x, int nx, const W16* y, int ny, int n);
W32 g729PlainSums(const W16* x, const W16* y, int n);
// True when no sum of products x[i]·y[j] (any pairing, as along any lag of y) can saturate as a
// chain of doubled products: twice √(Σx² · Σy²) stays inside 32 bits.
bool g729EnergiesCannotSaturate(const W16* x, int nx, const W16* y, int ny);

// The plain sums, in 32-bit wrapping arithmetic: the portable reference and its SSE2 form
// (x86-64's baseline) give the same bits on any input; g729PlainSums runs the fastest form built.
W32 g729PlainSumsPortable(const W16* x, const W16* y, int n);
#if defined(ORVOX_X86_SIMD)
W32 g729PlainSumsSse2(const W16* x, const W16* y, int n);
#endif
// out[m] = g729PlainSums(x, y + m, len) for the nlag lags m: reference, SSE2 form, fastest built.
void g729PlainLagsPortable(const W16* x, const W16* y, int nlag, W32* out, int len);
#if defined(ORVOX_X86_SIMD)
void g729PlainLagsSse2(const W16* x, const W16* y, int nlag, W32* out, int len);
#endif
void g729PlainLags(const W16* x, const W16* y, int nlag, W32* out, int len);

// The pair search of g729ab_CBS2_PulsePosition_MR122: the portable reference (any input) and
// its SSE2 form, which gives the same bits wherever no energy can saturate.
void g729Cbs2PulsePositionPortable(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                                   const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index);
bool g729Cbs2CannotSaturate(const W32* alp0, const W16* weights);
#if defined(ORVOX_X86_SIMD)
void g729Cbs2PulsePositionSse2(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                               const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index);
#endif

// The search's comparison: candidate (sq_c, alp_c) beats the best (sq_b, alp_b) when the
// saturating 2·sq_c·alp_b - 2·sq_b·alp_c is positive. Saturation keeps the sign, and the one
// clipped product (-32768)² changes no outcome, so the exact products decide alike.
inline bool g729Better(W16 sq_c, W16 alp_c, W16 sq_b, W16 alp_b) {
    return std::int64_t{sq_c} * alp_b > std::int64_t{sq_b} * alp_c;
}

// The off-diagonal words of rr (as g729ab_Cor_h_loop2_3_4_5) in plain arithmetic, valid where
// no running sum can saturate: reference, SSE2 form (the same bits on any input), fastest built.
void g729CorMatrixPlainPortable(const W16* h, const W16* h2, W16* rr);
#if defined(ORVOX_X86_SIMD)
void g729CorMatrixPlainSse2(const W16* h, const W16* h2, W16* rr);
#endif
void g729CorMatrixPlain(const W16* h, const W16* h2, W16* rr);

}  // namespace g729

namespace g729 {

// --- LSP quantiser searches in AVX2, chosen at start-up; the portable kernels above are the
// reference and stay in use on processors without AVX2 ---
bool g729HasAvx2();
// Same results as g729ab_Lsp_pre_select over the first-stage codebook, for any rbuf.
W32 g729ab_Lsp_pre_select_avx2(const W16* rbuf);
// Same result as g729ab_Lsp_select_1 over the second-stage half `half` (0: elements 0-4,
// 1: elements 5-9) for weights from 0 to 32767, as the weighting always produces.
int g729ab_Lsp_select_1_avx2(const W16* rbuf, const W16* cb1, const W16* wegt, int half);

// --- plain-sum synthesis filter: the portable reference and its SSE2 form (the baseline of
// x86-64, so no choice at start-up) ---
// True when the coefficients let every sum of the synthesis filter run in plain 32-bit
// arithmetic, for any input and past outputs.
bool g729SynPlainAllowed(const W16* a);
// n_out outputs (a multiple of 4, 40 for a subframe) of 1/A(z) with y[-10..-1] as the past;
// returns whether an output saturated.
bool g729SynFiltPlain(const W16* a, const W16* x, W16* y, int n_out = 40);
bool g729SynFiltPlainSse2(const W16* a, const W16* x, W16* y, int n_out = 40);

// --- the Chebyshev series of the LSP root search, inline for the search's many evaluations
// (g729ab_Chebps_11 is its out-of-line form) ---
inline W32 g729WrapAdd(W32 a, W32 b) { return static_cast<W32>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b)); }
inline W32 g729WrapSub(W32 a, W32 b) { return static_cast<W32>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)); }
inline W16 g729Chebps(W16 x, const W32* f, const W16* params) {
    const W32 h = params[0], sx = params[1], sf = params[2];
    W32 b2 = h * 65536;
    W32 b1 = g729WrapAdd(W32{x} * (W32{1} << sx), f[1]);
    for (int k = 2; k <= 4; ++k) {
        W32 prod = static_cast<W32>((std::int64_t{b1} * x) >> 16);
        W32 b0 = g729WrapSub(g729WrapAdd(static_cast<W32>(static_cast<std::uint32_t>(prod) * 4u), f[k]), b2);
        b2 = b1;
        b1 = b0;
    }
    W32 prod = static_cast<W32>((std::int64_t{b1} * x) >> 16);
    W32 t = g729WrapSub(g729WrapAdd(static_cast<W32>(static_cast<std::uint32_t>(prod) * 2u), f[5]), b2);
    t = static_cast<W32>(static_cast<std::uint32_t>(t) << (sf - 6));
    return sat16(t >> 10);
}

// --- the 32 x 32 product of two double-precision words, inline for the Levinson recursion
// (g729ab_MPY_32 is its out-of-line form) ---
inline W32 g729Mpy32(W32 a, W32 b) {
    W32 hi1 = dp_hi(a), lo1 = dp_lo(a), hi2 = dp_hi(b), lo2 = dp_lo(b);
    std::uint32_t r = static_cast<std::uint32_t>(2 * hi1 * hi2) + static_cast<std::uint32_t>(2 * ((hi1 * lo2) >> 15)) +
                      static_cast<std::uint32_t>(2 * ((lo1 * hi2) >> 15));
    return static_cast<W32>(r);
}

// The largest |x[i]| of n samples (32768 for -32768).
int g729LargestMagnitude(const W16* x, int n);

}  // namespace g729
