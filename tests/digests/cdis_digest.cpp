// Prints a hash of every output of the call-discrimination filters over fixed signals: the four
// notch filters (2100, 1100, 2225 and 2300 Hz) in the 16-output blocks the detector runs and in
// longer runs, their overflow flags, the powers of stretches with theirs, the complex
// phase-reversal band-pass and the input normalisation. Speech, tones at each notch and beside
// it, noise at several levels and full-scale noise with runs of the extremes that drive the
// filters out of 16 bits. A speed change that keeps the bits keeps every line.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cdis_filters.h"
#include "digest_util.h"

namespace {

using Signal = std::vector<std::int16_t>;

// A tone of `freq` Hz at `amp` from an integer phase accumulator and a quarter-wave table, so the
// samples are the same on every machine.
Signal tone(std::size_t n, int freq, int amp) {
  std::array<int, 257> quarter{};
  for (int i = 0; i <= 256; ++i) quarter[static_cast<std::size_t>(i)] = static_cast<int>(std::lround(32767.0 * std::sin(i * 3.14159265358979 / 512)));
  Signal s(n);
  std::uint32_t phase = 0;
  const std::uint32_t step = static_cast<std::uint32_t>((static_cast<std::uint64_t>(freq) << 32) / 8000);
  for (auto& v : s) {
    const std::uint32_t p = phase >> 22;  // 1024 steps a turn
    const int q = static_cast<int>(p & 255), quadrant = static_cast<int>(p >> 8);
    int w = (quadrant & 1) ? quarter[static_cast<std::size_t>(256 - q)] : quarter[static_cast<std::size_t>(q)];
    if (quadrant >= 2) w = -w;
    v = static_cast<std::int16_t>(w * amp / 32767);
    phase += step;
  }
  return s;
}

// Full-scale noise with runs of -32768 and 32767.
Signal extremes(std::size_t n, std::uint32_t seed) {
  digest::Lcg rng;
  rng.s = seed;
  Signal s(n);
  for (auto& v : s) {
    const std::uint32_t r = rng.next();
    v = (r & 0x3F00) == 0 ? ((r & 1) ? std::int16_t{32767} : std::int16_t{-32768}) : rng.sample();
  }
  for (std::size_t i = 0; i + 70 < n; i += 997) {
    for (std::size_t k = 0; k < 70; ++k) s[i + k] = ((i / 997) % 3 == 0) ? std::int16_t{-32768} : (k % 2 ? std::int16_t{32767} : std::int16_t{-32768});
  }
  return s;
}

Signal scaled(const Signal& x, int shift) {
  Signal o(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) o[i] = static_cast<std::int16_t>(x[i] >> shift);
  return o;
}

struct Filter {
  const char* name;
  const std::int16_t* half;
  int halfLen;
};

void run(const char* name, const Signal& x) {
  const Filter filters[] = {{"ced", cdtcoeffs.data(), static_cast<int>(cdtcoeffs.size())},
                            {"cng", cngtcoeffs.data(), static_cast<int>(cngtcoeffs.size())},
                            {"bell103", bell103coef.data(), static_cast<int>(bell103coef.size())},
                            {"custom", customToneCoef.data(), static_cast<int>(customToneCoef.size())}};
  constexpr int kMargin = 40;  // more than the longest half
  for (const Filter& f : filters) {
    digest::Fnv1a out;
    int overflows = 0;
    // The detector's blocks of 16 outputs, then runs of 1 to 80 outputs at shifting offsets.
    std::size_t at = kMargin;
    for (int run = 0; at + 80 + kMargin < x.size(); ++run) {
      const int count = run % 3 == 0 ? 16 : 1 + run % 80;
      std::int16_t y[80];
      const bool ok = cdisSymFilter(x.data() + at, y, count, f.half, f.halfLen);
      overflows += ok ? 0 : 1;
      out.words(y, static_cast<std::size_t>(count));
      out.byte(ok ? 1 : 0);
      std::int32_t p = 0;
      const bool powOk = cdisPowCalc(y, count - 1, &p);
      out.words(&p, 1);
      out.byte(powOk ? 1 : 0);
      at += static_cast<std::size_t>(count) + static_cast<std::size_t>(run % 7);
    }
    std::printf("cdis %-12s %-8s out %016llx overflows %d\n", name, f.name, static_cast<unsigned long long>(out.h), overflows);
  }
  digest::Fnv1a pow, rev, norm;
  for (std::size_t at = 0; at + 32 <= x.size(); at += 16) {
    std::int32_t p = 0;
    const bool ok = cdisPowCalc(x.data() + at, 31, &p);
    pow.words(&p, 1);
    pow.byte(ok ? 1 : 0);
  }
  for (std::size_t at = 33; at < x.size(); ++at) {
    std::int16_t re = 0, im = 0;
    cdisPhRevFilter(x.data() + at, &re, &im);
    rev.sample(re);
    rev.sample(im);
    cdisNormInput(&re, &im);
    norm.sample(re);
    norm.sample(im);
  }
  std::printf("cdis %-12s power %016llx phrev %016llx norm %016llx\n", name, static_cast<unsigned long long>(pow.h),
              static_cast<unsigned long long>(rev.h), static_cast<unsigned long long>(norm.h));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  const Signal speech = digest::load_fixture(root + "/tests/data/speech/speech_8k.raw", 8000 * 13);
  run("speech", speech);
  run("speech-6dB", scaled(speech, 1));
  for (int f : {1100, 1300, 2100, 2225, 2300, 1650, 3400}) {
    const std::string name = "tone" + std::to_string(f);
    run(name.c_str(), tone(16000, f, 23000));
  }
  run("tone2100-max", tone(8000, 2100, 32767));
  run("tone400-max", tone(8000, 400, 32767));
  const Signal loud = extremes(40000, 99);
  run("extremes", loud);
  run("noise-12dB", scaled(loud, 2));
  run("noise-48dB", scaled(loud, 8));
  return 0;
}
