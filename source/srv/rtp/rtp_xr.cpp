// RTCP XR: the receive maps and jitter window kept per packet, the run-length chunks, the burst and
// gap counters and the reduced E-model behind the VoIP-metrics block.
#include "rtp_xr.h"

#include <cstring>

#include "rtp.h"

const uint8_t IeTable[75] = {0,   0,   50,  25,  7,   2,   11,  10,  4,   19,  15,  7,   5,   0,   10,
                             12,  127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127,
                             127, 127, 127, 127, 0,   127, 127, 127, 127, 127, 127, 127, 127, 127, 127,
                             127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127,
                             127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127};

// Packet-loss robustness by voice code; the column is bit 13 of the concealment options.
const int16_t BplTable[75][2] = {
    {4, 34},    {4, 34},    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {19, 19},   {19, 19},
    {19, 19},   {16, 16},   {16, 16},   {17, 17},   {25, 25},   {4, 34},    {34, 34},   {27, 27},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127}, {127, 127},
    {127, 127}, {127, 127}, {127, 127},
};

const uint16_t IdTable[31] = {163, 182, 194, 204, 213, 222, 230, 238, 246, 254, 263, 271, 279, 288, 297, 306,
                              316, 326, 336, 346, 357, 368, 380, 392, 405, 418, 433, 447, 463, 479, 497};

namespace {

constexpr unsigned kMapBits = RTCP_XR_MAP_WORDS * 16;

bool mapBit(const uint16_t* map, unsigned o) { return (map[o >> 4] >> (15 - (o & 15))) & 1; }
void setMapBit(uint16_t* map, unsigned o) {
  map[o >> 4] = static_cast<uint16_t>(map[o >> 4] | (0x8000 >> (o & 15)));
}
void clearMapBit(uint16_t* map, unsigned o) {
  map[o >> 4] = static_cast<uint16_t>(map[o >> 4] & ~(0x8000 >> (o & 15)));
}

unsigned windowBits(uint16_t begin, uint16_t end) {
  const unsigned n = static_cast<uint16_t>(end - begin);
  return n > kMapBits ? kMapBits : n;
}

// Shifts a map towards its start by `bits`, filling the end with `fill`.
void shiftMap(uint16_t* map, unsigned bits, bool fill) {
  for (unsigned o = 0; o < kMapBits; ++o) {
    const unsigned from = o + bits;
    const bool bit = from < kMapBits ? mapBit(map, from) : fill;
    if (bit) {
      setMapBit(map, o);
    } else {
      clearMapBit(map, o);
    }
  }
}

}  // namespace

void rtcpXrInitStats(REMOTE_SOURCE_INFO* src, RTCP_XR_INFO* xr, uint16_t seq) {
  std::memset(xr, 0, sizeof(*xr));
  std::memset(xr->duplicateMap, 0xFF, sizeof(xr->duplicateMap));
  xr->jitterMin = 65535;
  xr->jitterMax = 0;
  xr->initialized = true;
  xr->beginSeq = seq;
  xr->endSeq = xr->lastSeqNum = static_cast<uint16_t>(seq + 1);
  xr->signalLevel = xr->noiseLevel = xr->rerl = 127;
  xr->cyclesOffset = src->cycles;
  xr->receivedOffset = src->received - 1;
  xr->baseSeq = seq;
  setMapBit(xr->lossMap, 0);
}

void rtcpXrRecordPacket(RTCP_XR_INFO* xr, uint16_t seq, uint32_t receiptTime, unsigned thinning) {
  const bool behind = (static_cast<uint16_t>(seq - xr->lastSeqNum) & 0x8000) != 0;
  if (behind &&
      static_cast<uint16_t>(seq - xr->beginSeq) >= static_cast<uint16_t>(xr->lastSeqNum - xr->beginSeq)) {
    return;  // older than the window
  }
  const unsigned o = static_cast<uint16_t>(seq - xr->beginSeq);
  if ((o >> 4) >= RTCP_XR_MAP_WORDS) return;
  if (mapBit(xr->lossMap, o)) {
    clearMapBit(xr->duplicateMap, o);
    return;
  }
  setMapBit(xr->lossMap, o);
  if (!behind) xr->lastSeqNum = static_cast<uint16_t>(seq + 1);
  const unsigned t = thinning > 15 ? 15 : thinning;
  if ((seq & ((1u << t) - 1)) == 0 && (o >> t) < RTCP_XR_RECEIPT_TIMES) xr->receiptTime[o >> t] = receiptTime;
}

