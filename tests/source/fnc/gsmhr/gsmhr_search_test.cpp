// The encoder's searches against brute force with the same error formula: the VSELP Gray-code
// walk over every codeword, the reflection-coefficient vector quantiser over every codebook
// entry, the lag quantiser over every raw lag, the gain quantiser over its 32 entries, and the
// lattice analysis on synthetic AR(2) signals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gsmhr_test_signals.h"
#include "hr_frame.h"
#include "hr_tables.h"

using namespace hr;

namespace {

std::vector<Word16> rvec(hrtest::Lcg& g, int n, int amp) {
  std::vector<Word16> v(n);
  for (auto& x : v) x = static_cast<Word16>(g.range(-amp, amp));
  return v;
}

// The search criterion of every codeword, computed from scratch: C in 16 bits from the
// normalised correlations, the energy at quarter scale from the normalised pair terms.
struct VselpBrute {
  int best = -1;
  bool tie = false;
};

VselpBrute vselp_brute(const Word16* target, const Word16* basis, int n) {
  Word32 R[9], sumAbs = 0;
  for (int i = 0; i < n; ++i) {
    R[i] = hr_Vec_L_mac_SLEN(basis + 40 * i, target);
    sumAbs = L_add(sumAbs, L_abs(R[i]));
  }
  Word32 energy = hr_Vec_L_sqa(basis, 40 * n);
  Word16 cSh = static_cast<Word16>(norm_l(sumAbs) - 1);
  std::int64_t C0 = 0;
  Word16 term[9];
  for (int i = 0; i < n; ++i) {
    Word32 r = L_shl(R[i], cSh);
    C0 -= r;
    term[i] = static_cast<Word16>(2 * round16(r));
  }
  Word16 gSh = static_cast<Word16>(norm_l(energy) - 2);
  std::int64_t G0 = L_shl(energy, Word16(gSh - 1));
  std::int64_t T[9][9] = {};
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      std::int64_t D = hr_Vec_L_mac_SLEN(basis + 40 * i, basis + 40 * j);
      Word32 Ds = static_cast<Word32>(gSh >= 0 ? D * (1LL << gSh) : D >> -gSh);
      G0 += Ds;
      T[i][j] = 2 * static_cast<Word16>((std::int64_t(Ds) + 32768) >> 16);
    }
  G0 = std::min<std::int64_t>(G0, INT32_MAX);
  Word16 c16start = round16(static_cast<Word32>(C0));
  VselpBrute out;
  std::int64_t bestCC = 0, bestG = 1;
  for (int c = 0; c < (1 << (n - 1)); ++c) {
    int C = c16start;
    std::int64_t L = G0 >> 1;
    for (int i = 0; i < n; ++i) {
      if ((c >> i) & 1) C += term[i];
      for (int j = i + 1; j < n; ++j)
        if ((((c >> i) ^ (c >> j)) & 1) != 0) L -= T[i][j] * 32768;
    }
    std::int64_t cc = mult_r(static_cast<Word16>(C), static_cast<Word16>(C));
    std::int64_t g = static_cast<Word16>(L >> 16);
    if (c == 0) {
      out.best = 0, bestCC = cc, bestG = g;
      continue;
    }
    std::int64_t d = cc * bestG - g * bestCC;
    if (d > 0) out.best = c, bestCC = cc, bestG = g, out.tie = false;
    else if (d == 0) out.tie = true;
  }
  // Send the codeword whose correlation with the target is positive.
  Word32 corr = 0;
  for (int i = 0; i < n; ++i) corr = L_add(corr, ((out.best >> i) & 1) ? R[i] : L_negate(R[i]));
  if (corr < 0) out.best ^= (1 << n) - 1;
  return out;
}

}  // namespace

TEST(GsmHrSearch, VselpWalkEqualsBruteForceOverEveryCodeword) {
  hrtest::Lcg g{2024};
  int compared = 0, ties = 0;
  for (int trial = 0; trial < 120; ++trial) {
    int n = trial % 2 ? 9 : 7;
    auto target = rvec(g, 40, 300 + trial * 50);
    auto basis = rvec(g, 40 * n, 200 + (trial % 7) * 300);
    auto brute = vselp_brute(target.data(), basis.data(), n);
    if (brute.tie) {
      ++ties;
      continue;
    }
    EXPECT_EQ(hr_v_srch(target.data(), basis.data(), n), brute.best) << "trial " << trial;
    ++compared;
  }
  EXPECT_GT(compared, 100);
  // Codewords are sent with a positive correlation: the target itself as basis 0 sets bit 0.
  std::vector<Word16> t(40), b(280, 0);
  for (int i = 0; i < 40; ++i) t[i] = static_cast<Word16>(((i * 37) % 61 - 30) * 50), b[i] = t[i];
  for (int k = 1; k < 7; ++k) b[40 * k + (k * 3) % 40] = 1;
  EXPECT_EQ(hr_v_srch(t.data(), b.data(), 7) & 1, 1);
}

