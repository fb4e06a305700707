// Command, event and response codes of the RTP service, the packet and voice codes it works with,
// and the packet headers it exchanges with the codec service.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

// ---- commands (header = service id 6 << 8 | opcode) ----
enum : uint16_t {
  HAPI_RTP_GETSTATS_EXT_CMD = 0x0607,
  HAPI_RTP_SETREGS2_CMD = 0x060A,
  HAPI_RTP_GETREGS2_CMD = 0x060C,
  HAPI_RTP_GETREGS2_RSP = 0x060C,
  HAPI_RTP_SET_NTP_TIMESTAMP_CMD = 0x0617,
  HAPI_RTP_SET_CSVOICE_CMD = 0x0618,
  HAPI_RTP_GETREGS_RSP = 0x0631,
  HAPI_RTP_SETREGS_CMD = 0x0632,
  HAPI_RTP_GETSTATE_RSP = 0x0636,
  HAPI_RTP_SETMODE_CMD = 0x0680,
  HAPI_RTP_SET_SSRC_CMD = 0x0681,
  HAPI_RTP_GEN_NTE_CMD = 0x0683,
  HAPI_RTP_SET_INITIAL_SEQUENCE_NUMBER_CMD = 0x0684,
  HAPI_RTP_PACKET_EXPAND_END_CMD = 0x0686,
  HAPI_RTP_VBD_PAYLOADMAP_SET_CMD = 0x0689,
  HAPI_RTP_SETREG21_CMD = 0x068B,
  HAPI_RTP_GETREGS_CMD = 0x06B1,
  HAPI_RTP_SETREG1_CMD = 0x06B4,
  HAPI_RTP_GETSTATS_CMD = 0x06B5,
  HAPI_RTP_GETSTATE_CMD = 0x06B6,
  HAPI_RTP_REG_UPDATE_CMD = 0x06B7,
  HAPI_RTP_RESET_STATS_CMD = 0x06B8,
};

// ---- events ----
enum : uint16_t {
  HAPI_RTP_INGRESS_RTCP_REPORT_EVT = 0x0640,
  HAPI_RTP_EGRESS_RTCP_REPORT_EVT = 0x0641,
  HAPI_RTP_BYE_EVT = 0x0644,
  HAPI_RTP_GETSTATS_EVT = 0x0646,
  HAPI_RTP_EGRESS_ERROR_EVT = 0x06C2,
  HAPI_RTP_EGRESS_SSRC_COLLISION_EVT = 0x06C3,
  HAPI_RTP_SID_INGRESS_EVT = 0x06C7,
  HAPI_RTP_EGRESS_DTMF_EVT = 0x06C8,
};

// Commands the RTP service sends to the codec service.
enum : uint16_t {
  HAPI_CODEC_DECFLUSH_CMD = 0x0283,
  HAPI_CODEC_INTERMSG_CMD = 0x028D,
};

constexpr uint16_t HAPI_RTP_MIN_RTCP_PACKET_INTERVAL = 5000;
constexpr unsigned HAPI_RTP_MAX_ITEM_SIZE = 64;

// ---- configFlags ----
enum : uint16_t {
  HAPI_RTP_EGRESS_REPORT_ERROR_TO_HOST_ENABLE_MASK = 0x0001,
  HAPI_RTP_INGRESS_SEND_RTCP_PACKETS_ENABLE_MASK = 0x0002,
  HAPI_RTP_INGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK = 0x0004,
  HAPI_RTP_EGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK = 0x0008,
  HAPI_RTP_EGRESS_CHECK_FOR_SSRC_COLLISION_MASK = 0x0010,
  HAPI_RTP_EGRESS_DROP_REDUNDANT_PAYLOAD_MASK = 0x0020,
  HAPI_RTP_INGRESS_RFC2198_ENABLE_MASK = 0x0040,
  HAPI_RTP_INGRESS_GENERATE_RTCP_BYE_PACKET_ENABLE_MASK = 0x0080,
  HAPI_RTP_EGRESS_ACCEPT_RTCP_BYE_PACKET_ENABLE_MASK = 0x0100,
  HAPI_RTP_QOS_EVENT_ENABLE_MASK = 0x0200,
  HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK = 0x0400,
  HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK = 0x0800,
  HAPI_RTP_USE_USER_DEFINED_INITIAL_SEQUENCE_NUMBER_MASK = 0x1000,
  HAPI_RTP_USE_USER_DEFINED_SSRC_MASK = 0x2000,
  HAPI_RTP_VBD_V152_ENABLE_MASK = 0x4000,
  HAPI_RTP_VBD_V152_INGRESS_RFC2198_ENABLE_MASK = 0x8000,
};

// ---- configFlags2 ----
enum : uint16_t {
  HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK = 0x0001,
  HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK = 0x0002,
  HAPI_RTP_TONE_TRIPLICATE_REDUNDANCY_MASK = 0x0004,
  HAPI_RTP_GR303_NUERA_ENABLE_MASK = 0x0008,
  HAPI_RTP_RFC2833_KEEP_ALIVE_ENABLE_MASK = 0x0010,
  HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK = 0x0020,
  HAPI_RTP_G726_ANNEX_E_ENABLE_MASK = 0x0040,
};

