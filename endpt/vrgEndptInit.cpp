// Start-up and shutdown of the endpoint library, in their fixed order, under endptLock. A
// start-up that fails stops again what it had started, so that a retry starts everything once.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspVhd.h"
#include "lhapi.h"
#include "memCircBuf.h"
#include "telProfile.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptClass.h"
#include "vrgEndptDispatcher.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptIdleWd.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"
#include "vrgProv.h"

extern pthread_mutex_t endptLock;
extern int endptInitialized;

namespace {

constexpr uint16_t HAPI_NET_CONFIG_GETREGS_CMD = 0x3003;
constexpr uint16_t HAPI_NET_CONFIG_SETREGS_CMD = 0x3002;
constexpr uint16_t HAPI_NET_FAXR_SETREG1_CMD = 0x309C;
constexpr uint16_t HAPI_NET_VBD_AUTOSWITCH_MASK = 0x30AD;
constexpr uint16_t NET_OPTIONS_CLEARED = 0x1A;
constexpr uint16_t CDIS_OPTIONS_SET = 0x38;
constexpr uint16_t PTE_CALLSETUP_CLEARED = 0x20;
constexpr uint16_t PTE_PACKETVOICE_CLEARED = 0x30;

class EndptLockGuard {
 public:
  EndptLockGuard() { pthread_mutex_lock(&endptLock); }
  ~EndptLockGuard() { pthread_mutex_unlock(&endptLock); }
};

void SeedRandom() {
  unsigned seed = 0;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (read(fd, &seed, sizeof seed) != static_cast<ssize_t>(sizeof seed)) seed = 0;
    close(fd);
  }
  srand(seed);
}

// Whether the store holds this country's profile, as a load made before the library started (the
// daemon's check that there is one) left it.
bool ProfileInStore(VRG_COUNTRY country) {
  int32_t locale = -1;
  return tpLocaleProfileLoaded(country) && endptProvGetValue(0, EPPROV_LastLocale, &locale) == EPSTATUS_SUCCESS &&
         locale == country;
}

// A profile already in the store is not read again: that would only repeat its error lines.
void LoadCountry(VRG_COUNTRY country) {
  if (!ProfileInStore(country)) tpUpdateLocaleProfile(country);
  endptProvInitDefaults(country);
  int32_t lastLocale = -1;
  if (endptProvGetValue(0, EPPROV_LastLocale, &lastLocale) != EPSTATUS_SUCCESS ||
      lastLocale != country) {
    endptProvResetDefaults(country);
    int32_t value = country;
    endptProvSetValue(0, EPPROV_LastLocale, &value, sizeof value);
  }
}

void ResetRecords(VRG_COUNTRY country) {
  vrgEndptStateReset();
  const int count = vrgEndptGetNumEndpoints();
  for (int i = 0; i < count && i < VRG_MAX_ENDPT; ++i) {
    VRG_ENDPT& endpt = vrgEndpt[i];
    endpt.country = country;
    endpt.dspNum = i / 8;
    endpt.routedFxsLineId = -1;
    endpt.testMode = TESTMODE_NONE;
    vrgEndptCasCtlBits[i].store(EP_CAS_CTL_LCF);
    vrgEndptLtState[i] = LT_NONE;
  }
  // Connection records start inactive and idle, with the jitter-buffer cache at zero: the first
  // programming of each channel writes those values.
  for (int k = 0; k < VRG_MAX_CNX_VHD; ++k) {
    CNXSTATE& cnx = vrgCnxState[k];
    cnx.mode = EPCNXMODE_INACT;
    cnx.voiceMode = VM_IDLE;
    cnx.vhdMode = 0;
    cnx.dataMode = EPDATAMODE_VBD;
    cnx.vrgVoiceJBFixed = cnx.vrgVoiceJBMin = cnx.vrgVoiceJBMax = 0;
    cnx.vrgVoiceJBTarget = cnx.vrgDataJBTarget = cnx.vrgDataJBMax = 0;
    cnx.ajcCustomReg = 0;
    cnx.faxrCustomReg = 0;
  }
}

void BuildCapabilities() {
  EPZCAP& cap = vrgEndptCap[0];
  cap = EPZCAP{};
  cap.pCap[0] = 0x800A;
  cap.pCap[1] = 30;
  cap.nteCap = 0x7FFFF;
  cap.eCap = 1;
  cap.sCap = 1;
  const int modes[] = {0, 1, 2, 4, 3, 7, 6, 5, 8, 9};
  for (unsigned i = 0; i < sizeof modes / sizeof modes[0]; ++i) cap.mCap[i] = modes[i];
  cap.endptType = static_cast<EPTYPE>(1);
  memcpy(cap.codecCap, gDspCfg.codecCapabilities, sizeof cap.codecCap);
  cap.vbdCap = gDspCfg.vbdCapability;
  cap.redLvl = static_cast<uint8_t>(gDspCfg.maxRfc2198Level);
}

