// Symbol timing: band-edge filter, acquisition on the training alternation, tracking schedule.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "vc_dot_avx2.h"
#include "vc_test_tx.h"
#include "vc_timing.h"

namespace {

// The training alternation A B A B ... from our transmitter, delayed by `delay` samples at
// 8000/s, converted to 7200/s by the receive resampler; 31 samples of history lead the result.
std::vector<int16_t> trainingAt7200(int delay, int blocks) {
  TestTransmitter tx(16384);
  vcfTxsendABv3x_init(&tx.baud);
  std::vector<int16_t> pass(size_t(delay), 0);
  tx.run(blocks, pass);
  std::vector<int16_t> in(40, 0);
  in.insert(in.end(), pass.begin(), pass.end());
  VCZRESAMPLE rs;
  vcfInitResample(0, &rs);
  std::vector<int16_t> out(31, 0);
  int16_t obuf[64];
  for (size_t at = 40; at + 40 <= in.size(); at += 40) {
    VCZBUF rd{&in[at], nullptr, nullptr}, wr{&in[at + 40], nullptr, nullptr}, ob{obuf, obuf, nullptr};
    const int n = vcfResample(&rd, &wr, &ob, &rs);
    out.insert(out.end(), obuf, obuf + n);
  }
  return out;
}

// Feeds the samples in blocks of 36, from 20 symbols into the alternation (where a receiver's tone
// detector has found it and starts timing), and returns the tracking position acquisition chose
// (samples at 7200/s, 0 .. 3), with the number of zero samples put out before tracking.
double acquiredPosition(const std::vector<int16_t>& x, int* silent) {
  VCZTIMADJ t{};
  vcfInitTiming(vcftimingFSM32, S_2400, HIGHCARRIER, FIRST_TRN, &t);
  std::vector<int16_t> out(x.size() + 64);
  VCZBUF ob{out.data(), out.data(), nullptr};
  size_t at = 31 + 60;
  *silent = 0;
  while (at + 36 <= x.size() && t.acqParm.timeAcqState != ACQ_DONE) {
    VCZBUF in{const_cast<int16_t*>(&x[at]), nullptr, const_cast<int16_t*>(&x[at + 36])};
    int16_t* before = ob.bufp;
    vcfAdjTiming(&in, &ob, &t);
    if (t.acqParm.timeAcqState != ACQ_DONE) {
      for (int16_t* p = before; p < ob.bufp; ++p) EXPECT_EQ(*p, 0);
      *silent += int(ob.bufp - before);
    }
    at = size_t(in.bufp - x.data());
  }
  EXPECT_EQ(t.acqParm.timeAcqState, ACQ_DONE);
  // Tracking ran on from the start of the completing block (a whole number of symbols after the
  // first sample fed) three samples per symbol, so where it stands, modulo a symbol, is where
  // acquisition put it.
  const double stands = double(at - (31 + 60)) + double(t.trkParm.interpSampPos) / double(1 << 24);
  return std::fmod(stands, 3.0);
}

TEST(VcTiming, AcquisitionTakesTwentySymbolsThenTheJamCountAndIsSilentMeanwhile) {
  const auto x = trainingAt7200(0, 60);
  int silent = 0;
  acquiredPosition(x, &silent);
  // 25 symbols at 2400 baud: 20 to set the threshold, 5 to measure; whole blocks of output
  EXPECT_GE(silent, 3 * 20);
  EXPECT_LE(silent, 3 * 25);
}

TEST(VcTiming, AcquisitionRecoversAKnownDelay) {
  int silent = 0;
  const double base = acquiredPosition(trainingAt7200(0, 60), &silent);
  for (int delay = 1; delay <= 9; ++delay) {
    const double pos = acquiredPosition(trainingAt7200(delay, 60), &silent);
    const double expected = std::fmod(base + delay * 0.9, 3.0);
    double diff = std::remainder(pos - expected, 3.0);
    EXPECT_LT(std::abs(diff), 0.15) << "delay " << delay << ": got " << pos << " expected " << expected;
  }
}

TEST(VcTiming, BandEdgeFilterRestartsWhenItOverflows) {
  VCZCALCTIMPAR p{};
  p.coeffp = vctiming[2];
  p.scale = 9;
  const int16_t quiet[1] = {0};
  p.nh0 = p.nh1 = p.nl0 = 30000;  // resonators run away
  p.nl1 = -30000;
  vcfCalcTimingAdj(quiet, &p);
  EXPECT_EQ(p.nh0 | p.nh1 | p.nl0 | p.nl1, 0);
  // a moderate state is kept
  p.nh0 = p.nh1 = p.nl0 = p.nl1 = 100;
  vcfCalcTimingAdj(quiet, &p);
  EXPECT_NE(p.nh0 | p.nh1 | p.nl0 | p.nl1, 0);
}

// The tracker's fast forms give the plain forms' bits. The band-edge filters with the saturation
// off their chain: results and state, on full-scale and quiet input (-32768 included), any state,
// row, scale and run length. The wide tracker, block after block: samples, read pointer, position,
// adjustments and resonator state, whatever the schedule, the scale, the weights and the run
// length (its resonators in 32-bit lanes up to a scale of 15, in 64 bits past it, and run again
// with saturation when an output leaves 16 bits).
TEST(VcTiming, TrackerKernelsGiveThePlainFormsBits) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 600; ++trial) {
      std::vector<int16_t> x(420);
      const int level = trial % 3 * 6;  // full scale (the resonators saturate and restart) to quiet
      for (auto& v : x) v = int16_t(int16_t(rng()) >> level);
      x[size_t(40 + trial % 300)] = -32768;
      VCZTIMADJ t{};
      vcfInitTiming(trial % 2 ? vcftimingFSM32 : nullptr, S_2400, HIGHCARRIER, FIRST_TRN, &t);
      VCZTRKTIMPAR& k = t.trkParm;
      // positions of every phase (15, which reads one sample on, included), steps either way
      k.interpSampPos = (trial % 16 == 15 ? 0x00F00000u : 0u) | (rng() & (trial % 16 == 15 ? 0x000FFFFFu : 0x00FFFFFFu));
      k.interpSampInc = trial % 4 == 3 ? 0xF00000u + (rng() & 0x3FFFFF) : 0x1000000u;
      k.interpSampAdj = int16_t(rng());
      k.timingDiff = int16_t(rng() % 2001) - 1000;
      // adjustments of up to a sixteenth of a sample in some: the adjusted positions often leave the
      // phase the unadjusted ones fall in
      const uint32_t most = trial % 8 == 3 ? 65536 : 5000;
      k.timingAdjInc = uint16_t(rng() % most);
      k.timingAdjCurrInc = uint16_t(rng() % most);
      k.timingAdj = int16_t(int(rng() % 3) - 1);
      k.timingAdjLmt = int16_t(1 + trial % 2);
      k.timingSymCnt = int16_t(trial % 5 == 0 ? 29990 : rng() % 3000);
      k.trkCalcTimParm.skipFactor = int16_t(trial % 3 == 0 ? 2 : 5);
      // any weights (the wide resonators' sums may wrap); scales past 15 take 64-bit resonators
      k.trkCalcTimParm.scale = int16_t(7 + trial % 10);
      int16_t coeff[6];
      for (auto& v : coeff) v = int16_t(rng());
      k.trkCalcTimParm.coeffp = trial % 5 == 4 ? coeff : vctiming[trial % 4];
      // resonators at the edge of their range: the next outputs leave 16 bits
      if (trial % 4 == 1)
        for (int16_t* v : {&k.trkCalcTimParm.nh0, &k.trkCalcTimParm.nh1, &k.trkCalcTimParm.nl0, &k.trkCalcTimParm.nl1})
          *v = rng() % 2 ? int16_t(-32768) : int16_t(32767 - int(rng() % 4000));
      VCZTIMADJ wide = t;
      std::vector<int16_t> out(x.size()), outWide(x.size());
      VCZBUF ob{out.data(), out.data(), nullptr}, obWide{outWide.data(), outWide.data(), nullptr};
      const bool silent = trial % 7 == 6;  // no output wanted
      // blocks of uneven length, each from the first sample not yet passed: the chain carries over
      for (size_t at = 40, end = 40; end < x.size();) {
        end = std::min(x.size(), end + 5 + rng() % 60);
        VCZBUF in{&x[at], nullptr, &x[0] + end}, inWide = in;
        vcAllowAvx2(false);
        vcfTrackTiming(&in, silent ? nullptr : &ob, &k);
        vcAllowAvx2(true);
        vcfTrackTiming(&inWide, silent ? nullptr : &obWide, &wide.trkParm);
        ASSERT_EQ(inWide.bufp, in.bufp) << trial;
        at = size_t(in.bufp - x.data());
      }
      const VCZTRKTIMPAR& w = wide.trkParm;
      ASSERT_EQ(obWide.bufp - outWide.data(), ob.bufp - out.data()) << trial;
      ASSERT_EQ(outWide, out) << trial;
      const VCZCALCTIMPAR &p = k.trkCalcTimParm, &q = w.trkCalcTimParm;
      ASSERT_EQ(std::vector<int64_t>({w.interpSampPos, w.interpSampAdj, w.timingAdjCurrInc, w.timingAdj,
                                      w.timingLmtCnt, w.accumAdjCnt, w.timingSymCnt, q.nh0, q.nh1, q.nl0, q.nl1}),
                std::vector<int64_t>({k.interpSampPos, k.interpSampAdj, k.timingAdjCurrInc, k.timingAdj,
                                      k.timingLmtCnt, k.accumAdjCnt, k.timingSymCnt, p.nh0, p.nh1, p.nl0, p.nl1}))
          << trial;
    }
  }
