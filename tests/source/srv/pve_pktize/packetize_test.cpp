// Superpackets: frames gathered behind one header, odd lengths across word halves, and the frames
// that close or abandon an open superpacket. Outside a channel nothing is sent; the superpacket
// buffer and its control record show what happened.
#include <gtest/gtest.h>

#include <vector>

#include "pve_pktize.h"

namespace {

struct Frame {
  std::vector<uint16_t> words;
  explicit Frame(uint16_t payloadID, uint16_t bytes, uint32_t ts, uint8_t fill = 0x11) : words(4 + (bytes + 1) / 2, 0) {
    words[0] = payloadID;
    words[1] = bytes;
    words[2] = static_cast<uint16_t>(ts >> 16);
    words[3] = static_cast<uint16_t>(ts);
    for (unsigned i = 0; i < bytes; ++i) pvePayloadPutByte(words.data() + 4, i, static_cast<uint8_t>(fill + i));
  }
  const HAPI_PKT_HDR* hdr() const { return reinterpret_cast<const HAPI_PKT_HDR*>(words.data()); }
};

struct Packetiser {
  std::vector<uint16_t> buf = std::vector<uint16_t>(4 + 640, 0);
  HSZSUPERPKTCTL ctl{};
  Packetiser(int16_t interval, int16_t frame) {
    ctl.superpacketinterval = interval;
    ctl.threadsize = frame;
    ctl.packetNull = true;
  }
  const HAPI_PKT_HDR* open() const { return reinterpret_cast<const HAPI_PKT_HDR*>(buf.data()); }
};

TEST(Packetize, FramesGatherUntilTheIntervalIsFull) {
  Packetiser p(160, 40);
  for (int k = 0; k < 3; ++k) {
    encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8, 40, 1000 + 40 * k).hdr(), &p.ctl);
    EXPECT_FALSE(p.ctl.packetNull);
  }
  EXPECT_EQ(p.open()->payloadLength, 120);
  EXPECT_EQ(p.open()->payloadTimeStampLow, 1000);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8, 40, 1120).hdr(), &p.ctl);
  EXPECT_TRUE(p.ctl.packetNull);  // sent: the next frame opens a new one
  EXPECT_EQ(p.open()->payloadLength, 0);
}

TEST(Packetize, OddFramesShiftAcrossWordHalves) {
  Packetiser p(160, 40);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8 | 3, 15, 0, 0x10).hdr(), &p.ctl);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8 | 3, 15, 40, 0x40).hdr(), &p.ctl);
  EXPECT_EQ(p.open()->payloadLength, 30);
  for (unsigned i = 0; i < 15; ++i) {
    EXPECT_EQ(pvePayloadByte(p.buf.data() + 4, i), 0x10 + i);
    EXPECT_EQ(pvePayloadByte(p.buf.data() + 4, 15 + i), 0x40 + i);
  }
}

TEST(Packetize, AnUntransmittedFrameClosesTheOpenSuperpacket) {
  Packetiser p(160, 80);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8 | 6, 10, 0).hdr(), &p.ctl);
  ASSERT_FALSE(p.ctl.packetNull);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VC_G729_SID, 0, 80).hdr(), &p.ctl);
  EXPECT_TRUE(p.ctl.packetNull) << "the frame after the gap must not join this superpacket";
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8 | 6, 10, 160).hdr(), &p.ctl);
  EXPECT_EQ(p.open()->payloadTimeStampLow, 160);
}

TEST(Packetize, ToneAbandonsAndSidClosesTheOpenSuperpacket) {
  Packetiser p(240, 40);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8, 40, 0).hdr(), &p.ctl);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_TONE << 8, 4, 40).hdr(), &p.ctl);
  EXPECT_TRUE(p.ctl.packetNull);
  EXPECT_EQ(p.open()->payloadLength, 0);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8, 40, 80).hdr(), &p.ctl);
  encoder_packetize(p.buf.data(), Frame(HAPI_PKT_SID << 8 | HAPI_PKT_VC_GENERIC_SID, 1, 120).hdr(), &p.ctl);
  EXPECT_TRUE(p.ctl.packetNull);
}

TEST(Packetize, SelfDelimitedPayloadsAreNeverJoined) {
  for (uint16_t code : {25, 33, 38, 70}) {
    Packetiser p(1920, 160);
    encoder_packetize(p.buf.data(), Frame(HAPI_PKT_VOICE << 8 | code, 32, 0).hdr(), &p.ctl);
    EXPECT_TRUE(p.ctl.packetNull) << code;
  }
}

}  // namespace
