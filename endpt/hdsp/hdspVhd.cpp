// VHD management: open and close, NET mode, NET/voice/jitter/AMR registers, gains and volumes.
#include "hdspVhd.h"

#include <chrono>
#include <cstddef>
#include <thread>

#include "hal/boardHal.h"
#include "hapi/hapi.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "voiceLog.h"
#include "net/net_regs.h"
#include "faxr/faxr_regs.h"
#include "pte/pte_regs.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "vrgEndptIdleWd.h"
#include "vrgProv.h"
#include "cmtdCtl.h"

using namespace hdsp;

const DBM2Q12MAP dBm2Q12Map[DBM2Q12_ROWS] = {
    {16, 25844}, {15, 23033}, {14, 20528}, {13, 18296}, {12, 16306}, {11, 14533}, {10, 12952},
    {9, 11544},  {8, 10288},  {7, 9169},   {6, 8172},   {5, 7283},   {4, 6491},   {3, 5785},
    {2, 5156},   {1, 4595},   {0, 4096},   {-1, 3650},  {-2, 3253},  {-3, 2899},  {-4, 2584},
    {-5, 2303},  {-6, 2052},  {-7, 1829},  {-8, 1630},  {-9, 1453},  {-10, 1295}, {-11, 1154},
    {-12, 1028}, {-13, 916},  {-14, 817},  {-15, 728},  {-16, 649},
};

const RM_ERR_TEXT rm_err_map[RM_ERR_ROWS] = {
    {1, "Couldn't find the indicated VHD"},
    {2, "Couldn't find the indicated stack type"},
    {3, "Couldn't find the indicated service"},
    {4, "Couldn't find the indictaed Pxd"},
    {5, "Couldn't find the indicated device"},
    {6, "Invalid handle provided"},
    {7, "Indicated handle is already open"},
    {8, "Unable to open the VHD"},
    {9, "SwitchBoard is full"},
    {10, "Unable to allocate memory for socket"},
    {11, "Ran out of message buffers"},
    {12, "Ran out of data message buffers"},
    {13, "Ran out of buffers for Msg Ext Data"},
    {0x100, "Communication error"},
    {0x200, "DSP is not ready"},
    {0x300, "Callback registration failed"},
    {0x400, "Bad callback"},
    {0x500, "Bad VHD handle"},
    {0x600, "Invalid request id"},
    {0x700, "Error in message queue"},
    {0x800, "Bad TX message length"},
    {0x900, "Bad RX message length"},
    {0xA00, "Invalid DSP number"},
    {0xB00, "Specified DSP unavailable"},
    {0xC00, "Unable to allocate transaction block"},
    {0xD00, "HAPI_RM_ERR_HHAPI_MSQ_SEND"},
    {0xE00, "DSP error during message write"},
};

