// Conference points: peers' blocks mixed sample-aligned into the frame, surplus carried over,
// and the bands a channel sends.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "conf/conf.h"
#include "halshim/halshim.h"
#include "probe_services.h"
#include "swb/swb.h"
#include "vexa_test_util.h"

namespace {

using namespace vexa_test;

constexpr HAPISRVID kProbe = 0x20;
constexpr QRN_Handle kVhd = HAPIVHD0;
constexpr QRN_Handle kListener = HAPIVHD0 + 1;

const HSFSRVARC probeArcRecord = probeArc(kProbe);
const QRN_ServiceArchive confStack[] = {{&conftosarc, 1, 0}, {&probeArcRecord, 1, 0}};
const QRN_StackArchive stacks[] = {{1, 40, confStack, 2}};
const QRN_SocketConfig narrowConfig = {0, 4096, stacks, 1, 1, 0, 0x600, 0x600, 0, 0, 240, 240};
const QRN_SocketConfig wideConfig = {0,    4096, stacks, 1,   1,  HAPI_VHDOPT_DEFAULT_WIDEBAND,
                                     0x600, 0x600, 0,    0, 480, 480};
const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 2, &narrowConfig},
                                {HAPI_CONFERENCE_VHD, 2, &wideConfig}};

std::vector<int16_t> lastEgressFrame;

void sendBlock(QRN_Handle from, int16_t value, HSF_IBD_MASK mask = 0x200) {
  std::array<int16_t, 40> block;
  block.fill(value);
  QRN_QueueExtIbdMsg(kVhd, 0, block.data(), sizeof(block), mask, QRN_MsgFlagIbdEgress, from);
}

class ConfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probes() = ProbeWorld{};
    startFramework(archives, 2);
    start_ = poolCounts();
    probes().behaviour[kProbe].egress = [](ProbeState&) {
      const int16_t* low = QRN_CurrentSocket()->memDesc[HSF_MEDQ_LOWBAND];
      lastEgressFrame.assign(low, low + hsfFrmPeriodGet());
    };
  }
  void TearDown() override {
    for (QRN_Handle h : {kVhd, kListener}) {
      if (VHD_GetInstance(h) != nullptr) VHD_CloseInstance(h);
    }
    EXPECT_EQ(poolCounts(), start_);
  }
  PoolCounts start_{};
};

TEST_F(ConfTest, PeersAreMixedIntoTheSameFrameAndSurplusWaitsForTheNext) {
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick();
  sendBlock(0x51, 100);
  sendBlock(0x52, 7);
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 107));
  sendBlock(0x51, 1);
  sendBlock(0x51, 2);
  sendBlock(0x52, 30000);
  sendBlock(0x53, 30000);  // the sum saturates
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 32767));
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 2));
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 0));
  // A narrowband channel does not take high-band blocks.
  sendBlock(0x51, 5, 0x400);
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 0));
}

TEST_F(ConfTest, PeersBeyondTheSourceListAreIgnoredAndTheirBlocksFreed) {
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick();
  // Every peer sends 1; the first CONF_NUM_SOURCES peers are heard, the two after them are not,
  // and a second block of an early peer waits for the next frame.
  for (unsigned i = 0; i < CONF_NUM_SOURCES + 2; ++i) sendBlock(static_cast<QRN_Handle>(0x100 + i), 1);
  sendBlock(0x100, 5);
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, static_cast<int16_t>(CONF_NUM_SOURCES)));
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 5));
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 0));
  // Blocks carrying the free marker as their source share the list's first free entry, also when
  // a real peer takes an entry between them: the first is heard, the second waits a frame.
  sendBlock(HAPIVHD_INVALID, 3);
  sendBlock(0x51, 100);
  sendBlock(HAPIVHD_INVALID, 4);
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 103));
  tick();
  EXPECT_EQ(lastEgressFrame, std::vector<int16_t>(40, 4));
}

TEST_F(ConfTest, ClosingFreesBlocksStillWaiting) {
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick();
  for (int i = 0; i < 5; ++i) sendBlock(0x51, 1);
  tick();
  EXPECT_LT(QRN_gHapiExtDataBufPool.numFreeBuf, start_.extFree);
  VHD_CloseInstance(kVhd);  // TearDown checks every block came back
}

