// Packet-loss concealment for narrowband 16-bit PCM in 5 ms frames by pitch-period repetition with
// overlap-add, as G.711 Appendix I describes it. The output runs 30 samples behind the input so
// that the start of a loss can be blended into samples not yet played; after 60 ms of loss the
// output is comfort noise.
#pragma once

#include <array>
#include <cstdint>

// Comfort-noise generator of the signal-processing library (vadcng.h).
struct GCNG;

constexpr int PLC_FRAMESZ = 40;
constexpr int PLC_HISTORYLEN = 390;
constexpr int PLC_POVERLAPMAX = 30;

struct HSZPLC {
  std::uint16_t erasecnt;  // consecutive lost frames (capped at 13), non-zero during recovery
  std::uint16_t count;     // recovery fade samples left for the next good frame
  std::int16_t poffset;    // read position inside the repeated pitch span
  std::int16_t pitch;      // pitch period in samples, 40..120
  std::int16_t lastq[PLC_POVERLAPMAX];      // end of the history when the loss began
  std::int16_t pitchbuf[PLC_HISTORYLEN];    // history copy that the synthetic signal repeats
  std::int16_t history[PLC_HISTORYLEN];     // last 390 samples of the stream, newest last
};

void plcinit(HSZPLC *mem);

// One 5 ms frame: `keyPLC` false means `speech` holds 40 good samples, true that the frame is
// lost (`speech` is not read). Writes 40 samples, delayed by 30, to `out`. Returns true when the
// output is comfort noise (from the thirteenth lost frame in a row): `cngp`'s generator writes it at
// its current level and spectrum (silence when there is no generator).
bool do_plc(HSZPLC *mem, GCNG *cngp, const std::int16_t *speech, std::int16_t *out, bool keyPLC);

// Building blocks, exposed for their tests.
// Pitch period (40..120) of the 280 samples before `pitchbufend`.
std::int16_t plcfindpitch(const std::int16_t *pitchbufend);
// Cross-fade of `cnt` samples from `l` to `r` into `o` (`o` may be `r`).
void plcoverlapadd(const std::int16_t *l, const std::int16_t *r, std::int16_t *o, std::int16_t cnt);

extern const std::array<std::int16_t, 81> plc_divs_table;
