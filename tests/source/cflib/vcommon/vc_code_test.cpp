// Scramblers, differential and trellis coding, constellations and the Viterbi decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "vc_code.h"
#include "vc_viterbi.h"

namespace {

struct Grid {
  int x, y;
};
Grid unpack(uint16_t e) { return {(e >> 8) - 128, (e & 255) - 128}; }

struct RateCase {
  uint16_t rate;
  int row;  // of vctRatetabLUT
  int points;
};
constexpr RateCase kRates[] = {{7200, 3, 16}, {9600, 2, 32}, {12000, 1, 64}, {14400, 0, 128}};

// The decoder's view of a transmit point: the 9600 and 14400 grids are its own lattice; the 7200
// and 12000 squares reach it turned by -45 degrees and scaled by 1/sqrt 2, which the receiver's
// rate phase and scale do.
void toDecoderGrid(uint16_t rate, Grid g, int& a, int& b) {
  if (rate == 9600 || rate == 14400) {
    a = g.x;
    b = g.y;
  } else {
    a = (g.x + g.y) / 2;
    b = (g.y - g.x) / 2;
  }
}

int subsetOf(int a, int b) {
  const int ra = ((a % 4) + 4) % 4, rb = ((b % 4) + 4) % 4;
  static const int cls[4][4] = {{-1, 0, -1, 4}, {3, -1, 1, -1}, {-1, 6, -1, 2}, {7, -1, 5, -1}};
  return cls[ra][rb];
}

TEST(VcScramblers, GpcDescramblerUndoesScramblerForEveryWidth) {
  std::mt19937 rng(7);
  const VCTXSTAGEF scr[] = {v32gpcscr2, v32gpcscr3, v32gpcscr4, v32gpcscr5, v32gpcscr6};
  const VCRXSTAGEF des[] = {v32gpcdes2, v32gpcdes3, v32gpcdes4, v32gpcdes5, v32gpcdes6};
  for (int k = 2; k <= 6; ++k) {
    VCZTXMEM t{};
    VCZRXMEM r{};
    int ones = 0;
    for (int i = 0; i < 2000; ++i) {
      t.txdata = static_cast<uint16_t>(rng() & ((1u << k) - 1));
      scr[k - 2](&t);
      r.descin = t.scout;
      des[k - 2](&r, nullptr);
      ASSERT_EQ(r.desout, t.txdata) << "k=" << k << " symbol " << i;
      ASSERT_LT(t.screg, 1u << 23);
      ones += __builtin_popcount(t.scout);
    }
    // scrambled output of random data stays balanced
    EXPECT_NEAR(ones, 1000 * k, 150 * k);
  }
}

TEST(VcScramblers, DescramblerResynchronisesAfterBitErrors) {
  VCZTXMEM t{};
  VCZRXMEM r{};
  r.dsreg = 0x5A5A5A;  // the receiver starts out of step
  int wrongLate = 0;
  for (int i = 0; i < 200; ++i) {
    t.txdata = static_cast<uint16_t>(i * 7 & 15);
    v32gpcscr4(&t);
    r.descin = t.scout;
    v32gpcdes4(&r, nullptr);
    if (i >= 6 && r.desout != t.txdata) ++wrongLate;  // 23 bits flushed after 6 symbols
  }
  EXPECT_EQ(wrongLate, 0);
}

TEST(VcScramblers, TrainingReplicaStartsWithThreeAndScramblesOnes) {
  VCZRXMEM r{};
  r.rxdata = 3;
  v32gpctrn2(&r, nullptr);
  EXPECT_EQ(r.desout, 3);
  // the replica equals the transmitter's two-bit scrambler fed with ones
  VCZTXMEM t{};
  t.txdata = 3;
  v32gpcscr2(&t);
  for (int i = 0; i < 100; ++i) {
    v32gpctrn2(&r, nullptr);
    v32gpcscr2(&t);
    ASSERT_EQ(r.desout, t.scout);
  }
}

TEST(VcScramblers, ShortPeriodGuardInvertsAndDescramblerFollows) {
  for (int n : {2, 3}) {
    uint32_t sreg = 0, dreg = 0;
    uint16_t sg = 0, dg = 0;
    bool inverted = false;
    std::mt19937 rng(n);
    for (int i = 0; i < 3000; ++i) {
      const uint16_t in = static_cast<uint16_t>(rng() & ((1u << n) - 1));
      if (sg == 33) inverted = true;
      const uint16_t out = v27tscram(true, in, n, &sreg, &sg);
      const uint16_t back = v27tscram(false, out, n, &dreg, &dg);
      ASSERT_EQ(back, in) << "n=" << n << " symbol " << i;
    }
    EXPECT_TRUE(inverted) << "the guard never fired for n=" << n;
  }
  // the word-wide form, and the batch form over any number of bits, give the bit-serial one's
  // bits and state from any register and count
  std::mt19937 rng(17);
  for (int trial = 0; trial < 200000; ++trial) {
    const bool scrambler = trial & 1;
    const int n = 1 + int(rng() % 6);
    const uint16_t bits = uint16_t(rng());
    uint32_t r1 = rng(), r2 = r1;
    uint16_t g1 = uint16_t(rng() % 34), g2 = g1;
    ASSERT_EQ(v27tscram(scrambler, bits, n, &r1, &g1), v27tscramSerial(scrambler, bits, n, &r2, &g2)) << trial;
    ASSERT_EQ(r1, r2) << trial;
    ASSERT_EQ(g1, g2) << trial;
    const int m = 1 + int(rng() % 24);
    const uint32_t wide = rng() & ((1u << m) - 1);
    uint32_t want = 0;
    for (int i = 0; i < m; ++i) want |= uint32_t(v27tscramSerial(true, uint16_t(wide >> i), 1, &r2, &g2)) << i;
    ASSERT_EQ(v27tScrambleBits(wide, m, &r1, &g1), want) << trial << " m=" << m;
    ASSERT_EQ(r1, r2) << trial;
    ASSERT_EQ(g1, g2) << trial;
  }
}

TEST(VcScramblers, GpcWordStepGivesTheBitSerialBitsAndRegister) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 100000; ++trial) {
    const int m = 1 + int(rng() % 18);
    const uint32_t bits = rng() & ((1u << m) - 1);
    uint32_t r1 = rng() & ((1u << 23) - 1), r2 = r1;
    uint32_t want = 0;
    for (int i = 0; i < m; ++i) want |= uint32_t(vcGpcScramble(uint16_t(bits >> i), r2, 1)) << i;
    ASSERT_EQ(vcGpcScrambleWord(bits, r1, m), want) << trial << " m=" << m;
    ASSERT_EQ(r1, r2) << trial << " m=" << m;
  }
}

