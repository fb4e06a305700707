// Console commands of the endpoint library, run on the dispatcher thread. Most only log; a few
// change registers, gains, switchboard paths or test modes, or simulate line events.
#include "vrgEndptConsole.h"

#include <cstring>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspCnx.h"
#include "hdspCodes.h"
#include "hdspEcan.h"
#include "hdspLine.h"
#include "hdspSb.h"
#include "hdspTone.h"
#include "hdspVhd.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "net/net_regs.h"
#include "rtpCnx.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptIdleWd.h"
#include "vrgEndptLib.h"
#include "vrgProv.h"

namespace {

constexpr uint16_t kHecRegOptions = 0;
constexpr uint16_t kHecRegDebug = 2;
constexpr uint16_t kHecRegVolume = 4;
constexpr uint16_t HAPI_HEC_GETSTATE_CMD = HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_GETSTATE_CMD);  // 0x44B6
constexpr uint16_t HAPI_HEC_RESET_CMD = HSF_MKCMD_STD(HAPI_HEC_SRV, 4);                     // 0x4484
constexpr uint16_t HAPI_HEC_RESETCOEFF_CMD = HSF_MKCMD_STD(HAPI_HEC_SRV, 5);                // 0x4485
constexpr uint16_t HAPI_RTP_SET_NTP_TIMESTAMP_CMD = HSF_MKCMD_EXT(HAPI_RTP_SRV, 0x17);        // 0x0617
constexpr uint16_t kNtpChannel = 0x50;
constexpr uint16_t kGr303OnHookEvent = 149;
constexpr uint16_t kGr303OffHookEvent = 159;
constexpr int kSlicStandby = 1;
constexpr int kSlicActive = 6;
constexpr int kSlicDisconnect = 0;
constexpr uint32_t kMaxLineTestId = 4;

void info(const char* format, auto... args) { voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, format, args...); }
void warn(const char* format, auto... args) { voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, format, args...); }
void error(const char* format, auto... args) { voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, format, args...); }

struct Console {
  ENDPT_STATE* state;
  VRG_ENDPT* endpt;
  const uint32_t* arg;
};

// A command that works on a connection channel names it in arg[0].
bool isConnectionChannel(uint32_t handle) {
  if (handle <= 0xFFFF && IsCnxVhd(static_cast<uint16_t>(handle))) return true;
  warn("EPT: VHD handle 0x%x is not a connection VHD !!!", handle);
  warn("EPT: Type 'vhd_info' to display VHD handle assignments");
  return false;
}

CNXSTATE* endpointConnection(const VRG_ENDPT* endpt, int cnxId) {
  for (CNXSTATE* cnx : endpt->cnx) {
    if (cnx != nullptr && cnx->cnxId == cnxId) return cnx;
  }
  return nullptr;
}

void voiceStats(uint16_t vhd, bool withState) {
  HSZNETVOICESTATS stats{};
  if (hdspVhdGetVoiceStats(vhd, &stats) != 0) {
    info("EPT: Cannot display Voice Stats for vhdhdl = 0x%x", vhd);
  } else {
    hdspVhdDisplayVoiceStatsRaw(vhd, &stats);
  }
  if (withState) hdspVhdDisplayPveState(vhd);
}

void jitterBufferRegs(uint16_t vhd) {
  int fixed = 0, voiceMin = 0, voiceMax = 0, voiceTarget = 0, dataTarget = 0;
  if (hdspVhdGetJitterBuffer(vhd, &fixed, &voiceMin, &voiceMax, &voiceTarget, &dataTarget) != 0) {
    error("EPT: ERROR getting jitter buffer registers for VHD handle 0x%x", vhd);
    return;
  }
  const CNXSTATE* cnx = GetCnxStateFromVHD(vhd);
  info("EPT: VHD Jitter Buffer settings for vhdhdl = %x", vhd);
  info("EPT: ------------------------------------------");
  info("EPT: voiceJBFixed = %s", fixed == 0 ? "ADAPTIVE" : "FIXED");
  info("EPT: voiceJBMin = %d (ms)", voiceMin);
  info("EPT: voiceJBMax = %d (ms)", voiceMax);
  info("EPT: voiceJBTarget = %d (ms)", voiceTarget);
  info("EPT: dataJBTarget = %d (ms)", dataTarget);
  info("EPT: ajcCustomReg = 0x%x", cnx != nullptr ? cnx->ajcCustomReg : 0);
  info("EPT: ------------------------------------------");
}

