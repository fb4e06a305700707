// DTMF block detector: power per millisecond output, twist, frequency stability and windows.
#include "dtmfd.h"

#include <cstdlib>

#include "dsputil.h"
#include "dtmfd_kernels.h"

namespace {

constexpr std::uint32_t kPowerRef = 160404480u;  // group energy of two tones at 0 dBm0
constexpr std::int32_t kMaxVariance = 64000;

// Rotation back by the group centre's phase advance per output (819 Hz and 1421 Hz).
constexpr std::int32_t kLowCos = 13765, kLowSin = -29736;
constexpr std::int32_t kHighCos = -28813, kHighSin = 15605;

std::int32_t filterAt(const std::int16_t* end, const std::int16_t* taps) {
    // end points one past the newest sample; 32-bit accumulation without saturation.
    std::uint32_t acc = 0;
    const std::int16_t* x = end - DTMFD_TAPS;
    for (int k = 0; k < DTMFD_TAPS; ++k) acc += static_cast<std::uint32_t>(std::int32_t{taps[k]} * x[k]);
    return static_cast<std::int32_t>(acc);
}

}  // namespace

// The five outputs of one group and their powers; false when any output is below the threshold.
bool dtmfdCalcPower(DTMFD_GROUP& g, std::uint32_t thresh1ms) {
    bool ok = true;
    const std::uint64_t limit = std::uint64_t{thresh1ms} << 8;
    for (int i = 0; i < DTMFD_OUTPUTS; ++i) {
        const std::int32_t re = g.re[i + 1], im = g.im[i + 1];
        g.pow[i] = static_cast<std::uint32_t>(2 * (static_cast<std::uint32_t>(re * re) + static_cast<std::uint32_t>(im * im)));
        if (g.pow[i] < limit) ok = false;
    }
    return ok;
}

static std::uint32_t groupEnergy(const DTMFD_GROUP& g) {
    std::uint32_t e = 0;
    for (std::uint32_t p : g.pow) e += p >> 3;
    return e;
}

static bool dtmfdCalcPowTwist(DTMFD_STATE* s, const DTMFD_GROUP& lo, const DTMFD_GROUP& hi, std::uint32_t thresh5ms,
                       const DTMFD_PARM& parm) {
    const std::uint32_t L = groupEnergy(lo), H = groupEnergy(hi);
    s->lo_energy = L;
    s->hi_energy = H;
    if (std::uint64_t{L} + H < (std::uint64_t{thresh5ms} << 8)) return false;
    if (L < (H >> parm.fwdTwistdB)) return false;  // high group too strong
    if (H < (L >> parm.revTwistdB)) return false;  // low group too strong
    return true;
}

// Five phase-advance estimates of one group, relative to the group centre, in hsfAtan units.
void dtmfdCalcFreq(const DTMFD_GROUP& g, std::int32_t cosK, std::int32_t sinK, std::int16_t* est) {
    std::int16_t pairs[2 * DTMFD_OUTPUTS];
    for (int i = 0; i < DTMFD_OUTPUTS; ++i) {
        const std::int64_t a = g.re[i + 1], b = g.im[i + 1], c = g.re[i], d = g.im[i];
        std::int64_t wr = a * c + b * d;  // z[i+1] * conj(z[i])
        std::int64_t wi = b * c - a * d;
        const std::int64_t m = std::max(std::llabs(wr), std::llabs(wi));
        if (m != 0) {
            int sh = 0;
            std::int64_t t = m;
            while (t < (std::int64_t{1} << 30)) {
                t <<= 1;
                ++sh;
            }
            while (t >= (std::int64_t{1} << 31)) {
                t >>= 1;
                --sh;
            }
            wr = sh >= 0 ? wr << sh : wr >> -sh;
            wi = sh >= 0 ? wi << sh : wi >> -sh;
        }
        const auto re = static_cast<std::int32_t>(wr >> 16);
        const auto im = static_cast<std::int32_t>(wi >> 16);
        pairs[2 * i] = static_cast<std::int16_t>((re * cosK + im * sinK) >> 16);
        pairs[2 * i + 1] = static_cast<std::int16_t>((im * cosK - re * sinK) >> 16);
    }
    hsfAtan(pairs, est, DTMFD_OUTPUTS);
}

