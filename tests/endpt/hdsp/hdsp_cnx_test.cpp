// Connection set-up: codec, packet time, relay and RTP registers as the channel holds them after
// the dispatcher's create sequence, and the switchboard graph of the connection modes.
#include <gtest/gtest.h>

#include <cstring>

#include "../logCapture.h"
#include "dsp_standin.h"
#include "hdspCnx.h"
#include "hdspCodes.h"
#include "hdspLine.h"
#include "hdspSb.h"
#include "hdspVhd.h"
#include "faxr/faxr_regs.h"
#include "pte/pte_regs.h"
#include "rtpCnx.h"
#include "swb/swb.h"

using namespace standin;

namespace {

using StdOps = std::pair<uint16_t, uint16_t>;

void addCodec(CODECCNXLIST& list, CODEC_TYPE type, uint8_t pt) {
  list.codecs[list.numCodecs++] = CODECDESC{type, pt, {CODEC_NULL, 0, 0}};
}

EPZCNXPARAM params(CODEC_TYPE codec, uint8_t pt, int periodMs) {
  EPZCNXPARAM p{};
  p.mode = EPCNXMODE_SNDRX;
  for (CODECCNXLIST* l : {&p.cnxParmList.send, &p.cnxParmList.recv}) {
    addCodec(*l, codec, pt);
    l->period[0] = static_cast<CODEC_PKT_PERIOD>(periodMs);
    l->numPeriods = 1;
  }
  p.digitRelayType = EPDTMFRFC2833_ENABLED;
  p.vbdparam.vbdMode = EPVBDMODE_LEGACY;
  return p;
}

class HdspCnx : public HostDspTest {
 protected:
  void SetUp() override {
    HostDspTest::SetUp();
    makeEndpoints(2, EPTYPE_FXS);
    ASSERT_EQ(InitVhds(&vrgEndpt[0], nullptr), EPSTATUS_SUCCESS);
    ASSERT_EQ(InitVhds(&vrgEndpt[1], nullptr), EPSTATUS_SUCCESS);
    for (int i = 0; i < 4; ++i) {
      uint16_t vhd = 0;
      ASSERT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0, 0, 0, &vhd, 0), 0);
      vrgCnxState[i].vhdhdl = vhd;
    }
  }

  // The create sequence of the dispatcher, from the channel's registers to the saved options.
  int create(CNXSTATE* cnx, EPZCNXPARAM& p) {
    cnx->digitRelayType = p.digitRelayType;
    GetRtpRegisters(cnx);
    InitRtpServiceRegisters(cnx);
    SetRtpServiceRegisters(cnx, p.rtcpXRMode, &p.vbdparam, &p.lbParam);
    RtpInit(&cnx->rtpstate);
    const int status = SetConnectionOptions(cnx, &p, 1);
    if (status != 0) return status;
    SetVoiceMode(cnx, VM_ACTIVE);
    SetRtcpInterval(cnx, 5000);
    SetRtpPayloadTypes(cnx, &p.cnxParmList);
    SetRtpMode(cnx, p.mode);
    ProgramRtpRegisters(cnx);
    SaveConnectionOptions(cnx, &p);
    sync(cnx->vhdhdl);
    return 0;
  }
};