// The NET options that every connection channel starts from.
void ProgramNetDefaults(CNXSTATE* cnx, int k) {
  HSZNETREGS regs{};
  if (hdspSendCmdData(cnx->vhdhdl, HAPI_NET_CONFIG_GETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs,
                      &regs) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR getting registers for vhd %d",
             cnx->vhdhdl);
  }
  regs.hsxNetOptions &= static_cast<uint16_t>(~NET_OPTIONS_CLEARED);
  regs.hsxCallDOptions |= CDIS_OPTIONS_SET;
  regs.hsxPteCallSetupOptions &= static_cast<uint16_t>(~PTE_CALLSETUP_CLEARED);
  regs.hsxPtePacketVoiceOptions &= static_cast<uint16_t>(~PTE_PACKETVOICE_CLEARED);
  cnx->netRegs = regs;
  if (hdspSendCmdData(cnx->vhdhdl, HAPI_NET_CONFIG_SETREGS_CMD, HAPI_REQID_EXT_CMD, sizeof regs,
                      &regs) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR setting registers for line %d",
             k);
  }
}

void ProgramFaxRelayDefaults(CNXSTATE* cnx) {
  if (vrgEndptCap[0].codecCap[CODEC_T38] != CODEC_SUPPORTED) return;
  if (SetT38EcMode(cnx, cnx->t38param.ecMode) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR setting T.38 registers for vhd %d",
             cnx->vhdhdl);
  }
  if (hdspSendCmd(cnx->vhdhdl, HAPI_NET_FAXR_SETREG1_CMD, HAPI_REQID_STD_CMD, 28, 1) != 0 ||
      hdspSendCmd(cnx->vhdhdl, HAPI_NET_FAXR_SETREG1_CMD, HAPI_REQID_STD_CMD, 30,
                  cnx->faxrCustomReg) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR setting faxr registers for vhd %d",
             cnx->vhdhdl);
  }
}

bool OpenConnectionChannel(int k) {
  CNXSTATE* cnx = &vrgCnxState[k];
  int admin = 0, minPower = 0, egressVolume = 0;
  Provision(nullptr, EPPROV_PteDetectAdmin, &admin);
  Provision(nullptr, EPPROV_PteMinDetectPower, &minPower);
  Provision(nullptr, EPPROV_PveEgressVolume, &egressVolume);
  const uint16_t type = k < VRG_MAX_FULL_CNX_VHD ? HAPI_GATEWAY_VHD : HAPI_CONFERENCE_VHD;
  uint16_t handle = 0;
  if (hdspVhdOpen(type, CnxVhdEventCallback, 0, static_cast<uint16_t>(admin),
                  static_cast<uint16_t>(minPower), static_cast<int16_t>(egressVolume), &handle,
                  -1) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: ERROR hdspVhdOpen Connection VHD failed. DSP %d", 0);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR InitCnxVhd for cnx %d failed - %d",
             k, EPSTATUS_RESOURCES);
    return false;
  }
  cnx->vhdhdl = handle;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: hdspVhdOpen %s Connection VHD success. DSP %d, VHD (0x%x) of type: 0x%x",
           k < VRG_MAX_FULL_CNX_VHD ? "Gateway" : "Conference", 0, handle, type);
  ProgramNetDefaults(cnx, k);
  ProgramFaxRelayDefaults(cnx);
  if (hdspSendCmdAsync(handle, HAPI_NET_VBD_AUTOSWITCH_MASK, HAPI_REQID_STD_CMD, 6, 0) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting VBD auto switch for line %d",
             k);
  }
  cnx->bLiteWeight = k >= VRG_MAX_FULL_CNX_VHD;
  SetVoiceMode(cnx, VM_IDLE);
  if (hdspVhdSetJitterBuffer(handle, cnx->vrgVoiceJBFixed, cnx->vrgVoiceJBMin, cnx->vrgVoiceJBMax,
                             cnx->vrgVoiceJBTarget, cnx->vrgDataJBTarget, cnx->ajcCustomReg) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ERROR setting jitter buffer registers for Gateway VHD %d", k);
  }
  return true;
}

bool DspConfigSufficient() {
  if (gDspCfg.maxEndPts >= VRG_MAX_ENDPT && gDspCfg.maxFullCnxs >= VRG_MAX_FULL_CNX_VHD &&
      gDspCfg.maxFullCnxs + gDspCfg.maxLiteCnxs >= VRG_MAX_CNX_VHD) {
    return true;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: gDspCfg.maxEndPts: %d", gDspCfg.maxEndPts);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: gDspCfg.maxFullCnxs: %d",
           gDspCfg.maxFullCnxs);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: gDspCfg.maxFullCnxs + gDspCfg.maxLiteCnxs: %d",
           gDspCfg.maxFullCnxs + gDspCfg.maxLiteCnxs);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
           "EPT: ERROR - Insufficient number of endpoints or connections on the DSP");
  return false;
}

