// The long-term (pitch) pre- and post-filter with lag and gain interpolated
// over 12-sample segments, and the encoder's quarter-sample lag refinement
// with its gain estimate.
#pragma once

#include <cstdint>

namespace isac {

struct PitchFiltstr {
    int16_t ubufQQ[190];
    int16_t ystateQQ[5];
    int16_t oldlagQ7;
    int16_t oldgainQ12;
};

// Modes of WebRtcIsacfix_PitchFilter.
constexpr int kPitchFilterPre = 1;
constexpr int kPitchFilterPreLa = 2;
constexpr int kPitchFilterPost = 4;

void WebRtcIsacfix_PitchFilter(const int16_t* indatQQ, int16_t* outdatQQ, PitchFiltstr* pfp,
                               const int16_t* lagsQ7, int16_t* gainsQ12, int16_t type);
void WebRtcIsacfix_PitchFilterCore(int loopNumber, int16_t gain, int index, int16_t sign, int16_t* inputState,
                                   int16_t* outputBuf2, const int16_t* coefficient, const int16_t* inputBuf,
                                   int16_t* outputBuf, int* index2);
void WebRtcIsacfix_PitchFilterGains_and_Tweak(const int16_t* indatQ0, PitchFiltstr* pfp, int16_t* lagsQ7,
                                              int16_t* gainsQ12);

void isac_PFGT_filter(const int16_t* buf, const int16_t* row, int32_t* ltp_vec, int16_t* ltp_vec_r14);
int32_t isac_PFGT_correlate(const int32_t* ltp_vec, const int16_t* indat, int shift);
int64_t isac_sqa16_aligned_64(const int16_t* x, int n);

}  // namespace isac