const char* hdspRmErrText(uint16_t code) {
  for (const RM_ERR_TEXT& row : rm_err_map) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

namespace {

constexpr uint16_t kStd = HAPI_REQID_STD_CMD;
constexpr uint16_t kExt = HAPI_REQID_EXT_CMD;

template <typename... A>
void logError(const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, format, args...);
}

uint16_t resman(uint16_t dspNum) { return static_cast<uint16_t>((dspNum << 8) | HAPIRESMAN); }

uint16_t samples(int ms) { return static_cast<uint16_t>(ms * 8); }

int16_t readVoiceRegs(uint16_t vhdhdl, HSZVOICEREGS* regs) {
  return hdspSendCmdData(vhdhdl, HAPI_NET_VOICE_GETREGS_CMD, kExt, sizeof(*regs), regs);
}

int16_t writeVoiceRegs(uint16_t vhdhdl, HSZVOICEREGS* regs) {
  return hdspSendCmdData(vhdhdl, HAPI_NET_VOICE_SETREGS_CMD, kExt, sizeof(*regs), regs);
}

const DBM2Q12MAP* volumeRow(int dB) {
  for (const DBM2Q12MAP& row : dBm2Q12Map) {
    if (row.dB == dB) return &row;
  }
  return nullptr;
}

void programLineVhd(uint16_t vhd, uint16_t admin, int power) {
  if (hdspSendCmd(vhd, HAPI_PTE_ENABLE_CMD, kStd, 1, 0x22) != 0) {
    logError("HDSP: ENDPT: ERROR enabling PTE for ENDPT vhd 0x%x", vhd);
  }
  HAPI_PTE_FILTER filter{0, 0xFFFF, 0xFFFF, 20};
  if (hdspSendCmdData(vhd, HAPI_PTE_FILTER_CMD, kExt, sizeof(filter), &filter) != 0) {
    logError("HDSP: ENDPT: ERROR enabling long duration DTMF reporting for ENDPT vhd 0x%x", vhd);
  }
  if (hdspSendCmd(vhd, HAPI_PTE_SETREG1_CMD, kStd, PTE_REG_DETECTADMIN, admin) != 0) {
    logError("HDSP: ENDPT: ERROR setting admin field of PTE registers for vhd 0x%x", vhd);
  }
  if (hdspSendCmd(vhd, HAPI_PTE_SETREG1_CMD, kStd, PTE_REG_MINDETECTPOWER,
                  static_cast<uint16_t>(power / 10)) != 0) {
    logError("HDSP: ENDPT: ERROR setting power field of PTE registers for vhd 0x%x", vhd);
  }
  if (hdspSendCmd(vhd, LINE_HPF_CMD, kStd, 1, 0) != 0) {
    logError("HDSP: ENDPT: ERROR enabling line HPF for ENDPT vhd 0x%x", vhd);
  }
}

void programCnxVhd(uint16_t vhd, uint16_t admin, uint16_t minPower, int16_t egressVolume) {
  HAPI_PTE_REGS pte{};
  if (hdspSendCmdData(vhd, HAPI_NET_PTE_GETREGS_CMD, kExt, sizeof(pte), &pte) != 0) {
    logError("HDSP: ENDPT: ERROR getting PTE registers for vhd 0x%x", vhd);
  } else {
    pte.minDetectPower = minPower;
    pte.detectAdmin = admin;
    if (hdspSendCmdData(vhd, HAPI_NET_PTE_SETREGS_CMD, kExt, sizeof(pte), &pte) != 0) {
      logError("HDSP: ENDPT: ERROR setting PTE registers for vhd 0x%x", vhd);
    }
  }
  if (egressVolume == 0) return;
  HSZVOICEREGS voice{};
  if (readVoiceRegs(vhd, &voice) == 0) {
    voice.voxregs.pveEgressVolume = egressVolume;
    if (writeVoiceRegs(vhd, &voice) == 0) return;
  }
  logError("HDSP: ENDPT: ERROR setting Voice registers for vhd 0x%x", vhd);
}

}  // namespace

int16_t hdspVhdOpen(uint16_t vhdType, HAPICALLBKP callback, uint16_t dspNum, HAPI_PTE_ADM pteDetectAdmin,
                    uint16_t pteMinDetectPower, int16_t pveEgressVolume, uint16_t* vhdhdl, int endptId) {
  istwEvent(ISTW_STARTUP_HANDLE, ISTW_GENERIC_EVT, 0);
  *vhdhdl = HAPIVHD_INVALID;
  int power = 0;
  if (vhdType == HAPI_LINE_ECAN_VHD) power = hdspVhdAdjustIngressPowerLevel(endptId, pteMinDetectPower * 10);
  const uint16_t vhd = hapiOpen(vhdType, callback, dspNum);
  if (vhd == HAPIVHD_INVALID) return -1;
  switch (vhdType) {
    case HAPI_LINE_ECAN_VHD:
      programLineVhd(vhd, pteDetectAdmin, power);
      break;
    case HAPI_PSTN_VHD:
      if (hdspSendCmd(vhd, HAPI_CLIDRX_ENABLE_CMD, kStd, 1, 0) != 0) {
        logError("HDSP: ENDPT: ERROR enabling CLIDRX for ENDPT vhd 0x%x", vhd);
      }
      break;
    case HAPI_GATEWAY_VHD:
    case HAPI_CONFERENCE_VHD:
      programCnxVhd(vhd, pteDetectAdmin, pteMinDetectPower, pveEgressVolume);
      break;
    default:
      // The framework opened a channel this library has no use for: it is closed again so that
      // the channel is not lost, and reported as none.
      logError("HDSP: ENDPT: ERROR unknown vhd type %d for vhd 0x%x", vhdType, vhd);
      hapiClose(vhd, dspNum);
      return -1;
  }
  *vhdhdl = vhd;
  return 0;
}

