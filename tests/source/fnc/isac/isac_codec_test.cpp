// The codec through its public calls, driven as the voice engine's wrapper
// drives it: round trips on speech, payload limits, the bandwidth indices
// sent, concealment, and corrupt payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "isac_codec.h"
#include "isac_codec_fixture.h"
#include "isac_filterbank.h"
#include "isac_test_util.h"

using namespace isac;

namespace {

using isac_test::Codec;

using Payload = std::vector<uint8_t>;

std::vector<Payload> encode_all(Codec& c, const std::vector<int16_t>& speech, int frame_ms) {
    std::vector<Payload> out;
    uint8_t buf[600];
    for (std::size_t off = 0; off + 160 <= speech.size(); off += 160) {
        EXPECT_EQ(WebRtcIsacfix_Control(c.inst, 32000, static_cast<int16_t>(frame_ms)), 0);
        const int16_t n = WebRtcIsacfix_Encode(c.inst, &speech[off], buf, 0);
        EXPECT_GE(n, 0) << WebRtcIsacfix_GetErrorCode(c.inst);
        if (n > 0) out.emplace_back(buf, buf + n);
    }
    return out;
}

// Segmental SNR (20 ms segments with some energy) at the best delay.
double segmental_snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, int* delay) {
    double best = -100;
    for (int d = 0; d < 400; ++d) {
        double sum = 0;
        int segs = 0;
        for (std::size_t s = 0; s + 320 + d <= out.size() && s + 320 <= ref.size(); s += 320) {
            double e = 0, n = 0;
            for (int i = 0; i < 320; ++i) {
                const double r = ref[s + i], o = out[s + i + d];
                e += r * r;
                n += (r - o) * (r - o);
            }
            if (e < 320.0 * 300 * 300) continue;
            sum += std::clamp(10 * std::log10(e / (n + 1)), -10.0, 60.0);
            ++segs;
        }
        if (segs && sum / segs > best) {
            best = sum / segs;
            *delay = d;
        }
    }
    return best;
}

}  // namespace