void tickCount() {
  uint32_t count = 0;
  if (LHAPI_gpFncLockSMP != nullptr && LHAPI_gpFncUnlockSMP != nullptr) {
    const HSZBIOSSTATE lock = LHAPI_gpFncLockSMP();
    count = KNL_gGlobals.frameSyncCount;
    LHAPI_gpFncUnlockSMP(lock);
  }
  for (int i = 0; i < 3; ++i) info("EPT: Interrupt  count (%d)  0x%x", i, count);
}

void tr57(Console& c) {
  VRG_ENDPT* e = c.endpt;
  CNXSTATE* cnx = GetEndptCnxState(e, static_cast<int>(c.arg[0]));
  const bool offHook = e->offHook.load(std::memory_order_relaxed) != 0;
  if (c.arg[1] != 0) {
    info("EPT: Enabling TR57 test mode on line %d ...", e->lineId);
    if (offHook && cnx != nullptr) {
      cnx->vbData.bEnabled = 1;
      SetVoiceMode(cnx, VM_ACTIVE);
      EcanStateSet(e, ECAN_OFF);
    }
    e->testMode = TESTMODE_TR57;
    info("EPT: ENDPT %d: TR57 test mode enabled.", e->lineId);
  } else {
    info("EPT: Disabling TR57 test mode on line %d ...", e->lineId);
    e->testMode = TESTMODE_NONE;
    if (offHook && cnx != nullptr) {
      cnx->vbData.bEnabled = 0;
      SetVoiceMode(cnx, VM_ACTIVE);
      EcanStateSet(e, ECAN_ON);
    }
    info("EPT: ENDPT %d: TR57 test mode disabled.", e->lineId);
  }
}

EPSTATUS readHookState(Console& c) {
  VRG_ENDPT* e = c.endpt;
  const bool offHook = boardHalIsOffhook(e->endptNum) > 0;
  e->offHook.store(offHook ? 1 : 0, std::memory_order_relaxed);
  istwEvent(e->lineVhdHdl, ISTW_FORCED_ACTIVE, offHook ? 1 : 0);
  info(offHook ? "EPT: ENDPT %d: OFF-HOOK" : "EPT: ENDPT %d: ON-HOOK", e->lineId);
  if (e->bGR303Support) {
    CNXSTATE* cnx = GetEndptCnxState(e, static_cast<int>(c.arg[0]));
    if (cnx != nullptr) GenerateNteEvent(cnx, offHook ? kGr303OffHookEvent : kGr303OnHookEvent);
  }
  return offHook ? EPSTATUS_SUCCESS : EPSTATUS_ERROR;
}

void slicState(Console& c) {
  const int line = c.endpt->lineId;
  switch (c.arg[0]) {
    case 1:
      info("EPT: ENDPT %d: SLIC in Standby mode", line);
      boardHalSetSlicMode(c.endpt->endptNum, kSlicStandby);
      break;
    case 0:
      info("EPT: ENDPT %d: SLIC in active mode", line);
      boardHalSetSlicMode(c.endpt->endptNum, kSlicActive);
      break;
    case 2:
      info("EPT: ENDPT %d: SLIC in disconnect mode", line);
      boardHalSetSlicMode(c.endpt->endptNum, kSlicDisconnect);
      break;
    default: info("EPT: ENDPT %d: SLIC mode unchanged", line); break;
  }
}