int16_t hdspVhdClose(uint16_t vhdhdl, uint16_t dspNum) {
  istwEvent(vhdhdl, ISTW_GENERIC_EVT, 0);
  return static_cast<int16_t>(hapiClose(vhdhdl, dspNum));
}

int16_t hdspVhdSetMode(uint16_t vhdhdl, uint16_t mode, uint16_t initMode) {
  int16_t result = hdspSendCmd(vhdhdl, HAPI_NET_SETMODE_CMD, kStd, mode, initMode);
  if (result != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    result = hdspSendCmd(vhdhdl, HAPI_NET_SETMODE_CMD, kStd, mode, initMode);
  }
  return result;
}

int16_t hdspVhdSetVoiceCodec(uint16_t vhdhdl, uint16_t voiceCode, uint16_t vadType, uint16_t interval,
                             int initialChange) {
  const uint16_t encoder = static_cast<uint16_t>(voiceCode + (vadType << 8));
  if (initialChange) {
    HSZNETREGS regs{};
    if (hdspSendCmdData(vhdhdl, HAPI_NET_CONFIG_GETREGS_CMD, kExt, sizeof(regs), &regs) != 0) {
      logError("HDSP: ENDPT: ERROR getting NET config registers for vhd 0x%x !!!", vhdhdl);
      return -1;
    }
    regs.hsxPacketVoiceEncoder = encoder;
    regs.hsxVoiceSuperPktInterval = interval;
    regs.hsxVBDSuperPktInterval = interval;
    if (hdspSendCmdDataAsync(vhdhdl, HAPI_NET_CONFIG_SETREGS_CMD, kExt, sizeof(regs), &regs) != 0) {
      logError("HDSP: ENDPT: ERROR setting NET config registers for vhd 0x%x !!!", vhdhdl);
      return -1;
    }
    return 0;
  }
  if (hdspSendCmd(vhdhdl, HAPI_NET_SETVOICERATE_CMD, kStd, encoder, interval) != 0) {
    logError("HDSP: ENDPT: ERROR setting voice rate for vhd 0x%x !!!", vhdhdl);
    return -1;
  }
  if (hdspSendCmdAsync(vhdhdl, HAPI_NET_CONFIG_SETREG1_CMD, kStd,
                       offsetof(HSZNETREGS, hsxVBDSuperPktInterval), interval) != 0) {
    logError("HDSP: ENDPT: ERROR setting hsxVBDSuperPktInterval NET register for vhd 0x%x !!!", vhdhdl);
    return -1;
  }
  return 0;
}

int16_t hdspVhdSetVBDCodec(uint16_t vhdhdl, uint16_t voiceCode, uint16_t vadType) {
  if (hdspSendCmd(vhdhdl, HAPI_NET_CONFIG_SETREG1_CMD, kStd, offsetof(HSZNETREGS, hsxVoiceBandDefault),
                  static_cast<uint16_t>(voiceCode + (vadType << 8))) != 0) {
    logError("HDSP: Failed to set hsxVoiceBandDefault NET register for vhd 0x%x !!!", vhdhdl);
    return -1;
  }
  return 0;
}

int16_t hdspVhdSetVadCngPlc(uint16_t vhdhdl, int vad, int cng, int plc) {
  const uint16_t value = static_cast<uint16_t>((vad + (cng << 8)) | (plc << 12));
  return hdspSendCmd(vhdhdl, HAPI_NET_VOICE_SETREG1_CMD, kStd, 0, value);
}

int16_t hdspVhdSetJitterBuffer(uint16_t vhdhdl, int fixed, int voiceMin, int voiceMax, int voiceTarget,
                               int dataTarget, uint16_t customFeatures) {
  HSZVOICEREGS regs{};
  if (readVoiceRegs(vhdhdl, &regs) != 0) {
    logError("HDSP: ENDPT: ERROR getting jitter buffer registers for VHD 0x%x", vhdhdl);
    return -1;
  }
  regs.ajbregs.jitterMin = samples(voiceMin);
  regs.ajbregs.jitterMax = samples(voiceMax);
  regs.ajbregs.jitterTarget = samples(voiceTarget);
  regs.ajbregs.jitterVBDTarget = samples(dataTarget);
  regs.ajbregs.options = fixed ? AJC_OPTIONS_NOADAPT : 0;
  regs.ajbregs.customFeatures = customFeatures;
  if (writeVoiceRegs(vhdhdl, &regs) != 0) {
    logError("HDSP: ENDPT: ERROR setting jitter buffer registers for VHD 0x%x", vhdhdl);
    return -1;
  }
  return 0;
}

