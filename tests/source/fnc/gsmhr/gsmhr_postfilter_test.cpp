// The GSM half-rate decoder's post-processing judged by double-precision models of what each
// stage is meant to do, not by numbers taken from its own runs: the postfilter design (the lag
// windowed numerator), the pitch prefilter (a fractional-lag comb at 0.3 of the limited pitch gain
// whose output keeps the input's energy) and the spectral postfilter (numerator, widened
// denominator, a 0.2 first-order emphasis, and a gain that follows twice the input's level with
// a smoothing of 410/32768 per sample). A changed constant or a stage left out moves the fixed-point
// output far from its model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "gsmhr_postfilter_model.h"
#include "gsmhr_test_signals.h"
#include "hr_codec.h"
#include "hr_kernels.h"
#include "hr_tables.h"

using namespace hr;
using namespace hrmodel;

namespace {

// Per subframe: the synthesis filter the encoder chose for a speech recording and the frame's
// energy shift, the input the decoder's postfilter sees (the reconstruction, at half level), and
// the postfilter coefficients designed as the decoder designs them.
struct Subframe {
  Word16 as[10], den[10], num[10];
  Word16 shift;
  Word16 synth[40];
};

std::vector<Subframe> speechSubframes(int frames) {
  auto speech = hrtest::load_speech();
  speech.resize(std::min<std::size_t>(speech.size(), 160u * frames));
  auto enc = std::make_unique<GSMHR_ENCSTRUCT>();
  gsmhr_reset_enc(enc.get(), 0);
  std::vector<Subframe> out;
  Word16 synthState[10] = {};
  for (std::size_t f = 0; f + 160 <= speech.size(); f += 160) {
    Word16 prm[20];
    HrEncoderProbe probe;
    hr_speechEncoder(speech.data() + f, prm, enc.get(), &probe);
    for (int s = 0; s < 4; ++s) {
      Subframe sf;
      std::copy(probe.synthAs[s], probe.synthAs[s] + 10, sf.as);
      hr_Vec_mult_r_NP(sf.as, hr_psrSPFDenomWidenCf.data(), sf.den);
      hr_a_sst(sf.den, sf.num);
      sf.shift = hr_r0Shifts[prm[0] & 31];
      hr_lpcIir2(probe.excitation + 40 * s, sf.as, synthState, sf.synth);
      out.push_back(sf);
    }
  }
  return out;
}

}  // namespace

// The postfilter numerator is the predictor of the widened denominator's autocorrelation after
// the lag window (lags 1 to 10 only) narrows its peaks: compared with that design in double
// precision for every subframe of a speech recording.
TEST(GsmHrPostFilter, NumeratorIsTheLagWindowedFitOfTheDenominator) {
  const auto subframes = speechSubframes(150);
  double worst = 0;
  int checked = 0;
  for (const Subframe& sf : subframes) {
    Poly den = scaled(sf.den, 2048.0);
    // The widened denominator is A(z / 0.75).
    for (int k = 0; k < 10; ++k) ASSERT_NEAR(den[k], sf.as[k] / 2048.0 * std::pow(0.75, k + 1), 1.0 / 2048) << k;
    const Poly want = postFilterNumerator(den);
    for (int k = 0; k < 10; ++k) worst = std::max(worst, std::fabs(want[k] - sf.num[k] / 2048.0));
    ++checked;
  }
  std::printf("postfilter numerator: %d subframes, largest coefficient error %.5f\n", checked, worst);
  EXPECT_GT(checked, 500);
  EXPECT_LT(worst, 0.01);
}

// The spectral postfilter against its model over a speech recording: the numerator, the
// widened denominator, the emphasis on the previous sample and the gain that follows twice the
// input's level with its per-sample smoothing, state carried from subframe to subframe.
TEST(GsmHrPostFilter, SpectralPostFilterFollowsItsModelOverSpeech) {
  const auto subframes = speechSubframes(150);
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(dec.get());
  SpectralPostFilterModel model;
  std::vector<double> want, got;
  double ein = 0, eout = 0;
  for (const Subframe& sf : subframes) {
    Word16 out[40];
    double m[40];
    hr_spectralPostFilter(sf.synth, sf.num, sf.den, out, dec.get(), sf.shift);
    model.run(sf.synth, sf.num, sf.den, m);
    for (int n = 0; n < 40; ++n) {
      want.push_back(m[n]);
      got.push_back(out[n]);
      ein += double(sf.synth[n]) * sf.synth[n];
      eout += double(out[n]) * out[n];
    }
  }
  const double snr = snrDb(want, got);
  std::printf("spectral postfilter: %.1f dB against its model, level %+.2f dB over its input\n", snr,
              10 * std::log10(eout / ein));
  EXPECT_GT(snr, 30.0);
  // The gain control restores the full level: 6.02 dB over the half-level synthesis.
  EXPECT_NEAR(10 * std::log10(eout / ein), 6.02, 0.5);
}

