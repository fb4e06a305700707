// Bandwidth estimator and rate model: the initial state's indices and
// rates, received indices, packet updates and the model's bounds.
#include <gtest/gtest.h>

#include "isac_bwe.h"

using namespace isac;

TEST(IsacBwe, InitialStateSendsSevenSixNineteen) {
    BwEstimatorstr b;
    WebRtcIsacfix_InitBandwidthEstimator(&b, 16, 16);
    EXPECT_EQ(WebRtcIsacfix_GetUplinkBandwidth(&b), 20000);
    const int16_t expected[3] = {7, 6, 19};
    for (int f = 0; f < 3; ++f) {
        int16_t index, jitter;
        WebRtcIsac_GetDownlinkBwJitIndexImpl(&b, &index, &jitter, 16);
        EXPECT_EQ(index, expected[f]) << f;
    }
    BwEstimatorstr s;
    WebRtcIsacfix_InitBandwidthEstimator(&s, 32, 32);
    EXPECT_EQ(WebRtcIsacfix_GetUplinkBandwidth(&s), 56000);
}

TEST(IsacBwe, ReceivedIndicesSteerTheSendingSide) {
    BwEstimatorstr b;
    WebRtcIsacfix_InitBandwidthEstimator(&b, 16, 16);
    EXPECT_EQ(WebRtcIsacfix_UpdateUplinkBwRec(&b, 24, 16), -6240);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(WebRtcIsacfix_UpdateUplinkBwRec(&b, 23, 16), 0);
    EXPECT_NEAR(WebRtcIsacfix_GetUplinkBandwidth(&b), 32000, 100);
    EXPECT_EQ(WebRtcIsacfix_GetUplinkMaxDelay(&b), 24);  // 25 ms approached from below
    EXPECT_EQ(b.highSpeedSend, 1);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(WebRtcIsacfix_UpdateUplinkBwRec(&b, 0, 16), 0);
    EXPECT_NEAR(WebRtcIsacfix_GetUplinkBandwidth(&b), 10000, 100);
    EXPECT_EQ(WebRtcIsacfix_GetUplinkMaxDelay(&b), 5);
    EXPECT_EQ(WebRtcIsac_UpdateUplinkJitter(&b, 24), -6240);
}

TEST(IsacBwe, PacketUpdatesStayInRange) {
    // Regular 30 ms packets of 80 bytes at 16 kHz time stamps, some late.
    BwEstimatorstr b;
    WebRtcIsacfix_InitBandwidthEstimator(&b, 16, 16);
    uint32_t send = 0, arrive = 1000;
    for (int p = 0; p < 400; ++p) {
        send += 480;
        arrive += 480 + (p % 37 == 0 ? 9000 : (p % 5) * 30);
        ASSERT_EQ(WebRtcIsacfix_UpdateUplinkBwImpl(&b, static_cast<uint16_t>(p), 30, send, arrive, 80, 11, 16, 16), 0);
        const uint32_t down = WebRtcIsacfix_GetDownlinkBandwidth(&b);
        EXPECT_GE(down, 10000u);
        EXPECT_LE(down, 56000u);
        EXPECT_GE(b.recBwInv, b.maxBwInv);
        EXPECT_LE(b.recBwInv, b.minBwInv);
        EXPECT_LE(b.recJitter, 0x50000);
        int16_t index, jitter;
        WebRtcIsac_GetDownlinkBwJitIndexImpl(&b, &index, &jitter, 16);
        EXPECT_GE(index, 0);
        EXPECT_LE(index, 23);
    }
    EXPECT_GT(b.countUpdates, 0);
}

TEST(IsacBwe, RateModelAndFrameLengthRules) {
    RateModel m;
    WebRtcIsacfix_InitRateModel(&m);
    // Start-up: the last 5 of 15 frames carry at least 20000 bit/s.
    int padded = 0;
    for (int f = 0; f < 15; ++f) padded += WebRtcIsacfix_GetMinBytes(&m, 10, 480, 32000, 10, 8) > 0;
    EXPECT_EQ(padded, 5);
    EXPECT_EQ(m.InitCounter, 0);
    for (int f = 0; f < 100; ++f) {
        WebRtcIsacfix_GetMinBytes(&m, static_cast<int16_t>(f % 3 ? 60 : 200), 480, 32000, 10, 8);
        EXPECT_GE(m.StillBuffered, 0);
        EXPECT_LE(m.StillBuffered, 2000);
    }
    WebRtcIsacfix_UpdateRateModel(&m, 0, 960, 32000);
    EXPECT_GE(m.StillBuffered, 0);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLength(17999, 480), 960);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLength(18000, 480), 480);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLength(27000, 960), 480);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLength(26999, 960), 960);
    EXPECT_EQ(WebRtcIsacfix_GetNewFrameLength(20000, 320), -1);
    EXPECT_EQ(WebRtcIsacfix_GetSnr(32000, 480), ((503 * 32000) >> 10) - 23552);
    EXPECT_EQ(WebRtcIsacfix_GetSnr(32000, 100), -1);
}
