// The RTP classifier of the network path and the digit tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "vrgEndptHelpers.h"

namespace {

constexpr uint8_t kNte = 101;

// A 12-byte header with the given first byte and payload type, then the payload.
std::vector<uint8_t> Packet(uint8_t first, uint8_t payloadType, std::vector<uint8_t> payload) {
  std::vector<uint8_t> p = {first, payloadType, 0, 1, 0, 0, 0, 160, 0x11, 0x22, 0x33, 0x44};
  for (uint8_t b : payload) p.push_back(b);
  return p;
}

RTPPKT_TYPE Classify(const std::vector<uint8_t>& p, bool gr303 = false, RTPPARSE* out = nullptr) {
  RTPPARSE parse{};
  const RTPPKT_TYPE type = RtpGetPacketType(kNte, p.data(), static_cast<int>(p.size()), gr303, &parse);
  if (out != nullptr) *out = parse;
  return type;
}

TEST(RtpClassifier, LengthsThatPointPastTheEndAreRefused) {
  // Shorter than the fixed header.
  std::vector<uint8_t> shortPacket = {0x80, 0, 0, 1, 0, 0};
  EXPECT_EQ(Classify(shortPacket), RTPPKT_INVALID);
  // Three CSRCs announced, one present.
  EXPECT_EQ(Classify(Packet(0x83, 0, {1, 2, 3, 4})), RTPPKT_INVALID);
  // Extension bit set, but no room for its profile and length words.
  EXPECT_EQ(Classify(Packet(0x90, 0, {0xBE, 0xDE})), RTPPKT_INVALID);
  // Extension of 0x100 words on a short packet.
  EXPECT_EQ(Classify(Packet(0x90, 0, {0xBE, 0xDE, 0x01, 0x00, 1, 2, 3, 4})), RTPPKT_INVALID);
  // Padding count larger than the payload, and a padding count of zero.
  EXPECT_EQ(Classify(Packet(0xA0, 0, {1, 2, 200})), RTPPKT_INVALID);
  EXPECT_EQ(Classify(Packet(0xA0, 0, {1, 2, 0})), RTPPKT_INVALID);
  // A telephone event without its event byte.
  EXPECT_EQ(Classify(Packet(0x80, kNte, {})), RTPPKT_INVALID);
  // The same event with its padding taking the only payload byte.
  EXPECT_EQ(Classify(Packet(0xA0, kNte, {1})), RTPPKT_INVALID);
}

TEST(RtpClassifier, HeaderLayoutIsRecorded) {
  RTPPARSE parse{};
  // Extension length 1: profile and length words plus one word, so 8 bytes after the CSRCs.
  const auto p = Packet(0x91, 0, {9, 9, 9, 9, 0xBE, 0xDE, 0x00, 0x01, 7, 7, 7, 7, 0x55, 0x66});
  EXPECT_EQ(Classify(p, false, &parse), RTPPKT_MEDIA);
  EXPECT_EQ(parse.wCSRCByte, 4);
  EXPECT_EQ(parse.wExtensionByte, 8);
  EXPECT_EQ(parse.pPayload, p.data() + 12 + 4 + 8);
  EXPECT_EQ(*parse.pPayload, 0x55);

  const auto padded = Packet(0xA0, 0, {1, 2, 3, 3});
  EXPECT_EQ(Classify(padded, false, &parse), RTPPKT_MEDIA);
  EXPECT_EQ(parse.bPaddingByte, 3);
}

TEST(RtpClassifier, TelephoneEventsByCodeWithAndWithoutGr303) {
  EXPECT_EQ(Classify(Packet(0x80, 0, {144})), RTPPKT_MEDIA);  // not the NTE payload type
  EXPECT_EQ(Classify(Packet(0x80, 0x80 | kNte, {5, 0, 0, 0})), RTPPKT_DTMF_EVENT);  // marker bit
  EXPECT_EQ(Classify(Packet(0x80, kNte, {15})), RTPPKT_DTMF_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {16})), RTPPKT_UNSUPPORTED);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {144})), RTPPKT_RING_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {159})), RTPPKT_OSI_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {149})), RTPPKT_UNSUPPORTED);

  EXPECT_EQ(Classify(Packet(0x80, kNte, {144}), true), RTPPKT_RING_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {149}), true), RTPPKT_RINGOFF_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {159}), true), RTPPKT_OSI_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {148}), true), RTPPKT_RLCF_EVENT);
  EXPECT_EQ(Classify(Packet(0x80, kNte, {5}), true), RTPPKT_UNSUPPORTED);
}

TEST(DigitTables, PulseCountsAndSignalsMapToDigits) {
  ASSERT_NE(DigitRowFromPulses(10), nullptr);
  EXPECT_EQ(DigitRowFromPulses(10)->epEvent, EPEVT_DTMF0);
  EXPECT_EQ(DigitRowFromPulses(3)->epEvent, EPEVT_DTMF3);
  EXPECT_EQ(DigitRowFromPulses(11), nullptr);
  EXPECT_EQ(DigitRowFromDigit(11)->epEvent, EPEVT_DTMFH);
  EXPECT_EQ(DigitRowFromDigit(40)->epEvent, EPEVT_NULL);
  EXPECT_EQ(PteDigitFromSignal(EPSIG_DTMF0), 0);
  EXPECT_EQ(PteDigitFromSignal(EPSIG_DTMFD), 15);
  EXPECT_EQ(PteDigitFromSignal(EPSIG_RINGING), -1);
}

}  // namespace