// A step in level shows the gain's envelope: after the step the output level approaches twice
// the new input level as 1 - (1 - 820/65536)^n, neither jumping nor lagging behind.
TEST(GsmHrPostFilter, GainFollowsALevelStepWithItsSmoothing) {
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(dec.get());
  SpectralPostFilterModel model;
  const Word16 flat[10] = {};  // no spectral shaping: the envelope alone
  auto tone = hrtest::tone(8, 700, 1000);
  for (std::size_t i = 160 * 4; i < tone.size(); ++i) tone[i] = static_cast<Word16>(tone[i] * 4);
  std::vector<double> want, got;
  for (std::size_t s = 0; s + 40 <= tone.size(); s += 40) {
    Word16 out[40];
    double m[40];
    hr_spectralPostFilter(tone.data() + s, flat, flat, out, dec.get(), 0);
    model.run(tone.data() + s, flat, flat, m);
    want.insert(want.end(), m, m + 40);
    got.insert(got.end(), out, out + 40);
  }
  EXPECT_GT(snrDb(want, got), 35.0);
  // From rest, the gain after one subframe is 1 - (1 - 820/65536)^40 of its target.
  const double step = 820.0 / 65536.0;
  auto fresh = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(fresh.get());
  Word16 out[40];
  hr_spectralPostFilter(tone.data(), flat, flat, out, fresh.get(), 0);
  double ein = 0, eemph = 0, prev = 0;
  for (int n = 0; n < 40; ++n) {
    const double e = tone[n] - 0.2 * prev;
    prev = tone[n];
    ein += double(tone[n]) * tone[n];
    eemph += e * e;
  }
  const double g = 16384.0 * std::sqrt(ein / eemph) * (1 - std::pow(1 - step, 40));
  EXPECT_NEAR(fresh->gswPostFiltAgcGain, g, 0.01 * g + 2) << "gain after one subframe from rest";
}

// The pitch prefilter against its model: voiced subframes are combed at the decoded lag with 0.3
// of the pitch gain, limited by the gain code's bound, through the fractional-lag interpolation
// of the lag's sixth, and come out at the input's energy; unvoiced ones pass unchanged.
TEST(GsmHrPostFilter, PitchPrefilterFollowsItsModel) {
  hrtest::Lcg rng{17};
  std::vector<Word16> history(187, 0);  // the decoder's prefilter history
  std::vector<double> past;             // the model's: the filtered (pre-gain) samples
  std::vector<double> want, got;
  int limited = 0, unlimited = 0;
  for (int sub = 0; sub < 400; ++sub) {
    const Word16 mode = static_cast<Word16>(1 + sub % 3);
    const Word16 lagCode = static_cast<Word16>(rng.range(0, 255));
    const Word16 lag = hr_psrLagTbl[lagCode];
    const Word16 G = static_cast<Word16>(rng.range(0, 31));
    const Word16 limit = hr_ppsrSqrtP0[32 * (mode - 1) + G];
    const Word16 semiBeta = static_cast<Word16>(rng.range(0, 32767));
    (semiBeta > limit ? limited : unlimited)++;
    NormSw rs{16384, static_cast<Word16>(sub % 2 ? 0 : 3)};  // both energy paths
    // A voiced-like excitation: a pulse every 37 samples over noise.
    Word16 ex[40], out[40];
    for (int n = 0; n < 40; ++n) {
      const int t = 40 * sub + n;
      ex[n] = static_cast<Word16>(rng.range(-600, 600) + (t % 37 == 0 ? 6000 : 0));
    }
    hr_pitchPreFilt(ex, G, lag, mode, semiBeta, &rs, out, history.data());
    // Model.
    const double g = std::min(limit, semiBeta) / kQ15() * 0.3;
    const int ip = lag / 6, jj = lag % 6;
    double y[40], ex2 = 0, ey2 = 0;
    for (int n = 0; n < 40; ++n) {
      double acc = ex[n];
      for (int k = 0; k < 10; ++k) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(past.size()) + n - ip - 5 + k;
        const double v = at < static_cast<std::ptrdiff_t>(past.size()) ? (at < 0 ? 0.0 : past[at]) : y[at - past.size()];
        acc += g * hr_ppsrPVecIntFilt[10 * jj + k] / kQ15() * v;
      }
      y[n] = acc;
      ex2 += double(ex[n]) * ex[n];
      ey2 += acc * acc;
    }
    past.insert(past.end(), y, y + 40);
    for (int n = 0; n < 40; ++n) {
      want.push_back(y[n] * std::sqrt(ex2 / ey2));
      got.push_back(out[n]);
    }
  }
  const double snr = snrDb(want, got);
  std::printf("pitch prefilter: %.1f dB against its model (%d subframes limited, %d not)\n", snr, limited,
              unlimited);
  EXPECT_GT(limited, 50);
  EXPECT_GT(unlimited, 50);
  EXPECT_GT(snr, 35.0);

  // Unvoiced: the excitation passes unchanged and joins the history.
  Word16 ex[40], out[40];
  for (int n = 0; n < 40; ++n) ex[n] = static_cast<Word16>(rng.range(-9000, 9000));
  NormSw rs{16384, 0};
  hr_pitchPreFilt(ex, 5, 0, 0, 20000, &rs, out, history.data());
  EXPECT_TRUE(std::equal(ex, ex + 40, out));
  EXPECT_TRUE(std::equal(ex, ex + 40, history.begin() + 107));
}

