// Oscillators: the sine polynomial's stated points and accuracy, continuous phase across calls,
// the frequency of the generated tone, saturation; modulation; the detector step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "tone.h"
#include "tone_kernels.h"

TEST(Tone, SinePolynomialPointsAndAccuracy) {
    EXPECT_EQ(hsfSin(0), 0);
    EXPECT_EQ(hsfSin(4096), 12536);
    EXPECT_EQ(hsfSin(8192), 23168);
    EXPECT_EQ(hsfSin(12288), 30264);
    EXPECT_EQ(hsfSin(16384), 32760);
    EXPECT_EQ(hsfSin(32768 + 8192), -23168);
    EXPECT_EQ(hsfCos(0), 32760);
    for (int p = 0; p < 65536; p += 7) {
        EXPECT_NEAR(hsfSin(static_cast<std::uint16_t>(p)), 32760 * std::sin(2 * M_PI * p / 65536), 24) << p;
    }
}

TEST(Tone, GeneratedToneKeepsPhaseAcrossBlocksAndSaturates) {
    HSZTONE t;
    hsfToneReset(&t, 1000, 16384);
    EXPECT_EQ(t.phaseInc, 8192);
    hsfToneChangeFreq(&t, 425);
    EXPECT_EQ(t.phaseInc, 3482);
    // Blocks of 40 generated one after the other equal one long generation.
    HSZTONE a, b;
    hsfToneReset(&a, 1633, 20000);
    hsfToneReset(&b, 1633, 20000);
    std::vector<std::int16_t> x(400, 0), y(400, 0);
    for (int i = 0; i < 10; ++i) hsfToneGen(x.data() + 40 * i, &a, 40);
    hsfToneGen(y.data(), &b, 400);
    EXPECT_EQ(x, y);
    // Frequency from the phase of a correlation with the exact complex exponential.
    double re = 0, im = 0;
    for (int n = 0; n < 400; ++n) {
        re += x[n] * std::cos(2 * M_PI * 1633 * n / 8000.0);
        im += x[n] * std::sin(2 * M_PI * 1633 * n / 8000.0);
    }
    EXPECT_NEAR(std::hypot(re, im) / 200, 20000, 200);  // amplitude
    std::vector<std::int16_t> full(40, 32000);
    HSZTONE c;
    hsfToneReset(&c, 1000, 32767);
    hsfToneGen(full.data(), &c, 40);
    EXPECT_EQ(full[2], 32767);    // sin 90 degrees: saturates, no wrap
    EXPECT_LT(full[6], 32000);    // sin 270 degrees
}

TEST(Tone, AmplitudeModulation) {
    std::int16_t carrier[4] = {1000, -1000, 32767, -32768}, mod0[4] = {0, 0, 0, 0}, out[4];
    toneAmplitudeMod(4, out, carrier, mod0);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(out[1], -1000);
    EXPECT_EQ(out[2], 32767);
    EXPECT_EQ(out[3], -32768);
    std::int16_t mod[4] = {4096, 4096, 8192, 8192};  // 1/8 and 1/4 of full scale: gains 1.5 and 2
    toneAmplitudeMod(4, out, carrier, mod);
    EXPECT_EQ(out[0], 1500);
    EXPECT_EQ(out[1], -1500);
    EXPECT_EQ(out[2], 32767);
    EXPECT_EQ(out[3], -32768);
}

TEST(Tone, DetectorStepSmoothsFilterAndInputMagnitudes) {
    // A 16-tap matched filter for 1000 Hz in phase with the input.
    std::int16_t h[16], x[16];
    for (int k = 0; k < 16; ++k) {
        h[k] = static_cast<std::int16_t>(2000 * std::cos(2 * M_PI * k / 8));
        x[k] = static_cast<std::int16_t>(8000 * std::cos(2 * M_PI * k / 8));
    }
    HSZTONEDET d;
    hsfresetdettone(&d, h, 16, 29491);
    EXPECT_EQ(d.hsxalpha, 3276);
    std::uint16_t y = 0;
    for (int i = 0; i < 200; ++i) y = hsfdettone(x, &d);
    EXPECT_NEAR(y, 8000 * 2000 * 8 / 32768, 60);  // sum of 16 cos^2 = 8
    EXPECT_NEAR(d.hsxyFb, 8000, 60);
    // Silence decays both magnitudes; the step that knows its block is silent takes the same
    // values without reading it.
    std::int16_t s[16] = {};
    HSZTONEDET silent = d;
    for (int i = 0; i < 200; ++i) {
        y = hsfdettone(s, &d);
        ASSERT_EQ(hsfdettoneSilent(&silent), y) << "step " << i;
        ASSERT_EQ(silent.hsxyFb, d.hsxyFb) << "step " << i;
    }
    EXPECT_LT(y, 10);

    // The filter sum wraps in 32 bits, whatever the length: 77 taps (as the fax tone detectors
    // have) of full-scale pairs whose products overflow the sum, and a few taps alone.
    for (const int taps : {77, 5, 1}) {
        std::int16_t big[77], in[77];
        std::int64_t exact = 0;
        for (int k = 0; k < taps; ++k) {
            big[k] = k % 5 == 4 ? 32767 : -32768;
            in[k] = k % 7 == 6 ? 12345 : -32768;
            exact += std::int64_t{big[k]} * in[k];
        }
        HSZTONEDET w;
        hsfresetdettone(&w, big, static_cast<std::int16_t>(taps), 0);  // alpha 32767: y follows |sum|
        const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(exact));
        const std::int32_t sum = static_cast<std::int16_t>(wrapped >> 15);
        const std::int32_t mag = sum < 0 ? -sum : sum;
        EXPECT_EQ(hsfdettone(in, &w), static_cast<std::uint16_t>((mag * 32767) >> 15)) << taps << " taps";
    }
}

