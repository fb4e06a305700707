// Statistics record of the RTP service as the host reads it (HAPI_RTP_GETSTATS_EXT_CMD). 32-bit
// counts are carried as two 16-bit words, the high half first.
#pragma once

#include <cstdint>

struct HAPI_RTP_CUMULATIVE_STATS {
  uint16_t ingressRtpPacketsHigh, ingressRtpPacketsLow;
  uint16_t ingressRtpBytesHigh, ingressRtpBytesLow;
  uint16_t egressRtpPacketsHigh, egressRtpPacketsLow;
  uint16_t egressRtpBytesHigh, egressRtpBytesLow;
  uint16_t egressRtpCumulativeLostPacketsHigh, egressRtpCumulativeLostPacketsLow;
  uint16_t egressRtpDiscardedPacketsHigh, egressRtpDiscardedPacketsLow;
  uint16_t ingressRtpNoProfileDiscardedPackets;
  uint16_t ingressRtcpPackets;
  uint16_t egressRtcpPackets;
  uint16_t ingressRtcpXrPackets;
  uint16_t egressRtcpXrPackets;
  uint16_t reserved;
};
static_assert(sizeof(HAPI_RTP_CUMULATIVE_STATS) == 36, "cumulative RTP statistics are 36 bytes");

struct HAPI_RTP_VOIP_METRICS_STATS {
  uint32_t uSSRCOfSource;
  uint16_t uLossRate, uDiscardRate, uBurstDensity, uGapDensity;
  uint16_t uBurstDuration, uGapDuration, uRoundTripDelay, uEndSystemDelay;
  int16_t sSignalLevel, sNoiseLevel, sRERL;
  uint16_t uGMin, uRFactor, uExtRFactor, uMOSLQ, uMOSCQ, uPLC, uJbAdaptive, uJbRate;
  uint16_t uJbNominal, uJbMax, uJbAbsMax;
};
static_assert(sizeof(HAPI_RTP_VOIP_METRICS_STATS) == 48, "VoIP metrics are 48 bytes");

struct HAPI_RTP_SESSION_STATS {
  uint16_t egressRtpJitterHigh, egressRtpJitterLow;
  uint16_t ingressRtpLatencyHigh, ingressRtpLatencyLow;
  uint16_t ingressPeakRtpLatencyHigh, ingressPeakRtpLatencyLow;
  uint16_t egressRtpLossFraction;
  uint16_t jitterMin;
  uint16_t jitterMax;
  uint16_t MOSlq;
  uint16_t MOScq;
  uint16_t reserved;
  uint32_t meanAbsoluteJitter;
  uint32_t maxMeanAbsoluteJitter;
  uint32_t localSSRC;
  uint32_t remoteSSRC;
  uint32_t bLocalCollected;
  uint32_t bRemoteCollected;
  HAPI_RTP_VOIP_METRICS_STATS localVoipMetricsStats;
  HAPI_RTP_VOIP_METRICS_STATS remoteVoipMetricsStats;
};
static_assert(sizeof(HAPI_RTP_SESSION_STATS) == 144, "session RTP statistics are 144 bytes");

struct HAPI_RTP_LOCAL_SESSION_STATS {
  uint16_t ingressRtpPacketsHigh, ingressRtpPacketsLow;
  uint16_t ingressRtpBytesHigh, ingressRtpBytesLow;
};

struct HAPI_RTP_STATS {
  HAPI_RTP_CUMULATIVE_STATS cumulative;
  HAPI_RTP_SESSION_STATS session;
  HAPI_RTP_LOCAL_SESSION_STATS sessionLocal;
};
static_assert(sizeof(HAPI_RTP_STATS) == 188, "RTP statistics are 188 bytes");