TEST(VcCoding, DifferentialPairCodingRoundTripsAndTrainingCoderPicksCorA) {
  VCZTXMEM t{};
  VCZRXMEM r{};
  for (int i = 0; i < 64; ++i) {
    t.scout = static_cast<uint16_t>((i * 37) & 0x3F);
    v3xfTxenc(&t);
    r.decin = t.encout;
    v3xfRxdec(&r, nullptr);
    ASSERT_EQ(r.descin, t.scout);
  }
  t.scout = 1;
  v3xfEnctrn2p(&t);
  EXPECT_EQ(t.encout, 3);
  t.scout = 2;
  v3xfEnctrn2p(&t);
  EXPECT_EQ(t.encout, 0);
}

TEST(VcCoding, RateSequenceAndRateTable) {
  EXPECT_EQ(vcfFindrate(0xFFFF), 0);
  EXPECT_EQ(vcfFindrate(0x0060), 5);
  EXPECT_EQ(vcfFindrate(0), -1);
  EXPECT_EQ(vcfFindrate(0x0310), 3);
  VCZTXMEM t{};
  vcfTxrate_init(&t, 0xB1E4);
  for (int round = 0; round < 3; ++round) {
    uint16_t rebuilt = 0;
    for (int s = 0; s < 8; ++s) {
      const VCBDMSTATUS st = vcfTxrate(&t);
      rebuilt = static_cast<uint16_t>(rebuilt | (t.txdata << (2 * s)));
      EXPECT_EQ(st, s == 7 ? VCBDM_RATE_SENT : 0u);
    }
    EXPECT_EQ(rebuilt, 0xB1E4);
  }
}

TEST(VcConstellations, PointsAreDistinctSymmetricAndOnTheirSubsetLattice) {
  for (const RateCase& rc : kRates) {
    const VCZRATEPARM& row = vctRatetabLUT[rc.row];
    ASSERT_EQ(1 << row.numbits, rc.points / 2) << rc.rate;  // one redundant bit
    std::set<std::pair<int, int>> seen;
    long sx = 0, sy = 0;
    for (int label = 0; label < rc.points; ++label) {
      const Grid g = unpack(row.txtab[label]);
      EXPECT_TRUE(seen.insert({g.x, g.y}).second) << rc.rate << " label " << label;
      sx += g.x;
      sy += g.y;
      int a, b;
      toDecoderGrid(rc.rate, g, a, b);
      EXPECT_EQ(subsetOf(a, b), label & 7) << rc.rate << " label " << label;
      // the inverse map gives the label back
      const VCZCOMPLEX p{static_cast<int16_t>(a * 1024), static_cast<int16_t>(b * 1024)};
      EXPECT_EQ(row.rxtab[vcfInvMapIndex(rc.rate, &p)], label) << rc.rate;
      // point symmetry: the opposite point exists
      bool opposite = false;
      for (int k = 0; k < rc.points; ++k) {
        const Grid o = unpack(row.txtab[k]);
        opposite |= (o.x == -g.x && o.y == -g.y);
      }
      EXPECT_TRUE(opposite);
    }
    EXPECT_EQ(sx, 0);
    EXPECT_EQ(sy, 0);
    // the scales bring the grid onto the decoder's 1024 lattice
    const double unit = row.txscale * (row.rxscale / 32768.0);
    const double expect = (rc.rate == 9600 || rc.rate == 14400) ? 1024.0 : 1024.0 / std::sqrt(2.0);
    EXPECT_NEAR(unit, expect, 3.0) << rc.rate;
  }
}

