// 8-state Viterbi decoder: 16 symbols of history, decisions 15 symbols late.
#include "vc_code.h"
#include "vc_viterbi.h"

#include <cstring>

#include "vc_dot_avx2.h"

const VCZVITRESLICETAB ResliceTab32[8] = {
    {2048, 0, 1024, 1024}, {1024, 1024, 0, 2048},  {0, 2048, 3072, -1024}, {1024, 1024, 2048, 0},
    {2048, 0, 3072, -1024}, {3072, -1024, 0, 2048}, {0, 2048, 1024, 1024},  {3072, -1024, 2048, 0},
};

// For each new state: its four predecessors, predecessor << 8 | subset of the branch.
const uint16_t ViterbiStateTab32[8][4] = {
    {0x0000, 0x0402, 0x0604, 0x0206}, {0x0200, 0x0602, 0x0404, 0x0006},
    {0x0400, 0x0002, 0x0204, 0x0606}, {0x0600, 0x0202, 0x0004, 0x0406},
    {0x0101, 0x0303, 0x0705, 0x0507}, {0x0701, 0x0503, 0x0105, 0x0307},
    {0x0501, 0x0703, 0x0305, 0x0107}, {0x0301, 0x0103, 0x0505, 0x0707},
};

namespace {

// Residue (in units of 1024) of each subset's real and imaginary coordinate modulo 4096.
constexpr int16_t kSubsetRe[8] = {0, 1024, 2048, 1024, 0, 3072, 2048, 3072};
constexpr int16_t kSubsetIm[8] = {1024, 2048, 3072, 0, 3072, 2048, 1024, 0};

// Distance from v to the nearest value congruent to r modulo 4096.
int32_t residueDistance(int16_t v, int16_t r) {
  int32_t t = (static_cast<int32_t>(v) - r) & 4095;
  if (t >= 2048) t -= 4096;
  return t;
}

}  // namespace

void vcfViterbiInit32(VCZVITERBI32* vit, uint16_t rate) {
  for (auto& m : vit->pathMetric) m = 10000;
  vit->minmet = 0;
  vit->curMinState = 0;
  for (auto& row : vit->history)
    for (auto& h : row) h = 0;
  // an empty history traces back to state 0
  for (int s = 0; s < 8; ++s) {
    for (auto& b : vit->survivor[s]) b = 0;
    vit->survivor[s][0] = static_cast<uint8_t>(s);
  }
  for (auto& s : vit->RxSig) s = VCZCOMPLEX{1, 1};
  vit->pathHistoryIndex = 0;
  vit->rSliceTabp = ResliceTab32;
  vit->dist1 = 1024;
  vit->dist2 = 2048;
  vit->dist3 = 3072;
  vit->slcMask = -4096;
  vit->rate = rate;
}

void CalcBranchMetr32(const VCZCOMPLEX* rx, uint32_t metric[8]) {
  for (int s = 0; s < 8; ++s) {
    const int32_t dx = residueDistance(rx->real, kSubsetRe[s]);
    const int32_t dy = residueDistance(rx->imag, kSubsetIm[s]);
    metric[s] = static_cast<uint32_t>(dx * dx) + static_cast<uint32_t>(dy * dy);
  }
}

#if defined(VC_HAVE_AVX2_KERNELS)
namespace {

// The table's columns as lane indices: predecessor, subset and the whole entry of candidate c.
struct SurvivorLanes {
  int32_t pred[4][8];
  int32_t subset[4][8];
  int32_t entry[4][8];
};
constexpr SurvivorLanes makeSurvivorLanes() {
  SurvivorLanes l{};
  for (int c = 0; c < 4; ++c)
    for (int j = 0; j < 8; ++j) {
      l.pred[c][j] = ViterbiStateTab32[j][c] >> 8;
      l.subset[c][j] = ViterbiStateTab32[j][c] & 0xFF;
      l.entry[c][j] = ViterbiStateTab32[j][c];
    }
  return l;
}
alignas(32) constexpr SurvivorLanes kLanes = makeSurvivorLanes();

__attribute__((target("avx2"))) __m256i lanes(const int32_t* p) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}

}  // namespace

