// RTCP XR (RFC 3611) receive maps, jitter window, burst/gap counters and the voice-quality
// estimate carried in the VoIP-metrics block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtp_stats.h"

constexpr unsigned RTCP_XR_MAP_WORDS = 126;  // 2016 sequence numbers
constexpr unsigned RTCP_XR_RECEIPT_TIMES = 520;
constexpr unsigned RTCP_XR_GMIN = 16;

struct RTCP_XR_INFO {
  bool initialized;
  uint16_t beginSeq, endSeq, lastSeqNum;     // window [beginSeq, endSeq); lastSeqNum = newest + 1
  uint16_t lossMap[RTCP_XR_MAP_WORDS];       // 1 = received, bit 15 first
  uint16_t duplicateMap[RTCP_XR_MAP_WORDS];  // 0 = a duplicate arrived
  uint32_t receiptTime[RTCP_XR_RECEIPT_TIMES];
  uint32_t ntpSeconds, ntpFraction;  // last sent receiver reference time
  uint32_t lrr, dlrr;                // last received reference time and its arrival (1/65536 s)
  uint32_t jitterSquaredSum, jitterPktsReceived;
  uint32_t jitterSquaredSumSave, jitterPktsReceivedSave;
  uint16_t jitterSumSave, jitterMinSave, jitterMaxSave;
  uint16_t jitterSum, jitterMin, jitterMax;
  uint32_t pvePacketsDiscarded, pvePacketsExpected;
  uint16_t frameDuration, jbJitterMin, jbJitterMax, jbJitterCurrent, jbAdaptiveFlag, jbBufferRate,
      vadCngPlcOptions;
  uint32_t pkt, lost, c11, c14, c13, c33, c23, c22;  // burst/gap counters
  uint16_t roundTripDelay, remoteEndSystemDelay;     // ms
  int16_t signalLevel, noiseLevel, rerl;             // dB, 127 = not available
  uint32_t receivedOffset;
  uint16_t cyclesOffset, baseSeq;
};

// VoIP metrics block as sent (network order on the wire; this record holds the values).
struct RTCP_XR_VOIP_REPORT {
  uint8_t blockType, reserved0;
  uint16_t blockLength;
  uint32_t ssrc;
  uint8_t lossRate, discardRate, burstDensity, gapDensity;
  uint16_t burstDuration, gapDuration, roundTripDelay, endSystemDelay;
  int8_t signalLevel, noiseLevel, rerl;
  uint8_t gmin, rFactor, extRFactor, mosLq, mosCq, rxConfig, reserved1;
  uint16_t jbNominal, jbMaximum, jbAbsMaximum;
};
static_assert(sizeof(RTCP_XR_VOIP_REPORT) == 36, "VoIP metrics block is 36 bytes");

struct REMOTE_SOURCE_INFO;

// Quality tables by voice code.
extern const uint8_t IeTable[75];
extern const int16_t BplTable[75][2];
extern const uint16_t IdTable[31];

void rtcpXrInitStats(REMOTE_SOURCE_INFO* src, RTCP_XR_INFO* xr, uint16_t seq);
// Records one received sequence number in the maps (localTimestamp doubled for 16 kHz codecs).
void rtcpXrRecordPacket(RTCP_XR_INFO* xr, uint16_t seq, uint32_t receiptTime, unsigned thinning);
// Closes the jitter window: the current sums become the saved ones and restart.
void rtcpXrCloseJitterWindow(RTCP_XR_INFO* xr);
// Encodes [begin, end) of a map as RFC 3611 run-length chunks into `chunks` (room for 2 + 2016/15
// chunks); returns the block length in 32-bit words minus one.
uint16_t rtcpXrCreateChunk(uint16_t begin, uint16_t end, const uint16_t* map, uint16_t* chunks,
                           unsigned thinning, unsigned* chunkCount);
unsigned rtcpXrCountMap(const uint16_t* map, uint16_t begin, uint16_t end);
void rtcpXrSaveVoipReport(HAPI_RTP_VOIP_METRICS_STATS* host, const RTCP_XR_VOIP_REPORT* block);
int rToMos(int r);
// The quality part of the VoIP-metrics block: R factor, MOS-LQ, MOS-CQ.
struct RtcpXrQuality {
  uint8_t rFactor, mosLq, mosCq;
};
RtcpXrQuality rtcpXrQuality(unsigned code, unsigned lossRate, int noiseLevel, unsigned plcColumn,
                            unsigned roundTripDelay, unsigned endSystemDelay, unsigned remoteEndSystemDelay);
// Burst/gap counters over the window's loss bits (RFC 3611 appendix A.2, Gmin 16).
void rtcpXrBurstGapUpdate(RTCP_XR_INFO* xr, uint16_t begin, uint16_t end);
struct RtcpXrBurstGap {
  uint8_t burstDensity, gapDensity;
  uint16_t burstDuration, gapDuration;
};
RtcpXrBurstGap rtcpXrBurstGapMetrics(const RTCP_XR_INFO* xr, unsigned msPerFrame);
// Moves the window on to endSeq.
void rtcpXrAdvanceWindow(RTCP_XR_INFO* xr, unsigned receiptEntries);
