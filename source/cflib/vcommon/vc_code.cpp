// Scramblers, differential and trellis coding, rate sequence and rate table.
#include "vc_code.h"

#include <array>

namespace {

constexpr uint32_t kGpcMask = (1u << 23) - 1;

uint16_t gpcDescramble(uint16_t in, uint32_t& reg, int k) {
  const uint16_t mask = static_cast<uint16_t>((1u << k) - 1);
  const uint16_t out = static_cast<uint16_t>((in ^ reg ^ (reg >> 5)) & mask);
  reg = ((reg >> k) + (static_cast<uint32_t>(in & mask) << (23 - k))) & kGpcMask;
  return out;
}

template <int K>
VCBDMSTATUS gpcDes(VCZRXMEM* r, VCZBUF*) {
  r->desout = gpcDescramble(r->descin, r->dsreg, K);
  return 0;
}

}  // namespace

VCBDMSTATUS v32gpcdes2(VCZRXMEM* r, VCZBUF* b) { return gpcDes<2>(r, b); }
VCBDMSTATUS v32gpcdes3(VCZRXMEM* r, VCZBUF* b) { return gpcDes<3>(r, b); }
VCBDMSTATUS v32gpcdes4(VCZRXMEM* r, VCZBUF* b) { return gpcDes<4>(r, b); }
VCBDMSTATUS v32gpcdes5(VCZRXMEM* r, VCZBUF* b) { return gpcDes<5>(r, b); }
VCBDMSTATUS v32gpcdes6(VCZRXMEM* r, VCZBUF* b) { return gpcDes<6>(r, b); }

VCBDMSTATUS v32gpctrn2(VCZRXMEM* r, VCZBUF*) {
  // A scrambler fed with rxdata (3 during training): the scrambled-ones reference.
  r->desout = vcGpcScramble(r->rxdata, r->dsreg, 2);
  return 0;
}

const VCTXSTAGEF vctGpcScrLUT[7] = {v32gpcscr2, v32gpcscr4, v32gpcscr4, v32gpcscr3,
                                    v32gpcscr4, v32gpcscr5, v32gpcscr6};
const VCRXSTAGEF vctGpcDesLUT[7] = {v32gpcdes2, v32gpcdes4, v32gpcdes4, v32gpcdes3,
                                    v32gpcdes4, v32gpcdes5, v32gpcdes6};

uint16_t v27tscramSerial(bool isScrambler, uint16_t bits, int n, uint32_t* reg, uint16_t* guard) {
  // register and guard counter in locals: through the pointers they would be stored every bit
  uint16_t result = 0;
  uint32_t r = *reg;
  uint32_t g = *guard;
  for (int i = 0; i < n; ++i) {
    const uint32_t b = (bits >> i) & 1;
    const uint32_t f = (((r >> 5) ^ (r >> 6)) & 1) ^ (g == 33 ? 1u : 0u);
    const uint32_t out = f ^ b;
    result = static_cast<uint16_t>(result | (out << i));
    const uint32_t enter = isScrambler ? out : b;
    const uint32_t differs = (enter ^ (r >> 7)) & (enter ^ (r >> 8)) & (enter ^ (r >> 11)) & 1;
    g = (differs != 0 || g >= 33) ? 0 : g + 1;
    r = (r << 1) + enter;
  }
  *reg = r;
  *guard = static_cast<uint16_t>(g);
  return result;
}

namespace {

// The scrambler or descrambler fixed, so that each form is straight code.
template <bool isScrambler>
uint16_t scramble(uint16_t bits, int n, uint32_t* reg, uint16_t* guard) {
  if (*guard + n <= 32) {
    switch (n) {
      case 1: return v27tScrambleWord<isScrambler, 1>(bits, reg, guard);
      case 2: return v27tScrambleWord<isScrambler, 2>(bits, reg, guard);
      case 3: return v27tScrambleWord<isScrambler, 3>(bits, reg, guard);
      case 4: return v27tScrambleWord<isScrambler, 4>(bits, reg, guard);
      case 5: return v27tScrambleWord<isScrambler, 5>(bits, reg, guard);
      case 6: return v27tScrambleWord<isScrambler, 6>(bits, reg, guard);
      default: break;
    }
  }
  return v27tscramSerial(isScrambler, bits, n, reg, guard);
}

}  // namespace

uint16_t v27tscram(bool isScrambler, uint16_t bits, int n, uint32_t* reg, uint16_t* guard) {
  return isScrambler ? scramble<true>(bits, n, reg, guard) : scramble<false>(bits, n, reg, guard);
}

VCBDMSTATUS vcf27Descram2(VCZRXMEM* r, VCZBUF*) {
  r->desout = v27tscram(false, r->descin, 2, &r->dsreg, &r->nones);
  return 0;
}
VCBDMSTATUS vcf27Descram3(VCZRXMEM* r, VCZBUF*) {
  r->desout = v27tscram(false, r->descin, 3, &r->dsreg, &r->nones);
  return 0;
}

// ---- differential and trellis coding ----

const uint16_t encodeStateTab32[32] = {0, 2, 3, 1, 4, 7, 5, 6, 1, 3, 2, 0, 7, 4, 6, 5,
                                       2, 0, 1, 3, 6, 5, 7, 4, 3, 1, 0, 2, 5, 6, 4, 7};

