// Received packets split into jitter-buffer frames: the frame codes refined from the frames' own
// header bits, sizes, slots and timestamps, and the packets that are refused.
#include <gtest/gtest.h>

#include <vector>

#include "pve_pktize.h"

namespace {

struct Bench {
  std::vector<uint16_t> mem = std::vector<uint16_t>(pveTablesInit().decJbWords);
  AJC_OBJ jb{};
  AJC_REGS regs{0, 1600, 1600, 0, 0, 0};  // hold everything: nothing is released here
  AJC_STATS stats{};
  AJC_STATE state{};
  AJC_INTERNAL_STATS internal{};
  PVE_PKT_EVT_INFO evt{};
  uint16_t lastBad = 0xFFFF;
  Bench() {
    ajcInit(&jb, 40, &regs, &stats, &state, mem.data(), static_cast<uint16_t>(mem.size()),
            &pveTablesInit().ajcTableEntries, &internal);
  }
  void receive(uint16_t payloadID, uint16_t ts, const std::vector<uint8_t>& payload) {
    std::vector<uint16_t> pkt(4 + (payload.size() + 1) / 2, 0);
    pkt[0] = payloadID;
    pkt[1] = static_cast<uint16_t>(payload.size());
    pkt[2] = 8;
    pkt[3] = ts;
    for (size_t i = 0; i < payload.size(); ++i) pvePayloadPutByte(pkt.data() + 4, static_cast<unsigned>(i), payload[i]);
    decoder_unpacketize(reinterpret_cast<HAPI_PKT_EGRESS_HDR*>(pkt.data()), &lastBad, &evt, &jb);
  }
  std::vector<AJC_PKT_HDR> queued() {
    std::vector<AJC_PKT_HDR> v;
    AJC_PKT_HDR* p = jb.ajcJitterQ.count ? jb.ajcJitterQ.headp : nullptr;
    for (; p != nullptr; p = ajcPeekQLink(&jb.ajcJitterQ, p)) v.push_back(*p);
    return v;
  }
  std::vector<uint8_t> slotBytes(const AJC_PKT_HDR& h) {
    std::vector<uint8_t> b(h.payloadLength);
    const uint16_t* w = ajcSlotPtr(&jb.payloadQ, h.flags >> 8);
    for (size_t i = 0; i < b.size(); ++i) b[i] = pvePayloadByte(w, static_cast<unsigned>(i));
    return b;
  }
};

// A bandwidth-efficient AMR frame of frame type ft, `bytes` long, filled with a marker.
std::vector<uint8_t> amrBe(unsigned ft, size_t bytes, uint8_t fill) {
  std::vector<uint8_t> f(bytes, fill);
  f[0] = static_cast<uint8_t>(0xF0 | ft >> 1);
  f[1] = static_cast<uint8_t>((ft & 1) << 7 | 0x40 | (fill & 0x3F));
  return f;
}

TEST(Unpacketize, G711SuperpacketBecomesFramesOneFrameTimeApart) {
  Bench b;
  std::vector<uint8_t> payload(160);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  b.state.currentDec = 0;
  ajcReset(&b.jb, 0, AJC_RESET_RESIZE);
  b.receive(HAPI_PKT_VOICE << 8, 1000, payload);
  const std::vector<AJC_PKT_HDR> q = b.queued();
  ASSERT_EQ(q.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(q[k].timestamp, 1000 + 40 * k);
    EXPECT_EQ(q[k].flags & 0xFF, k);
    EXPECT_EQ(b.slotBytes(q[k]), std::vector<uint8_t>(payload.begin() + 40 * k, payload.begin() + 40 * (k + 1)));
  }
  EXPECT_EQ(b.stats.packetCount, 4);
}

TEST(Unpacketize, OddFramesAreCopiedAcrossWordHalves) {
  Bench b;
  b.state.currentDec = 3;
  ajcReset(&b.jb, 3, AJC_RESET_RESIZE);
  std::vector<uint8_t> payload(30);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
  b.receive(HAPI_PKT_VOICE << 8 | 3, 0, payload);
  const std::vector<AJC_PKT_HDR> q = b.queued();
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(b.slotBytes(q[1]), std::vector<uint8_t>(payload.begin() + 15, payload.end()));
}

TEST(Unpacketize, AmrSpeechFramesThenSidGiveThreeRecordsTheLastOfTypeSid) {
  Bench b;
  std::vector<uint8_t> payload = amrBe(7, 32, 0x11);
  const std::vector<uint8_t> second = amrBe(7, 32, 0x22), sid = amrBe(8, 7, 0x33);
  payload.insert(payload.end(), second.begin(), second.end());
  payload.insert(payload.end(), sid.begin(), sid.end());
  b.receive(HAPI_PKT_VOICE << 8 | 25, 500, payload);
  const std::vector<AJC_PKT_HDR> q = b.queued();
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q[0].payloadID, HAPI_PKT_VOICE << 8 | 25);
  EXPECT_EQ(q[2].payloadID, HAPI_PKT_SID << 8 | HAPI_PKT_VC_AMR_SID);
  EXPECT_EQ(q[2].timestamp, 500 + 320);
  // The first frame moved the buffer to AMR before it took its slot, so its bytes survive.
  EXPECT_EQ(b.slotBytes(q[0]), std::vector<uint8_t>(payload.begin(), payload.begin() + 32));
  EXPECT_EQ(b.slotBytes(q[1]), second);
  EXPECT_EQ(b.state.currentDec, 25);
}

