// Resource manager, VHD table, switchboard and HAL shim, driven through resource-manager commands
// and ticks.
#include <gtest/gtest.h>

#include <array>

#include "halshim/halshim.h"
#include "qrn/qrn_internal.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "vexa_test_util.h"

namespace {

using namespace vexa_test;

constexpr QRN_Handle kGw = HAPIVHD0;
constexpr QRN_Handle kLine = HAPIVHD0 + 1;

// A resource-manager command as the host sends it; returns the response's result (or 99).
int resman(uint16_t header, uint16_t op1, uint16_t op2, HSFSRVID sender = HAPI_HOST_SRV) {
  const size_t before = hostLog().size();
  QRN_QueueStdObdMsg(HAPIRESMAN, header, op1, op2, sender, HAPI_RM_SRV, 77, QRN_MsgFlagGenResponse);
  tick();
  for (size_t i = before; i < hostLog().size(); ++i) {
    if (hostLog()[i].flags & QRN_MsgFlagResponse) return hostLog()[i].result;
  }
  return 99;
}

int openVhd(QRN_Handle handle, uint16_t type) {
  HAPI_RM_OPEN_VHD_INFO info{handle, type, {0, 0, 0}};
  const size_t before = hostLog().size();
  QRN_QueueExtObdMsg(HAPIRESMAN, HAPI_RM_OPEN_VHD_CMD, &info, sizeof(info), HAPI_HOST_SRV,
                     HAPI_RM_SRV, 1, QRN_MsgFlagGenResponse, HAPIVHD_HOST);
  tick();
  for (size_t i = before; i < hostLog().size(); ++i) {
    if (hostLog()[i].flags & QRN_MsgFlagResponse) return hostLog()[i].result;
  }
  return 99;
}

const HostMsg* lastError() {
  for (auto it = hostLog().rbegin(); it != hostLog().rend(); ++it) {
    if (it->header == HAPI_RM_ERROR_EVT) return &*it;
  }
  return nullptr;
}

class ResmanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    startFramework();
    start_ = poolCounts();
  }
  void TearDown() override {
    for (unsigned i = 0; i < VHD_NUM_INSTANCES; ++i) {
      if (VHD_GetInstance(HAPIVHD0 + i) != nullptr) resman(HAPI_RM_CLOSE_VHD_CMD, HAPIVHD0 + i, 0);
    }
    tick(2);
    EXPECT_EQ(poolCounts(), start_);
  }
  PoolCounts start_{};
};

TEST_F(ResmanTest, OpensChannelsWithTheirDefaultsAndRefusesBadOpens) {
  ASSERT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), 0);
  ASSERT_EQ(openVhd(kLine, HAPI_LINE_ECAN_VHD), 0);
  QRN_Socket* gw = QRN_FindSocket(kGw);
  QRN_Socket* line = QRN_FindSocket(kLine);
  EXPECT_EQ(gw->egress->recvMask, 0x1902u);
  EXPECT_EQ(gw->ingress->recvMask, 0x221Bu);
  EXPECT_EQ(gw->ingress->mode, QRN_NARROWBAND_MODE);
  EXPECT_EQ(line->ingress->frameSize, 80);
  EXPECT_EQ(line->egress->mode, QRN_WIDEBAND_MODE);
  EXPECT_EQ(line->ingress->recvMask, 0x680u);
  EXPECT_EQ(gw->currStackArchive->stackId, 1);

  EXPECT_EQ(openVhd(0x52, HAPI_PHONE_VHD), -1);
  ASSERT_NE(lastError(), nullptr);
  EXPECT_EQ(lastError()->op1, HAPI_RM_ERR_UNKNOWN_VHD);
  EXPECT_EQ(lastError()->op2, HAPI_PHONE_VHD);
  EXPECT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), -1);
  EXPECT_EQ(lastError()->op1, HAPI_RM_ERR_VHD_ALREADY_OPEN);
  for (unsigned i = 2; i < VHD_NUM_INSTANCES; ++i) ASSERT_EQ(openVhd(HAPIVHD0 + i, HAPI_PSTN_VHD), 0);
  EXPECT_EQ(openVhd(HAPIVHD0 + 25, HAPI_PSTN_VHD), -1);  // a 26th channel
  EXPECT_EQ(lastError()->op1, HAPI_RM_ERR_VHD_OPEN_FAILED);
  // A short open request is refused without being read.
  uint16_t shortInfo = kGw;
  QRN_QueueExtObdMsg(HAPIRESMAN, HAPI_RM_OPEN_VHD_CMD, &shortInfo, 2, HAPI_HOST_SRV, HAPI_RM_SRV, 2,
                     QRN_MsgFlagGenResponse, HAPIVHD_HOST);
  tick();
  // The last answer (the gateway channel's raw PCM data reaches the host too while no codec
  // service takes it).
  const HostMsg* answer = nullptr;
  for (const HostMsg& m : hostLog()) {
    if (m.flags & QRN_MsgFlagResponse) answer = &m;
  }
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->result, -1);
}