// ---- rtpLoopbackConfigFlags ----
enum : uint16_t {
  HAPI_RTP_LOOPBACK_ENABLE_MASK = 0x1,
  HAPI_RTP_LOOPBACK_MIRROR_MASK = 0x2,
  HAPI_RTP_LOOPBACK_START_MASK = 0x4,
  HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK = 0x8,
};

// ---- rtcpXrConfigFlags ----
enum : uint16_t {
  HAPI_RTP_RTCP_XR_GENERATE_LOSS_RLE_REPORT = 0x01,
  HAPI_RTP_RTCP_XR_GENERATE_DUPLICATE_RLE_REPORT = 0x02,
  HAPI_RTP_RTCP_XR_GENERATE_PACKET_RECEIPT_TIMES_REPORT = 0x04,
  HAPI_RTP_RTCP_XR_GENERATE_RECEIVER_REFERENCE_TIME_REPORT = 0x08,
  HAPI_RTP_RTCP_XR_GENERATE_DLRR_REPORT = 0x10,
  HAPI_RTP_RTCP_XR_GENERATE_STATISTICS_REPORT = 0x20,
  HAPI_RTP_RTCP_XR_GENERATE_VOIP_REPORT = 0x40,
};

// ---- receive errors reported to the host ----
enum HAPI_RTP_EGRESS_ERROR : uint16_t {
  HAPI_RTP_EGRESS_ERROR_CLEARED = 0,
  HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH = 1,
  HAPI_RTP_EGRESS_ERROR_INVALID_PAYLOAD_TYPE = 2,
  HAPI_RTP_EGRESS_ERROR_UNKNOWN_RTCP_PACKET_TYPE = 3,
  HAPI_RTP_EGRESS_ERROR_WRONG_VERSION = 4,
  HAPI_RTP_EGRESS_ERROR_NO_SUPPORT = 5,
};

// ---- RTCP packet types ----
enum HAPI_RTP_RTCP_PACKET_TYPE : uint8_t {
  HAPI_RTP_RTCP_PACKET_TYPE_SR = 200,
  HAPI_RTP_RTCP_PACKET_TYPE_RR = 201,
  HAPI_RTP_RTCP_PACKET_TYPE_SDES = 202,
  HAPI_RTP_RTCP_PACKET_TYPE_BYE = 203,
  HAPI_RTP_RTCP_PACKET_TYPE_APP = 204,
  HAPI_RTP_RTCP_PACKET_TYPE_XR = 207,
};

// Payload types of comfort noise that every receiver takes.
constexpr uint8_t HAPI_RTP_IETF_PT_CNG = 13;
constexpr uint8_t HAPI_RTP_IETF_PT_CNG_ALT = 19;

// ---- packet types (high byte of payloadID) ----
enum : uint8_t {
  HAPI_PKT_UNKNOWN = 0,
  HAPI_PKT_VOICE = 1,
  HAPI_PKT_SID = 2,
  HAPI_PKT_TONE = 3,
  HAPI_PKT_VOICEBANDDATA = 4,
  HAPI_PKT_FAXRELAY = 5,
  HAPI_PKT_DATARELAY = 6,
  HAPI_PKT_CLASSRELAY = 7,
  HAPI_PKT_PCMCLEAR = 8,
  HAPI_PKT_PARTIAL_FRAME = 9,
  HAPI_PKT_LOOPBACK = 10,
};

// ---- tone codes (low byte of a tone packet's payloadID) ----
enum : uint8_t {
  HAPI_PKT_TC_DTMF_ON = 0,
  HAPI_PKT_TC_DTMF_OFF = 1,
  HAPI_PKT_TC_MFR1_ON = 2,
  HAPI_PKT_TC_MFR1_OFF = 3,
  HAPI_PKT_TC_TONE_NOCODE = 255,
};