TEST_F(HdspCnx, PcmuWithTelephoneEventsLeavesTheChannelReadyForG711) {
  CNXSTATE* cnx = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  EPZCNXPARAM p = params(CODEC_PCMU, 0, 20);
  addCodec(p.cnxParmList.send, CODEC_NTE, 101);
  addCodec(p.cnxParmList.recv, CODEC_NTE, 101);
  p.namedPhoneEvts = CODEC_NTE_DTMF0;
  ASSERT_EQ(create(cnx, p), 0);
  const uint16_t vhd = cnx->vhdhdl;

  const auto net = dsp.record<HSZNETREGS>(vhd, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD);
  EXPECT_EQ(net.hsxPacketVoiceEncoder & 0xFF, HAPI_PKT_VC_G711_ULAW);
  EXPECT_EQ(net.hsxVoiceSuperPktInterval, 160);
  EXPECT_EQ(net.hsxVBDSuperPktInterval, 160);
  EXPECT_EQ(net.hsxPtePacketVoiceOptions & 0x12, 0x12);  // digit relay on
  EXPECT_EQ(dsp.record<HAPI_PTE_REGS>(vhd, HAPI_NET_SRV, HAPI_NET_PTE_GETREGS_CMD).refreshInterval, 160);

  const auto rtp = dsp.record<HAPI_RTP_REGS>(vhd, HAPI_NET_SRV, HAPI_NET_RTP_GETREGS_CMD);
  for (uint16_t entry : rtp.mediaPayloadTypeMap) ASSERT_EQ(entry, (0 << 8) | 0);
  for (uint16_t entry : rtp.mediaEgressPayloadTypeMap) ASSERT_EQ(entry, (0 << 8) | 0);
  EXPECT_EQ(rtp.ntePayloadType, 101);
  EXPECT_EQ(rtp.nteEgressPayloadType, 101);
  EXPECT_EQ(rtp.rtcpPacketInterval, 5000);
  EXPECT_EQ(rtp.configFlags & 0x83, 0x83);
  EXPECT_GT(rtp.cnameLength, 0);
  const auto rtp2 = dsp.record<HAPI_RTP_REGS2>(vhd, HAPI_NET_SRV, HAPI_NET_RTP_GETREGS2_CMD);
  EXPECT_EQ(rtp2.configFlags2 & 0x3, 0);  // sends and receives
  EXPECT_EQ(dsp.service(vhd, HAPI_NET_SRV).lastStd.at(HAPI_NET_SETMODE_CMD), StdOps(NETMODE_PACKETVOICE, 0));
  EXPECT_EQ(cnx->voiceMode, VM_ACTIVE);
  EXPECT_EQ(cnx->rtpstate.sendNtePayloadType, 101);

  // The same codec, silence and packet time again: the NET registers are left alone.
  const Service before = dsp.service(vhd, HAPI_NET_SRV);
  ASSERT_EQ(SetConnectionOptions(cnx, &p, 0), 0);
  sync(vhd);
  const Service after = dsp.service(vhd, HAPI_NET_SRV);
  EXPECT_EQ(after.count.at(HAPI_NET_CONFIG_SETREGS_CMD), before.count.at(HAPI_NET_CONFIG_SETREGS_CMD));
  EXPECT_EQ(after.count.count(HAPI_NET_SETVOICERATE_CMD), 0u);
  EXPECT_FALSE(ConnectionOptionsChanged(cnx, &p));
}

TEST_F(HdspCnx, ModifyToG729WithSilenceSuppressionChangesTheEncoderOnly) {
  vrgEndptCap[0].codecCap[CODEC_G729A] = 1;
  CNXSTATE* cnx = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  EPZCNXPARAM p = params(CODEC_PCMU, 0, 20);
  ASSERT_EQ(create(cnx, p), 0);
  EPZCNXPARAM q = params(CODEC_G729, 18, 30);
  q.silence = 1;
  q.comfortNoise = 1;
  EXPECT_TRUE(ConnectionOptionsChanged(cnx, &q));
  ASSERT_EQ(SetConnectionOptions(cnx, &q, 0), 0);
  SetRtpPayloadTypes(cnx, &q.cnxParmList);
  ProgramRtpRegisters(cnx);
  sync(cnx->vhdhdl);
  const Service net = dsp.service(cnx->vhdhdl, HAPI_NET_SRV);
  // G.729 is served by the Annex A coder of this DSP; generic VAD; 30 ms.
  EXPECT_EQ(net.lastStd.at(HAPI_NET_SETVOICERATE_CMD), StdOps(HAPI_PKT_VC_G729A_8 + (1 << 8), 240));
  const auto regs = dsp.record<HSZNETREGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD);
  EXPECT_EQ(regs.hsxVBDSuperPktInterval, 240);
  const auto voice = dsp.record<HSZVOICEREGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_VOICE_GETREGS_CMD);
  EXPECT_EQ(voice.voxregs.hsxVadCngPlcOptions, 1 | (1 << 8) | (1 << 12));
  const auto rtp = dsp.record<HAPI_RTP_REGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_RTP_GETREGS_CMD);
  EXPECT_EQ(rtp.mediaPayloadTypeMap[1], (18 << 8) | HAPI_PKT_VC_G729A_8);
  EXPECT_EQ(rtp.mediaPayloadTypeMap[0], rtp.mediaPayloadTypeMap[1]);  // no PCMU offered
  EXPECT_EQ(rtp.mediaPayloadTypeMap[29], rtp.mediaPayloadTypeMap[1]);
}

