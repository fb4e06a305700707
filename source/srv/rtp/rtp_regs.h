// Register records of the RTP service (all fields 16-bit words in host byte order) and the
// defaults the service starts with.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t HAPI_RTP_MEDIA_MAP_ENTRIES = 30;
constexpr size_t HAPI_RTP_SDES_TEXT_WORDS = 32;
constexpr size_t HAPI_RTP_XR_DELAY_ENTRIES = 75;  // one per voice code

// Media payload-type map entry: payload type in the high byte, voice code in the low byte.
constexpr uint16_t HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(unsigned payloadType, unsigned code) {
  return static_cast<uint16_t>((payloadType << 8) | (code & 0xFF));
}

struct HAPI_RTP_REGS {
  uint16_t configFlags;
  uint16_t rtcpPacketInterval;
  uint16_t rfc2198PayloadType;
  uint16_t ntePayloadType;
  uint16_t nteToneLevel;
  uint16_t mediaPayloadTypeMap[HAPI_RTP_MEDIA_MAP_ENTRIES];
  uint16_t cnameLength, cnameFrequency, cname[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t nameLength, nameFrequency, name[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t emailLength, emailFrequency, email[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t phoneLength, phoneFrequency, phone[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t locLength, locFrequency, loc[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t toolLength, toolFrequency, tool[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t noteLength, noteFrequency, note[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t privLength, privFrequency, priv[HAPI_RTP_SDES_TEXT_WORDS];
  uint16_t rfc2198EgressPayloadType;
  uint16_t nteEgressPayloadType;
  uint16_t mediaEgressPayloadTypeMap[HAPI_RTP_MEDIA_MAP_ENTRIES];
  uint16_t rtcpXrConfigFlags;
  uint16_t rtcpXrLossRleThinning;
  uint16_t rtcpXrDuplicateRleThinning;
  uint16_t rtcpXrReceiptTimesThinning;
  uint16_t rtcpXrEndSystemDelay[HAPI_RTP_XR_DELAY_ENTRIES];
  uint16_t rfc2198RedundancyLevels;
  uint16_t rtpSecHeaderSize;
  uint16_t rtpLoopbackConfigFlags;
  uint16_t rtpLoopbackPayloadType;
};
static_assert(sizeof(HAPI_RTP_REGS) == 844, "RTP registers are 844 bytes");
static_assert(offsetof(HAPI_RTP_REGS, rfc2198EgressPayloadType) == 614, "egress types at 614");
static_assert(offsetof(HAPI_RTP_REGS, rfc2198RedundancyLevels) == 836, "redundancy levels at 836");

struct HAPI_RTP_REGS2 {
  uint16_t configFlags2;
};
static_assert(sizeof(HAPI_RTP_REGS2) == 2, "second RTP register block is one word");

// The payload-type map both directions start with.
inline constexpr uint16_t rtpDefaultMediaPayloadTypeMap[HAPI_RTP_MEDIA_MAP_ENTRIES] = {
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(0, 0),    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(8, 1),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(115, 4),  HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(15, 11),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(18, 7),   HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(4, 93),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(3, 16),   HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(96, 2),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(97, 3),   HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(98, 5),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(99, 8),   HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(100, 89),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(101, 6),  HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(103, 12),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(104, 13), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(105, 41),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(106, 42), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(107, 43),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(108, 44), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(109, 46),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(110, 47), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(9, 45),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(111, 14), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(112, 15),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(113, 48), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(114, 49),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(116, 17), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(119, 94),
    HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(120, 92), HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(121, 96),
};

// Fixed part of the end-system delay (ms) reported in RTCP XR, by voice code.
constexpr uint16_t rtpDefaultEndSystemDelay(unsigned code) {
  if (code <= 5) return 24;
  if (code <= 8) return 29;
  if (code <= 10) return 31;
  if (code <= 13) return 24;
  if (code <= 15) return 50;
  if (code <= 35) return 0;
  if (code <= 39) return 26;
  if (code <= 42) return 28;
  if (code <= 44) return 46;
  return 0;
}

// The registers the RTP service starts with: error reports and RTCP on, no redundancy or
// telephone-event payload type, the default maps, all XR blocks.
constexpr HAPI_RTP_REGS rtpRegsDefault() {
  HAPI_RTP_REGS r{};
  r.configFlags = 3;
  r.rtcpPacketInterval = 5000;
  r.rfc2198PayloadType = 129;
  r.ntePayloadType = 128;
  r.nteToneLevel = 64;
  r.rfc2198EgressPayloadType = 129;
  r.nteEgressPayloadType = 128;
  for (size_t i = 0; i < HAPI_RTP_MEDIA_MAP_ENTRIES; ++i) {
    r.mediaPayloadTypeMap[i] = rtpDefaultMediaPayloadTypeMap[i];
    r.mediaEgressPayloadTypeMap[i] = rtpDefaultMediaPayloadTypeMap[i];
  }
  r.rtcpXrConfigFlags = 0x7F;
  r.rtcpXrReceiptTimesThinning = 4;
  for (unsigned code = 0; code < HAPI_RTP_XR_DELAY_ENTRIES; ++code) {
    r.rtcpXrEndSystemDelay[code] = rtpDefaultEndSystemDelay(code);
  }
  r.rfc2198RedundancyLevels = 2;
  return r;
}

constexpr HAPI_RTP_REGS2 rtpRegs2Default() { return HAPI_RTP_REGS2{4}; }