TEST(Unpacketize, AmrNoDataFramesHoldTheirPlaceWithoutFlushing) {
  Bench b;
  b.receive(HAPI_PKT_VOICE << 8 | 25, 0, amrBe(7, 32, 1));
  std::vector<uint8_t> payload = amrBe(15, 2, 0);
  const std::vector<uint8_t> speech = amrBe(7, 32, 2);
  payload.insert(payload.end(), speech.begin(), speech.end());
  b.receive(HAPI_PKT_VOICE << 8 | 25, 160, payload);
  const std::vector<AJC_PKT_HDR> q = b.queued();
  ASSERT_EQ(q.size(), 2u) << "the first frame stays queued";
  EXPECT_EQ(q[1].timestamp, 320);
}

TEST(Unpacketize, G729FrameAndTrailingSidAndG7231FrameTypes) {
  Bench b;
  b.state.currentDec = 6;
  ajcReset(&b.jb, 6, AJC_RESET_RESIZE);
  std::vector<uint8_t> payload(12, 0x5A);
  b.receive(HAPI_PKT_VOICE << 8 | 6, 0, payload);
  std::vector<AJC_PKT_HDR> q = b.queued();
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[1].payloadID, HAPI_PKT_SID << 8 | HAPI_PKT_VC_G729_SID);
  EXPECT_EQ(q[1].payloadLength, 2);

  Bench g;
  std::vector<uint8_t> frames(20, 0);
  frames[0] = 1;  // 5.3 kbit/s, 20 bytes
  std::vector<uint8_t> f53(20, 0);
  f53[0] = 1;
  std::vector<uint8_t> sid(4, 0);
  sid[0] = 2;
  frames.insert(frames.end(), f53.begin(), f53.end());
  frames.insert(frames.end(), sid.begin(), sid.end());
  g.receive(HAPI_PKT_VOICE << 8 | 10, 0, frames);  // the code the frames name wins
  q = g.queued();
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q[1].payloadID & 0xFF, 9);
  EXPECT_EQ(q[1].timestamp, 240);
  EXPECT_EQ(q[2].payloadID, HAPI_PKT_SID << 8 | HAPI_PKT_VC_G7231_SID);
}

TEST(Unpacketize, PacketsWithoutFrameSizeOrTooLongAreDropped) {
  Bench b;
  b.receive(HAPI_PKT_VOICE << 8 | 7, 0, std::vector<uint8_t>(10, 0));
  EXPECT_EQ(b.lastBad, 7);
  b.receive(HAPI_PKT_VOICE << 8 | 200, 0, std::vector<uint8_t>(10, 0));
  EXPECT_EQ(b.lastBad, 200);
  b.receive(HAPI_PKT_VOICE << 8 | 36, 0, std::vector<uint8_t>(1300, 0));
  EXPECT_EQ(b.queued().size(), 0u);
  // A truncated last frame ends the walk; the whole frames before it are kept.
  b.state.currentDec = 0;
  ajcReset(&b.jb, 0, AJC_RESET_RESIZE);
  b.receive(HAPI_PKT_VOICE << 8, 0, std::vector<uint8_t>(100, 0));
  EXPECT_EQ(b.queued().size(), 2u);
}

TEST(Unpacketize, FrameDurationChangeIsCountedAfterTwoEqualPackets) {
  Bench b;
  b.state.currentDec = 0;
  ajcReset(&b.jb, 0, AJC_RESET_RESIZE);
  for (int i = 0; i < 3; ++i) b.receive(HAPI_PKT_VOICE << 8, static_cast<uint16_t>(160 * i), std::vector<uint8_t>(160, 0));
  EXPECT_EQ(b.evt.prevFrameDur, 160);
  EXPECT_EQ(b.evt.evtFrameDur, 160);
  b.receive(HAPI_PKT_SID << 8 | HAPI_PKT_VC_GENERIC_SID, 480, {40});
  EXPECT_EQ(b.evt.consFrameCount, 0);
}

}  // namespace
