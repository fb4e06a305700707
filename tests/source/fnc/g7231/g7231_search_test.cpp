// Tie-breaks of the G.723.1 encoder searches: they decide the bit stream, so each is pinned on
// inputs built to tie (or to differ only where the comparison does not look).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "g7231_acelp.h"
#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_search_kernels.h"

namespace {

// A grouped gain table of 12 entries whose component 0 is `first[e]` (all others 0), and the
// correlation terms that select component 0: S(e) = first[e].
struct GainTable {
  std::vector<Word16> table = std::vector<Word16>(3 * 80, 0);
  Word16 cor[20] = {1};
  explicit GainTable(const std::vector<Word16>& first) {
    for (int e = 0; e < 12; ++e) table[static_cast<std::size_t>(80 * (e / 4) + e % 4)] = first[static_cast<std::size_t>(e)];
  }
  int search(int bound, Word32* best, int* cand, int candidate) const {
    int gain = 0;
    g723_1_AdapGainQ(cor, bound, table.data(), best, &gain, cand, candidate);
    return gain;
  }
};

TEST(G7231SearchTies, GainTableSearch) {
  Word32 best = 0;
  int cand = 0;
  // Nothing above zero: entry 0 of candidate 0.
  EXPECT_EQ(0, GainTable({-5, 0, -1, -9, 0, 0, -3, 0, 0, -1, 0, 0}).search(12, &best, &cand, 0));
  EXPECT_EQ(0, best);
  // Equal maxima in lanes 2 (entry 6) and 1 (entry 9): the lower lane wins though it comes later.
  best = 0;
  EXPECT_EQ(9, GainTable({0, 0, 0, 0, 0, 0, 50, 0, 0, 50, 0, 0}).search(12, &best, &cand, 0));
  // Equal maxima in one lane (entries 1 and 5): the earlier entry.
  best = 0;
  EXPECT_EQ(1, GainTable({0, 50, 0, 0, 0, 50, 0, 0, 0, 0, 0, 0}).search(12, &best, &cand, 0));
  // The last group takes part up to the bound only: entry 10 lies beyond a bound of 10.
  best = 0;
  EXPECT_EQ(9, GainTable({0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 90, 0}).search(10, &best, &cand, 0));
  best = 0;
  EXPECT_EQ(10, GainTable({0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 90, 0}).search(11, &best, &cand, 0));
  // The best carries over between candidates: a later candidate's equal value does not replace it.
  best = 0;
  cand = -1;
  GainTable({0, 0, 70, 0, 0, 0, 0, 0, 0, 0, 0, 0}).search(12, &best, &cand, 0);
  GainTable({70, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).search(12, &best, &cand, 1);
  EXPECT_EQ(0, cand);
  GainTable({0, 0, 0, 71, 0, 0, 0, 0, 0, 0, 0, 0}).search(12, &best, &cand, 2);
  EXPECT_EQ(2, cand);
}

// A 256-entry band whose entries all have a negative measure except the ones set by `put`.
struct Band {
  int dim;
  std::vector<Word16> book;
  explicit Band(int d) : dim(d), book(static_cast<std::size_t>(256 * d), -100) {}
  void put(int entry, int component, Word16 v) {
    for (int j = 0; j < dim; ++j) book[static_cast<std::size_t>(dim * entry + j)] = 0;
    book[static_cast<std::size_t>(dim * entry + component)] = v;
  }
  Word32 search(const Word16* lsp) const {
    const Word16 w[4] = {32767, 32767, 32767, 32767};
    return dim == 4 ? g723_1_LSP_VQ4(lsp, w, book.data()) : g723_1_LSP_VQ3(lsp, w, book.data());
  }
};

// With l = target and c a unit entry on component j, the measure is 4 l_j - 2: targets 1001 and
// 1003 give 4002 and 4010, equal once the low 4 bits are dropped.
TEST(G7231SearchTies, LspBandSearch) {
  const Word16 zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(255, Band(3).search(zero));  // every measure negative
  EXPECT_EQ(255, Band(4).search(zero));

  const Word16 lsp[4] = {1001, 1003, 1001, 1003};
  for (int dim : {3, 4}) {
    Band far(dim);  // the larger measure in an early group, the smaller in a late one
    far.put(5, 1, 1);
    far.put(200, 0, 1);
    EXPECT_EQ(200, far.search(lsp)) << dim;
    Band near(dim);  // one group: the larger measure at the higher entry
    near.put(201, 0, 1);
    near.put(203, 1, 1);
    EXPECT_EQ(dim == 4 ? 203 : 201, near.search(lsp)) << dim;
    Band clear(dim);  // measures 16 apart compare as they are
    clear.put(201, 0, 1);
    clear.put(203, 0, 2);
    EXPECT_EQ(203, clear.search(lsp)) << dim;
  }
}

TEST(G7231SearchTies, PulsePlacement) {
  Word16 imr[65] = {};
  Word16* centre = imr + 32;
  const Word16 amp = 1000;
  auto run = [&](int np, Word32* corr, Word16 first_loc, int grid, Word16* ploc, Word16* pamp) {
    Word16 pos[30], neg[30];
    g723_1_Set_const(pos, amp, 30);
    g723_1_Set_const(neg, static_cast<Word16>(-amp), 30);
    const int m0 = (first_loc - grid) / 2;
    pos[m0] = neg[m0] = 0;
    corr[m0] = 0;
    ploc[0] = first_loc;
    pamp[0] = amp;
    g723_1_PulseSearch(np, amp, grid, corr, pos, neg, centre, ploc, pamp, amp);
  };
  // Equal magnitudes: the lower position, negative for a value at or below zero; the picked
  // lane is cleared for the next pulse.
  Word32 corr[30] = {};
  corr[3] = -500;
  corr[7] = 500;
  Word16 ploc[6] = {}, pamp[6] = {};
  run(3, corr, 41, 1, ploc, pamp);
  EXPECT_EQ(7, ploc[1]);
  EXPECT_EQ(-amp, pamp[1]);
  EXPECT_EQ(15, ploc[2]);
  EXPECT_EQ(amp, pamp[2]);
  // After a positive pulse the negative amplitude meets the response correlation: positions two
  // grid steps either side both fall by the same amount, the lower one is taken, with a negative
  // amplitude.
  Word32 flat[30] = {};
  centre[2] = centre[-2] = 100;
  run(2, flat, 20, 0, ploc, pamp);
  EXPECT_EQ(16, ploc[1]);
  EXPECT_EQ(-amp, pamp[1]);
  EXPECT_EQ(0, flat[8]);  // the picked lane, cleared
  EXPECT_EQ(-2 * amp * 100, flat[12]);
  // Nothing but zeros left: the lowest free position, and zero counts as negative.
  Word32 zeros[30] = {};
  centre[2] = centre[-2] = 0;
  run(2, zeros, 20, 0, ploc, pamp);
  EXPECT_EQ(0, ploc[1]);
  EXPECT_EQ(-amp, pamp[1]);
}

// The score of a saturating target and response is the sample-by-sample saturating sum.
TEST(G7231SearchTies, ScoreSaturatesSampleBySample) {
  std::vector<Word16> h(120, 0), target(60), y(60);
  for (int i = 0; i < 60; ++i) {
    h[static_cast<std::size_t>(60 + i)] = static_cast<Word16>(i % 2 ? 32767 : 30000);
    // Full scale saturates the sum on the way; half scale then nearly balances y^2, so the
    // score ends well inside the range and shows where the way was cut short.
    target[static_cast<std::size_t>(i)] = static_cast<Word16>(i < 10 ? 32767 : 16384);
  }
  const Word16 ploc[6] = {0, 2, 4, 6, 8, 10};
  const Word16 pamp[6] = {8000, 8000, 8000, 8000, 8000, 0};
  const Word32 score = g723_1_Gen_Score(h.data() + 60, ploc, pamp, y.data(), target.data());
  Word32 expect = 0;
  for (int n = 0; n < 60; ++n) {
    Word32 acc = 0;
    for (int p = 0; p < 6; ++p)
      if (pamp[p] != 0 && ploc[p] <= n) acc = g723_1_L_mac(acc, static_cast<Word16>(pamp[p] * 4), h[static_cast<std::size_t>(60 + n - ploc[p])]);
    const Word16 yn = g723_1_extract_h(acc);
    ASSERT_EQ(yn, y[static_cast<std::size_t>(n)]) << n;
    expect = g723_1_L_mac(expect, target[static_cast<std::size_t>(n)], yn);
    expect = g723_1_L_sub(expect, g723_1_L_shr(g723_1_L_mult(yn, yn), 1));
  }
  EXPECT_GT(expect, 0x20000000);
  EXPECT_LT(expect, 0x60000000);
  EXPECT_EQ(expect, score);
}

// Correlation blocks in which every combination costs `base` except where the track-0 index
// and the track-3 index meet in `cheap`.
struct AcelpCase {
  TrackCorr rr{};
  SignedCorr sc{};
  Word16 D[64] = {};
  AcelpCase(std::initializer_list<std::pair<int, int>> cheap) {
    for (auto& row : rr.diag)
      for (auto& v : row) v = 160;
    for (auto& row : sc.L_rri0i3)
      for (auto& v : row) v = 16000;
    for (auto [i0, i3] : cheap) sc.L_rri0i3[i0][i3] = 0;
  }
};

TEST(G7231SearchTies, AlgebraicFourPulseSearch) {
  // Track 0 at indices 0 and 1 carries the correlation; track 3 at 2 and 5 adds to it. (0, 5)
  // comes first in the search order and (1, 2) later: equal, so the lower track-3 index wins.
  AcelpCase c({{0, 5}, {1, 2}});
  c.D[0] = c.D[8] = 1000;
  c.D[8 * 2 + 6] = c.D[8 * 5 + 6] = 300;
  AcelpResult r{};
  EXPECT_EQ(1000 - 128, g723_1_LowRateSearch(&r, 500, c.D, c.sc, c.rr, 1000));
  EXPECT_EQ(1, r.idx[0]);
  EXPECT_EQ(2, r.idx[3]);
  EXPECT_EQ(0, r.grid);
  // A budget of one evaluation stops after the first triple.
  EXPECT_EQ(0, g723_1_LowRateSearch(&r, 500, c.D, c.sc, c.rr, 1));
  EXPECT_EQ(0, r.idx[0]);
  EXPECT_EQ(5, r.idx[3]);
  // The second alternative (odd grid) taken when its partial correlation is larger.
  AcelpCase odd({{0, 5}});
  odd.D[1] = 1200;
  odd.D[8 * 5 + 7] = 300;
  EXPECT_EQ(120 - 64, g723_1_LowRateSearch(&r, 500, odd.D, odd.sc, odd.rr, 120));
  EXPECT_EQ(1, r.grid);
  EXPECT_EQ(5, r.idx[3]);
  // Equal partial correlations keep the first alternative.
  AcelpCase even({{0, 5}});
  even.D[0] = even.D[1] = 1000;
  even.D[8 * 5 + 6] = even.D[8 * 5 + 7] = 300;
  g723_1_LowRateSearch(&r, 500, even.D, even.sc, even.rr, 120);
  EXPECT_EQ(0, r.grid);
  // Nothing passes the threshold: code 0 and the budget untouched.
  r = AcelpResult{{3, 3, 3, 3}, 1};
  EXPECT_EQ(150, g723_1_LowRateSearch(&r, 30000, c.D, c.sc, c.rr, 150));
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, r.idx[t]);
  EXPECT_EQ(0, r.grid);
}

}  // namespace
