// Alerting-signal block classifier (2130 Hz + 2750 Hz): the DTMF detector's steps with its own
// filters, centre frequencies, fixed sensitivity, twist rule and frequency windows.
#pragma once

#include <array>
#include <cstdint>

#include "dtmfd.h"

inline constexpr int DTASD_TAPS = 74;

struct DTASD_FLTDATA {
    std::uint32_t hi_energy;
    std::uint32_t lo_energy;
    std::int16_t bpOutLowReal;
    std::int16_t bpOutLowImag;
    std::int16_t bpOutHighReal;
    std::int16_t bpOutHighImag;
};

extern const std::array<std::int16_t, DTASD_TAPS> bpLowCosDtas;
extern const std::array<std::int16_t, DTASD_TAPS> bpLowSinDtas;
extern const std::array<std::int16_t, DTASD_TAPS> bpHighCosDtas;
extern const std::array<std::int16_t, DTASD_TAPS> bpHighSinDtas;
extern const std::array<std::uint16_t, 3> DTASD_LOG_LOOKUP;

// Five outputs at samples -1, 7, 15, 23, 31 of the block: (sum taps[k] x[8j - 1 - k]) >> 15.
void dtasdBpFilt(const std::int16_t* samples, std::int16_t* out, const std::int16_t* taps);
// The single output at sample 31.
std::int16_t dtasdBpFilt1(const std::int16_t* samples, const std::int16_t* taps);
// True when the 40-sample block at samples shows the alerting signal; 73 samples of history
// must be readable before it.
bool dtasdBlk(DTASD_FLTDATA* state, const std::int16_t* samples);
