// Double-precision models of the GSM half-rate decoder's post-processing for the tests: lattice
// conversions, the postfilter's numerator design, the spectral postfilter, and the synthesis and
// postfilter that follow the excitation in the decoder frame.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "gsmhr_test_signals.h"
#include "hr_codec.h"

namespace hrmodel {

using hr::Word16;

constexpr double kQ15() { return 32768.0; }

using Poly = std::array<double, 10>;  // a[0..9] of A(z) = 1 + sum a[k] z^-(k+1)

// Step-down: reflection coefficients of a direct-form polynomial.
inline Poly reflectionOf(Poly a) {
  Poly k{};
  for (int m = 9; m >= 0; --m) {
    k[m] = a[m];
    Poly b = a;
    for (int i = 0; i < m; ++i) b[i] = (a[i] - k[m] * a[m - 1 - i]) / (1 - k[m] * k[m]);
    a = b;
  }
  return k;
}

// Normalised autocorrelation (r[0] = 1) of the all-pole filter with these reflection coefficients.
inline std::array<double, 11> correlationOf(const Poly& k) {
  std::array<double, 11> r{1.0};
  Poly a{};
  for (int m = 0; m < 10; ++m) {
    Poly b = a;
    for (int i = 0; i < m; ++i) b[i] = a[i] + k[m] * a[m - 1 - i];
    b[m] = k[m];
    a = b;
    double s = 0;
    for (int i = 0; i <= m; ++i) s += a[i] * r[m - i];
    r[m + 1] = -s;
  }
  return r;
}

// Levinson recursion: the predictor polynomial of an autocorrelation.
inline Poly levinson(const std::array<double, 11>& r) {
  Poly a{};
  double e = r[0];
  for (int m = 0; m < 10; ++m) {
    double acc = r[m + 1];
    for (int i = 0; i < m; ++i) acc += a[i] * r[m - i];
    const double k = -acc / e;
    Poly b = a;
    for (int i = 0; i < m; ++i) b[i] = a[i] + k * a[m - 1 - i];
    b[m] = k;
    a = b;
    e *= 1 - k * k;
  }
  return a;
}

inline Poly scaled(const Word16* a, double scale) {
  Poly p;
  for (int i = 0; i < 10; ++i) p[i] = a[i] / scale;
  return p;
}

// The postfilter's numerator for a denominator: the predictor fitted to the denominator's
// autocorrelation after a Gaussian lag window on lags 1 to 10.
inline Poly postFilterNumerator(const Poly& den) {
  constexpr double window[11] = {32767, 32604, 32118, 31323, 30242, 28908, 27357, 25631, 23773, 21830, 19846};
  auto r = correlationOf(reflectionOf(den));
  for (int k = 1; k <= 10; ++k) r[k] *= window[k] / kQ15();
  return levinson(r);
}

// Signal-to-difference ratio in dB of `got` against `want`.
inline double snrDb(const std::vector<double>& want, const std::vector<double>& got) {
  double es = 0, en = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    es += want[i] * want[i];
    en += (want[i] - got[i]) * (want[i] - got[i]);
  }
  return 10 * std::log10(es / std::max(en, 1e-9));
}

// The spectral postfilter as a double-precision filter chain run over consecutive subframes.
struct SpectralPostFilterModel {
  std::vector<double> x, y1, y2;  // whole-run histories: input, numerator output, synthesis output
  double gain = 0;                // the smoothed gain, in units of 1/8192 (Q13)

  static double past(const std::vector<double>& v, std::ptrdiff_t i) { return i < 0 ? 0.0 : v[i]; }

  // One subframe; the coefficients are those of A(z) = 1 + sum a[k] z^-(k+1) as real numbers.
  void run(const double* in, const Poly& num, const Poly& den, double* out) {
    const std::ptrdiff_t t0 = static_cast<std::ptrdiff_t>(x.size());
    double ein = 0, eemph = 0, emph[40];
    for (int n = 0; n < 40; ++n) {
      const std::ptrdiff_t t = t0 + n;
      x.push_back(in[n]);
      double a = x[t];
      for (int k = 0; k < 10; ++k) a += num[k] * past(x, t - 1 - k);
      y1.push_back(a);
      double b = y1[t];
      for (int k = 0; k < 10; ++k) b -= den[k] * past(y2, t - 1 - k);
      y2.push_back(b);
      emph[n] = y2[t] - 0.2 * past(y2, t - 1);
      ein += in[n] * in[n];
      eemph += emph[n] * emph[n];
    }
    // Twice the input's level: a gain of sqrt(Ein / Eout) in Q14 applied in Q13.
    const double target = eemph > 0 ? 16384.0 * std::sqrt(ein / eemph) : 0.0;
    for (int n = 0; n < 40; ++n) {
      gain += 820.0 / 65536.0 * (target - gain);
      out[n] = emph[n] * gain / 8192.0;
    }
  }
  // The same on the decoder's words: samples, and coefficients at scale 2048.
  void run(const Word16* in, const Word16* num, const Word16* den, double* out) {
    double x16[40];
    for (int n = 0; n < 40; ++n) x16[n] = in[n];
    run(x16, scaled(num, 2048.0), scaled(den, 2048.0), out);
  }
};

// The parameters of frame 100 of the recording: a voiced stretch whose LPC codewords and frame
// energy the frame tests keep for every frame.
inline std::array<Word16, 20> referenceFrame() {
  auto speech = hrtest::load_speech();
  auto enc = std::make_unique<hr::GSMHR_ENCSTRUCT>();
  hr::gsmhr_reset_enc(enc.get(), 0);
  std::array<Word16, 20> ref{};
  for (int f = 0; f <= 100; ++f) hr::hr_speechEncoder(speech.data() + 160 * f, ref.data(), enc.get());
  return ref;
}

// What follows the excitation in the decoder frame, in double precision: the synthesis filter
// the frame used and the postfilter designed from it (denominator A(z / 0.75), numerator the
// lag-windowed fit).
struct SynthesisAndPostFilter {
  SpectralPostFilterModel post;
  std::vector<double> synth;  // the synthesis output, for the filter's memory
  void subframe(const double* in, const Word16* synthAs, double* out) {
    const Poly a = scaled(synthAs, 2048.0);
    Poly den;
    for (int j = 0; j < 10; ++j) den[j] = a[j] * std::pow(0.75, j + 1);
    double s[40];
    for (int n = 0; n < 40; ++n) {
      double v = in[n];
      for (int j = 0; j < 10; ++j) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(synth.size()) - 1 - j;
        v -= a[j] * (at >= 0 ? synth[at] : 0.0);
      }
      synth.push_back(v);
      s[n] = v;
    }
    post.run(s, postFilterNumerator(den), den, out);
  }
};

}  // namespace hrmodel
