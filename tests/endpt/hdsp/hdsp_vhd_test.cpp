// Opening and wiring the VHDs of an endpoint, and the register operations of a channel, checked
// by what the channel holds afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <utility>
#include <thread>
#include <vector>

#include "dsp_standin.h"
#include "hapi/hapi.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "hdspVhd.h"
#include "pte/pte_regs.h"
#include "swb/swb.h"
#include "vrgProv.h"

using namespace standin;

namespace {

using StdOps = std::pair<uint16_t, uint16_t>;

void provision(int line, EPPROV item, int value) { ASSERT_EQ(endptProvSetValue(line, item, &value, 4), EPSTATUS_SUCCESS); }

uint16_t openGateway(uint16_t egressVolume = 0) {
  uint16_t vhd = 0;
  EXPECT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0x5, 30, static_cast<int16_t>(egressVolume), &vhd, 0), 0);
  return vhd;
}

class HdspVhd : public HostDspTest {};

TEST_F(HdspVhd, InitVhdsLeavesAProgrammedLineChannelWiredToItsPort) {
  makeEndpoints(2, EPTYPE_FXS);
  provision(1, EPPROV_PteDetectAdmin, 0x9);
  provision(1, EPPROV_PteMinDetectPower, 35);
  provision(1, EPPROV_TxGain, 3);
  provision(1, EPPROV_RxGain, -6);
  VRG_ENDPT& e = vrgEndpt[1];
  ASSERT_EQ(InitVhds(&e, nullptr), EPSTATUS_SUCCESS);
  ASSERT_NE(e.lineVhdHdl, HAPIVHD_INVALID);
  EXPECT_EQ(e.qrnHalHdl, 1);
  EXPECT_TRUE(hasPath(e.lineVhdHdl, HAPI_SWB_BOS, 1, HAPI_SWB_TOS));
  EXPECT_TRUE(hasPath(1, HAPI_SWB_TOS, e.lineVhdHdl, HAPI_SWB_BOS));
  EXPECT_EQ(pathCount(), 2);

  sync(e.lineVhdHdl);
  const uint16_t vhd = e.lineVhdHdl;
  const auto pte = dsp.record<HAPI_PTE_REGS>(vhd, HAPI_PTE_SRV, HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_GETREGS_CMD));
  EXPECT_EQ(pte.detectAdmin, 0x9);
  EXPECT_EQ(pte.minDetectPower, 35);  // no line loss on this board
  const Service pteSrv = dsp.service(vhd, HAPI_PTE_SRV);
  EXPECT_EQ(pteSrv.lastStd.at(hdsp::HAPI_PTE_ENABLE_CMD), StdOps(1, 0x22));
  const std::vector<uint8_t> filter = pteSrv.lastExt.at(hdsp::HAPI_PTE_FILTER_CMD);
  ASSERT_EQ(filter.size(), sizeof(HAPI_PTE_FILTER));
  HAPI_PTE_FILTER f{};
  std::memcpy(&f, filter.data(), sizeof(f));
  EXPECT_EQ(f.filterDigit, 0xFFFF);
  EXPECT_EQ(f.longDetectTime, 20);
  EXPECT_EQ(dsp.service(vhd, HAPI_LINE_SRV).lastStd.at(hdsp::LINE_HPF_CMD).first, 1);

  // The canceller starts off; the provisioned gains sit in its registers in dB x 256.
  const Service hec = dsp.service(vhd, HAPI_HEC_SRV);
  EXPECT_EQ(hec.lastStd.at(hdsp::HAPI_HEC_ENABLE_CMD).first, 0);
  const std::vector<uint8_t>& regs = hec.records.at(HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_GETREGS_CMD));
  int16_t gain = 0, volume = 0;
  std::memcpy(&gain, &regs[hdsp::HEC_REG_GAINDB], 2);
  std::memcpy(&volume, &regs[hdsp::HEC_REG_VOLUMEDB], 2);
  EXPECT_EQ(gain, 3 * 256);
  EXPECT_EQ(volume, -6 * 256);
  EXPECT_EQ(e.ecanState.currState, ECAN_OFF);
  EXPECT_EQ(e.txGain, 3);
}

