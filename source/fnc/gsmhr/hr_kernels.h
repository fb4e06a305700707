// Vector, energy, correlation and filter kernels of the GSM half-rate codec.
//
// Summing kernels follow one lane rule: element i accumulates into 32-bit saturating lane
// i mod 4 (ascending i unless stated), lanes 0 + 2 and 1 + 3 are added with saturation, then
// those two, then any start value. Filters use direct-form coefficients at scale 2048 and
// shift every coefficient sum left by 4 with saturation.
#pragma once

#include "hr_basic_op.h"

namespace hr {

inline constexpr int S_LEN = 40;   // subframe
inline constexpr int NP = 10;      // LPC order
inline constexpr int N_SUB = 4;    // subframes per frame
inline constexpr int F_LEN = 160;  // frame
inline constexpr int A_LEN = 170;  // LPC analysis window
inline constexpr int LTP_LEN = 147;  // adaptive-codebook history
inline constexpr int CG_INT_MACS = 6;
inline constexpr int W_BUF = 305;  // weighted speech: 145 history + 160

// Lane rule: combine four partial sums, then add the start value.
Word32 hr_lanes(const Word32 acc[4], Word32 L0);

void hr_FrameSave_NEON(Word16* area);
void hr_FrameRestore_NEON(Word16* area);
void hr_Save_Restore(Word16* dst, const Word16* src, Word16* dst2, const Word16* src2);

// Copies and fills.
void hr_Copy(const Word16* src, Word16* dst, int n);
void hr_Set_zero(Word16* x, int n);

// Element-wise kernels.
void hr_Vec_add_SLEN(const Word16* a, const Word16* b, Word16* out);
void hr_Vec_sub_SLEN(const Word16* a, const Word16* b, Word16* out);
void hr_Vec_sub_shr_SLEN(const Word16* a, const Word16* b, Word16* out, Word16 n);
void hr_Vec_shr_SLEN(const Word16* in, Word16* out, Word16 n);
void hr_Vec_shr_ALEN(const Word16* in, Word16* out, Word16 n);
void hr_Vec_shl(const Word16* in, Word16* out, Word16 n);  // the whole 305-word buffer
void hr_Vec_mult_r_NP(const Word16* a, const Word16* b, Word16* out);
void hr_Vec_mult_r_SLEN(const Word16* a, const Word16* b, Word16* out);
void hr_Calc_HNWCoefs(const Word16* in, Word16* out, Word16 g);
void hr_Vec_L_shl_NP(Word32* L, Word16 n);
Word32 hr_Vec_L_min(const Word32* L, int len);
void hr_Interleave4(const Word16* in, Word16* out);

// Energies and correlations.
Word32 hr_Vec_L_sqa_SLEN(const Word16* in, Word32 L0);
Word32 hr_Vec_L_sqa(const Word16* in, int len);
Word32 hr_Vec_L_shr_sqa_SLEN(const Word16* in, Word16 n, Word32 L0);
Word32 hr_Vec_L_shr_sqa_FLEN(const Word16* in, Word16 n, Word32 L0);
Word32 hr_Vec_L_shr_sqa(const Word16* x, int n, Word16 shift, Word32 L_acc);
Word32 hr_Vec_mult_r_Sqa_SLEN(const Word16* in, Word16 g, Word32 L0);
Word32 hr_Vec_L_mac_8(const Word16* a, const Word16* b, Word32 L0);
Word32 hr_Vec_L_mac_SLEN(const Word16* a, const Word16* b);
Word32 hr_Vec_L_mac_FLEN(const Word16* a, const Word16* b);
Word32 hr_Vec_L_mac_const(const Word16* in, Word16 c);
Word16 hr_g_corr1(const Word16* in, Word32* pL);
Word16 hr_g_corr1s(const Word16* in, Word16 s, Word32* pL);
Word16 hr_g_corr2(const Word16* a, const Word16* b, Word32* pL);
void hr_g_quant_vl_corr(const Word16* a, const Word16* b, const Word16* c, Word32* out);

// Filters (x[-10..-1] or y[-10..-1] hold the memory where stated).
void hr_Residu(const Word16* a, const Word16* x, Word16* y);
void hr_Synt(const Word16* a, const Word16* x, Word16* y);
void hr_Synt3(const Word16* a, Word16* buf);
void hr_lpcZsIir(const Word16* a, const Word16* x, Word16* y);
void hr_lpcZsIir4(const Word16* a, const Word16* x, Word16* y);
void hr_lpcZsIirP(const Word16* c, const Word16* x, Word16* y);
void hr_lpcIrZsIir(const Word16* a, Word16* y);
void hr_iir_d(const Word16* c, Word16* x, Word16* state, Word16 sIn, Word16 sOut);

// Decoder and shared loops.
void hr_v_con(const Word16* basis, Word16* out, const Word16* bits, int n);
void hr_v_con2(const Word16* basis, Word16* out, const Word16* bits);
void hr_scaleExcite_v2(const Word16* in, Word16* out, Word16 g);
void hr_scaleExcite_v1(const Word16* in, Word16* out, Word16 g, Word16 s);
void hr_fp_ex_fracLag(Word16* p, const Word16* f, int start, int count, int ip);
void hr_fp_ex_fracLag_SLEN(Word16* p, const Word16* f, int ip);
void hr_pitchPreFilt_loop1(const Word16* x, Word16* y, const Word16* f, Word16 g, int ip);
void hr_pitchPreFilt_loop2(const Word16* x, Word16* out, Word16 g);
void hr_interpolateCheck_Coef(const Word16* nw, const Word16* old, Word16* out, Word16 newPer,
                              Word16 oldPer);
void hr_interpolateCoefs(const Word16* newNum, const Word16* oldNum, const Word16* newDen,
                         const Word16* oldDen, Word16* outNum, Word16* outDen, Word16 newPer,
                         Word16 oldPer);
void hr_spectralPostFilter_loop1(Word16* buf, Word16* state);
Word16 hr_spectralPostFilter_loop2(Word16* buf, Word32 L, Word16 g0, Word16 agc);
void hr_a_sst_Loop(Word32* L, const Word16* w);
Word16 hr_rcToADp(Word16 scale, const Word16* rc, Word16* a);
Word16 hr_aToRc(Word16 shift, const Word16* a, Word16* rc);
void hr_rcToCorrDpL(const Word16* rc, Word32* L);
void hr_aFlatRcDp_Loop1(const Word32* pOld, const Word32* vOld, Word32* pNew, Word32* vNew,
                        Word16 rc, int j);
void hr_initPBarFullVBarFullL(const Word32* in, Word32* pbar, Word32* vbar);

// Encoder search kernels.
void hr_getNWCoefs_CalcACF(const Word16* x, Word32* L);
void hr_calcCFrame(const Word16* x, Word16* out);
void hr_calcGFrame(Word32 L0, const Word16* x, Word16* out);
void hr_fnBest_CG(const Word16* C, const Word16* G, Word16* pCmaxSqr, Word16* pGmax,
                  Word16* pIndex, int n);
void hr_fnBest_CG1(const Word16* C, const Word16* G, Word16* pCmaxSqr, Word16* pGmax,
                   Word16* pIndex, int n);
void hr_fnBest_CG2(Word16* C, Word16* G, Word16* pCmaxSqr, Word16* pGmax, Word16* pIndex);
void hr_CGInterp(const Word16* L, int n, const Word16* C, const Word16* G, int lo, Word16* Cout,
                 Word16* Gout);
void hr_CGInterp2(const Word16* packed, int n, const Word16* C, const Word16* G, int lo,
                  Word16* Cout, Word16* Gout);
int hr_GetBestEnergy(const Word16* table, const Word16* w);
void hr_hnwFilt1(const Word16* in, Word16* out, const Word16* c, int off);
void hr_hnwFilt0(Word16* inout, const Word16* c, int off);
void hr_decorr_Loop(Word16* vect, const Word16* given, Word16 shift, Word16 coef);
void hr_closedLoopLagSearch_Loop1(const Word16* tv, Word16* tv2, const Word16* target,
                                  Word32* pL_G, Word32* pL_C, Word16 shift, int num);

}  // namespace hr
