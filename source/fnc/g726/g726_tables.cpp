// Constant tables of the G.726 codec: per-rate quantiser thresholds and code maps, inverse
// quantiser levels (log domain x 128, 2048 standing for minus infinity), F(I) and W(I) x 16, the
// G.711 expansion tables in 14-bit units and the synchronous coding adjustment rows.
#include "g726_tables.h"

#include <array>

// 16 kbit/s
constexpr std::int16_t G726_Rate2QuantThresh[2] = {2048, 261};
constexpr std::int16_t G726_Rate2DeQ[4] = {116, 365, 365, 116};
constexpr std::int16_t G726_Rate2functfTab[4] = {0, 7, 7, 0};
constexpr std::int16_t G726_Rate2functwTab[4] = {-22, 439, 439, -22};
constexpr std::int16_t G726_Rate2QuantVal[6] = {0, 3, 1, 2, 0, 3};
constexpr std::int16_t G726_Sync_Rate2_ThreshTab[2] = {2048, 261};
constexpr std::int16_t G726_Sync_Rate2_mapk[6] = {2, 1, 3, 0, 2, 1};

// 24 kbit/s
constexpr std::int16_t G726_Rate3QuantThresh[4] = {2048, 331, 218, 8};
constexpr std::int16_t G726_Rate3DeQ[8] = {2048, 135, 273, 373, 373, 273, 135, 2048};
constexpr std::int16_t G726_Rate3functfTab[8] = {0, 1, 2, 7, 7, 2, 1, 0};
constexpr std::int16_t G726_Rate3functwTab[8] = {-4, 30, 137, 582, 582, 137, 30, -4};
constexpr std::int16_t G726_Rate3QuantVal[10] = {7, 7, 3, 4, 2, 5, 1, 6, 7, 7};
constexpr std::int16_t G726_Sync_Rate3_ThreshTab[4] = {2048, 331, 218, 8};
constexpr std::int16_t G726_Sync_Rate3_mapk[10] = {3, 3, 7, 0, 6, 1, 5, 2, 3, 3};

// 32 kbit/s
constexpr std::int16_t G726_Rate4QuantThresh[8] = {3972, 2048, 400, 349, 300, 246, 178, 80};
constexpr std::int16_t G726_Rate4DeQ[16] = {
    2048, 4, 135, 213, 273, 323, 373, 425, 425, 373, 323, 273, 213, 135, 4, 2048
};
constexpr std::int16_t G726_Rate4functfTab[16] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};
constexpr std::int16_t G726_Rate4functwTab[16] = {
    -12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12
};
constexpr std::int16_t G726_Rate4QuantVal[18] = {
    1, 14, 15, 15, 7, 8, 6, 9, 5, 10, 4, 11, 3, 12, 2, 13, 1, 14
};
constexpr std::int16_t G726_Sync_Rate4_ThreshTab[8] = {3972, 2048, 400, 349, 300, 246, 178, 80};
constexpr std::int16_t G726_Sync_Rate4_mapk[18] = {
    9, 6, 7, 7, 15, 0, 14, 1, 13, 2, 12, 3, 11, 4, 10, 5, 9, 6
};

