// Bit-level stages of the datapumps: the self-synchronising scramblers (1 + x^-18 + x^-23 for the
// trellis-coded family, 1 + x^-6 + x^-7 with a repetition guard for the 2400/4800 and 7200/9600
// family), differential and trellis coding, the rate sequence and the rate table.
#pragma once

#include <array>
#include <cstdint>

#include "vc_baud.h"

// ---- scramblers of the trellis family, k bits per symbol ----
// All k bits of a symbol in one step; the tap of x^-18 sits at register bit 5. The transmit
// stages are inline for the baud machine's runs (vcBdmTxRun).
// Any m <= 18 bits in one step, a batch of symbols as one word: bit i reads the register's bits
// i and i + 5, which the step's own bits reach only from bit 18 on.
inline uint32_t vcGpcScrambleWord(uint32_t in, uint32_t& reg, int m) {
  constexpr uint32_t kMask = (1u << 23) - 1;
  const uint32_t out = (in ^ reg ^ (reg >> 5)) & ((1u << m) - 1);
  reg = ((reg >> m) + (out << (23 - m))) & kMask;
  return out;
}
inline uint16_t vcGpcScramble(uint16_t in, uint32_t& reg, int k) {
  return static_cast<uint16_t>(vcGpcScrambleWord(in, reg, k));
}
template <int K>
inline VCBDMSTATUS vcGpcScr(VCZTXMEM* t) {
  t->scout = vcGpcScramble(t->txdata, t->screg, K);
  return 0;
}
inline VCBDMSTATUS v32gpcscr2(VCZTXMEM* t) { return vcGpcScr<2>(t); }
inline VCBDMSTATUS v32gpcscr3(VCZTXMEM* t) { return vcGpcScr<3>(t); }
inline VCBDMSTATUS v32gpcscr4(VCZTXMEM* t) { return vcGpcScr<4>(t); }
inline VCBDMSTATUS v32gpcscr5(VCZTXMEM* t) { return vcGpcScr<5>(t); }
inline VCBDMSTATUS v32gpcscr6(VCZTXMEM* t) { return vcGpcScr<6>(t); }
// A batch: as many K-bit symbols as one step takes.
template <int K>
struct VcGpcScrBatch {
  static constexpr int bitsPerSymbol = K;
  static constexpr int symbols = 18 / K;
  static uint32_t scramble(uint32_t bits, VCZTXMEM* t) { return vcGpcScrambleWord(bits, t->screg, K * symbols); }
};
template <> struct VcScrBatch<v32gpcscr2> : VcGpcScrBatch<2> {};
template <> struct VcScrBatch<v32gpcscr3> : VcGpcScrBatch<3> {};
template <> struct VcScrBatch<v32gpcscr4> : VcGpcScrBatch<4> {};
template <> struct VcScrBatch<v32gpcscr5> : VcGpcScrBatch<5> {};
template <> struct VcScrBatch<v32gpcscr6> : VcGpcScrBatch<6> {};
VCBDMSTATUS v32gpcdes2(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v32gpcdes3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v32gpcdes4(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v32gpcdes5(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v32gpcdes6(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v32gpctrn2(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

extern const VCTXSTAGEF vctGpcScrLUT[7];
extern const VCRXSTAGEF vctGpcDesLUT[7];

// ---- 1 + x^-6 + x^-7 scrambler with its guard against short periods ----
uint16_t v27tscram(bool isScrambler, uint16_t bits, int n, uint32_t* reg, uint16_t* guard);
// The same a bit at a time: the reference, and the form taken near the guard's count.
uint16_t v27tscramSerial(bool isScrambler, uint16_t bits, int n, uint32_t* reg, uint16_t* guard);

// Six bits in reverse order: a symbol's bits in the order the register takes them.
inline constexpr std::array<uint8_t, 64> kV27tReverse6 = [] {
  std::array<uint8_t, 64> t{};
  for (uint32_t x = 0; x < 64; ++x)
    for (int i = 0; i < 6; ++i)
      if (x & (1u << i)) t[x] |= static_cast<uint8_t>(1u << (5 - i));
  return t;
}();

// v27tscram's N bits where the guard counter cannot reach 33 within them (guard + N <= 32): bit i
// reads only register bits the earlier ones have not shifted in (feedback taps 5 and 6, i < 6),
// so all N bits at once, in the register's order (bit i of the symbol at N - 1 - i after the
// shift), where each tap is one shift.
// The guard's count after the register's newest n bits (n <= 18): a bit that differs from all
// three taps restarts it; the last such bit is the lowest in register order.
__attribute__((always_inline)) inline uint16_t v27tGuardAfter(uint32_t r, int n, uint16_t guard) {
  const uint32_t differs = (r ^ (r >> 8)) & (r ^ (r >> 9)) & (r ^ (r >> 12)) & ((1u << n) - 1);
  return static_cast<uint16_t>(differs == 0 ? guard + n : __builtin_ctz(differs));
}

template <bool isScrambler, int N>
__attribute__((always_inline)) inline uint16_t v27tScrambleWord(uint16_t bits, uint32_t* reg, uint16_t* guard) {
  static_assert(N >= 1 && N <= 6);
  constexpr uint32_t mask = (1u << N) - 1;
  const uint32_t shifted = *reg << N;
  const uint32_t in = kV27tReverse6[bits & mask] >> (6 - N);
  const uint32_t out = in ^ (((shifted >> 6) ^ (shifted >> 7)) & mask);
  const uint32_t r = shifted | (isScrambler ? out : in);
  *reg = r;
  *guard = v27tGuardAfter(r, N, *guard);
  return static_cast<uint16_t>(kV27tReverse6[out] >> (6 - N));
}

// A symbol's N bits through the scrambler or the descrambler: the word form, the serial one where
// the guard's count may fire within them.
template <bool isScrambler, int N>
__attribute__((always_inline)) inline uint16_t v27tScrambleSymbol(uint16_t bits, uint32_t* reg, uint16_t* guard) {
  return *guard + N <= 32 ? v27tScrambleWord<isScrambler, N>(bits, reg, guard)
                          : v27tscramSerial(isScrambler, bits, N, reg, guard);
}

// Whole six-bit words, n <= 18 bits, where the guard's count cannot reach 33 within them: the
// words one after another, the count once from the register they leave (a bit's taps are the same
// register bits whichever word shifted it in, and the words' bits are all still in the register).
__attribute__((always_inline)) inline uint32_t v27tScrambleWords(uint32_t bits, int n, uint32_t* reg,
                                                                  uint16_t* guard) {
  uint32_t r = *reg;
  uint32_t out = 0;
  for (int done = 0; done < n; done += 6) {
    const uint32_t shifted = r << 6;
    const uint32_t word = kV27tReverse6[(bits >> done) & 63] ^ (((shifted >> 6) ^ (shifted >> 7)) & 63);
    r = shifted | word;
    out |= static_cast<uint32_t>(kV27tReverse6[word]) << done;
  }
  *reg = r;
  *guard = v27tGuardAfter(r, n, *guard);
  return out;
}

// Any number of bits in time order, six at a time: the word form where the guard allows it, the
// serial one where its count may fire.
__attribute__((always_inline)) inline uint32_t v27tScrambleBits(uint32_t bits, int n, uint32_t* reg,
                                                                 uint16_t* guard) {
  if (n % 6 == 0 && n <= 18 && *guard + n <= 32) return v27tScrambleWords(bits, n, reg, guard);
  uint32_t out = 0;
  for (int done = 0; done < n; done += 6) {
    const int m = n - done < 6 ? n - done : 6;
    const uint16_t chunk = static_cast<uint16_t>((bits >> done) & ((1u << m) - 1));
    const uint16_t s = m == 6 && *guard + 6 <= 32 ? v27tScrambleWord<true, 6>(chunk, reg, guard)
                                                  : v27tscramSerial(true, chunk, m, reg, guard);
    out |= static_cast<uint32_t>(s) << done;
  }
  return out;
}

// The transmit stages inline for the baud machine's runs: the word form, the serial one near the
// guard's count. The state goes through locals: the run keeps the machine's memory in registers
// only while no field's address leaves it.
template <int N>
inline VCBDMSTATUS vcf27Scram(VCZTXMEM* t) {
  uint32_t reg = t->screg;
  uint16_t guard = t->nones;
  t->scout = v27tScrambleSymbol<true, N>(t->txdata, &reg, &guard);
  t->screg = reg;
  t->nones = guard;
  return 0;
}
inline VCBDMSTATUS vcf27Scram2(VCZTXMEM* t) { return vcf27Scram<2>(t); }
inline VCBDMSTATUS vcf27Scram3(VCZTXMEM* t) { return vcf27Scram<3>(t); }
// A batch: twelve bits, two words of the scrambler.
template <int N>
struct Vc27ScrBatch {
  static constexpr int bitsPerSymbol = N;
  static constexpr int symbols = 12 / N;
  __attribute__((always_inline)) static uint32_t scramble(uint32_t bits, VCZTXMEM* t) {
    uint32_t reg = t->screg;
    uint16_t guard = t->nones;
    const uint32_t out = v27tScrambleBits(bits, N * symbols, &reg, &guard);
    t->screg = reg;
    t->nones = guard;
    return out;
  }
};
template <> struct VcScrBatch<vcf27Scram2> : Vc27ScrBatch<2> {};
template <> struct VcScrBatch<vcf27Scram3> : Vc27ScrBatch<3> {};
VCBDMSTATUS vcf27Descram2(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcf27Descram3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

// ---- differential and trellis coding ----
extern const uint16_t encodeStateTab32[32];
inline VCBDMSTATUS v3xfTxenc(VCZTXMEM* t) {
  t->encout = static_cast<uint16_t>(((t->scout + t->encout) & 3) + (t->scout & 0xFC));
  return 0;
}
VCBDMSTATUS v3xfRxdec(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v3xfEnctrn2p(VCZTXMEM* txmem);
inline VCBDMSTATUS v3xfTtrelenc(VCZTXMEM* t) {
  v3xfTxenc(t);
  t->trelout = static_cast<uint16_t>((t->trelstate & 1) + 2 * t->encout);
  t->trelstate = encodeStateTab32[(t->trelstate & 7) * 4 + (t->encout & 3)];
  return 0;
}
inline VCBDMSTATUS v3xfTxmap(VCZTXMEM* t) {
  const uint16_t e = t->gridmap[t->trelout & t->txsigmask];
  t->txsig.real = static_cast<int16_t>(((e >> 8) - 128) * t->txscale);
  t->txsig.imag = static_cast<int16_t>(((e & 255) - 128) * t->txscale);
  return 0;
}
VCBDMSTATUS vcfvitdec3x(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

// ---- rate sequence and rate table ----
void vcfTxrate_init(VCZTXMEM* txmem, uint16_t word);
VCBDMSTATUS vcfTxrate(VCZTXMEM* txmem);

struct VCZRATEPARM {
  uint16_t ridx;
  uint16_t numbits;
  uint16_t bmask;
  const uint16_t* txtab;  // packed grid points ((x + 128) << 8 | (y + 128)), or null
  int16_t txscale;
  int16_t rxscale;
  int16_t rxphase;
  const uint16_t* rxtab;  // inverse map of the decided point, or null
  uint16_t rmask;
};

extern const VCZRATEPARM vctRatetabLUT[7];
int16_t vcfFindrate(uint16_t word);

// Constellations of the trellis-coded rates (indexed by the coder output: Y0 in bit 0, the
// differentially coded pair in bits 1 and 2, the other data bits above) and their inverse maps.
extern const uint16_t SymMap7200Tab[16];
extern const uint16_t SymMap9600Tab[32];
extern const uint16_t SymMap12000Tab[64];
extern const uint16_t SymMap14400Tab[128];
extern const uint16_t InvMap7200Tab32[16];
extern const uint16_t InvMap9600Tab32[36];
extern const uint16_t InvMap12000Tab32[64];
extern const uint16_t InvMap14400Tab32[144];
extern const VCZCOMPLEX vctSig16LUT[16];
extern const uint16_t vctImap16LUT[16];

// Index of a decided point (on the decoder's 1024 grid) into the rate's inverse map, clamped to
// the map.
int16_t vcfInvMapIndex(uint16_t rate, const VCZCOMPLEX* point);
const uint16_t* vcfInvMapOf(uint16_t rate);