// ---- voice codes the RTP service names ----
enum : uint8_t {
  HAPI_PKT_VC_G711_ULAW = 0,
  HAPI_PKT_VC_G711_ALAW = 1,
  HAPI_PKT_VC_G726_16 = 2,
  HAPI_PKT_VC_G726_24 = 3,
  HAPI_PKT_VC_G726_32 = 4,
  HAPI_PKT_VC_G726_40 = 5,
  HAPI_PKT_VC_G729A_8 = 6,
  HAPI_PKT_VC_G729_8 = 7,
  HAPI_PKT_VC_G729_118 = 8,
  HAPI_PKT_VC_G7231_53 = 9,
  HAPI_PKT_VC_G7231_63 = 10,
  HAPI_PKT_VC_G728_16 = 11,
  HAPI_PKT_VC_BV16 = 12,
  HAPI_PKT_VC_LINPCM128 = 13,
  HAPI_PKT_VC_ILBC20 = 14,
  HAPI_PKT_VC_ILBC30 = 15,
  HAPI_PKT_VC_GSM_FR_13 = 16,
  HAPI_PKT_VC_GSM_EFR_122 = 17,
  HAPI_PKT_VC_GSM_AMR_475 = 18,
  HAPI_PKT_VC_GSM_AMR_122 = 25,
  HAPI_PKT_VC_G711WB_ULAW = 41,
  HAPI_PKT_VC_G711WB_ALAW = 42,
  HAPI_PKT_VC_BV32 = 43,
  HAPI_PKT_VC_LINPCM256 = 44,
  HAPI_PKT_VC_G722_64_MODE_1 = 45,
  HAPI_PKT_VC_G722_64_MODE_2 = 46,
  HAPI_PKT_VC_G722_64_MODE_3 = 47,
  HAPI_PKT_VC_G7221_24 = 48,
  HAPI_PKT_VC_G7221_32 = 49,
  HAPI_PKT_VC_WIDEBAND_MAX = 74,
  HAPI_PKT_VC_ALG_MAX = 75,
  HAPI_PKT_VC_SID_MIN = 80,
  HAPI_PKT_VC_GENERIC_SID = 81,
  HAPI_PKT_VC_G729_SID = 82,
  HAPI_PKT_VC_G7231_SID = 83,
  HAPI_PKT_VC_AMR_SID = 84,
  HAPI_PKT_VC_GSM_EFR_SID = 85,
  HAPI_PKT_VC_AMR_WB_SID = 86,
  HAPI_PKT_VC_AMR_OA_SID = 87,
  HAPI_PKT_VC_AMR_WB_OA_SID = 88,
  HAPI_PKT_VC_PCM_CLEAR = 89,
  HAPI_PKT_VC_IDLE = 90,
  HAPI_PKT_VC_GSM_AMR_FRAME = 91,
  HAPI_PKT_VC_GSM_AMR_VARIABLE = 92,
  HAPI_PKT_VC_G7231_VARIABLE = 93,
  HAPI_PKT_VC_AMR_WB_VARIABLE = 94,
  HAPI_PKT_VC_AMR_OA_VARIABLE = 95,
  HAPI_PKT_VC_AMR_WB_OA_VARIABLE = 96,
  HAPI_PKT_VC_OPUS_VARIABLE = 97,
  HAPI_PKT_VC_VARIABLE_MIN = 92,
  HAPI_PKT_VC_VARIABLE_MAX = 97,
  HAPI_PKT_VC_VOICE_NOCODE = 255,
};

// Wideband codes other than G.722 run a 16 kHz RTP clock (twice the engine's 8 kHz count).
constexpr bool rtpIsWideband16k(unsigned code) {
  return code > 40 && code <= HAPI_PKT_VC_WIDEBAND_MAX && !(code >= 45 && code <= 47);
}
constexpr bool rtpIsWideband(unsigned code) { return code > 40 && code <= HAPI_PKT_VC_WIDEBAND_MAX; }
constexpr bool rtpIsG722(unsigned code) { return code >= 45 && code <= 47; }
constexpr bool rtpIsOpus(unsigned code) { return (code >= 36 && code <= 40) || (code >= 68 && code <= 72); }
// Inside the engine every payload is held as 16-bit words in host order, a byte stream two bytes to
// a word with the earlier byte in the high half (GSM, AMR, Opus and iSAC frames included); on the
// wire it is a byte stream in network order. On this little-endian host the words of every payload
// are therefore swapped in both directions. AMR and AMR-WB payloads are read as network-order bytes
// by the table-of-contents checks and the splitter, which hands each frame on in the engine's form
// (see rtpXmeToQrn and rfc3267ProcessEgress).

// A received payload as the RTP service hands it to the codec service: four host-order words in
// front of the payload.
struct HAPI_PKT_EGRESS_HDR {
  uint16_t payloadID;
  uint16_t payloadLength;
  uint16_t payloadOffset;  // always 8
  uint16_t payloadTimeStampLow;
};
static_assert(sizeof(HAPI_PKT_EGRESS_HDR) == 8, "egress packet header is four words");

// A digit or tone as the engine carries it: digit in the high byte, power level in the low byte;
// duration in 8 kHz samples.
struct HAPI_PKT_TONEPAYLOAD {
  uint16_t digitpwrlevel;
  uint16_t duration;
};
static_assert(sizeof(HAPI_PKT_TONEPAYLOAD) == 4, "tone payload is two words");

// A telephone event on the wire (RFC 4733): event, E bit and volume, duration in network order.
struct RTP_NTE_PAYLOAD {
  uint8_t event;
  uint8_t endVolume;  // E in bit 7, R (0) in bit 6, volume in bits 5-0
  uint8_t duration[2];
};
static_assert(sizeof(RTP_NTE_PAYLOAD) == 4, "telephone-event payload is 4 bytes");