// Sum of the estimates, or false when they spread too much.
bool dtmfdCalcVarMean(const std::int16_t* est, std::int32_t* sum) {
    std::int32_t s = 0, q = 0;
    for (int i = 0; i < DTMFD_OUTPUTS; ++i) {
        s += est[i];
        q += std::int32_t{est[i]} * est[i];
    }
    *sum = s;
    return std::int64_t{DTMFD_OUTPUTS} * q - std::int64_t{s} * s <= kMaxVariance;
}

namespace {

// Index of the band whose open window (min, max) holds s, or HSDTMFDILLEGAL.
int findBand(const std::array<std::int16_t, 4>& mins, const std::array<std::int16_t, 4>& maxs, std::int32_t s) {
    int idx = HSDTMFDILLEGAL;
    for (int i = 0; i < 4 && mins[i] < s; ++i) idx = i;
    if (idx == HSDTMFDILLEGAL || s >= maxs[idx]) return HSDTMFDILLEGAL;
    return idx;
}

std::int16_t dtmfdFindDigit(std::int32_t sLow, std::int32_t sHigh, const DTMFD_FREQLIM& lim) {
    const int lo = findBand(lim.low_band_min, lim.low_band_max, sLow);
    if (lo == HSDTMFDILLEGAL) return -1;
    const int hi = findBand(lim.high_band_min, lim.high_band_max, sHigh);
    if (hi == HSDTMFDILLEGAL) return -1;
    return hstdtmfdinv[lo][hi];
}

// The group's five new outputs (at the samples -1, 7, 15, 23 and 31 of the block).
void runGroup(const std::int16_t* samples, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
              std::int16_t* prevRe, std::int16_t* prevIm, DTMFD_GROUP& g, DtmfdComplexKernel kernel) {
    g.re[0] = *prevRe;
    g.im[0] = *prevIm;
    for (int j = 0; j < DTMFD_OUTPUTS; ++j) kernel(samples + 8 * j, cosTaps, sinTaps, &g.re[j + 1], &g.im[j + 1]);
    *prevRe = g.re[DTMFD_OUTPUTS];
    *prevIm = g.im[DTMFD_OUTPUTS];
}

// An idle line's blocks: the samples every filter output of the blocks reads (the first's 76
// history samples up to the last block's last output) are all 0, and a zero output fails the
// power test (a threshold of 0 would pass it, so that case is filtered as usual).
bool filtersSeeSilence(const std::int16_t* samples, std::uint32_t thresh1ms, int blocks = 1) {
    constexpr int kLastOutputEnd = 8 * (DTMFD_OUTPUTS - 1);
    return thresh1ms != 0 &&
           utilIsSilent(samples - DTMFD_TAPS, DTMFD_TAPS + (blocks - 1) * DTMFD_BLOCK + kLastOutputEnd);
}

// Every output of both groups is 0, so the high group fails its power test as it would when
// filtered; only the history the next block reads is written.
void silentBlock(DTMFD_STATE* state, DTDET_RESULT* result) {
    result->digit = -1;
    result->power = 31;
    state->bpOutHighReal = state->bpOutHighImag = 0;
    state->bpOutLowReal = state->bpOutLowImag = 0;
}

}  // namespace

void dtmfdInit(DTMFD_STATE* state) { *state = DTMFD_STATE{}; }

void dtmfdBpFilt(const std::int16_t* samples, std::int16_t* out, const std::int16_t* taps) {
    for (int j = 0; j < DTMFD_OUTPUTS; ++j) out[j] = static_cast<std::int16_t>(filterAt(samples + 8 * j, taps) >> 15);
}

