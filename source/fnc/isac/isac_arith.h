// Divisions with defined behaviour at zero, the rising half of a Hann window
// and the shift that keeps a sum of squares inside 31 bits.
#pragma once

#include <cstdint>

namespace isac {

int32_t WebRtcSpl_DivW32W16(int32_t num, int16_t den);
int16_t WebRtcSpl_DivW32W16ResW16(int32_t num, int16_t den);
int32_t WebRtcSpl_DivResultInQ31(int32_t num, int32_t den);
int32_t WebRtcSpl_DivW32HiLow(int32_t num, int16_t den_hi, int16_t den_low);
int32_t WebRtcSpl_DivW32(int32_t num, int32_t den);
void WebRtcSpl_GetHanningWindow(int16_t* v, int16_t size);
int WebRtcSpl_GetScalingSquare(const int16_t* in_vector, int in_vector_length, int times);

}  // namespace isac