TEST_F(HdspVhd, FxoEndpointChainsItsPstnChannelAboveTheLineChannel) {
  makeEndpoints(1, EPTYPE_PSTN);
  VRG_ENDPT& e = vrgEndpt[0];
  ASSERT_EQ(InitVhds(&e, nullptr), EPSTATUS_SUCCESS);
  ASSERT_NE(e.pstnVhdHdl, HAPIVHD_INVALID);
  EXPECT_TRUE(hasPath(e.pstnVhdHdl, HAPI_SWB_BOS, e.lineVhdHdl, HAPI_SWB_TOS));
  EXPECT_TRUE(hasPath(e.lineVhdHdl, HAPI_SWB_TOS, e.pstnVhdHdl, HAPI_SWB_BOS));
  EXPECT_TRUE(hasPath(e.lineVhdHdl, HAPI_SWB_BOS, 0, HAPI_SWB_TOS));
  sync(e.pstnVhdHdl);
  EXPECT_EQ(dsp.service(e.pstnVhdHdl, HAPI_CLIDRX_SRV).lastStd.at(hdsp::HAPI_CLIDRX_ENABLE_CMD).first, 1);
  EXPECT_EQ(GetEndptStateFromVHD(e.pstnVhdHdl), &e);
  EXPECT_EQ(GetEndptStateFromVHD(e.lineVhdHdl), &e);
}

TEST_F(HdspVhd, AnEndpointThatCannotBeWiredGivesItsChannelsBack) {
  makeEndpoints(1, EPTYPE_PSTN);
  VRG_ENDPT& e = vrgEndpt[0];
  e.endptNum = 0x77;  // no such hardware port: the switchboard refuses the path
  EXPECT_EQ(InitVhds(&e, nullptr), EPSTATUS_RESOURCES);
  EXPECT_EQ(e.lineVhdHdl, HAPIVHD_INVALID);
  EXPECT_EQ(e.pstnVhdHdl, HAPIVHD_INVALID);
  EXPECT_EQ(pathCount(), 0);
  uint16_t next = 0;
  ASSERT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0, 0, 0, &next, 0), 0);
  EXPECT_EQ(next, HAPIVHD0);
}

TEST_F(HdspVhd, AChannelTypeTheLibraryDoesNotUseIsClosedAgain) {
  uint16_t vhd = 0;
  EXPECT_EQ(hdspVhdOpen(HAPI_PHONE_VHD, nullptr, 0, 0, 0, 0, &vhd, 0), -1);
  EXPECT_EQ(vhd, HAPIVHD_INVALID);
  // The channel was given back: the next open gets the first VHD slot again.
  uint16_t next = 0;
  ASSERT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0, 0, 0, &next, 0), 0);
  EXPECT_EQ(next, HAPIVHD0);
}

TEST_F(HdspVhd, GatewayOpenProgramsDetectionAndVolume) {
  const uint16_t vhd = openGateway(1234);
  const auto pte = dsp.record<HAPI_PTE_REGS>(vhd, HAPI_NET_SRV, HAPI_NET_PTE_GETREGS_CMD);
  EXPECT_EQ(pte.detectAdmin, 0x5);
  EXPECT_EQ(pte.minDetectPower, 30);
  EXPECT_EQ(pte.pauseTime, pteNetRegsDefault().pauseTime);  // the rest of the record is kept
  EXPECT_EQ(dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD).voxregs.pveEgressVolume, 1234);
}

