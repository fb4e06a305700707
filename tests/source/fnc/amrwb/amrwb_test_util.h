// Shared helpers of the AMR-WB kernel tests: deterministic random vectors
// (with a share of full-scale values so that saturation is exercised) and
// exact-size heap arrays for the AddressSanitizer runs.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "amrwb_basic_op.h"

namespace amrwb_test {

class Rng {
public:
    explicit Rng(std::uint32_t seed) : g_(seed) {}
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g_); }
    // A 16-bit value; one in `edge` is -32768 or 32767.
    Word16 word(int amplitude = 32767, int edge = 16) {
        if (edge > 0 && uniform(0, edge - 1) == 0) return uniform(0, 1) ? 32767 : -32768;
        return static_cast<Word16>(uniform(-amplitude, amplitude));
    }
    Word32 word32() { return static_cast<Word32>(g_()); }
    void fill(Word16* x, int n, int amplitude = 32767, int edge = 16) {
        for (int i = 0; i < n; ++i) x[i] = word(amplitude, edge);
    }
    std::vector<Word16> vec(int n, int amplitude = 32767, int edge = 16) {
        std::vector<Word16> v(n);
        fill(v.data(), n, amplitude, edge);
        return v;
    }

private:
    std::mt19937 g_;
};

// An array of exactly n elements on the heap, so that AddressSanitizer
// reports a single access before or after it.
template <typename T>
struct Exact {
    explicit Exact(int n) : p(new T[n]()), size(n) {}
    T* get() { return p.get(); }
    T& operator[](int i) { return p[i]; }
    std::unique_ptr<T[]> p;
    int size;
};

// One L_mac chain from s0 over x[i]·y[i] (the sequential form of a sum).
inline Word32 mac_chain(Word32 s0, const Word16* x, const Word16* y, int n) {
    for (int i = 0; i < n; ++i) s0 = amr_wb_op::L_mac(s0, x[i], y[i]);
    return s0;
}

// The four-lane form written out: lane k takes indices ≡ k (mod 4).
inline Word32 lane_sum(const Word16* x, const Word16* y, int n) {
    using namespace amr_wb_op;
    Word32 p[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) p[i % 4] = L_mac(p[i % 4], x[i], y[i]);
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

}  // namespace amrwb_test