TEST_F(HdspCnx, RefusedCodecsLeaveTheChannelAlone) {
  CNXSTATE* lite = bindConnection(8, 0, vrgCnxState[3].vhdhdl);
  lite->bLiteWeight = 1;
  EPZCNXPARAM p = params(CODEC_G729A, 18, 20);
  EXPECT_EQ(SetConnectionOptions(lite, &p, 1), EPSTATUS_UNSUPPORTED_MODE);
  EPZCNXPARAM unknown = params(CODEC_G711_LINEAR, 96, 20);
  CNXSTATE* cnx = bindConnection(1, 0, vrgCnxState[1].vhdhdl);
  EXPECT_EQ(SetConnectionOptions(cnx, &unknown, 1), EPSTATUS_UNSUPPORTED_MODE);
  sync(cnx->vhdhdl);
  EXPECT_EQ(dsp.service(cnx->vhdhdl, HAPI_NET_SRV).count.count(HAPI_NET_CONFIG_SETREGS_CMD), 0u);
  cnx->lineId = 7;  // a line without an endpoint
  EXPECT_EQ(SetConnectionOptions(cnx, &p, 1), EPSTATUS_ENDPT_UNKNOWN);
}

TEST_F(HdspCnx, FaxRelayConnectionProgramsT38) {
  CNXSTATE* cnx = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  cnx->lastFaxEvent = 1;
  EPZCNXPARAM p = params(CODEC_T38, 0, 30);
  p.dataMode = EPDATAMODE_T38;
  p.t38param.ecMode = EPT38EC_UDPREDUNDANCY;
  ASSERT_EQ(SetConnectionOptions(cnx, &p, 1), 0);
  sync(cnx->vhdhdl);
  const auto faxr = dsp.record<HSZFAXRREGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_FAXR_GETREGS_CMD);
  EXPECT_EQ(faxr.hsxmaxjitter, 0x104);
  EXPECT_EQ(faxr.hsxrxpacketsize, 30);
  EXPECT_EQ(dsp.service(cnx->vhdhdl, HAPI_NET_SRV).lastStd.at(HAPI_NET_SETMODE_CMD), StdOps(NETMODE_FAXRELAY, 3));
  EXPECT_EQ(dsp.record<HSZNETREGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_CONFIG_GETREGS_CMD).hsxNetOptions &
                HSNET_NET_OPTION_FAXRELAY,
            HSNET_NET_OPTION_FAXRELAY);
  EXPECT_EQ(cnx->voiceMode, VM_FAX_RELAY);
  EXPECT_EQ(cnx->bMuteT38, 0);
}

TEST(HdspPacketTime, FixedCodecsUnsupportedPeriodsAndFamilies) {
  vrgEndptCap[0].pCap[0] = 20;  // a single supported period
  vrgEndptCap[0].pCap[1] = 0;
  auto pt = [](CODEC_TYPE c, int ms) {
    EPZCNXPARAM p = params(c, 0, ms);
    return checkPacketTime(&p);
  };
  EXPECT_EQ(pt(CODEC_OPUS_WB_20, 30), 20);
  EXPECT_EQ(pt(CODEC_OPUS_NB_60, 30), 60);
  EXPECT_EQ(pt(CODEC_ISAC_30, 20), 30);
  EXPECT_EQ(pt(CODEC_PCMU, 25), 20);
  EXPECT_EQ(pt(CODEC_G7231_53, 25), 30);
  EXPECT_EQ(pt(CODEC_PCMU, 20), 20);
  vrgEndptCap[0].pCap[0] = 0x800A;  // 10 to 30 ms
  vrgEndptCap[0].pCap[1] = 30;
  EXPECT_EQ(pt(CODEC_PCMA, 10), 10);
  EXPECT_EQ(pt(CODEC_PCMA, 30), 30);
  EXPECT_EQ(pt(CODEC_PCMA, 40), 20);
}

TEST(HdspPayloadMap, EntriesAreUniquePerPayloadTypeExceptG7231) {
  vrgEndptCap[0] = EPZCAP{};
  uint16_t map[30] = {};
  EXPECT_EQ(MapRtpPayloadType(HAPI_PKT_VC_G7231_53, 4, map), 1);
  EXPECT_EQ(MapRtpPayloadType(HAPI_PKT_VC_G7231_63, 4, map), 1);  // shares type 4
  EXPECT_EQ(MapRtpPayloadType(HAPI_PKT_VC_G7231_63, 4, map), 0);  // already there
  EXPECT_EQ(map[1], (4 << 8) | 9);
  EXPECT_EQ(map[2], (4 << 8) | 10);
  EXPECT_EQ(MapRtpPayloadType(2, 96, map), 1);
  EXPECT_EQ(MapRtpPayloadType(3, 96, map), 1);  // type 96 now carries the later codec only
  EXPECT_EQ(map[3], (96 << 8) | 3);
  EXPECT_EQ(map[4], 0);
  EXPECT_EQ(MapRtpPayloadType(HAPI_PKT_VC_G729_8, 18, map), 1);
  EXPECT_EQ(map[4], (18 << 8) | HAPI_PKT_VC_G729_8);
}

