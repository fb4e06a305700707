// The 240-point complex FFT and the transform pair between two real
// 240-sample half-band signals and their 240 complex spectral values.
#pragma once

#include <cstdint>

namespace isac {

int16_t WebRtcIsacfix_FftRadix16Fastest(int16_t* RexQx, int16_t* ImxQx, int16_t iSign);
void WebRtcIsacfix_FftRadix16Fastest_fwd_loop1(int16_t* re, int16_t* im);
void WebRtcIsacfix_FftRadix16Fastest_inv_loop1(int16_t* re, int16_t* im);
void WebRtcIsacfix_FftRadix16Fastest_loop2(int16_t* re, int16_t* im, int16_t sigma);
void WebRtcIsacfix_FftRadix16Fastest_fwd_loop6(const int16_t* re, const int16_t* im, int16_t* dr, int16_t* di);
void WebRtcIsacfix_FftRadix16Fastest_inv_loop6(const int16_t* re, const int16_t* im, int16_t* dr, int16_t* di);

void WebRtcIsacfix_Time2SpecC(int16_t* inre1Q9, int16_t* inre2Q9, int16_t* outreQ7, int16_t* outimQ7);
void WebRtcIsacfix_Spec2TimeC(int16_t* inreQ7, int16_t* inimQ7, int32_t* outre1Q16, int32_t* outre2Q16);

void WebRtcSpl_ComplexBitReverse(int16_t* complex_data, int stages);

}  // namespace isac
