// Range coder: round trips through both models, byte counts, carries, the
// full stream and corrupt input.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <cstring>
#include <random>
#include <vector>

#include "isac_lattice.h"
#include "isac_range_coder.h"
#include "isac_tables.h"

using namespace isac;

namespace {

// A random CDF of n symbols (n + 1 entries, 0 .. 65535, every cell at least 2).
std::vector<uint16_t> random_cdf(std::mt19937& rng, int n) {
    std::vector<uint32_t> w(n);
    for (auto& x : w) x = 1 + rng() % 1000;
    const uint32_t total = std::accumulate(w.begin(), w.end(), 0u);
    std::vector<uint16_t> cdf(n + 1);
    uint32_t acc = 0;
    cdf[0] = 0;
    for (int i = 0; i < n; ++i) {
        acc += w[i];
        cdf[i + 1] = static_cast<uint16_t>(std::min<uint64_t>(65535, uint64_t{acc} * (65535 - 2 * n) / total + 2 * (i + 1)));
    }
    cdf[n] = 65535;
    return cdf;
}

}  // namespace

TEST(IsacRangeCoder, HistogramRoundTrips) {
    std::mt19937 rng(51);
    for (int trial = 0; trial < 200; ++trial) {
        const int len = 1 + rng() % 120;
        std::vector<std::vector<uint16_t>> tables(len);
        std::vector<const uint16_t*> ptr(len);
        std::vector<uint16_t> size(len), init(len);
        std::vector<int16_t> sym(len);
        for (int k = 0; k < len; ++k) {
            // Bisection sizes are powers of two, one more than the table's
            // entries, as the codec's tables are laid out.
            const int n = 1 << (2 + rng() % 6);
            tables[k] = random_cdf(rng, n - 2);
            ptr[k] = tables[k].data();
            size[k] = static_cast<uint16_t>(n);
            init[k] = static_cast<uint16_t>(rng() % (n - 2));
            sym[k] = static_cast<int16_t>(rng() % (n - 2));
        }
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&enc, sym.data(), ptr.data(), static_cast<int16_t>(len)), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);
        for (int bisect = 0; bisect < 2; ++bisect) {
            Bitstr_dec dec;
            WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
            std::vector<int16_t> out(len, -1);
            const int used = bisect
                ? WebRtcIsacfix_DecHistBisectMulti(out.data(), &dec, ptr.data(), size.data(), static_cast<int16_t>(len))
                : WebRtcIsacfix_DecHistOneStepMulti(out.data(), &dec, ptr.data(), init.data(), static_cast<int16_t>(len));
            ASSERT_EQ(out, sym) << trial;
            EXPECT_EQ(used, bytes) << trial;
        }
    }
}

TEST(IsacRangeCoder, LogisticRoundTripsAndSplitCalls) {
    std::mt19937 rng(52);
    for (int trial = 0; trial < 100; ++trial) {
        const bool swb12 = trial % 3 == 0;
        const int len = 240;
        const int n_env = swb12 ? len / 2 : len / 4;
        std::vector<int32_t> env_sq(n_env);
        std::vector<uint16_t> env(n_env);
        for (int i = 0; i < n_env; ++i) {
            env[i] = static_cast<uint16_t>(20 + rng() % 3000);
            env_sq[i] = env[i] * env[i];
        }
        // The decoder takes the root of the squared envelope; both sides must
        // use the same envelope, as the spectrum coder arranges.
        std::vector<uint16_t> roots(120);
        {
            std::vector<int32_t> sq(120, 0);
            std::copy(env_sq.begin(), env_sq.end(), sq.begin());
            WebRtcIsacfix_VecSqrt(sq.data(), roots.data());
        }
        std::vector<int16_t> data(len), dither(len);
        std::normal_distribution<double> g(0, 3000);
        for (int k = 0; k < len; ++k) {
            dither[k] = static_cast<int16_t>(rng() % 128 - 64);
            data[k] = static_cast<int16_t>(std::clamp(std::lround(g(rng) / 128) * 128 - dither[k], -32000l, 32000l));
        }
        if (trial == 1) data[5] = static_cast<int16_t>(128 * 234 - dither[5]);  // far outside: moved toward zero
        std::vector<int16_t> coded(data);
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        // A histogram field before the spectrum, as in a payload.
        const uint16_t* bit[1] = {kOneBitEqualProbCdf};
        const int16_t one[1] = {1};
        ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&enc, one, bit, 1), 0);
        ASSERT_EQ(WebRtcIsacfix_EncLogisticMulti2(&enc, coded.data(), roots.data(), static_cast<int16_t>(len),
                                                  swb12 ? 1 : 0), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);
        if (trial == 1) {
            EXPECT_LT(coded[5], data[5]);
            EXPECT_EQ((coded[5] - data[5]) % 128, 0);
        }
        Bitstr_dec dec;
        WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
        int16_t b;
        const uint16_t init[1] = {1};
        ASSERT_GE(WebRtcIsacfix_DecHistOneStepMulti(&b, &dec, bit, init, 1), 0);
        EXPECT_EQ(b, 1);
        std::vector<int16_t> out(dither);
        const int used = WebRtcIsacfix_DecLogisticMulti2(out.data(), &dec, env_sq.data(), static_cast<int16_t>(len),
                                                         swb12 ? 1 : 0);
        ASSERT_EQ(out, coded) << trial;
        EXPECT_EQ(used, bytes);
    }
}

