// Receive-side pieces of the RTP service that tests and the fuzz target reach directly.
#pragma once

#include <cstdint>

#include "rtp.h"

enum RTP_PACKET_TYPE {
  RTP_PACKET_TYPE_ERROR = 0,
  RTP_PACKET_TYPE_SSRC_COLLISION = 1,
  RTP_PACKET_TYPE_NO_PROFILE = 2,
  RTP_PACKET_TYPE_NO_SUPPORT = 3,
  RTP_PACKET_TYPE_PROBATION = 4,
  RTP_PACKET_TYPE_USER = 5,
  RTP_PACKET_TYPE_TONE = 6,
  RTP_PACKET_TYPE_CNG = 7,
  RTP_PACKET_TYPE_MEDIA = 8,
  RTP_PACKET_TYPE_VBD = 9,
  RTP_PACKET_TYPE_RFC2198 = 10,
};

constexpr uint16_t RTP_MAX_DROPOUT = 3000;
constexpr uint16_t RTP_MAX_MISORDER = 100;

namespace rtpsrv {
// RFC 3550 appendix A.1 sequence bookkeeping (every packet is counted as received).
void rtpValidateRtpPacket(REMOTE_SOURCE_INFO* s, uint16_t seq, bool newSource);
// expected - received, held to 24 bits.
int32_t rtpExpectedMinusReceived(const REMOTE_SOURCE_INFO* s);
// The cumulative loss of the statistics, as a 24-bit signed count in 32 bits.
void rtpUpdateCumulativeLostPackets(RTPSRVINSTANCEMEM* r);
// Bytes of header, CSRC list and extension; 0 when they do not fit in `length`.
unsigned getRtpHeaderLength(const uint8_t* packet, unsigned length);
}  // namespace rtpsrv