// Everything from the circular buffers on; the caller stops what started when this fails.
EPSTATUS StartServices(VRG_COUNTRY country) {
  if (memCircBufInit() != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Error initializing memCircBuf driver");
    return EPSTATUS_ERROR;
  }
  lhapiInit(0);
  endptConfig.initState |= EPEINIT_LHAPI;
  vrgEndptIstwInit();
  istwEvent(ISTW_STARTUP_HANDLE, ISTW_FORCED_ACTIVE, 1);
  if (VrgDispatcherProcessInit() != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR starting VRGDISP service");
    return EPSTATUS_RESOURCES;
  }
  endptConfig.initState |= EPEINIT_VRGDISP;
  vosSemLiteCreate("vrgPstnSem", 0, 1, &vrgPstnSem);
  vosSemLiteCreate("vrgNTESem", 0, 1, &vrgNteSem);
  if (casCtlInit(CasEventCallback) != CAS_CTL_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR starting CAS service");
    return EPSTATUS_RESOURCES;
  }
  endptConfig.initState |= EPEINIT_CAS;
  if (hdspInit(RmEventCallback, 1) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR starting HHAPI service on DSP %d", 1);
    return EPSTATUS_RESOURCES;
  }
  endptConfig.initState |= EPEINIT_HDSP;
  int loadBalancing = 0;
  Provision(nullptr, EPPROV_LoadBalancing, &loadBalancing);
  boardHalDspRegisterCallback(lhapiKNL_RunReadyThreads);
  if (!DspConfigSufficient()) return EPSTATUS_RESOURCES;
  for (int k = 0; k < VRG_MAX_CNX_VHD; ++k) {
    if (!OpenConnectionChannel(k)) return EPSTATUS_RESOURCES;
  }
  endptConfig.initState |= EPEINIT_CNXVHD;
  if (vrgEndptGetNumFxoEndpoints() > 0) {
    if (PstnCtlStart(country) != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: pstnCtlInit FAIL");
    } else {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: pstnCtlInit successful");
    }
  }
  return EPSTATUS_SUCCESS;
}

void CloseLineChannels() {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing line VHDs...");
  const int count = vrgEndptGetNumEndpoints();
  for (int i = 0; i < count && i < VRG_MAX_ENDPT; ++i) {
    VRG_ENDPT& endpt = vrgEndpt[i];
    if (endpt.lineVhdHdl < VRG_NO_VHD) {
      if (hdspVhdClose(endpt.lineVhdHdl, static_cast<uint16_t>(endpt.dspNum)) != 0) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                 "EPT: hdspVhdClose failed for dsp %d, endpt %d, line-vhd 0x%x", endpt.dspNum, i,
                 endpt.lineVhdHdl);
      }
      endpt.lineVhdHdl = VRG_NO_VHD;
    }
    if (endpt.endptType == EPTYPE_PSTN && endpt.pstnVhdHdl != 0 &&
        endpt.pstnVhdHdl != VRG_NO_VHD && endpt.pstnVhdHdl != 0xFF) {
      if (hdspVhdClose(endpt.pstnVhdHdl, static_cast<uint16_t>(endpt.dspNum)) != 0) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                 "EPT: hdspVhdClose failed for dsp %d, endpt %d, pstn-vhd 0x%x", endpt.dspNum, i,
                 endpt.pstnVhdHdl);
      }
      endpt.pstnVhdHdl = VRG_NO_VHD;
    }
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing line VHDs.");
}

void CloseConnectionChannels() {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing connection VHDs...");
  for (int k = 0; k < VRG_MAX_CNX_VHD; ++k) {
    CNXSTATE& cnx = vrgCnxState[k];
    if (cnx.vhdhdl == 0 || cnx.vhdhdl == VRG_NO_VHD) continue;
    if (hdspVhdClose(cnx.vhdhdl, static_cast<uint16_t>(cnx.dspNum)) != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
               "EPT: hdspVhdClose failed for dsp %d, cnx vhd 0x%x", cnx.dspNum, cnx.vhdhdl);
    }
    cnx.vhdhdl = VRG_NO_VHD;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing connection VHDs.");
}

