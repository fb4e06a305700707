// The dispatcher's processing of commands, signal requests and events, shared between its files.
#pragma once

#include <atomic>
#include <cstdint>

#include "casCtl.h"
#include "vrgEndptDispatcher.h"
#include "vrgEndptState.h"

// The 4-byte data of fax, modem and voice-band-data events.
enum EPEVTREASON : int32_t {
  EPEVTREASON_PTSW = 0,
  EPEVTREASON_CNG = 1,
  EPEVTREASON_EGRESS_CNG = 2,
  EPEVTREASON_V21flag = 3,
  EPEVTREASON_V21tone = 4,
  EPEVTREASON_BAUDOT = 5,
  EPEVTREASON_BAUDOT_SHORT = 6,
  EPEVTREASON_EGRESS_BAUDOT_SHORT = 7,
  EPEVTREASON_BELLTONE = 8,
  EPEVTREASON_ANS = 9,
  EPEVTREASON_EGRESS_ANS = 10,
  EPEVTREASON_prANS = 11,
  EPEVTREASON_EGRESS_prANS = 12,
  EPEVTREASON_CUSTTONE_INGRESS = 13,
  EPEVTREASON_CUSTTONE_EGRESS = 14,
  EPEVTREASON_DCN = 15,
  EPEVTREASON_HDLC = 16,
};

// Events of the line and connection channels that the dispatcher handles, beside those of the
// NET, codec and call-discrimination services (net/net_codes.h, net/net_regs.h).
enum : uint16_t {
  HAPI_CODEC_STOP_ADAPT_CMD = 0x028C,
  HAPI_RTP_THRESHOLD_MONITOR_EVT = 0x0649,
  HAPI_RTP_EGRESS_ERROR_EVT = 0x06C2,
  HAPI_RTP_EGRESS_SSRC_COLLISION_EVT = 0x06C3,
  HAPI_CLIDTX_DONE_EVT = 0x08C0,
  HAPI_PTE_TONE_GEN_EVT = 0x0942,
  HAPI_PTE_TONE_ON_EVT = 0x09C0,
  HAPI_PTE_TONE_OFF_EVT = 0x09C1,
  HAPI_PTE_TONE_ON_EGRESS_EVT = 0x09CB,
  HAPI_PTE_TONE_OFF_EGRESS_EVT = 0x09CC,
  HAPI_FAXR_V21_PREAMBLE_EVT = 0x1254,
  HAPI_FAXR_CALLEND_EVT = 0x12C0,
  HAPI_FAXR_DEBUGRXTONE_EVT = 0x12C3,
  HAPI_CMTD_TONE_DET_EVT = 0x1AC0,
  HAPI_CMTD_TONE_END_EVT = 0x1AC1,
  HAPI_CLIDRX_PKT_EVT = 0x3440,
  HAPI_HEC_STATE_EVT = 0x44C0,
  HAPI_DTAS_EVT = 0x45C0,
};

// Line-test state of each endpoint: a result is reported only for a requested test.
enum LT_STATE : int32_t {
  LT_REQUESTED = 0,
  LT_INPROGRESS = 1,
  LT_COMPLETED = 2,
  LT_CANCELED = 3,
  LT_NONE = 4,
};
extern LT_STATE vrgEndptLtState[VRG_MAX_ENDPT];

// What the line's signalling was last asked to do from the network side.
enum EP_CAS_CTL_BITS : int32_t {
  EP_CAS_CTL_LCF = 0,
  EP_CAS_CTL_LCFO = 1,
  EP_CAS_CTL_RLCF = 2,
  EP_CAS_CTL_RINGING = 3,
};
// Per endpoint; changed by the dispatcher and by vrgEndptPacket on the daemon's thread.
extern std::atomic<int32_t> vrgEndptCasCtlBits[VRG_MAX_ENDPT];
inline std::atomic<int32_t>& CasCtlBits(const VRG_ENDPT* endpt) {
  return vrgEndptCasCtlBits[endpt - vrgEndpt];
}

void HapiCnxEventProcess(const VRG_HAPI_EVT& event);

EPSTATUS ProcessVrgEndptCreateConnection(ENDPT_STATE* state, int cnxId, EPZCNXPARAM* params);
EPSTATUS ProcessVrgEndptModifyConnection(ENDPT_STATE* state, int cnxId, EPZCNXPARAM* params);
EPSTATUS ProcessVrgEndptDeleteConnection(ENDPT_STATE* state, int cnxId);
// The switchboard's build-out flush of a line channel (the dispatcher's form of
// vrgEndptResetBuildOut, which does not take endptLock).
void ResetBuildOut(int lineId, int vhdhdl);

// Console commands of the library's console module.
EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* state, EPCONSOLECMD cmd, EPCMD_PARMS* params);

EPSTATUS ProcessVrgEndptSignal(ENDPT_STATE* endptState, int cnxId, EPSIG signal, uintptr_t value,
                               int duration, int period, int repetition);

// The ring pattern of a ring signal for the country: its provisioning item (or -1 with a static
// pattern written into the profile). EPSTATUS_SUCCESS or EPSTATUS_UNKNOWN_TYPE.
// The CAS ring profile of a ring signal for the country, from its provisioned cadence (read for
// the endpoint's line) or a static pattern.
EPSTATUS GetRingPattern(EPSIG signal, VRG_COUNTRY country, const VRG_ENDPT* endpt,
                        CAS_CTL_RING_PROFILE* profile);

// Room for any provisioning value (the largest is 1024 bytes).
inline constexpr int PROV_VALUE_MAX_BYTES = 1024;

EPSTATUS globeEndptGetRingPattern(VRG_COUNTRY country, EPSIG signal,
                                  CAS_CTL_RING_PROFILE* profile, int* provItem);