TEST_F(ResmanTest, TheFullBoardFitsTheFrameworkHeap) {
  // Eight line channels, eight gateway and eight conference channels and a PSTN channel.
  EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, 4050);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, 500);
  uint16_t h = HAPIVHD0;
  for (uint16_t type : {HAPI_LINE_ECAN_VHD, HAPI_GATEWAY_VHD, HAPI_CONFERENCE_VHD}) {
    for (int i = 0; i < 8; ++i) ASSERT_EQ(openVhd(h++, type), 0) << "type " << type << " #" << i;
  }
  ASSERT_EQ(openVhd(h, HAPI_PSTN_VHD), 0);
  tick(4);
}

TEST_F(ResmanTest, FrameSizesProcessingOnOffAndUnknownCommands) {
  ASSERT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), 0);
  QRN_Socket* s = QRN_FindSocket(kGw);
  EXPECT_EQ(resman(HAPI_RM_SET_FRAMESIZE_CMD, kGw, 0x1050), 0);
  EXPECT_EQ(s->ingress->frameSize, 80);
  EXPECT_EQ(s->egress->mode, QRN_WIDEBAND_MODE);
  EXPECT_EQ(s->ingress->recvMask, 0x261Bu);  // wideband keeps the high band
  EXPECT_EQ(s->ingress->thread->priority, -(3 * 256) - 80);
  EXPECT_EQ(resman(HAPI_RM_SET_FRAMESIZE_CMD, kGw, 0x0028), 0);
  EXPECT_EQ(s->egress->frameSize, 40);
  EXPECT_EQ(s->egress->thread->priority, 3 * 256 - 40);

  EXPECT_EQ(resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0000), 0);  // both stop
  EXPECT_EQ(s->ingress->frameSize, 0);
  EXPECT_EQ(s->egress->thread->state, KNL_STATE_SUSPENDED);
  EXPECT_EQ(resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0000), 0);  // stopping twice keeps the size
  EXPECT_EQ(resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0101), 0);  // only ingress resumes
  EXPECT_EQ(s->ingress->frameSize, 40);
  EXPECT_EQ(s->egress->frameSize, 0);
  EXPECT_EQ(resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0001), 0);  // both run
  EXPECT_EQ(s->egress->frameSize, 40);
  EXPECT_EQ(s->ingress->frameSize, 40);
  EXPECT_EQ(resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0200), 0);  // only egress stops
  EXPECT_EQ(s->egress->frameSize, 0);
  EXPECT_EQ(s->ingress->frameSize, 40);
  {
    AssertCounter asserts;
    EXPECT_EQ(resman(HAPI_RM_SET_FRAMESIZE_CMD, kGw, 60), 0);  // not a multiple of 40
    EXPECT_EQ(asserts.stop(), 2);                              // once per direction
  }
  EXPECT_EQ(resman(0x8008, 0, 0), -1);
  EXPECT_EQ(resman(0x81B0, 0, 0), HAPI_ERR_UNKNOWN_MESSAGE);
  const size_t before = hostLog().size();
  resman(HAPI_RM_PROC_ONOFF_CMD, kGw, 0x0001, HAPI_NO_RESP_SRV);
  EXPECT_EQ(hostLog().size(), before);  // sender 255: no response
}

