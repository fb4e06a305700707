// Commands and events of the channel's other services that the NET service sends or hears.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"
#include "net_regs.h"

// Codec service.
enum : uint16_t {
  HAPI_CODEC_SETREGS_CMD = 0x0232,
  HAPI_CODEC_GETSTATS_EVT = 0x0243,
  HAPI_CODEC_GETSTATE_EVT = 0x0245,
  HAPI_CODEC_ENCSTART_CMD = 0x0280,
  HAPI_CODEC_SETVOICERATE_CMD = 0x0281,
  HAPI_CODEC_FREEZE_CMD = 0x0282,
  HAPI_CODEC_ENABLE_CMD = 0x02B0,
  HAPI_CODEC_SETREG1_CMD = 0x02B4,
  HAPI_CODEC_GETSTATS_CMD = 0x02B5,
  HAPI_CODEC_GETSTATE_CMD = 0x02B6,
  HAPI_CODEC_VOICERATE_EVT = 0x02C1,
  HAPI_CODEC_EXCEPTION_EVT = 0x02C4,
  HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT = 0x02D4,
  HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT = 0x02D5,
};
// Reasons of HAPI_CODEC_EXCEPTION_EVT that end a voice-rate request.
constexpr uint16_t HAPI_CODEC_EXCEPTION_ENC_UNAVAILABLE = 16;
constexpr uint16_t HAPI_CODEC_EXCEPTION_INTERVAL_TOO_LONG = 18;

// RTP service.
enum : uint16_t {
  HAPI_RTP_SETREGS2_CMD = 0x060A,
  HAPI_RTP_SETREGS_CMD = 0x0632,
  HAPI_RTP_SETMODE_CMD = 0x0680,
  HAPI_RTP_SETREG1_CMD = 0x06B4,
};

// Call discrimination service and its detection bits.
enum : uint16_t {
  HAPI_CDIS_V21ENABLE_CMD = 0x0780,
  HAPI_CDIS_EXTLOWENERGYDET_CMD = 0x0781,
  HAPI_CDIS_CONFIG_CMD = 0x0782,
  HAPI_CDIS_ENABLE_CMD = 0x07B0,
  HAPI_CDIS_DETECT_EVT = 0x07C0,
  HAPI_CDIS_HDLCDETECT_EVT = 0x07C1,
  HAPI_CDIS_EGRESS_DETECT_EVT = 0x07C3,
};
enum : uint16_t {
  HAPI_CDIS_DETECT_MACHINE = 0x2,
  HAPI_CDIS_DETECT_CNG = 0x8,
  HAPI_CDIS_DETECT_EARLY_ANSWER = 0x10,
  HAPI_CDIS_DETECT_FALSE_ANSWER = 0x20,
  HAPI_CDIS_DETECT_V18 = 0x40,
  HAPI_CDIS_DETECT_PHASE_REVERSAL = 0x80,
  HAPI_CDIS_DETECT_LOW_ENERGY = 0x100,
  HAPI_CDIS_DETECT_EXT_LOW_ENERGY = 0x200,
  HAPI_CDIS_DETECT_SILENCE = 0x400,
};

// Digit and tone service, and the mode bits of its enable command, which NET's option words
// carry as they are.
enum : uint16_t {
  HAPI_PTE_SETREGS_CMD = 0x0932,
  HAPI_PTE_ENABLE_CMD = 0x09B0,
  HAPI_PTE_SETREG1_CMD = 0x09B4,
};
constexpr uint16_t HAPI_PTE_MODE_DIG_RELAY = 0x10;
constexpr uint16_t HAPI_PTE_MODE_DIG_EVT = 0x20;
static_assert(uint16_t{HSNET_PTE_OPTION_DIG_RELAY} == HAPI_PTE_MODE_DIG_RELAY &&
                  uint16_t{HSNET_PTE_OPTION_DIG_EVT} == HAPI_PTE_MODE_DIG_EVT,
              "NET's digit options are the digit and tone service's mode bits");

// Echo canceller of the line channel and its option bits.
enum : uint16_t {
  HAPI_HEC_ENABLE_CMD = 0x44B0,
  HAPI_HEC_SETREG1_CMD = 0x44B4,
};
enum : uint16_t {
  HAPI_HEC_NLP_OFF = 0x0001,
  HAPI_HEC_ADAPT_OFF = 0x0002,
  HAPI_HEC_BYPASS_ON = 0x0004,
  HAPI_HEC_LEVELCTRL_OFF = 0x8000,
};

// Fax relay and T.38 services (codes built from the service id and opcode).
namespace netsrv {
constexpr uint16_t kFaxrSetRegs = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_SETREGS_CMD);
constexpr uint16_t kFaxrSetReg1 = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_SETREG1_CMD);
constexpr uint16_t kFaxrEnable = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_ENABLE_CMD);
constexpr uint16_t kFaxrGetStats = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_GETSTATS_CMD);
constexpr uint16_t kFaxrSetRate = HSF_MKCMD_STD(HAPI_FAXR_SRV, 1);
constexpr uint16_t kFaxrCallEndEvt = HSF_MKEVT_STD(HAPI_FAXR_SRV, 0);
constexpr uint16_t kFaxrRateEvt = HSF_MKEVT_STD(HAPI_FAXR_SRV, 1);
constexpr uint16_t kFaxrStatsEvt = HSF_MKEVT_EXT(HAPI_FAXR_SRV, 0x13);
constexpr uint16_t kT38SetRegs = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_SETREGS_CMD);
constexpr uint16_t kT38SetReg1 = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_SETREG1_CMD);
constexpr uint16_t kT38Enable = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_ENABLE_CMD);
constexpr uint16_t kT38Shutdown = HSF_MKCMD_STD(HAPI_T38_SRV, 0);
constexpr uint16_t kT38ShutdownEvt = HSF_MKEVT_STD(HAPI_T38_SRV, 0);
static_assert(kFaxrSetRate == 0x1281 && kFaxrCallEndEvt == 0x12C0 && kFaxrStatsEvt == 0x1253 &&
                  kT38Shutdown == 0x1780 && kT38ShutdownEvt == 0x17C0,
              "fax codes as the fax services define them");

// The framework's stack-switch completion, addressed to the service that asked for the switch.
constexpr uint16_t kStackSwitchEvt = HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_STACK_SWITCH_EVT);
}  // namespace netsrv