int16_t hdspVhdGetJitterBuffer(uint16_t vhdhdl, int* fixed, int* voiceMin, int* voiceMax,
                               int* voiceTarget, int* dataTarget) {
  HSZVOICEREGS regs{};
  if (readVoiceRegs(vhdhdl, &regs) != 0) {
    logError("HDSP: ENDPT: ERROR getting jitter buffer registers for VHD 0x%x", vhdhdl);
    return -1;
  }
  *fixed = regs.ajbregs.options == AJC_OPTIONS_NOADAPT ? 1 : 0;
  *voiceMin = regs.ajbregs.jitterMin / 8;
  *voiceMax = regs.ajbregs.jitterMax / 8;
  *voiceTarget = regs.ajbregs.jitterTarget / 8;
  *dataTarget = regs.ajbregs.jitterVBDTarget / 8;
  return 0;
}

int16_t hdspVhdGetAvgJBDelay(uint16_t vhdhdl, int* delayMs) {
  HAPI_PVE_STATE state{};
  const int16_t result = hdspSendCmdData(vhdhdl, HAPI_NET_GETVOICESTATE_CMD, kExt, sizeof(state), &state);
  if (result == 0) *delayMs = state.actualHoldTime / 8;
  return result;
}

int16_t hdspVhdSetAmrSettings(uint16_t vhdhdl, uint16_t modeSet, uint16_t modeChangeNeighbor,
                              uint16_t modeChangePeriod, uint16_t ptime, uint16_t red) {
  HSZVOICEREGS regs{};
  if (readVoiceRegs(vhdhdl, &regs) != 0) {
    logError("HDSP: ENDPT: ERROR getting amr registers for VHD 0x%x", vhdhdl);
    return -1;
  }
  regs.voxregs.amrOptions = AMR_REGS{static_cast<uint16_t>(modeSet == 0 ? 0x1FF : modeSet),
                                     modeChangeNeighbor, modeChangePeriod, ptime, red};
  if (writeVoiceRegs(vhdhdl, &regs) != 0) {
    logError("HDSP: ENDPT: ERROR setting amr registers for VHD 0x%x", vhdhdl);
    return -1;
  }
  return 0;
}

int16_t hdspVhdSetPVEEgressVolume(uint16_t vhdhdl, int dB) {
  const DBM2Q12MAP* row = volumeRow(dB);
  if (row == nullptr) {
    logError("HDSP: Ignoring request to set Rx gain to %d dB", dB);
    return -1;
  }
  const int16_t result = hdspSendCmd(vhdhdl, HAPI_NET_VOICE_SETREG1_CMD, kStd,
                                     offsetof(HSZVOCREGS, pveEgressVolume),
                                     static_cast<uint16_t>(row->gainQ12));
  if (result != 0) logError("HDSP: Failed to set Voice register pveEgressVolume for vhd 0x%x", vhdhdl);
  return result;
}

int16_t hdspVhdSetPVEIngressVolume(uint16_t vhdhdl, int dB) {
  const DBM2Q12MAP* row = volumeRow(dB);
  if (row == nullptr) {
    logError("HDSP: Ignoring request to set Tx gain to %d dB", dB);
    return -1;
  }
  const int16_t result = hdspSendCmd(vhdhdl, HAPI_NET_VOICE_SETREG1_CMD, kStd,
                                     offsetof(HSZVOCREGS, pveIngressVolume),
                                     static_cast<uint16_t>(row->gainQ12));
  if (result != 0) logError("HDSP: Failed to set Voice register pveIngressVolume for vhd 0x%x", vhdhdl);
  return result;
}

int16_t hdspVhdSetEgressGain(uint16_t vhdhdl, int dB) {
  const int value = dB * 256;
  if (value < HAPI_HEC_GAIN_MIN || value > HAPI_HEC_GAIN_MAX) {
    logError("EPT: Request to set RX gain to %d dB is outside limits", value);
    return -1;
  }
  const int16_t result = hdspSendCmd(vhdhdl, HAPI_HEC_SETREG1_CMD, kStd, HEC_REG_VOLUMEDB,
                                     static_cast<uint16_t>(value));
  if (result != 0) logError("EPT: ERROR configuring RX (egress) gain for vhd %d", vhdhdl);
  return result;
}

