// The detector's complex band-pass output in three forms with identical results: portable (the
// reference, two 76-tap sums per output), SSE2 and AVX2 (both sums in one pass over the samples,
// eight or sixteen products per multiply-add). The sums wrap in 32 bits, so the order in which the
// vector forms add their products cannot change a bit. dtmfdBlk uses the best the processor has.
#pragma once

#include <cstdint>

// re, im = the cos and sin filters' outputs for the 76 samples ending just before `end`, each
// (sum of taps[k] x[k]) >> 15 truncated to 16 bits.
void dtmfdComplexPortable(const std::int16_t* end, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
                          std::int16_t* re, std::int16_t* im);
#if defined(ORVOX_X86_SIMD)
void dtmfdComplexSse2(const std::int16_t* end, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
                      std::int16_t* re, std::int16_t* im);
void dtmfdComplexAvx2(const std::int16_t* end, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
                      std::int16_t* re, std::int16_t* im);
#endif

using DtmfdComplexKernel = void (*)(const std::int16_t*, const std::int16_t*, const std::int16_t*, std::int16_t*,
                                    std::int16_t*);
DtmfdComplexKernel dtmfdComplexKernel();
