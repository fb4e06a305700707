// The GSM half-rate decoder frame against the double-precision chain of its stages: the
// excitation it builds, the pitch prefilter on voiced frames, the synthesis filter and the
// postfilter designed from it. A frame that skips or miswires a stage leaves the chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "gsmhr_postfilter_model.h"
#include "hr_kernels.h"
#include "hr_tables.h"

using namespace hr;
using namespace hrmodel;

// The decoder frame wires its stages as modelled: on unvoiced subframes (no pitch prefilter) with
// the same LPC codewords every frame and no interpolation, the output is the frame's excitation
// through the synthesis filter and the postfilter designed from that filter (denominator
// A(z / 0.75), numerator the lag-windowed fit), in double precision.
TEST(GsmHrDecoderFrame, FollowsTheModelOnUnvoicedFrames) {
  const auto ref = referenceFrame();
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(dec.get());
  SynthesisAndPostFilter model;
  std::vector<double> want, got;
  hrtest::Lcg rng{31};
  for (int f = 0; f < 100; ++f) {
    Word16 prm[22] = {ref[0], ref[1], ref[2], ref[3], 0, 0};
    for (int k = 0; k < 4; ++k) {
      prm[6 + 3 * k] = static_cast<Word16>(rng.range(0, 127));
      prm[7 + 3 * k] = static_cast<Word16>(rng.range(0, 127));
      prm[8 + 3 * k] = static_cast<Word16>(rng.range(4, 31));
    }
    HrDecoderProbe probe;
    Word16 out[160];
    hr_speechDecoder(prm, out, dec.get(), &probe);
    for (int k = 0; k < 4; ++k) {
      double x[40], m[40];
      for (int n = 0; n < 40; ++n) x[n] = probe.excitation[40 * k + n];
      model.subframe(x, probe.synthAs[k], m);
      if (f < 2) continue;  // the gain control settles from rest
      want.insert(want.end(), m, m + 40);
      got.insert(got.end(), out + 40 * k, out + 40 * k + 40);
    }
  }
  const double snr = snrDb(want, got);
  std::printf("decoder frame on unvoiced frames: %.1f dB against the model\n", snr);
  // The postfilter's shaping is mild (its numerator follows its denominator): exchanging the two
  // still leaves about 30 dB, so the bar sits well above that.
  EXPECT_GT(snr, 45.0);
}

// On voiced frames the frame puts the pitch prefilter in front of the synthesis: the model's
// prefilter takes the lag and the gain bound the parameters give, and the pitch gain that the
// frame's scaling of the pitch vector reports (hr_scaleExcite, whose rule is checked above).
TEST(GsmHrDecoderFrame, PrefiltersVoicedFramesAsModelled) {
  const auto ref = referenceFrame();
  Word16 ks[10];
  hr_lookupVq(ref.data() + 1, ks);
  const Word16 r0 = hr_psrR0DecTbl[2 * ref[0]];
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(dec.get());
  SynthesisAndPostFilter model;
  std::vector<double> pre;  // the model's prefilter history (before its gain)
  std::vector<double> want, got;
  hrtest::Lcg rng{41};
  for (int f = 0; f < 100; ++f) {
    const Word16 mode = static_cast<Word16>(1 + f % 3);
    Word16 prm[22] = {ref[0], ref[1], ref[2], ref[3], 0, mode};
    prm[6] = static_cast<Word16>(rng.range(10, 200));  // absolute lag code, then no change
    for (int k = 0; k < 4; ++k) {
      if (k > 0) prm[6 + 3 * k] = 8;
      prm[7 + 3 * k] = static_cast<Word16>(rng.range(0, 511));
      prm[8 + 3 * k] = static_cast<Word16>(rng.range(8, 31));
    }
    Word16 ltp[187];
    std::copy(dec->pswLtpStateBaseDec, dec->pswLtpStateBaseDec + 187, ltp);
    HrDecoderProbe probe;
    Word16 out[160];
    hr_speechDecoder(prm, out, dec.get(), &probe);
    const Word16 lag = hr_psrLagTbl[prm[6]];
    const int ip = lag / 6, jj = lag % 6;
    for (int k = 0; k < 4; ++k) {
      // The pitch gain of this subframe: the pitch vector scaled as the frame scales it.
      NormSw rs, rs0;
      const Word16 zero[10] = {};
      hr_res_eng(f == 0 && k == 0 ? zero : ks, f == 0 && k == 0 ? Word16(0) : r0, &rs);
      hr_fp_ex(lag, ltp + 147);
      Word16 pv[40];
      std::copy(ltp + 147, ltp + 187, pv);
      hr_rs_rr(pv, &rs, &rs0, 1);
      const Word16 G = prm[8 + 3 * k];
      const Word16 semiBeta = hr_scaleExcite(pv, hr_pppsrGsp0[160 * mode + 5 * G], &rs0, pv);
      hr_Copy(ltp + 40, ltp, 147);
      std::copy(probe.excitation + 40 * k, probe.excitation + 40 * k + 40, ltp + 107);
      // Prefilter, synthesis and postfilter in double precision.
      const double g = std::min(hr_ppsrSqrtP0[32 * (mode - 1) + G], semiBeta) / kQ15() * 0.3;
      double y[40], ex2 = 0, ey2 = 0;
      for (int n = 0; n < 40; ++n) {
        double acc = probe.excitation[40 * k + n];
        for (int j = 0; j < 10; ++j) {
          const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(pre.size()) + n - ip - 5 + j;
          const double v = at < static_cast<std::ptrdiff_t>(pre.size()) ? (at < 0 ? 0.0 : pre[at]) : y[at - pre.size()];
          acc += g * hr_ppsrPVecIntFilt[10 * jj + j] / kQ15() * v;
        }
        y[n] = acc;
        ex2 += double(probe.excitation[40 * k + n]) * probe.excitation[40 * k + n];
        ey2 += acc * acc;
      }
      pre.insert(pre.end(), y, y + 40);
      double x[40], m[40];
      for (int n = 0; n < 40; ++n) x[n] = ey2 > 0 ? y[n] * std::sqrt(ex2 / ey2) : 0.0;
      model.subframe(x, probe.synthAs[k], m);
      if (f < 2) continue;
      want.insert(want.end(), m, m + 40);
      got.insert(got.end(), out + 40 * k, out + 40 * k + 40);
    }
  }
  const double snr = snrDb(want, got);
  std::printf("decoder frame on voiced frames: %.1f dB against the model\n", snr);
  EXPECT_GT(snr, 40.0);
}