TEST_F(HdspCnx, ALongCodecListFillsTheMapWithoutOverrun) {
  CNXSTATE* cnx = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  EPZCNXPARAM p = params(CODEC_PCMU, 0, 20);
  const CODEC_TYPE many[] = {CODEC_PCMA,        CODEC_G726_16,     CODEC_G726_24,     CODEC_G726_32,
                             CODEC_G726_40,     CODEC_G728,        CODEC_G729E,       CODEC_BV32,
                             CODEC_LINPCM128,   CODEC_ILBC_20,     CODEC_ILBC_30,     CODEC_GSMAMR_475,
                             CODEC_GSMAMR_515,  CODEC_GSMAMR_590,  CODEC_GSMAMR_670,  CODEC_GSMAMR_740,
                             CODEC_GSMAMR_795,  CODEC_GSMAMR_10K,  CODEC_GSMAMR_12K,  CODEC_GSMEFR,
                             CODEC_GSMFR,       CODEC_GSMHR,       CODEC_AMRWB_66,    CODEC_AMRWB_885,
                             CODEC_AMRWB_1265,  CODEC_AMRWB_1425,  CODEC_AMRWB_1585,  CODEC_AMRWB_1825,
                             CODEC_AMRWB_1985,  CODEC_AMRWB_2305,  CODEC_AMRWB_2385,  CODEC_OPUS_NB_20,
                             CODEC_OPUS_WB_20,  CODEC_ISAC_30};
  uint8_t pt = 96;
  for (CODEC_TYPE c : many) addCodec(p.cnxParmList.send, c, pt++);
  ASSERT_EQ(p.cnxParmList.send.numCodecs, 35);
  ASSERT_EQ(create(cnx, p), 0);
  const auto rtp = dsp.record<HAPI_RTP_REGS>(cnx->vhdhdl, HAPI_NET_SRV, HAPI_NET_RTP_GETREGS_CMD);
  EXPECT_EQ(rtp.mediaPayloadTypeMap[0], 0);  // the PCMU slot
  for (int i = 1; i < 30; ++i) EXPECT_EQ(rtp.mediaPayloadTypeMap[i] >> 8, 96 + i - 1) << i;
}

// ---- switchboard graph of the connection modes ----

class HdspSwitchboard : public HdspCnx {};

TEST_F(HdspSwitchboard, ModesGiveTheirPathsAndAnUnchangedModeSendsNothing) {
  const uint16_t line0 = vrgEndpt[0].lineVhdHdl;
  CNXSTATE* a = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  UpdateSBMasks(a, EPCNXMODE_SNDRX);
  EXPECT_EQ(a->inMask, 0x1u);
  EXPECT_EQ(a->outMask, 0x1u);
  EXPECT_TRUE(hasPath(line0, HAPI_SWB_TOS, a->vhdhdl, HAPI_SWB_BOS));
  EXPECT_TRUE(hasPath(a->vhdhdl, HAPI_SWB_BOS, line0, HAPI_SWB_TOS));
  const int paths = pathCount();

  LogCapture log;
  UpdateSBMasks(a, EPCNXMODE_SNDRX);
  EXPECT_EQ(log.count("HDSP: Switchboard"), 0);
  EXPECT_EQ(pathCount(), paths);

  // Receive only: the connection still hears its line.
  UpdateSBMasks(a, EPCNXMODE_RCVO);
  EXPECT_NE(a->inMask & 0x1u, 0u);
  EXPECT_TRUE(hasPath(line0, HAPI_SWB_TOS, a->vhdhdl, HAPI_SWB_BOS));
  // Send only: nothing goes towards the line.
  UpdateSBMasks(a, EPCNXMODE_SNDO);
  EXPECT_EQ(a->outMask, 0u);
  EXPECT_FALSE(hasPath(a->vhdhdl, HAPI_SWB_BOS, line0, HAPI_SWB_TOS));
  EXPECT_TRUE(hasPath(line0, HAPI_SWB_TOS, a->vhdhdl, HAPI_SWB_BOS));
  // Inactive: the line stays in the in mask, nothing else.
  UpdateSBMasks(a, EPCNXMODE_INACT);
  EXPECT_EQ(a->inMask, 0x1u);
  EXPECT_EQ(a->outMask, 0u);
  EXPECT_EQ(pathCount(), paths - 1);
}

