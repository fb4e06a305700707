// The service's egress block: RTP and RTCP from the host. Each RTP packet is checked against its
// received length, counted (RFC 3550 sequence and jitter bookkeeping), classified by payload type
// and handed to the codec service behind an HAPI_PKT_EGRESS_HDR.
#include "rtp_egress.h"

#include <cstring>

#include "lhapi.h"
#include "rtp_build.h"
#include "rtp_internal.h"
#include "rtp_payload.h"

namespace rtpsrv {

void sendEgressError2Host(RTPSRVINSTANCEMEM* r, uint16_t code) {
  if (code == r->egressError) return;
  r->egressError = code;
  if (r->regs.configFlags & HAPI_RTP_EGRESS_REPORT_ERROR_TO_HOST_ENABLE_MASK) {
    hsfObdSendStd(HAPI_RTP_EGRESS_ERROR_EVT, code, 0);
  }
}

void clearEgressError(RTPSRVINSTANCEMEM* r) {
  if (r->egressError != HAPI_RTP_EGRESS_ERROR_CLEARED) sendEgressError2Host(r, HAPI_RTP_EGRESS_ERROR_CLEARED);
}

namespace {

void countDiscarded(RTPSRVINSTANCEMEM* r) {
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Add(c.egressRtpDiscardedPacketsHigh, c.egressRtpDiscardedPacketsLow, 1);
}

void rejectPacket(RTPSRVINSTANCEMEM* r, uint16_t error) {
  sendEgressError2Host(r, error);
  countDiscarded(r);
}

bool directLoopback(const RTPSRVINSTANCEMEM* r) {
  return (r->regs.rtpLoopbackConfigFlags & (HAPI_RTP_LOOPBACK_ENABLE_MASK | HAPI_RTP_LOOPBACK_MIRROR_MASK)) ==
         HAPI_RTP_LOOPBACK_ENABLE_MASK;
}
bool mirrorLoopback(const RTPSRVINSTANCEMEM* r) {
  return (r->regs.rtpLoopbackConfigFlags & (HAPI_RTP_LOOPBACK_ENABLE_MASK | HAPI_RTP_LOOPBACK_MIRROR_MASK)) ==
         (HAPI_RTP_LOOPBACK_ENABLE_MASK | HAPI_RTP_LOOPBACK_MIRROR_MASK);
}
bool encapsulated(const RTPSRVINSTANCEMEM* r) {
  return (r->regs.rtpLoopbackConfigFlags & HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK) != 0;
}

// ---- RFC 3550 appendix A.1, without probation ----
void initSeq(REMOTE_SOURCE_INFO* s, uint16_t seq) {
  s->baseSeq = seq;
  s->maxSeq = seq;
  s->cycles = 0;
  s->badSeq = 0x10001;
  s->received = 0;
  s->expectedPrior = 0;
  s->receivedPrior = 0;
  s->rtcpXrInfo.initialized = false;
}

}  // namespace

void rtpValidateRtpPacket(REMOTE_SOURCE_INFO* s, uint16_t seq, bool newSource) {
  if (newSource) initSeq(s, seq);
  const uint16_t delta = static_cast<uint16_t>(seq - s->maxSeq);
  if (delta < RTP_MAX_DROPOUT) {
    if (seq < s->maxSeq) s->cycles = static_cast<uint16_t>(s->cycles + 1);
    s->maxSeq = seq;
  } else if (delta <= 65536 - RTP_MAX_MISORDER) {
    if (seq == s->badSeq) {
      initSeq(s, seq);  // two sequential packets after a jump: the source restarted
    } else {
      s->badSeq = (seq + 1u) & 0xFFFF;
    }
  }
  s->received += 1;
}

int32_t rtpExpectedMinusReceived(const REMOTE_SOURCE_INFO* s) {
  const uint32_t expected = (uint32_t{s->cycles} << 16) + s->maxSeq + 1 - s->baseSeq;
  int64_t lost = int64_t{expected} - int64_t{s->received};
  if (lost > 8388607) lost = 8388607;
  if (lost < -8388608) lost = -8388608;
  return static_cast<int32_t>(lost);
}

void rtpUpdateCumulativeLostPackets(RTPSRVINSTANCEMEM* r) {
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Set(c.egressRtpCumulativeLostPacketsHigh, c.egressRtpCumulativeLostPacketsLow,
             static_cast<uint32_t>(rtpExpectedMinusReceived(&r->remoteSourceInfo)));
}

namespace {

int mapPacketType(RTPSRVINSTANCEMEM* r, unsigned& pt) {
  if (directLoopback(r) && !encapsulated(r) && pt == (r->regs.rtpLoopbackPayloadType & 0x7F)) {
    pt = r->ingressPayloadType;
  }
  if (pt == r->egressPayloadType)
    return pt == r->vbdPayloadType ? RTP_PACKET_TYPE_VBD : RTP_PACKET_TYPE_MEDIA;
  if (pt == HAPI_RTP_IETF_PT_CNG || pt == HAPI_RTP_IETF_PT_CNG_ALT) return RTP_PACKET_TYPE_CNG;
  const int code = rtpGetCodecFromMediaPayloadMap(r->regs.mediaEgressPayloadTypeMap, pt);
  if (code != RTP_MAP_NOT_FOUND) {
    r->egressPayloadType = static_cast<uint8_t>(pt);
    r->egressVoiceCodec = static_cast<uint8_t>(code);
    return RTP_PACKET_TYPE_MEDIA;
  }
  if (pt == r->regs.nteEgressPayloadType) return RTP_PACKET_TYPE_TONE;
  if (pt == r->vbdPayloadType) {
    r->egressPayloadType = static_cast<uint8_t>(pt);
    r->egressVoiceCodec = r->vbdCodec;
    return RTP_PACKET_TYPE_VBD;
  }
  if (pt == r->regs.rfc2198EgressPayloadType) return RTP_PACKET_TYPE_RFC2198;
  sendEgressError2Host(r, HAPI_RTP_EGRESS_ERROR_INVALID_PAYLOAD_TYPE);
  return RTP_PACKET_TYPE_NO_PROFILE;
}

// MF R1 events 140..143 as the engine's digits.
constexpr uint8_t convertMfr1Rfc2833ToHapiFormat[4] = {12, 11, 13, 14};

// Turns the received payload into the engine's form by class. Returns false when dropped.
bool convert2HapiFormat(RTPSRVINSTANCEMEM* r, int cls, HAPI_PKT_EGRESS_HDR* h) {
  uint8_t* b = reinterpret_cast<uint8_t*>(h + 1);
  const unsigned e = r->egressVoiceCodec;
  switch (cls) {
    case RTP_PACKET_TYPE_TONE: {
      if (h->payloadLength < 4) {
        sendEgressError2Host(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
        countDiscarded(r);
        return false;
      }
      const unsigned v = b[0];
      const unsigned end = b[1] >> 7;
      const unsigned volume = b[1] & 63;
      uint16_t duration = get16(b + 2);
      unsigned digit = 0;
      unsigned code = 0;
      if (v <= 15) {
        digit = v;
        code = end ? HAPI_PKT_TC_DTMF_OFF : HAPI_PKT_TC_DTMF_ON;
      } else if (v >= 128 && v <= 138) {
        digit = v - 128;
        code = end ? HAPI_PKT_TC_MFR1_OFF : HAPI_PKT_TC_MFR1_ON;
      } else if (v >= 140 && v <= 143) {
        digit = convertMfr1Rfc2833ToHapiFormat[v - 140];
        code = end ? HAPI_PKT_TC_MFR1_OFF : HAPI_PKT_TC_MFR1_ON;
      } else {
        countDiscarded(r);
        return false;
      }
      if (rtpIsWideband16k(e)) duration = static_cast<uint16_t>(duration >> 1);
      h->payloadID = static_cast<uint16_t>((HAPI_PKT_TONE << 8) | code);
      const HAPI_PKT_TONEPAYLOAD tone{static_cast<uint16_t>((digit << 8) | volume), duration};
      std::memcpy(b, &tone, sizeof(tone));
      h->payloadLength = sizeof(tone);
      return true;
    }
    case RTP_PACKET_TYPE_CNG:
      h->payloadID = (HAPI_PKT_SID << 8) | HAPI_PKT_VC_GENERIC_SID;
      if (h->payloadLength > 0) b[0] = static_cast<uint8_t>(b[0] < 7 ? 0 : b[0] - 6);
      return true;
    case RTP_PACKET_TYPE_MEDIA:
      h->payloadID = e == HAPI_PKT_VC_PCM_CLEAR ? uint16_t((HAPI_PKT_PCMCLEAR << 8) | HAPI_PKT_VC_PCM_CLEAR)
                                                : static_cast<uint16_t>((HAPI_PKT_VOICE << 8) | e);
      return true;
    case RTP_PACKET_TYPE_VBD:
      h->payloadID = static_cast<uint16_t>((HAPI_PKT_VOICEBANDDATA << 8) | e);
      return true;
    default: LHAPI_ASSERT_FAIL(); return false;
  }
}

// ---- delivery to the codec service ----
void sendToCodec(HAPI_PKT_EGRESS_HDR* h) {
  hsfIbdSendExt(HSF_IBD_PACKET, HAPI_NET_EGRESSPACKET_CMD, static_cast<uint16_t>(h->payloadLength + 8), h);
}

void* scratchOf(void*, size_t bytes) { return hsfMemAllocScratch(bytes); }
void sendSplit(void*, HAPI_PKT_EGRESS_HDR* h) { sendToCodec(h); }
void modeRequest(void*, uint16_t cmr) { hsfObdSendStd(HAPI_CODEC_INTERMSG_CMD, 0, cmr); }
constexpr RtpAmrSink kCodecSink{sendSplit, modeRequest, scratchOf, nullptr};

// Corrections, then one packet or its split frames. Returns false when the packet was rejected.
bool deliver(RTPSRVINSTANCEMEM* r, HAPI_PKT_EGRESS_HDR* h, uint32_t timeStamp, bool reorderG726) {
  if (rtpXmeToQrn(h, timeStamp) == nullptr) {
    countDiscarded(r);
    return false;
  }
  if (reorderG726 && (r->regs2.configFlags2 & HAPI_RTP_G726_ANNEX_E_ENABLE_MASK)) {
    G726_I366_2_Annex_E_decode(reinterpret_cast<uint8_t*>(h + 1), h->payloadLength, r->egressVoiceCodec);
  }
  if (rfc3267ProcessEgress(h, kCodecSink) != 0) return true;
  // An AMR payload left whole is still in network order (rtpXmeToQrn leaves AMR to the splitter).
  if (amrFormOf(h->payloadID & 0xFF) != AmrForm::None) {
    swapBytes(reinterpret_cast<uint8_t*>(h + 1), h->payloadLength);
  }
  sendToCodec(h);
  return true;
}

void countBytes(RTPSRVINSTANCEMEM* r, unsigned payload) {
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Add(c.egressRtpBytesHigh, c.egressRtpBytesLow, payload + r->regs.rtpSecHeaderSize);
}

bool deliveryDisabled(const RTPSRVINSTANCEMEM* r) {
  return (r->regs2.configFlags2 & HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK) != 0;
}

// ---- mean absolute jitter over the host clock ----
void meanAbsoluteJitter(RTPSRVINSTANCEMEM* r, uint16_t seq) {
  uint32_t seconds = 0;
  uint32_t micro = 0;
  rtpHostSources.rtpTimeGet(&seconds, &micro);
  EGRESS_MAJ_CALCULATION_INFO& m = r->majCalcInfo;
  const uint16_t step = static_cast<uint16_t>(seq - m.prevPacketSeqNum);
  HAPI_RTP_SESSION_STATS& s = r->stats.session;
  if (!m.firstPacket && step <= 2) {
    const int64_t now = int64_t{seconds} * 1000000 + micro;
    const int64_t before = int64_t{m.prevPacketTimeSeconds} * 1000000 + m.prevPacketTimeuSeconds;
    uint32_t d = 0;
    if (now < before) {
      LHAPI_ASSERT_FAIL();  // the clock ran backwards: no time has passed
    } else {
      const int64_t ms = (now - before) / 1000;
      d = ms > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
    }
    const uint32_t mean = (15 * m.prevPacketMeanDelay + m.prevPacketDelay) >> 4;
    uint32_t neg = 0;
    uint32_t pos = 0;
    if (d > mean) {
      neg = (7 * m.prevPacketNegativeDev) >> 3;
      pos = (7 * m.prevPacketPositiveDev - mean + d) >> 3;
    } else {
      neg = (mean + 7 * m.prevPacketNegativeDev - d) >> 3;
      pos = (7 * m.prevPacketPositiveDev) >> 3;
    }
    s.meanAbsoluteJitter = neg + pos;
    if (s.meanAbsoluteJitter > s.maxMeanAbsoluteJitter) s.maxMeanAbsoluteJitter = s.meanAbsoluteJitter;
    m.prevPacketDelay = d;
    m.prevPacketMeanDelay = mean;
    m.prevPacketPositiveDev = pos;
    m.prevPacketNegativeDev = neg;
  } else {
    m.firstPacket = 0;
    m.prevPacketDelay = 0;
    m.prevPacketMeanDelay = 0;
    m.prevPacketPositiveDev = 0;
    m.prevPacketNegativeDev = 0;
    s.meanAbsoluteJitter = 0;
    s.maxMeanAbsoluteJitter = 0;
  }
  m.prevPacketTimeSeconds = seconds;
  m.prevPacketTimeuSeconds = micro;
  m.prevPacketSeqNum = seq;
}

// ---- loopback ----
void queueLoopback(RTPSRVINSTANCEMEM* r, const uint8_t* packet, unsigned length, unsigned headerLength) {
  const unsigned payload = length - headerLength;
  const bool enc = encapsulated(r);
  const unsigned need = enc ? length + 12 : payload + 8;
  if (need > RTP_LOOPBACK_BLOCK_BYTES || r->loopbackPool == nullptr || hsfBmIsPoolEmpty(r->loopbackPool))
    return;
  auto* h = static_cast<HAPI_PKT_HDR*>(hsfBmAllocDirect(r->loopbackPool, need));
  if (h == nullptr) return;
  h->payloadID = static_cast<uint16_t>((HAPI_PKT_LOOPBACK << 8) | packet[1]);
  h->payloadTimeStampHigh = 0;
  h->payloadTimeStampLow = 0;
  auto* b = reinterpret_cast<uint8_t*>(h + 1);
  if (enc) {
    h->payloadLength = static_cast<uint16_t>(length + 4);
    put32(b, r->localTimestamp);
    std::memcpy(b + 4, packet, length);
    b[4] = static_cast<uint8_t>(0x80 | (packet[0] & 15));
  } else {
    h->payloadLength = static_cast<uint16_t>(payload);
    std::memcpy(b, packet + headerLength, payload);
  }
  MEM_QueueEnqDbg(&r->rtpLoopbackQ, h, __FILE__, __LINE__);
}

// ---- G.722 far-end clock ----
void watchG722Clock(RTPSRVINSTANCEMEM* r, uint16_t seq, uint32_t ts, unsigned payloadLength) {
  std::memmove(r->seqNumHist, r->seqNumHist + 1, 4 * sizeof(r->seqNumHist[0]));
  std::memmove(r->timestampHist, r->timestampHist + 1, 4 * sizeof(r->timestampHist[0]));
  r->seqNumHist[4] = seq;
  r->timestampHist[4] = ts;
  const uint32_t step = r->timestampHist[1] - r->timestampHist[0];
  for (unsigned i = 0; i < 4; ++i) {
    if (static_cast<uint16_t>(r->seqNumHist[i] + 1) != r->seqNumHist[i + 1]) return;
    if (r->timestampHist[i + 1] - r->timestampHist[i] != step) return;
  }
  if (r->farEndRFC3551Compliant && step == 2 * payloadLength) {
    r->farEndRFC3551Compliant = false;
  } else if (!r->farEndRFC3551Compliant && step == payloadLength) {
    r->farEndRFC3551Compliant = true;
  }
}

// ---- RFC 3550 appendix A.8 ----
void updateJitter(RTPSRVINSTANCEMEM* r, int cls, uint32_t ts) {
  REMOTE_SOURCE_INFO& s = r->remoteSourceInfo;
  RTCP_XR_INFO& xr = s.rtcpXrInfo;
  const bool wideUnit = cls == RTP_PACKET_TYPE_MEDIA && rtpIsWideband16k(r->egressVoiceCodec);
  if (wideUnit != r->transitUnitWideband) {
    r->transitUnitWideband = wideUnit;
    r->transitInitialized = false;
    rtcpXrCloseJitterWindow(&xr);
  }
  const bool xrOn = (r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) != 0;
  const uint32_t arrival = wideUnit ? r->localTimestamp * 2 : r->localTimestamp;
  const int32_t transit = static_cast<int32_t>(arrival - ts);
  if (r->transitInitialized) {
    const int64_t diff = int64_t{transit} - s.transit;
    const uint32_t d = static_cast<uint32_t>(diff < 0 ? -diff : diff);
    s.jitter += d - ((s.jitter + 8) >> 4);
    if (xrOn) {
      const uint64_t sum = uint64_t{xr.jitterSum} + d;
      const uint64_t squared = uint64_t{xr.jitterSquaredSum} + uint64_t{d} * d;
      if (sum <= 0xFFFF && squared <= 0xFFFFFFFFu) {
        xr.jitterSum = static_cast<uint16_t>(sum);
        xr.jitterSquaredSum = static_cast<uint32_t>(squared);
        if (d < xr.jitterMin) xr.jitterMin = static_cast<uint16_t>(d);
        if (d > xr.jitterMax) xr.jitterMax = static_cast<uint16_t>(d > 0xFFFF ? 0xFFFF : d);
        xr.jitterPktsReceived += 1;
      }
    }
  } else if (xrOn) {
    xr.jitterPktsReceived += 1;
  }
  s.transit = transit;
  r->transitInitialized = true;
  stats32Set(r->stats.session.egressRtpJitterHigh, r->stats.session.egressRtpJitterLow, s.jitter >> 4);
}

// The remote source changed: everything learnt about the previous one goes.
void newRemoteSource(RTPSRVINSTANCEMEM* r, uint32_t ssrc) {
  if (r->firstRTPPacketReceived) hsfObdSendStd(HAPI_CODEC_DECFLUSH_CMD, 0, 0);
  r->state.higherRemoteSsrc = static_cast<uint16_t>(ssrc >> 16);
  r->state.lowerRemoteSsrc = static_cast<uint16_t>(ssrc);
  r->stats.session = HAPI_RTP_SESSION_STATS{};
  std::memset(&r->remoteSourceInfo, 0, sizeof(r->remoteSourceInfo));
  r->transitInitialized = false;
  r->firstRTPPacketReceived = false;
  r->egressPreviousTimestampIndex = 0;
  for (RTP_EGRESS_PREV_TIMESTAMP& t : r->egressPreviousTimestamp) t.isTimestampValid = 0;
  r->farEndRFC3551Compliant = true;
  std::memset(r->seqNumHist, 0, sizeof(r->seqNumHist));
  std::memset(r->timestampHist, 0, sizeof(r->timestampHist));
}

// Whether a packet comes from the source that a newcomer replaced, carrying on its own numbering:
// a late packet of it (behind its last played one) or one far past a dropout does not count.
bool resumesDisplacedSource(const RTPSRVINSTANCEMEM* r, uint32_t ssrc, uint16_t seq) {
  const RTP_SOURCE_DISPLACED& d = r->displacedSource;
  return d.valid && d.ssrc == ssrc && static_cast<uint16_t>(seq - d.nextSeq) < RTP_MAX_DROPOUT;
}

// Whether another source has earned the stream: RTP_MIN_SEQUENTIAL packets in sequence while the
// played one was silent for RTP_SOURCE_HOLD_SAMPLES.
bool candidateEarnsStream(RTPSRVINSTANCEMEM* r, uint32_t ssrc, uint16_t seq) {
  RTP_SOURCE_CANDIDATE& c = r->sourceCandidate;
  if (c.sequential != 0 && c.ssrc == ssrc && c.nextSeq == seq) {
    if (c.sequential < RTP_MIN_SEQUENTIAL) ++c.sequential;
  } else {
    c.ssrc = ssrc;
    c.sequential = 1;
  }
  c.nextSeq = static_cast<uint16_t>(seq + 1);
  return c.sequential >= RTP_MIN_SEQUENTIAL && r->samplesSinceSourcePacket >= RTP_SOURCE_HOLD_SAMPLES;
}

// Decides whether a packet's source is the one played. The first source of a session is taken at
// once; another one is on trial until it has sent RTP_MIN_SEQUENTIAL packets in sequence while the
// played one was silent for RTP_SOURCE_HOLD_SAMPLES (a far end that restarts its stream is followed
// after a few packets; a stranger interleaved with a live stream is dropped). The source it
// replaced wins the stream back with its first packet in sequence.
bool acceptSource(RTPSRVINSTANCEMEM* r, uint32_t ssrc, uint16_t seq) {
  if (r->remoteSourceHeld && ssrc == remoteSsrc(r)) {
    r->samplesSinceSourcePacket = 0;
    r->sourceCandidate.sequential = 0;
    return true;
  }
  if (r->remoteSourceHeld) {
    if (resumesDisplacedSource(r, ssrc, seq)) {
      r->displacedSource.valid = false;
    } else if (candidateEarnsStream(r, ssrc, seq)) {
      const uint16_t next = static_cast<uint16_t>(r->remoteSourceInfo.maxSeq + 1);
      r->displacedSource = RTP_SOURCE_DISPLACED{remoteSsrc(r), next, true};
    } else {
      return false;
    }
  }
  if (ssrc != remoteSsrc(r)) newRemoteSource(r, ssrc);
  r->remoteSourceHeld = true;
  r->samplesSinceSourcePacket = 0;
  r->sourceCandidate.sequential = 0;
  return true;
}

// Strips RTP padding: the last byte counts the pad bytes, itself included.
bool stripPadding(RTPSRVINSTANCEMEM* r, const uint8_t* packet, unsigned length, unsigned& payloadLength) {
  if ((packet[0] & 0x20) == 0) return true;
  const unsigned pad = packet[length - 1];
  if (payloadLength == 0 || pad >= length || pad >= payloadLength || pad == 0) {
    rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
    return false;
  }
  payloadLength -= pad;
  return true;
}

void rememberTimestamp(RTPSRVINSTANCEMEM* r, uint16_t ts) {
  r->egressPreviousTimestampIndex ^= 1;
  r->egressPreviousTimestamp[r->egressPreviousTimestampIndex] = RTP_EGRESS_PREV_TIMESTAMP{ts, 1};
}

bool seenTimestamp(const RTPSRVINSTANCEMEM* r, uint16_t ts) {
  for (const RTP_EGRESS_PREV_TIMESTAMP& t : r->egressPreviousTimestamp) {
    if (t.isTimestampValid && t.timestamp == ts) return true;
  }
  return false;
}

void singlePayload(RTPSRVINSTANCEMEM* r, int cls, uint8_t* packet, unsigned length, unsigned headerLength,
                   uint32_t ts, uint16_t seq) {
  unsigned payloadLength = length - headerLength;
  if (!stripPadding(r, packet, length, payloadLength)) return;
  auto* h = reinterpret_cast<HAPI_PKT_EGRESS_HDR*>(packet + headerLength - 8);
  h->payloadLength = static_cast<uint16_t>(payloadLength);
  h->payloadOffset = 8;
  h->payloadTimeStampLow = static_cast<uint16_t>(ts);
  if (!convert2HapiFormat(r, cls, h)) return;
  if (cls == RTP_PACKET_TYPE_TONE) {
    const unsigned code = h->payloadID & 0xFF;
    const unsigned digit = reinterpret_cast<HAPI_PKT_TONEPAYLOAD*>(h + 1)->digitpwrlevel >> 8;
    const bool events = (r->regs.configFlags & HAPI_RTP_QOS_EVENT_ENABLE_MASK) != 0;
    if ((code == HAPI_PKT_TC_DTMF_ON || code == HAPI_PKT_TC_MFR1_ON) && !r->egressToneState) {
      r->egressToneState = true;
      if (events) hsfObdSendStd(HAPI_RTP_EGRESS_DTMF_EVT, 1, static_cast<uint16_t>(digit));
    } else if ((code == HAPI_PKT_TC_DTMF_OFF || code == HAPI_PKT_TC_MFR1_OFF) && r->egressToneState) {
      r->egressToneState = false;
      if (events) hsfObdSendStd(HAPI_RTP_EGRESS_DTMF_EVT, 0, static_cast<uint16_t>(digit));
    }
    if (rtpIsG722(r->egressVoiceCodec))
      h->payloadTimeStampLow = static_cast<uint16_t>(h->payloadTimeStampLow >> 1);
  }
  clearEgressError(r);
  if (!deliveryDisabled(r)) {
    if (!deliver(r, h, ts, true)) return;
    meanAbsoluteJitter(r, seq);
  }
  countBytes(r, payloadLength);
}

// One redundant or primary block of an RFC 2198 packet, copied into its own packet.
void deliverBlock(RTPSRVINSTANCEMEM* r, unsigned pt, const uint8_t* data, unsigned length, uint16_t ts) {
  const int cls = mapPacketType(r, pt);
  if (cls == RTP_PACKET_TYPE_NO_PROFILE || cls == RTP_PACKET_TYPE_RFC2198) {
    countDiscarded(r);
    return;
  }
  auto* h = static_cast<HAPI_PKT_EGRESS_HDR*>(hsfMemAllocScratch(8 + length + 2));
  if (h == nullptr) return;
  std::memcpy(h + 1, data, length);
  reinterpret_cast<uint8_t*>(h + 1)[length] = 0;
  h->payloadLength = static_cast<uint16_t>(length);
  h->payloadOffset = 8;
  h->payloadTimeStampLow = ts;
  if (!convert2HapiFormat(r, cls, h)) return;
  if (!deliveryDisabled(r) && !deliver(r, h, ts, false)) return;
  countBytes(r, length);
}

void redundantPayload(RTPSRVINSTANCEMEM* r, const uint8_t* packet, unsigned length, unsigned headerLength,
                      uint32_t ts) {
  unsigned payloadLength = length - headerLength;
  if (!stripPadding(r, packet, length, payloadLength)) return;
  const uint8_t* p = packet + headerLength;
  const uint8_t* end = p + payloadLength;
  // Block headers, then the primary's one-byte header; every block must lie inside the payload.
  constexpr unsigned kMaxBlocks = 16;
  uint32_t headers[kMaxBlocks];
  unsigned blocks = 0;
  unsigned dataBytes = 0;
  while (p < end && (p[0] & 0x80)) {
    if (end - p < 4 || blocks == kMaxBlocks) {
      rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
      return;
    }
    headers[blocks++] = get32(p);
    dataBytes += get32(p) & 0x3FF;
    p += 4;
  }
  if (p >= end || unsigned(end - p) < 1 + dataBytes) {
    rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
    return;
  }
  const unsigned primaryType = p[0] & 0x7F;
  const uint8_t* data = p + 1;
  if ((r->regs.configFlags & HAPI_RTP_EGRESS_DROP_REDUNDANT_PAYLOAD_MASK) == 0) {
    for (unsigned i = 0; i < blocks; ++i) {
      const uint16_t blockTs = static_cast<uint16_t>(ts - ((headers[i] >> 10) & 0x3FFF));
      const unsigned blockLength = headers[i] & 0x3FF;
      if (!seenTimestamp(r, blockTs)) {
        rememberTimestamp(r, blockTs);
        deliverBlock(r, (headers[i] >> 24) & 0x7F, data, blockLength, blockTs);
      }
      data += blockLength;
    }
  } else {
    data += dataBytes;
  }
  const unsigned primaryLength = static_cast<unsigned>(end - data);
  rememberTimestamp(r, static_cast<uint16_t>(ts));
  clearEgressError(r);
  deliverBlock(r, primaryType, data, primaryLength, static_cast<uint16_t>(ts));
}

}  // namespace

void rtpEgressPacket(RTPSRVINSTANCEMEM* r, uint8_t* packet, unsigned length, unsigned) {
  r->dataReceivedSinceLastReport = true;
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Add(c.egressRtpPacketsHigh, c.egressRtpPacketsLow, 1);
  if (length < 4) return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
  if ((packet[0] >> 6) != 2) return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_WRONG_VERSION);
  if (length < RTP_HEADER_SIZE) return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);