TEST_F(HdspVhd, VolumesAndGainsAcceptExactlyTheirRanges) {
  const uint16_t vhd = openGateway();
  EXPECT_EQ(hdspVhdSetPVEEgressVolume(vhd, 16), 0);
  EXPECT_EQ(hdspVhdSetPVEIngressVolume(vhd, -16), 0);
  EXPECT_EQ(hdspVhdSetPVEEgressVolume(vhd, 17), -1);
  EXPECT_EQ(hdspVhdSetPVEIngressVolume(vhd, -17), -1);
  const auto voice = dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD);
  EXPECT_EQ(voice.voxregs.pveEgressVolume, 25844);
  EXPECT_EQ(voice.voxregs.pveIngressVolume, 649);
  EXPECT_EQ(dBm2Q12Map[10].gainQ12, 8172);  // +6 dB
  EXPECT_EQ(dBm2Q12Map[17].gainQ12, 3650);  // -1 dB

  makeEndpoints(1, EPTYPE_FXS);
  ASSERT_EQ(InitVhds(&vrgEndpt[0], nullptr), EPSTATUS_SUCCESS);
  const uint16_t line = vrgEndpt[0].lineVhdHdl;
  EXPECT_EQ(hdspVhdSetIngressGain(line, 30), 0);
  EXPECT_EQ(hdspVhdSetIngressGain(line, 31), -1);
  EXPECT_EQ(hdspVhdSetEgressGain(line, -120), 0);
  EXPECT_EQ(hdspVhdSetEgressGain(line, -121), -1);
  const std::vector<uint8_t> regs =
      dsp.service(line, HAPI_HEC_SRV).records.at(HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_GETREGS_CMD));
  int16_t gain = 0, volume = 0;
  std::memcpy(&gain, &regs[hdsp::HEC_REG_GAINDB], 2);
  std::memcpy(&volume, &regs[hdsp::HEC_REG_VOLUMEDB], 2);
  EXPECT_EQ(gain, 7680);
  EXPECT_EQ(volume, -30720);
}

TEST_F(HdspVhd, JitterBufferAndAmrRegistersRoundTripInMilliseconds) {
  const uint16_t vhd = openGateway();
  ASSERT_EQ(hdspVhdSetJitterBuffer(vhd, 1, 20, 200, 60, 100, 0x3), 0);
  const auto regs = dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD);
  EXPECT_EQ(regs.ajbregs.jitterMin, 160);
  EXPECT_EQ(regs.ajbregs.jitterMax, 1600);
  EXPECT_EQ(regs.ajbregs.options, AJC_OPTIONS_NOADAPT);
  EXPECT_EQ(regs.ajbregs.customFeatures, 0x3);
  int fixed = 0, mn = 0, mx = 0, target = 0, data = 0;
  ASSERT_EQ(hdspVhdGetJitterBuffer(vhd, &fixed, &mn, &mx, &target, &data), 0);
  EXPECT_EQ(std::vector<int>({fixed, mn, mx, target, data}), std::vector<int>({1, 20, 200, 60, 100}));
  ASSERT_EQ(hdspVhdSetJitterBuffer(vhd, 0, 20, 200, 60, 100, 0), 0);
  ASSERT_EQ(hdspVhdGetJitterBuffer(vhd, &fixed, &mn, &mx, &target, &data), 0);
  EXPECT_EQ(fixed, 0);

  ASSERT_EQ(hdspVhdSetAmrSettings(vhd, 0, 1, 2, 40, 1), 0);
  const auto amr = dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD).voxregs.amrOptions;
  EXPECT_EQ(amr.modeSet, 0x1FF);
  EXPECT_EQ(amr.ptime, 40);
  // The jitter settings written before are still there.
  EXPECT_EQ(dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD).ajbregs.jitterMax, 1600);

  dsp.failCode(HAPI_NET_VOICE_GETREGS_CMD, HAPI_ERR_SRV_BUSY);
  EXPECT_EQ(hdspVhdSetJitterBuffer(vhd, 1, 1, 1, 1, 1, 0), -1);
  dsp.failCode(HAPI_NET_VOICE_GETREGS_CMD, 0);
  EXPECT_EQ(dsp.record<HSZVOICEREGS>(vhd, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD).ajbregs.jitterMax, 1600);
}