void rtcpXrCloseJitterWindow(RTCP_XR_INFO* xr) {
  xr->jitterSumSave = xr->jitterSum;
  xr->jitterMinSave = xr->jitterMin;
  xr->jitterMaxSave = xr->jitterMax;
  xr->jitterSquaredSumSave = xr->jitterSquaredSum;
  xr->jitterPktsReceivedSave = xr->jitterPktsReceived;
  xr->jitterSum = 0;
  xr->jitterMin = 65535;
  xr->jitterMax = 0;
  xr->jitterSquaredSum = 0;
  xr->jitterPktsReceived = 0;
}

uint16_t rtcpXrCreateChunk(uint16_t begin, uint16_t end, const uint16_t* map, uint16_t* chunks,
                           unsigned thinning, unsigned* chunkCount) {
  const unsigned n = windowBits(begin, end);
  const unsigned t = thinning > 15 ? 15 : thinning;
  unsigned count = 0;
  bool inRun = false;
  bool runBit = false;
  unsigned runLength = 0;
  unsigned vectorBits = 0;
  uint16_t vector = 0;
  auto closeRun = [&] {
    chunks[count++] = static_cast<uint16_t>((runBit ? 0x4000 : 0) | runLength);
    inRun = false;
  };
  for (unsigned o = 0; o < n; ++o) {
    if ((static_cast<uint16_t>(begin + o) & ((1u << t) - 1)) != 0) continue;
    const bool bit = mapBit(map, o);
    if (inRun) {
      if (bit == runBit && runLength < 0x3FFF) {
        ++runLength;
        continue;
      }
      closeRun();
    }
    if (bit) vector = static_cast<uint16_t>(vector | (1u << (14 - vectorBits)));
    if (++vectorBits == 15) {
      if (vector == 0x7FFF || vector == 0) {
        inRun = true;
        runBit = vector != 0;
        runLength = 15;
      } else {
        chunks[count++] = static_cast<uint16_t>(0x8000 | vector);
      }
      vector = 0;
      vectorBits = 0;
    }
  }
  if (inRun) {
    closeRun();
  } else if (vectorBits != 0) {
    chunks[count++] = static_cast<uint16_t>(0x8000 | vector);
  }
  if (count & 1) chunks[count++] = 0;
  *chunkCount = count;
  return static_cast<uint16_t>(2 + count / 2);
}

unsigned rtcpXrCountMap(const uint16_t* map, uint16_t begin, uint16_t end) {
  const unsigned n = windowBits(begin, end);
  unsigned zeros = 0;
  for (unsigned o = 0; o < n; ++o) zeros += mapBit(map, o) ? 0 : 1;
  return zeros;
}

void rtcpXrSaveVoipReport(HAPI_RTP_VOIP_METRICS_STATS* host, const RTCP_XR_VOIP_REPORT* b) {
  if (host == nullptr || b == nullptr) return;
  host->uSSRCOfSource = b->ssrc;
  host->uLossRate = b->lossRate;
  host->uDiscardRate = b->discardRate;
  host->uBurstDensity = b->burstDensity;
  host->uGapDensity = b->gapDensity;
  host->uBurstDuration = b->burstDuration;
  host->uGapDuration = b->gapDuration;
  host->uRoundTripDelay = b->roundTripDelay;
  host->uEndSystemDelay = b->endSystemDelay;
  host->sSignalLevel = b->signalLevel;
  host->sNoiseLevel = b->noiseLevel;
  host->sRERL = b->rerl;
  host->uGMin = b->gmin;
  host->uRFactor = b->rFactor;
  host->uExtRFactor = b->extRFactor;
  host->uMOSLQ = b->mosLq;
  host->uMOSCQ = b->mosCq;
  host->uPLC = b->rxConfig >> 6;
  host->uJbAdaptive = (b->rxConfig >> 4) & 3;
  host->uJbRate = b->rxConfig & 15;
  host->uJbNominal = b->jbNominal;
  host->uJbMax = b->jbMaximum;
  host->uJbAbsMax = b->jbAbsMaximum;
}

int rToMos(int r) {
  if (r < 0) return 10;
  if (r > 100) return 45;
  return ((r * (358 + (((100 - r) * (r - 60) * 2349) >> 15))) >> 10) + 10;
}

