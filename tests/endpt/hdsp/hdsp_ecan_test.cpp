// The echo-canceller control machine: every event from every state, and the canceller the line
// channel ends up with.
#include <gtest/gtest.h>

#include <vector>

#include "dsp_standin.h"
#include "hdspCodes.h"
#include "hdspEcan.h"
#include "hdspLine.h"
#include "hdspVhd.h"

using namespace standin;

namespace {

struct Transition {
  EPEECANSTATE curr, orig;
  int cnxCnt;
  int offHook;
  ECANEVT event;
  EPEECANSTATE expectCurr, expectOrig;
  int expectCnt;
};

constexpr EPEECANSTATE OFF = ECAN_OFF, ON = ECAN_ON, NLP = ECAN_NLP_OFF;

const std::vector<Transition> kTransitions = {
    // From off.
    {OFF, OFF, 0, 1, ECANEVT_CRCX_ON, ON, ON, 1},
    {OFF, OFF, 0, 0, ECANEVT_CRCX_ON, OFF, ON, 1},  // on hook: wait for the phone
    {OFF, OFF, 1, 1, ECANEVT_CRCX_ON, OFF, OFF, 2},  // only the first connection decides
    {OFF, ON, 0, 1, ECANEVT_CRCX_OFF, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_MDCX_ON, ON, ON, 1},
    {OFF, OFF, 1, 0, ECANEVT_MDCX_ON, OFF, ON, 1},
    {OFF, ON, 1, 0, ECANEVT_MDCX_OFF, OFF, OFF, 1},
    {OFF, OFF, 1, 0, ECANEVT_DLCX, OFF, OFF, 0},
    {OFF, OFF, 0, 0, ECANEVT_DLCX, OFF, OFF, 0},  // never below zero
    {OFF, OFF, 1, 1, ECANEVT_CNG, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_HDLC, NLP, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_MACHINE, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_PHREV, OFF, OFF, 1},
    {OFF, ON, 1, 1, ECANEVT_LOWEN, ON, ON, 1},
    {OFF, OFF, 1, 1, ECANEVT_LOWEN, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_V18, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_BELL103, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_ONHOOK, OFF, OFF, 1},
    {OFF, OFF, 0, 1, ECANEVT_OFFHOOK, ON, OFF, 0},
    {OFF, ON, 1, 1, ECANEVT_OFFHOOK, ON, ON, 1},
    {OFF, OFF, 1, 1, ECANEVT_OFFHOOK, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_DIALTONE_ON, OFF, OFF, 1},
    {OFF, OFF, 1, 1, ECANEVT_DIALTONE_OFF, OFF, OFF, 1},
    // From on.
    {ON, OFF, 1, 1, ECANEVT_CRCX_ON, ON, ON, 2},
    {ON, ON, 1, 1, ECANEVT_CRCX_OFF, OFF, OFF, 2},
    {ON, OFF, 1, 1, ECANEVT_MDCX_ON, ON, ON, 1},
    {ON, ON, 1, 1, ECANEVT_MDCX_OFF, OFF, OFF, 1},
    {ON, ON, 2, 1, ECANEVT_DLCX, ON, ON, 1},
    {ON, ON, 1, 1, ECANEVT_DLCX, OFF, ON, 0},
    {ON, ON, 0, 1, ECANEVT_DLCX, OFF, ON, 0},  // never below zero
    {ON, ON, 1, 1, ECANEVT_CNG, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_HDLC, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_MACHINE, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_PHREV, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_LOWEN, ON, ON, 1},
    {ON, ON, 1, 1, ECANEVT_V18, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_BELL103, NLP, ON, 1},
    {ON, ON, 1, 1, ECANEVT_ONHOOK, OFF, ON, 1},
    {ON, ON, 1, 1, ECANEVT_OFFHOOK, ON, ON, 1},
    {ON, OFF, 0, 1, ECANEVT_DIALTONE_ON, NLP, ON, 0},
    {ON, ON, 1, 1, ECANEVT_DIALTONE_OFF, ON, ON, 1},
    // From NLP off.
    {NLP, ON, 1, 1, ECANEVT_CRCX_ON, NLP, ON, 2},
    {NLP, ON, 1, 1, ECANEVT_CRCX_OFF, OFF, OFF, 2},
    {NLP, OFF, 1, 1, ECANEVT_MDCX_ON, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_MDCX_OFF, OFF, OFF, 1},
    {NLP, ON, 1, 1, ECANEVT_DLCX, OFF, ON, 0},
    {NLP, ON, 1, 1, ECANEVT_CNG, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_HDLC, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_MACHINE, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_PHREV, OFF, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_LOWEN, ON, ON, 1},
    {NLP, OFF, 1, 1, ECANEVT_LOWEN, OFF, OFF, 1},
    {NLP, NLP, 1, 1, ECANEVT_LOWEN, NLP, NLP, 1},
    {NLP, ON, 1, 1, ECANEVT_V18, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_BELL103, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_ONHOOK, OFF, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_OFFHOOK, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_DIALTONE_ON, NLP, ON, 1},
    {NLP, ON, 1, 1, ECANEVT_DIALTONE_OFF, ON, ON, 1},
};

class HdspEcan : public HostDspTest {
 protected:
  void SetUp() override {
    HostDspTest::SetUp();
    makeEndpoints(1, EPTYPE_FXS);
    ASSERT_EQ(InitVhds(&vrgEndpt[0], nullptr), EPSTATUS_SUCCESS);
  }
  // The canceller of the line channel: enabled, and its options register.
  std::pair<int, uint16_t> canceller() {
    const uint16_t vhd = vrgEndpt[0].lineVhdHdl;
    sync(vhd);
    const Service hec = dsp.service(vhd, HAPI_HEC_SRV);
    uint16_t options = 0;
    if (auto r = hec.records.find(HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_GETREGS_CMD)); r != hec.records.end()) {
      std::memcpy(&options, r->second.data(), 2);
    }
    return {hec.lastStd.at(hdsp::HAPI_HEC_ENABLE_CMD).first, options};
  }
};

