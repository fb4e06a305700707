// The NET service's commands as the host sees them: register copies with their defaults, writes
// and the writes passed on to the owning services; refusals; mode and voice-rate answers.
#include <gtest/gtest.h>

#include <cstring>

#include "net_codes.h"
#include "net_harness.h"

namespace {

using namespace nettest;

std::vector<uint16_t> words(const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<uint8_t> bytesOf(const std::vector<uint16_t>& w) {
  std::vector<uint8_t> out(w.size() * 2);
  std::memcpy(out.data(), w.data(), out.size());
  return out;
}

using NetCommandTest = NetTest;

// ---- register copies ----

struct GetCase {
  uint16_t code;
  std::vector<uint16_t> expectedStart;  // the first words of the answer
  uint16_t length;
};

TEST_F(NetCommandTest, GetCommandsAnswerTheDefaultCopies) {
  const std::vector<GetCase> cases = {
      {HAPI_NET_CONFIG_GETREGS_CMD, {0, 0, 0xFF, 0x5B, 4, 0x20, 0x30, 0x0100, 0, 160, 160}, 22},
      {HAPI_NET_GETMODE_CMD, {0}, 2},
      {HAPI_NET_VOICE_GETREGS_CMD, {0x3301, 4096, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 28},
      {HAPI_NET_FAXR_GETREGS_CMD,
       {150, 2000, 0, 0, 0, 13, 33, 15, 3000, 3000, 500, 10, 0, 0x8120, 0, 0},
       32},
      {HAPI_NET_PTE_GETREGS_CMD, {0, 0, 28, 0, 400, 400, 400}, 14},
      {HAPI_NET_RTP_GETREGS_CMD, {3, 5000, 129, 128, 64, 0x0000, 0x0801, 0x7304, 0x0F0B}, 844},
      {HAPI_NET_RTP_GETREGS2_CMD, {4}, 2},
      {HAPI_NET_T38_GETREGS_CMD, {0x0303, 200}, 4},
      {HAPI_NET_GETVOICESTATE_CMD, {0, 0, 0}, 34},
      {HAPI_NET_GETVOICESTATS_CMD, {0, 0, 0}, 36},
      {HAPI_NET_GETFAXSTATS_CMD, {0, 0, 0}, 34},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << c.code);
    const HostMsg answer = command(c.code, 0, 0);
    EXPECT_EQ(answer.result, HAPISUCCESS);
    EXPECT_EQ(answer.header, c.code);
    ASSERT_EQ(answer.op1, c.length);
    const std::vector<uint16_t> got = words(answer.data);
    ASSERT_GE(got.size(), c.expectedStart.size());
    EXPECT_EQ(std::vector<uint16_t>(got.begin(), got.begin() + c.expectedStart.size()),
              c.expectedStart);
  }
  // The RTP copy ends with the service's own defaults too.
  const std::vector<uint16_t> rtp = words(command(HAPI_NET_RTP_GETREGS_CMD, 0, 0).data);
  EXPECT_EQ(rtp[614 / 2], 129);
  EXPECT_EQ(rtp[616 / 2], 128);
  EXPECT_EQ(rtp[678 / 2], 0x7F);
  EXPECT_EQ(rtp[684 / 2], 4);
  EXPECT_EQ(rtp[(686 + 2 * 6) / 2], 29);  // end-system delay of G.729A
  EXPECT_EQ(rtp[836 / 2], 2);
}

TEST_F(NetCommandTest, StateAndStatisticsQueriesRefreshTheCopiesFromTheCodec) {
  enterMode(NETMODE_PACKETVOICE);
  EXPECT_EQ(words(command(HAPI_NET_GETVOICESTATE_CMD, 0, 0).data)[14], 0);
  EXPECT_EQ(describe(commandsTo(HAPI_CODEC_SRV)), "2b6(0,0)");
  // The codec's answer is now NET's copy; it went no further than NET.
  EXPECT_EQ(words(command(HAPI_NET_GETVOICESTATE_CMD, 0, 0).data)[14], 0x0100);
  EXPECT_TRUE(hostEvents(HAPI_CODEC_GETSTATE_EVT).empty());
  EXPECT_TRUE(hostEvents(HAPI_NET_VOICESTATE_EVT).empty());

  clearRecords();
  command(HAPI_NET_GETVOICESTATS_CMD, 0, 0);
  EXPECT_EQ(describe(commandsTo(HAPI_CODEC_SRV)), "2b5(0,0)");
  EXPECT_EQ(words(command(HAPI_NET_GETVOICESTATS_CMD, 0, 0).data)[1], 0x1234);
}

struct SetCase {
  const char* name;
  uint16_t setRegs;
  uint16_t getRegs;
  uint16_t setReg1;  // 0: none
  uint16_t size;
  HSFSRVID owner;  // 0: NET's own registers
  uint16_t forwardSetRegs;
  uint16_t forwardSetReg1;
  uint16_t mode;  // the mode in which the owner is in the channel
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

class NetSetRegsTest : public NetTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(NetSetRegsTest, WritesTheCopyAndPassesTheWriteOn) {
  const SetCase& c = GetParam();
  if (c.mode != NETMODE_IDLE) enterMode(c.mode);
  std::vector<uint16_t> regs(c.size / 2);
  for (size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<uint16_t>(0x100 + i);

  EXPECT_EQ(extCommand(c.setRegs, bytesOf(regs).data(), c.size).result, HAPISUCCESS);
  EXPECT_EQ(words(command(c.getRegs, 0, 0).data), regs);
  if (c.owner != 0) {
    const std::vector<Cmd> got = commandsTo(c.owner);
    ASSERT_EQ(got.size(), 1u) << describe(got);
    EXPECT_EQ(got[0].header, c.forwardSetRegs);
    EXPECT_EQ(got[0].data, bytesOf(regs));
  }

  if (c.setReg1 == 0) return;
  clearRecords();
  EXPECT_EQ(command(c.setReg1, 2, 0xABCD).result, HAPISUCCESS);
  regs[1] = 0xABCD;
  EXPECT_EQ(words(command(c.getRegs, 0, 0).data), regs);
  if (c.owner != 0) {
    EXPECT_EQ(describe(commandsTo(c.owner)),
              describe({Cmd{kVhd, c.owner, c.forwardSetReg1, 2, 0xABCD, {}}}));
  }
}

TEST_P(NetSetRegsTest, RefusesOddOffsetsOffsetsPastTheRecordAndShortBlocks) {
  const SetCase& c = GetParam();
  if (c.mode != NETMODE_IDLE) enterMode(c.mode);
  const std::vector<uint8_t> before = command(c.getRegs, 0, 0).data;
  clearRecords();
  if (c.setReg1 != 0) {
    AssertCounter asserts;
    EXPECT_EQ(command(c.setReg1, 3, 0xFFFF).result, HAPI_ERR_INVALID_REGS);
    EXPECT_EQ(asserts.stop(), 1);
    EXPECT_EQ(command(c.setReg1, c.size, 0xFFFF).result, HAPI_ERR_INVALID_REGS);
    EXPECT_EQ(command(c.setReg1, 0xFFFE, 0xFFFF).result, HAPI_ERR_INVALID_REGS);
  }
  const std::vector<uint8_t> shortBlock(c.size - 2, 0xEE);
  EXPECT_EQ(extCommand(c.setRegs, shortBlock.data(), static_cast<uint16_t>(shortBlock.size())).result,
            HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(c.getRegs, 0, 0).data, before);
  for (const Cmd& cmd : world().commands) EXPECT_EQ(cmd.srv, HAPI_NET_SRV) << describe({cmd});
}

INSTANTIATE_TEST_SUITE_P(
    RegisterCopies, NetSetRegsTest,
    ::testing::Values(
        SetCase{"Net", 0x3002, 0x3003, 0x3099, 22, 0, 0, 0, NETMODE_IDLE},
        SetCase{"Voice", 0x3011, 0x3012, 0x309B, 28, HAPI_CODEC_SRV, 0x0232, 0x02B4, NETMODE_IDLE},
        SetCase{"DigitTone", 0x301E, 0x3020, 0x309F, 14, HAPI_PTE_SRV, 0x0932, 0x09B4, NETMODE_IDLE},
        SetCase{"Rtp", 0x3023, 0x3026, 0x30A4, 844, HAPI_RTP_SRV, 0x0632, 0x06B4, NETMODE_IDLE},
        SetCase{"Rtp2", 0x3025, 0x3027, 0, 2, HAPI_RTP_SRV, 0x060A, 0, NETMODE_IDLE},
        SetCase{"FaxRelay", 0x3015, 0x3016, 0x309C, 32, HAPI_FAXR_SRV, 0x1232, 0x12B4, NETMODE_FAXRELAY},
        SetCase{"T38", 0x3028, 0x302A, 0x30A9, 4, HAPI_T38_SRV, 0x1732, 0x17B4, NETMODE_FAXRELAY}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetCommandTest, RegistersPushedAtAModeStartAreTheWrittenCopies) {
  std::vector<uint16_t> pte = {160, 1, 30, 2, 400, 400, 400};
  ASSERT_EQ(extCommand(HAPI_NET_PTE_SETREGS_CMD, bytesOf(pte).data(), 14).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_NET_PTE_SETREG1_CMD, 12, 0x40).result, HAPISUCCESS);
  pte[6] = 0x40;
  clearRecords();
  enterMode(NETMODE_CALLSETUP);
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0).result, HAPISUCCESS);
  const std::vector<Cmd> got = commandsTo(HAPI_PTE_SRV);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0].header, HAPI_PTE_SETREGS_CMD);
  EXPECT_EQ(got[0].data, bytesOf(pte));
}

