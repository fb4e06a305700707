// Helpers shared by the AMR-NB kernel tests: random vectors that include
// saturating values, and buffers allocated at their exact size so that the
// address sanitizer sees any access outside them; and the speech fixture.
#pragma once

#include "orvox_fixture.h"
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "amrefr_types.h"

namespace amrefr_test {

class Rng {
public:
    explicit Rng(std::uint32_t seed) : gen_(seed) {}
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
    Word16 w16() { return static_cast<Word16>(uniform(-32768, 32767)); }
    // Mostly moderate values, sometimes the extremes.
    Word16 sample(int range = 8000) {
        int r = uniform(0, 19);
        if (r == 0) return 32767;
        if (r == 1) return -32768;
        return static_cast<Word16>(uniform(-range, range));
    }
    Word32 w32() { return static_cast<Word32>(static_cast<std::uint32_t>(gen_())); }
    void fill(Word16* x, int n, int range) {
        for (int i = 0; i < n; ++i) x[i] = static_cast<Word16>(uniform(-range, range));
    }
    void fill_sat(Word16* x, int n, int range) {
        for (int i = 0; i < n; ++i) x[i] = sample(range);
    }

private:
    std::mt19937 gen_;
};

// An exact-size heap array.
template <typename T>
struct Buf {
    explicit Buf(std::size_t n) : p(new T[n]()), size(n) {}
    T* get() { return p.get(); }
    T& operator[](std::size_t i) { return p[i]; }
    std::unique_ptr<T[]> p;
    std::size_t size;
};

// Up to `frames` whole 20 ms frames of an 8 kHz s16 fixture (path from the source root); empty
// if it is missing.
inline std::vector<Word16> load_frames(const char* rel, int frames) {
    std::string path = orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + rel);
    std::vector<Word16> s(160 * frames);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    size_t n = std::fread(s.data(), sizeof(Word16), s.size(), f);
    std::fclose(f);
    s.resize(n / 160 * 160);
    return s;
}

// Up to `frames` whole 20 ms frames of the 8 kHz speech fixture.
inline std::vector<Word16> load_speech(int frames) {
    return load_frames("/tests/data/speech/speech_8k.raw", frames);
}

}  // namespace amrefr_test