TEST(VcConstellations, QuarterTurnKeepsDataBitsAndShiftsTheDifferentialPair) {
  for (const RateCase& rc : kRates) {
    const VCZRATEPARM& row = vctRatetabLUT[rc.row];
    for (int label = 0; label < rc.points; ++label) {
      const Grid g = unpack(row.txtab[label]);
      int turned = -1;
      for (int k = 0; k < rc.points; ++k) {
        const Grid o = unpack(row.txtab[k]);
        if (o.x == -g.y && o.y == g.x) turned = k;
      }
      ASSERT_GE(turned, 0) << rc.rate << ": constellation not closed under a quarter turn";
      EXPECT_EQ(turned >> 3, label >> 3) << "data bits changed";
      EXPECT_EQ(((turned >> 1) & 3), (((label >> 1) & 3) + 3) & 3) << "pair not lowered by one";
    }
  }
}

TEST(VcConstellations, SubsetsKeepTheirDistance) {
  // parallel transitions: points of one subset are at least 4 grid units apart (decoder lattice)
  for (const RateCase& rc : kRates) {
    const VCZRATEPARM& row = vctRatetabLUT[rc.row];
    for (int i = 0; i < rc.points; ++i)
      for (int j = i + 1; j < rc.points; ++j) {
        if ((i & 7) != (j & 7)) continue;
        int ai, bi, aj, bj;
        toDecoderGrid(rc.rate, unpack(row.txtab[i]), ai, bi);
        toDecoderGrid(rc.rate, unpack(row.txtab[j]), aj, bj);
        EXPECT_GE((ai - aj) * (ai - aj) + (bi - bj) * (bi - bj), 16) << rc.rate;
      }
  }
}

TEST(VcConstellations, UncodedSixteenPointRowInvertsItsMap) {
  for (int label = 0; label < 16; ++label) {
    const VCZCOMPLEX p = vctSig16LUT[label];
    const int xi = (std::lround(p.real / 3664.0) + 3) / 2, yi = (std::lround(p.imag / 3664.0) + 3) / 2;
    EXPECT_EQ(vctImap16LUT[xi + 4 * yi], label);
  }
}