// Every source entry of the switchboard's list is found where it stands.
void expectEverySourceFound() {
  const SWB_Port* list = SWB_gConnectionList.list;
  for (int i = 0; list[i].handle != SWB_END_MARKER; i += 1 + list[i].numOfDest) {
    EXPECT_EQ(SWB_FindSourcePort(SWB_Port{list[i].handle, list[i].direction, 0}), i) << std::hex << list[i].handle;
  }
}

TEST_F(ResmanTest, SwitchboardListsConnectionsAndRemovesAClosedChannel) {
  ASSERT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), 0);
  ASSERT_EQ(openVhd(kLine, HAPI_LINE_ECAN_VHD), 0);
  const SWB_Port port0{0, HAPI_SWB_TOS, 0};
  const SWB_Port lineBottom{kLine, HAPI_SWB_BOS, 0};
  ASSERT_EQ(SWB_ConnectSimplex(port0, lineBottom), 1);
  ASSERT_EQ(SWB_ConnectSimplex(port0, lineBottom), 1);  // twice: one entry
  ASSERT_EQ(SWB_ConnectSimplex(lineBottom, port0), 1);
  EXPECT_EQ(SWB_gConnectionList.portsUsed, 5);
  // Fill the list: hardware ports 2..7 as sources, each with up to 16 port destinations.
  for (uint16_t src = 2; src < 8 && SWB_gConnectionList.portsUsed < 99; ++src) {
    for (uint16_t d = 0; d < 16 && SWB_gConnectionList.portsUsed < 99; ++d) {
      ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{src, HAPI_SWB_BOS, 0},
                                   SWB_Port{static_cast<uint16_t>(d % 8), static_cast<uint8_t>(d / 8), 0}),
                1);
    }
  }
  ASSERT_EQ(SWB_gConnectionList.portsUsed, 99);
  EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{kLine, HAPI_SWB_TOS, 0}, port0), 0);  // no new source
  EXPECT_EQ(SWB_ConnectSimplex(port0, SWB_Port{kGw, HAPI_SWB_BOS, 0}), 1);   // a new destination
  EXPECT_EQ(SWB_gConnectionList.portsUsed, 100);
  EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{0x5F, HAPI_SWB_TOS, 0}, port0), 0);  // no such channel
  EXPECT_EQ(lastError()->op1, HAPI_RM_ERR_UNKNOWN_DEV);
  expectEverySourceFound();
  EXPECT_EQ(resman(HAPI_RM_CLOSE_VHD_CMD, kLine, 0), 0);
  for (int i = 0; SWB_gConnectionList.list[i].handle != SWB_END_MARKER; ++i) {
    EXPECT_NE(SWB_gConnectionList.list[i].handle, kLine);
  }
  EXPECT_EQ(SWB_FindSourcePort(lineBottom), -1);
  expectEverySourceFound();
  // Taking out the first source moves every later one up the list.
  ASSERT_EQ(SWB_gConnectionList.list[0].handle, 0);
  const int numDest = SWB_gConnectionList.list[0].numOfDest;
  for (int d = numDest; d >= 1; --d) ASSERT_EQ(SWB_DisconnectSimplex(port0, SWB_gConnectionList.list[d]), 1);
  EXPECT_EQ(SWB_FindSourcePort(port0), -1);
  expectEverySourceFound();
  // Port 2 of a second processor shares its low byte with port 2 of the first.
  const SWB_Port secondPort2{0x0102, HAPI_SWB_BOS, 0};
  EXPECT_EQ(SWB_FindSourcePort(secondPort2), -1);
  ASSERT_EQ(SWB_ConnectSimplex(secondPort2, port0), 1);
  EXPECT_GT(SWB_FindSourcePort(secondPort2), 0);
  expectEverySourceFound();
  EXPECT_EQ(resman(HAPI_RM_CLOSE_VHD_CMD, kGw, 0), 0);
}

