// The channel's mode changes as services see them: for each mode action, the exact commands in
// the order they are sent; the single answer and mode event of a host's mode change; detector
// events that move the state with or without a stack switch.
#include <gtest/gtest.h>

#include "net_codes.h"
#include "net_harness.h"

namespace {

using namespace nettest;

// A command as expected: the service, the code, and op1/op2 (length and 0 for extended commands).
struct Expect {
  HSFSRVID srv;
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
};

std::string describeExpected(const std::vector<Expect>& cmds) {
  std::vector<Cmd> asCmds;
  for (const Expect& e : cmds) asCmds.push_back(Cmd{kVhd, e.srv, e.header, e.op1, e.op2, {}});
  return describe(asCmds);
}

void expectCommands(const std::vector<Expect>& expected) {
  std::vector<Cmd> got = world().commands;
  EXPECT_EQ(describe(got), describeExpected(expected));
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].srv, expected[i].srv) << "command " << i;
  }
}

constexpr HSFSRVID NET = HAPI_NET_SRV;
constexpr HSFSRVID CODEC = HAPI_CODEC_SRV;
constexpr HSFSRVID RTP = HAPI_RTP_SRV;
constexpr HSFSRVID PTE = HAPI_PTE_SRV;
constexpr HSFSRVID CDIS = HAPI_CDIS_SRV;
constexpr HSFSRVID HEC = HAPI_HEC_SRV;
constexpr HSFSRVID FAXR = HAPI_FAXR_SRV;
constexpr HSFSRVID T38 = HAPI_T38_SRV;

// The expansion of "call discrimination on" for voice.
std::vector<Expect> cdisOn(uint16_t options, uint16_t callDOptions) {
  if (options & HSNET_NET_OPTION_CDIS) {
    return {{CDIS, 0x0782, callDOptions, 0}, {CDIS, 0x07B0, 1, 0}, {CDIS, 0x0781, 0, 0},
            {CDIS, 0x0780, 1, 1}};
  }
  return {{CDIS, 0x07B0, 0, 0}, {CDIS, 0x0780, 0, 0}};
}

std::vector<Expect> ecan(bool on, uint16_t enable, uint16_t options) {
  if (!on) return {};
  return {{HEC, 0x44B0, enable, 0}, {HEC, 0x44B4, 0, options}};
}

std::vector<Expect> join(std::initializer_list<std::vector<Expect>> parts) {
  std::vector<Expect> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class NetModeTest : public NetTest {
 protected:
  // Points NET at this channel's own echo canceller, or at none.
  void useEchoCanceller(bool on) {
    ASSERT_EQ(command(HAPI_NET_CONFIG_SETREG1_CMD, 4, on ? kVhd : 0xFF).result, HAPISUCCESS);
  }
  void setOptions(uint16_t options) {
    ASSERT_EQ(command(HAPI_NET_CONFIG_SETREG1_CMD, 6, options).result, HAPISUCCESS);
  }
};

// ---- idle to voice, with every variant of the echo canceller and call discrimination ----

struct VoiceCase {
  const char* name;
  bool handle;
  uint16_t options;
};

void PrintTo(const VoiceCase& c, std::ostream* os) { *os << c.name; }

class GoVoiceTest : public NetModeTest, public ::testing::WithParamInterface<VoiceCase> {};

TEST_P(GoVoiceTest, SendsTheVoiceSequenceThenOneAnswerAndOneModeEvent) {
  const VoiceCase& c = GetParam();
  useEchoCanceller(c.handle);
  setOptions(c.options);
  clearRecords();

  const HostMsg answer = command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0);

  const bool ecanOn = c.handle && (c.options & HSNET_NET_OPTION_ECAN_CONTROL);
  expectCommands(join({
      {{NET, 0x3085, 2, 0},
       {CODEC, 0x0232, 28, 0},
       {RTP, 0x0632, 844, 0},
       {RTP, 0x060A, 2, 0},
       {PTE, 0x0932, 14, 0}},
      ecan(ecanOn, 1, 0),
      {{PTE, 0x09B0, 1, 0x30},
       {CODEC, 0x02B0, 1, 0},
       {RTP, 0x0680, 1, 0},
       {NET, 0x3088, 0x0100, 160},
       {CODEC, 0x0282, 0, 0},
       {CODEC, 0x0280, 1, 0}},
      cdisOn(c.options, 0x4),
      {{CODEC, 0x0281, 0x0100, 160}},
  }));
  EXPECT_EQ(answer.result, HAPISUCCESS);
  EXPECT_EQ(hostResponses().size(), 1u);
  const auto modeEvents = hostEvents(HAPI_NET_MODE_EVT);
  ASSERT_EQ(modeEvents.size(), 1u);
  EXPECT_EQ(modeEvents[0].op1, NETMODE_PACKETVOICE);
  // The answer goes before the mode event.
  size_t answerAt = 0, eventAt = 0;
  for (size_t i = 0; i < world().host.size(); ++i) {
    if (world().host[i].response) answerAt = i;
    if (world().host[i].header == HAPI_NET_MODE_EVT) eventAt = i;
  }
  EXPECT_LT(answerAt, eventAt);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_PACKETVOICE);
  EXPECT_EQ(netInstance()->hsxstatus & (HSNET_STATUS_SWITCHING | HSNET_STATUS_VOICERATE), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, GoVoiceTest,
    ::testing::Values(VoiceCase{"Defaults", false, 0x5B},
                      VoiceCase{"EchoCancellerOfThisChannel", true, 0x5B},
                      VoiceCase{"HandleWithoutControlOption", true, 0x4B},
                      VoiceCase{"WithoutCallDiscrimination", true, 0x5A}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the other mode actions ----

TEST_F(NetModeTest, CallSetupAndIdleSendTheirSequences) {
  useEchoCanceller(true);
  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_CALLSETUP, 0).result, HAPISUCCESS);
  expectCommands(join({{{NET, 0x3085, 1, 0}},
                       ecan(true, 1, 0x8002),
                       {{RTP, 0x0680, 0, 0},
                        {CODEC, 0x0280, 0, 0},
                        {CODEC, 0x02B0, 0, 0},
                        {PTE, 0x0932, 14, 0},
                        {PTE, 0x09B0, 1, 0x20}}}));
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT).at(0).op1, NETMODE_CALLSETUP);

  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0).result, HAPISUCCESS);
  expectCommands({{NET, 0x3085, 0, 0},
                  {CODEC, 0x02B0, 0, 0},
                  {CDIS, 0x07B0, 0, 0},
                  {RTP, 0x0680, 0, 0},
                  {PTE, 0x09B0, 0, 0}});
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_IDLE);
}