// Writes one 16-bit NET configuration register. Registers are words: only even offsets inside
// the 22-byte record are accepted, so a write never reaches past it.
void netConfigSetReg(Console& c) {
  if (!isConnectionChannel(c.arg[0])) return;
  const auto vhd = static_cast<uint16_t>(c.arg[0]);
  const uint32_t offset = c.arg[1];
  if (offset >= EPT_NET_CONFIG_REGS_SIZE) {
    warn("EPT: Specified offset is bigger than structure size (%d)!!!", static_cast<int>(EPT_NET_CONFIG_REGS_SIZE));
    return;
  }
  if (offset % 2 != 0) {
    warn("EPT: Specified offset %u is not a register boundary!!!", offset);
    return;
  }
  HSZNETREGS regs{};
  if (hdspSendCmdData(vhd, HAPI_NET_CONFIG_GETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs, &regs) != 0) {
    info("EPT: Unable to get registers.");
    return;
  }
  const auto value = static_cast<uint16_t>(c.arg[2]);
  std::memcpy(reinterpret_cast<uint8_t*>(&regs) + offset, &value, sizeof value);
  if (hdspSendCmdData(vhd, HAPI_NET_CONFIG_SETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs, &regs) != 0) {
    info("EPT: Unable to set register.");
  }
}

void networkLoopTest(Console& c) {
  const CNXSTATE* cnx = c.endpt->cnx[0];
  if (cnx == nullptr) return;
  const int line = c.endpt->lineId;
  if (hdspRmSwitchBoardConnect(c.endpt->lineVhdHdl, HAPI_SWB_TOS, cnx->vhdhdl, HAPI_SWB_BOS, HAPI_SWB_SIMPLEX, 0) != 0) {
    error("EPT: ERROR removing line->gateway VHD switchboard connection for endpt %d", line);
  }
  if (hdspRmSwitchBoardConnect(cnx->vhdhdl, HAPI_SWB_BOS, cnx->vhdhdl, HAPI_SWB_BOS, HAPI_SWB_SIMPLEX, 1) != 0) {
    error("EPT: ERROR adding gateway->line VHD switchboard connection for endpt %d", line);
  }
}

void hecSetReg(uint16_t vhd, uint16_t reg, uint16_t value, const char* failure, int line) {
  if (hdspSendCmdAsync(vhd, hdsp::HAPI_HEC_SETREG1_CMD, HAPI_REQID_STD_CMD, reg, value) != 0) error(failure, line);
}

void generateToneEvent(Console& c) {
  HSZEVT evt{};
  evt.hsxdevhdl = static_cast<uint16_t>(0x54 + c.endpt->lineId);
  evt.hsxevt = c.arg[0] != 0 ? 0x09C0 : 0x09C1;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop2.val = static_cast<uint16_t>(c.arg[1]);
  EndptVhdEventCallback(&evt, static_cast<uint16_t>(c.endpt->dspNum));
}

// A DTMF digit played towards the network, as if dialled on the line (the daemon uses it for
// keypad digits of cordless handsets), then reported as a digit that began and ended.
void generateIngressDtmf(Console& c) {
  const uint32_t digit = c.arg[0];
  if (digit >= 16) return;
  VRG_ENDPT* e = c.endpt;
  uint32_t level = 0;
  uint32_t pulseTime = 0;
  Provision(e, EPPROV_DtmfDbLevel, &level);
  Provision(e, EPPROV_DtmfPulseTime, &pulseTime);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: Generate ingressDTMF: lineVhdHdl:%d, digit:%d, dbLevel:%lu, pulseTime:%lu", e->lineVhdHdl,
           static_cast<int>(digit), static_cast<unsigned long>(level), static_cast<unsigned long>(pulseTime));
  hdspDigitOn(e->lineVhdHdl, e->lineId, static_cast<int>(digit), static_cast<int>(level), 0,
              static_cast<int>(pulseTime), INGRESS_TONE);
  const EPEVT event = digit2epevtMap[digit].epEvent;
  vrgEndptNotify(e->endptArchive != nullptr ? e->endptArchive : c.state, -1, event, nullptr, 0, 0);
  vrgEndptNotify(e->endptArchive != nullptr ? e->endptArchive : c.state, -1, event, nullptr, 0, 1);
}

void connectionGain(Console& c, bool ingress) {
  CNXSTATE* cnx = endpointConnection(c.endpt, static_cast<int>(c.arg[1]));
  if (cnx == nullptr) {
    warn("EPT: ENDPT - cnx is not valid ");
    return;
  }
  const int dB = static_cast<int>(c.arg[0]);
  if (ingress) {
    cnx->txVolume = dB;
    hdspVhdSetPVEIngressVolume(cnx->vhdhdl, dB);
  } else {
    cnx->rxVolume = dB;
    hdspVhdSetPVEEgressVolume(cnx->vhdhdl, dB);
  }
}