TEST(GsmHrSearch, VselpTiesAcrossLanesGoToTheLaterPosition) {
  // Only basis vector 0 correlates: C is 20000 wherever bit 0 of the codeword is set, 10000 where it
  // is clear (as at the start), and every energy is equal. Bit 0 is set at positions 0, 1, 4,
  // 5, 8, ...: lane 0 keeps position 0 and lane 1 position 1 (equal later positions do not
  // replace a lane's best); across lanes the tie goes to the later position, 1.
  Word16 cUpd[18] = {};
  cUpd[0] = 10000;
  cUpd[9] = -10000;
  Word16 alp[256];
  std::fill(alp, alp + 256, Word16(16000));
  EXPECT_EQ(hr_v_srch_cbs(cUpd, 10000, 16000, 7, alp), 1 + 1);
  EXPECT_EQ(hr_v_srch_cbs(cUpd, 10000, 16000, 9, alp), 1 + 1);
  // A strictly better position in a later lane wins over an earlier one.
  alp[6] = 1000;  // position 6 (lane 2): C = 10000 but a sixteenth of the energy
  EXPECT_EQ(hr_v_srch_cbs(cUpd, 10000, 16000, 7, alp), 6 + 1);
}

TEST(GsmHrSearch, VectorQuantiserBlocksAndChoices) {
  // Block evaluation over every entry of every segment equals the per-vector recursion
  // written out here from the AFLAT update.
  auto model = [](const Word16* rc, const Word16* p0, const Word16* v0, int len) {
    std::vector<Word16> p(p0, p0 + len), v(2 * len - 1);
    for (int i = -(len - 1); i <= len - 1; ++i) v[len - 1 + i] = v0[i];
    auto V = [&](std::vector<Word16>& vv, int i) -> Word16& { return vv[len - 1 + i]; };
    for (int s = 0; s < len - 1; ++s) {
      Word16 k = rc[s], k2 = mult_r(k, k);
      int m = len - s - 1;
      std::vector<Word16> pn(len), vn(2 * len - 1);
      for (int i = 0; i < m; ++i)
        pn[i] = round16(L_msu(L_mac(L_mac(L_mult(V(v, i), k), V(v, -i), k), p[i], k2), p[i], -32768));
      for (int i = -(m - 1); i <= m - 1; ++i) {
        int a = std::abs(i + 1);
        V(vn, i) = round16(L_mac(L_mac(L_msu(L_mult(V(v, -i - 1), k2), V(v, i + 1), -32768), p[a], k), p[a], k));
      }
      p = pn, v = vn;
    }
    Word16 k = rc[len - 1], k2 = mult_r(k, k);
    return round16(L_msu(L_mac(L_mac(L_mult(V(v, 0), k), V(v, 0), k), p[0], k2), p[0], -32768));
  };
  Word16 rcSrc[10] = {-28000, 20000, -9000, 7000, -3000, 2500, -1500, 900, -400, 200};
  Word32 R[11];
  hr_rcToCorrDpL(rcSrc, R);
  Word32 pf[10], vfs[19];
  hr_initPBarFullVBarFullL(R, pf, vfs + 9);
  Word16 pBar[4], vs[7];
  for (int seg = 0; seg < 3; ++seg) {
    int len = hr_psvqIndex[3 * seg + 2];
    for (int i = 0; i < len; ++i) pBar[i] = round16(pf[i]);
    for (int i = -(len - 1); i <= len - 1; ++i) vs[3 + i] = round16(vfs[9 + i]);
    int cells = hr_psrPreQSz[seg], per = hr_psrQuantSz[seg];
    const Word16* book = seg == 0 ? hr_psrQuant1_v2.data() : seg == 1 ? hr_psrQuant2_v2.data() : hr_psrQuant3_v2.data();
    for (int cell = 0; cell < cells; ++cell) {
      QuantList ql{};
      for (int i = 0; i < 64; ++i) ql.pswPredErr[i] = i;
      ql.iNum = static_cast<Word16>(per);
      ql.iRCIndex = static_cast<Word16>(cell * per);
      hr_aflatRecursion2(&ql, pBar, vs + 3, seg, cell * per * len / 2);
      for (int e = 0; e < per; ++e) {
        ASSERT_EQ(extract_h(ql.pswPredErr[e]), model(book + len * (cell * per + e), pBar, vs + 3, len))
            << "segment " << seg << " entry " << cell * per + e;
        ASSERT_EQ(ql.pswPredErr[e] & 0xFFFF, e);
      }
    }
  }
  // Equal errors in a block go to the lower position; four passes give four distinct entries.
  QuantList ql{};
  ql.iNum = 16;
  ql.iRCIndex = 32;
  for (int i = 0; i < 64; ++i) ql.pswPredErr[i] = Word32(i < 16 ? (i % 3 == 0 ? 5 : 9) : 32767) * 65536 + i;
  QuantList2 best[4];
  hr_findBestInQuantList4(&ql, best);
  EXPECT_EQ(best[0].iRCIndex, 32);
  EXPECT_EQ(best[1].iRCIndex, 35);
  EXPECT_EQ(best[2].iRCIndex, 38);
  EXPECT_EQ(best[3].iRCIndex, 41);

  // On speech, the pre-quantised search finds the codebook's global minimum in most segments.
  auto speech = hrtest::load_speech();
  int segs = 0, global = 0;
  for (std::size_t f = 0; f + 170 <= speech.size(); f += 160 * 3) {
    Word16 rc[10], q[10], r0, sc, idx[3];
    Word32 acf[9], corr[11];
    hr_flat(speech.data() + f, rc, &r0, acf, &sc);
    hr_rcToCorrDpL(rc, corr);
    QuantList init{};
    for (int i = 0; i < 64; ++i) init.pswPredErr[i] = i;
    hr_lpcCorrQntz(corr, q, idx, init);
    Word32 p1[10], p2[10], v1[19], v2[19];
    Word32 *pp = p1, *pn = p2, *vp = v1 + 9, *vn = v2 + 9;
    hr_initPBarFullVBarFullL(corr, pp, vp);
    for (int seg = 0; seg < 3; ++seg) {
      int len = hr_psvqIndex[3 * seg + 2], l = hr_psvqIndex[3 * seg] - 1;
      for (int i = 0; i < len; ++i) pBar[i] = round16(pp[i]);
      for (int i = -(len - 1); i <= len - 1; ++i) vs[3 + i] = round16(vp[i]);
      const Word16* book = seg == 0 ? hr_psrQuant1_v2.data() : seg == 1 ? hr_psrQuant2_v2.data() : hr_psrQuant3_v2.data();
      int size = hr_psrPreQSz[seg] * hr_psrQuantSz[seg];
      Word16 mn = SW_MAX;
      for (int e = 0; e < size; ++e) mn = std::min(mn, hr_aflatRecursion(book + len * e, pBar, vs + 3, len));
      Word16 chosen = hr_aflatRecursion(book + len * idx[seg], pBar, vs + 3, len);
      EXPECT_GE(chosen, mn);
      ++segs;
      global += chosen == mn;
      for (int i = 0; i < len && l + i < 9; ++i) {
        hr_aFlatRcDp_Loop1(pp, vp, pn, vn, q[l + i], l + i);
        std::swap(pp, pn);
        std::swap(vp, vn);
      }
    }
  }
  std::printf("LPC VQ: pre-quantised search finds the global minimum in %.1f%% of %d segments\n",
              100.0 * global / segs, segs);
  EXPECT_GE(global * 100, segs * 80);
}

