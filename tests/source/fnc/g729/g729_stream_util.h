// G.729 streams for the tests that hold our encoder against the independent one: one frame's
// wire bytes, and a speech signal encoded by either side.
#pragma once

extern "C" {
#include <bcg729/encoder.h>
}

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "g729.h"
#include "g729_test_util.h"

namespace g729test {

struct Frame {
    int bits = 0;  // 80, 16 or 0
    std::vector<std::uint8_t> bytes;
};

// The encoder state starts filled with a pattern, so that a field the init leaves out shows.
inline std::vector<Frame> encodeOurs(const std::vector<std::int16_t>& pcm, bool vad) {
    auto enc = std::make_unique<G729ENCSTATE>();
    std::memset(enc.get(), 0xA5, sizeof(*enc));
    g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
    g729EncodeCfg(enc.get(), vad ? G729VAD_ON : G729VAD_OFF, G729RATE_8_KBPS_A);
    std::vector<Frame> out;
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        std::uint16_t w[6];
        Frame f;
        f.bits = g729Encoder(enc.get(), &pcm[s], w, nullptr);
        f.bytes = wordsToBytes(w, f.bits);
        out.push_back(f);
    }
    return out;
}

inline std::vector<Frame> encodeBcg(const std::vector<std::int16_t>& pcm, bool vad) {
    auto* ctx = initBcg729EncoderChannel(vad ? 1 : 0);
    std::vector<Frame> out;
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        std::uint8_t b[10];
        std::uint8_t len = 0;
        bcg729Encoder(ctx, &pcm[s], b, &len);
        out.push_back({len * 8, std::vector<std::uint8_t>(b, b + len)});
    }
    closeBcg729EncoderChannel(ctx);
    return out;
}

}  // namespace g729test