TEST_F(HdspVhd, VoiceCodecChangesReachTheNetRegisters) {
  const uint16_t vhd = openGateway();
  ASSERT_EQ(hdspVhdSetVoiceCodec(vhd, 6, HAPI_VAD_TYPE_BUILTIN, 240, 1), 0);
  sync(vhd);
  auto net = dsp.record<HSZNETREGS>(vhd, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD);
  EXPECT_EQ(net.hsxPacketVoiceEncoder, 6 + (2 << 8));
  EXPECT_EQ(net.hsxVoiceSuperPktInterval, 240);
  EXPECT_EQ(net.hsxVBDSuperPktInterval, 240);
  EXPECT_EQ(net.hsxNetOptions, hsnetRegsDefault().hsxNetOptions);

  ASSERT_EQ(hdspVhdSetVoiceCodec(vhd, 0, HAPI_VAD_TYPE_NONE, 160, 0), 0);
  ASSERT_EQ(hdspVhdSetVBDCodec(vhd, 1, 1), 0);
  sync(vhd);
  net = dsp.record<HSZNETREGS>(vhd, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD);
  EXPECT_EQ(net.hsxVBDSuperPktInterval, 160);
  EXPECT_EQ(net.hsxVoiceBandDefault, 1 + (1 << 8));
  EXPECT_EQ(dsp.service(vhd, HAPI_NET_SRV).lastStd.at(HAPI_NET_SETVOICERATE_CMD), StdOps(0, 160));

  dsp.failCode(HAPI_NET_SETVOICERATE_CMD, HAPIFAILURE);
  EXPECT_EQ(hdspVhdSetVoiceCodec(vhd, 9, 0, 240, 0), -1);
}

TEST_F(HdspVhd, ModeSwitchIsRetriedOnce) {
  const uint16_t vhd = openGateway();
  dsp.failCode(HAPI_NET_SETMODE_CMD, HAPI_ERR_SRV_BUSY);
  EXPECT_EQ(hdspVhdSetMode(vhd, NETMODE_PACKETVOICE, 0), HAPI_ERR_SRV_BUSY);
  EXPECT_EQ(dsp.service(vhd, HAPI_NET_SRV).count.at(HAPI_NET_SETMODE_CMD), 2);
  dsp.failCode(HAPI_NET_SETMODE_CMD, 0);
  EXPECT_EQ(hdspVhdSetMode(vhd, NETMODE_FAXRELAY, 2), 0);
  EXPECT_EQ(dsp.service(vhd, HAPI_NET_SRV).lastStd.at(HAPI_NET_SETMODE_CMD), StdOps(4, 2));
}

TEST_F(HdspVhd, SwitchboardRequestsMakeAndBreakPaths) {
  const uint16_t a = openGateway();
  const uint16_t b = openGateway();
  ASSERT_EQ(hdspRmSwitchBoardConnect(a, HAPI_SWB_BOS, b, HAPI_SWB_BOS, HAPI_SWB_DUPLEX, 1), 0);
  EXPECT_TRUE(hasPath(a, HAPI_SWB_BOS, b, HAPI_SWB_BOS));
  EXPECT_TRUE(hasPath(b, HAPI_SWB_BOS, a, HAPI_SWB_BOS));
  // Any flag but 1 asks for the disconnection.
  ASSERT_EQ(hdspRmSwitchBoardConnect(a, HAPI_SWB_BOS, b, HAPI_SWB_BOS, HAPI_SWB_DUPLEX, 2), 0);
  EXPECT_EQ(pathCount(), 0);
  EXPECT_NE(hdspRmSwitchBoardConnect(0x77, HAPI_SWB_BOS, b, HAPI_SWB_BOS, HAPI_SWB_SIMPLEX, 1), 0);

  EXPECT_EQ(hdspRmSetFramesizeAndMode(a, 80, 2), -1);
  EXPECT_EQ(hdspRmSetVhdProcessing(a, 4, 1), -1);
  EXPECT_EQ(hdspRmSetVhdProcessing(a, 1, 2), -1);
  EXPECT_EQ(hdspRmGetTotalMips(), 0);
}

