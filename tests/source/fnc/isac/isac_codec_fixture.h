// One codec instance in memory the test owns, set up as the voice engine's
// wrapper sets it up (instantaneous mode), wideband or super-wideband, or
// in the adaptive mode (coding mode 0).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "isac_codec.h"

namespace isac_test {

struct Codec {
    std::unique_ptr<int32_t[]> mem{new int32_t[isac::kIsacfixInstanceBytes / 4 + 1]};
    isac::ISACFIX_MainStruct* inst = nullptr;
    explicit Codec(int16_t swb = 0, int16_t coding_mode = 1) {
        int32_t used = 0;
        EXPECT_EQ(isac::WebRtcIsacfix_Create(&inst, mem.get(), isac::kIsacfixInstanceBytes, &used), 0);
        EXPECT_EQ(isac::WebRtcIsacfix_EncoderInit(inst, coding_mode, swb), 0);
        EXPECT_EQ(isac::WebRtcIsacfix_DecoderInit(inst), 0);
    }
    ~Codec() { isac::WebRtcIsacfix_FreeInternal(inst); }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
};

// A payload as the coder's stream reads it: 16-bit words, the earlier byte
// in the high half.
inline std::vector<uint16_t> payload_words(const uint8_t* bytes, std::size_t n) {
    std::vector<uint16_t> words(n / 2 + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        words[i / 2] = static_cast<uint16_t>(words[i / 2] | (i & 1 ? bytes[i] : bytes[i] << 8));
    return words;
}

}  // namespace isac_test