// Encodes random data with the scrambler and trellis coder, maps it, optionally adds noise at the
// given SNR, and decodes with the Viterbi decoder, differential decoder and descrambler.
int trellisBitErrors(const RateCase& rc, int symbols, double snrDb, unsigned seed) {
  const VCZRATEPARM& row = vctRatetabLUT[rc.row];
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  VCZTXMEM t{};
  t.gridmap = row.txtab;
  t.txscale = row.txscale;
  t.txsigmask = static_cast<uint16_t>(rc.points - 1);
  VCZRXMEM r{};
  VCZVITERBI32 vit{};
  vcfViterbiInit32(&vit, rc.rate);
  vit.vitscale = row.rxscale;
  r.vitp = &vit;
  const VCTXSTAGEF scr = vctGpcScrLUT[row.ridx];
  const VCRXSTAGEF des = vctGpcDesLUT[row.ridx];

  // signal power of the constellation for the noise level
  double power = 0;
  for (int i = 0; i < rc.points; ++i) {
    const Grid g = unpack(row.txtab[i]);
    power += (g.x * g.x + g.y * g.y) * double(row.txscale) * row.txscale;
  }
  power /= rc.points;
  const double sigma = snrDb > 0 ? std::sqrt(power / std::pow(10.0, snrDb / 10) / 2) : 0.0;
  const double rot = (rc.rate == 9600 || rc.rate == 14400) ? 0.0 : -M_PI / 4;

  std::vector<uint16_t> sent;
  int errors = 0;
  uint32_t maxMetric = 0;
  for (int s = 0; s < symbols + 40; ++s) {
    t.txdata = static_cast<uint16_t>(rng() & row.bmask);
    sent.push_back(t.txdata);
    scr(&t);
    v3xfTtrelenc(&t);
    v3xfTxmap(&t);
    const double x = t.txsig.real + sigma * gauss(rng), y = t.txsig.imag + sigma * gauss(rng);
    const double xr = x * std::cos(rot) - y * std::sin(rot), yr = x * std::sin(rot) + y * std::cos(rot);
    r.bbeqout.real = static_cast<int16_t>(std::lround(std::clamp(xr, -32768.0, 32767.0)));
    r.bbeqout.imag = static_cast<int16_t>(std::lround(std::clamp(yr, -32768.0, 32767.0)));
    vcfvitdec3x(&r, nullptr);
    // the survivor paths kept with the decisions are what tracing the decisions back gives, from
    // the first symbol on (an empty history traces back to state 0)
    for (int from = 0; from < 8; ++from) {
      if (s >= 64 && from != vit.curMinState) continue;
      uint16_t state = uint16_t(from), i = uint16_t((vit.pathHistoryIndex - 1) & 15);
      for (int depth = 1; depth < 16; ++depth) {
        state = uint16_t(vit.history[i][state] >> 8);
        i = uint16_t((i - 1) & 15);
        if (vit.survivor[from][depth] != state) {
          ADD_FAILURE() << "survivor at symbol " << s << ", state " << from << ", depth " << depth;
          return -1;
        }
      }
    }
    uint32_t minMetric = 0xFFFFFFFF;
    for (uint32_t m : vit.pathMetric) {
      minMetric = std::min(minMetric, m);
      maxMetric = std::max(maxMetric, m);
    }
    EXPECT_EQ(minMetric, 0u);
    v3xfRxdec(&r, nullptr);
    des(&r, nullptr);
    const int age = 15;  // decision delay
    if (s >= age + 8) errors += __builtin_popcount((r.desout ^ sent[s - age]) & row.bmask);
  }
  EXPECT_LT(maxMetric, 1u << 30);
  return errors;
}

// Each state keeps its first predecessor among equal metrics (the order of ViterbiStateTab32), and
// the metrics come back relative to the best state, the first of equal ones: ties made frequent by
// small metrics, including metrics near the top of the unsigned range.
TEST(VcViterbi, SurvivorChoiceKeepsTheFirstOfEqualMetrics) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 5000; ++trial) {
    VCZVITERBI32 vit{};
    vcfViterbiInit32(&vit, 14400);
    const uint32_t base = (trial & 1) ? 0xFFFFFFF0u : 0;
    uint32_t branch[8];
    for (auto& m : vit.pathMetric) m = base + rng() % 4;
    for (auto& b : branch) b = rng() % 4;
    uint32_t want[8];
    uint16_t wantEntry[8];
    for (int j = 0; j < 8; ++j) {
      for (int cand = 0; cand < 4; ++cand) {
        const uint16_t e = ViterbiStateTab32[j][cand];
        const uint32_t m = vit.pathMetric[e >> 8] + branch[e & 0xFF];
        if (cand == 0 || m < want[j]) {
          want[j] = m;
          wantEntry[j] = e;
        }
      }
    }
    int best = 0;
    for (int j = 1; j < 8; ++j)
      if (want[j] < want[best]) best = j;
    uint32_t next[8];
    uint16_t row[8];
    vcfSelectSurvivors(&vit, branch, next, row);
    for (int j = 0; j < 8; ++j) ASSERT_EQ(row[j], wantEntry[j]) << trial << " state " << j;
#if defined(ORVOX_X86_SIMD)
    if (__builtin_cpu_supports("avx2")) {
      vcfSelectSurvivorsAvx2(&vit, branch, next, row);
      for (int j = 0; j < 8; ++j) ASSERT_EQ(row[j], wantEntry[j]) << trial << " state " << j << " (AVX2)";
    }
#endif
    UpdatePathMetr32(&vit, branch);
    for (int j = 0; j < 8; ++j) {
      ASSERT_EQ(vit.history[0][j], wantEntry[j]) << trial << " state " << j;
      ASSERT_EQ(vit.pathMetric[j], want[j] - want[best]) << trial << " state " << j;
    }
    ASSERT_EQ(vit.curMinState, best) << trial;
  }
}

TEST(VcViterbi, TrellisChainDecodesWithoutErrorsNoiseless) {
  for (const RateCase& rc : kRates) EXPECT_EQ(trellisBitErrors(rc, 100000, 0, 11), 0) << rc.rate;
}

TEST(VcViterbi, TrellisChainDecodesWithoutErrorsAt25dB) {
  for (const RateCase& rc : kRates) EXPECT_EQ(trellisBitErrors(rc, 100000, 25.0, 12), 0) << rc.rate;
}

}  // namespace