TEST_F(NetCommandTest, ChangedOptionWordsReachTheDigitToneAndCallDiscriminationServices) {
  // In idle a changed voice option word re-enables the digit and tone service; a changed call
  // setup word does not.
  command(HAPI_NET_CONFIG_SETREG1_CMD, 10, 0x21);
  command(HAPI_NET_CONFIG_SETREG1_CMD, 12, 0x31);
  command(HAPI_NET_CONFIG_SETREG1_CMD, 8, 0x0C);
  command(HAPI_NET_CONFIG_SETREG1_CMD, 8, 0x0C);  // unchanged: nothing
  EXPECT_EQ(describe(commandsTo(HAPI_PTE_SRV)), "9b0(1,31)");
  EXPECT_EQ(describe(commandsTo(HAPI_CDIS_SRV)), "782(c,0)");

  enterMode(NETMODE_CALLSETUP);
  command(HAPI_NET_CONFIG_SETREG1_CMD, 10, 0x22);
  command(HAPI_NET_CONFIG_SETREG1_CMD, 12, 0x32);
  EXPECT_EQ(describe(commandsTo(HAPI_PTE_SRV)), "9b0(1,22)");

  enterMode(NETMODE_PACKETVOICE);
  std::vector<uint16_t> regs = words(command(HAPI_NET_CONFIG_GETREGS_CMD, 0, 0).data);
  regs[5] = 0x20;
  regs[6] = 0x30;
  regs[4] = 0x04;
  ASSERT_EQ(extCommand(HAPI_NET_CONFIG_SETREGS_CMD, bytesOf(regs).data(), 22).result, HAPISUCCESS);
  EXPECT_EQ(describe(commandsTo(HAPI_PTE_SRV)), "9b0(1,30)");
  EXPECT_EQ(describe(commandsTo(HAPI_CDIS_SRV)), "782(4,0)");
}