// The eight states at once: each candidate's metric gathered by permutation; a candidate replaces
// the best so far only when smaller (unsigned), as in the plain form.
__attribute__((target("avx2"))) void vcfSelectSurvivorsAvx2(const VCZVITERBI32* vit, const uint32_t branch[8],
                                                            uint32_t next[8], uint16_t* row) {
  const __m256i pm = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(vit->pathMetric));
  const __m256i br = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(branch));
  __m256i best = _mm256_add_epi32(_mm256_permutevar8x32_epi32(pm, lanes(kLanes.pred[0])),
                                  _mm256_permutevar8x32_epi32(br, lanes(kLanes.subset[0])));
  __m256i entry = lanes(kLanes.entry[0]);
  for (int c = 1; c < 4; ++c) {
    const __m256i m = _mm256_add_epi32(_mm256_permutevar8x32_epi32(pm, lanes(kLanes.pred[c])),
                                       _mm256_permutevar8x32_epi32(br, lanes(kLanes.subset[c])));
    const __m256i notAbove = _mm256_cmpeq_epi32(_mm256_min_epu32(m, best), m);
    const __m256i better = _mm256_andnot_si256(_mm256_cmpeq_epi32(m, best), notAbove);
    best = _mm256_blendv_epi8(best, m, better);
    entry = _mm256_blendv_epi8(entry, lanes(kLanes.entry[c]), better);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(next), best);
  alignas(32) int32_t e[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(e), entry);
  for (int j = 0; j < 8; ++j) row[j] = static_cast<uint16_t>(e[j]);
}
#endif

void vcfSelectSurvivors(const VCZVITERBI32* vit, const uint32_t branch[8], uint32_t next[8], uint16_t* row) {
  // selects rather than branches, as the winner is a coin toss
  for (int j = 0; j < 8; ++j) {
    const uint16_t* entries = ViterbiStateTab32[j];
    uint32_t best = vit->pathMetric[entries[0] >> 8] + branch[entries[0] & 0xFF];
    uint16_t bestEntry = entries[0];
    for (int c = 1; c < 4; ++c) {
      const uint16_t entry = entries[c];
      const uint32_t m = vit->pathMetric[entry >> 8] + branch[entry & 0xFF];
      const bool better = m < best;
      best = better ? m : best;
      bestEntry = better ? entry : bestEntry;
    }
    next[j] = best;
    row[j] = bestEntry;
  }
}


void UpdatePathMetr32(VCZVITERBI32* vit, const uint32_t branch[8]) {
  uint32_t next[8];
  const uint16_t idx = vit->pathHistoryIndex;
  uint16_t* row = vit->history[idx];
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2())
    vcfSelectSurvivorsAvx2(vit, branch, next, row);
  else
#endif
    vcfSelectSurvivors(vit, branch, next, row);
  // each state's path: its predecessor's, one symbol older, behind the state itself
#if defined(ORVOX_X86_SIMD)
  __m128i older[8];
  for (int j = 0; j < 8; ++j) older[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vit->survivor[j]));
  for (int j = 0; j < 8; ++j)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(vit->survivor[j]),
                     _mm_or_si128(_mm_slli_si128(older[row[j] >> 8], 1), _mm_cvtsi32_si128(j)));
#else
  uint8_t older[8][16];
  std::memcpy(older, vit->survivor, sizeof(older));
  for (int j = 0; j < 8; ++j) {
    vit->survivor[j][0] = static_cast<uint8_t>(j);
    std::memcpy(&vit->survivor[j][1], older[row[j] >> 8], 15);
  }
#endif
  uint16_t minState = 0;
  for (uint16_t j = 1; j < 8; ++j) minState = next[j] < next[minState] ? j : minState;
  vit->curMinState = minState;
  vit->minmet = next[minState];
  for (int j = 0; j < 8; ++j) vit->pathMetric[j] = next[j] - vit->minmet;
}

void vcfVitSlice(const VCZVITERBI32* vit, const VCZCOMPLEX* rx, int subset, VCZCOMPLEX* out) {
  const VCZVITRESLICETAB& t = vit->rSliceTabp[subset & 7];
  out->real = static_cast<int16_t>(((rx->real + t.xa) & vit->slcMask) + t.xb);
  out->imag = static_cast<int16_t>(((rx->imag + t.ya) & vit->slcMask) + t.yb);
}

int16_t vcfViterbiDecode32(VCZVITERBI32* vit, const VCZCOMPLEX* rx, VCZCOMPLEX* dpout1,
                           VCZCOMPLEX* dpout16) {
  const uint16_t idx = vit->pathHistoryIndex;
  vit->RxSig[idx] = *rx;
  uint32_t branch[8];
  CalcBranchMetr32(rx, branch);
  UpdatePathMetr32(vit, branch);

  uint16_t state = vit->curMinState;
  vcfVitSlice(vit, rx, vit->history[idx][state] & 0xFF, dpout1);

  state = vit->survivor[state][15];
  const uint16_t i = (idx - 15) & 15;
  vcfVitSlice(vit, &vit->RxSig[i], vit->history[i][state] & 0xFF, dpout16);
  vit->pathHistoryIndex = (idx + 1) & 15;

  const uint16_t* map = vcfInvMapOf(vit->rate);
  if (map == nullptr) return 0;
  return static_cast<int16_t>(map[vcfInvMapIndex(vit->rate, dpout16)]);
}
