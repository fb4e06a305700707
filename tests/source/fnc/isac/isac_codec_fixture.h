// One codec instance in memory the test owns, set up as the voice engine's
// wrapper sets it up (instantaneous mode), wideband or super-wideband.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "isac_codec.h"

namespace isac_test {

struct Codec {
    std::unique_ptr<int32_t[]> mem{new int32_t[isac::kIsacfixInstanceBytes / 4 + 1]};
    isac::ISACFIX_MainStruct* inst = nullptr;
    explicit Codec(int16_t swb = 0) {
        int32_t used = 0;
        EXPECT_EQ(isac::WebRtcIsacfix_Create(&inst, mem.get(), isac::kIsacfixInstanceBytes, &used), 0);
        EXPECT_EQ(isac::WebRtcIsacfix_EncoderInit(inst, 1, swb), 0);
        EXPECT_EQ(isac::WebRtcIsacfix_DecoderInit(inst), 0);
    }
    ~Codec() { isac::WebRtcIsacfix_FreeInternal(inst); }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
};

}  // namespace isac_test