#endif
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t coeff[6];
    const int16_t* row = trial % 3 == 0 ? vctiming[trial % 4] : vctiming_acq[trial % 4];
    for (int k = 0; k < 6; ++k) coeff[k] = trial % 5 == 4 ? int16_t(rng()) : row[k];
    const int level = trial % 4 * 5;  // full scale down to quiet
    int16_t x[6];
    for (auto& v : x) v = int16_t(int16_t(rng()) >> level);
    if (trial % 7 == 0) x[trial % 6] = -32768;
    VCZCALCTIMPAR p{};
    p.coeffp = coeff;
    p.scale = int16_t(7 + trial % 6);
    p.skipFactor = int16_t(trial % 6);
    int16_t* state[4] = {&p.nh0, &p.nh1, &p.nl0, &p.nl1};
    for (auto* v : state) *v = trial % 11 == 0 ? int16_t(-32768) : int16_t(int16_t(rng()) >> (trial % 3 * 6));
    VCZCALCTIMPAR plain = p;
    ASSERT_EQ(vcfCalcTimingAdj(x, &p), vcfCalcTimingAdjPlain(x, &plain)) << trial;
    ASSERT_EQ(std::vector<int16_t>({p.nh0, p.nh1, p.nl0, p.nl1}),
              std::vector<int16_t>({plain.nh0, plain.nh1, plain.nl0, plain.nl1})) << trial;
  }
}