TEST(IsacRangeCoder, FirstByteTerminationAndCarries) {
    for (int16_t bit : {int16_t{0}, int16_t{1}}) {
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
        ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&enc, &bit, cdf, 1), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);
        EXPECT_EQ(bytes, 1);  // the interval is still wide: one byte
        const int first = enc.stream[0] >> 8;
        if (bit == 0) EXPECT_LT(first, 0x80);
        else EXPECT_GE(first, 0x80);
    }
    // Narrow intervals leave two bytes at termination.
    {
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        enc.W_upper = 0x01000000;
        EXPECT_EQ(WebRtcIsacfix_EncTerminate(&enc), 2);
    }
    // A carry ripples back through words of 0xFFFF.
    Bitstr_enc enc;
    WebRtcIsacfix_InitBitstreamEnc(&enc);
    enc.stream[0] = 0x12FF;
    enc.stream[1] = 0xFFFF;
    enc.stream[2] = 0xFFFF;
    enc.stream_index = 3;
    enc.full = 1;
    enc.streamval = 0xFFFFFFF0u;
    enc.W_upper = 0x0FFFFFFFu;
    const uint16_t cdf[3] = {0, 32768, 65535};
    const uint16_t* ptr[1] = {cdf};
    const int16_t s = 1;
    ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&enc, &s, ptr, 1), 0);
    EXPECT_EQ(enc.stream[0], 0x1300);
    EXPECT_EQ(enc.stream[1], 0x0000);
    EXPECT_EQ(enc.stream[2], 0x0000);
    // With the high byte of the current word written, the carry enters it first.
    Bitstr_enc half;
    WebRtcIsacfix_InitBitstreamEnc(&half);
    half.stream[0] = 0x01FF;
    half.stream[1] = 0xFF00;
    half.stream_index = 1;
    half.full = 0;
    half.streamval = 0xFFFFFFF0u;
    half.W_upper = 0x0FFFFFFFu;
    ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&half, &s, ptr, 1), 0);
    EXPECT_EQ(half.stream[0], 0x0200);
    EXPECT_EQ(half.stream[1] & 0xFF00, 0x0000);
}

TEST(IsacRangeCoder, FullStreamStopsAtWord200) {
    Bitstr_enc enc;
    WebRtcIsacfix_InitBitstreamEnc(&enc);
    // 8 equiprobable bits per byte: 400 bytes fill the 200 words.
    const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
    std::mt19937 rng(53);
    int result = 0, symbols = 0;
    while (result == 0 && symbols < 10000) {
        const int16_t b = static_cast<int16_t>(rng() & 1);
        result = WebRtcIsacfix_EncHistMulti(&enc, &b, cdf, 1);
        ++symbols;
    }
    EXPECT_EQ(result, -6440);
    EXPECT_EQ(enc.stream_index, 199);  // the record as it was before the failing call
    EXPECT_GE(symbols, 3190);
    EXPECT_LE(symbols, 3210);
}

TEST(IsacRangeCoder, CorruptStreamsFailCleanly) {
    std::mt19937 rng(54);
    const uint16_t* frame_len[1] = {kFrameLenCdf};
    const uint16_t init1[1] = {1};
    int16_t v;
    Bitstr_dec dead;
    uint16_t words[4] = {};
    WebRtcIsacfix_InitBitstreamDec(&dead, words, 8);
    dead.W_upper = 0;
    EXPECT_EQ(WebRtcIsacfix_DecHistOneStepMulti(&v, &dead, frame_len, init1, 1), -2);
    const uint16_t four[1] = {4};
    EXPECT_EQ(WebRtcIsacfix_DecHistBisectMulti(&v, &dead, frame_len, four, 1), -2);
    int32_t env[60] = {};
    int16_t spec[240] = {};
    EXPECT_EQ(WebRtcIsacfix_DecLogisticMulti2(spec, &dead, env, 240, 0), -2);

    // Random payloads in buffers of exactly their length: the reader stops at
    // the payload's end (the sanitizers see any read beyond it).
    int errors = 0, ok = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        const uint16_t len = static_cast<uint16_t>(1 + rng() % 400);
        std::vector<uint16_t> garbage((len + 1) / 2);
        for (auto& w : garbage) w = static_cast<uint16_t>(rng());
        Bitstr_dec d;
        WebRtcIsacfix_InitBitstreamDec(&d, garbage.data(), len);
        const uint16_t* pitch_gain[1] = {WebRtcIsacfix_kPitchGainCdf};
        const uint16_t init[1] = {10};
        int r = WebRtcIsacfix_DecHistOneStepMulti(&v, &d, pitch_gain, init, 1);
        if (r >= 0) {
            int32_t e[60];
            for (auto& x : e) x = static_cast<int32_t>(rng() % 100000);
            int16_t s[240];
            for (auto& x : s) x = static_cast<int16_t>(rng() % 128 - 64);
            r = WebRtcIsacfix_DecLogisticMulti2(s, &d, e, 240, 0);
        }
        if (r < 0) {
            EXPECT_TRUE(r == -1 || r == -2 || r == -3);
            ++errors;
        } else {
            ++ok;
        }
    }
    EXPECT_EQ(errors + ok, 2000);
    EXPECT_GT(errors, 0);
}
