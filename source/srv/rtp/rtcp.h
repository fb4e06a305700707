// RTCP reports, XR blocks and reception: what the service's files share.
#pragma once

#include <cstdint>

#include "rtp.h"

namespace rtpsrv {

struct RtcpLoss {
  uint8_t fraction;
  int32_t cumulative;  // 24-bit signed
};
// Loss since the previous report and in total; moves the priors on.
RtcpLoss rtpEstimateLoss(REMOTE_SOURCE_INFO* s);
void generateRtcpCommonHeader(uint8_t* buffer, unsigned lengthWords, unsigned count, unsigned type);
// NTP time of the host: seconds since 1900 and a 32-bit fraction.
void rtcpNtpNow(uint32_t* seconds, uint32_t* fraction);
// "Now" in 1/65536 s, the middle 32 bits of the NTP time: the clock our sender reports carry, so
// that a round trip computed against them is measured on one clock.
uint32_t rtpGetLocalTimeIn_1_Over_65536_Seconds_Unit();
// Appends the XR packet when a block is enabled; returns its bytes (0 when none was built).
unsigned rtcpXrBuild(RTPSRVINSTANCEMEM* r, uint8_t* out);
// The VoIP-metrics values of this report.
RTCP_XR_VOIP_REPORT rtcpXrVoipMetrics(RTPSRVINSTANCEMEM* r);

}  // namespace rtpsrv
