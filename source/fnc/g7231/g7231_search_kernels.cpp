// Search and quantiser kernels of the G.723.1 encoder.
#include "g7231_search_kernels.h"

#include "g7231_kernels.h"

#include <algorithm>
#include <cstdlib>

namespace {
constexpr int kSub = 60;
}

void g723_1_Compute_CorBuf(const Word16* f, const Word16* t, Word32* CorBuf) {
  const Word16* row[5] = {f, f + kSub, f + 2 * kSub, f + 3 * kSub, f + 4 * kSub};
  for (int i = 0; i < 5; ++i) {
    Word32 c = 0;  // undoubled products
    for (int n = 0; n < kSub; ++n) c = g723_1_L_add(c, Word32(t[n]) * row[i][n]);
    CorBuf[i] = g723_1_L_add(c, c);
  }
  for (int i = 0; i < 5; ++i) {
    Word32 e = 0;
    for (int n = 0; n < kSub; ++n) e = g723_1_L_mac(e, row[i][n], row[i][n]);
    CorBuf[5 + i] = e;
  }
  int k = 10;
  for (int i = 1; i < 5; ++i)
    for (int j = 0; j < i; ++j) {
      Word32 c = 0;
      for (int n = 0; n < kSub; ++n) c = g723_1_L_mac(c, row[i][n], row[j][n]);
      CorBuf[k++] = g723_1_L_add(c, c);
    }
}

int g723_1_AdapGainQ_loop(const Word16* CorVct, int n, const Word16* table, Word32* last_sums, Word32* lane_max,
                          Word16* lane_idx) {
  for (int l = 0; l < 4; ++l) {
    lane_max[l] = 0;
    lane_idx[l] = 0;
  }
  const int groups = (n + 3) / 4;
  for (int g = 0; g < groups; ++g) {
    // Plain 32-bit sums that wrap on overflow (computed unsigned to keep that defined).
    std::uint32_t wrap[4] = {0, 0, 0, 0};
    const Word16* block = table + 80 * g;
    for (int k = 0; k < 20; ++k)
      for (int l = 0; l < 4; ++l) wrap[l] += static_cast<std::uint32_t>(Word32(block[4 * k + l]) * CorVct[k]);
    Word32 sums[4];
    for (int l = 0; l < 4; ++l) sums[l] = static_cast<Word32>(wrap[l]);
    if (g == groups - 1) {
      for (int l = 0; l < 4; ++l) last_sums[l] = sums[l];
      return 4 * g;
    }
    for (int l = 0; l < 4; ++l)
      if (sums[l] > lane_max[l]) {
        lane_max[l] = sums[l];
        lane_idx[l] = static_cast<Word16>(4 * g + l);
      }
  }
  return 0;
}

namespace {

// Measure of entry i with its tag in the low 8 bits (measures compared without their low 4 bits).
Word32 lsp_key(const Word16* lsp, const Word16* w, const Word16* c, int len, int tag) {
  Word16 t[4];
  Word32 acc = 0;
  for (int j = 0; j < len; ++j) {
    t[j] = g723_1_mult_r(w[j], c[j]);
    acc = g723_1_L_mac(acc, t[j], lsp[j]);
  }
  acc = g723_1_L_shl(acc, 1);
  for (int j = 0; j < len; ++j) acc = g723_1_L_msu(acc, t[j], c[j]);
  return static_cast<Word32>((static_cast<std::uint32_t>(g723_1_L_shl(acc, 4)) & ~0xFFu) | static_cast<std::uint32_t>(tag));
}

}  // namespace

Word32 g723_1_LSP_VQ3(const Word16* lsp, const Word16* w, const Word16* book) {
  Word32 lane_best[4] = {-1, -1, -1, -1};
  for (int i = 0; i < 256; ++i) {
    const Word32 k = lsp_key(lsp, w, book + 3 * i, 3, i & ~3);
    if (k > lane_best[i & 3]) lane_best[i & 3] = k;
  }
  Word32 best = lane_best[0];
  int lane = 0;
  for (int l = 1; l < 4; ++l)
    if (lane_best[l] > best) {
      best = lane_best[l];
      lane = l;
    }
  return ((best & 0xFF) + lane) & 0xFF;
}

Word32 g723_1_LSP_VQ4(const Word16* lsp, const Word16* w, const Word16* book) {
  Word32 best = -1;
  for (int i = 0; i < 256; ++i) best = std::max(best, lsp_key(lsp, w, book + 4 * i, 4, i));
  return best & 0xFF;
}

void g723_1_Estim_Pitch_Loop(const Word16* x, Word32 E17, Word32* corr, Word32* energy, int s, int s17) {
  (void)s17;
  Word32 e = E17;
  for (int lag = 18; lag <= 145; ++lag) {
    // x[s - lag + 120] leaves the window, x[s - lag] enters it.
    e = g723_1_L_sub(e, g723_1_L_mult(x[s - lag + 120], x[s - lag + 120]));
    e = g723_1_L_add(e, g723_1_L_mult(x[s - lag], x[s - lag]));
    energy[lag] = e;
  }
  for (int lag = 18; lag <= 145; lag += 4) g723_1_Vec_L_mac_120_4(x + s, x + s - lag, corr + lag);
}

void g723_1_PulseSearch(int np, Word16 first_sign_amp, int grid, Word32* corr30, Word16* amp_pos, Word16* amp_neg,
                        const Word16* imr_corr_centre, Word16* ploc, Word16* pamp, Word16 amplitude) {
  (void)amplitude;
  Word16 prev_amp = first_sign_amp;
  for (int p = 1; p < np; ++p) {
    const int prev_m = (ploc[p - 1] - grid) / 2;
    Word32 pick = -0x40000000;
    int where = 0;
    for (int m = 0; m < 30; ++m) {
      if (amp_pos[m] == 0) continue;  // occupied
      const Word16 opposite = prev_amp > 0 ? amp_neg[m] : amp_pos[m];
      corr30[m] = g723_1_L_mac(corr30[m], opposite, imr_corr_centre[m - prev_m]);
      const Word32 a = g723_1_L_abs(corr30[m]);
      if (a > pick) {  // ties go to the lower position
        pick = a;
        where = m;
      }
    }
    ploc[p] = static_cast<Word16>(2 * where + grid);
    pamp[p] = corr30[where] > 0 ? amp_pos[where] : amp_neg[where];
    prev_amp = pamp[p];
    corr30[where] = 0;
    amp_pos[where] = amp_neg[where] = 0;
  }
}

Word32 g723_1_Gen_Score(const Word16* h, const Word16* ploc, const Word16* pamp, Word16* out, const Word16* target) {
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = 0;
    for (int p = 0; p < 6; ++p) {
      if (pamp[p] == 0 || ploc[p] > n) continue;
      acc = g723_1_L_mac(acc, static_cast<Word16>(pamp[p] * 4), h[n - ploc[p]]);
    }
    out[n] = g723_1_extract_h(acc);
  }
  Word32 score = 0;
  for (int n = 0; n < kSub; ++n) {
    score = g723_1_L_mac(score, target[n], out[n]);
    score = g723_1_L_sub(score, g723_1_L_shr(g723_1_L_mult(out[n], out[n]), 1));
  }
  return score;
}