void toneDetectionPower(Console& c) {
  uint32_t power = 0;
  if (hdspVhdGetCmtdPowerLevel(c.endpt->lineVhdHdl, &power) != 0) {
    error("EPT: Request for tone power failed");
    return;
  }
  vrgEndptNotify(c.endpt->endptArchive != nullptr ? c.endpt->endptArchive : c.state, -1, EPEVT_DTMF_LEVEL, &power,
                 sizeof power, -1);
}

void lineTest(Console& c) {
  LT_STATE& lt = vrgEndptLtState[c.endpt->endptNum % VRG_MAX_ENDPT];
  if (lt == LT_COMPLETED || lt == LT_NONE) {
    lt = LT_REQUESTED;
  } else {
    error("EPT: new request but invalid test state '%d'", static_cast<int>(lt));
    lt = LT_CANCELED;
  }
  const uint32_t testId = c.arg[0];
  if (testId > kMaxLineTestId) {
    lt = LT_NONE;
    error("EPT: Invalid test id '%d'", static_cast<int>(testId));
    return;
  }
  boardHalSlicLineTest(c.endpt->endptNum, static_cast<int>(testId));
}

void ntpTimestamp(Console& c) {
  const uint32_t seconds = c.arg[1];
  const uint32_t micros = c.arg[2];
  info("EPT: Setting NTP RTCP timestamp to %u sec %u usec ", seconds, micros);
  uint16_t words[4] = {static_cast<uint16_t>(seconds >> 16), static_cast<uint16_t>(seconds & 0xFFFF),
                       static_cast<uint16_t>(micros >> 16), static_cast<uint16_t>(micros & 0xFFFF)};
  if (hdspSendCmdData(kNtpChannel, HAPI_RTP_SET_NTP_TIMESTAMP_CMD, HAPI_REQID_EXT_CMD, sizeof words, words) == 0) {
    info("EPT: NTP RTCP timestamp SET ");
  } else {
    error("EPT: Couldn't set NTP RTCP timestamp !!!");
  }
}