TEST_F(NetModeTest, VoicebandDataFromIdleUsesTheDataEncoderWithTheDataBit) {
  useEchoCanceller(true);
  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0).result, HAPISUCCESS);
  expectCommands(join({{{NET, 0x3085, 5, 0},
                        {RTP, 0x0632, 844, 0},
                        {RTP, 0x060A, 2, 0},
                        {RTP, 0x0680, 1, 0},
                        {PTE, 0x09B0, 0, 0}},
                       ecan(true, 1, 0x8001),
                       {{CODEC, 0x0232, 28, 0},
                        {CODEC, 0x02B0, 1, 0},
                        {NET, 0x3088, 0x0000, 160},
                        {CODEC, 0x0282, 1, 1},
                        {CODEC, 0x0280, 1, 0},
                        {CDIS, 0x0782, 4, 0},
                        {CDIS, 0x07B0, 1, 0},
                        {CDIS, 0x0780, 1, 1},
                        {CDIS, 0x0781, 1, 0},
                        {CODEC, 0x0281, 0x0000, 0x8000 | 160}}}));
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_VOICEBANDDATA);
  // In voiceband data the voice encoder registers stay as they were.
  EXPECT_EQ(netInstance()->hsxnetregs.hsxPacketVoiceEncoder, 0x0100);
}

TEST_F(NetModeTest, VoicebandDataWithoutCallDiscriminationStopsIt) {
  setOptions(0x5A);
  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0).result, HAPISUCCESS);
  std::vector<Cmd> cdis = commandsTo(CDIS);
  EXPECT_EQ(describe(cdis), "7b0(0,0) 780(1,1) 781(1,0)");
}

