#include "isac_pitch_est.h"

#include <cstring>

#include "isac_arith.h"
#include "isac_filterbank.h"
#include "isac_lattice.h"
#include "isac_masking.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kLags = 65;
constexpr int kCorrLen = 60;
constexpr int kDecHist = 72;
constexpr int kDecFrame = 120;

// Peaks of a 67-entry vector whose ends are 0: above the threshold, not
// below the left neighbour and strictly above the right one.
int find_peaks(const int32_t* cv, int32_t threshold, int32_t* values, int16_t* positions) {
    int count = 0;
    for (int k = 1; k <= kLags; ++k) {
        if (cv[k] > threshold && cv[k] >= cv[k - 1] && cv[k] > cv[k + 1]) {
            values[count] = cv[k];
            positions[count] = static_cast<int16_t>(k);
            ++count;
        }
    }
    return count;
}

// Interpolated best of up to four ranked peaks, biased towards short lags;
// returns the Q8 position (0 when no candidate scores above 0).
int32_t best_position(const int32_t* cv, const int32_t* values, const int16_t* positions, int count,
                      int32_t bias) {
    int16_t ranked[4] = {};
    FindFour32(values, static_cast<int16_t>(count), ranked);
    int32_t best = 0, best_fy = 0;
    const int n = count < 4 ? count : 4;
    for (int i = 0; i < n; ++i) {
        const int pos = positions[ranked[i]];
        const int32_t xq = pos << 8;
        int32_t yq, fyq;
        Intrp1DQ8(&xq, cv + pos - 1, &yq, &fyq);
        fyq += ((lo16(Log2Q8(static_cast<uint32_t>(yq)) - 2048) * bias) >> 8) + 256;
        if (fyq > best_fy) {
            best_fy = fyq;
            best = yq;
        }
    }
    return best;
}

}  // namespace

int32_t Log2Q8(uint32_t x) { return log2_Q8_LPC(x); }

void PCorr2Q32(const int16_t* in, int32_t* logcor) {
    const int16_t* x = in + kDecHist;
    const int scaling = WebRtcSpl_GetScalingSquare(in, kCorrLen, kCorrLen);
    int32_t ysum = 1;
    for (int n = 0; n < kCorrLen; ++n) ysum = add32(ysum, (in[n] * in[n]) >> scaling);
    int32_t csum[kLags];
    alignas(16) int32_t four[4];
    // 65 offsets: 0..63 in blocks of four, then offset 64.
    for (int k = 0; k < 64; k += 4) {
        if (scaling == 0) isac_4x_inner_prod_aligned(x, in + k, kCorrLen, four);
        else isac_4x_inner_prod_aligned_scaled(x, in + k, kCorrLen, four, scaling);
        for (int j = 0; j < 4; ++j) csum[k + j] = four[j];
    }
    int32_t last = 0;
    for (int n = 0; n < kCorrLen; ++n) last = add32(last, (x[n] * in[64 + n]) >> scaling);
    csum[64] = last;
    for (int k = 0; k < kLags; ++k) {
        if (k > 0) {
            ysum = sub32(ysum, (in[k - 1] * in[k - 1]) >> scaling);
            ysum = add32(ysum, (in[59 + k] * in[59 + k]) >> scaling);
        }
        const int32_t lys = Log2Q8(static_cast<uint32_t>(ysum)) >> 1;
        int32_t entry = 0;
        if (csum[k] > 0) {
            const int32_t lcs = Log2Q8(static_cast<uint32_t>(csum[k]));
            entry = lcs > lys + 256 ? lcs - lys : 256;
        }
        logcor[64 - k] = entry;
    }
}

void FindFour32(const int32_t* in, int16_t length, int16_t* bestind) {
    int32_t best[4] = {-100, -100, -100, -100};
    for (int k = 0; k < length; ++k) {
        const int32_t v = in[k];
        if (!(v > best[3])) continue;
        int place = 3;
        while (place > 0 && v > best[place - 1]) --place;
        for (int i = 3; i > place; --i) {
            best[i] = best[i - 1];
            bestind[i] = bestind[i - 1];
        }
        best[place] = v;
        bestind[place] = static_cast<int16_t>(k);
    }
}

void Intrp1DQ8(const int32_t* x, const int32_t* fx, int32_t* y, int32_t* fy) {
    if (!(fx[0] > 0 && fx[2] > 0)) {
        *y = x[0];
        *fy = fx[1];
        return;
    }
    const int32_t r = fx[1] - fx[2];
    const int32_t q = fx[0] - fx[1];
    const int32_t nom = q + r;
    const int32_t den = (q - r) * 2;
    int32_t t = WebRtcSpl_DivResultInQ31(nom < 0 ? -nom : nom, den < 0 ? -den : den) >> 23;
    if ((nom < 0) != (den < 0)) t = -t;
    *y = x[0] + t;
    const int32_t a = lo16(t * t) >> 2;
    const int32_t b = t * 64;
    *fy = add32(add32(mulQ15r(a - b, fx[0]), mulQ14r(16384 - a, fx[1])), mulQ15r(lo16(a + b), fx[2]));
}

