// Console commands on an endpoint: the endpoint check, hook reading, the NET register write and
// its bounds, line tests, the in-band DTMF digit used for cordless keypads,
// gains and AMR settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "../class/hostDspDouble.h"
#include "../logCapture.h"
#include "hdspTone.h"
#include "net/net_regs.h"
#include "vrgEndptConsole.h"
#include "vrgEndptIdleWd.h"

extern int consoleOffHook;

// The dispatcher's line-test states, here without the dispatcher.
LT_STATE vrgEndptLtState[VRG_MAX_ENDPT];

namespace {

constexpr uint16_t kLineVhd = 0x51;
constexpr uint16_t kCnxVhd = 0x52;
constexpr int kCnxId = 7;

std::vector<LineRequest> calls(const std::string& name) {
  std::vector<LineRequest> out;
  for (const LineRequest& r : HostDspDouble::get().line) {
    if (r.call == name) out.push_back(r);
  }
  return out;
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostDspDouble::get().clear();
    vrgEndptStateReset();
    VRG_ENDPT& e = vrgEndpt[0];
    e.isLineUsed = 1;
    e.lineId = 0;
    e.lineVhdHdl = kLineVhd;
    e.endptNum = 0;
    e.endptArchive = &state;
    CNXSTATE& c = vrgCnxState[0];
    c.vhdhdl = kCnxVhd;
    c.cnxId = kCnxId;
    c.lineId = 0;
    e.cnx[0] = &c;
    vrgEndptLtState[0] = LT_NONE;
    consoleOffHook = 0;
  }
  EPSTATUS run(EPCONSOLECMD cmd, std::initializer_list<uint32_t> args = {}) {
    EPCMD_PARMS p{};
    std::copy(args.begin(), args.end(), p.arg);
    return ProcessVrgEndptConsoleCmd(&state, cmd, &p);
  }
  ENDPT_STATE state{0, EPTYPE_FXS};
};

TEST_F(ConsoleTest, LineWithoutEndpointIsAnError) {
  ENDPT_STATE other{5, EPTYPE_FXS};
  EPCMD_PARMS p{};
  EXPECT_EQ(ProcessVrgEndptConsoleCmd(&other, EPCMD_HEC_DEFAULT, &p), EPSTATUS_ERROR);
  EXPECT_EQ(ProcessVrgEndptConsoleCmd(nullptr, EPCMD_HEC_DEFAULT, &p), EPSTATUS_ERROR);
  EXPECT_TRUE(HostDspDouble::get().dsp.empty());
  EXPECT_EQ(run(static_cast<EPCONSOLECMD>(400)), EPSTATUS_SUCCESS);  // outside the table: nothing
}

TEST_F(ConsoleTest, ReadHookStateAnswersOnHookAsAnError) {
  EXPECT_EQ(run(EPCMD_READ_HOOK_STATE), EPSTATUS_ERROR);
  EXPECT_EQ(vrgEndpt[0].offHook.load(), 0);
  consoleOffHook = 1;
  LogCapture log;
  EXPECT_EQ(run(EPCMD_READ_HOOK_STATE), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndpt[0].offHook.load(), 1);
  EXPECT_TRUE(log.contains("EPT: ENDPT 0: OFF-HOOK"));
  const auto istw = calls("istwEvent");
  ASSERT_EQ(istw.size(), 2u);
  EXPECT_EQ(istw[1].args, (std::vector<long>{kLineVhd, ISTW_FORCED_ACTIVE, 1}));
}

