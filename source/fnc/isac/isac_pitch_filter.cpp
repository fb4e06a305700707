#include "isac_pitch_filter.h"

#include <cstring>

#include "isac_arith.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kHist = 190;
constexpr int kFrame = 240;
constexpr int kLa = 24;
constexpr int kSegments = 5;
constexpr int kSegLen = 12;
constexpr int16_t kDivFactor = 6553;

struct Phase {
    int indW;
    const int16_t* row;
};

// Integer lags the 190-sample history can serve: the filter taps reach 6
// samples past the lag towards the present and 4 beyond it into the past.
constexpr int kMinIndex = 7;
constexpr int kMaxIndex = 186;

Phase phase_of(int32_t curLagQ7) {
    int indW = (curLagQ7 + 64) >> 7;
    int frc = (((indW << 7) - curLagQ7) >> 4) + 4;
    if (frc == 8) frc = 0;
    if (frc < 0 || frc > 7) frc = 4;
    // The codec's own lags (14 to about 150 samples) never reach these
    // limits; a corrupt lag must not read outside the history.
    if (indW < kMinIndex) indW = kMinIndex;
    if (indW > kMaxIndex) indW = kMaxIndex;
    return {indW, kIntrpCoef + 9 * frc};
}

// A lag jump of more than half starts the frame at the new values.
bool lag_jump(int32_t newLag, int32_t oldLag) { return (newLag * 3) >> 1 < oldLag || (oldLag * 3) >> 1 < newLag; }

}  // namespace

void WebRtcIsacfix_PitchFilterCore(int loopNumber, int16_t gain, int index, int16_t sign, int16_t* state,
                                   int16_t* buf, const int16_t* coef, const int16_t* in, int16_t* out, int* pos) {
    for (int n = 0; n < loopNumber; ++n) {
        const int p = *pos + n;
        int64_t t = 0;
        for (int j = 0; j < 9; ++j) t += static_cast<int64_t>(buf[kHist + p - index - 2 + j]) * coef[j];
        const int16_t t16 = sat16_64((t + 8192) >> 14);
        const int16_t g = lo16((gain * t16 + 2048) >> 12);
        std::memmove(state, state + 1, sizeof(int16_t) * 4);
        state[4] = g;
        int64_t ds = 0;
        for (int j = 0; j < 5; ++j) ds += static_cast<int64_t>(state[j]) * kDampFilter[j];
        const int16_t d = sat16_64((ds + 16384) >> 15);
        out[p] = sat16(in[p] - sign * d);
        buf[kHist + p] = sat16(in[p] + out[p]);
    }
    *pos += loopNumber;
}

void WebRtcIsacfix_PitchFilter(const int16_t* in, int16_t* out, PitchFiltstr* pfp, const int16_t* lagsQ7,
                               int16_t* gainsQ12, int16_t type) {
    int16_t buf[kHist + kFrame + kLa] = {};
    int16_t state[5];
    std::memcpy(buf, pfp->ubufQQ, sizeof pfp->ubufQQ);
    std::memcpy(state, pfp->ystateQQ, sizeof state);
    int32_t oldLagQ7 = pfp->oldlagQ7, oldGainQ12 = pfp->oldgainQ12;
    int16_t sign = 1;
    if (type == kPitchFilterPost) {
        sign = -1;
        for (int k = 0; k < 4; ++k) gainsQ12[k] = lo16((gainsQ12[k] * 21299) >> 14);
    }
    if (lag_jump(lagsQ7[0], oldLagQ7)) {
        oldLagQ7 = lagsQ7[0];
        oldGainQ12 = gainsQ12[0];
    }
    int pos = 0;
    int32_t curLagQ7 = oldLagQ7, curGainQ12 = oldGainQ12;
    Phase ph{};
    for (int k = 0; k < 4; ++k) {
        const int16_t lagdelta = lo16(((lagsQ7[k] - oldLagQ7) * kDivFactor + 16384) >> 15);
        const int16_t gaindelta = lo16(((gainsQ12[k] - oldGainQ12) * kDivFactor) >> 15);
        curLagQ7 = oldLagQ7;
        curGainQ12 = oldGainQ12;
        oldLagQ7 = lagsQ7[k];
        oldGainQ12 = gainsQ12[k];
        for (int s = 0; s < kSegments; ++s) {
            curGainQ12 = lo16(curGainQ12 + gaindelta);
            curLagQ7 = lo16(curLagQ7 + lagdelta);
            ph = phase_of(curLagQ7);
            WebRtcIsacfix_PitchFilterCore(kSegLen, static_cast<int16_t>(curGainQ12), ph.indW, sign, state, buf,
                                          ph.row, in, out, &pos);
        }
    }
    std::memcpy(pfp->ubufQQ, buf + kFrame, sizeof pfp->ubufQQ);
    std::memcpy(pfp->ystateQQ, state, sizeof state);
    pfp->oldlagQ7 = lagsQ7[3];
    pfp->oldgainQ12 = gainsQ12[3];
    if (type == kPitchFilterPreLa) {
        // Look-ahead on the local copies only: the saved state is the frame's.
        WebRtcIsacfix_PitchFilterCore(kLa, static_cast<int16_t>(curGainQ12), ph.indW, 1, state, buf, ph.row, in,
                                      out, &pos);
    }
}