RtcpXrQuality rtcpXrQuality(unsigned code, unsigned lossRate, int noiseLevel, unsigned plcColumn,
                            unsigned roundTripDelay, unsigned endSystemDelay, unsigned remoteEndSystemDelay) {
  constexpr RtcpXrQuality kNotAvailable{127, 127, 127};
  if (code > 74) return kNotAvailable;
  const int ie = IeTable[code];
  const int bpl = BplTable[code][plcColumn ? 1 : 0];
  if (ie == 127 || bpl == 127) return kNotAvailable;
  const int ppl = static_cast<int>(lossRate);
  const int n = noiseLevel < -64 ? -64 : noiseLevel;
  const int r0 = ((-10 - n) * 3 + 31) >> 1;
  const int ieTerm = ppl * (95 - ie) / (ppl + bpl);
  const int rLq = r0 - ie - ieTerm;
  const unsigned d = (roundTripDelay + endSystemDelay +
                      (remoteEndSystemDelay != 0 ? remoteEndSystemDelay : endSystemDelay)) >>
                     1;
  int id = 0;
  if (d < 497) {
    while (IdTable[id] < d) ++id;
  } else {
    id = static_cast<int>(((d - 497) >> 4) + 30);
  }
  const int rCq = rLq - id;
  RtcpXrQuality q;
  q.rFactor = static_cast<uint8_t>(rCq < 0 ? 0 : rCq);
  q.mosLq = static_cast<uint8_t>(rToMos(rLq));
  q.mosCq = static_cast<uint8_t>(rToMos(rCq));
  return q;
}

void rtcpXrBurstGapUpdate(RTCP_XR_INFO* xr, uint16_t begin, uint16_t end) {
  const unsigned n = windowBits(begin, end);
  for (unsigned o = 0; o < n; ++o) {
    if (mapBit(xr->lossMap, o)) {
      ++xr->pkt;
      continue;
    }
    if (xr->pkt >= RTCP_XR_GMIN) {
      if (xr->lost == 1) {
        ++xr->c14;
      } else {
        ++xr->c13;
      }
      xr->lost = 1;
      xr->c11 += xr->pkt;
    } else {
      ++xr->lost;
      if (xr->pkt == 0) {
        ++xr->c33;
      } else {
        ++xr->c23;
        xr->c22 += xr->pkt - 1;
      }
    }
    xr->pkt = 0;
  }
}

RtcpXrBurstGap rtcpXrBurstGapMetrics(const RTCP_XR_INFO* xr, unsigned msPerFrame) {
  RtcpXrBurstGap g{};
  if (xr->c13 == 0) return g;
  const uint64_t m = msPerFrame;
  const uint64_t burstTotal = uint64_t{xr->c13} + xr->c22 + 2 * uint64_t{xr->c23} + xr->c33;
  const uint64_t burst = m * burstTotal / xr->c13;
  g.burstDuration = static_cast<uint16_t>(burst > 65535 ? 65535 : burst);
  auto density = [](uint64_t v) { return static_cast<uint8_t>(v >= 256 ? 255 : v); };
  if (g.burstDuration != 0) {
    g.burstDensity = density(((uint64_t{xr->c23} + xr->c13 + xr->c33) << 8) / burstTotal);
  }
  const uint64_t gap = m * (uint64_t{xr->c11} + xr->c13 + xr->c14) / xr->c13;
  g.gapDuration = static_cast<uint16_t>(gap > 65535 ? 65535 : gap);
  if (g.gapDuration != 0 && uint64_t{xr->c14} + xr->c11 > 0) {
    g.gapDensity = density((uint64_t{xr->c14} << 8) / (uint64_t{xr->c14} + xr->c11));
  }
  return g;
}

void rtcpXrAdvanceWindow(RTCP_XR_INFO* xr, unsigned receiptEntries) {
  unsigned bits = static_cast<uint16_t>(xr->endSeq - xr->beginSeq);
  if (bits > 2000) bits = 2000;
  shiftMap(xr->lossMap, bits, false);
  shiftMap(xr->duplicateMap, bits, true);
  const unsigned shift = receiptEntries > RTCP_XR_RECEIPT_TIMES ? RTCP_XR_RECEIPT_TIMES : receiptEntries;
  std::memmove(xr->receiptTime, xr->receiptTime + shift, (RTCP_XR_RECEIPT_TIMES - shift) * sizeof(uint32_t));
  std::memset(xr->receiptTime + (RTCP_XR_RECEIPT_TIMES - shift), 0, shift * sizeof(uint32_t));
  xr->beginSeq = xr->endSeq;
}