EPSTATUS amrConfig(Console& c) {
  const uint32_t slot = c.arg[0];
  const CNXSTATE* cnx = slot < VRG_MAX_CNX_PER_ENDPT ? c.endpt->cnx[slot] : nullptr;
  if (cnx == nullptr) {
    error("EPT: Invalid cnxId for line %d", c.endpt->lineId);
    return EPSTATUS_CNX_UNKNOWN;
  }
  const int16_t result = hdspVhdSetAmrSettings(cnx->vhdhdl, static_cast<uint16_t>(c.arg[2]), static_cast<uint16_t>(c.arg[3]),
                                               static_cast<uint16_t>(c.arg[4]), static_cast<uint16_t>(c.arg[0]),
                                               static_cast<uint16_t>(c.arg[1]));
  if (result != 0) {
    error("EPT: ERROR setting AMR registers for line %d", c.endpt->lineId);
    return EPSTATUS_ERROR;
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS run(Console& c, EPCONSOLECMD cmd) {
  VRG_ENDPT* e = c.endpt;
  const uint32_t* arg = c.arg;
  const int line = e->lineId;
  switch (cmd) {
    case EPCMD_DSP_MIPS: info("EPT: Current DSP MIPS usage: %ld", static_cast<long>(hdspRmGetTotalMips())); break;
    case EPCMD_PRINT_VHDS: PrintVhdInfo(); break;
    case EPCMD_ENDPTVHD_STATS: hdspVhdDisplayEndptStats(e->lineVhdHdl); break;
    case EPCMD_VHD_STATS:
      if (isConnectionChannel(arg[0])) voiceStats(static_cast<uint16_t>(arg[0]), true);
      break;
    case EPCMD_VHD_STATS_FROM_CNX: voiceStats(static_cast<uint16_t>(arg[0]), false); break;
    case EPCMD_RTP_STATS: {
      CNXSTATE* cnx = endpointConnection(e, static_cast<int>(arg[0]));
      if (cnx == nullptr) break;
      EPZCNXSTATS stats{};
      GetConnectionRtpStats(cnx, &stats, static_cast<int>(arg[3]));
      vrgEndptPrintRtpStats(&stats);
      break;
    }
    case EPCMD_VHD_JBREGS:
      if (isConnectionChannel(arg[0])) jitterBufferRegs(static_cast<uint16_t>(arg[0]));
      break;
    case EPCMD_FAXR_STATS:
      if (isConnectionChannel(arg[0])) hdspVhdDisplayFaxrStats(static_cast<uint16_t>(arg[0]));
      break;
    case EPCMD_IPC_STATS: info("EPT: IPC not supported"); break;
    case EPCMD_DSP_BUFFERS: hdspRmQueryDspBuffers(static_cast<uint16_t>(arg[0])); break;
    case EPCMD_DSP_GETCNT: tickCount(); break;
    case EPCMD_DSP_FORCEASSERT: info("EPT: Force assert not supported!"); break;
    case EPCMD_DSP_CHECKASSERT: info("EPT: Check assert not supported"); break;
    case EPCMD_DSP_GETREGS: info("EPT: DSP get regs not supported"); break;
    case EPCMD_PWRMGMT_VPM: info("EPT: Power saving mode not supported!"); break;
    case EPCMD_PWRMGMT_AFE: info("EPT: AFE power management not supported!"); break;
    case EPCMD_TR57_ENABLE: tr57(c); break;
    case EPCMD_READ_HOOK_STATE: return readHookState(c);
    case EPCMD_SET_SLIC_STATE: slicState(c); break;
    case EPCMD_PRINT_DSP_CAPABILITIES: boardHalDspDisplayCfg(); break;
    case EPCMD_DSP_STACK_SHOW: info("EPT: DSP stack show not supported"); break;
    case EPCMD_HAPINET_CONFIG_SETREG: netConfigSetReg(c); break;
    case EPCMD_DSP_ICP_CALIBRATE:
    case EPCMD_DSP_ICP_START:
    case EPCMD_DSP_ICP_STOP: info("EPT: Icp not supported"); break;
    case EPCMD_CONFIGURE_NETWTEST: networkLoopTest(c); break;
    case EPCMD_SET_ECAN_STATE:
      info("EPT: Set ECAN state to %d ", static_cast<int>(arg[0]));
      EcanStateSet(e, static_cast<EPEECANSTATE>(arg[0]));
      break;
    case EPCMD_HEC_BURST_ENABLE:
      hecSetReg(e->lineVhdHdl, kHecRegOptions, 0x400, "EPT: ERROR setting HEC Burst on %d", line);
      hecSetReg(e->lineVhdHdl, kHecRegVolume, 0xA00, "EPT: ERROR setting HEC Burst volume %d", line);
      break;
    case EPCMD_HEC_NOISE_ENABLE:
      hecSetReg(e->lineVhdHdl, kHecRegVolume, 0xA00, "EPT: ERROR setting HEC Burst volume %d", line);
      hecSetReg(e->lineVhdHdl, kHecRegOptions, 0x200, "EPT: ERROR setting HEC Burst on %d", line);
      break;
    case EPCMD_HEC_DEFAULT:
      hecSetReg(e->lineVhdHdl, kHecRegOptions, 0, "EPT: ERROR setting HEC Burst on %d", line);
      break;
    case EPCMD_HEC_GET_STATE:
      if (hdspSendCmdAsync(e->lineVhdHdl, HAPI_HEC_GETSTATE_CMD, HAPI_REQID_STD_CMD, 0, 0) != 0) {
        error("EPT: ERROR triggering HEC get state %d", line);
      }
      break;
    case EPCMD_HEC_DBG_SET:
      if (hdspSendCmd(e->lineVhdHdl, hdsp::HAPI_HEC_SETREG1_CMD, HAPI_REQID_STD_CMD, kHecRegDebug,
                      static_cast<uint16_t>(arg[0])) != 0) {
        error("EPT: Error setting HEC Debug mask.");
      }
      break;
    case EPCMD_HEC_RESET:
    case EPCMD_HEC_RESET_COEF:
      if (hdspSendCmd(e->lineVhdHdl, cmd == EPCMD_HEC_RESET ? HAPI_HEC_RESET_CMD : HAPI_HEC_RESETCOEFF_CMD, HAPI_REQID_STD_CMD,
                      static_cast<uint16_t>(arg[0]), 0) != 0) {
        error("EPT: Error sending HEC Reset.");
      }
      break;
    case EPCMD_CASEVT_GENERATE:
      CasEventCallback(line, CAS_CTL_DETECT_EVENT, static_cast<CAS_CTL_EVENT>(arg[0]));
      break;
    case EPCMD_TONEEVT_GENERATE: generateToneEvent(c); break;
    case EPCMD_INDTMF_GENERATE: generateIngressDtmf(c); break;
    case EPCMD_CONNECTSB:
      if (ConnectSB(line, static_cast<int>(arg[0])) == EPSTATUS_SUCCESS) {
        info("EPT: Switchboard connection established between lines %d and %d ", line, static_cast<int>(arg[0]));
      } else {
        info("EPT: ConnectSB failed for lines %d and %d ", line, static_cast<int>(arg[0]));
      }
      break;
    case EPCMD_INGRESSGAIN_SET:
      e->txGain = static_cast<int>(arg[0]);
      hdspVhdSetIngressGain(e->lineVhdHdl, e->txGain);
      break;
    case EPCMD_EGRESSGAIN_SET:
      e->rxGain = static_cast<int>(arg[0]);
      hdspVhdSetEgressGain(e->lineVhdHdl, e->rxGain);
      break;
    case EPCMD_CNX_INGRESSGAIN_SET: connectionGain(c, true); break;
    case EPCMD_CNX_EGRESSGAIN_SET: connectionGain(c, false); break;
    case EPCMD_DECT_START_BUFF_PROC:
    case EPCMD_DECT_STOP_BUFF_PROC: error("EPT: EPCMD_DECT_START/STOP_BUFF_PROC are deprecated"); break;
    case EPCMD_PBDT_START:
      if (hdspVhdEnableCmtd(e->lineVhdHdl, e->country) == 0) {
        requestLoopback(e, 1);
      } else {
        info("EPT: CMTD Service not available");
      }
      break;
    case EPCMD_PBDT_STOP:
      requestLoopback(e, 0);
      if (hdspVhdDisableCmtd(e->lineVhdHdl) != 0) info("EPT: CMTD Service could not be disabled");
      break;
    case EPCMD_PBDT_POWER: toneDetectionPower(c); break;
    case EPCMD_LINE_TEST: lineTest(c); break;
    case EPCMD_RTCP_NTP_TS_UPDATE: ntpTimestamp(c); break;
    case EPCMD_PROVTABLE_SHOW: endptProvShow(); break;
    case EPCMD_RESET_PROVTABLE:
      endptProvResetDefaults(e->country);
      info("EPT: Resetting provision table to defaults.");
      break;
    case EPCMD_HOSTASSERT:
    case EPCMD_SET_AMR_CONFIG: return amrConfig(c);
    case EPCMD_G168_TEST: error("EPT: G168 testing is unsupported in this image\n"); break;
    case EPCMD_ISTW_STATE: istwPrintState(); break;
    default: break;  // the commands that do nothing, and codes outside the table
  }
  return EPSTATUS_SUCCESS;
}

}  // namespace

EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd, EPCMD_PARMS* consoleCmdParams) {
  static const EPCMD_PARMS kNoArgs{};
  const EPCMD_PARMS& params = consoleCmdParams != nullptr ? *consoleCmdParams : kNoArgs;
  const int line = endptState != nullptr ? endptState->lineId : -1;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: CONSOLECMD: ept:%d cmd:%d args: %d %d %d", line,
           static_cast<int>(cmd), static_cast<int>(params.arg[0]), static_cast<int>(params.arg[1]),
           static_cast<int>(params.arg[2]));
  VRG_ENDPT* endpt = endptState != nullptr ? GetEndptState(line) : nullptr;
  if (endpt == nullptr) return EPSTATUS_ERROR;
  Console c{endptState, endpt, params.arg};
  return run(c, cmd);
}