TEST_F(NetCommandTest, ResetRestoresTheDefaultsOnlyInIdle) {
  command(HAPI_NET_CONFIG_SETREG1_CMD, 0, 500);
  enterMode(NETMODE_CALLSETUP);
  EXPECT_EQ(command(HAPI_NET_CONFIG_RESETREGS_CMD, 0, 0).result, HAPIFAILURE);
  EXPECT_EQ(words(command(HAPI_NET_CONFIG_GETREGS_CMD, 0, 0).data)[0], 500);
  enterMode(NETMODE_IDLE);
  EXPECT_EQ(command(HAPI_NET_CONFIG_RESETREGS_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(words(command(HAPI_NET_CONFIG_GETREGS_CMD, 0, 0).data),
            (std::vector<uint16_t>{0, 0, 0xFF, 0x5B, 4, 0x20, 0x30, 0x0100, 0, 160, 160}));
}

TEST_F(NetCommandTest, UnknownCommandsAndModesAreRefused) {
  for (const uint16_t code : {uint16_t{0x3030}, uint16_t{0x30B7}, uint16_t{0x3004}}) {
    EXPECT_EQ(command(code, 0, 0).result, HAPIFAILURE) << std::hex << code;
  }
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_DATARELAY, 0).result, HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, 6, 0).result, HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, 0xFFFF, 0).result, HAPI_ERR_INVALID_CMD);
  // The mode the channel is in: success at once, no mode event.
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0).result, HAPISUCCESS);
  EXPECT_TRUE(hostEvents(HAPI_NET_MODE_EVT).empty());
  EXPECT_EQ(netInstance()->hsxstatus & HSNET_STATUS_SWITCHING, 0);
}