TEST_F(HdspSwitchboard, ConferencedConnectionsHearEachOther) {
  // With two endpoints, connection record 3 is bit 5.
  CNXSTATE* a = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  CNXSTATE* b = bindConnection(3, 0, vrgCnxState[3].vhdhdl);
  a->mode = EPCNXMODE_CONF;
  b->mode = EPCNXMODE_CONF;
  UpdateSBMasks(a, EPCNXMODE_CONF);
  EXPECT_EQ(a->inMask, 0x1u | (1u << 5));
  EXPECT_EQ(a->outMask, 0x1u | (1u << 5));
  EXPECT_TRUE(hasPath(b->vhdhdl, HAPI_SWB_BOS, a->vhdhdl, HAPI_SWB_BOS));
  EXPECT_TRUE(hasPath(a->vhdhdl, HAPI_SWB_BOS, b->vhdhdl, HAPI_SWB_BOS));
  // A test connection hears only itself.
  UpdateSBMasks(a, EPCNXMODE_TEST);
  EXPECT_EQ(a->inMask, 1u << 2);
  EXPECT_EQ(a->outMask, 0u);
  EXPECT_TRUE(hasPath(a->vhdhdl, HAPI_SWB_BOS, a->vhdhdl, HAPI_SWB_BOS));
  EXPECT_FALSE(hasPath(b->vhdhdl, HAPI_SWB_BOS, a->vhdhdl, HAPI_SWB_BOS));
}

TEST_F(HdspSwitchboard, ReplicateAndTranscodeJoinTheOtherConnections) {
  CNXSTATE* a = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  CNXSTATE* b = bindConnection(1, 0, vrgCnxState[1].vhdhdl);
  UpdateSBMasks(a, EPCNXMODE_REPLCATE);
  EXPECT_EQ(a->inMask, 0x1u | (1u << 3));
  EXPECT_EQ(a->outMask, 0u);
  EXPECT_TRUE(hasPath(b->vhdhdl, HAPI_SWB_BOS, a->vhdhdl, HAPI_SWB_BOS));
  UpdateSBMasks(a, EPCNXMODE_INACT);
  EXPECT_FALSE(hasPath(b->vhdhdl, HAPI_SWB_BOS, a->vhdhdl, HAPI_SWB_BOS));
  b->mode = EPCNXMODE_TRANSCODE;
  UpdateSBMasks(a, EPCNXMODE_TRANSCODE);
  EXPECT_EQ(a->inMask, 0x1u | (1u << 3));  // the peer is added, the line path kept
  EXPECT_EQ(a->outMask, 1u << 3);
  EXPECT_TRUE(hasPath(a->vhdhdl, HAPI_SWB_BOS, b->vhdhdl, HAPI_SWB_BOS));
}

TEST_F(HdspSwitchboard, PacketLoopbackEndpointsAlwaysSendAndReceive) {
  vrgEndpt[0].testMode = TESTMODE_PACKETLOOPBACK;
  CNXSTATE* a = bindConnection(0, 0, vrgCnxState[0].vhdhdl);
  UpdateSBMasks(a, EPCNXMODE_INACT);
  EXPECT_EQ(a->inMask, 0x1u);
  EXPECT_EQ(a->outMask, 0x1u);
}

TEST_F(HdspSwitchboard, LinesAreJoinedOnlyOnOneDsp) {
  EXPECT_EQ(ConnectSB(0, 1), EPSTATUS_SUCCESS);
  EXPECT_TRUE(hasPath(vrgEndpt[0].lineVhdHdl, HAPI_SWB_TOS, vrgEndpt[1].lineVhdHdl, HAPI_SWB_TOS));
  EXPECT_EQ(DisconnectSB(0, 1), EPSTATUS_SUCCESS);
  EXPECT_FALSE(hasPath(vrgEndpt[0].lineVhdHdl, HAPI_SWB_TOS, vrgEndpt[1].lineVhdHdl, HAPI_SWB_TOS));
  vrgEndpt[1].dspNum = 1;
  EXPECT_EQ(ConnectSB(0, 1), EPSTATUS_RESOURCES);
  EXPECT_EQ(ConnectSB(0, 5), EPSTATUS_ENDPT_UNKNOWN);
}

}  // namespace
