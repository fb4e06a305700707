// Oscillators, modulation and the single-tone detector step.
#include "tone.h"

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

std::int16_t hsfSin(std::uint16_t phase) {
    std::int32_t x = phase & 0x3FFF;
    if (phase & 0x4000) x = ~x & 0x3FFF;  // second and fourth quarters run backwards
    std::int32_t p = sineCoefficients[0];
    for (std::size_t i = 1; i < sineCoefficients.size(); ++i) {
        p = sineCoefficients[i] + ((2 * x * p + 32768) >> 16);
    }
    const std::int32_t s = (2 * x * p + 32768) >> 16;
    auto r = static_cast<std::int16_t>(s * 8);
    if (phase & 0x8000) r = static_cast<std::int16_t>(-r);
    return r;
}

std::int16_t hsfCos(std::uint16_t phase) { return hsfSin(static_cast<std::uint16_t>(phase + 16384)); }

void hsfToneGen(std::int16_t* out, HSZTONE* tone, int count) {
    for (int i = 0; i < count; ++i) {
        const std::int32_t prod = std::int32_t{hsfSin(tone->phase)} * tone->amplitude;
        const auto v = static_cast<std::int16_t>(prod >> 15);  // bits 15..30 of the product
        out[i] = sat16(std::int32_t{out[i]} + v);
        tone->phase = static_cast<std::uint16_t>(tone->phase + tone->phaseInc);
    }
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

std::uint16_t hsfdettone(const std::int16_t* block, HSZTONEDET* det) {
    const std::int32_t first = block[0] < 0 ? -std::int32_t{block[0]} : block[0];
    det->hsxyFb = static_cast<std::uint16_t>(det->hsxyFb + (((first - std::int32_t{det->hsxyFb}) * det->hsxalpha) >> 15));
    std::uint32_t acc = 0;  // 32-bit sum, wrapping as the accumulator does
    for (int k = 0; k < det->hsxlength; ++k) {
        acc += static_cast<std::uint32_t>(std::int32_t{det->hsxcoeffp[k]} * block[k]);
    }
    const auto y = static_cast<std::int16_t>(static_cast<std::int32_t>(acc) >> 15);
    const std::int32_t ay = y < 0 ? -std::int32_t{y} : y;
    det->hsxy = static_cast<std::uint16_t>(det->hsxy + (((ay - std::int32_t{det->hsxy}) * det->hsxalpha) >> 15));
    return det->hsxy;
}
