// Helpers of the codec core's tests: speech fixture, seeded random vectors
// and signal-to-noise measures.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "orvox_fixture.h"

namespace isac_test {

inline std::vector<int16_t> speech_16k(std::size_t max_samples) {
    std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_16k.raw"),
                    std::ios::binary);
    std::vector<int16_t> s(max_samples);
    f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
    s.resize(static_cast<std::size_t>(f.gcount()) / 2);
    return s;
}

inline std::vector<int16_t> random16(std::mt19937& rng, std::size_t n, int amplitude) {
    std::uniform_int_distribution<int> d(-amplitude, amplitude > 32767 ? 32767 : amplitude);
    std::vector<int16_t> v(n);
    for (auto& x : v) x = static_cast<int16_t>(d(rng) < -32768 ? -32768 : d(rng));
    return v;
}

// A tone at 16 kHz, its level in dBm0 (0 dBm0 is 3.14 dB below full scale).
inline std::vector<int16_t> tone_16k(double hz, double dbm0, std::size_t n) {
    const double amplitude = 32768 * std::pow(10, (dbm0 - 3.14) / 20);
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 16000.0)));
    return s;
}

// 10 log10(signal energy / error energy).
template <typename A, typename B>
double snr_db(const A& ref, const B& out, std::size_t n, double scale = 1.0) {
    double s = 0, e = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = static_cast<double>(ref[i]) * scale;
        s += r * r;
        const double d = r - static_cast<double>(out[i]);
        e += d * d;
    }
    if (e == 0) return 200.0;
    return 10.0 * std::log10(s / e);
}

}  // namespace isac_test
