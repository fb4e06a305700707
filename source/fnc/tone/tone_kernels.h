// The oscillator's inner loop in three forms with identical results: the portable one (the
// reference: hsfSinModel per sample), and SSE2 and AVX2 forms that evaluate the same polynomial
// four (in 32-bit lanes) or sixteen (in 16-bit lanes) phases at a time. hsfToneGen picks the best the processor has, once.
#pragma once

#include <cstdint>

// Adds `count` samples of a sine at `phase` (advancing by `inc` per sample) scaled by `amp` into
// out, saturating. The caller advances the oscillator's phase.
void toneGenPortable(std::int16_t* out, std::uint16_t phase, std::uint16_t inc, std::uint16_t amp, int count);
#if defined(ORVOX_X86_SIMD)
void toneGenSse2(std::int16_t* out, std::uint16_t phase, std::uint16_t inc, std::uint16_t amp, int count);
void toneGenAvx2(std::int16_t* out, std::uint16_t phase, std::uint16_t inc, std::uint16_t amp, int count);
#endif

// The same at a given phase per sample (a frequency-shift keyed signal keeps its phase across
// frequency changes).
void tonePhasesPortable(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amp, int count);
#if defined(ORVOX_X86_SIMD)
void tonePhasesSse2(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amp, int count);
void tonePhasesAvx2(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amp, int count);
#endif

using TonePhasesKernel = void (*)(std::int16_t*, const std::uint16_t*, std::uint16_t, int);
TonePhasesKernel tonePhasesKernel();

using ToneGenKernel = void (*)(std::int16_t*, std::uint16_t, std::uint16_t, std::uint16_t, int);
// The form this processor runs.
ToneGenKernel toneGenKernel();