TEST_F(ResmanTest, DataToThreeDestinationsSharesOneBlockUntilTheLastIsDone) {
  ASSERT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), 0);
  for (uint16_t port : {0, 1, 2}) {
    halShimCfgDevice(port, 1, 0);
    ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kGw, HAPI_SWB_BOS, 0}, SWB_Port{port, HAPI_SWB_TOS, 0}), 1);
  }
  halShimProcessMessagesInHal();
  const int extFree = QRN_gHapiExtDataBufPool.numFreeBuf;
  std::array<int16_t, 40> block;
  block.fill(1234);
  const auto sendBlock = [&block] {
    QRN_SocketMsg* msg = QRN_AllocSocketMsg();
    msg->id.mask = 0x200;
    msg->msgFlags = QRN_MsgFlagIbdEgress;
    ASSERT_EQ(QRN_AllocSocketMsgExtData(msg, block.data(), sizeof(block), kGw), 1);
    ASSERT_EQ(SWB_IbdRecv(kGw, msg), 1);
  };
  sendBlock();
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree - 1);
  std::array<int16_t, 40> out{};
  for (unsigned port : {0u, 1u, 2u}) {
    halShimEgress(out.data(), port);
    EXPECT_EQ(out, block);
    halShimEgress(out.data(), port);  // the block is used up and released
    EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, port < 2 ? extFree - 1 : extFree);
  }
  // Closing the channel takes its paths away: the block its ports still hold goes at the HAL's
  // next pass of its commands, before any of them plays it.
  sendBlock();
  EXPECT_EQ(resman(HAPI_RM_CLOSE_VHD_CMD, kGw, 0), 0);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree - 1);
  halShimProcessMessagesInHal();
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree);
}

// A block its destination refuses is reported to the host, whose handling may change the
// connections before the next block of the same batch: that block goes by the list as it is then.
TEST_F(ResmanTest, ABatchOfBlocksGoesByTheConnectionsAsTheHostLeavesThem) {
  constexpr QRN_Handle kGone = 0x5F;  // no channel has it
  static QRN_HostMsgCallback recorder;
  recorder = QRN_gHostMsgCallback;
  ASSERT_EQ(openVhd(kGw, HAPI_GATEWAY_VHD), 0);
  ASSERT_EQ(openVhd(kLine, HAPI_LINE_ECAN_VHD), 0);
  ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kLine, HAPI_SWB_TOS, 0}, SWB_Port{kGw, HAPI_SWB_BOS, 0}), 1);
  ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kGw, HAPI_SWB_BOS, 0}, SWB_Port{kLine, HAPI_SWB_BOS, 0}), 1);
  SWB_gConnectionList.list[3].handle = kGone;  // its channel went behind the switchboard's back
  QRN_gHostMsgCallback = [](QRN_Handle handle, QRN_SocketMsg* msg) {
    if (msg->msg.std.header == HAPI_RM_ERROR_EVT) SWB_RemoveHandle(kGone);
    recorder(handle, msg);
  };
  const PoolCounts before = poolCounts();
  std::array<int16_t, 40> data{};
  const QRN_IbdBlock blocks[] = {{0x200, data.data()}, {0x200, data.data()}, {0x400, data.data()}};
  // The first is handed on (and freed where it fails); the others have no path left.
  EXPECT_EQ(qrnOfferIbdCopies(SWB_IbdRecv, kGw, kGw, QRN_MsgFlagIbdEgress, blocks, sizeof(data)), 1);
  QRN_gHostMsgCallback = recorder;
  EXPECT_EQ(poolCounts(), before);
  ASSERT_NE(lastError(), nullptr);
  EXPECT_EQ(lastError()->op2, kGone);
  EXPECT_EQ(SWB_FindSourcePort(SWB_Port{kGw, HAPI_SWB_BOS, 0}), -1);
  EXPECT_EQ(SWB_FindSourcePort(SWB_Port{kLine, HAPI_SWB_TOS, 0}), 0);
}