// Stops every part whose start-up bit is set, in the reverse order of start-up. The dispatcher
// is parked first: the records it owns are changed here, and no event or command runs against
// half-closed lines (what stays queued is released when the dispatcher stops).
void StopServices() {
  if (endptConfig.initState & EPEINIT_VRGDISP) VrgDispatcherPark();
  const int count = vrgEndptGetNumEndpoints();
  for (int i = 0; i < count && i < VRG_MAX_ENDPT; ++i) {
    vrgEndptSetLineUsed(&vrgEndpt[i], 0);
    ClassLineDeinit(&vrgEndpt[i]);
  }
  if (endptConfig.initState & EPEINIT_CNXSTATE) CloseLineChannels();
  if (endptConfig.initState & EPEINIT_CNXVHD) {
    CloseConnectionChannels();
    endptConfig.initState &= ~EPEINIT_CNXVHD;
  } else if (endptConfig.initState & EPEINIT_HDSP) {
    // A start-up that failed while opening channels leaves some of them open.
    CloseConnectionChannels();
  }
  if (endptConfig.initState & EPEINIT_HDSP) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing HDSP...");
    if (hdspDeinit() != 0) voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: hdspShutDown failed");
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing HDSP.");
    endptConfig.initState &= ~EPEINIT_HDSP;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing CAS...");
  if (endptConfig.initState & EPEINIT_CAS) {
    if (casCtlDeinit() != CAS_CTL_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: casCtlDeinit FAILED");
    }
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing CAS.");
  endptConfig.initState &= ~EPEINIT_CAS;
  if (vrgEndptGetNumFxoEndpoints() > 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing PSTN...");
    PstnCtlStop();
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing PSTN.");
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing VRG dispatcher...");
  if (endptConfig.initState & EPEINIT_VRGDISP) {
    if (VrgDispatcherProcessDeinit() != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: VrgDispatcherProcessDeinit FAILED");
    }
    vosSemLiteDestroy(&vrgPstnSem);
    vosSemLiteDestroy(&vrgNteSem);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED Deinitializing event processing.");
  endptConfig.initState &= ~EPEINIT_VRGDISP;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Deinitializing LHAPI...");
  if (endptConfig.initState & EPEINIT_LHAPI) lhapiDeinit();
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: COMPLETED deinitializing LHAPI.");
  endptConfig.initState &= ~EPEINIT_LHAPI;
  if (memCircBufDeinit() != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Error deinitializing memCircBuf driver");
  }
  endptConfig.initState = 0;
  endptProvDeinit();
  // The tick task stops before the board layer closes the DSP channels that each tick reads and
  // writes (the board layer's own shutdown closes them first).
  boardHalDspDeinit();
  boardHalDeinit();
}

}  // namespace

EPSTATUS vrgEndptInit(ENDPT_INIT_CFG* endptInitCfg, endptEventCallback notifyCallback,
                      endptPacketCallback packetCallback,
                      endptGetProvCallback getProvisionCallback,
                      endptSetProvCallback setProvisionCallback,
                      endptPacketReleaseCallback packetReleaseCallback,
                      endptTaskShutdownCallback /*taskShutdownCallback*/) {
  EndptLockGuard lock;
  if (endptInitialized) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Endpoint already initialized");
    return EPSTATUS_ERROR;
  }
  if (endptInitCfg == nullptr) return EPSTATUS_ERROR;
  const VRG_COUNTRY country = endptInitCfg->country;
  SeedRandom();
  endptProvInit();
  if (boardHalInit(country) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR boardHalInit failed");
    boardHalDspDeinit();
    boardHalDeinit();
    endptProvDeinit();
    return EPSTATUS_ERROR;
  }
  endptConfig = ENDPTZCONFIG{};
  LoadCountry(country);
  boardHalDspGetCfg(&gDspCfg);
  endptConfig.country = country;
  endptConfig.notify = notifyCallback;
  endptConfig.packet = packetCallback;
  endptConfig.getProvision = getProvisionCallback;
  endptConfig.setProvision = setProvisionCallback;
  endptConfig.packetRelease = packetReleaseCallback;
  ResetRecords(country);
  endptConfig.initState |= EPEINIT_CNXSTATE;
  BuildCapabilities();

  const EPSTATUS status = StartServices(country);
  if (status != EPSTATUS_SUCCESS) {
    // Stop the threads and drivers that did start, so that a retry starts them once.
    StopServices();
    return status;
  }
  istwEvent(ISTW_STARTUP_HANDLE, ISTW_FORCED_ACTIVE, 0);
  endptInitialized = 1;
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptDeinit(void) {
  EndptLockGuard lock;
  if (!endptInitialized) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Endpoint already deinitialized");
    return EPSTATUS_ERROR;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: Deinitializing endpoint ...");
  istwEvent(ISTW_STARTUP_HANDLE, ISTW_FORCED_ACTIVE, 1);
  StopServices();
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED deinitializing endpoint !");
  endptInitialized = 0;
  return EPSTATUS_SUCCESS;
}