TEST(VcTiming, ScheduleStepsAndStopsAt30000Symbols) {
  VCZTIMADJ t{};
  vcfInitTiming(vcftimingFSM32, S_2400, HIGHCARRIER, FIRST_TRN, &t);
  VCZTRKTIMPAR& k = t.trkParm;
  k.timingAdjInc = 99;
  for (int n = 1; n <= 3000; ++n) {
    vcftimingFSM32(&k);
    if (n == 1) { EXPECT_EQ(k.timingAdjInc, 0); }
    if (n == 10) { EXPECT_EQ(k.timingAdjCurrInc, 3355); }
    if (n == 300) { EXPECT_EQ(k.trkCalcTimParm.scale, 9); }
    if (n == 2324) { EXPECT_EQ(k.timingAdjInc, 1118); }
  }
  EXPECT_EQ(k.timingAdjLmt, 2);
  k.timingSymCnt = 29999;
  vcftimingFSM32(&k);
  k.timingAdjInc = 7;
  for (int n = 0; n < 100; ++n) vcftimingFSM32(&k);
  EXPECT_EQ(k.timingSymCnt, 30000);
  EXPECT_EQ(k.timingAdjInc, 7);
  // the second training keeps the learned offset
  k.timingDiff = 321;
  vcfInitTiming(vcftimingFSM32, S_2400, HIGHCARRIER, SECOND_TRN, &t);
  EXPECT_EQ(t.trkParm.timingDiff, 321);
  EXPECT_EQ(t.trkParm.interpSampAdj, 321);
}

TEST(VcTiming, TrackingMovesItsCorrectionsInBoundedSteps) {
  const auto x = trainingAt7200(0, 300);
  VCZTIMADJ t{};
  vcfInitTiming(nullptr, S_2400, HIGHCARRIER, FIRST_TRN, &t);
  t.acqParm.timeAcqState = ACQ_DONE;
  t.trkParm.timingDiff = 500;
  t.trkParm.timingAdjInc = 3355;
  std::vector<int16_t> out(x.size() + 16);
  VCZBUF ob{out.data(), out.data(), nullptr};
  VCZBUF in{const_cast<int16_t*>(&x[31]), nullptr, const_cast<int16_t*>(x.data() + x.size())};
  int16_t lastAdj = 0;
  uint16_t lastInc = 0;
  const int16_t* before = in.bufp;
  // one symbol at a time to watch the steps
  for (int s = 0; s < 200; ++s) {
    VCZBUF one{in.bufp, nullptr, std::min(in.bufp + 5, in.endp)};
    vcfTrackTiming(&one, &ob, &t.trkParm);
    in.bufp = one.bufp;
    EXPECT_LE(std::abs(t.trkParm.interpSampAdj - lastAdj), 10);
    EXPECT_LE(std::abs(int(t.trkParm.timingAdjCurrInc) - int(lastInc)), 50);
    lastAdj = t.trkParm.interpSampAdj;
    lastInc = t.trkParm.timingAdjCurrInc;
  }
  // both settle within one step of their targets
  EXPECT_LE(500 - t.trkParm.interpSampAdj, 10);
  EXPECT_LE(3355 - int(t.trkParm.timingAdjCurrInc), 50);
  EXPECT_EQ(ob.bufp - out.data(), 3 * 200);
  EXPECT_NEAR(double(in.bufp - before), 600, 2);
}

}  // namespace