int16_t hdspVhdSetIngressGain(uint16_t vhdhdl, int dB) {
  const int value = dB * 256;
  if (value < HAPI_HEC_GAIN_MIN || value > HAPI_HEC_GAIN_MAX) {
    logError("EPT: Request to set TX gain to %d dB is outside limits", value);
    return -1;
  }
  const int16_t result = hdspSendCmd(vhdhdl, HAPI_HEC_SETREG1_CMD, kStd, HEC_REG_GAINDB,
                                     static_cast<uint16_t>(value));
  if (result != 0) logError("EPT: ERROR configuring TX (ingress) gain for vhd %d", vhdhdl);
  return result;
}

int16_t hdspVhdLineEquEnable(uint16_t vhdhdl, int enable) {
  BOARD_HAL_DSP_CFG cfg{};
  boardHalDspGetCfg(&cfg);
  if (!cfg.isEquEnabled) return 0;
  const int16_t result = hdspSendCmd(vhdhdl, LINE_EQU_CMD, kStd, 0, static_cast<uint16_t>(enable | 0x200));
  if (result != 0) logError("HDSP: Failed to set TX FIR filter enable for VHD 0x%x to %d", vhdhdl, enable);
  return result;
}

int hdspVhdAdjustIngressPowerLevel(int endptId, int power) {
  const int adjusted = power - 10 * boardHalGetElp(endptId);
  if (adjusted < 250) return 250;
  if (adjusted > 450) return 450;
  return adjusted;
}

int16_t hdspVhdSetSSRC(uint16_t vhdhdl, uint32_t ssrc) {
  return hdspSendCmd(vhdhdl, HAPI_RTP_SET_SSRC_CMD, kStd, static_cast<uint16_t>(ssrc >> 16),
                     static_cast<uint16_t>(ssrc & 0xFFFF));
}

int16_t hdspVhdGetVoiceStats(uint16_t vhdhdl, HSZNETVOICESTATS* stats) {
  return hdspSendCmdData(vhdhdl, HAPI_NET_GETVOICESTATS_CMD, kExt, sizeof(*stats), stats);
}

int16_t hdspVhdEnableCmtd(uint16_t lineVhdHdl, VRG_COUNTRY country) {
  const HAPIRESULT result = cmtdCtlConfigFilter(lineVhdHdl, country, CMTD_TONE_TYPE_DIAL, CMTD_FILTER_1);
  if (result != HAPISUCCESS) logError("HDSP: %s failed", "cmtdCtlConfigFilter");
  return static_cast<int16_t>(result);
}

int16_t hdspVhdDisableCmtd(uint16_t lineVhdHdl) {
  const HAPIRESULT result = cmtdCtlDisable(lineVhdHdl);
  if (result != HAPISUCCESS) logError("HDSP: %s failed", "cmtdCtlDisable");
  return static_cast<int16_t>(result);
}

int16_t hdspVhdGetCmtdPowerLevel(uint16_t vhdhdl, uint32_t* power) {
  return hdspSendCmdData(vhdhdl, HAPI_CMTD_POWER_CMD, kExt, sizeof(*power), power);
}

// ---- console displays ----

void hdspVhdDisplayPveState(uint16_t vhdhdl) {
  HAPI_PVE_STATE state{};
  if (hdspSendCmdData(vhdhdl, HAPI_NET_GETVOICESTATE_CMD, kExt, sizeof(state), &state) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "HDSP: ENDPT: Cannot display PVE State for vhdhdl = 0x%x", vhdhdl);
    return;
  }
  const struct {
    const char* name;
    uint16_t value;
  } rows[] = {{"timer", state.timer},
              {"expectedTimestamp", state.expectedTimestamp},
              {"lastArrivalTime", state.lastArrivalTime},
              {"lastArrTimeStamp", state.lastArrTimeStamp},
              {"lastReleaseTimestamp", state.lastReleaseTimestamp},
              {"actualHoldTime", state.actualHoldTime},
              {"currentHoldTime", state.currentHoldTime},
              {"minHoldTimeTracker", state.minHoldTimeTracker},
              {"maxHoldTimeTracker", state.maxHoldTimeTracker},
              {"releaseBump", state.releaseBump},
              {"underrunDuration", state.underrunDuration},
              {"actionPendingTimer", state.actionPendingTimer},
              {"currentDec", state.currentDec},
              {"timerLastArrival", state.timerLastArrival},
              {"currentEnc", state.currentEnc},
              {"currentEncPktTime", state.currentEncPktTime},
              {"currentEncPktSize", state.currentEncPktSize}};
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "HDSP: NETVHD PVE State for vhdhdl 0x%x", vhdhdl);
  for (const auto& row : rows) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "HDSP:    %s = %u", row.name, row.value);
  }
}