TEST_F(ResmanTest, HalShimPortsSendBlocksAndReportOneUnderrun) {
  EXPECT_EQ(halShimCfgDevice(8, 1, 0), -1);
  halShimCfgDevice(0, 1, 0);
  halShimCfgDevice(1, 1, 1);
  ASSERT_EQ(openVhd(kLine, HAPI_LINE_ECAN_VHD), 0);
  ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{0, HAPI_SWB_TOS, 0}, SWB_Port{kLine, HAPI_SWB_BOS, 0}), 1);
  ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{1, HAPI_SWB_TOS, 0}, SWB_Port{kLine, HAPI_SWB_BOS, 0}), 1);
  QRN_Socket* line = QRN_FindSocket(kLine);
  std::array<int16_t, 80> in{};
  halShimIngress(in.data(), 0);
  halShimIngress(in.data(), 1);
  ASSERT_EQ(line->ingress->hostdataQ.count, 3u);  // one narrowband block, two wideband blocks
  auto* first = static_cast<QRN_SocketMsg*>(MEM_QueueHead(&line->ingress->hostdataQ));
  EXPECT_EQ(first->id.mask, 0x200u);
  EXPECT_EQ(static_cast<QRN_SocketMsg*>(MEM_QueueNext(first))->id.mask, 0x400u);

  // Port 2 plays one block, then underruns: zeros and a single report.
  halShimCfgDevice(2, 1, 0);
  hostLog().clear();
  std::array<int16_t, 40> block;
  block.fill(-5);
  std::array<int16_t, 40> out{};
  for (int k = 0; k < 2; ++k) {
    QRN_SocketMsg* m = QRN_AllocSocketMsg();
    m->id.mask = 0x200;
    m->msgFlags = QRN_MsgFlagIbdEgress;
    QRN_AllocSocketMsgExtData(m, block.data(), sizeof(block), kLine);
    QRN_QueueMsg(2, m);
  }
  halShimEgress(out.data(), 2);
  EXPECT_EQ(out, block);
  // A flush drops what is queued; the next tick starts from the next block that arrives.
  halShimSendFlushInfo(2, HALSHIM_FLUSH_CMD, 0);
  for (int k = 0; k < 4; ++k) {
    halShimEgress(out.data(), 2);
    EXPECT_EQ(out, (std::array<int16_t, 40>{}));
  }
  int underruns = 0;
  for (const HostMsg& m : hostLog()) underruns += m.header == HAPI_RM_HAL_UNDERRUN_EVT;
  EXPECT_EQ(underruns, 0);  // a flush disarms the report
  QRN_SocketMsg* m = QRN_AllocSocketMsg();
  m->id.mask = 0x200;
  m->msgFlags = QRN_MsgFlagIbdEgress;
  QRN_AllocSocketMsgExtData(m, block.data(), sizeof(block), kLine);
  QRN_QueueMsg(2, m);
  for (int k = 0; k < 5; ++k) halShimEgress(out.data(), 2);
  for (const HostMsg& h : hostLog()) underruns += h.header == HAPI_RM_HAL_UNDERRUN_EVT;
  EXPECT_EQ(underruns, 1);
  EXPECT_EQ(out, (std::array<int16_t, 40>{}));
  halShimIngress(in.data(), 7);  // an unconfigured port sends nothing
  for (uint16_t p : {0, 1, 2}) halShimSendFlushInfo(p, HALSHIM_FLUSH_CMD, 0);
}

}  // namespace
