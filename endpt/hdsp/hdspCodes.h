// Command codes and register offsets of the channel services that the host DSP control sends,
// as service id << 8 | opcode, and the small records that go with them.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

namespace hdsp {

// Digit and tone service.
inline constexpr uint16_t HAPI_PTE_TONE_GEN_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 1);    // 0x0901
inline constexpr uint16_t HAPI_PTE_FILTER_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 3);      // 0x0903
inline constexpr uint16_t HAPI_PTE_TONE_END_CMD = HSF_MKCMD_STD(HAPI_PTE_SRV, 0);    // 0x0980
inline constexpr uint16_t HAPI_PTE_ENABLE_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_ENABLE_CMD);   // 0x09B0
inline constexpr uint16_t HAPI_PTE_SETREG1_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_SETREG1_CMD); // 0x09B4
inline constexpr uint16_t PTE_REG_MINDETECTPOWER = 4;
inline constexpr uint16_t PTE_REG_DETECTADMIN = 6;

}  // namespace hdsp

// Digit filter of the digit and tone service: which digits are reported, and when a digit
// counts as long.
struct HAPI_PTE_FILTER {
  uint16_t filterControl;
  uint16_t filterDigit;
  uint16_t filterLongDigit;
  uint16_t longDetectTime;
};
static_assert(sizeof(HAPI_PTE_FILTER) == 8, "digit filter is 8 bytes");

namespace hdsp {

// Line echo canceller.
inline constexpr uint16_t HAPI_HEC_ENABLE_CMD = HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD);   // 0x44B0
inline constexpr uint16_t HAPI_HEC_SETREG1_CMD = HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_SETREG1_CMD); // 0x44B4
// Byte offsets of HEC_REGS: options, volumedB (receive) and gaindB (transmit), dB x 256.
inline constexpr uint16_t HEC_REG_OPTIONS = 0;
inline constexpr uint16_t HEC_REG_VOLUMEDB = 4;  // receive (egress) gain, dB x 256
inline constexpr uint16_t HEC_REG_GAINDB = 6;    // transmit (ingress) gain, dB x 256
inline constexpr uint16_t HAPI_HEC_OPTIONS_OFF_HOOK = 0;
inline constexpr uint16_t HAPI_HEC_CNG_CAP_ON = 0x20;
inline constexpr uint16_t HAPI_HEC_OPTIONS_VBD = 0x8001;
inline constexpr int HAPI_HEC_GAIN_MIN = -30720;  // -120 dB
inline constexpr int HAPI_HEC_GAIN_MAX = 7680;    // +30 dB

// Line service: high-pass filter, equaliser, band split and band combine switches.
inline constexpr uint16_t LINE_HPF_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 0);          // 0x3680
inline constexpr uint16_t LINE_EQU_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 1);          // 0x3681
inline constexpr uint16_t LINE_BANDSPLIT_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 4);    // 0x3684
inline constexpr uint16_t LINE_BANDCOMBINE_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 5);  // 0x3685

inline constexpr uint16_t HAPI_CLIDRX_ENABLE_CMD = HSF_MKHDR(HAPI_CLIDRX_SRV, HAPI_OPC_ENABLE_CMD);  // 0x34B0
inline constexpr uint16_t HAPI_CDIS_ENABLE_CMD = HSF_MKHDR(HAPI_CDIS_SRV, HAPI_OPC_ENABLE_CMD);      // 0x07B0
inline constexpr uint16_t HAPI_V21_ENABLE_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_ENABLE_CMD);        // 0x0DB0

// Call-progress tone detector.
inline constexpr uint16_t HAPI_CMTD_FILTER_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 0);  // 0x1A00
inline constexpr uint16_t HAPI_CMTD_STM_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 1);     // 0x1A01
inline constexpr uint16_t HAPI_CMTD_POWER_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 2);   // 0x1A02
inline constexpr uint16_t HAPI_CMTD_ENABLE_CMD = HSF_MKHDR(HAPI_CMTD_SRV, HAPI_OPC_ENABLE_CMD);  // 0x1AB0

// RTP service.
inline constexpr uint16_t HAPI_RTP_GETSTATS_EXT_CMD = HSF_MKCMD_EXT(HAPI_RTP_SRV, 7);     // 0x0607
inline constexpr uint16_t HAPI_RTP_SET_SSRC_CMD = HSF_MKCMD_STD(HAPI_RTP_SRV, 1);         // 0x0681
inline constexpr uint16_t HAPI_RTP_GEN_NTE_CMD = HSF_MKCMD_STD(HAPI_RTP_SRV, 3);          // 0x0683
inline constexpr uint16_t HAPI_RTP_VBD_PAYLOADMAP_SET_CMD = HSF_MKCMD_STD(HAPI_RTP_SRV, 9);  // 0x0689
inline constexpr uint16_t HAPI_RTP_RESET_STATS_CMD = HSF_MKHDR(HAPI_RTP_SRV, HAPI_OPC_RESET_STATS_CMD);  // 0x06B8

// Resource manager.
inline constexpr uint16_t RM_GET_HOST_BUFSTATS_CMD = 0x8008;

}  // namespace hdsp