void hdspVhdDisplayFaxrStats(uint16_t vhdhdl) {
  HSZFAXRSTATS stats{};
  if (hdspSendCmdData(vhdhdl, HAPI_NET_GETFAXSTATS_CMD, kExt, sizeof(stats), &stats) != 0) {
    logError("EPT: failed to retrieve the faxr stats from the DSP");
    return;
  }
  const HSZFAXREGRESS_STATS& e = stats.egress;
  const HSZFAXRINGRESS_STATS& i = stats.ingress;
  const struct {
    const char* name;
    uint16_t value;
  } rows[] = {{"Egress frames received from the network", e.hsxFrameCount},
              {"Egress jitter buffer overflows", e.hsxOverrunCount},
              {"Egress high-speed data spoofing", e.hsxSpoofCount},
              {"Egress reordered packets", e.hsxReorderCount},
              {"Egress packets not reorderable", e.hsxfailtoReorderCount},
              {"Egress retrain requests", e.hsxretrainCount},
              {"Egress partial page requests", e.hsxPPRCount},
              {"Egress bad HDLC frames", e.hsxbadframeCount},
              {"Egress spoofing time-outs", e.hsxSpoofTimeoutCount},
              {"Egress V.21 transmit underflows", e.hsxv21TxUflowCount},
              {"Egress fax pages received", e.hsxNumRxPages},
              {"Ingress frames sent", i.hsxFrameCount},
              {"Ingress jitter buffer overflows", i.hsxOverrunCount},
              {"Ingress retrain requests sent", i.hsxretrainCount},
              {"Ingress partial page requests sent", i.hsxPPRCount},
              {"Ingress bad HDLC frames sent", i.hsxbadframeCount},
              {"Ingress fax pages sent", i.hsxNumTxPages}};
  for (const auto& row : rows) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "HDSP: %-40s %u", row.name, row.value);
  }
}

void hdspVhdDisplayVoiceStatsRaw(uint16_t vhdhdl, const HSZNETVOICESTATS* stats) {
  const HAPI_PVE_DECODERSTATS& d = stats->hsxPVEstats.decoder;
  const HAPI_PVE_ENCODERSTATS& e = stats->hsxPVEstats.encoder;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG,
           "HDSP: VOICE STATS: 0x%x %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u", vhdhdl,
           d.peakHoldingTime, d.packetCount, d.addTailCount, d.reorderCount, d.overrunCount, d.duplicateCount,
           d.outOfRangeCount, d.tooLateCount, d.cantDecodeCount, d.ajcUnderrunCount, d.ajcDeleteCount,
           d.ajcRepeatCount, d.ajcResyncCount, d.ajcPhaseJitterCount, e.inactiveFrameCount, e.activeFrameCount,
           e.sidFrameCount, e.toneRelayCount);
}

void hdspVhdFormatVoiceStats(char* text) {
  if (text != nullptr) text[0] = '\0';
}

void hdspVhdDisplayEndptStats(uint16_t vhdhdl) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
           "HDSP: endpoint statistics display for vhd 0x%x is not supported by this DSP library", vhdhdl);
}

// ---- resource manager and switchboard ----

int16_t hdspRmSwitchBoardConnect(uint16_t srcHandle, uint16_t srcInterface, uint16_t dstHandle,
                                 uint16_t dstInterface, uint16_t type, int connect) {
  HAPI_SWB_PARAMS params{srcHandle, srcInterface, dstHandle, dstInterface, type};
  istwEvent(ISTW_SWITCHBOARD_HANDLE, ISTW_GENERIC_EVT, 0);
  const uint16_t code = connect == 1 ? HAPI_SWB_CONNECT_CMD : HAPI_SWB_DISCONNECT_CMD;
  const int16_t result = hdspSendCmdData(resman(srcHandle >> 8), code, kExt, sizeof(params), &params);
  if (result != 0) {
    logError("HDSP: ERROR setting switchboard connection for src 0x%x and dst 0x%x", srcHandle, dstHandle);
    return result;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: Switchboard %s (type %s): VHD 0x%x/%d with VHD 0x%x/%d",
           connect == 1 ? "ON" : "OFF", type == HAPI_SWB_DUPLEX ? "Duplex" : "Simplex", srcHandle,
           srcInterface, dstHandle, dstInterface);
  return 0;
}