void WebRtcIsacfix_InitialPitch(const int16_t* in, PitchAnalysisStruct* st, int16_t* lagsQ7) {
    int32_t old_lagQ8 = static_cast<int16_t>(st->PFstr_wght.oldlagQ7) * 2;
    const int32_t oldgQ12 = st->PFstr_wght.oldgainQ12;

    int16_t buf_dec16[kDecHist + kDecFrame];
    std::memcpy(buf_dec16, st->dec_buffer16, sizeof st->dec_buffer16);
    WebRtcIsacfix_DecimateAllpass32(in, st->decimator_state32, 240, buf_dec16 + kDecHist);
    WebRtcSpl_FilterARFastQ12(buf_dec16 + kDecHist, buf_dec16 + kDecHist, kACoefQ12, 3, kDecFrame);
    std::memcpy(st->dec_buffer16, buf_dec16 + kDecFrame, sizeof st->dec_buffer16);

    int32_t cv1q[kLags + 2], cv2q[kLags + 2];
    PCorr2Q32(buf_dec16, cv1q + 1);
    PCorr2Q32(buf_dec16 + kCorrLen, cv2q + 1);
    int32_t* crr1 = cv1q + 1;

    // Bias of the first half towards the previous lag, by the previous gain.
    const int32_t tmp32a = Log2Q8(static_cast<uint32_t>(old_lagQ8)) - 2304;
    int32_t gain_bias16 = lo16((oldgQ12 * oldgQ12) >> 10);
    if (gain_bias16 > 3276) gain_bias16 = 3276;
    for (int j = 0; j < kLags; ++j) {
        if (crr1[j] <= 0) continue;
        const int16_t d = lo16(Log2Q8(static_cast<uint32_t>(j + 8)) - tmp32a);
        const int32_t e = (lo16((d * d) >> 6) * 177) >> 8;
        const int32_t ne = -e;
        const int32_t mant = 1024 + (ne & 1023);
        const int32_t ip = ne >> 10;
        const int32_t p = ip >= 0 ? shl32(mant, ip > 20 ? 20 : ip) : mant >> (-ip > 31 ? 31 : -ip);
        crr1[j] += Log2Q8(static_cast<uint32_t>(lo16(((gain_bias16 * p) >> 13) + 1024))) - 2560;
    }
    for (int i = 0; i < 3; ++i) {
        cv1q[1 + i] += kLogLagWinQ8[i];
        cv1q[kLags - i] += kLogLagWinQ8[i];
        cv2q[1 + i] += kLogLagWinQ8[i];
        cv2q[kLags - i] += kLogLagWinQ8[i];
    }
    cv1q[0] = cv1q[kLags + 1] = cv2q[0] = cv2q[kLags + 1] = 0;

    int32_t m = 0;
    for (int k = 1; k <= kLags; ++k) {
        if (cv1q[k] > m) m = cv1q[k];
        if (cv2q[k] > m) m = cv2q[k];
    }
    const int32_t corr_max32 = m - 4 > 0 ? m - 4 : 0;
    const int32_t threshold = corr_max32 - 1000;

    int32_t values[kLags];
    int16_t positions[kLags];
    int count = find_peaks(cv1q, threshold, values, positions);
    if (count > 0) old_lagQ8 = best_position(cv1q, values, positions, count, -42) * 2 + 3584;
    lagsQ7[0] = lagsQ7[1] = static_cast<int16_t>(old_lagQ8 >> 1);

    // Bias of the second half towards the first half's lag.
    const int32_t ratq = ((old_lagQ8 - 5120) >> 1) + 768;
    for (int k = 1; k <= kLags; ++k) {
        const int32_t t = lo16((k << 8) - ratq);
        const uint32_t arg = static_cast<uint32_t>((ratq >> 1) + ((t * t) >> 8));
        cv2q[k] += (Log2Q8(static_cast<uint32_t>(k << 7)) - Log2Q8(arg)) >> 1;
    }
    count = find_peaks(cv2q, threshold, values, positions);
    if (count == 0) {
        lagsQ7[2] = lagsQ7[3] = lagsQ7[0];
    } else {
        const int32_t lag = best_position(cv2q, values, positions, count, -82) * 2 + 3584;
        lagsQ7[2] = lagsQ7[3] = static_cast<int16_t>(lag >> 1);
    }
}

void WebRtcIsacfix_PitchAnalysis(const int16_t* inn, int16_t* outQ0, PitchAnalysisStruct* st,
                                 int16_t* PitchLags_Q7, int16_t* PitchGains_Q12) {
    WebRtcIsacfix_InitialPitch(inn, st, PitchLags_Q7);
    WebRtcIsacfix_PitchFilterGains_and_Tweak(inn, &st->PFstr_wght, PitchLags_Q7, PitchGains_Q12);
    int16_t buf[264];
    std::memcpy(buf, st->inbuf, sizeof st->inbuf);
    std::memcpy(buf + 24, inn, sizeof(int16_t) * 240);
    WebRtcIsacfix_PitchFilter(buf, outQ0, &st->PFstr, PitchLags_Q7, PitchGains_Q12, kPitchFilterPreLa);
    std::memcpy(st->inbuf, buf + 240, sizeof st->inbuf);
}

}  // namespace isac
