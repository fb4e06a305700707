// Same bits: the payloads the encoder writes and the samples the decoder
// gives back (with lost packets concealed) are hashed over a fixed set of
// signals, rates and frame lengths, wideband and super-wideband, and compared
// with the digests committed here. Work that only makes the codec faster must
// leave every one of them unchanged; a change of behaviour updates them in the
// same commit, with the reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "digest_util.h"
#include "isac_codec.h"
#include "isac_codec_fixture.h"
#include "isac_test_util.h"

using namespace isac;
using isac_test::Codec;

namespace {

using Fnv = digest::Fnv1a;

struct Case {
    const char* name;
    int16_t swb;
    int16_t coding_mode;
    int rate;
    int16_t frame_ms;
    uint64_t encoded;  // digest of the payloads (length, then bytes)
    uint64_t decoded;  // digest of the decoder's samples, every fifth packet lost
};

// Speech, then a rising tone, then noise, then silence: each stretch takes
// the coder down other paths (pitch, tonal envelopes, the upper band,
// start-up after quiet). Random values are the generator's raw output,
// which the language fixes.
std::vector<int16_t> signal_16k() {
    auto s = isac_test::speech_16k(16000 * 2);
    std::mt19937 rng(2024);
    double phase = 0;
    for (int i = 0; i < 16000; ++i) {
        phase += 2 * M_PI * (300.0 + 0.4 * i) / 16000.0;
        s.push_back(static_cast<int16_t>(std::lround(9000 * std::sin(phase))));
    }
    for (int i = 0; i < 8000; ++i) s.push_back(static_cast<int16_t>(static_cast<int32_t>(rng() >> 16) - 32768));
    s.insert(s.end(), 4800, 0);
    return s;
}

// At 32 kHz: the 16 kHz signal with every sample repeated and a tone swept
// over 7-15 kHz added, so that both bands carry something.
std::vector<int16_t> signal_32k() {
    const auto s16 = signal_16k();
    std::vector<int16_t> s;
    double phase = 0;
    for (std::size_t i = 0; i < 2 * s16.size(); ++i) {
        phase += 2 * M_PI * (7000.0 + 8000.0 * double(i) / (2 * s16.size())) / 32000.0;
        const long v = std::lround(s16[i / 2] / 2 + 4000 * std::sin(phase));
        s.push_back(static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v));
    }
    return s;
}

void run(const Case& c, uint64_t* encoded, uint64_t* decoded) {
    const auto in = c.swb ? signal_32k() : signal_16k();
    const std::size_t block = c.swb ? 320 : 160;
    Codec enc(c.swb, c.coding_mode), dec(c.swb);
    Fnv e, d;
    uint8_t buf[600];
    int packets = 0;
    for (std::size_t off = 0; off + block <= in.size(); off += block) {
        if (c.coding_mode == 1) {
            ASSERT_EQ(WebRtcIsacfix_Control(enc.inst, c.rate, c.frame_ms), 0);
        } else if (off == 0) {
            ASSERT_EQ(WebRtcIsacfix_ControlBwe(enc.inst, c.rate, c.frame_ms, 0), 0);
        }
        const int16_t n = WebRtcIsacfix_Encode(enc.inst, &in[off], buf, c.swb);
        ASSERT_GE(n, 0) << c.name << ": error " << WebRtcIsacfix_GetErrorCode(enc.inst);
        if (n == 0) continue;
        e.sample(n);
        for (int i = 0; i < n; ++i) e.byte(buf[i]);
        int16_t pcm[1920], type = 0;
        int16_t m;
        if (++packets % 5 == 0) {
            int16_t frame = 0;
            ASSERT_EQ(WebRtcIsacfix_ReadFrameLen(buf, static_cast<std::size_t>(n), &frame), 0);
            m = WebRtcIsacfix_DecodePlc(dec.inst, pcm, static_cast<int16_t>(frame / 480), c.swb);
        } else {
            m = WebRtcIsacfix_Decode(dec.inst, buf, static_cast<std::size_t>(n), pcm, &type);
        }
        ASSERT_GT(m, 0) << c.name << ": error " << WebRtcIsacfix_GetErrorCode(dec.inst);
        for (int i = 0; i < m; ++i) d.sample(pcm[i]);
    }
    EXPECT_GT(packets, 20) << c.name;
    *encoded = e.h;
    *decoded = d.h;
}

}  // namespace

TEST(IsacDigest, OutputsMatchTheCommittedReference) {
    const Case cases[] = {
        {"wideband 10 kbit/s 60 ms", 0, 1, 10000, 60,
         0x1092540850914e40ull, 0x30d7aa796cb9645eull},
        {"wideband 20 kbit/s 30 ms", 0, 1, 20000, 30,
         0xde1b050fa0099c60ull, 0xb18c001d5a6ea61eull},
        {"wideband 32 kbit/s 30 ms", 0, 1, 32000, 30,
         0xe24197249eefb515ull, 0x2f5394e1f9708ee7ull},
        {"wideband 32 kbit/s 60 ms", 0, 1, 32000, 60,
         0x6ed66a4a70a05a7eull, 0x13c47edd64703d44ull},
        {"wideband adaptive 24 kbit/s", 0, 0, 24000, 60,
         0x1d54d2ab19b6e67full, 0x09c3ff007bdfd9cdull},
        {"super-wideband 30 kbit/s 60 ms", 1, 1, 30000, 60,
         0xdd34b2cb268eaa37ull, 0x8cc5a186599147e3ull},
        {"super-wideband 45 kbit/s (12 kHz)", 1, 1, 45000, 30,
         0x1aad725b7338267full, 0x01437fd992e68018ull},
        {"super-wideband 56 kbit/s (16 kHz)", 1, 1, 56000, 30,
         0x0d5488baa23ce6a6ull, 0xfb4936e3e314f150ull},
    };
    for (const Case& c : cases) {
        uint64_t encoded = 0, decoded = 0;
        run(c, &encoded, &decoded);
        std::printf("{\"%s\", ..., 0x%016llxull, 0x%016llxull},\n", c.name, static_cast<unsigned long long>(encoded),
                    static_cast<unsigned long long>(decoded));
        EXPECT_EQ(encoded, c.encoded) << c.name;
        EXPECT_EQ(decoded, c.decoded) << c.name;
    }
}
