// The codec service's commands, registers and refusals.
#include "codec_harness.h"

#include <cmath>
#include <cstdio>

#include "cfg/vhd_cfg.h"

namespace codectest {
namespace {

TEST_F(CodecTest, SecondRateRequestBeforeTheFirstAppliesIsRefused) {
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  // Both arrive in one frame: the second finds the first still pending.
  QRN_QueueStdObdMsg(kVhd, HAPI_CODEC_SETVOICERATE_CMD, 6, 80, HAPI_HOST_SRV, HAPI_CODEC_SRV, 1,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
  QRN_QueueStdObdMsg(kVhd, HAPI_CODEC_SETVOICERATE_CMD, 1, 80, HAPI_HOST_SRV, HAPI_CODEC_SRV, 2,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
  tick(1);
  HostMsg first{}, second{};
  for (const HostMsg& m : world().host) {
    if (m.response && m.userTag == 1) first = m;
    if (m.response && m.userTag == 2) second = m;
  }
  EXPECT_EQ(first.result, HAPISUCCESS);
  EXPECT_NE(second.result, HAPISUCCESS);
  const std::vector<HostMsg> exc = events(HAPI_CODEC_EXCEPTION_EVT);
  ASSERT_FALSE(exc.empty());
  EXPECT_EQ(exc[0].op1, PVE_EXC_RATE_PENDING);
  EXPECT_EQ(exc[0].op2, 1);
}

TEST_F(CodecTest, UnavailableCodesAndLongIntervalsAreRefusedAndTheOldEncoderStays) {
  startVoice(0, 80);
  for (uint16_t code : {7, 11, 41, 43, 80, 200}) {
    world().host.clear();
    ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, code, 80).result, HAPISUCCESS);
    tick(2);
    const std::vector<HostMsg> exc = events(HAPI_CODEC_EXCEPTION_EVT);
    ASSERT_EQ(exc.size(), 1u) << code;
    EXPECT_EQ(exc[0].op1, PVE_EXC_ENC_UNAVAILABLE);
    EXPECT_EQ(exc[0].op2, code);
    EXPECT_EQ(codec()->ctl.state.currentEnc, 0);
  }
  world().host.clear();
  ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, 9, 480).result, HAPISUCCESS);
  tick(2);
  std::vector<HostMsg> exc = events(HAPI_CODEC_EXCEPTION_EVT);
  ASSERT_EQ(exc.size(), 1u);
  EXPECT_EQ(exc[0].op1, PVE_EXC_INTERVAL_TOO_LONG);
  EXPECT_EQ(exc[0].op2, 240);
  // After a refusal a new request is taken.
  world().host.clear();
  ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, 1, 80).result, HAPISUCCESS);
  tick(4);
  EXPECT_EQ(codec()->ctl.state.currentEnc, 1);
}

TEST_F(CodecTest, EnableTwiceChangesNothingButThePiggyOption) {
  startVoice(0, 80);
  const uint32_t ts = codec()->ctl.hsxcodecencctl.hsxTimeStamp;
  HSZVOICEREGS regs = pveVoiceRegsDefault();
  regs.voxregs.hsxVadCngPlcOptions = 0x3311;
  ASSERT_EQ(extCommand(HAPI_CODEC_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_GE(codec()->ctl.hsxcodecencctl.hsxTimeStamp, ts);
  EXPECT_EQ(codec()->ctl.state.currentEnc, 0);
  EXPECT_TRUE(codec()->ctl.hsxcodecencctl.superpktctl.piggyOption);
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 0, 0).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(codec()->ctl.hsxstatus & 1, 0);
}

TEST_F(CodecTest, StatisticsAreClearedOnlyWhenAskedTo) {
  startVoice(0, 80);
  tick(20);
  world().host.clear();
  command(HAPI_CODEC_GETSTATS_CMD, 0, 0);
  command(HAPI_CODEC_GETSTATS_CMD, 1, 0);
  command(HAPI_CODEC_GETSTATS_CMD, 0, 0);
  const std::vector<HostMsg> st = events(HAPI_CODEC_GETSTATS_EVT);
  ASSERT_EQ(st.size(), 3u);
  ASSERT_EQ(st[0].data.size(), 36u);
  auto active = [](const HostMsg& m) { return m.data[30] | m.data[31] << 8; };
  EXPECT_GT(active(st[0]), 0);
  EXPECT_GE(active(st[1]), active(st[0]));
  EXPECT_LT(active(st[2]), active(st[1]));
}

TEST_F(CodecTest, RegisterWritesAreCheckedAndAmrTimesRounded) {
  EXPECT_EQ(command(HAPI_CODEC_SETREG1_CMD, 3, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_CODEC_SETREG1_CMD, 28, 0).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_CODEC_SETREG1_CMD, 2, 2048).result, HAPISUCCESS);
  EXPECT_EQ(codec()->ctl.voiceregs.voxregs.pveEgressVolume, 2048);
  EXPECT_EQ(command(0x02FF & 0x02BF, 0, 0).result, HAPIFAILURE);
}

TEST_F(CodecTest, StatusAndStateReportTheCodes) {
  startVoice(1, 80);
  world().host.clear();
  command(HAPI_CODEC_GETSTATUS_CMD, 0, 0);
  command(HAPI_CODEC_GETSTATE_CMD, 0, 0);
  const std::vector<HostMsg> status = events(HAPI_CODEC_GETSTATUS_EVT);
  ASSERT_EQ(status.size(), 1u);
  ASSERT_EQ(status[0].data.size(), 28u);
  EXPECT_EQ(status[0].data[12], 1);     // currentEnc
  EXPECT_EQ(status[0].data[3], 0xFF);   // clock drift word
  const std::vector<HostMsg> state = events(HAPI_CODEC_GETSTATE_EVT);
  ASSERT_EQ(state.size(), 1u);
  ASSERT_EQ(state[0].data.size(), 34u);
  EXPECT_EQ(state[0].data[28], 1);  // currentEnc
  EXPECT_EQ(state[0].data[32] | state[0].data[33] << 8, 80 + 8);  // currentEncPktSize
}

