// Host-side operations on one DSP channel (VHD): opening and closing line, PSTN, gateway and
// conference VHDs with their first register settings, the switchboard, the NET mode, and the NET,
// voice, jitter-buffer, AMR, gain and volume registers. Times are given in ms and sent in 8 kHz
// samples.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"
#include "pve_codec/pve_regs.h"
#include "rm/rm.h"
#include "vrgEndptState.h"

// Voice statistics of a connection channel as the NET service reports them.
struct HSZNETVOICESTATS {
  HAPI_PVE_STATS hsxPVEstats;
};
static_assert(sizeof(HSZNETVOICESTATS) == 36, "voice statistics are 36 bytes");

enum : uint16_t { HAPI_RM_VHD_NARROWBAND_MODE = 0, HAPI_RM_VHD_WIDEBAND_MODE = 1 };

struct DBM2Q12MAP {
  int32_t dB;
  int16_t gainQ12;  // 4096 x 10^(dB/20), truncated
};
inline constexpr int DBM2Q12_ROWS = 33;  // +16 dB down to -16 dB
extern const DBM2Q12MAP dBm2Q12Map[DBM2Q12_ROWS];

struct RM_ERR_TEXT {
  uint16_t code;
  const char* text;
};
inline constexpr int RM_ERR_ROWS = 27;
extern const RM_ERR_TEXT rm_err_map[RM_ERR_ROWS];
// Text of a resource-manager error code, or none for a code that is not listed.
const char* hdspRmErrText(uint16_t code);

// Detection options of the digit and tone service (the detectAdmin register).
using HAPI_PTE_ADM = uint16_t;

int16_t hdspVhdOpen(uint16_t vhdType, HAPICALLBKP callback, uint16_t dspNum, HAPI_PTE_ADM pteDetectAdmin,
                    uint16_t pteMinDetectPower, int16_t pveEgressVolume, uint16_t* vhdhdl, int endptId);
int16_t hdspVhdClose(uint16_t vhdhdl, uint16_t dspNum);
int16_t hdspVhdSetMode(uint16_t vhdhdl, uint16_t mode, uint16_t initMode);
int16_t hdspVhdSetVoiceCodec(uint16_t vhdhdl, uint16_t voiceCode, uint16_t vadType, uint16_t interval,
                             int initialChange);
int16_t hdspVhdSetVBDCodec(uint16_t vhdhdl, uint16_t voiceCode, uint16_t vadType);
int16_t hdspVhdSetVadCngPlc(uint16_t vhdhdl, int vad, int cng, int plc);
int16_t hdspVhdSetJitterBuffer(uint16_t vhdhdl, int fixed, int voiceMin, int voiceMax, int voiceTarget,
                               int dataTarget, uint16_t customFeatures);
int16_t hdspVhdGetJitterBuffer(uint16_t vhdhdl, int* fixed, int* voiceMin, int* voiceMax,
                               int* voiceTarget, int* dataTarget);
int16_t hdspVhdGetAvgJBDelay(uint16_t vhdhdl, int* delayMs);
int16_t hdspVhdSetAmrSettings(uint16_t vhdhdl, uint16_t modeSet, uint16_t modeChangeNeighbor,
                              uint16_t modeChangePeriod, uint16_t ptime, uint16_t red);
int16_t hdspVhdSetPVEEgressVolume(uint16_t vhdhdl, int dB);
int16_t hdspVhdSetPVEIngressVolume(uint16_t vhdhdl, int dB);
int16_t hdspVhdSetEgressGain(uint16_t vhdhdl, int dB);
int16_t hdspVhdSetIngressGain(uint16_t vhdhdl, int dB);
int16_t hdspVhdLineEquEnable(uint16_t vhdhdl, int enable);
int hdspVhdAdjustIngressPowerLevel(int endptId, int power);
int16_t hdspVhdSetSSRC(uint16_t vhdhdl, uint32_t ssrc);
int16_t hdspVhdGetVoiceStats(uint16_t vhdhdl, HSZNETVOICESTATS* stats);
int16_t hdspVhdEnableCmtd(uint16_t lineVhdHdl, VRG_COUNTRY country);
int16_t hdspVhdDisableCmtd(uint16_t lineVhdHdl);
int16_t hdspVhdGetCmtdPowerLevel(uint16_t vhdhdl, uint32_t* power);

void hdspVhdDisplayPveState(uint16_t vhdhdl);
void hdspVhdDisplayFaxrStats(uint16_t vhdhdl);
void hdspVhdDisplayVoiceStatsRaw(uint16_t vhdhdl, const HSZNETVOICESTATS* stats);
void hdspVhdFormatVoiceStats(char* text);
void hdspVhdDisplayEndptStats(uint16_t vhdhdl);

int16_t hdspRmSwitchBoardConnect(uint16_t srcHandle, uint16_t srcInterface, uint16_t dstHandle,
                                 uint16_t dstInterface, uint16_t type, int connect);
int16_t hdspRmSetFramesizeAndMode(uint16_t vhdhdl, uint16_t frameSize, uint16_t mode);
int16_t hdspRmSetVhdProcessing(uint16_t vhdhdl, uint16_t direction, uint16_t state);
int16_t hdspRmQueryDspBuffers(uint16_t dspNum);
int hdspRmGetTotalMips(void);

// Opens and wires the VHDs of a new endpoint: line (and PSTN) channel, switchboard, echo
// canceller off, provisioned gains. EPSTATUS_SUCCESS or EPSTATUS_RESOURCES.
EPSTATUS InitVhds(VRG_ENDPT* endpt, HAPICALLBKP callback);
