// Helpers shared by the G.729 tests: speech fixture, byte packing, segmental SNR.
#pragma once

#include "orvox_fixture.h"
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace g729test {

inline std::vector<std::int16_t> loadSpeech(std::size_t maxSamples = 0) {
    std::string path = std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw";
    std::ifstream f(orvox_fixture::requireFile(path), std::ios::binary);
    std::vector<std::int16_t> s;
    unsigned char b[2];
    while (f.read(reinterpret_cast<char*>(b), 2)) s.push_back(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
    if (maxSamples && s.size() > maxSamples) s.resize(maxSamples);
    s.resize(s.size() / 80 * 80);
    return s;
}

// Packed 16-bit words to the byte stream of the wire (first bit = MSB of the first byte).
inline std::vector<std::uint8_t> wordsToBytes(const std::uint16_t* w, int bits) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < bits / 8; ++i) out.push_back(static_cast<std::uint8_t>(i & 1 ? w[i / 2] & 0xFF : w[i / 2] >> 8));
    return out;
}
inline void bytesToWords(const std::uint8_t* b, int n, std::uint16_t* w) {
    for (int i = 0; i < (n + 1) / 2 + 1; ++i) w[i] = 0;
    for (int i = 0; i < n; ++i) w[i / 2] = static_cast<std::uint16_t>(w[i / 2] | (i & 1 ? b[i] : b[i] << 8));
}

// Segmental SNR in dB of `test` against `ref` over 80-sample segments, skipping near-silent ones.
// `delay` is the number of samples by which `test` lags `ref`.
inline double segSnr(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& test, std::size_t delay = 0) {
    double sum = 0;
    int n = 0;
    for (std::size_t s = 0; s + 80 <= ref.size() && s + delay + 80 <= test.size(); s += 80) {
        double e = 0, d = 0;
        for (int i = 0; i < 80; ++i) {
            double r = ref[s + i], t = test[s + delay + i];
            e += r * r;
            d += (r - t) * (r - t);
        }
        if (e < 80.0 * 100 * 100) continue;
        double snr = d == 0 ? 60.0 : 10 * std::log10(e / d);
        if (snr > 60) snr = 60;
        if (snr < -10) snr = -10;
        sum += snr;
        ++n;
    }
    return n ? sum / n : 0;
}

}  // namespace g729test