// 40 kbit/s
constexpr std::int16_t G726_Rate5QuantThresh[16] = {
    4080, 3974, 2048, 553, 528, 502, 475, 445, 413, 378, 339, 298, 250, 198, 139, 68
};
constexpr std::int16_t G726_Rate5DeQ[32] = {
    2048, 4030, 28, 104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566, 566, 539,
    514, 488, 459, 429, 395, 358, 318, 274, 224, 169, 104, 28, 4030, 2048
};
constexpr std::int16_t G726_Rate5functfTab[32] = {
    0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6, 6, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0
};
constexpr std::int16_t G726_Rate5functwTab[32] = {
    14, 14, 24, 39, 40, 41, 58, 100, 141, 179, 219, 280, 358, 440, 529, 696, 696, 529, 440, 358,
    280, 219, 179, 141, 100, 58, 41, 40, 39, 24, 14, 14
};
constexpr std::int16_t G726_Rate5QuantVal[34] = {
    2, 29, 1, 30, 31, 31, 15, 16, 14, 17, 13, 18, 12, 19, 11, 20, 10, 21, 9, 22, 8, 23, 7, 24, 6,
    25, 5, 26, 4, 27, 3, 28, 2, 29
};
constexpr std::int16_t G726_Sync_Rate5_ThreshTab[16] = {
    4080, 3974, 2048, 553, 528, 502, 475, 445, 413, 378, 339, 298, 250, 198, 139, 68
};
constexpr std::int16_t G726_Sync_Rate5_mapk[34] = {
    18, 13, 17, 14, 15, 15, 31, 0, 30, 1, 29, 2, 28, 3, 27, 4, 26, 5, 25, 6, 24, 7, 23, 8, 22, 9,
    21, 10, 20, 11, 19, 12, 18, 13
};

namespace {

// G.711 u-law code to its 16-bit linear value divided by 4 (14-bit units).
constexpr std::int16_t ulaw_to_14bit(int code) {
  const int u = ~code & 0xFF;
  const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  const int v = (u & 0x80) ? (0x84 - t) : (t - 0x84);
  return static_cast<std::int16_t>(v / 4);
}

// G.711 A-law code, even-bit inversion already removed, to its 16-bit value divided by 4.
constexpr std::int16_t alaw_to_14bit(int code) {
  int v = (code & 0x0F) << 4;
  const int seg = (code & 0x70) >> 4;
  if (seg != 0) {
    v = (v + 0x108) << (seg - 1);
  } else {
    v += 8;
  }
  return static_cast<std::int16_t>(((code & 0x80) ? v : -v) / 4);
}

template <typename F>
constexpr std::array<std::int16_t, 256> expansion_table(F f) {
  std::array<std::int16_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = f(c);
  return t;
}

}  // namespace

constexpr std::array<std::int16_t, 256> G726_Ulaw2LinTab = expansion_table(ulaw_to_14bit);
constexpr std::array<std::int16_t, 256> G726_Alaw2LinTab = expansion_table(alaw_to_14bit);

static_assert(G726_Ulaw2LinTab[0x00] == -8031 && G726_Ulaw2LinTab[0x80] == 8031);
static_assert(G726_Ulaw2LinTab[0x7F] == 0 && G726_Ulaw2LinTab[0xFF] == 0);
static_assert(G726_Alaw2LinTab[0x00] == -2 && G726_Alaw2LinTab[0x80] == 2);
static_assert(G726_Alaw2LinTab[0x7F] == -8064 && G726_Alaw2LinTab[0xFF] == 8064);


// Synchronous coding adjustment rows {delta, mask, set}, indexed by 8 G + 4 S + 2 Z + X: each row
// steps the PCM code one output level up (G = 0) or down (G = 1). Rows with Z and X both set are
// never selected.
constexpr std::int16_t G726_Mu_law_syncTab[16 * 3] = {
    1, 1, 0,  -1, 0, 1,  1, 1, 0,  1, 0, 1,  -1, 1, 0,  -1, 1, 0,  0, 1, 0,  0, 1, 0,
    -1, 1, 0,  -1, 1, 0,  0, 1, 0,  0, 1, 0,  1, 1, 0,  -1, 0, 0,  1, 1, 0,  -1, 0, 0,
};
constexpr std::int16_t G726_A_law_syncTab[16 * 3] = {
    -1, 1, 0,  -1, 1, 0,  0, 0, 1,  0, 0, 1,  1, 1, 0,  0, 1, 0,  1, 1, 0,  0, 1, 0,
    1, 1, 0,  0, 1, 0,  1, 1, 0,  0, 1, 0,  -1, 1, 0,  -1, 1, 0,  0, 0, 0,  -1, 1, 0,
};
