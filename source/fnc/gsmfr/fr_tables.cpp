// Constant tables of the GSM full-rate codec.
#include "fr_tables.h"

extern constexpr Word16 fr_LARcQ_Tab[4][8] = {
    {20480, 20480, 20480, 20480, 13964, 15360, 8534, 9036},
    {0, 0, 2048, -2560, 94, -1792, -341, -1144},
    {32, 32, 16, 16, 8, 8, 4, 4},
    {63, 63, 31, 31, 15, 15, 7, 7},
};
extern constexpr Word16 fr_gsm_MIC[8] = {-32, -32, -16, -16, -8, -8, -4, -4};
extern constexpr Word16 fr_gsm_B[8] = {0, 0, 4096, -5120, 188, -3584, -682, -2288};
extern constexpr Word16 fr_gsm_INVA[8] = {13107, 13107, 13107, 13107, 19223, 17476, 31454, 29708};

extern constexpr Word16 fr_BP_val[4] = {3277, 11469, 21299, 32767};
extern constexpr Word16 fr_gsm_QLB[4] = {3277, 11469, 21299, 32767};
extern constexpr Word16 fr_gsm_DLB[4] = {6554, 16384, 26214, 32767};

extern constexpr Word16 fr_RPEWtCoeff[12] = {-134, -374, 0, 2054, 5741, 8192,
                                             5741, 2054, 0,    -374, -134, 0};
extern constexpr Word16 fr_gsm_NRFAC[8] = {29128, 26215, 23832, 21846, 20165, 18725, 17476, 16384};
extern constexpr Word16 fr_gsm_FAC[8] = {18431, 20479, 22527, 24575, 26623, 28671, 30719, 32767};

// Comfort-noise interpolation weights for rx_dtx_state s: (f, 32768 - f) with
// f = min(32768 * (s + 1) / 24, 32767), f weighting the new parameters.
extern constexpr Word16 fr_interp_factor[24][2] = {
    {1365, 31403}, {2730, 30038}, {4096, 28672}, {5461, 27307},
    {6826, 25942}, {8192, 24576}, {9557, 23211}, {10922, 21846},
    {12288, 20480}, {13653, 19115}, {15018, 17750}, {16384, 16384},
    {17749, 15019}, {19114, 13654}, {20480, 12288}, {21845, 10923},
    {23210, 9558}, {24576, 8192}, {25941, 6827}, {27306, 5462},
    {28672, 4096}, {30037, 2731}, {31402, 1366}, {32767, 1},
};

// Parameter order: LARc[8], then per subframe Nc, bc, Mc, xmaxc and the 13 pulses.
extern constexpr Word16 fr_DecHomSeq[76] = {
    9, 23, 15, 8, 7, 3, 3, 2,
    40, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    40, 0, 0, 0, 4, 4, 4, 4, 3, 4, 4, 4, 4, 4, 4, 4, 4,
};

extern constexpr Word16 fr_Silence[76] = {
    42, 39, 21, 10, 9, 4, 3, 2,
    40, 0, 1, 0, 3, 4, 3, 4, 4, 3, 3, 3, 3, 4, 4, 3, 3,
    40, 0, 1, 0, 3, 4, 3, 4, 4, 3, 3, 3, 3, 4, 4, 3, 3,
    40, 0, 1, 0, 3, 4, 3, 4, 4, 3, 3, 3, 3, 4, 4, 3, 3,
    40, 0, 1, 0, 3, 4, 3, 4, 4, 3, 3, 3, 3, 4, 4, 3, 3,
};

#define FR_SUBFRAME_BITS 7, 2, 2, 6, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3
extern constexpr unsigned char fr_prm_bits_table[76] = {
    6, 6, 5, 5, 4, 4, 3, 3, FR_SUBFRAME_BITS, FR_SUBFRAME_BITS, FR_SUBFRAME_BITS, FR_SUBFRAME_BITS,
};
#undef FR_SUBFRAME_BITS

namespace {
constexpr int sum_bits() {
  int n = 0;
  for (unsigned char b : fr_prm_bits_table) n += b;
  return n;
}
static_assert(sum_bits() == 260, "serial frame is 260 bits");
}  // namespace

// Columns: hangover, spectral threshold, pth mantissa, pth exponent, plev mantissa, plev exponent,
// margin mantissa, pvad factor (Q13). Mode 1 is used by no codec and repeats the full-rate row.
extern constexpr Word16 fr_FRATE_VAD_consts[3][8] = {
    {5, 3277, 18750, 19, 25000, 20, 19531, 24576},
    {5, 3277, 18750, 19, 25000, 20, 19531, 24576},
    {5, 4456, 26250, 18, 17500, 20, 27343, 20889},
};

// rvad[0], scal_rvad, hangcount, ptch; then per mode: thvad exponent, thvad mantissa, oldlag,
// rvad[1], rvad[2].
extern constexpr Word16 fr_FRATE_Vad_reset_tab[19] = {
    24576, 7, -1, 1,
    20, 31250, 40, -16384, 4096,
    20, 31250, 40, -16384, 4096,
    21, 21875, 21, 0, 0,
};

extern constexpr Word16 fr_EFR_DTX_const[2][2] = {{4, 27}, {7, 30}};

extern constexpr Word16 fr_FrameTypeLookup[8] = {3, 2, 1, 2, 4, 2, 2, 2};
extern constexpr Word16 fr_UpdatePrevSp_Lookup[5] = {0, 4, 36, 1, 1};
extern constexpr Word16 fr_UpdatePrevNOTSp_Lookup[10] = {0, 0, 8, 8, 40, 40, 1025, 1281, 512, 512};
