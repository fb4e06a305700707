// Recording stand-ins for what the console commands call below them: channel operations, the
// board layer, echo-canceller and switchboard control, and the dispatcher's event receivers and
// event callback. Calls land in HostDspDouble's line list as "name(args)".
#include "../class/hostDspDouble.h"
#include "boardHal.h"
#include "casCtl.h"
#include "hdspCnx.h"
#include "hdspEcan.h"
#include "hdspLine.h"
#include "hdspSb.h"
#include "hdspTone.h"
#include "hdspVhd.h"
#include "rtpCnx.h"
#include "vrgEndptConsole.h"

int consoleOffHook = 0;  // what the line driver answers for the hook

namespace {
int note(const char* name, std::vector<long> args = {}) {
  HostDspDouble::get().line.push_back({name, std::move(args)});
  return 0;
}
}  // namespace

int hdspDigitOn(uint16_t vhd, int line, int digit, int level, int, int pulse, HDSP_TONE_DIRECTION dir) {
  return note("hdspDigitOn", {vhd, line, digit, level, pulse, dir});
}
void EcanStateSet(VRG_ENDPT*, EPEECANSTATE state) { note("EcanStateSet", {state}); }
void SetVoiceMode(CNXSTATE* cnx, VOICEMODE mode) { note("SetVoiceMode", {cnx->vhdhdl, mode}); }
std::vector<uint8_t> lastNotifyData;  // the data block of the last event reported
void vrgEndptNotify(ENDPT_STATE* state, int cnxId, EPEVT event, void* data, int length, int value) {
  note("vrgEndptNotify", {state->lineId, cnxId, event, length, value});
  const auto* bytes = static_cast<const uint8_t*>(data);
  lastNotifyData.assign(bytes, bytes + (data != nullptr && length > 0 ? length : 0));
}
void requestLoopback(VRG_ENDPT*, int on) { note("requestLoopback", {on}); }
void CasEventCallback(CAS_CTL_HANDLE h, CAS_CTL_EVENT_TYPE type, CAS_CTL_EVENT event) {
  note("CasEventCallback", {h, type, event});
}
void EndptVhdEventCallback(HSZEVT* e, uint16_t) { note("EndptVhdEventCallback", {e->hsxdevhdl, e->hsxevt, e->hsxop2.val}); }
void GenerateNteEvent(CNXSTATE*, int event) { note("GenerateNteEvent", {event}); }
int boardHalIsOffhook(int) { return consoleOffHook; }
int boardHalSetSlicMode(int ept, int mode) { return note("boardHalSetSlicMode", {ept, mode}); }
int boardHalSlicLineTest(int ept, int id) { return note("boardHalSlicLineTest", {ept, id}); }
int consoleFxoEndpoint = -1;  // the board's FXO port, if any
int boardHalIsType(int ept, dh_type type) { return type == DSPHAL_TYPE_FXO && ept == consoleFxoEndpoint ? 1 : 0; }
void boardHalDspDisplayCfg(void) { note("boardHalDspDisplayCfg"); }
int16_t hdspVhdEnableCmtd(uint16_t vhd, VRG_COUNTRY) { return static_cast<int16_t>(note("hdspVhdEnableCmtd", {vhd})); }
int16_t hdspVhdDisableCmtd(uint16_t vhd) { return static_cast<int16_t>(note("hdspVhdDisableCmtd", {vhd})); }
int hdspRmGetTotalMips(void) { return 1234; }
int16_t hdspRmQueryDspBuffers(uint16_t) { return 0; }
int16_t hdspVhdGetVoiceStats(uint16_t, HSZNETVOICESTATS*) { return -1; }
void hdspVhdDisplayVoiceStatsRaw(uint16_t, const HSZNETVOICESTATS*) {}
void hdspVhdDisplayPveState(uint16_t vhd) { note("hdspVhdDisplayPveState", {vhd}); }
void hdspVhdDisplayFaxrStats(uint16_t) {}
void hdspVhdDisplayEndptStats(uint16_t) {}
int16_t hdspVhdGetJitterBuffer(uint16_t, int* fixed, int* voiceMin, int* voiceMax, int* voiceTarget, int* dataTarget) {
  *fixed = 0;
  *voiceMin = 20;
  *voiceMax = 200;
  *voiceTarget = 60;
  *dataTarget = 80;
  return 0;
}
int16_t hdspVhdSetEgressGain(uint16_t vhd, int dB) { return static_cast<int16_t>(note("hdspVhdSetEgressGain", {vhd, dB})); }
int16_t hdspVhdSetIngressGain(uint16_t vhd, int dB) { return static_cast<int16_t>(note("hdspVhdSetIngressGain", {vhd, dB})); }
int16_t hdspVhdSetPVEEgressVolume(uint16_t vhd, int dB) { return static_cast<int16_t>(note("hdspVhdSetPVEEgressVolume", {vhd, dB})); }
int16_t hdspVhdSetPVEIngressVolume(uint16_t vhd, int dB) { return static_cast<int16_t>(note("hdspVhdSetPVEIngressVolume", {vhd, dB})); }
int16_t hdspVhdSetAmrSettings(uint16_t vhd, uint16_t modes, uint16_t, uint16_t, uint16_t ptime, uint16_t red) {
  return static_cast<int16_t>(note("hdspVhdSetAmrSettings", {vhd, modes, ptime, red}));
}
int16_t hdspVhdGetCmtdPowerLevel(uint16_t, uint32_t* power) {
  *power = 0x1234;
  return 0;
}
int16_t hdspRmSwitchBoardConnect(uint16_t src, uint16_t srcIf, uint16_t dst, uint16_t dstIf, uint16_t, int connect) {
  return static_cast<int16_t>(note("hdspRmSwitchBoardConnect", {src, srcIf, dst, dstIf, connect}));
}
EPSTATUS GetConnectionRtpStats(CNXSTATE*, EPZCNXSTATS*, int reset) {
  note("GetConnectionRtpStats", {reset});
  return EPSTATUS_SUCCESS;
}
void vrgEndptPrintRtpStats(const EPZCNXSTATS*) {}
EPSTATUS ConnectSB(int a, int b) {
  note("ConnectSB", {a, b});
  return EPSTATUS_SUCCESS;
}
void istwPrintState(void) {}