TEST_F(HdspEcan, EveryEventFromEveryState) {
  VRG_ENDPT& e = vrgEndpt[0];
  for (const Transition& t : kTransitions) {
    e.ecanState.currState = t.curr;
    e.ecanState.origState = t.orig;
    e.cnxCnt.store(t.cnxCnt);
    e.offHook.store(static_cast<uint16_t>(t.offHook));
    EcanProcessStm(&e, t.event);
    SCOPED_TRACE(testing::Message() << "state " << t.curr << " orig " << t.orig << " event " << t.event);
    EXPECT_EQ(e.ecanState.currState, t.expectCurr);
    EXPECT_EQ(e.ecanState.origState, t.expectOrig);
    EXPECT_EQ(e.cnxCnt.load(), t.expectCnt);
  }
}

TEST_F(HdspEcan, TheLineCancellerFollowsACall) {
  VRG_ENDPT& e = vrgEndpt[0];
  // Created on hook: the canceller stays off until the phone goes off hook.
  EcanProcessStm(&e, ECANEVT_CRCX_ON);
  EcanProcessStm(&e, ECANEVT_CRCX_ON);
  EXPECT_EQ(canceller().first, 0);
  e.offHook.store(1);
  EcanProcessStm(&e, ECANEVT_OFFHOOK);
  EXPECT_EQ(canceller(), std::make_pair(1, hdsp::HAPI_HEC_OPTIONS_OFF_HOOK));
  // A fax tone switches the NLP off; low energy afterwards brings it back.
  EcanProcessStm(&e, ECANEVT_CNG);
  EXPECT_EQ(canceller(), std::make_pair(1, hdsp::HAPI_HEC_OPTIONS_VBD));
  EcanProcessStm(&e, ECANEVT_LOWEN);
  EXPECT_EQ(canceller(), std::make_pair(1, hdsp::HAPI_HEC_OPTIONS_OFF_HOOK));
  // The first of two deletes leaves it on, the second switches it off.
  EcanProcessStm(&e, ECANEVT_DLCX);
  EXPECT_EQ(canceller().first, 1);
  EcanProcessStm(&e, ECANEVT_DLCX);
  EXPECT_EQ(canceller().first, 0);
  EXPECT_EQ(e.cnxCnt.load(), 0);
}

TEST_F(HdspEcan, TestModesFreezeTheMachine) {
  VRG_ENDPT& e = vrgEndpt[0];
  e.offHook.store(1);
  for (ENDPTTESTMODE mode : {TESTMODE_TR57, TESTMODE_ANALOGLOOPBACK, TESTMODE_ECANDEBUGCMD}) {
    e.testMode = mode;
    EcanProcessStm(&e, ECANEVT_CRCX_ON);
    EXPECT_EQ(e.ecanState.currState, ECAN_OFF);
    EXPECT_EQ(e.cnxCnt.load(), 0);
  }
  e.testMode = TESTMODE_NONE;
  EcanProcessStm(&e, ECANEVT_OFFHOOK);
  EXPECT_EQ(e.ecanState.currState, ECAN_ON);
  requestLoopback(&e, 1);
  EXPECT_EQ(e.ecanState.currState, ECAN_OFF);
  EXPECT_EQ(e.testMode, TESTMODE_ANALOGLOOPBACK);
  EXPECT_EQ(canceller().first, 0);
}

TEST_F(HdspEcan, HookChangesOfTheLineDriveTheCanceller) {
  VRG_ENDPT& e = vrgEndpt[0];
  EXPECT_EQ(EndptUpdateCasState(0, EPCAS_OFFHOOK), EPSTATUS_SUCCESS);
  EXPECT_EQ(e.offHook.load(), 1);
  EXPECT_EQ(e.earlyOffHook.load(), 1);
  EXPECT_EQ(canceller().first, 1);
  ASSERT_NE(e.cnx[0], nullptr);  // the line has its first connection record now
  EXPECT_EQ(e.cnx[0]->lineId, 0);
  EXPECT_EQ(e.cnx[0]->cnxId, -2);
  EXPECT_EQ(EndptUpdateCasState(0, EPCAS_ONHOOK), EPSTATUS_SUCCESS);
  EXPECT_EQ(e.offHook.load(), 0);
  EXPECT_EQ(canceller().first, 0);
  EXPECT_EQ(EndptUpdateCasState(0, EPCAS_EARLY_ONHOOK), EPSTATUS_SUCCESS);
  EXPECT_EQ(EndptUpdateCasState(0, static_cast<EPCAS_EVENT>(42)), EPSTATUS_SUCCESS);
  EXPECT_EQ(EndptUpdateCasState(5, EPCAS_OFFHOOK), EPSTATUS_ENDPT_UNKNOWN);
}

}  // namespace