std::int16_t dtmfdBpFilt1(const std::int16_t* samples, const std::int16_t* taps) {
    return static_cast<std::int16_t>(filterAt(samples, taps) >> 15);
}

void dtmfdCalcThresh(std::uint16_t minDetectPower, std::uint32_t* thresh1ms, std::uint32_t* thresh5ms) {
    const unsigned shift = 8u + minDetectPower / 3u;
    const std::uint64_t base = shift >= 32 ? 0 : (181692281u >> shift);
    *thresh1ms = static_cast<std::uint32_t>((DTMFD_LOG_LOOKUP[minDetectPower % 3] * base) >> 15);
    *thresh5ms = (*thresh1ms * 5u) >> 2;
}

void dtmfdBlk(DTMFD_STATE* state, std::uint16_t detectAdmin, std::uint16_t minDetectPower, DTDET_RESULT* result,
              const std::int16_t* samples) {
    result->digit = -1;
    result->power = 31;
    const DTMFD_PARM& parm = dtmfd_admin_parm[detectAdmin < HAPI_PTE_ADM_MAXADM ? detectAdmin : 0];
    std::uint32_t thresh1ms = 0, thresh5ms = 0;
    dtmfdCalcThresh(minDetectPower, &thresh1ms, &thresh5ms);

    if (filtersSeeSilence(samples, thresh1ms)) {
        silentBlock(state, result);
        return;
    }
    static const DtmfdComplexKernel kernel = dtmfdComplexKernel();
    DTMFD_GROUP hi{}, lo{};
    runGroup(samples, bpHighCos.data(), bpHighSin.data(), &state->bpOutHighReal, &state->bpOutHighImag, hi, kernel);
    if (!dtmfdCalcPower(hi, thresh1ms)) {
        // Only the low group's last output is needed to keep its history continuous.
        kernel(samples + 8 * (DTMFD_OUTPUTS - 1), bpLowCos.data(), bpLowSin.data(), &state->bpOutLowReal,
               &state->bpOutLowImag);
        return;
    }
    runGroup(samples, bpLowCos.data(), bpLowSin.data(), &state->bpOutLowReal, &state->bpOutLowImag, lo, kernel);
    if (!dtmfdCalcPower(lo, thresh1ms)) return;
    if (!dtmfdCalcPowTwist(state, lo, hi, thresh5ms, parm)) return;

    std::int16_t estLow[DTMFD_OUTPUTS], estHigh[DTMFD_OUTPUTS];
    dtmfdCalcFreq(lo, kLowCos, kLowSin, estLow);
    dtmfdCalcFreq(hi, kHighCos, kHighSin, estHigh);
    std::int32_t sLow = 0, sHigh = 0;
    if (!dtmfdCalcVarMean(estLow, &sLow) || !dtmfdCalcVarMean(estHigh, &sHigh)) return;

    const std::int16_t digit = dtmfdFindDigit(sLow, sHigh, *parm.freqlimp);
    if (digit < 0) return;
    const int db = hsfGetdB10(state->hi_energy / 2 + state->lo_energy / 2, kPowerRef);
    result->digit = digit;
    result->power = static_cast<std::uint16_t>(db < 0 ? 0 : (db > 31 ? 31 : db));
}

void dtmfdBlocks(DTMFD_STATE* state, std::uint16_t detectAdmin, std::uint16_t minDetectPower, DTDET_RESULT* result,
                 const std::int16_t* samples, int blocks) {
    if (blocks <= 0) return;
    std::uint32_t thresh1ms = 0, thresh5ms = 0;
    dtmfdCalcThresh(minDetectPower, &thresh1ms, &thresh5ms);
    if (filtersSeeSilence(samples, thresh1ms, blocks)) {
        for (int b = 0; b < blocks; ++b) silentBlock(state, &result[b]);
        return;
    }
    for (int b = 0; b < blocks; ++b) dtmfdBlk(state, detectAdmin, minDetectPower, &result[b], samples + b * DTMFD_BLOCK);
}
