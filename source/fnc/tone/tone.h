// Sine oscillators with continuous phase, amplitude modulation and a single-tone detector step.
// Phases are 16-bit fractions of a turn (65536 = 360 degrees); the sample rate is 8 kHz.
#pragma once

#include <array>
#include <cstdint>

struct HSZTONE {
    std::uint16_t phase;
    std::uint16_t amplitude;  // Q15 scale of the sine
    std::uint16_t phaseInc;   // per sample
};

struct HSZTONEDET {
    const std::int16_t* hsxcoeffp;  // FIR coefficients (Q15)
    std::int16_t hsxlength;         // taps
    std::int16_t hsxalpha;          // smoothing factor, Q15
    std::uint16_t hsxy;             // smoothed filter-output magnitude
    std::uint16_t hsxyFb;           // smoothed input magnitude
};

// Quarter-wave sine polynomial.
inline constexpr std::array<std::int16_t, 5> sineCoefficients = {7374, 2231, -21812, 83, 12861};

// The sine of a phase by the polynomial: the reference of the oscillators' vector forms.
constexpr std::int16_t hsfSinModel(std::uint16_t phase) {
    std::int32_t x = phase & 0x3FFF;
    if (phase & 0x4000) x = ~x & 0x3FFF;  // second and fourth quarters run backwards
    std::int32_t p = sineCoefficients[0];
    for (std::size_t i = 1; i < sineCoefficients.size(); ++i) p = sineCoefficients[i] + ((2 * x * p + 32768) >> 16);
    const std::int32_t s = (2 * x * p + 32768) >> 16;
    const auto r = static_cast<std::int16_t>(s * 8);
    return (phase & 0x8000) ? static_cast<std::int16_t>(-r) : r;
}

// DTMF frequency pair of a digit code.
struct DTGEN_PROFILE {
    std::uint16_t freq1;  // low group
    std::uint16_t freq2;  // high group
};
extern const std::array<DTGEN_PROFILE, 16> dtgenDtmfProf;

void hsfToneChangeFreq(HSZTONE* tone, std::uint16_t freqHz);
void hsfToneReset(HSZTONE* tone, std::uint16_t freqHz, std::uint16_t amplitude);
// Adds count samples of the oscillator into out (saturating); the phase carries over.
void hsfToneGen(std::int16_t* out, HSZTONE* tone, int count);
std::int16_t hsfSin(std::uint16_t phase);
// Adds the oscillator's sine at each of `count` given phases, scaled by `amplitude` as hsfToneGen
// scales it, into out (saturating): a keyed signal whose frequency changes within a block.
void hsfToneGenPhases(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amplitude, int count);
std::int16_t hsfCos(std::uint16_t phase);
// out[i] = carrier[i] * (1 + 4 * modulator[i] / 32768), rounded and saturated.
void toneAmplitudeMod(int count, std::int16_t* out, const std::int16_t* carrier, const std::int16_t* modulator);

void hsfresetdettone(HSZTONEDET* det, const std::int16_t* coeffs, std::int16_t length, std::int16_t beta);
// One detector step on the hsxlength samples at block; returns the new hsxy.
std::uint16_t hsfdettone(const std::int16_t* block, HSZTONEDET* det);
// The same step on hsxlength zero samples (a quiet line), without reading them.
std::uint16_t hsfdettoneSilent(HSZTONEDET* det);