int16_t hdspRmSetFramesizeAndMode(uint16_t vhdhdl, uint16_t frameSize, uint16_t mode) {
  if (mode != HAPI_RM_VHD_NARROWBAND_MODE && mode != HAPI_RM_VHD_WIDEBAND_MODE) {
    logError("HDSP: Invalid mode %d", mode);
    return -1;
  }
  const int16_t result = hdspSendCmd(resman(vhdhdl >> 8), HAPI_RM_SET_FRAMESIZE_CMD, kStd, vhdhdl,
                                     static_cast<uint16_t>(frameSize | (mode << 12)));
  if (result != 0) {
    logError("HDSP: ERROR setting frame size and mode for vhd 0x%x", vhdhdl);
  } else {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: VHD 0x%x: Frame size = %d, Mode = %s", vhdhdl,
             frameSize, mode == HAPI_RM_VHD_WIDEBAND_MODE ? "Wideband" : "Narrowband");
  }
  return result;
}

int16_t hdspRmSetVhdProcessing(uint16_t vhdhdl, uint16_t direction, uint16_t state) {
  if (state > 1) {
    logError("HDSP: Invalid state %d", state);
    return -1;
  }
  if (direction >= 4) {
    logError("HDSP: Invalid direction %d", direction);
    return -1;
  }
  const uint16_t rm = resman(vhdhdl >> 8);
  const int16_t result =
      hdspSendCmd(rm, HAPI_RM_PROC_ONOFF_CMD, kStd, vhdhdl, static_cast<uint16_t>(state | (direction << 8)));
  if (result != 0) {
    logError("HDSP: ERROR setting processing state for vhd 0x%x", vhdhdl);
  } else {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: VHD 0x%x: Direction = %d, State = %d", vhdhdl,
             direction, state);
  }
  hdspSendCmdAsync(rm, HAPI_SWB_FLUSH_BUILDOUT_CMD, kStd, vhdhdl, 0);
  return result;
}

int16_t hdspRmQueryDspBuffers(uint16_t dspNum) {
  const struct {
    uint16_t code;
    const char* title;
  } sides[] = {{HAPI_RM_GET_DSP_BUFSTATS_CMD, "HDSP: DSP - Buffer Manager Information:"},
               {RM_GET_HOST_BUFSTATS_CMD, "HDSP: Host - Buffer Manager Information:"}};
  int16_t result = 0;
  for (const auto& side : sides) {
    DSPBUFSTATS stats{};
    stats.dspNumber = dspNum;
    const int16_t r = hdspSendCmdData(resman(dspNum), side.code, kExt, sizeof(stats), &stats);
    if (r != 0) {
      logError("HDSP: Error : Query buffer failed.");
      result = r;
      continue;
    }
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "%s", side.title);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "HDSP: %u %u:\t Free/Low Buffers in Message Buffer Pool",
             stats.hapiMsgBufPoolnumFree, stats.hapiMsgBufPoollowWater);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "HDSP: %u %u:\t Free/Low Buffers in Extended Data Buffer Pool",
             stats.hapiExtDataBufPoolnumFree, stats.hapiExtDataBufPoollowWater);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "HDSP: %u %u:\t Free/Low Buffers in Big Extended Data Buffer Pool",
             stats.hapiBigExtDataBufPoolnumFree, stats.hapiBigExtDataBufPoollowWater);
  }
  return result;
}

int hdspRmGetTotalMips(void) { return 0; }

// ---- endpoint set-up ----

