// Echo canceller control of an endpoint's line VHD: a small state machine that decides whether
// the canceller is off, on, or on with its non-linear processor off, from connection events,
// call discrimination, hook state and dial tone; and the log of the canceller's own events.
#pragma once

#include "hapi/hapi_types.h"
#include "vrgEndptState.h"

enum ECANEVT : int32_t {
  ECANEVT_CRCX_ON = 0,
  ECANEVT_CRCX_OFF = 1,
  ECANEVT_MDCX_ON = 2,
  ECANEVT_MDCX_OFF = 3,
  ECANEVT_DLCX = 4,
  ECANEVT_CNG = 5,
  ECANEVT_HDLC = 6,
  ECANEVT_MACHINE = 7,
  ECANEVT_PHREV = 8,
  ECANEVT_LOWEN = 9,
  ECANEVT_V18 = 10,
  ECANEVT_BELL103 = 11,
  ECANEVT_ONHOOK = 12,
  ECANEVT_OFFHOOK = 13,
  ECANEVT_DIALTONE_ON = 14,
  ECANEVT_DIALTONE_OFF = 15,
};

void EcanProcessStm(VRG_ENDPT* endpt, ECANEVT event);
void EcanStateSet(VRG_ENDPT* endpt, EPEECANSTATE state);
void HapiProcessEcanEvt(const HSZEVT* event);
