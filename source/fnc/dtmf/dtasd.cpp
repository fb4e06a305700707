// Alerting-signal block classifier.
#include "dtasd.h"

const std::array<std::uint16_t, 3> DTASD_LOG_LOOKUP = {32768u, 26029u, 20675u};

namespace {

constexpr std::uint16_t kMinPower = 37;  // dB of attenuation, fixed
constexpr std::int32_t kLowCos = 22431, kLowSin = 23887;  // 2130 Hz advance per output
constexpr std::int32_t kHighCos = 0, kHighSin = -32768;   // 2750 Hz
constexpr std::int32_t kLowWindow = 129, kHighWindow = 169;

std::int16_t outputEndingAt(const std::int16_t* newest, const std::int16_t* taps) {
    std::uint32_t acc = 0;  // 32-bit, no saturation
    for (int k = 0; k < DTASD_TAPS; ++k) acc += static_cast<std::uint32_t>(std::int32_t{taps[k]} * newest[-k]);
    return static_cast<std::int16_t>(static_cast<std::int32_t>(acc) >> 15);
}

void runGroup(const std::int16_t* samples, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
              std::int16_t* prevRe, std::int16_t* prevIm, DTMFD_GROUP& g) {
    g.re[0] = *prevRe;
    g.im[0] = *prevIm;
    dtasdBpFilt(samples, g.re + 1, cosTaps);
    dtasdBpFilt(samples, g.im + 1, sinTaps);
    *prevRe = g.re[DTMFD_OUTPUTS];
    *prevIm = g.im[DTMFD_OUTPUTS];
}

std::uint32_t energy(const DTMFD_GROUP& g) {
    std::uint32_t e = 0;
    for (std::uint32_t p : g.pow) e += p >> 3;
    return e;
}

// Within a factor of four either way, or failing that within 16/3.
bool dtasdCalcPowTwist(DTASD_FLTDATA* s, const DTMFD_GROUP& lo, const DTMFD_GROUP& hi, std::uint32_t thresh5ms) {
    const std::uint32_t L = energy(lo), H = energy(hi);
    s->lo_energy = L;
    s->hi_energy = H;
    if (std::uint64_t{L} + H < (std::uint64_t{thresh5ms} << 8)) return false;
    if (L >= (H >> 2) && H >= (L >> 2)) return true;
    return (H >> 2) - (H >> 4) <= L && (L >> 2) - (L >> 4) <= H;
}

}  // namespace

void dtasdBpFilt(const std::int16_t* samples, std::int16_t* out, const std::int16_t* taps) {
    for (int j = 0; j < DTMFD_OUTPUTS; ++j) out[j] = outputEndingAt(samples + 8 * j - 1, taps);
}

std::int16_t dtasdBpFilt1(const std::int16_t* samples, const std::int16_t* taps) {
    return outputEndingAt(samples + 31, taps);
}

bool dtasdBlk(DTASD_FLTDATA* s, const std::int16_t* samples) {
    std::uint32_t thresh1ms = 0, thresh5ms = 0;
    dtmfdCalcThresh(kMinPower, &thresh1ms, &thresh5ms);  // DTASD_LOG_LOOKUP holds the same steps
    DTMFD_GROUP hi{}, lo{};
    runGroup(samples, bpHighCosDtas.data(), bpHighSinDtas.data(), &s->bpOutHighReal, &s->bpOutHighImag, hi);
    if (!dtmfdCalcPower(hi, thresh1ms)) {
        s->bpOutLowReal = dtasdBpFilt1(samples, bpLowCosDtas.data());
        s->bpOutLowImag = dtasdBpFilt1(samples, bpLowSinDtas.data());
        return false;
    }
    runGroup(samples, bpLowCosDtas.data(), bpLowSinDtas.data(), &s->bpOutLowReal, &s->bpOutLowImag, lo);
    if (!dtmfdCalcPower(lo, thresh1ms) || !dtasdCalcPowTwist(s, lo, hi, thresh5ms)) return false;
    std::int16_t estLow[DTMFD_OUTPUTS], estHigh[DTMFD_OUTPUTS];
    dtmfdCalcFreq(lo, kLowCos, kLowSin, estLow);
    dtmfdCalcFreq(hi, kHighCos, kHighSin, estHigh);
    std::int32_t sLow = 0, sHigh = 0;
    if (!dtmfdCalcVarMean(estLow, &sLow) || !dtmfdCalcVarMean(estHigh, &sHigh)) return false;
    return sLow >= -kLowWindow && sLow <= kLowWindow && sHigh >= -kHighWindow && sHigh <= kHighWindow;
}