namespace {

// Every form of the oscillator loop that this processor can run, with its name.
std::vector<std::pair<const char*, ToneGenKernel>> toneGenForms() {
    std::vector<std::pair<const char*, ToneGenKernel>> f;
#if defined(ORVOX_X86_SIMD)
    f.emplace_back("sse2", toneGenSse2);
    if (__builtin_cpu_supports("avx2")) f.emplace_back("avx2", toneGenAvx2);
#endif
    return f;
}

std::vector<std::pair<const char*, TonePhasesKernel>> tonePhasesForms() {
    std::vector<std::pair<const char*, TonePhasesKernel>> f;
#if defined(ORVOX_X86_SIMD)
    f.emplace_back("sse2", tonePhasesSse2);
    if (__builtin_cpu_supports("avx2")) f.emplace_back("avx2", tonePhasesAvx2);
#endif
    return f;
}

}  // namespace

TEST(Tone, VectorOscillatorsEqualThePortableLoopToFullScale) {
    if (toneGenForms().empty() && tonePhasesForms().empty()) GTEST_SKIP() << "this build has only the portable loop";
    std::mt19937 rng(20261207);
    auto u16 = [&] { return static_cast<std::uint16_t>(rng()); };
    // Amplitudes above 32767 wrap the product's bits 15..30 exactly as the scalar loop does.
    const std::uint16_t edges[] = {0, 1, 32767, 32768, 65535};
    int cases = 0, differ = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int count = trial % 53;
        const std::uint16_t phase = u16(), inc = u16();
        const std::uint16_t amp = trial % 7 == 0 ? edges[(trial / 7) % 5] : u16();
        std::vector<std::int16_t> start(count);
        std::vector<std::uint16_t> phases(count);
        for (int i = 0; i < count; ++i) {
            const int kind = static_cast<int>(rng() % 4);
            start[i] = static_cast<std::int16_t>(kind == 0 ? -32768 : kind == 1 ? 32767 : static_cast<std::int16_t>(rng()));
            phases[i] = u16();
        }
        std::vector<std::int16_t> want = start;
        toneGenPortable(want.data(), phase, inc, amp, count);
        std::vector<std::int16_t> wantPh = start;
        tonePhasesPortable(wantPh.data(), phases.data(), amp, count);
        for (const auto& [name, k] : toneGenForms()) {
            std::vector<std::int16_t> got = start;
            k(got.data(), phase, inc, amp, count);
            ++cases;
            if (got != want) ++differ;
            EXPECT_EQ(got, want) << name << " phase " << phase << " inc " << inc << " amp " << amp;
        }
        for (const auto& [name, k] : tonePhasesForms()) {
            std::vector<std::int16_t> got = start;
            k(got.data(), phases.data(), amp, count);
            ++cases;
            if (got != wantPh) ++differ;
            EXPECT_EQ(got, wantPh) << name << " (phases) amp " << amp;
        }
        if (differ > 5) break;
    }
    std::printf("%d vector cases against the portable loop\n", cases);
    EXPECT_GT(cases, 0);
    // The generator as called equals the reference loop.
    HSZTONE t;
    hsfToneReset(&t, 1633, 54321);
    std::vector<std::int16_t> a(333, 1000), b(333, 1000);
    hsfToneGen(a.data(), &t, 333);
    toneGenPortable(b.data(), 0, t.phaseInc, 54321, 333);
    EXPECT_EQ(a, b);
    EXPECT_EQ(t.phase, static_cast<std::uint16_t>(333 * t.phaseInc));
}
