// Oscillators, modulation and the single-tone detector step.
#include "tone.h"

#include "tone_kernels.h"
#include "vc_arith.h"

namespace {
std::int16_t sat16(std::int64_t v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<std::int16_t>(v);
}
}  // namespace

const std::array<DTGEN_PROFILE, 16> dtgenDtmfProf = {{
    {941, 1336}, {697, 1209}, {697, 1336}, {697, 1477}, {770, 1209}, {770, 1336},
    {770, 1477}, {852, 1209}, {852, 1336}, {852, 1477}, {941, 1209}, {941, 1477},
    {697, 1633}, {770, 1633}, {852, 1633}, {941, 1633},
}};

void hsfToneChangeFreq(HSZTONE* tone, std::uint16_t freqHz) {
    tone->phaseInc = static_cast<std::uint16_t>((std::uint32_t{freqHz} * 8192u + 500u) / 1000u);
}

void hsfToneReset(HSZTONE* tone, std::uint16_t freqHz, std::uint16_t amplitude) {
    tone->phase = 0;
    hsfToneChangeFreq(tone, freqHz);
    tone->amplitude = amplitude;
}

std::int16_t hsfSin(std::uint16_t phase) { return hsfSinModel(phase); }

std::int16_t hsfCos(std::uint16_t phase) { return hsfSin(static_cast<std::uint16_t>(phase + 16384)); }

void hsfToneGen(std::int16_t* out, HSZTONE* tone, int count) {
    if (count <= 0) return;
    static const ToneGenKernel kernel = toneGenKernel();
    kernel(out, tone->phase, tone->phaseInc, tone->amplitude, count);
    tone->phase = static_cast<std::uint16_t>(tone->phase + static_cast<std::uint32_t>(count) * tone->phaseInc);
}

void hsfToneGenPhases(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amplitude, int count) {
    if (count <= 0) return;
    static const TonePhasesKernel kernel = tonePhasesKernel();
    kernel(out, phases, amplitude, count);
}

void toneAmplitudeMod(int count, std::int16_t* out, const std::int16_t* carrier, const std::int16_t* modulator) {
    constexpr std::int64_t kLimit = std::int64_t{1} << 28;
    for (int i = 0; i < count; ++i) {
        const std::int64_t c = carrier[i];
        std::int64_t sum = ((std::int64_t{modulator[i]} * c + 16384) & ~std::int64_t{0x7FFF}) + c * 8192;
        if (sum >= kLimit) sum = kLimit - 1;
        if (sum < -kLimit) sum = -kLimit;
        out[i] = sat16(sum >> 13);
    }
}

void hsfresetdettone(HSZTONEDET* det, const std::int16_t* coeffs, std::int16_t length, std::int16_t beta) {
    det->hsxcoeffp = coeffs;
    det->hsxlength = length;
    det->hsxalpha = static_cast<std::int16_t>(32767 - beta);
    det->hsxy = 0;
    det->hsxyFb = 0;
}

namespace {
// The step's two smoothings: the input magnitude from the block's first sample, the filter-output
// magnitude from the filter's 32-bit sum.
std::uint16_t detectorSmooth(HSZTONEDET* det, std::int16_t first, std::uint32_t acc) {
    const std::int32_t a = first < 0 ? -std::int32_t{first} : first;
    det->hsxyFb = static_cast<std::uint16_t>(det->hsxyFb + (((a - std::int32_t{det->hsxyFb}) * det->hsxalpha) >> 15));
    const auto y = static_cast<std::int16_t>(static_cast<std::int32_t>(acc) >> 15);
    const std::int32_t ay = y < 0 ? -std::int32_t{y} : y;
    det->hsxy = static_cast<std::uint16_t>(det->hsxy + (((ay - std::int32_t{det->hsxy}) * det->hsxalpha) >> 15));
    return det->hsxy;
}
}  // namespace

std::uint16_t hsfdettone(const std::int16_t* block, HSZTONEDET* det) {
    return detectorSmooth(det, block[0], vcDot16(det->hsxcoeffp, block, det->hsxlength));
}

std::uint16_t hsfdettoneSilent(HSZTONEDET* det) { return detectorSmooth(det, 0, 0); }