TEST_F(NetModeTest, VoiceToDataAndBackFollowTheEncoderSwitchOption) {
  useEchoCanceller(true);
  for (const uint16_t options : {uint16_t{0x5B}, uint16_t{0x53}}) {
    setOptions(options);
    enterMode(NETMODE_PACKETVOICE);
    const bool encSwitch = options & HSNET_NET_OPTION_AUTO_ENC_SWITCH;

    ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0).result, HAPISUCCESS);
    std::vector<Expect> toData = join({{{NET, 0x3085, 5, 0}}, ecan(true, 1, 0x8001), {{PTE, 0x09B0, 0, 0}}});
    if (encSwitch) toData.push_back({NET, 0x3088, 0x0000, 160});
    toData.insert(toData.end(), {{CODEC, 0x0282, 1, 1},
                                 {CODEC, 0x0280, 1, 0},
                                 {CDIS, 0x0780, 1, 1},
                                 {CDIS, 0x0781, 1, 0}});
    if (encSwitch) toData.push_back({CODEC, 0x0281, 0x0000, 0x8000 | 160});
    expectCommands(toData);
    EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);

    clearRecords();
    ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0).result, HAPISUCCESS);
    std::vector<Expect> toVoice =
        join({{{NET, 0x3085, 2, 0}}, ecan(true, 1, 0), {{PTE, 0x09B0, 1, 0x30}}});
    if (encSwitch) toVoice.push_back({NET, 0x3088, 0x0100, 160});
    toVoice.insert(toVoice.end(), {{CODEC, 0x0282, 0, 0}, {CODEC, 0x0280, 1, 0}});
    const auto cdis = cdisOn(options, 4);
    toVoice.insert(toVoice.end(), cdis.begin(), cdis.end());
    if (encSwitch) toVoice.push_back({CODEC, 0x0281, 0x0100, 160});
    expectCommands(toVoice);
    EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
    enterMode(NETMODE_IDLE);
  }
}

TEST_F(NetModeTest, FaxRelaySwitchesToTheFaxStackAndPushesItsRegisters) {
  useEchoCanceller(true);
  enterMode(NETMODE_PACKETVOICE);
  const HostMsg answer = command(HAPI_NET_SETMODE_CMD, NETMODE_FAXRELAY, 7);
  EXPECT_EQ(answer.result, HAPISUCCESS);
  // The voice services are gone; the fax relay and T.38 services of the new stack get NET's
  // registers, and the echo canceller (now in the fax stack) its data options.
  expectCommands(join({{{NET, 0x3085, 4, 7},
                        {FAXR, 0x1232, 32, 0},
                        {FAXR, 0x12B0, 1, 7},
                        {T38, 0x1732, 4, 0},
                        {T38, 0x17B0, 1, 0}},
                       ecan(true, 1, 0x8001)}));
  EXPECT_EQ(netInstance()->faxRelayStartMode, 0);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_FAXRELAY);
  EXPECT_EQ(netInstance()->statep, s_faxRelay);
  EXPECT_EQ(hostResponses().size(), 1u);
  ASSERT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT)[0].op1, NETMODE_FAXRELAY);
  const std::vector<Cmd> regs = commandsTo(FAXR);
  ASSERT_FALSE(regs.empty());
  EXPECT_EQ(regs[0].data[0], 150);  // hsxmaxjitter default, low byte first on this host

  // Back to voice: the voice stack returns with NET's registers and the same NET instance.
  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0).result, HAPISUCCESS);
  EXPECT_EQ(commandsTo(CODEC).front().header, HAPI_CODEC_SETREGS_CMD);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_PACKETVOICE);
}

TEST_F(NetModeTest, EchoCancellerCommandsGoToTheLineChannel) {
  ASSERT_EQ(command(HAPI_NET_CONFIG_SETREG1_CMD, 4, kLineVhd).result, HAPISUCCESS);
  clearRecords();
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_CALLSETUP, 0).result, HAPISUCCESS);
  std::vector<Cmd> hec = commandsTo(HEC);
  ASSERT_EQ(hec.size(), 2u);
  EXPECT_EQ(hec[0].dev, kLineVhd);
  EXPECT_EQ(describe(hec), "44b0(1,0) 44b4(0,8002)");
}

// ---- detector events ----

TEST_F(NetModeTest, FaxToneInVoiceSwitchesToFaxRelayWithItsStartMode) {
  enterMode(NETMODE_PACKETVOICE);
  serviceEvent(CDIS, HAPI_CDIS_DETECT_EVT, HAPI_CDIS_DETECT_CNG, 0);
  tick(10);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_FAXRELAY);
  const std::vector<Cmd> faxr = commandsTo(FAXR);
  ASSERT_EQ(faxr.size(), 2u);
  EXPECT_EQ(faxr[1].header, netsrv::kFaxrEnable);
  EXPECT_EQ(faxr[1].op2, 3);  // ingress CNG starts fax relay in mode 3
  ASSERT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT)[0].op1, NETMODE_FAXRELAY);
  EXPECT_EQ(hostEvents(HAPI_CDIS_DETECT_EVT).size(), 1u);  // forwarded as well
  EXPECT_TRUE(hostResponses().empty());
}

// Which state a detection leads to from voice, seen with automatic switching off (the state
// moves, nothing else happens).
struct DetectCase {
  const char* name;
  HSFSRVID from;
  uint16_t header;
  uint16_t bits;
  uint16_t kind;
  uint16_t options;
  uint16_t autoswitchMask;
  const NET_ROW* state;
  int startMode;  // -1: not set by the detection
};