TEST_F(NetCommandTest, FaxRateAndAutoSwitchMask) {
  enterMode(NETMODE_FAXRELAY);
  EXPECT_EQ(command(HAPI_NET_SETFAXRATE_CMD, 6, 9).result, HAPISUCCESS);
  EXPECT_EQ(describe(commandsTo(HAPI_FAXR_SRV)), "1281(6,0)");
  EXPECT_EQ(command(HAPI_NET_VBD_AUTOSWITCH_MASK, 6, 0).result, HAPISUCCESS);
  EXPECT_EQ(netInstance()->autoswitchMask, 6);
}

// ---- voice rate ----

TEST_F(NetCommandTest, VoiceRateIsAnsweredWhenTheCodecReports) {
  EXPECT_EQ(command(HAPI_NET_SETVOICERATE_CMD, 0x0101, 160).result, HAPIFAILURE) << "idle";
  enterMode(NETMODE_PACKETVOICE);
  world().codecAnswersRate = false;
  hostCommand(HAPI_NET_SETVOICERATE_CMD, 0x0006, 320, 55);
  tick(6);
  EXPECT_EQ(describe(commandsTo(HAPI_CODEC_SRV)), "281(6,140)");
  EXPECT_TRUE(hostResponses().empty());
  EXPECT_EQ(netInstance()->hsxnetregs.hsxPacketVoiceEncoder, 0x0006);
  EXPECT_EQ(netInstance()->hsxnetregs.hsxVoiceSuperPktInterval, 320);
  EXPECT_EQ(command(HAPI_NET_SETVOICERATE_CMD, 0x0000, 160).result, HAPIFAILURE) << "one at a time";

  // The decoder's report does not end it; an exception other than 16 or 18 neither.
  serviceEvent(HAPI_CODEC_SRV, HAPI_CODEC_VOICERATE_EVT, 6, 1);
  serviceEvent(HAPI_CODEC_SRV, HAPI_CODEC_EXCEPTION_EVT, 0, 6);
  tick(4);
  EXPECT_TRUE(hostResponses().empty() ||
              hostResponses().back().userTag != 55);
  // Encoder not available: the request is over, answered with success.
  serviceEvent(HAPI_CODEC_SRV, HAPI_CODEC_EXCEPTION_EVT, 16, 6);
  tick(4);
  const std::vector<HostMsg> answers = hostResponses();
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.back().userTag, 55);
  EXPECT_EQ(answers.back().result, HAPISUCCESS);
  EXPECT_EQ(hostEvents(HAPI_CODEC_EXCEPTION_EVT).size(), 2u);  // forwarded
  EXPECT_TRUE(hostEvents(HAPI_NET_MODE_EVT).empty());
  EXPECT_EQ(netInstance()->hsxstatus & HSNET_STATUS_VOICERATE, 0);
}

TEST_F(NetCommandTest, VoicebandDataRateKeepsTheVoiceEncoder) {
  enterMode(NETMODE_VOICEBANDDATA);
  EXPECT_EQ(command(HAPI_NET_SETVOICERATE_CMD, 0x0001, 80).result, HAPISUCCESS);
  EXPECT_EQ(describe(commandsTo(HAPI_CODEC_SRV)), "281(1,8050)");
  EXPECT_EQ(netInstance()->hsxnetregs.hsxPacketVoiceEncoder, 0x0100);
}