TEST_F(HdspVhd, IngressPowerLevelIsClamped) {
  EXPECT_EQ(hdspVhdAdjustIngressPowerLevel(0, 200), 250);
  EXPECT_EQ(hdspVhdAdjustIngressPowerLevel(0, 300), 300);
  EXPECT_EQ(hdspVhdAdjustIngressPowerLevel(0, 900), 450);
}

TEST_F(HdspVhd, ResourceManagerErrorTexts) {
  EXPECT_STREQ(hdspRmErrText(4), "Couldn't find the indictaed Pxd");
  EXPECT_STREQ(hdspRmErrText(0xD00), "HAPI_RM_ERR_HHAPI_MSQ_SEND");
  EXPECT_EQ(hdspRmErrText(14), nullptr);
}

// The daemon's loop thread sends commands while the dispatcher does: every caller gets its own
// answer and the channel sees every command.
TEST_F(HdspVhd, CommandsFromManyThreadsAllArrive) {
  const uint16_t vhd = openGateway();
  dsp.commandsSince();
  constexpr int kThreads = 4, kEach = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (hdspSendCmd(vhd, HAPI_NET_CONFIG_SETREG1_CMD, HAPI_REQID_STD_CMD,
                        static_cast<uint16_t>(2 * t), static_cast<uintptr_t>(i)) != 0) {
          failures += 1;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(dsp.commandsSince(), kThreads * kEach);
  // Every command arrived exactly once, and each thread's in the order it sent them.
  const auto seen = dsp.service(vhd, HAPI_NET_SRV).stdSeen[HAPI_NET_CONFIG_SETREG1_CMD];
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
  for (int t = 0; t < kThreads; ++t) {
    std::vector<int> values;
    for (const auto& [offset, value] : seen) {
      if (offset == 2 * t) values.push_back(value);
    }
    std::vector<int> expected(kEach);
    for (int i = 0; i < kEach; ++i) expected[i] = i;
    EXPECT_EQ(values, expected) << "thread " << t;
  }
  const auto net = dsp.record<HSZNETREGS>(vhd, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD);
  // Each thread wrote its own register; each register holds its thread's last value.
  EXPECT_EQ(net.hsxStatsInterval, kEach - 1);
  EXPECT_EQ(net.hsxHeartbeatInterval, kEach - 1);
  EXPECT_EQ(net.hsxPxdHandle, kEach - 1);
  EXPECT_EQ(net.hsxNetOptions, kEach - 1);
}

TEST_F(HdspVhd, PacketsFromTheNetworkAreQueuedAndInertCallsSucceed) {
  const uint16_t vhd = openGateway();
  struct {
    HAPI_PKT_HDR hdr;
    uint8_t payload[4];
  } packet{{0x0100, 0, 0, 0}, {1, 2, 3, 4}};
  EXPECT_EQ(hdspSendDataPacket(vhd, &packet.hdr), 0);
  packet.hdr.payloadLength = 4;
  EXPECT_EQ(hdspSendVoicePacket(vhd, &packet.hdr), 0);
  EXPECT_EQ(hdspSendDataPacket(vhd, nullptr), HAPIFAILURE);
  EXPECT_EQ(hdspDeinit(), 0);
  EXPECT_EQ(hdspSetVbdPayloadType(&packet.hdr, 1), 0);
  EXPECT_EQ(hdspGetOperationalStatus(vhd), 0);
}

}  // namespace
