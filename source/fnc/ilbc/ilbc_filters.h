// Signal filters of the iLBC codec: input and output high-pass, LPC analysis and synthesis,
// zero-pole filters of the start state and the enhancer's decimator.
#pragma once

#include "ilbc_basic.h"

namespace ilbc {

i16 ilbc_hpInput(i16* In, int len, i16* pole_shift, i32* L_Out, i16* zero_mem, i32* pole_mem);
void ilbc_hpOutput(const i16* In, int len, i16* Out, i32* mem);

// All-zero filters; x[-10..-1] is the memory.
void ilbc_Residu2(const i16* a, const i16* x, i16* y);  // exactly 40 outputs, y may be x - 10
void ilbc_Residu(const i16* a, const i16* x, i16* y, int len);
void ilbc_Residu32(const i16* a, const i32* x32, i32* y32, int len);
// All-pole filters; y[-10..-1] is the memory, x may equal y.
// y[n] = (x[n] 2^13 - saturating sum of 2 a[k] y[n - k], k = 1..10) rounded by 2^13; the fast
// form sums plainly when the coefficients cannot saturate it, the model runs the chain.
void ilbc_Syn_filt(const i16* a, const i16* x, i16* y, int len);
void ilbc_Syn_filt_model(const i16* a, const i16* x, i16* y, int len);
void ilbc_Syn_filt32(const i16* a, const i32* x32, i32* y32, int len);

void ilbc_ZeroPoleFilter2(const i16* In, const i16* ZeroCoef_q12, const i16* PoleCoef_q12, int lengthIn, i16* Out);
void ilbc_ZeroPoleFilter32(const i32* In, const i16* ZeroCoef_q12, const i16* PoleCoef_q12, int lengthIn, i32* Out);

void ilbc_DownSample(const i16* In_q0, int lengthIn, const i16* state_q0, i16* Out_q0, const i16* lpFilt_coefsTbl_rev_q15);

}  // namespace ilbc