// Excitation gains: a codebook vector is scaled to the subframe's residual energy times its gain
// term whatever its own energy: the scaled vector's RMS is proportional to gain x sqrt(Rs), the
// square root of the residual energy being man / 2^sh. Vectors of every energy, gains and
// normalisations give one constant of proportionality (vectors whose energy the 32-bit sums
// cannot hold saturate, as the standard's arithmetic does, and are left out).
TEST(GsmHrPostFilter, ExcitationIsScaledToTheResidualEnergyWhateverTheVector) {
  hrtest::Lcg rng{23};
  double lo = 1e300, hi = 0;
  int cases = 0;
  for (int rep = 0; rep < 600; ++rep) {
    // A vector as the decoder builds them: a VSELP sum or a loud or quiet pitch vector.
    Word16 v[40], bits[9];
    const bool voiced = rep % 3 == 0;
    if (rep % 3 == 2) {
      const int amp = 200 << rng.range(0, 5);
      for (auto& x : v) x = static_cast<Word16>(rng.range(-amp, amp));
    } else {
      hr_b_con(static_cast<Word16>(rng.range(0, voiced ? 511 : 127)), voiced ? 9 : 7, bits);
      hr_v_con(voiced ? hr_pppsrVcdCodeVec2.data() : hr_pppsrUvCodeVec2.data(), v, bits, voiced ? 9 : 7);
    }
    double ev = 0;
    for (Word16 x : v) ev += double(x) * x;
    // Within the energy the fixed-point sums hold (2^30 in squares) and above the vector's own
    // rounding.
    if (ev < 40.0 * 50 * 50 || ev >= 1073741824.0) continue;
    const NormSw rs{static_cast<Word16>(rng.range(16384, 32767)), static_cast<Word16>(rng.range(0, 5))};
    const Word16 err = static_cast<Word16>(rng.range(2000, 32767));
    NormSw rr;
    Word16 out[40];
    hr_rs_rr(v, &rs, &rr, static_cast<Word16>(rep % 2));
    hr_scaleExcite(v, err, &rr, out);
    double eo = 0;
    for (Word16 x : out) eo += double(x) * x;
    const double want = err / 32768.0 * rs.man / 32768.0 * std::pow(2.0, -rs.sh);
    const double k = std::sqrt(eo / 40) / want;
    lo = std::min(lo, k), hi = std::max(hi, k);
    ++cases;
  }
  std::printf("excitation scaling: %d cases, RMS / (gain x sqrt(Rs)) from %.1f to %.1f\n", cases, lo, hi);
  EXPECT_GT(cases, 400);
  EXPECT_LT(hi / lo, 1.03) << "the scaled energy depends on the vector or the normalisation";
}