// The NET configuration record is 22 bytes of 16-bit registers: a write lands on one of the
// even offsets 0 to 20, or nowhere.
TEST_F(ConsoleTest, NetRegisterWriteStaysInsideTheRecord) {
  LogCapture log;
  EXPECT_EQ(run(EPCMD_HAPINET_CONFIG_SETREG, {kCnxVhd, 22, 0xBEEF}), EPSTATUS_SUCCESS);
  EXPECT_TRUE(log.contains("EPT: Specified offset is bigger than structure size (22)!!!"));
  run(EPCMD_HAPINET_CONFIG_SETREG, {kCnxVhd, 21, 0xBEEF});
  run(EPCMD_HAPINET_CONFIG_SETREG, {kCnxVhd, 0xFFFFFFFFu, 0xBEEF});
  EXPECT_TRUE(HostDspDouble::get().dsp.empty());

  run(EPCMD_HAPINET_CONFIG_SETREG, {kCnxVhd, 20, 0xBEEF});
  const auto& dsp = HostDspDouble::get().dsp;
  ASSERT_EQ(dsp.size(), 2u);
  EXPECT_EQ(dsp[0].cmd, HAPI_NET_CONFIG_GETREGS_CMD);
  EXPECT_EQ(dsp[1].cmd, HAPI_NET_CONFIG_SETREGS_CMD);
  ASSERT_EQ(dsp[1].data.size(), sizeof(HSZNETREGS));
  HSZNETREGS regs{};
  std::memcpy(&regs, dsp[1].data.data(), sizeof regs);
  EXPECT_EQ(regs.hsxVBDSuperPktInterval, 0xBEEF);

  HostDspDouble::get().clear();
  log.clear();
  run(EPCMD_HAPINET_CONFIG_SETREG, {kLineVhd, 0, 1});  // the line channel is no connection
  EXPECT_TRUE(log.contains("EPT: VHD handle 0x51 is not a connection VHD !!!"));
  EXPECT_TRUE(HostDspDouble::get().dsp.empty());
}

TEST_F(ConsoleTest, LineTestWhileOneIsPendingCancelsItAndStartsTheNew) {
  run(EPCMD_LINE_TEST, {2});
  EXPECT_EQ(vrgEndptLtState[0], LT_REQUESTED);
  LogCapture log;
  run(EPCMD_LINE_TEST, {3});
  EXPECT_EQ(vrgEndptLtState[0], LT_CANCELED);
  EXPECT_TRUE(log.contains("EPT: new request but invalid test state '0'"));
  const auto tests = calls("boardHalSlicLineTest");
  ASSERT_EQ(tests.size(), 2u);
  EXPECT_EQ(tests[1].args[1], 3);

  vrgEndptLtState[0] = LT_COMPLETED;
  run(EPCMD_LINE_TEST, {9});
  EXPECT_EQ(vrgEndptLtState[0], LT_NONE);
  EXPECT_TRUE(log.contains("EPT: Invalid test id '9'"));
  EXPECT_EQ(calls("boardHalSlicLineTest").size(), 2u);
}

TEST_F(ConsoleTest, IngressDtmfPlaysTheDigitAndReportsItBeganAndEnded) {
  run(EPCMD_INDTMF_GENERATE, {5});
  const auto digit = calls("hdspDigitOn");
  ASSERT_EQ(digit.size(), 1u);
  EXPECT_EQ(digit[0].args[0], kLineVhd);
  EXPECT_EQ(digit[0].args[2], 5);
  EXPECT_EQ(digit[0].args[5], INGRESS_TONE);
  const auto events = calls("vrgEndptNotify");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].args[2], EPEVT_DTMF5);
  EXPECT_EQ(events[0].args[4], 0);
  EXPECT_EQ(events[1].args[4], 1);

  HostDspDouble::get().clear();
  run(EPCMD_INDTMF_GENERATE, {16});
  EXPECT_TRUE(HostDspDouble::get().line.empty());
}

TEST_F(ConsoleTest, GainsAndAmrSettingsOfTheConnections) {
  run(EPCMD_CNX_INGRESSGAIN_SET, {static_cast<uint32_t>(-3), kCnxId});
  EXPECT_EQ(vrgCnxState[0].txVolume, -3);
  EXPECT_EQ(calls("hdspVhdSetPVEIngressVolume").at(0).args, (std::vector<long>{kCnxVhd, -3}));
  LogCapture log;
  run(EPCMD_CNX_EGRESSGAIN_SET, {2, 99});
  EXPECT_TRUE(log.contains("EPT: ENDPT - cnx is not valid "));

  EXPECT_EQ(run(EPCMD_SET_AMR_CONFIG, {0, 1, 0x81, 1, 2}), EPSTATUS_SUCCESS);
  EXPECT_EQ(calls("hdspVhdSetAmrSettings").at(0).args, (std::vector<long>{kCnxVhd, 0x81, 0, 1}));
  EXPECT_EQ(run(EPCMD_SET_AMR_CONFIG, {1}), EPSTATUS_CNX_UNKNOWN);
  EXPECT_EQ(run(EPCMD_HOSTASSERT, {3}), EPSTATUS_CNX_UNKNOWN);
}

}  // namespace
