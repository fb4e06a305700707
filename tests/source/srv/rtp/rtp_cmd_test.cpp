// The RTP service's commands as the host uses them: register blocks and their all-or-nothing
// checks, session start and stop, statistics, state and the event request.
#include <gtest/gtest.h>

#include <cstring>

#include "rtp_harness.h"

namespace {

using namespace rtptest;
using RtpCommandTest = RtpTest;

HAPI_RTP_REGS regsFrom(const HostMsg& m) {
  HAPI_RTP_REGS r{};
  EXPECT_EQ(m.data.size(), sizeof(r));
  if (m.data.size() == sizeof(r)) std::memcpy(&r, m.data.data(), sizeof(r));
  return r;
}

TEST_F(RtpCommandTest, StartsWithTheDefaultRegistersAndAnswersEveryReadCommand) {
  const HostMsg regs = command(HAPI_RTP_GETREGS_CMD, 0, 0);
  EXPECT_EQ(regs.result, HAPISUCCESS);
  EXPECT_EQ(regs.header, HAPI_RTP_GETREGS_RSP);
  const HAPI_RTP_REGS expected = rtpRegsDefault();
  EXPECT_EQ(std::memcmp(regsFrom(regs).mediaPayloadTypeMap, expected.mediaPayloadTypeMap,
                        sizeof(expected.mediaPayloadTypeMap)),
            0);
  EXPECT_EQ(std::memcmp(regs.data.data(), &expected, sizeof(expected)), 0);

  const HostMsg regs2 = command(HAPI_RTP_GETREGS2_CMD, 0, 0);
  EXPECT_EQ(regs2.header, HAPI_RTP_GETREGS2_RSP);
  ASSERT_EQ(regs2.data.size(), 2u);
  EXPECT_EQ(regs2.data[0], 4);

  const HostMsg state = command(HAPI_RTP_GETSTATE_CMD, 0, 0);
  EXPECT_EQ(state.header, HAPI_RTP_GETSTATE_RSP);
  EXPECT_EQ(state.data.size(), 18u);
  const HostMsg stats = command(HAPI_RTP_GETSTATS_EXT_CMD, 0, 0);
  EXPECT_EQ(stats.header, HAPI_RTP_GETSTATS_EXT_CMD);
  EXPECT_EQ(stats.data.size(), 188u);

  EXPECT_EQ(command(0x06B9, 0, 0).result, HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(command(0x0690, 0, 0).result, HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(command(HAPI_RTP_REG_UPDATE_CMD, 0, 0).result, HAPISUCCESS);
}

TEST_F(RtpCommandTest, RefusedRegisterBlocksLeaveEveryRegisterUnchanged) {
  struct Case {
    const char* what;
    void (*change)(HAPI_RTP_REGS&);
  };
  const Case cases[] = {
      {"redundancy type 95", [](HAPI_RTP_REGS& r) { r.rfc2198PayloadType = 95; }},
      {"event type 130", [](HAPI_RTP_REGS& r) { r.ntePayloadType = 130; }},
      {"map entry with bit 15", [](HAPI_RTP_REGS& r) { r.mediaPayloadTypeMap[3] = 0x8000; }},
      {"map code 90", [](HAPI_RTP_REGS& r) { r.mediaPayloadTypeMap[29] = 0x6A5A; }},
      {"egress map code 75", [](HAPI_RTP_REGS& r) { r.mediaEgressPayloadTypeMap[0] = 0x004B; }},
      {"egress redundancy type 128", [](HAPI_RTP_REGS& r) { r.rfc2198EgressPayloadType = 128; }},
      {"egress event type 129", [](HAPI_RTP_REGS& r) { r.nteEgressPayloadType = 129; }},
      {"three redundancy levels", [](HAPI_RTP_REGS& r) { r.rfc2198RedundancyLevels = 3; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HAPI_RTP_REGS regs = rtpRegsDefault();
    regs.rtcpPacketInterval = 7000;  // would show if anything were written
    c.change(regs);
    EXPECT_EQ(extCommand(HAPI_RTP_SETREGS_CMD, &regs, sizeof(regs)).result, HAPI_ERR_INVALID_REGS);
    EXPECT_EQ(rtp()->regs.rtcpPacketInterval, 5000);
  }
  // A short block would be read past its end.
  const HAPI_RTP_REGS regs = rtpRegsDefault();
  EXPECT_EQ(extCommand(HAPI_RTP_SETREGS_CMD, &regs, 100).result, HAPI_ERR_INVALID_REGS);

  // Accepted: code 97 in a map, dynamic types, a redundancy type word whose low byte is dynamic.
  HAPI_RTP_REGS good = rtpRegsDefault();
  good.mediaPayloadTypeMap[29] = HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(122, 97);
  good.rfc2198PayloadType = 0x1260;
  good.ntePayloadType = 101;
  setRegs(good);
  EXPECT_EQ(rtp()->regs.ntePayloadType, 101);
}

TEST_F(RtpCommandTest, SingleWordWritesAreCheckedByTheRegisterTheyHit) {
  struct Case {
    uint16_t offset, value;
    HAPIRESULT result;
  };
  const Case cases[] = {
      {836, 3, HAPI_ERR_INVALID_REGS},
      {836, 2, HAPISUCCESS},
      {4, 95, HAPI_ERR_INVALID_REGS},
      {4, 129, HAPISUCCESS},
      {614, 100, HAPISUCCESS},
      {6, 129, HAPI_ERR_INVALID_REGS},
      {616, 128, HAPISUCCESS},
      {616, 127, HAPISUCCESS},
      {10, 0x005A, HAPI_ERR_INVALID_REGS},
      {68, 0x7861, HAPISUCCESS},
      {676, 0x004B, HAPI_ERR_INVALID_REGS},
      {678, 0x0001, HAPISUCCESS},
      {844, 0, HAPI_ERR_INVALID_REGS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " value " << c.value);
    const HAPI_RTP_REGS before = rtp()->regs;
    EXPECT_EQ(command(HAPI_RTP_SETREG1_CMD, c.offset, c.value).result, c.result);
    uint16_t word = 0;
    if (c.offset < sizeof(HAPI_RTP_REGS)) {
      std::memcpy(&word, reinterpret_cast<const uint8_t*>(&rtp()->regs) + c.offset, 2);
      uint16_t old = 0;
      std::memcpy(&old, reinterpret_cast<const uint8_t*>(&before) + c.offset, 2);
      EXPECT_EQ(word, c.result == HAPISUCCESS ? c.value : old);
    }
  }
  // Odd offsets straddle two registers: reported and refused, in both blocks.
  AssertCounter asserts;
  EXPECT_EQ(command(HAPI_RTP_SETREG1_CMD, 11, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_RTP_SETREG21_CMD, 1, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_RTP_SETREG21_CMD, 2, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_RTP_SETREG21_CMD, 0, 0x44).result, HAPISUCCESS);
  EXPECT_EQ(asserts.stop(), 2);
  EXPECT_EQ(rtp()->regs2.configFlags2, 0x44);
}

TEST_F(RtpCommandTest, RegisterWritesClearTheTypeCacheAndRebuildTheItemList) {
  rtp()->ingressVoiceCodec = 7;
  rtp()->egressPayloadType = 18;
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.phoneLength = 3;
  regs.noteLength = 2;
  setRegs(regs);
  EXPECT_EQ(rtp()->ingressVoiceCodec, 255);
  EXPECT_EQ(rtp()->egressPayloadType, 128);
  EXPECT_EQ(rtp()->sdesOtherItems, (1u << 4) | (1u << 7));
  EXPECT_EQ(rtp()->sdesOtherItemCount, 2);
  EXPECT_EQ(command(HAPI_RTP_SETREG1_CMD, offsetof(HAPI_RTP_REGS, noteLength), 0).result, HAPISUCCESS);
  EXPECT_EQ(rtp()->sdesOtherItemCount, 1);
}

TEST_F(RtpCommandTest, SessionStartsDrawIdentifiersAndStopsKeepThem) {
  world().randoms = {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888};
  startSession();
  const HAPI_RTP_STATE first = rtp()->state;
  EXPECT_EQ(first.higherLocalSsrc, 0x1111);
  EXPECT_EQ(first.lowerLocalSsrc, 0x2222);
  EXPECT_EQ(first.sequenceNum, 0x3333);
  EXPECT_EQ(first.higherBaseTimestamp, 0x4444);
  EXPECT_EQ(first.lowerBaseTimestamp, 0x5555);
  EXPECT_EQ(first.mode, 1);
  EXPECT_EQ(first.bNewBaseTimeStampSet, 1);
  // A second start keeps the source but draws a new sequence number and base.
  startSession();
  EXPECT_EQ(rtp()->state.higherLocalSsrc, 0x1111);
  EXPECT_EQ(rtp()->state.sequenceNum, 0x6666);
  EXPECT_EQ(rtp()->state.lowerBaseTimestamp, 0x8888);
  EXPECT_EQ(command(HAPI_RTP_SETMODE_CMD, 2, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_RTP_SETMODE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(rtp()->state.mode, 0);

  // User-defined source and first sequence number.
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |=
      HAPI_RTP_USE_USER_DEFINED_SSRC_MASK | HAPI_RTP_USE_USER_DEFINED_INITIAL_SEQUENCE_NUMBER_MASK;
  setRegs(regs);
  EXPECT_EQ(command(HAPI_RTP_SET_SSRC_CMD, 0xCAFE, 0xF00D).result, HAPISUCCESS);
  EXPECT_EQ(command(HAPI_RTP_SET_INITIAL_SEQUENCE_NUMBER_CMD, 65535, 0).result, HAPISUCCESS);
  startSession();
  EXPECT_EQ(rtp()->state.higherLocalSsrc, 0xCAFE);
  EXPECT_EQ(rtp()->state.lowerLocalSsrc, 0xF00D);
  EXPECT_EQ(rtp()->state.sequenceNum, 65535);
}

TEST_F(RtpCommandTest, StatisticsRequestReportsThenClearsOnTheNextTick) {
  rtp()->stats.cumulative.ingressRtcpPackets = 9;
  EXPECT_EQ(command(HAPI_RTP_GETSTATS_CMD, 1, 0).result, HAPISUCCESS);
  const auto ev = events(HAPI_RTP_GETSTATS_EVT);
  ASSERT_EQ(ev.size(), 1u);
  ASSERT_EQ(ev[0].data.size(), 188u);
  HAPI_RTP_STATS s{};
  std::memcpy(&s, ev[0].data.data(), sizeof(s));
  EXPECT_EQ(s.cumulative.ingressRtcpPackets, 9);
  tick();
  EXPECT_EQ(rtp()->stats.cumulative.ingressRtcpPackets, 0);
  rtp()->stats.cumulative.egressRtcpPackets = 4;
  EXPECT_EQ(command(HAPI_RTP_RESET_STATS_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(rtp()->stats.cumulative.egressRtcpPackets, 0);
}

TEST_F(RtpCommandTest, ASecondEventRequestWaitsForTheFirst) {
  rtp()->nteEvent = 149;  // not yet sent
  EXPECT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 159, 0).result, HAPI_ERR_SRV_BUSY);
  rtp()->nteEvent = 0;
  EXPECT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 159, 0).result, HAPISUCCESS);
}

}  // namespace
