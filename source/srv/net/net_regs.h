// What the host sees of the NET service of a packet channel: its register record, option bits,
// modes, and the codes of its commands and events.
#pragma once

#include <cstdint>

// Registers of the NET service (eleven 16-bit words).
struct HSZNETREGS {
  uint16_t hsxStatsInterval;          // ms; 0 = statistics are not reported to the host
  uint16_t hsxHeartbeatInterval;      // ms; 0 = no heartbeat
  uint16_t hsxPxdHandle;              // line channel whose echo canceller NET controls; 0xFF none
  uint16_t hsxNetOptions;             // HSNET_NET_OPTION_* bits
  uint16_t hsxCallDOptions;           // call discriminator option word
  uint16_t hsxPteCallSetupOptions;    // digit and tone options in call setup
  uint16_t hsxPtePacketVoiceOptions;  // digit and tone options in voice
  uint16_t hsxPacketVoiceEncoder;     // (VAD type << 8) + voice code
  uint16_t hsxVoiceBandDefault;       // (VAD type << 8) + voice code for voiceband data
  uint16_t hsxVoiceSuperPktInterval;  // 8 kHz samples
  uint16_t hsxVBDSuperPktInterval;    // 8 kHz samples
};
static_assert(sizeof(HSZNETREGS) == 22, "NET registers are 22 bytes");

enum : uint16_t {
  HSNET_NET_OPTION_CDIS = 0x1,
  HSNET_NET_OPTION_FAXRELAY = 0x2,
  HSNET_NET_OPTION_MODEMRELAY = 0x4,
  HSNET_NET_OPTION_AUTO_ENC_SWITCH = 0x8,
  HSNET_NET_OPTION_ECAN_CONTROL = 0x10,
  HSNET_NET_OPTION_IGNORE_CNG_ING_EVT = 0x20,
  HSNET_NET_OPTION_IGNORE_CNG_EGR_EVT = 0x40,
  HSNET_NET_OPTION_VBD_FAXR_AUTO_SWITCH_DISABLE = 0x80,
};

enum : uint16_t {
  HSNET_CDIS_OPTION_V18ACTIVE = 0x8,
  HSNET_CDIS_OPTION_BELL103ACTIVE = 0x10,
  HSNET_CDIS_OPTION_CUSTOMTONEACTIVE = 0x20,
};

enum : uint16_t {
  HSNET_PTE_OPTION_DETECTOR_EGRESSMASK = 0x1,
  HSNET_PTE_OPTION_DETECTOR_INGRESSMASK = 0x2,
  HSNET_PTE_OPTION_DIG_RELAY = 0x10,
  HSNET_PTE_OPTION_DIG_EVT = 0x20,
};

// Which V.18 detections switch voice to voiceband data.
enum : uint16_t {
  HAPI_NET_AUTOSWITCH_MASK_V18_ASCII = 0x1,
  HAPI_NET_AUTOSWITCH_MASK_V18_BAUDOT = 0x2,
  HAPI_NET_AUTOSWITCH_MASK_V18_PREAMBLE = 0x4,
};

enum : uint16_t {
  NETMODE_IDLE = 0,
  NETMODE_CALLSETUP = 1,
  NETMODE_PACKETVOICE = 2,
  NETMODE_DATARELAY = 3,  // not a mode of this channel
  NETMODE_FAXRELAY = 4,
  NETMODE_VOICEBANDDATA = 5,
};

// VAD types in the high byte of an encoder word.
enum HAPI_VAD_TYPES : uint16_t {
  HAPI_VAD_TYPE_NONE = 0,
  HAPI_VAD_TYPE_GENERIC = 1,
  HAPI_VAD_TYPE_BUILTIN = 2,
};

// Registers after start and after a reset: CDIS, fax relay, automatic encoder switch,
// echo-canceller control and ignored egress CNG; generic VAD with G.711 mu-law for voice.
constexpr HSZNETREGS hsnetRegsDefault() {
  return HSZNETREGS{0, 0, 0xFF, 0x5B, 0x4, 0x20, 0x30, 0x0100, 0x0000, 160, 160};
}

// Commands of the NET service.
enum : uint16_t {
  HAPI_NET_CONFIG_SETREGS_CMD = 0x3002,
  HAPI_NET_CONFIG_GETREGS_CMD = 0x3003,
  HAPI_NET_GETMODE_CMD = 0x3006,
  HAPI_NET_GETVOICESTATE_CMD = 0x300D,
  HAPI_NET_GETVOICESTATS_CMD = 0x300E,
  HAPI_NET_VOICE_SETREGS_CMD = 0x3011,
  HAPI_NET_VOICE_GETREGS_CMD = 0x3012,
  HAPI_NET_GETFAXSTATS_CMD = 0x3013,
  HAPI_NET_FAXR_SETREGS_CMD = 0x3015,
  HAPI_NET_FAXR_GETREGS_CMD = 0x3016,
  HAPI_NET_PTE_SETREGS_CMD = 0x301E,
  HAPI_NET_PTE_GETREGS_CMD = 0x3020,
  HAPI_NET_RTP_SETREGS_CMD = 0x3023,
  HAPI_NET_RTP_SETREGS2_CMD = 0x3025,
  HAPI_NET_RTP_GETREGS_CMD = 0x3026,
  HAPI_NET_RTP_GETREGS2_CMD = 0x3027,
  HAPI_NET_T38_SETREGS_CMD = 0x3028,
  HAPI_NET_T38_GETREGS_CMD = 0x302A,
  HAPI_NET_CONFIG_RESETREGS_CMD = 0x3084,
  HAPI_NET_SETMODE_CMD = 0x3085,
  HAPI_NET_SETVOICERATE_CMD = 0x3088,
  HAPI_NET_SETFAXRATE_CMD = 0x308A,
  HAPI_NET_CONFIG_SETREG1_CMD = 0x3099,
  HAPI_NET_VOICE_SETREG1_CMD = 0x309B,
  HAPI_NET_FAXR_SETREG1_CMD = 0x309C,
  HAPI_NET_PTE_SETREG1_CMD = 0x309F,
  HAPI_NET_RTP_SETREG1_CMD = 0x30A4,
  HAPI_NET_T38_SETREG1_CMD = 0x30A9,
  HAPI_NET_VBD_AUTOSWITCH_MASK = 0x30AD,
};

// Events of the NET service.
enum : uint16_t {
  HAPI_NET_VOICESTATS_EVT = 0x3047,
  HAPI_NET_FAXSTATS_EVT = 0x3048,
  HAPI_NET_VOICESTATE_EVT = 0x304A,
  HAPI_NET_HEARTBEAT_EVT = 0x30C0,
  HAPI_NET_MODE_EVT = 0x30C2,
  HAPI_NET_VOICERATE_EVT = 0x30C3,
  HAPI_NET_FAXRATE_EVT = 0x30C4,
  HAPI_NET_JITTER_EVT = 0x30C5,
  HAPI_NET_EXCEPTION_EVT = 0x30C6,
};
