// Bell 202 FSK demodulator of the caller-ID receiver: the 8 kHz line signal resampled to 6 kHz
// through a band-pass, a delay-and-multiply discriminator and a low-pass; per 40-sample block it
// gives 30 values (positive = mark) and their smoothed levels.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int B202_BLOCK = 40;
inline constexpr int B202_HISTORY = 32;  // input samples before the block that the resampler reads
inline constexpr int B202_VALUES = 30;
inline constexpr int B202_LPF_TAPS = 20;

extern const std::array<std::int16_t, 96> hsb202dnsamplebpf0;  // three 32-tap phases
extern const std::array<std::int16_t, B202_LPF_TAPS> hsb202lpf;

enum HSECLIDRXSYMBOL : std::uint16_t {
  HSCLIDRXSMBLSPACE = 0,
  HSCLIDRXSMBLMARK = 1,
  HSCLIDRXSMBLSILENCE = 2,
  HSCLIDRXSMBLNULL = 3,
};
enum HSECLIDRXBITSTATE : std::uint16_t {
  HSCLIDRXSEIZURE = 0,
  HSCLIDRXMARK = 1,
  HSCLIDRXFINDSTART = 2,
  HSCLIDRXGETBYTE = 3,
};

// Host-visible packet of the receiver (22 bytes).
struct HSZCLIDRXPACKET {
  std::uint16_t hsxClassCode;  // 0 seizure/mark report, 1 message bytes, 2 end of message
  std::uint16_t hsxClassMsgWord0;
  std::uint16_t hsxClassMsgWord1;
  std::uint16_t hsxClassMsg[8];  // up to 16 bytes, first in the low half
};
static_assert(sizeof(HSZCLIDRXPACKET) == 22, "caller-ID receive packet is 22 bytes");

struct HSZCLIDRXCONTEXT {
  std::uint16_t hsxagc;       // AGC on
  std::uint16_t hsxagclevel;  // right shift of the discriminator output
  std::int16_t hsxpowlevel;   // smoothed magnitude
  std::int16_t hsxxprev;      // last filtered value of the previous block
  std::int16_t hsxy[B202_LPF_TAPS];  // discriminator values before the block
  std::uint16_t hsxagccounter;
  std::uint16_t hsxsymbolstate;  // HSECLIDRXSYMBOL
  std::uint16_t hsxsamplecnt;    // values since the last zero crossing
  std::int16_t hsxprevsample;
  std::uint16_t hsxbitstate;  // HSECLIDRXBITSTATE
  std::uint16_t hsxprevbit;
  std::uint16_t hsxcounter;
  std::uint16_t hsxbyte;
  std::uint16_t hsxnumbits;
  HSZCLIDRXPACKET hsxpacket;
};

// Demodulates one block: input points at the block's first sample with 32 samples of history
// before it; writes 30 values and 30 levels.
void hsfb202rx(HSZCLIDRXCONTEXT* ctx, const std::int16_t* input, std::int16_t* samples, std::int16_t* power);
// Clears the demodulator's filter history.
void hsfb202rxReset(HSZCLIDRXCONTEXT* ctx);
