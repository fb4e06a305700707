#include <cstdlib>
#include <cstring>

#include "isac_arith.h"
#include "isac_codec.h"
#include "isac_fft.h"
#include "isac_lattice.h"
#include "isac_ops.h"

namespace isac {
namespace {

constexpr int kMaxStretch = 140;

// Synthesis shared by decoded and concealed units: pitch post-filter, the
// low band's gain, both lattice synthesis filters and the band merge.
void synthesise(ISACFIX_DecInst_t* d, int16_t* lowband, int32_t* highQ25, const int16_t* lags, int16_t* gains,
                int16_t avgPitchGain, const int16_t* lo, const int16_t* hi, const int32_t* gain_lo_hi, int16_t* out,
                bool keep_for_concealment) {
    int16_t lo_pf[240];
    WebRtcIsacfix_PitchFilter(lowband, lo_pf, &d->pitchfiltstr_obj, lags, gains, kPitchFilterPost);
    if (keep_for_concealment) std::memcpy(d->plcstr_obj.prevPitchInvOut, lo_pf + 90, sizeof(int16_t) * 140);
    const int32_t gainQ13 = lo16((262144 - 29 * avgPitchGain) >> 5);
    int32_t loQ25[240];
    for (int n = 0; n < 240; ++n) loQ25[n] = mul32(mul32(lo_pf[n], gainQ13), 8);
    int16_t lo_out[240], hi_out[240];
    WebRtcIsacfix_NormLatticeFilterAr(12, d->maskfiltstr_obj.PostStateLoGQ0, loQ25, lo, gain_lo_hi, 0, lo_out);
    WebRtcIsacfix_NormLatticeFilterAr(6, d->maskfiltstr_obj.PostStateHiGQ0, highQ25, hi, gain_lo_hi, 1, hi_out);
    int16_t ch1[240], ch2[240];
    for (int n = 0; n < 240; ++n) {
        ch1[n] = sat16(lo_out[n] + hi_out[n] + 1);
        ch2[n] = sat16(lo_out[n] - hi_out[n]);
    }
    WebRtcIsacfix_FilterAndCombine1(ch1, ch2, out, &d->postfiltbankstr_obj);
}

}  // namespace

int16_t WebRtcIsacfix_DecodeImpl(int16_t* signal_out16, ISACFIX_DecInst_t* d, int16_t* current_framesamples) {
    Bitstr_dec* s = &d->bitstr_obj;
    s->W_upper = 0xFFFFFFFFu;
    s->streamval = 0;
    s->stream_index = 0;
    s->full = 1;
    int r = WebRtcIsacfix_DecodeFrameLen(s, current_framesamples);
    if (r < 0) return static_cast<int16_t>(r);
    int16_t bw;
    r = WebRtcIsacfix_DecodeSendBandwidth(s, &bw);
    if (r < 0) return static_cast<int16_t>(r);
    const int units = *current_framesamples / 480;
    PLCstr& plc = d->plcstr_obj;
    int len = 0;
    for (int k = 0; k < units; ++k) {
        int16_t gains[4], lags[4];
        r = WebRtcIsacfix_DecodePitchGain(s, gains);
        if (r < 0) return static_cast<int16_t>(r);
        r = WebRtcIsacfix_DecodePitchLag(s, gains, lags);
        if (r < 0) return static_cast<int16_t>(r);
        const int16_t avg = static_cast<int16_t>((gains[0] + gains[1] + gains[2] + gains[3]) >> 2);
        int32_t gain_lo_hi[12];
        int16_t lo[72], hi[36], model;
        r = WebRtcIsacfix_DecodeLpc(gain_lo_hi, lo, hi, s, &model);
        if (r < 0) return static_cast<int16_t>(r);
        int16_t fre[240], fim[240];
        len = WebRtcIsacfix_DecodeSpec(s, fre, fim, avg, kIsacLowerBand);
        if (len < 0) return static_cast<int16_t>(len);
        int32_t lo32[240], hi32[240];
        WebRtcIsacfix_Spec2TimeC(fre, fim, lo32, hi32);
        int16_t lowband[240];
        for (int n = 0; n < 240; ++n) lowband[n] = lo16(add32(lo32[n], 64) >> 7);
        if (plc.used == 1) {
            // First good frame after concealment: fade in from the concealed signal.
            plc.used = 3;
            plc.decayCoeffPriodic = plc.decayCoeffNoise = 32767;
            plc.pitchCycles = 0;
            gains[0] = lo16((gains[0] * 700) >> 10);
            int16_t w[80];
            WebRtcSpl_GetHanningWindow(w, 80);
            for (int n = 0; n < 80; ++n)
                lowband[n] = sat16(((plc.overlapLP[n] * w[79 - n]) >> 14) + ((lowband[n] * w[n]) >> 14));
        }
        const bool last = k == units - 1;
        if (last) {
            std::memcpy(plc.lofilt_coefQ15, lo + 60, sizeof plc.lofilt_coefQ15);
            std::memcpy(plc.hifilt_coefQ15, hi + 30, sizeof plc.hifilt_coefQ15);
            plc.gain_lo_hiQ17[0] = gain_lo_hi[10];
            plc.gain_lo_hiQ17[1] = gain_lo_hi[11];
            plc.AvgPitchGain_Q12 = plc.lastPitchGain_Q12 = gains[3];
            plc.lastPitchLag_Q7 = lags[3] < 3000 ? lo16(2 * lags[3]) : lags[3];
            std::memcpy(plc.prevPitchInvIn, lowband, sizeof plc.prevPitchInvIn);
        }
        for (int n = 0; n < 240; ++n) hi32[n] = shl32(hi32[n], 9);
        std::memcpy(plc.prevHP, hi32 + 90, sizeof plc.prevHP);
        synthesise(d, lowband, hi32, lags, gains, avg, lo, hi, gain_lo_hi, signal_out16 + 480 * k, last);
    }
    return static_cast<int16_t>(len);
}

// ---- Concealment ----

void WebRtcIsacfix_InitPlc(PLCstr* p) {
    *p = PLCstr{};
    p->decayCoeffPriodic = p->decayCoeffNoise = 32767;
    p->used = 1;
    p->stretchLag = 240;
    p->seed = 4447;
    p->lastPitchLP = 0;
}

namespace {

int32_t log2_Q8_T(uint32_t x) {
    const int z = x == 0 ? 0 : __builtin_clz(x);
    return ((31 - z) << 8) + static_cast<int32_t>(((x << z) >> 23) & 255);
}

int16_t plc_filterma_Fast(const int16_t* In, int16_t* Out, const int16_t* B, int Blen, int len, int16_t reduceDecay,
                          int16_t decay, int rshift) {
    const int64_t lim = (int64_t{1} << (rshift + 15)) - 1;
    for (int i = 0; i < len; ++i) {
        int64_t o = 0;
        for (int j = 0; j < Blen; ++j) o = sat32(o + static_cast<int64_t>(B[j]) * In[i - j]);
        o = sat32(o + (int64_t{1} << (rshift - 1)));
        if (o < 1 - (lim + 1)) o = 1 - (lim + 1);
        if (o > lim) o = lim;
        Out[i] = lo16((lo16(static_cast<int32_t>(o >> rshift)) * decay) >> 15);
        decay = static_cast<int16_t>(decay - reduceDecay < 0 ? 0 : decay - reduceDecay);
    }
    return decay;
}

void MemshipValQ15(int16_t in, int16_t* A, int16_t* B) {
    const int32_t x = in - 700;
    if (x <= 0) {
        *A = 32767;
        *B = 0;
    } else if (x <= 2150) {
        const int32_t y = 15 * x + ((983 * x) >> 12);
        *B = lo16((y * y + 65536) >> 17);
        *A = static_cast<int16_t>(32767 - *B);
    } else if (x < 4300) {
        const int32_t z = 5000 - in;
        const int32_t y = 15 * z + ((983 * z) >> 12);
        *A = lo16((y * y + 65536) >> 17);
        *B = static_cast<int16_t>(32767 - *A);
    } else {
        *A = 0;
        *B = 32767;
    }
}

void LinearResampler(const int16_t* in, int16_t* out, int lenIn, int lenOut) {
    if (lenIn == lenOut || lenOut < 2 || lenIn < 2) {
        for (int i = 0; i < lenOut; ++i) out[i] = in[i < lenIn ? i : lenIn - 1];
        return;
    }
    const int32_t step = WebRtcSpl_DivW32W16ResW16((lenIn - 1) << 8, static_cast<int16_t>(lenOut - 1));
    out[0] = in[0];
    int32_t pos = 0;
    for (int k = 1; k < lenOut; ++k) {
        pos += step;
        int i = pos >> 8;
        const int32_t f = pos & 255;
        if (i >= lenIn - 1) {
            out[k] = in[lenIn - 1];
            continue;
        }
        const int16_t a = in[i], b = in[i + 1];
        if ((a < 0) != (b < 0)) {
            if (a > 0) out[k] = lo16(a - ((f * static_cast<uint16_t>(a - b)) >> 8));
            else out[k] = lo16(a + ((f * static_cast<uint16_t>(b - a)) >> 8));
        } else {
            out[k] = lo16(a + ((lo16(b - a) * f) >> 8));
        }
    }
}

inline int16_t next_noise(int16_t& seed) {
    seed = static_cast<int16_t>(((seed * 18816) >> 7) & 0x7FFF);
    return seed;
}

}  // namespace

int16_t WebRtcIsacfix_DecodePlcImpl(int16_t* signal_out16, ISACFIX_DecInst_t* d, int16_t* current_framesamples) {
    PLCstr& p = d->plcstr_obj;
    int16_t lo[72], hi[36];
    int32_t gain_lo_hi[12];
    for (int u = 0; u < 6; ++u) {
        std::memcpy(lo + 12 * u, p.lofilt_coefQ15, sizeof p.lofilt_coefQ15);
        std::memcpy(hi + 6 * u, p.hifilt_coefQ15, sizeof p.hifilt_coefQ15);
        gain_lo_hi[2 * u] = p.gain_lo_hiQ17[0];
        gain_lo_hi[2 * u + 1] = p.gain_lo_hiQ17[1];
    }
    // The decoded lag is held inside the history the cycles are taken from.
    int lag0 = (p.lastPitchLag_Q7 + 64) >> 7;
    if (lag0 < 9) lag0 = 9;
    if (lag0 > kMaxStretch - 1) lag0 = kMaxStretch - 1;
    const int L = lag0 + 1;
    int16_t step;
    if (p.used != 1) {
        p.pitchCycles = 0;
        p.lastPitchLP = static_cast<int16_t>(240 - L);
        const int16_t* last = p.prevPitchInvIn + p.lastPitchLP;
        p.prevPitchLP = p.lastPitchLP;
        if (L < 115) {
            int32_t best = INT32_MAX;
            for (int i = 0; i <= 20; ++i) {
                const int start = 230 - 2 * L + i;
                int32_t sum = 0;
                for (int j = 0; j < L; ++j) sum = sat32(int64_t{sum} + std::abs(last[j] - p.prevPitchInvIn[start + j]));
                if (sum < best) {
                    best = sum;
                    p.prevPitchLP = static_cast<int16_t>(start);
                }
            }
        }
        int32_t e;
        int scale;
        WebRtcSpl_AutoCorrelation(last, L, 0, &e, &scale);
        const int32_t logVarIn = log2_Q8_T(static_cast<uint32_t>(e)) + 256 * scale;
        WebRtcSpl_AutoCorrelation(p.prevPitchInvOut + 140 - L, L, 0, &e, &scale);
        const int32_t logVarOut = log2_Q8_T(static_cast<uint32_t>(e)) + 256 * scale;
        const int16_t corrDiff = lo16(logVarOut - logVarIn);
        const int16_t Q = lo16(2 * (logVarIn - log2_Q8_T(static_cast<uint32_t>(L))));
        int32_t v;
        auto pow2 = [](int32_t t) {
            const int32_t m = 1024 + (t & 1023);
            const int32_t sh = t >> 10;
            return static_cast<int32_t>(lo16(sh >= 0 ? shl32(m, sh > 20 ? 20 : sh) : m >> (-sh > 31 ? 31 : -sh)));
        };
        if (Q - 4096 <= 4096) v = pow2(Q - 4096) >> 10;
        else v = pow2(Q - 8192) >> 6;
        p.std = lo16(v - 4);
        MemshipValQ15(lo16((p.lastPitchGain_Q12 >> 8) + 2 * (p.lastPitchGain_Q12 + 8 * corrDiff)), &p.A, &p.B);
        p.stretchLag = static_cast<int16_t>(L);
        p.pitchIndex = 0;
        step = 10;
    } else {
        step = 40;
    }
    if (p.B < 1000) step = static_cast<int16_t>(step + 80);
    if (p.stretchLag > 240) p.stretchLag = 240;
    if (p.stretchLag < 1) p.stretchLag = 1;
    LinearResampler(p.prevPitchInvIn + p.lastPitchLP, p.stretched, L, p.stretchLag);

    int16_t lags[4], gains[4];
    for (auto& l : lags) l = static_cast<int16_t>(p.stretchLag * 128);
    gains[3] = p.lastPitchGain_Q12;
    gains[2] = lo16((gains[3] * 1010) >> 10);
    gains[1] = lo16((gains[2] * 64640) >> 16);
    gains[0] = lo16((gains[1] * 64640) >> 16);

    int16_t lowband[240];
    int32_t highQ25[240];
    if (p.B == 0) {
        int16_t nlo[240 + 29], nhi[240 + 29];
        int16_t seed = p.seed;
        for (int j = 0; j < 240 + 29; ++j) {
            nlo[j] = static_cast<int16_t>((next_noise(seed) >> 10) - 16);
            nhi[j] = static_cast<int16_t>((next_noise(seed) >> 10) - 16);
        }
        p.seed = seed;
        plc_filterma_Fast(nlo + 29, lowband, p.prevPitchInvIn + 210, 30, 240, 5, p.decayCoeffNoise, 6);
        int64_t mx = 0;
        for (int j = 120; j < 150; ++j) {
            const int64_t a = p.prevHP[j] < 0 ? -int64_t{p.prevHP[j]} : int64_t{p.prevHP[j]};
            if (a > mx) mx = a;
        }
        int shift = 0;
        while ((mx >> shift) >= 32768) ++shift;
        int16_t taps[30], hp16[240];
        for (int j = 0; j < 30; ++j) taps[j] = static_cast<int16_t>(p.prevHP[120 + j] >> shift);
        p.decayCoeffNoise = plc_filterma_Fast(nhi + 29, hp16, taps, 30, 240, 5, p.decayCoeffNoise, 7);
        for (int n = 0; n < 240; ++n) highQ25[n] = shl32(hp16[n], shift);
    } else {
        int16_t cur[240], prev[240];
        for (int n = 0; n < 240; ++n) {
            const int32_t periodic = (p.stretched[p.pitchIndex] * p.decayCoeffPriodic) >> 15;
            int hp_index = p.pitchIndex - p.stretchLag + 150;
            if (hp_index < 0) hp_index = 0;
            if (hp_index > 149) hp_index = 149;
            const int32_t periodic_hi =
                static_cast<int32_t>((int64_t{p.prevHP[hp_index]} * p.decayCoeffPriodic + 16384) >> 15);
            p.decayCoeffPriodic = static_cast<int16_t>(p.decayCoeffPriodic - step < 0 ? 0 : p.decayCoeffPriodic - step);
            if (p.A == 0) {
                lowband[n] = static_cast<int16_t>(periodic);
                highQ25[n] = periodic_hi;
            } else {
                const int32_t s1 = next_noise(p.seed), s2 = next_noise(p.seed);
                const int32_t noise_lo = (((s1 >> 10) - 16) * p.std * int64_t{p.decayCoeffNoise}) >> 15;
                const int32_t noise_hi =
                    static_cast<int32_t>((((s2 >> 11) - 8) * int64_t{p.std} * p.decayCoeffNoise + 16384) >> 15);
                p.decayCoeffNoise = static_cast<int16_t>(p.decayCoeffNoise - step < 0 ? 0 : p.decayCoeffNoise - step);
                lowband[n] = sat16_64((int64_t{p.A} * noise_lo + int64_t{p.B} * periodic) >> 15);
                highQ25[n] = sat32((int64_t{p.A} * noise_hi + int64_t{p.B} * periodic_hi) >> 15);
            }
            if (++p.pitchIndex >= p.stretchLag) {
                p.pitchIndex = 0;
                ++p.pitchCycles;
                int next = p.stretchLag == L + 1 ? L : lag0 + 2;
                if (next > kMaxStretch) next = kMaxStretch;
                p.stretchLag = static_cast<int16_t>(next);
                LinearResampler(p.prevPitchInvIn + p.lastPitchLP, cur, L, next);
                LinearResampler(p.prevPitchInvIn + p.prevPitchLP, prev, L, next);
                for (int j = 0; j < next; ++j) {
                    if (p.pitchCycles == 1) p.stretched[j] = lo16((3 * cur[j] + prev[j]) >> 2);
                    else if (p.pitchCycles == 2) p.stretched[j] = lo16((cur[j] + prev[j]) >> 1);
                    else p.stretched[j] = lo16((cur[j] + 3 * prev[j]) >> 2);
                }
                if (p.pitchCycles >= 3) {
                    p.pitchCycles = 0;
                    step = static_cast<int16_t>(step + (p.A != 0 ? 55 : 35));
                }
            }
        }
    }
    for (int k = 0; k < 80; ++k)
        p.overlapLP[k] = lo16((p.stretched[(p.pitchIndex + k) % p.stretchLag] * p.decayCoeffPriodic) >> 15);
    p.lastPitchLag_Q7 = static_cast<int16_t>(p.stretchLag * 128);
    synthesise(d, lowband, highQ25, lags, gains, p.AvgPitchGain_Q12, lo, hi, gain_lo_hi, signal_out16, false);
    p.used = 1;
    *current_framesamples = 480;
    return 0;
}

}  // namespace isac
