// Filter and vector kernels of the G.723.1 codec: per-sample filters, windowing and
// autocorrelation, normalisation, energies, dot products, copies and scalings. Lengths are the
// codec's constants (subframe 60, frame 240, window 180, order 10, pitch memory 145).
#pragma once

#include "g7231_basic_op.h"

// ---- Filters ----
// LPC synthesis: y[n] = round14(x[n] 2^13 + sum a[k-1] y[n-k]); the 10 words before y are the memory.
void g723_1_Synt(const Word16* a, const Word16* x, Word16* y);
// Synthesis and weighting in cascade; s and w each hold 10 memory words, then room for 60.
void g723_1_Cascade_Filter(const Word16* x, Word16* s, Word16* w, const Word16* A, const Word16* BC, Word16 shift);
// Subtracts the ringing b[145..204] from x and adds the harmonic term gain * b[145 + n - lag].
void g723_1_Sub_Ring_Loop(Word16* x, const Word16* b, Word16 lag, Word16 gain);
// Formant post-filter with tilt compensation over 60 samples; rows of 12 (two zeros, then the
// coefficients reversed, the zero row negated); 12 words before x and before y are memories.
void g723_1_Spf_Output(const Word16* zero_row, const Word16* pole_row, const Word16* x, Word16* y, Word16* t,
                       Word16 tilt);
// Filtered excitation of the last pitch tap.
void g723_1_Per_Filt(const Word16* e, const Word16* h, Word16* out16, Word32* out32);
// The same row for the next candidate lag L from the previous candidate's row prev32: e is the
// new segment, one sample earlier in the excitation. For j below m (60 when L >= 62, else L - 6)
// out32[j] = L_add(prev32[j - 1], 2 e[0] h[j]); the rest by direct convolution. Both outputs
// need room for 65 values (the block form may write five past the 60th).
void g723_1_Per_Filt_Delta(const Word16* e, const Word16* h, Word16* out16, const Word32* prev32, Word32* out32,
                           Word16 lag);
// Rows 3..0 of the filtered excitations from the row after them (rows of 60, one after another).
void g723_1_Recursive_PerFilt_Loop(Word16 e, const Word16* h1, Word16* row1, Word32* energy);
// Target update after the pitch search.
void g723_1_Per_Filt_and_Sub(const Word16* e, const Word16* h, Word16* t);
// Backward filtering with a left shift; x has 8 zero elements after its 60.
void g723_1_Backward_Per_Filt(const Word16* x, const Word16* h, Word32* out32, Word16 shift);
// The same without the shift; returns the largest magnitude of the outputs.
Word32 g723_1_Backward_Per_Filt2(const Word16* x, const Word16* h, Word32* out32);
// Even-lag autocorrelation of h, mirrored around out (out[-m] = out[m], m = 1..32).
void g723_1_Per_Filt_ish(const Word16* h, const Word16* h2, Word16* out, Word16 shift);

// Adaptive-codebook contribution: Tv[i] = round(L_shl(sum of L_mac(rez[i + k], taps[4k]), 1)) over
// the five taps; the model is the saturating chain, the fast form sums plainly when it cannot
// saturate.
void g723_1_Acbk_filter(Word16* Tv, const Word16* rez, const Word16* taps);
void g723_1_model_Acbk_filter(Word16* Tv, const Word16* rez, const Word16* taps);

// ---- Vectors ----
void g723_1_Window(const Word16* src, Word16* dst, Word16 shift);
// x has 12 free elements after its 180; r[k] = sum x[i] x[i + k], k = 0..10.
void g723_1_ACF(Word16* x, Word32* r);
Word16 g723_1_Vec_Norm(Word16* x);
Word16 g723_1_Vec_Norm385(Word16* x);
void g723_1_Vec_Norm_OLP(const Word16* src, Word16* dst);
void g723_1_Vec_shl_add(Word16* x, const Word16* y);
void g723_1_Encode_loop1(Word16* x, const Word16* y, Word16* copy);
void g723_1_Regen_loop1(Word16* x, Word16* copy);
void g723_1_Vec_Mult_Integer(Word16* dst, const Word16* src, Word16 k);
Word32 g723_1_Calc_Exc_Rand_loop1(const Word16* src, Word16* dst, Word16 shift);
Word16 g723_1_Vec_Max_abs_s60(const Word16* x);
Word16 g723_1_Vec_Max_abs_s120(const Word16* x);
Word32 g723_1_Vec_L_mac_60(const Word16* x, const Word16* y);
Word32 g723_1_Vec_L_mac_120(const Word16* x, const Word16* y);
// out[j] = sat-acc of x[i] y[i - j] over i < 120, j = 0..3 (reads y[-3..119]).
void g723_1_Vec_L_mac_120_4(const Word16* x, const Word16* y, Word32* out);
Word32 g723_1_Vec_L_sqa_SFL(const Word16* x);
Word32 g723_1_Vec_L_sqa_2SFL(const Word16* x);
// dst = shl(src, shift) over 60 (subframe) or 240 (frame) samples; a negative shift shifts right.
void g723_1_Vec_shl_SFL(const Word16* src, Word16* dst, Word16 shift);
void g723_1_Vec_shl_FR(const Word16* src, Word16* dst, Word16 shift);
// Fills: Set_zero writes at least one zero; the "4" forms take multiples of 4; Set_const always
// writes 30 values (the amplitude tables of the pulse search).
void g723_1_Set_zero(Word16* dst, Word16 n);
void g723_1_Set_zero4(Word16* dst, Word16 n);
void g723_1_Set_const(Word16* dst, Word16 value, Word16 count);
void g723_1_Set_const4(Word16* dst, Word16 value, Word16 n);
// Copies src to dst, element by element forwards (so a history may move down onto itself):
// n values (none for 0), 10, a multiple of 8, 60, 145 and 85 values.
void g723_1_Copy(const Word16* src, Word16* dst, Word16 n);
void g723_1_Copy10(const Word16* src, Word16* dst);
void g723_1_Copyx8(const Word16* src, Word16* dst, Word16 n);
void g723_1_Copy_SubFrLen(const Word16* src, Word16* dst);
void g723_1_CopyPM(const Word16* src, Word16* dst);
void g723_1_Copy85(const Word16* src, Word16* dst);
void g723_1_FrameSave_Neon(Word16* area);
void g723_1_FrameRestore_Neon(const Word16* area);

// Saturating chain acc = L_mac(acc, x[i], y[i]) for i < n. The fast form sums plainly when the
// start and the doubled magnitudes of all products add up to no more than the limit (then no
// partial sum can saturate); the model runs the chain step by step.
Word32 g723_1_mac_chain(Word32 acc, const Word16* x, const Word16* y, int n);
Word32 g723_1_model_mac_chain(Word32 acc, const Word16* x, const Word16* y, int n);

// ---- Vector utilities ----
Word32 g723_1_Vec_L_macs_SAT_at_end(const Word16* x, const Word16* y, int n);
Word32 g723_1_Vec_Max_L_abs(const Word32* x, int n);
Word32 g723_1_Vec_Max_L_abs_index(const Word32* x, int n, int step, int* index);
void g723_1_Vec_L_shl_round(const Word32* x, Word16* dst, Word16 shift, int n);
void g723_1_Vec_L_shl_extract_h(const Word32* x, Word16* dst, Word16 shift, int n);
void g723_1_Long_Copy_with_Skip(const Word32* src, Word32* dst);
void g723_1_HPF(Word16* x, Word32* pole, Word16* zero);
