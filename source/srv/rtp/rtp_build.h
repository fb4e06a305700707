// RTP header packing and the building of one outgoing packet.
#pragma once

#include <cstdint>

#include "rtp.h"

struct RTP_MIN_HEADER_INFO {
  unsigned version, p, x, cc, m, pt;
  uint16_t sequenceNum;
  uint32_t timestamp;
  uint32_t ssrc;
};

namespace rtpsrv {
extern const uint8_t convertMfr1ToRfc2833[15];
void setRtpMinHeader(uint8_t* out, const RTP_MIN_HEADER_INFO& h);
RTP_MIN_HEADER_INFO constructRtpHeaderInfo(const uint8_t* in);
}  // namespace rtpsrv

// Sends one framework packet (HAPI_PKT_HDR and payload, changed in place) as RTP; 1 when sent.
int generateAndSendRtpPacket(RTPSRVINSTANCEMEM* r, HAPI_PKT_HDR* p);