void isac_PFGT_filter(const int16_t* buf, const int16_t* row, int32_t* ltp_vec, int16_t* ltp_vec_r14) {
    for (int i = 0; i < kSegLen; ++i) {
        int32_t s = 0;
        for (int j = 0; j < 9; ++j) s = add32(s, buf[i + j] * row[j]);
        ltp_vec[i] = s;
        ltp_vec_r14[i] = lo16(add32(s, 8192) >> 14);
    }
}

int32_t isac_PFGT_correlate(const int32_t* ltp_vec, const int16_t* indat, int shift) {
    int64_t s = 0;
    for (int i = 0; i < 60; ++i) s += static_cast<int64_t>(ltp_vec[i]) * indat[i];
    const int32_t c = sat32((s >> shift) >> 14);
    return c > 0 ? c : 0;
}

int64_t isac_sqa16_aligned_64(const int16_t* x, int n) {
    int64_t s = 0;
    for (int i = 0; i < n; ++i) s += x[i] * x[i];
    return s;
}

void WebRtcIsacfix_PitchFilterGains_and_Tweak(const int16_t* indatQ0, PitchFiltstr* pfp, int16_t* lagsQ7,
                                              int16_t* gainsQ12) {
    int16_t buf[kHist + kFrame] = {};
    std::memcpy(buf, pfp->ubufQQ, sizeof pfp->ubufQQ);
    int32_t oldLagQ7 = pfp->oldlagQ7;
    if (lag_jump(lagsQ7[0], oldLagQ7)) oldLagQ7 = lagsQ7[0];
    for (int k = 0; k < 4; ++k) {
        int32_t cand[9];
        int64_t esum[9];
        int32_t csum[9];
        for (int c = 0; c < 9; ++c) {
            cand[c] = lagsQ7[k] - 128 + 32 * c;
            const int16_t lagdelta = lo16(((cand[c] - oldLagQ7) * kDivFactor + 16384) >> 15);
            int32_t curLagQ7 = oldLagQ7;
            int32_t ltp_vec[60];
            int16_t ltp_r14[60];
            for (int s = 0; s < kSegments; ++s) {
                curLagQ7 += lagdelta;
                const Phase ph = phase_of(curLagQ7);
                const int at = kHist + 60 * k + kSegLen * s;
                isac_PFGT_filter(buf + at - ph.indW - 4, ph.row, ltp_vec + kSegLen * s, ltp_r14 + kSegLen * s);
                std::memcpy(buf + at, indatQ0 + 60 * k + kSegLen * s, sizeof(int16_t) * kSegLen);
            }
            int64_t e = isac_sqa16_aligned_64(ltp_r14, 60);
            int shift = 0;
            const uint32_t top = static_cast<uint32_t>((e >> 31) & 0xFFFFFFFF);
            if (top != 0) {
                shift = 32 - clz32(top);
                e >>= shift;
            }
            esum[c] = e;
            csum[c] = isac_PFGT_correlate(ltp_vec, indatQ0 + 60 * k, shift);
        }
        int best = 8;
        for (int c = 7; c >= 0; --c)
            if (esum[c] * csum[best] < static_cast<int64_t>(csum[c]) * esum[best]) best = c;
        lagsQ7[k] = static_cast<int16_t>(cand[best]);
        oldLagQ7 = lagsQ7[k];
        // The Q31 ratio is brought to Q12 before the limit of 0.45.
        int32_t g = WebRtcSpl_DivResultInQ31(csum[best], esum[best] > INT32_MAX ? INT32_MAX
                                                                                  : static_cast<int32_t>(esum[best])) >> 19;
        if (g < 0) g = 0;
        if (g > 1843) g = 1843;
        gainsQ12[k] = static_cast<int16_t>(g);
    }
    std::memcpy(pfp->ubufQQ, buf + kFrame, sizeof pfp->ubufQQ);
    pfp->oldlagQ7 = lagsQ7[3];
    pfp->oldgainQ12 = gainsQ12[3];
}

}  // namespace isac