// The band split and merge alone (no coding): the codec's output differs
// from it only by the coding noise, while the merge's all-pass phase keeps
// the waveform match with the input itself low.
std::vector<int16_t> split_merge(const std::vector<int16_t>& speech) {
    PreFiltBankstr pre{};
    PostFiltBankstr post{};
    std::vector<int16_t> out(speech.size());
    for (std::size_t off = 0; off + 480 <= speech.size(); off += 480) {
        int16_t pin[480], lp[264], hp[264], ch1[240], ch2[240];
        std::memcpy(pin, &speech[off], sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        for (int k = 0; k < 240; ++k) {
            ch1[k] = static_cast<int16_t>(std::clamp(lp[k] + hp[k] + 1, -32768, 32767));
            ch2[k] = static_cast<int16_t>(std::clamp(lp[k] - hp[k], -32768, 32767));
        }
        WebRtcIsacfix_FilterAndCombine1(ch1, ch2, &out[off], &post);
    }
    return out;
}

TEST(IsacCodec, SpeechRoundTripAt32kbit) {
    const auto speech = isac_test::speech_16k(16000 * 4);
    const auto reference = split_merge(speech);
    for (int frame_ms : {30, 60}) {
        Codec enc, dec;
        // The first calls gather: a 30 ms frame is ready at the third block, 60 ms at the sixth.
        uint8_t buf[600];
        const int blocks = frame_ms / 10;
        for (int b = 0; b < blocks; ++b) {
            WebRtcIsacfix_Control(enc.inst, 32000, static_cast<int16_t>(frame_ms));
            const int16_t n = WebRtcIsacfix_Encode(enc.inst, &speech[160 * b], buf, 0);
            if (b < blocks - 1) EXPECT_EQ(n, 0);
            else EXPECT_GT(n, 0);
        }
        Codec fresh;
        const auto payloads = encode_all(fresh, speech, frame_ms);
        ASSERT_GT(payloads.size(), 10u);
        // From the initial state the bandwidth indices sent are 7, 6, 19.
        const int16_t expected[3] = {7, 6, 19};
        for (int i = 0; i < 3; ++i) {
            int16_t index = -1, framelen = 0;
            ASSERT_EQ(WebRtcIsacfix_ReadBwIndex(payloads[i].data(), payloads[i].size(), &index), 0);
            EXPECT_EQ(index, expected[i]) << i;
            ASSERT_EQ(WebRtcIsacfix_ReadFrameLen(payloads[i].data(), payloads[i].size(), &framelen), 0);
            EXPECT_EQ(framelen, 16 * frame_ms);
        }
        std::vector<int16_t> out;
        std::size_t largest = 0, total = 0;
        for (const auto& p : payloads) {
            largest = std::max(largest, p.size());
            total += p.size();
            int16_t pcm[960], type = -1;
            const int16_t n = WebRtcIsacfix_Decode(dec.inst, p.data(), p.size(), pcm, &type);
            ASSERT_EQ(n, 16 * frame_ms) << WebRtcIsacfix_GetErrorCode(dec.inst);
            EXPECT_EQ(type, 1);
            out.insert(out.end(), pcm, pcm + n);
        }
        int delay = 0, ref_delay = 0;
        const double snr = segmental_snr(speech, out, &delay);
        const double coding_snr = segmental_snr(reference, out, &ref_delay);
        const double kbit = 8.0 * total / (payloads.size() * frame_ms);
        std::printf("%d ms frames at 32 kbit/s: segmental SNR %.1f dB against the input (delay %d), %.1f dB against "
                    "the uncoded band split and merge (delay %d); %.1f kbit/s, largest payload %zu bytes\n",
                    frame_ms, snr, delay, coding_snr, ref_delay, kbit, largest);
        EXPECT_LE(largest, frame_ms == 30 ? 200u : 400u);
        EXPECT_LT(kbit, 36.0);
        EXPECT_GT(snr, 4.5);  // measured floors, see the printed values
        EXPECT_GT(coding_snr, 11.0);  // 12.6 and 13.1 dB when committed
    }
}

TEST(IsacCodec, PayloadChecks) {
    const auto speech = isac_test::speech_16k(16000);
    Codec enc, dec;
    const auto payloads = encode_all(enc, speech, 30);
    ASSERT_GT(payloads.size(), 5u);
    int16_t pcm[960], type;
    Payload p = payloads[3];
    // One trailing block of length 1 is accepted; a zero length byte is not.
    p.push_back(1);
    EXPECT_EQ(WebRtcIsacfix_Decode(dec.inst, p.data(), p.size(), pcm, &type), 480);
    p.back() = 0;
    EXPECT_EQ(WebRtcIsacfix_Decode(dec.inst, p.data(), p.size(), pcm, &type), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(dec.inst), 6730);
    EXPECT_EQ(WebRtcIsacfix_Decode(dec.inst, p.data(), 0, pcm, &type), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(dec.inst), 6620);
}

TEST(IsacCodec, ConcealmentContinuesFadesAndRecovers) {
    const auto speech = isac_test::speech_16k(16000 * 3);
    Codec enc;
    const auto payloads = encode_all(enc, speech, 30);
    std::mt19937 rng(71);
    for (int pattern = 0; pattern < 4; ++pattern) {
        Codec dec;
        int16_t pcm[960], type;
        bool was_lost = false;
        double edge_jump = 0, edge_scale = 1;
        int16_t last_sample = 0, last_step = 0;
        for (std::size_t f = 0; f < payloads.size(); ++f) {
            bool lost;
            switch (pattern) {
                case 0: lost = f == 10; break;                 // one frame
                case 1: lost = f == 20 || f == 21; break;      // two frames
                case 2: lost = rng() % 100 < 15; break;        // random loss
                default: lost = f < 2; break;                  // before the first frame
            }
            const int16_t n = lost ? WebRtcIsacfix_DecodePlc(dec.inst, pcm, 1, 0)
                                   : WebRtcIsacfix_Decode(dec.inst, payloads[f].data(), payloads[f].size(), pcm, &type);
            ASSERT_EQ(n, 480);
            if (f > 0 && lost != was_lost) {
                // The step across the edge, against the signal's own steps there.
                edge_jump = std::max(edge_jump, std::fabs(double(pcm[0]) - last_sample));
                edge_scale = std::max(edge_scale, std::fabs(double(last_step)) + std::fabs(double(pcm[1] - pcm[0])));
            }
            was_lost = lost;
            last_sample = pcm[479];
            last_step = static_cast<int16_t>(pcm[479] - pcm[478]);
        }
        std::printf("concealment pattern %d: largest step across a loss edge %.0f (local steps %.0f)\n", pattern,
                    edge_jump, edge_scale);
        EXPECT_LT(edge_jump, 2 * edge_scale + 500) << pattern;
    }
    // Long loss decays, and the wrapper's two-frame call yields 960 samples.
    Codec dec;
    int16_t pcm[960], type;
    for (int f = 0; f < 20; ++f) WebRtcIsacfix_Decode(dec.inst, payloads[f + 40].data(), payloads[f + 40].size(), pcm, &type);
    double first = 0, later = 0;
    ASSERT_EQ(WebRtcIsacfix_DecodePlc(dec.inst, pcm, 5, 0), 960);
    for (int i = 0; i < 480; ++i) first += double(pcm[i]) * pcm[i];
    for (int k = 0; k < 3; ++k) ASSERT_EQ(WebRtcIsacfix_DecodePlc(dec.inst, pcm, 2, 0), 960);
    for (int i = 480; i < 960; ++i) later += double(pcm[i]) * pcm[i];
    EXPECT_LE(later, first + 1);
}

TEST(IsacCodec, CorruptPayloadsNeverCrash) {
    const auto speech = isac_test::speech_16k(16000 * 2);
    Codec enc, dec;
    const auto payloads = encode_all(enc, speech, 30);
    std::mt19937 rng(72);
    int rejected = 0;
    for (int trial = 0; trial < 600; ++trial) {
        Payload p;
        if (trial % 3 == 0) {
            p.resize(1 + rng() % 300);
            for (auto& b : p) b = static_cast<uint8_t>(rng());
        } else {
            p = payloads[rng() % payloads.size()];
            if (trial % 3 == 1) p.resize(1 + rng() % p.size());
            else p[rng() % p.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        int16_t pcm[960], type;
        std::fill(std::begin(pcm), std::end(pcm), int16_t{1234});
        const int16_t n = WebRtcIsacfix_Decode(dec.inst, p.data(), p.size(), pcm, &type);
        if (n < 0) {
            ++rejected;
            EXPECT_EQ(n, -1);
            if (WebRtcIsacfix_GetErrorCode(dec.inst) != 6730) {
                for (int i = 0; i < 960; ++i) ASSERT_EQ(pcm[i], 0);
            }
        } else {
            EXPECT_TRUE(n == 480 || n == 960);
        }
    }
    EXPECT_GT(rejected, 0);
}

TEST(IsacCodec, InstanceAndControl) {
    std::unique_ptr<int32_t[]> mem(new int32_t[kIsacfixInstanceBytes / 4 + 1]);
    ISACFIX_MainStruct* inst = nullptr;
    int32_t used = 0;
    EXPECT_EQ(WebRtcIsacfix_Create(&inst, mem.get(), kIsacfixInstanceBytes - 1, &used), -1);
    EXPECT_EQ(WebRtcIsacfix_Create(&inst, nullptr, kIsacfixInstanceBytes, &used), -1);
    EXPECT_EQ(inst, nullptr);
    ASSERT_EQ(WebRtcIsacfix_Create(&inst, mem.get(), kIsacfixInstanceBytes, &used), 0);
    EXPECT_GE(used * 4, static_cast<int32_t>(sizeof(ISACFIX_SubStruct)));
    int16_t pcm[160] = {};
    uint8_t buf[600];
    EXPECT_EQ(WebRtcIsacfix_Encode(inst, pcm, buf, 0), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(inst), 6410);
    int16_t type;
    EXPECT_EQ(WebRtcIsacfix_Decode(inst, buf, 10, pcm, &type), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(inst), 6610);
    EXPECT_EQ(WebRtcIsacfix_EncoderInit(inst, 2, 0), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(inst), 6420);
    EXPECT_EQ(WebRtcIsacfix_EncoderInit(inst, 1, 0), 0);
    EXPECT_EQ(WebRtcIsacfix_Control(inst, 9999, 30), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(inst), 6030);
    EXPECT_EQ(WebRtcIsacfix_Control(inst, 40000, 30), 0);
    EXPECT_EQ(WebRtcIsacfix_Control(inst, 20000, 45), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(inst), 6040);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLen(inst), 480);
    EXPECT_EQ(WebRtcIsacfix_SetMaxPayloadSize(inst, 100), -1);
    EXPECT_EQ(WebRtcIsacfix_SetMaxPayloadSize(inst, 400), 0);
    EXPECT_EQ(WebRtcIsacfix_SetMaxRate(inst, 40000), 0);
    EXPECT_EQ(WebRtcIsacfix_SetMaxRate(inst, 60000), -1);
    EXPECT_EQ(WebRtcIsacfix_GetUplinkBw(inst), 20000);
    // The stored-frame block is released with the instance.
    EXPECT_EQ(WebRtcIsacfix_CreateInternal(inst), 0);
    WebRtcIsacfix_FreeInternal(inst);

    const char digits[] = "123456789";
    uint32_t crc = 0;
    ASSERT_EQ(WebRtcIsac_GetCrc(reinterpret_cast<const int16_t*>(digits), 9, &crc), 0);
    EXPECT_EQ(crc, 0xFC891918u);
    EXPECT_EQ(WebRtcIsac_GetCrc(nullptr, 9, &crc), -1);
    char version[8];
    WebRtcIsacfix_version(version);
    EXPECT_STREQ(version, "3.6.0");

    double lb, ub;
    int16_t bw;
    ASSERT_EQ(WebRtcIsac_RateAllocation(38000, &lb, &ub, &bw), 0);
    EXPECT_EQ(lb, 29000);
    EXPECT_EQ(ub, 25000);
    EXPECT_EQ(bw, 12);
    ASSERT_EQ(WebRtcIsac_RateAllocation(45000, &lb, &ub, &bw), 0);
    EXPECT_EQ(lb, 32000);
    EXPECT_EQ(ub, 32000);
    ASSERT_EQ(WebRtcIsac_RateAllocation(53000, &lb, &ub, &bw), 0);
    EXPECT_EQ(lb, 32000);
    EXPECT_EQ(ub, 29499);
    EXPECT_EQ(bw, 16);
    ASSERT_EQ(WebRtcIsac_RateAllocation(56000, &lb, &ub, &bw), 0);
    EXPECT_EQ(ub, 31999);
    EXPECT_EQ(WebRtcIsac_RateAllocation(56001, &lb, &ub, &bw), -1);
}

TEST(IsacCodec, StoredFrameReencodes) {
    const auto speech = isac_test::speech_16k(16000);
    Codec c, d;
    uint8_t buf[600], again[600];
    EXPECT_EQ(WebRtcIsacfix_GetNewBitStream(c.inst, 3, 1.0f, again), -1);  // nothing stored yet
    ASSERT_EQ(WebRtcIsacfix_CreateInternal(c.inst), 0);
    int16_t n = 0;
    std::size_t off = 0;
    while (n == 0) {
        WebRtcIsacfix_Control(c.inst, 32000, 30);
        n = WebRtcIsacfix_Encode(c.inst, &speech[4800 + off], buf, 0);
        off += 160;
    }
    ASSERT_GT(n, 0);
    EXPECT_EQ(WebRtcIsacfix_GetNewBitStream(c.inst, 24, 1.0f, again), -1);
    EXPECT_EQ(WebRtcIsacfix_GetErrorCode(c.inst), 6240);
    const int16_t same = WebRtcIsacfix_GetNewBitStream(c.inst, 3, 1.0f, again);
    ASSERT_GT(same, 0);
    int16_t index = -1;
    ASSERT_EQ(WebRtcIsacfix_ReadBwIndex(again, static_cast<std::size_t>(same), &index), 0);
    EXPECT_EQ(index, 3);
    int16_t pcm[960], type;
    EXPECT_EQ(WebRtcIsacfix_Decode(d.inst, again, static_cast<std::size_t>(same), pcm, &type), 480);
    const int16_t smaller = WebRtcIsacfix_GetNewBitStream(c.inst, 3, 0.5f, again);
    ASSERT_GT(smaller, 0);
    EXPECT_LT(smaller, same);
    EXPECT_EQ(WebRtcIsacfix_Decode(d.inst, again, static_cast<std::size_t>(smaller), pcm, &type), 480);
}

TEST(IsacCodec, AdaptiveModePadsWithFiller) {
    // Quiet input: its small payloads meet the rate model's start-up minimum.
    std::vector<int16_t> speech(16000 * 2);
    std::mt19937 rng(73);
    for (auto& v : speech) v = static_cast<int16_t>(rng() % 64 - 32);
    Codec c(0, 0), d;
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLen(c.inst), 960);  // adaptive mode starts with 60 ms
    uint8_t buf[600];
    int padded = 0, packets = 0;
    for (std::size_t off = 0; off + 160 <= speech.size(); off += 160) {
        const int16_t n = WebRtcIsacfix_Encode(c.inst, &speech[off], buf, 0);
        ASSERT_GE(n, 0);
        if (n == 0) continue;
        ++packets;
        const auto words = isac_test::payload_words(buf, static_cast<std::size_t>(n));
        ISACFIX_DecInst_t scratch = reinterpret_cast<ISACFIX_SubStruct*>(d.inst)->ISACdec_obj;
        WebRtcIsacfix_InitBitstreamDec(&scratch.bitstr_obj, words.data(), static_cast<uint16_t>(n));
        int16_t tmp[960], frame = 0;
        const int lower = WebRtcIsacfix_DecodeImpl(tmp, &scratch, &frame);
        ASSERT_GT(lower, 0);
        if (lower < n) {
            // G filler bytes: the first is G, the others 0xCC.
            ++padded;
            EXPECT_EQ(buf[lower], n - lower);
            for (int i = lower + 1; i < n; ++i) EXPECT_EQ(buf[i], 0xCC);
        }
        int16_t pcm[960], type;
        EXPECT_EQ(WebRtcIsacfix_Decode(d.inst, buf, static_cast<std::size_t>(n), pcm, &type), frame);
    }
    EXPECT_GT(packets, 10);
    EXPECT_GT(padded, 0);
}

namespace {

// Level of what the codec returns against what it was given, in dB, over
// everything after the first second (the filters and the rate model settle).
double round_trip_level_db(const std::vector<int16_t>& in) {
    Codec enc, dec;
    std::vector<int16_t> out;
    for (const auto& p : encode_all(enc, in, 30)) {
        int16_t pcm[960], type = -1;
        const int16_t n = WebRtcIsacfix_Decode(dec.inst, p.data(), p.size(), pcm, &type);
        EXPECT_EQ(n, 480);
        out.insert(out.end(), pcm, pcm + std::max<int16_t>(n, 0));
    }
    double ei = 0, eo = 0;
    for (std::size_t i = 16000; i < in.size() && i < out.size(); ++i) {
        ei += double(in[i]) * in[i];
        eo += double(out[i]) * out[i];
    }
    return 10 * std::log10((eo + 1) / (ei + 1));
}


}  // namespace

// Speech and noise keep their level through the codec (the envelope and gain
// coding aims at that); a steady pure tone does not: the spectrum coder pulls
// a line far above its envelope in, the more so the louder it stands above
// the coding noise (the tone's level stage by stage: isac_tone_level_test).
TEST(IsacCodec, LevelsOfSpeechNoiseAndTones) {
    const auto speech = isac_test::speech_16k(16000 * 4);
    const double speech_db = round_trip_level_db(speech);
    std::mt19937 rng(7);
    const double noise_db = round_trip_level_db(isac_test::random16(rng, 16000 * 3, 4000));
    const double tone_db = round_trip_level_db(isac_test::tone_16k(1000, -10, 16000 * 3));
    const double quiet_tone_db = round_trip_level_db(isac_test::tone_16k(1000, -30, 16000 * 3));
    const double loud_tone_db = round_trip_level_db(isac_test::tone_16k(1000, -3, 16000 * 3));
    std::printf("level through the codec: speech %+.2f dB, noise %+.2f dB, 1 kHz tone at -30/-10/-3 dBm0 %+.2f/%+.2f/%+.2f dB\n",
                speech_db, noise_db, quiet_tone_db, tone_db, loud_tone_db);
    EXPECT_LT(std::fabs(speech_db), 1.0);
    EXPECT_LT(std::fabs(noise_db), 1.5);
    EXPECT_LT(tone_db, -1.0);
    EXPECT_GT(quiet_tone_db, loud_tone_db + 3.0);
}
