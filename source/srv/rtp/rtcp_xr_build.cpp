// The RTCP XR packet of a report (RFC 3611): loss and duplicate run lengths, receipt times,
// reference time and DLRR, the statistics summary and the VoIP metrics with the quality estimate.
#include <cstring>

#include "lhapi.h"
#include "rtcp.h"
#include "rtp_internal.h"

namespace rtpsrv {
namespace {

constexpr unsigned kMaxChunks = 140;  // 2016 bits in 15-bit vectors, plus padding

unsigned thinningOf(uint16_t t) { return t > 15 ? 15 : t; }

void blockHeader(uint8_t* out, unsigned type, unsigned specific, unsigned lengthWords) {
  out[0] = static_cast<uint8_t>(type);
  out[1] = static_cast<uint8_t>(specific);
  put16(out + 2, static_cast<uint16_t>(lengthWords));
}

unsigned rleBlock(const RTPSRVINSTANCEMEM* r, uint8_t* out, unsigned type, const uint16_t* map,
                  uint16_t thinning) {
  const RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  uint16_t chunks[kMaxChunks];
  unsigned count = 0;
  const unsigned t = thinningOf(thinning);
  const uint16_t length = rtcpXrCreateChunk(xr.beginSeq, xr.endSeq, map, chunks, t, &count);
  blockHeader(out, type, t, length);
  put32(out + 4, remoteSsrc(r));
  put16(out + 8, xr.beginSeq);
  put16(out + 10, xr.endSeq);
  for (unsigned i = 0; i < count; ++i) put16(out + 12 + 2 * i, chunks[i]);
  return 12 + 2 * count;
}

// Receipt-time entries of the window: the multiples of 2^T in [beginSeq, endSeq).
unsigned receiptEntries(const RTCP_XR_INFO& xr, unsigned t) {
  const unsigned span = static_cast<uint16_t>(xr.endSeq - xr.beginSeq);
  if (span == 0) return 0;
  const unsigned step = 1u << t;
  // Offset of the last multiple below endSeq, counted from beginSeq.
  const unsigned lastMultiple = (xr.endSeq - 1u) & ~(step - 1u) & 0xFFFF;
  const unsigned offset = static_cast<uint16_t>(lastMultiple - xr.beginSeq);
  if (offset >= span) return 0;  // no multiple inside the window
  unsigned entries = (offset >> t) + 1;
  if (entries > RTCP_XR_RECEIPT_TIMES) {
    LHAPI_ASSERT_FAIL();
    entries = RTCP_XR_RECEIPT_TIMES;
  }
  return entries;
}

unsigned receiptBlock(const RTPSRVINSTANCEMEM* r, uint8_t* out, unsigned entries, unsigned t) {
  const RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  blockHeader(out, 3, t, entries + 2);
  put32(out + 4, remoteSsrc(r));
  put16(out + 8, xr.beginSeq);
  put16(out + 10, xr.endSeq);
  for (unsigned i = 0; i < entries; ++i) put32(out + 12 + 4 * i, xr.receiptTime[i]);
  return 12 + 4 * entries;
}

uint32_t isqrtRoundedUp(uint32_t v) {
  uint32_t root = 0;
  while (uint64_t{root + 1} * (root + 1) <= v) ++root;
  const uint32_t remainder = v - root * root;
  return remainder > root ? root + 1 : root;
}

unsigned summaryBlock(const RTPSRVINSTANCEMEM* r, uint8_t* out) {
  const RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  blockHeader(out, 6, 0xE0, 9);
  put32(out + 4, remoteSsrc(r));
  put16(out + 8, xr.beginSeq);
  put16(out + 10, xr.endSeq);
  put32(out + 12, rtcpXrCountMap(xr.lossMap, xr.beginSeq, xr.endSeq));
  put32(out + 16, rtcpXrCountMap(xr.duplicateMap, xr.beginSeq, xr.endSeq));  // 0 marks a duplicate
  put32(out + 20, xr.jitterMinSave);
  put32(out + 24, xr.jitterMaxSave);
  uint32_t mean = 0;
  uint32_t deviation = 0;
  const uint32_t n = xr.jitterPktsReceivedSave;
  if (n != 0) {
    mean = xr.jitterSumSave / n;
    deviation = isqrtRoundedUp(xr.jitterSquaredSumSave / n - mean * mean) & 0xFFFF;
  }
  put32(out + 28, mean);
  put32(out + 32, deviation);
  put32(out + 36, 0);  // no TTL
  return 40;
}

int8_t level8(int16_t v) { return static_cast<int8_t>(v < -128 ? -128 : (v > 127 ? 127 : v)); }

unsigned voipBlock(const RTCP_XR_VOIP_REPORT& m, uint8_t* out) {
  blockHeader(out, 7, 0, 8);
  put32(out + 4, m.ssrc);
  out[8] = m.lossRate;
  out[9] = m.discardRate;
  out[10] = m.burstDensity;
  out[11] = m.gapDensity;
  put16(out + 12, m.burstDuration);
  put16(out + 14, m.gapDuration);
  put16(out + 16, m.roundTripDelay);
  put16(out + 18, m.endSystemDelay);
  out[20] = static_cast<uint8_t>(m.signalLevel);
  out[21] = static_cast<uint8_t>(m.noiseLevel);
  out[22] = static_cast<uint8_t>(m.rerl);
  out[23] = m.gmin;
  out[24] = m.rFactor;
  out[25] = m.extRFactor;
  out[26] = m.mosLq;
  out[27] = m.mosCq;
  out[28] = m.rxConfig;
  out[29] = 0;
  put16(out + 30, m.jbNominal);
  put16(out + 32, m.jbMaximum);
  put16(out + 34, m.jbAbsMaximum);
  return 36;
}

}  // namespace

RTCP_XR_VOIP_REPORT rtcpXrVoipMetrics(RTPSRVINSTANCEMEM* r) {
  const REMOTE_SOURCE_INFO& src = r->remoteSourceInfo;
  const RTCP_XR_INFO& xr = src.rtcpXrInfo;
  RTCP_XR_VOIP_REPORT m{};
  m.blockType = 7;
  m.blockLength = 8;
  m.ssrc = remoteSsrc(r);
  const uint32_t expected =
      (uint32_t{static_cast<uint16_t>(src.cycles - xr.cyclesOffset)} << 16) + src.maxSeq + 1 - xr.baseSeq;
  const uint32_t received = src.received - xr.receivedOffset;
  if (expected != 0 && expected > received) {
    const uint64_t rate = (uint64_t{expected - received} << 8) / expected;
    m.lossRate = static_cast<uint8_t>(rate > 255 ? 255 : rate);
  }
  if (xr.pvePacketsExpected != 0) {
    const uint64_t rate = (uint64_t{xr.pvePacketsDiscarded} << 8) / xr.pvePacketsExpected;
    m.discardRate = static_cast<uint8_t>(rate > 255 ? 255 : rate);
  }
  const RtcpXrBurstGap g = rtcpXrBurstGapMetrics(&xr, xr.frameDuration >> 3);
  m.burstDensity = g.burstDensity;
  m.gapDensity = g.gapDensity;
  m.burstDuration = g.burstDuration;
  m.gapDuration = g.gapDuration;
  m.roundTripDelay = xr.roundTripDelay;
  const unsigned code = r->ingressVoiceCodec;
  const unsigned fixedDelay = code < HAPI_RTP_XR_DELAY_ENTRIES ? r->regs.rtcpXrEndSystemDelay[code] : 0;
  m.endSystemDelay = static_cast<uint16_t>((xr.frameDuration >> 3) + (xr.jbJitterCurrent >> 3) + fixedDelay);
  m.signalLevel = level8(xr.signalLevel);
  m.noiseLevel = level8(xr.noiseLevel);
  m.rerl = level8(xr.rerl);
  m.gmin = RTCP_XR_GMIN;
  m.extRFactor = 127;
  // The rate occupies the low four bits of the byte; anything above would corrupt the other fields.
  m.rxConfig = static_cast<uint8_t>((xr.jbAdaptiveFlag ? 0x30 : 0x20) | (xr.jbBufferRate & 0x0F));
  m.jbNominal = static_cast<uint16_t>(xr.jbJitterMin >> 3);
  m.jbMaximum = static_cast<uint16_t>(xr.jbJitterCurrent >> 3);
  m.jbAbsMaximum = static_cast<uint16_t>(xr.jbJitterMax >> 3);
  const RtcpXrQuality q = rtcpXrQuality(code, m.lossRate, xr.noiseLevel, (xr.vadCngPlcOptions >> 13) & 1,
                                        m.roundTripDelay, m.endSystemDelay, xr.remoteEndSystemDelay);
  m.rFactor = q.rFactor;
  m.mosLq = q.mosLq;
  m.mosCq = q.mosCq;
  return m;
}

unsigned rtcpXrBuild(RTPSRVINSTANCEMEM* r, uint8_t* out) {
  RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  const uint16_t flags = r->regs.rtcpXrConfigFlags;
  const unsigned receiptThinning = thinningOf(r->regs.rtcpXrReceiptTimesThinning);
  const unsigned entries = receiptEntries(xr, receiptThinning);
  // RFC 3611 marks a duplicate with 1; the map keeps 0 for one.
  uint16_t duplicates[RTCP_XR_MAP_WORDS];
  for (unsigned i = 0; i < RTCP_XR_MAP_WORDS; ++i) duplicates[i] = static_cast<uint16_t>(~xr.duplicateMap[i]);
  rtcpXrBurstGapUpdate(&xr, xr.beginSeq, xr.endSeq);

  unsigned n = 8;
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_LOSS_RLE_REPORT) {
    n += rleBlock(r, out + n, 1, xr.lossMap, r->regs.rtcpXrLossRleThinning);
  }
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_DUPLICATE_RLE_REPORT) {
    n += rleBlock(r, out + n, 2, duplicates, r->regs.rtcpXrDuplicateRleThinning);
  }
  if ((flags & HAPI_RTP_RTCP_XR_GENERATE_PACKET_RECEIPT_TIMES_REPORT) && entries != 0) {
    n += receiptBlock(r, out + n, entries, receiptThinning);
  }
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_RECEIVER_REFERENCE_TIME_REPORT) {
    rtcpNtpNow(&xr.ntpSeconds, &xr.ntpFraction);
    blockHeader(out + n, 4, 0, 2);
    put32(out + n + 4, xr.ntpSeconds);
    put32(out + n + 8, xr.ntpFraction);
    n += 12;
  }
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_DLRR_REPORT) {
    blockHeader(out + n, 5, 0, 3);
    put32(out + n + 4, remoteSsrc(r));
    put32(out + n + 8, xr.lrr);
    put32(out + n + 12, xr.lrr != 0 ? rtpGetLocalTimeIn_1_Over_65536_Seconds_Unit() - xr.dlrr : 0);
    n += 16;
  }
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_STATISTICS_REPORT) n += summaryBlock(r, out + n);
  if (flags & HAPI_RTP_RTCP_XR_GENERATE_VOIP_REPORT) {
    const RTCP_XR_VOIP_REPORT m = rtcpXrVoipMetrics(r);
    n += voipBlock(m, out + n);
    HAPI_RTP_SESSION_STATS& s = r->stats.session;
    s.MOSlq = m.mosLq;
    s.MOScq = m.mosCq;
    s.bLocalCollected = 1;
    rtcpXrSaveVoipReport(&s.localVoipMetricsStats, &m);
  }
  rtcpXrAdvanceWindow(&xr, entries);
  if (n == 8) return 0;
  generateRtcpCommonHeader(out, n / 4 - 1, 0, HAPI_RTP_RTCP_PACKET_TYPE_XR);
  put32(out + 4, localSsrc(r));
  return n;
}

}  // namespace rtpsrv
