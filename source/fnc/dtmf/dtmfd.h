// DTMF detector: classifies one 40-sample block (5 ms at 8 kHz) as one digit or none. Two
// complex band-pass filters, one per frequency group, decimated to one output per millisecond;
// each group's frequency is measured from the phase advance between consecutive outputs. All
// timing (minimum on, off and abort times) belongs to the caller's state machine.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int DTMFD_BLOCK = 40;
inline constexpr int DTMFD_TAPS = 76;

// Digit codes.
enum : std::int16_t {
    HAPI_PTE_DTMFDMAXDGT = 16,
};

// Index of a frequency within its group.
enum HSEDTMFDFREQ : std::int16_t {
    HSDTMFDILLEGAL = -1,
    HSDTMFD697 = 0,
    HSDTMFD770 = 1,
    HSDTMFD852 = 2,
    HSDTMFD941 = 3,
    HSDTMFD1209 = 0,
    HSDTMFD1336 = 1,
    HSDTMFD1477 = 2,
    HSDTMFD1633 = 3,
};

// Administrations of the detector's twist and window rules.
enum HAPI_PTE_ADM : std::uint16_t {
    HAPI_PTE_ADM_N_AMERICA = 0,
    HAPI_PTE_ADM_GENERAL = 1,
    HAPI_PTE_ADM_JAPAN = 2,
    HAPI_PTE_ADM_EUROPE = 3,
    HAPI_PTE_ADM_AUSTRALIA = 4,
    HAPI_PTE_ADM_BRAZIL = 5,
    HAPI_PTE_ADM_MAXADM = 6,
};

struct DTMFD_STATE {
    std::uint32_t hi_energy;  // group energies of the last block that passed the twist test
    std::uint32_t lo_energy;
    std::int16_t bpOutLowReal;  // last filter output of each group from the previous block
    std::int16_t bpOutLowImag;
    std::int16_t bpOutHighReal;
    std::int16_t bpOutHighImag;
};

struct DTDET_RESULT {
    std::int16_t digit;   // 0..15, -1 = none
    std::uint16_t power;  // whole dB below the reference, 0..31; 31 without a digit
};

// Frequency windows of one set, in units of the summed phase deviation (see dtmfdCalcFreq).
struct DTMFD_FREQLIM {
    std::array<std::int16_t, 4> low_band_min;
    std::array<std::int16_t, 4> low_band_max;
    std::array<std::int16_t, 4> high_band_min;
    std::array<std::int16_t, 4> high_band_max;
};

struct DTMFD_PARM {
    std::int16_t onOffCnt;  // not used by the block detector
    std::int16_t fwdTwistdB;  // shifts: each step 3 dB
    std::int16_t revTwistdB;
    const DTMFD_FREQLIM* freqlimp;
};

extern const std::array<DTMFD_FREQLIM, 2> dtmfd_freqlim;
extern const std::array<DTMFD_PARM, HAPI_PTE_ADM_MAXADM> dtmfd_admin_parm;
extern const std::array<std::array<std::int16_t, 4>, 4> hstdtmfdinv;
extern const std::array<std::uint16_t, 3> DTMFD_LOG_LOOKUP;
extern const std::array<std::int16_t, DTMFD_TAPS> bpLowCos;
extern const std::array<std::int16_t, DTMFD_TAPS> bpLowSin;
extern const std::array<std::int16_t, DTMFD_TAPS> bpHighCos;
extern const std::array<std::int16_t, DTMFD_TAPS> bpHighSin;

void dtmfdInit(DTMFD_STATE* state);
// Classifies the 40 samples at samples; the 76 samples before them must be readable history
// of the same stream. An administration out of range is treated as North American.
void dtmfdBlk(DTMFD_STATE* state, std::uint16_t detectAdmin, std::uint16_t minDetectPower, DTDET_RESULT* result,
              const std::int16_t* samples);
// Classifies `blocks` consecutive blocks at samples into result[0 .. blocks - 1], as that many
// calls of dtmfdBlk would; silence over all of them is seen in one look.
void dtmfdBlocks(DTMFD_STATE* state, std::uint16_t detectAdmin, std::uint16_t minDetectPower, DTDET_RESULT* result,
                 const std::int16_t* samples, int blocks);

// Kernels and steps, exposed for the block's tests.
void dtmfdBpFilt(const std::int16_t* samples, std::int16_t* out, const std::int16_t* taps);
std::int16_t dtmfdBpFilt1(const std::int16_t* samples, const std::int16_t* taps);
void dtmfdCalcThresh(std::uint16_t minDetectPower, std::uint32_t* thresh1ms, std::uint32_t* thresh5ms);

// One frequency group's filter outputs of a block: [0] is the previous block's last output.
inline constexpr int DTMFD_OUTPUTS = 5;
struct DTMFD_GROUP {
    std::int16_t re[DTMFD_OUTPUTS + 1];
    std::int16_t im[DTMFD_OUTPUTS + 1];
    std::uint32_t pow[DTMFD_OUTPUTS];
};
// Powers 2 (re^2 + im^2) of the five new outputs; false when any is below thresh1ms << 8.
bool dtmfdCalcPower(DTMFD_GROUP& g, std::uint32_t thresh1ms);
// Five phase-advance estimates relative to the group centre (rotation cosK, sinK), hsfAtan units.
void dtmfdCalcFreq(const DTMFD_GROUP& g, std::int32_t cosK, std::int32_t sinK, std::int16_t* est);
// Sum of the estimates in *sum; false when 5 Q - S^2 exceeds 64000.
bool dtmfdCalcVarMean(const std::int16_t* est, std::int32_t* sum);