namespace {

// A failed endpoint set-up gives back the channels it had opened, so that none is lost.
EPSTATUS releaseEndptVhds(VRG_ENDPT* endpt) {
  const uint16_t dsp = static_cast<uint16_t>(endpt->dspNum);
  for (uint16_t* vhd : {&endpt->lineVhdHdl, &endpt->pstnVhdHdl}) {
    if (*vhd != HAPIVHD_INVALID && *vhd != VRG_NO_VHD) hdspVhdClose(*vhd, dsp);
    *vhd = HAPIVHD_INVALID;
  }
  return EPSTATUS_RESOURCES;
}

}  // namespace

EPSTATUS InitVhds(VRG_ENDPT* endpt, HAPICALLBKP callback) {
  int admin = 0, minPower = 0, egressVolume = 0;
  Provision(endpt, EPPROV_PteDetectAdmin, &admin);
  Provision(endpt, EPPROV_PteMinDetectPower, &minPower);
  Provision(endpt, EPPROV_PveEgressVolume, &egressVolume);
  const uint16_t dsp = static_cast<uint16_t>(endpt->dspNum);
  endpt->lineVhdHdl = HAPIVHD_INVALID;
  endpt->pstnVhdHdl = HAPIVHD_INVALID;

  if (endpt->endptType == EPTYPE_PSTN) {
    uint16_t vhd = HAPIVHD_INVALID;
    if (hdspVhdOpen(HAPI_PSTN_VHD, callback, dsp, static_cast<uint16_t>(admin), static_cast<uint16_t>(minPower),
                    static_cast<int16_t>(egressVolume), &vhd, endpt->endptNum) != 0) {
      logError("EPT: ERROR hdspVhdOpen PSTN VHD failed. DSP %d", dsp);
      return EPSTATUS_RESOURCES;
    }
    endpt->pstnVhdHdl = vhd;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: hdspVhdOpen PSTN VHD success. DSP %d, VHD (0x%x) of type: 0x%x", dsp, vhd, HAPI_PSTN_VHD);
  }
  if (endpt->endptType < 4) {
    uint16_t vhd = HAPIVHD_INVALID;
    if (hdspVhdOpen(HAPI_LINE_ECAN_VHD, callback, dsp, static_cast<uint16_t>(admin),
                    static_cast<uint16_t>(minPower), static_cast<int16_t>(egressVolume), &vhd,
                    endpt->endptNum) != 0) {
      logError("EPT: ERROR hdspVhdOpen Line VHD failed. DSP %d", dsp);
      return releaseEndptVhds(endpt);
    }
    endpt->lineVhdHdl = vhd;
  }

  endpt->qrnHalHdl = static_cast<uint16_t>((dsp << 8) | endpt->endptNum);
  if (hdspRmSwitchBoardConnect(endpt->lineVhdHdl, HAPI_SWB_BOS, endpt->qrnHalHdl, HAPI_SWB_TOS,
                               HAPI_SWB_DUPLEX, 1) != 0) {
    logError("EPT: ERROR setting switchboard connection for endpt %d", endpt->endptNum);
    return releaseEndptVhds(endpt);
  }
  if (endpt->endptType == EPTYPE_PSTN &&
      hdspRmSwitchBoardConnect(endpt->pstnVhdHdl, HAPI_SWB_BOS, endpt->lineVhdHdl, HAPI_SWB_TOS,
                               HAPI_SWB_DUPLEX, 1) != 0) {
    logError("EPT: ERROR setting switchboard connection for endpt %d", endpt->endptNum);
    hdspRmSwitchBoardConnect(endpt->lineVhdHdl, HAPI_SWB_BOS, endpt->qrnHalHdl, HAPI_SWB_TOS, HAPI_SWB_DUPLEX, 0);
    return releaseEndptVhds(endpt);
  }

  endpt->ecanState.currState = ECAN_OFF;
  endpt->ecanState.origState = ECAN_OFF;
  hdspSendCmdAsync(endpt->lineVhdHdl, HAPI_HEC_ENABLE_CMD, kStd, 0, 0);

  int gain = 0;
  if (endptProvGetValue(endpt->lineId, EPPROV_TxGain, &gain) == EPSTATUS_SUCCESS) endpt->txGain = gain;
  hdspVhdSetIngressGain(endpt->lineVhdHdl, endpt->txGain);
  if (endptProvGetValue(endpt->lineId, EPPROV_RxGain, &gain) == EPSTATUS_SUCCESS) endpt->rxGain = gain;
  hdspVhdSetEgressGain(endpt->lineVhdHdl, endpt->rxGain);
  return EPSTATUS_SUCCESS;
}