TEST(GsmHrSearch, LagQuantiserAndGainQuantiser) {
  for (int L = 0; L <= 900; ++L) {
    int want = 0;
    for (int c = 0; c < 256; ++c)
      if (hr_psrLagTbl[c] <= L) want = c;
    Word16 code;
    Word16 q = hr_quantLag(static_cast<Word16>(L), &code);
    ASSERT_EQ(code, want) << L;
    ASSERT_EQ(q, hr_psrLagTbl[want]);
  }
  for (int c = 0; c < 256; ++c) {  // a lag of the table quantises to its own code
    Word16 code;
    hr_quantLag(hr_psrLagTbl[c], &code);
    EXPECT_EQ(code, c);
  }
  hrtest::Lcg g{77};
  for (int trial = 0; trial < 400; ++trial) {
    Word16 w[10];
    for (auto& x : w) x = static_cast<Word16>(g.range(-3000, 3000));
    int mode = trial % 4;
    const Word16* tab = &hr_pppsrGsp0[160 * mode];
    int best = 0;
    std::int64_t bestE = INT64_MIN;
    for (int j = 0; j < 32; ++j) {
      std::int64_t E = 0;
      for (int k = 0; k < 5; ++k) E += 2LL * tab[5 * j + k] * w[2 * k];
      if (E > bestE) bestE = E, best = j;
    }
    EXPECT_EQ(hr_GetBestEnergy(tab, w), best);
  }
}

TEST(GsmHrSearch, LatticeAnalysisRecoversAr2Coefficients) {
  for (auto [a1, a2] : {std::pair{1.3, -0.6}, std::pair{0.5, -0.3}, std::pair{-0.9, -0.5}}) {
    hrtest::Lcg g{9};
    std::vector<Word16> x(170 * 8);
    double y1 = 0, y2 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
      double e = g.range(-1000, 1000);
      double y = a1 * y1 + a2 * y2 + e;
      x[n] = static_cast<Word16>(std::lround(y));
      y2 = y1, y1 = y;
    }
    double k1 = -a1 / (1 - a2), k2 = -a2;
    double s1 = 0, s2 = 0, rest = 0;
    for (int f = 1; f < 8; ++f) {
      Word16 rc[10], r0, sc;
      Word32 acf[9];
      hr_flat(x.data() + 170 * f, rc, &r0, acf, &sc);
      s1 += rc[0] / 32768.0, s2 += rc[1] / 32768.0;
      for (int i = 2; i < 10; ++i) rest = std::max(rest, std::fabs(rc[i] / 32768.0));
    }
    EXPECT_NEAR(s1 / 7, k1, 0.06) << a1 << " " << a2;
    EXPECT_NEAR(s2 / 7, k2, 0.08) << a1 << " " << a2;
    EXPECT_LT(rest, 0.3);
  }
}