// ---- mode changes that start no stack switch ----

TEST_F(NetCommandTest, ModeChangeWithoutARowIsRefusedAtOnceAndLaterChangesWork) {
  command(HAPI_NET_CONFIG_SETREG1_CMD, 6, 0x5B | HSNET_NET_OPTION_VBD_FAXR_AUTO_SWITCH_DISABLE);
  enterMode(NETMODE_PACKETVOICE);
  serviceEvent(HAPI_CDIS_SRV, HAPI_CDIS_DETECT_EVT, HAPI_CDIS_DETECT_CNG, 0);
  tick(6);
  ASSERT_EQ(netInstance()->statep, s_faxRelay);  // the state moved, the mode did not

  // The fax relay state has no row for "go to fax relay".
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_FAXRELAY, 0).result, HAPIFAILURE);
  EXPECT_EQ(netInstance()->setnetmode_rsp, nullptr);
  EXPECT_TRUE(hostEvents(HAPI_NET_MODE_EVT).empty());
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0).result, HAPISUCCESS);
  EXPECT_EQ(netInstance()->hsxmode, NETMODE_IDLE);
}

TEST_F(NetCommandTest, ModeChangeOnARowWithoutActionsIsAnsweredAtOnce) {
  command(HAPI_NET_CONFIG_SETREG1_CMD, 6, 0x5B | HSNET_NET_OPTION_VBD_FAXR_AUTO_SWITCH_DISABLE);
  enterMode(NETMODE_PACKETVOICE);
  serviceEvent(HAPI_CDIS_SRV, HAPI_CDIS_DETECT_EVT, HAPI_CDIS_DETECT_MACHINE, 0);
  tick(6);
  ASSERT_EQ(netInstance()->statep, s_vband);
  clearRecords();

  const HostMsg answer = command(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0);
  EXPECT_EQ(answer.result, HAPISUCCESS);
  ASSERT_EQ(hostEvents(HAPI_NET_MODE_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(HAPI_NET_MODE_EVT)[0].op1, NETMODE_PACKETVOICE);
  EXPECT_EQ(netInstance()->setnetmode_rsp, nullptr);
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0).result, HAPISUCCESS);
}

// ---- a channel without a codec or a fax stack ----

TEST_F(NetCommandTest, ChannelWithoutCodecStillReachesVoice) {
  const HostMsg answer = command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0, kBareVhd);
  EXPECT_EQ(answer.result, HAPISUCCESS);
  EXPECT_EQ(netInstance(kBareVhd)->hsxmode, NETMODE_PACKETVOICE);
  EXPECT_EQ(netInstance(kBareVhd)->hsxstatus & (HSNET_STATUS_SWITCHING | HSNET_STATUS_VOICERATE), 0);
  EXPECT_EQ(command(HAPI_NET_SETVOICERATE_CMD, 0x0001, 160, kBareVhd).result, HAPIFAILURE);
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0, kBareVhd).result, HAPISUCCESS);
}

TEST_F(NetCommandTest, ChannelWithoutFaxStackStaysInVoice) {
  ASSERT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0, kBareVhd).result, HAPISUCCESS);
  {
    AssertCounter asserts;
    EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_FAXRELAY, 0, kBareVhd).result, HAPIFAILURE);
    EXPECT_EQ(asserts.stop(), 1);
  }
  EXPECT_EQ(netInstance(kBareVhd)->statep, s_voice);
  EXPECT_EQ(netInstance(kBareVhd)->hsxmode, NETMODE_PACKETVOICE);
  EXPECT_EQ(command(HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0, kBareVhd).result, HAPISUCCESS);
}

TEST_F(NetCommandTest, AnswersHeldAtCloseGoBackToThePool) {
  enterMode(NETMODE_PACKETVOICE);
  world().codecAnswersRate = false;
  hostCommand(HAPI_NET_SETMODE_CMD, NETMODE_VOICEBANDDATA, 0, 9);
  tick(6);
  ASSERT_NE(netInstance()->setnetmode_rsp, nullptr);
  ASSERT_NE(netInstance()->setvoicerate_rsp, nullptr);
  // TearDown closes the channel and compares the pools with their counts before it opened.
}

}  // namespace