// Blocks sent where no path leads, or to a hardware port that does not play their band, are
// dropped; whether or not copies of them are made, the pools end as the copies would leave them:
// every dropped block back, each low-water mark one block below what the played blocks hold.
TEST_F(ConfTest, BlocksDroppedOnTheirWayLeaveThePoolsAsTheirCopiesWould) {
  const auto markLowWater = [] {
    for (MEM_BufPool* pool : {&QRN_gHapiMsgBufPool, &QRN_gHapiExtDataBufPool}) pool->lowWaterMark = pool->numFreeBuf;
  };
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick();
  markLowWater();
  PoolCounts before = poolCounts();
  tick(3);
  EXPECT_EQ(poolCounts(), before);
  EXPECT_EQ(QRN_gHapiMsgBufPool.lowWaterMark, before.msgFree - 1);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.lowWaterMark, before.extFree - 1);
  VHD_CloseInstance(kVhd);

  // A wideband channel sends one low-band and two high-band blocks a frame: a narrowband port plays
  // the low band, a wideband one the high band. Towards two ports a block is duplicated, and a
  // dropped one's copies are in use together: two message records, one shared data block.
  struct Case {
    std::vector<unsigned> widebandPorts, narrowbandPorts;
    int msgHeld, extHeld, msgBrief, extBrief;  // per 3 frames held; at once for a dropped block
  };
  const Case cases[] = {{{}, {3}, 3, 3, 1, 1}, {{3}, {}, 6, 6, 0, 0}, {{}, {3, 4}, 6, 3, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.msgHeld * 10 + c.extHeld);
    ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_CONFERENCE_VHD), 1);
    std::vector<unsigned> ports;
    for (const bool wide : {false, true}) {
      for (unsigned port : wide ? c.widebandPorts : c.narrowbandPorts) {
        halShimCfgDevice(port, 1, wide);
        ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kVhd, HAPI_SWB_TOS, 0}, SWB_Port{static_cast<uint16_t>(port), HAPI_SWB_TOS, 0}), 1);
        ports.push_back(port);
      }
    }
    halShimProcessMessagesInHal();  // the connections' flushes of the ports
    tick();
    for (unsigned port : ports) halShimSendFlushInfo(port, HALSHIM_FLUSH_CMD, 0);
    markLowWater();
    before = poolCounts();
    tick(3);
    int queued = 0;
    for (unsigned port : ports) queued += static_cast<int>(gHalShimDevices[port].egressPort.dataQ.count);
    EXPECT_EQ(queued, c.msgHeld);
    EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, before.msgFree - c.msgHeld);
    EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, before.extFree - c.extHeld);
    EXPECT_EQ(QRN_gHapiMsgBufPool.lowWaterMark, before.msgFree - c.msgHeld - c.msgBrief);
    EXPECT_EQ(QRN_gHapiExtDataBufPool.lowWaterMark, before.extFree - c.extHeld - c.extBrief);
    VHD_CloseInstance(kVhd);
    halShimProcessMessagesInHal();  // the ports let go of what they held
    for (unsigned port : ports) halShimCfgDevice(port, 0, 0);
  }
}

TEST_F(ConfTest, SendsTheLowBandAndTheHighBandWhenTheChannelHasOne) {
  // The channel's top point feeds a listener channel's bottom, where a probe counts the types.
  static const QRN_ServiceArchive listenStack[] = {{&probeArcRecord, 1, 0}};
  static const QRN_StackArchive listenStacks[] = {{1, 40, listenStack, 1}};
  static const QRN_SocketConfig listenConfig = {0,     4096, listenStacks, 1, 1, 0x4,
                                                0x600, 0x600, 0,           0, 480, 480};
  static const VHD_Archive table[] = {archives[0], archives[1], {HAPI_PSTN_VHD, 2, &listenConfig}};
  VHD_gArchive = table;
  VHD_gNumArchives = 3;
  int low = 0, high = 0;
  probes().behaviour[kProbe].ingress = [&](ProbeState& s) {
    if (QRN_CurrentSocket()->handle != kListener) return;
    HSFMSG m{};
    while (const HSF_IBD_MASK got = hsfIbdPeekOrRecv(0x600, &m, 0, HSF_IBD_RECEIVE)) {
      (got == 0x200 ? low : high) += 1;
    }
    (void)s;
  };
  for (uint16_t type : {HAPI_GATEWAY_VHD, HAPI_CONFERENCE_VHD}) {
    SCOPED_TRACE(type);
    ASSERT_EQ(VHD_OpenInstance(kVhd, type), 1);
    ASSERT_EQ(VHD_OpenInstance(kListener, HAPI_PSTN_VHD), 1);
    ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kVhd, HAPI_SWB_TOS, 0}, SWB_Port{kListener, HAPI_SWB_BOS, 0}), 1);
    low = high = 0;
    tick(4);
    EXPECT_GE(low, 3);
    EXPECT_EQ(high, type == HAPI_CONFERENCE_VHD ? 2 * low : 0);
    VHD_CloseInstance(kVhd);
    VHD_CloseInstance(kListener);
  }
}

}  // namespace
