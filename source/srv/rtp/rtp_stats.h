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

// Session state as the host reads it (HAPI_RTP_GETSTATE_CMD).
struct HAPI_RTP_STATE {
  uint16_t higherRemoteSsrc;
  uint16_t lowerRemoteSsrc;
  uint16_t sequenceNum;  // next sequence number to send
  uint16_t higherLocalSsrc;
  uint16_t lowerLocalSsrc;
  uint16_t mode;  // 0 idle, 1 active
  uint16_t higherBaseTimestamp;
  uint16_t lowerBaseTimestamp;
  uint16_t bNewBaseTimeStampSet;
};
static_assert(sizeof(HAPI_RTP_STATE) == 18, "RTP state is 18 bytes");

// The host's RTP wall clock (HAPI_RTP_SET_NTP_TIMESTAMP_CMD).
struct HAPI_RTP_NTP_TIMESTAMP {
  uint16_t secondsHigh, secondsLow;
  uint16_t microsecondsHigh, microsecondsLow;
};
static_assert(sizeof(HAPI_RTP_NTP_TIMESTAMP) == 8, "NTP time stamp command is four words");