VCBDMSTATUS v3xfRxdec(VCZRXMEM* r, VCZBUF*) {
  r->descin = static_cast<uint16_t>(((r->decin - r->decreg) & 3) + (r->decin & 0xFC));
  r->decreg = r->decin;
  return 0;
}

VCBDMSTATUS v3xfEnctrn2p(VCZTXMEM* t) {
  t->encout = (t->scout & 1) ? 3 : 0;
  return 0;
}

VCBDMSTATUS vcfvitdec3x(VCZRXMEM* r, VCZBUF*) {
  VCZVITERBI32* vit = r->vitp;
  r->bbeqout.real = fxmul(r->bbeqout.real, vit->vitscale);
  r->bbeqout.imag = fxmul(r->bbeqout.imag, vit->vitscale);
  const int16_t label = vcfViterbiDecode32(vit, &r->bbeqout, &r->dpout1, &r->dpout16);
  r->decin = static_cast<uint16_t>(label >> 1);  // Y0 dropped
  return 0;
}

// ---- rate sequence and rate table ----

void vcfTxrate_init(VCZTXMEM* t, uint16_t word) {
  t->txrate = t->txrshift = word;
  t->txrcnt = 8;
}

VCBDMSTATUS vcfTxrate(VCZTXMEM* t) {
  t->txdata = t->txrshift & 3;
  t->txrshift >>= 2;
  if (--t->txrcnt == 0) {
    t->txrshift = t->txrate;
    t->txrcnt = 8;
    return VCBDM_RATE_SENT;
  }
  return 0;
}

const VCZRATEPARM vctRatetabLUT[7] = {
    {6, 6, 63, SymMap14400Tab, 1809, 18545, -4836, InvMap14400Tab32, 0x1110},
    {5, 5, 31, SymMap12000Tab, 1788, 13273, 3356, InvMap12000Tab32, 0x0510},
    {4, 4, 15, SymMap9600Tab, 3664, 9159, -4836, InvMap9600Tab32, 0x0150},
    {3, 3, 7, SymMap7200Tab, 3664, 6476, 3356, InvMap7200Tab32, 0x0310},
    {2, 4, 15, SymMap9600Tab, 3664, 9159, -4836, InvMap9600Tab32, 0x0140},
    {1, 4, 15, nullptr, 3664, 9165, -4836, vctImap16LUT, 0x0040},
    {0, 2, 3, nullptr, 32767, 32767, 0, nullptr, 0x0020},
};

int16_t vcfFindrate(uint16_t word) {
  for (int16_t i = 0; i < 7; ++i)
    if ((word & vctRatetabLUT[i].rmask) == vctRatetabLUT[i].rmask) return i;
  return -1;
}

// The uncoded 16-point row: grid index xi + 4 yi with xi, yi = 0..3 for -3, -1, 1, 3 (x 3664).
const uint16_t vctImap16LUT[16] = {12, 4, 10, 14, 8, 0, 2, 6, 5, 1, 3, 11, 13, 9, 7, 15};
const VCZCOMPLEX vctSig16LUT[16] = {
    {-3664, -3664}, {-3664, 3664}, {3664, -3664}, {3664, 3664},
    {-3664, -10991}, {-10991, 3664}, {10991, -3664}, {3664, 10991},
    {-10991, -3664}, {-3664, 10991}, {3664, -10991}, {10991, 3664},
    {-10991, -10991}, {-10991, 10991}, {10991, -10991}, {10991, 10991},
};

namespace {

struct InvMapGeom {
  uint16_t rate;
  int16_t off;
  int16_t width;
  const uint16_t* map;
};

constexpr InvMapGeom kInvMaps[4] = {{7200, 3, 4, InvMap7200Tab32},
                                    {9600, 5, 6, InvMap9600Tab32},
                                    {12000, 7, 8, InvMap12000Tab32},
                                    {14400, 11, 12, InvMap14400Tab32}};

const InvMapGeom* geomOf(uint16_t rate) {
  for (const auto& g : kInvMaps)
    if (g.rate == rate) return &g;
  return nullptr;
}

int16_t clampCell(int32_t c, int16_t width) {
  if (c < 0) return 0;
  if (c >= width) return static_cast<int16_t>(width - 1);
  return static_cast<int16_t>(c);
}

}  // namespace

const uint16_t* vcfInvMapOf(uint16_t rate) {
  const InvMapGeom* g = geomOf(rate);
  return g ? g->map : nullptr;
}

int16_t vcfInvMapIndex(uint16_t rate, const VCZCOMPLEX* p) {
  const InvMapGeom* g = geomOf(rate);
  if (g == nullptr) return 0;
  const int32_t u = g->off + ((p->real - p->imag) >> 10);
  const int32_t v = g->off + ((p->real + p->imag) >> 10);
  // A decided point beyond the constellation (noise at its edge) reads the nearest edge cell
  // instead of memory outside the map.
  const int16_t cu = clampCell(u / 2, g->width);
  const int16_t cv = clampCell(v / 2, g->width);
  return static_cast<int16_t>(cu + cv * g->width);
}