  // Header, CSRC list and extension must all lie inside the received bytes.
  unsigned headerLength = getRtpHeaderLength(packet, length);
  if (headerLength == 0) return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
  RTP_MIN_HEADER_INFO h = constructRtpHeaderInfo(packet);
  if (directLoopback(r) && encapsulated(r)) {
    if (headerLength + 4 + RTP_HEADER_SIZE > length) {
      return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
    }
    const uint8_t* inner = packet + headerLength + 4;
    const unsigned innerLength = 16 + 4 * (inner[0] & 15);
    if (headerLength + innerLength > length)
      return rejectPacket(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
    const RTP_MIN_HEADER_INFO in = constructRtpHeaderInfo(inner);
    h.pt = in.pt;
    h.sequenceNum = in.sequenceNum;
    h.timestamp = in.timestamp;
    headerLength += innerLength;
  }
  const unsigned payloadLength = length - headerLength;

  if ((r->regs.configFlags & HAPI_RTP_EGRESS_CHECK_FOR_SSRC_COLLISION_MASK) && h.ssrc == localSsrc(r)) {
    hsfObdSendStd(HAPI_RTP_EGRESS_SSRC_COLLISION_EVT, r->state.higherLocalSsrc, r->state.lowerLocalSsrc);
    if (r->dataSentInCurrentSession) {
      if (r->regs.configFlags & HAPI_RTP_INGRESS_GENERATE_RTCP_BYE_PACKET_ENABLE_MASK) r->generateBye = true;
    } else {
      drawLocalSsrc(r);
    }
    countDiscarded(r);
    return;
  }
  if (!acceptSource(r, h.ssrc, h.sequenceNum)) {
    countDiscarded(r);  // RTP_PACKET_TYPE_PROBATION
    return;
  }
  REMOTE_SOURCE_INFO& src = r->remoteSourceInfo;
  // Nothing counted yet (a new source, or a new session with the same one): start the sequence.
  rtpValidateRtpPacket(&src, h.sequenceNum, src.received == 0);

  unsigned pt = h.pt;
  const int cls = mapPacketType(r, pt);
  uint32_t ts = h.timestamp;
  if (rtpIsG722(r->egressVoiceCodec)) {
    watchG722Clock(r, h.sequenceNum, ts, payloadLength);
    if (!r->farEndRFC3551Compliant) ts >>= 1;
  }
  updateJitter(r, cls, ts);
  rtpUpdateCumulativeLostPackets(r);
  if (r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) {
    RTCP_XR_INFO& xr = src.rtcpXrInfo;
    if (!xr.initialized) {
      rtcpXrInitStats(&src, &xr, h.sequenceNum);
    } else {
      const uint32_t arrival =
          rtpIsWideband16k(r->egressVoiceCodec) ? r->localTimestamp * 2 : r->localTimestamp;
      rtcpXrRecordPacket(&xr, h.sequenceNum, arrival, r->regs.rtcpXrReceiptTimesThinning);
    }
  }
  r->firstRTPPacketReceived = true;

  if (mirrorLoopback(r)) {
    queueLoopback(r, packet, length, headerLength);
    return;
  }
  switch (cls) {
    case RTP_PACKET_TYPE_TONE:
    case RTP_PACKET_TYPE_CNG:
    case RTP_PACKET_TYPE_MEDIA:
    case RTP_PACKET_TYPE_VBD: singlePayload(r, cls, packet, length, headerLength, ts, h.sequenceNum); return;
    case RTP_PACKET_TYPE_RFC2198: redundantPayload(r, packet, length, headerLength, ts); return;
    default: countDiscarded(r); return;
  }
}

unsigned getRtpHeaderLength(const uint8_t* packet, unsigned length) {
  if (length < RTP_HEADER_SIZE) return 0;
  unsigned header = RTP_HEADER_SIZE + 4u * (packet[0] & 15);
  if (packet[0] & 0x10) {
    if (header + 4 > length) return 0;
    header += 4 + 4u * get16(packet + header + 2);
  }
  return header > length ? 0 : header;
}

}  // namespace rtpsrv