void PrintTo(const DetectCase& c, std::ostream* os) { *os << c.name; }

class DetectionTest : public NetModeTest, public ::testing::WithParamInterface<DetectCase> {};

TEST_P(DetectionTest, LeadsFromVoiceToItsState) {
  const DetectCase& c = GetParam();
  setOptions(c.options | HSNET_NET_OPTION_VBD_FAXR_AUTO_SWITCH_DISABLE);
  ASSERT_EQ(command(HAPI_NET_VBD_AUTOSWITCH_MASK, c.autoswitchMask, 0).result, HAPISUCCESS);
  enterMode(NETMODE_PACKETVOICE);
  netInstance()->faxRelayStartMode = 0x55;
  serviceEvent(c.from, c.header, c.bits, c.kind);
  tick(6);
  EXPECT_EQ(netInstance()->statep, c.state);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_PACKETVOICE);
  EXPECT_EQ(netInstance()->faxRelayStartMode, c.startMode < 0 ? 0x55 : c.startMode);
  EXPECT_TRUE(world().commands.empty()) << describe(world().commands);
  EXPECT_TRUE(hostEvents(HAPI_NET_MODE_EVT).empty());
  EXPECT_EQ(hostEvents(c.header).size(), 1u) << "forwarded";
}

constexpr uint16_t CNG = HAPI_CDIS_DETECT_CNG;
constexpr uint16_t V18 = HAPI_CDIS_DETECT_V18;

INSTANTIATE_TEST_SUITE_P(
    Detections, DetectionTest,
    ::testing::Values(
        DetectCase{"IngressCngToFax", CDIS, 0x07C0, CNG, 0, 0x5B, 7, s_faxRelay, 3},
        DetectCase{"IngressCngToDataWithoutFaxRelay", CDIS, 0x07C0, CNG, 0, 0x59, 7, s_vband, -1},
        DetectCase{"IngressCngIgnored", CDIS, 0x07C0, CNG, 0, 0x7B, 7, s_voice, -1},
        DetectCase{"EgressCngIgnoredByDefault", CDIS, 0x07C3, CNG, 0, 0x5B, 7, s_voice, -1},
        DetectCase{"EgressCngToFax", CDIS, 0x07C3, CNG, 0, 0x1B, 7, s_faxRelay, 0},
        DetectCase{"EgressCngToData", CDIS, 0x07C3, CNG, 0, 0x19, 7, s_vband, -1},
        DetectCase{"IngressMachineIsAModem", CDIS, 0x07C0, 0x2, 0, 0x5B, 7, s_vband, -1},
        DetectCase{"IngressEarlyAnswerIsNot", CDIS, 0x07C0, 0x10, 0, 0x5B, 7, s_voice, -1},
        DetectCase{"EgressEarlyAnswerIs", CDIS, 0x07C3, 0x10, 0, 0x5B, 7, s_vband, -1},
        DetectCase{"V18BaudotInTheMask", CDIS, 0x07C0, V18, 1, 0x5B, 7, s_vband, -1},
        DetectCase{"V18BaudotNotInTheMask", CDIS, 0x07C0, V18, 1, 0x5B, 5, s_voice, -1},
        DetectCase{"V18WithFalseAnswerOnIngress", CDIS, 0x07C0, V18 | 0x20, 0, 0x5B, 7, s_voice, -1},
        DetectCase{"V18PreambleOnEgress", CDIS, 0x07C3, V18, 2, 0x5B, 4, s_vband, -1},
        DetectCase{"V18OfUnknownKind", CDIS, 0x07C0, V18, 9, 0x5B, 0xFFFF, s_voice, -1},
        DetectCase{"HdlcToFax", CDIS, 0x07C1, 0, 0, 0x5B, 7, s_faxRelay, 2},
        DetectCase{"HdlcToDataWithoutFaxRelay", CDIS, 0x07C1, 0, 0, 0x59, 7, s_vband, -1},
        DetectCase{"CodecHearsData", CODEC, 0x02D5, 4, 1, 0x5B, 7, s_vband, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetModeTest, PhaseReversalBypassesTheEchoCancellerAndLowEnergyRestoresIt) {
  useEchoCanceller(true);
  enterMode(NETMODE_PACKETVOICE);
  serviceEvent(CDIS, HAPI_CDIS_EGRESS_DETECT_EVT, HAPI_CDIS_DETECT_PHASE_REVERSAL, 0);
  tick(10);
  // The phase reversal also counts as a modem: voiceband data, then the bypass in that state.
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_VOICEBANDDATA);
  std::vector<Cmd> hec = commandsTo(HEC);
  ASSERT_FALSE(hec.empty());
  EXPECT_EQ(describe({hec.back()}), "44b0(0,0)");

  clearRecords();
  serviceEvent(CDIS, HAPI_CDIS_DETECT_EVT, HAPI_CDIS_DETECT_LOW_ENERGY, 0);
  tick(10);
  EXPECT_EQ(describe(commandsTo(HEC)), "44b0(1,0)");
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_VOICEBANDDATA);
}