TEST_F(CodecTest, PacketsOfUnknownCodesAreReportedOnce) {
  startVoice(0, 80);
  world().host.clear();
  for (int i = 0; i < 5; ++i) {
    sendPacket(HAPI_PKT_VOICE << 8 | 7, static_cast<uint16_t>(i * 80), std::vector<uint8_t>(10, 0));
    sendPacket(HAPI_PKT_VOICE << 8 | 11, static_cast<uint16_t>(i * 80), std::vector<uint8_t>(10, 0));
    tick(2);
  }
  const std::vector<HostMsg> exc = events(HAPI_CODEC_EXCEPTION_EVT);
  ASSERT_GE(exc.size(), 2u);
  EXPECT_LE(exc.size(), 10u);
  for (const HostMsg& m : exc) EXPECT_EQ(m.op1, PVE_EXC_DEC_UNAVAILABLE);
}

}  // namespace
}  // namespace codectest

namespace codectest {
namespace {

TEST(CodecSizing, GatewayAndConferenceChannelsOfTheShippedTablesOpenWithTheCodec) {
  lhapiInit(0);
  QRN_HapiInit([](QRN_Handle, QRN_SocketMsg* m) { QRN_FreeSocketMsg(m); }, nullptr);
  VHD_gArchive = VHD_gDefaultArchive;
  VHD_gNumArchives = VHD_NUM_DEFAULT_ARCHIVES;
  std::printf("codec instance %u bytes, encoder pool %u words, jitter buffer %u words\n", pvecodecarc.instMemSize,
              codecHeavyPoolWords(), pveTablesInit().decJbWords);
  // Every usable code: its decoder instance and a queue of whole payload slots fit the jitter
  // buffer's memory, and a slot holds what the wrapper copies out of it.
  const PVE_SIZE_TABLES& t = pveTablesInit();
  for (unsigned code = 0; code < HAPI_PKT_VC_ALG_MAX; ++code) {
    if (t.pveEncPoolSize[code] == 0) continue;
    const unsigned alg = hsgpvealg[code];
    EXPECT_GE(t.decPktSize[code], vocoderDecCopyBytes(alg)) << code;
    EXPECT_GE(t.decPktSize[code], hsgpvepktsize[code]) << code;
    EXPECT_GE(t.decInstSize[code] * 2u, PVE_DEC_HDR_BYTES + vocoderDecStateBytes(alg)) << code;
    const unsigned slots = (t.decJbWords - t.decInstSize[code]) / ((t.decPktSize[code] + 1) / 2 + 5);
    EXPECT_GE(slots, 4u) << code;
    std::printf("code %2u: decoder %5u words, slot %4u bytes, %4u slots; encoder %5u words, pool %5u\n", code,
                t.decInstSize[code], t.decPktSize[code], slots, t.pveEncInstSize[code], t.pveEncPoolSize[code]);
  }
  for (uint16_t type : {HAPI_GATEWAY_VHD, HAPI_CONFERENCE_VHD}) {
    ASSERT_EQ(VHD_OpenInstance(kVhd, type), 1) << type;
    QRN_Socket* socket = VHD_GetInstance(kVhd)->socket;
    bool codecBuilt = false;
    for (uint16_t i = 0; i < socket->numServiceEntries; ++i) {
      const QRN_Service& srv = socket->service[i];
      if (srv.archive != nullptr && srv.archive->srvId == HAPI_CODEC_SRV) codecBuilt = srv.serviceData != nullptr;
    }
    EXPECT_TRUE(codecBuilt) << "no instance memory for the codec service in channel type " << type;
    VHD_CloseInstance(kVhd);
  }
}

}  // namespace
}  // namespace codectest

namespace codectest {
namespace {

class LiteCodecTest : public CodecTest {
 protected:
  LiteCodecTest() : CodecTest(true) {}
};

TEST_F(LiteCodecTest, LightInstanceRunsOnlyTheSmallestEncoders) {
  EXPECT_LT(pvecodeclitearc.instMemSize, pvecodecarc.instMemSize);
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  for (uint16_t code : {4, 6, 16, 25}) {
    world().host.clear();
    command(HAPI_CODEC_SETVOICERATE_CMD, code, 160);
    tick(2);
    const std::vector<HostMsg> exc = events(HAPI_CODEC_EXCEPTION_EVT);
    ASSERT_EQ(exc.size(), 1u) << code;
    EXPECT_EQ(exc[0].op1, PVE_EXC_ENC_UNAVAILABLE);
    EXPECT_EQ(exc[0].op2, code);
  }
  world().signal = [](uint64_t n) { return static_cast<int16_t>(4000 * std::sin(n * 0.3)); };
  world().host.clear();
  command(HAPI_CODEC_SETVOICERATE_CMD, 1, 160);
  command(HAPI_CODEC_ENCSTART_CMD, 1, 0);
  tick(20);
  EXPECT_TRUE(events(HAPI_CODEC_EXCEPTION_EVT).empty());
  EXPECT_FALSE(packets().empty());
}

}  // namespace
}  // namespace codectest