using namespace rtpsrv;

void rtpEgress(HSFSRVOBJ srvp) {
  auto* r = instanceOf(srvp);
  if (r == nullptr) return;
  if (r->samplesSinceSourcePacket < RTP_SOURCE_HOLD_SAMPLES) r->samplesSinceSourcePacket += tickSamples();
  HSFMSG m{};
  HSF_IBD_MASK mask = 0;
  while ((mask = hsfIbdPeekOrRecv(HSF_IBD_RTP | HSF_IBD_RTCP, &m, 0, HSF_IBD_RECEIVE)) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr) continue;
    const unsigned length = m.ext.length;
    // A copy that we may change in place, with a spare word behind it for the word swaps.
    auto* copy = static_cast<uint8_t*>(hsfMemAllocScratchNoAssert(length + 4));
    if (copy == nullptr) {
      lhapiErrorPrint("rtpEgress: Scratch buffer full. Dropped RTP packet!\n");
      continue;
    }
    std::memcpy(copy, m.ext.bufp, length);
    std::memset(copy + length, 0, 4);
    const bool rtcp = (mask & HSF_IBD_RTCP) != 0 || (length >= 2 && copy[1] >= 200 && copy[1] <= 207);
    if (rtcp) {
      rtcpReceive(r, copy, length);
    } else {
      rtpEgressPacket(r, copy, length, length + 4);
    }
  }
}