TEST_F(NetModeTest, EventsDuringASwitchMoveTheStateButRunNoAction) {
  enterMode(NETMODE_PACKETVOICE);
  world().codecAnswersRate = false;  // keeps the change to voiceband data open
  hostCommand(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0, 77);
  tick(10);
  EXPECT_TRUE(hostResponses().empty());
  EXPECT_EQ(netInstance()->hsxstatus & (HSNET_STATUS_SWITCHING | HSNET_STATUS_VOICERATE),
            HSNET_STATUS_SWITCHING | HSNET_STATUS_VOICERATE);

  // Another mode change is refused while the codec has not answered.
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0).result, HAPIFAILURE);

  clearRecords();
  serviceEvent(CDIS, HAPI_CDIS_HDLCDETECT_EVT, 0, 0);
  tick(6);
  EXPECT_EQ(netInstance()->statep, s_faxRelay);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_VOICEBANDDATA);
  EXPECT_TRUE(world().commands.empty()) << describe(world().commands);

  // The codec's answer completes the voice rate, then the mode change: one answer, one event.
  serviceEvent(CODEC, HAPI_CODEC_VOICERATE_EVT, 0, 0);
  tick(6);
  const std::vector<HostMsg> answers = hostResponses();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].userTag, 77);
  EXPECT_EQ(answers[0].result, HAPISUCCESS);
  ASSERT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT)[0].op1, NETMODE_VOICEBANDDATA);
  EXPECT_EQ(hostEvents(HAPI_CODEC_VOICERATE_EVT).size(), 1u);
  EXPECT_EQ(netInstance()->hsxstatus & (HSNET_STATUS_SWITCHING | HSNET_STATUS_VOICERATE), 0);
}

TEST_F(NetModeTest, CodecReportsOfTheStreamMoveBetweenVoiceAndData) {
  enterMode(NETMODE_PACKETVOICE);
  serviceEvent(CODEC, HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT, 4, 1);
  tick(10);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_VOICEBANDDATA);
  serviceEvent(CODEC, HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT, 1, 4);
  tick(10);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_PACKETVOICE);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 2u);
  EXPECT_EQ(hostEvents(HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT).size(), 1u);
}

TEST_F(NetModeTest, T38DataInVoiceSwitchesToFaxRelayAndReachesTheT38Service) {
  enterMode(NETMODE_PACKETVOICE);
  const uint8_t datagram[] = {0x00, 0x01, 0x06, 0x80, 0x00};
  hostPacket(0, HSF_IBD_T38, datagram, sizeof(datagram));
  tick(12);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_FAXRELAY);
  const std::vector<Cmd> faxr = commandsTo(FAXR);
  ASSERT_EQ(faxr.size(), 2u);
  EXPECT_EQ(faxr[1].op2, 0);  // started by the far end's data: start mode 0
  ASSERT_EQ(world().t38Taken.size(), 1u);
  EXPECT_EQ(world().t38Taken[0], std::vector<uint8_t>(datagram, datagram + sizeof(datagram)));
}

TEST_F(NetModeTest, MediaPacketsInFaxRelayStopAtNet) {
  enterMode(NETMODE_FAXRELAY);
  const uint8_t rtp[] = {0x80, 0x00, 0x00, 0x01};
  hostPacket(0, HSF_IBD_RTP, rtp, sizeof(rtp));
  hostPacket(0, HSF_IBD_RTCP, rtp, sizeof(rtp));
  tick(6);
  EXPECT_EQ(world().mediaBelowNet, 0);
}

TEST_F(NetModeTest, FaxCallEndStartsTheT38ShutdownWithoutLeavingFaxRelay) {
  enterMode(NETMODE_FAXRELAY);
  serviceEvent(FAXR, netsrv::kFaxrCallEndEvt, 0, 0xFFFF);
  tick(6);
  EXPECT_EQ(describe(commandsTo(T38)), "1780(0,0)");
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_FAXRELAY);
  EXPECT_EQ(hostEvents(HAPI_NET_FAXSTATS_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(netsrv::kFaxrCallEndEvt).size(), 1u);
}

}  // namespace
