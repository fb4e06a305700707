// Building one RTP packet from a framework packet: payload type, RFC 3550 header, RFC 4733
// telephone events, RFC 2198 redundancy and the G.726 code-word order.
#include "rtp_build.h"

#include <cstring>

#include "lhapi.h"
#include "rtp_internal.h"
#include "rtp_payload.h"

namespace rtpsrv {

const uint8_t convertMfr1ToRfc2833[15] = {128, 129, 130, 131, 132, 133, 134, 135,
                                          136, 137, 138, 141, 140, 142, 143};

void setRtpMinHeader(uint8_t* out, const RTP_MIN_HEADER_INFO& h) {
  out[0] = static_cast<uint8_t>((h.version << 6) | (h.p << 5) | (h.x << 4) | (h.cc & 15));
  out[1] = static_cast<uint8_t>((h.m << 7) | (h.pt & 0x7F));
  put16(out + 2, h.sequenceNum);
  put32(out + 4, h.timestamp);
  put32(out + 8, h.ssrc);
}

RTP_MIN_HEADER_INFO constructRtpHeaderInfo(const uint8_t* in) {
  RTP_MIN_HEADER_INFO h{};
  h.version = in[0] >> 6;
  h.p = (in[0] >> 5) & 1;
  h.x = (in[0] >> 4) & 1;
  h.cc = in[0] & 15;
  h.m = in[1] >> 7;
  h.pt = in[1] & 0x7F;
  h.sequenceNum = get16(in + 2);
  h.timestamp = get32(in + 4);
  h.ssrc = get32(in + 8);
  return h;
}

namespace {

uint32_t timeStampOf(const HAPI_PKT_HDR* p) {
  return (uint32_t{p->payloadTimeStampHigh} << 16) | p->payloadTimeStampLow;
}
uint8_t* payloadOf(HAPI_PKT_HDR* p) { return reinterpret_cast<uint8_t*>(p + 1); }

void countNoProfile(RTPSRVINSTANCEMEM* r) {
  stats16Inc(r->stats.cumulative.ingressRtpNoProfileDiscardedPackets);
}

// Payload type of a SID code: the entry of the codec it belongs to, else the variable entry.
int sidPayloadType(const uint16_t* map, unsigned code) {
  auto firstOf = [map](unsigned from, unsigned downTo) {
    for (unsigned c = from + 1; c-- > downTo;) {
      const int pt = rtpGetPayloadTypeFromMediaPayloadMap(map, c);
      if (pt != RTP_MAP_NOT_FOUND) return pt;
    }
    return RTP_MAP_NOT_FOUND;
  };
  auto orElse = [](int pt, int other) { return pt != RTP_MAP_NOT_FOUND ? pt : other; };
  switch (code) {
    case HAPI_PKT_VC_GENERIC_SID: return HAPI_RTP_IETF_PT_CNG;
    case HAPI_PKT_VC_G729_SID: return orElse(firstOf(6, 6), firstOf(7, 7));
    case HAPI_PKT_VC_G7231_SID: return orElse(orElse(firstOf(10, 10), firstOf(9, 9)), firstOf(93, 93));
    case HAPI_PKT_VC_AMR_SID: return orElse(firstOf(25, 18), firstOf(92, 92));
    case HAPI_PKT_VC_GSM_EFR_SID: return firstOf(17, 17);
    case HAPI_PKT_VC_AMR_WB_SID: return orElse(firstOf(58, 50), firstOf(94, 94));
    case HAPI_PKT_VC_AMR_OA_SID: return orElse(firstOf(33, 26), firstOf(95, 95));
    case HAPI_PKT_VC_AMR_WB_OA_SID: return orElse(firstOf(67, 59), firstOf(96, 96));
    default: return RTP_MAP_NOT_FOUND;
  }
}

// The variable entry a code falls back on when the map names no payload type for it.
int variableCodeOf(unsigned code) {
  if ((code >= 18 && code <= 25) || code == 84) return HAPI_PKT_VC_GSM_AMR_VARIABLE;
  if ((code >= 26 && code <= 33) || code == 87) return HAPI_PKT_VC_AMR_OA_VARIABLE;
  if ((code >= 50 && code <= 58) || code == 86) return HAPI_PKT_VC_AMR_WB_VARIABLE;
  if ((code >= 59 && code <= 67) || code == 88) return HAPI_PKT_VC_AMR_WB_OA_VARIABLE;
  if (code == 9 || code == 10 || code == 83) return HAPI_PKT_VC_G7231_VARIABLE;
  if (rtpIsOpus(code)) return HAPI_PKT_VC_OPUS_VARIABLE;
  return -1;
}

int mediaPayloadType(RTPSRVINSTANCEMEM* r, unsigned code, unsigned type) {
  if (code == r->ingressVoiceCodec && type == r->ingressPacketType) return r->ingressPayloadType;
  if ((r->regs.configFlags & HAPI_RTP_VBD_V152_ENABLE_MASK) && type == HAPI_PKT_VOICEBANDDATA) {
    r->ingressVoiceCodec = static_cast<uint8_t>(code);
    r->ingressPayloadType = r->vbdPayloadType;
    r->ingressPacketType = HAPI_PKT_VOICEBANDDATA;
    return r->vbdPayloadType;
  }
  int pt = rtpGetPayloadTypeFromMediaPayloadMap(r->regs.mediaPayloadTypeMap, code);
  if (pt == RTP_MAP_NOT_FOUND) {
    const int variable = variableCodeOf(code);
    if (variable >= 0) pt = rtpGetPayloadTypeFromMediaPayloadMap(r->regs.mediaPayloadTypeMap, variable);
  }
  if (pt == RTP_MAP_NOT_FOUND) return RTP_MAP_NOT_FOUND;
  r->ingressVoiceCodec = static_cast<uint8_t>(code);
  r->ingressPayloadType = static_cast<uint8_t>(pt);
  r->ingressPacketType = HAPI_PKT_VOICE;
  return pt;
}

struct Outgoing {
  unsigned payloadType = 0;
  unsigned marker = 0;
  uint32_t timeStamp = 0;          // RTP time stamp to send
  bool timeStampAbsolute = false;  // used as it is, no base added
};

// Rewrites a tone packet as an RFC 4733 payload. Returns false when it is not to be sent.
bool buildTelephoneEvent(RTPSRVINSTANCEMEM* r, HAPI_PKT_HDR* p, Outgoing& out) {
  HAPI_PKT_TONEPAYLOAD tone;
  std::memcpy(&tone, payloadOf(p), sizeof(tone));
  const unsigned c = p->payloadID & 0xFF;
  const unsigned d = tone.digitpwrlevel >> 8;
  const unsigned level = tone.digitpwrlevel & 0xFF;
  const bool wide = rtpIsWideband16k(r->ingressVoiceCodec);
  uint32_t duration = wide ? uint32_t{tone.duration} * 2 : tone.duration;
  unsigned volume = r->regs.nteToneLevel < 64 ? r->regs.nteToneLevel : level;
  unsigned end = 0;
  unsigned event = d;
  if (c == HAPI_PKT_TC_DTMF_ON || c == HAPI_PKT_TC_MFR1_ON) {
    volume &= 63;
  } else if (c == HAPI_PKT_TC_DTMF_OFF || c == HAPI_PKT_TC_MFR1_OFF) {
    end = 1;
  } else if (d <= 15) {
    return false;
  }
  if (c == HAPI_PKT_TC_MFR1_ON || c == HAPI_PKT_TC_MFR1_OFF) {
    if (d >= sizeof(convertMfr1ToRfc2833)) return false;
    event = convertMfr1ToRfc2833[d];
  }
  // Without a telephone-event payload type there is no way to send an event.
  if (!isValidDynamicPayloadType(r->regs.ntePayloadType)) return false;
  if (event > 15) {
    duration = 0;
    out.timeStamp = r->GR303SendEvent ? r->GR303Timestamp : r->localTimestamp;
    out.timeStampAbsolute = true;
    out.marker = (r->GR303SendEvent && r->GR303SendCounter == 2) ? 1 : 0;
  } else {
    if (r->regs2.configFlags2 & HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK) {
      r->triplicateSendTimer = 0;
      return false;
    }
    out.marker = 0;
    if (end == 0) {
      if (r->nextOnIsNewTone) {
        out.marker = 1;
        const uint32_t ts = timeStampOf(p);
        const uint32_t start = wide ? ts * 2 : ts;
        r->toneStartTimeStampHigh = static_cast<uint16_t>(start >> 16);
        r->toneStartTimeStampLow = static_cast<uint16_t>(start);
      }
      r->nextOnIsNewTone = false;
      r->prevToneDuration = static_cast<uint16_t>(duration);
    } else {
      if (r->nextOnIsNewTone) {
        duration = r->prevToneDuration;
      } else {
        r->prevToneDuration = static_cast<uint16_t>(duration);
      }
      r->nextOnIsNewTone = true;
    }
    out.timeStamp = (uint32_t{r->toneStartTimeStampHigh} << 16) | r->toneStartTimeStampLow;
  }
  RTP_NTE_PAYLOAD nte{};
  nte.event = static_cast<uint8_t>(event);
  nte.endVolume = static_cast<uint8_t>((end << 7) | (volume & 63));
  put16(nte.duration, static_cast<uint16_t>(duration));
  std::memcpy(payloadOf(p), &nte, sizeof(nte));
  p->payloadLength = sizeof(nte);
  out.payloadType = r->regs.ntePayloadType;
  return true;
}

// The redundant blocks that go with this packet, oldest first.
unsigned redundantSlots(const RTPSRVINSTANCEMEM* r, uint32_t timeStamp, unsigned* slots) {
  unsigned count = 0;
  const unsigned idx = r->previousPacketInfoIndex;
  const RTP_RFC2198_INFO* ring = r->IngressPreviousPacketRfc2198Info;
  if (!ring[idx].isPayloadValid) return 0;
  const unsigned levels = r->regs.rfc2198RedundancyLevels;
  const unsigned order[2] = {(idx + 1) % RTP_RFC2198_SLOTS, idx};
  for (unsigned k = 0; k < 2; ++k) {
    const unsigned s = order[k];
    if (!ring[s].isPayloadValid) continue;
    // Older slots beyond the configured level are left out.
    if (k == 0 && levels < 2) continue;
    if (levels == 0) continue;
    // RFC 2198 has 10 bits of length and 14 bits of offset: a block that does not fit is left out
    // rather than sent with a wrong length or offset.
    if (ring[s].payloadLength > 0x3FF || timeStamp - ring[s].timestamp > 0x3FFF) continue;
    slots[count++] = s;
  }
  return count;
}

void storeRedundancy(RTPSRVINSTANCEMEM* r, const uint8_t* payload, unsigned length, uint32_t timeStamp,
                     unsigned payloadType) {
  RTP_RFC2198_INFO& slot = r->IngressPreviousPacketRfc2198Info[r->previousPacketInfoIndex];
  if (length > RTP_RFC2198_MAX_PAYLOAD) {
    LHAPI_ASSERT_FAIL();
    slot.isPayloadValid = false;
    return;
  }
  std::memcpy(slot.payloadData, payload, length);
  slot.timestamp = timeStamp;
  slot.payloadLength = static_cast<uint16_t>(length);
  slot.payloadType = static_cast<uint8_t>(payloadType);
  slot.isPayloadValid = true;
}

}  // namespace
}  // namespace rtpsrv

using namespace rtpsrv;

int generateAndSendRtpPacket(RTPSRVINSTANCEMEM* r, HAPI_PKT_HDR* p) {
  if (r->regs2.configFlags2 & HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK) return 0;
  Outgoing out;
  out.marker = r->isLastPacketSid ? 1 : 0;
  r->isLastPacketSid = false;
  bool redundancy = (r->regs.configFlags & HAPI_RTP_INGRESS_RFC2198_ENABLE_MASK) != 0;
  unsigned type = p->payloadID >> 8;
  const unsigned code = p->payloadID & 0xFF;
  bool media = false;
  switch (type) {
    case HAPI_PKT_SID: {
      const int pt = sidPayloadType(r->regs.mediaPayloadTypeMap, code);
      if (pt == RTP_MAP_NOT_FOUND) {
        countNoProfile(r);
        return 0;
      }
      if (r->regs.configFlags & HAPI_RTP_QOS_EVENT_ENABLE_MASK) hsfObdSendStd(HAPI_RTP_SID_INGRESS_EVT, 0, 0);
      if (code == HAPI_PKT_VC_GENERIC_SID && p->payloadLength > 0) {
        // The noise level is a 7-bit value: it saturates rather than wrapping into garbage.
        uint8_t& level = payloadOf(p)[0];
        level = static_cast<uint8_t>(level + 6 > 127 ? 127 : level + 6);
      }
      out.payloadType = static_cast<unsigned>(pt);
      out.marker = 0;
      r->isLastPacketSid = true;
      break;
    }
    case HAPI_PKT_TONE:
      if (p->payloadLength < sizeof(HAPI_PKT_TONEPAYLOAD) || !buildTelephoneEvent(r, p, out)) {
        if (p->payloadLength < sizeof(HAPI_PKT_TONEPAYLOAD)) countNoProfile(r);
        return 0;
      }
      break;
    case HAPI_PKT_PCMCLEAR: p->payloadID = (HAPI_PKT_PCMCLEAR << 8) | HAPI_PKT_VC_PCM_CLEAR; [[fallthrough]];
    case HAPI_PKT_VOICEBANDDATA:
      if (r->regs.configFlags & HAPI_RTP_VBD_V152_ENABLE_MASK) {
        redundancy = (r->regs.configFlags & HAPI_RTP_VBD_V152_INGRESS_RFC2198_ENABLE_MASK) != 0;
      }
      [[fallthrough]];
    case HAPI_PKT_VOICE: {
      if (r->triplicateSendTimer != 0 || r->GR303SendCounter != 0) return 0;
      const int pt = mediaPayloadType(r, p->payloadID & 0xFF, type);
      if (pt == RTP_MAP_NOT_FOUND) {
        countNoProfile(r);
        return 0;
      }
      out.payloadType = static_cast<unsigned>(pt);
      media = true;
      break;
    }
    case HAPI_PKT_LOOPBACK:
      out.payloadType = r->regs.rtpLoopbackPayloadType & 0x7F;
      out.marker = (r->regs.rtpLoopbackConfigFlags & HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK)
                       ? 0
                       : (p->payloadID >> 7) & 1;
      break;
    default: countNoProfile(r); return 0;
  }

  // ---- header ----
  const uint32_t pts = timeStampOf(p);
  uint32_t T = out.timeStampAbsolute ? out.timeStamp
                                     : baseTimestamp(r) + (type == HAPI_PKT_TONE ? out.timeStamp : pts);
  if (media && rtpIsG722(p->payloadID & 0xFF) && !r->farEndRFC3551Compliant) T *= 2;
  if (pts != 0) {
    r->localTimestamp = T;
    if (r->state.bNewBaseTimeStampSet) {
      r->transitInitialized = false;
      rtcpXrCloseJitterWindow(&r->remoteSourceInfo.rtcpXrInfo);
      r->state.bNewBaseTimeStampSet = 0;
    }
  }
  RTP_MIN_HEADER_INFO h{};
  h.version = 2;
  h.m = out.marker;
  h.sequenceNum = r->state.sequenceNum;
  h.timestamp = T;
  h.ssrc = localSsrc(r);

  const unsigned length = p->payloadLength;
  uint8_t* payload = payloadOf(p);

  // ---- redundancy ----
  unsigned slots[2];
  unsigned blocks = 0;
  unsigned redundantBytes = 0;
  if (redundancy) {
    if (!r->prevRfc2198Enabled) {
      r->previousPacketInfoIndex = 0;
      for (RTP_RFC2198_INFO& slot : r->IngressPreviousPacketRfc2198Info) slot.isPayloadValid = false;
    }
    r->prevRfc2198Enabled = true;
    const bool ringStarted = r->IngressPreviousPacketRfc2198Info[r->previousPacketInfoIndex].isPayloadValid;
    if (ringStarted && r->regs.rfc2198RedundancyLevels != 0) {
      blocks = redundantSlots(r, T, slots);
      redundantBytes = 1;  // primary header
      for (unsigned k = 0; k < blocks; ++k) {
        redundantBytes += 4 + r->IngressPreviousPacketRfc2198Info[slots[k]].payloadLength;
      }
    }
  } else {
    r->prevRfc2198Enabled = false;
  }

  const unsigned total = RTP_HEADER_SIZE + redundantBytes + length;
  auto* buffer = static_cast<uint8_t*>(hsfMemAllocScratch(total + r->packetExpandEnd + 2));
  if (buffer == nullptr) return 0;
  h.pt = redundantBytes != 0 ? (r->regs.rfc2198PayloadType & 0x7F) : out.payloadType;
  setRtpMinHeader(buffer, h);
  uint8_t* w = buffer + RTP_HEADER_SIZE;
  if (redundantBytes != 0) {
    for (unsigned k = 0; k < blocks; ++k) {
      const RTP_RFC2198_INFO& s = r->IngressPreviousPacketRfc2198Info[slots[k]];
      put32(w, 0x80000000u | (uint32_t{s.payloadType} & 0x7F) << 24 | ((T - s.timestamp) & 0x3FFF) << 10 |
                   (s.payloadLength & 0x3FFu));
      w += 4;
    }
    *w++ = static_cast<uint8_t>(out.payloadType & 0x7F);
    for (unsigned k = 0; k < blocks; ++k) {
      const RTP_RFC2198_INFO& s = r->IngressPreviousPacketRfc2198Info[slots[k]];
      std::memcpy(w, s.payloadData, s.payloadLength);
      w += s.payloadLength;
    }
    // The ring moves on to the slot after the newest block, which this packet now takes.
    r->previousPacketInfoIndex = static_cast<uint16_t>((r->previousPacketInfoIndex + 1) % RTP_RFC2198_SLOTS);
  }
  if (redundancy) storeRedundancy(r, payload, length, T, out.payloadType);
  std::memcpy(w, payload, length);
  if (r->regs2.configFlags2 & HAPI_RTP_G726_ANNEX_E_ENABLE_MASK) {
    G726_I366_2_Annex_E_encode(w, length, r->ingressVoiceCodec);
  }
  r->state.sequenceNum = static_cast<uint16_t>(r->state.sequenceNum + 1);
  hsfIbdSendExt(HSF_IBD_RTP, HAPI_NET_INGRESSRTPPKT_EVT, static_cast<uint16_t>(total), buffer);

  const uint32_t counted = total - RTP_HEADER_SIZE + r->regs.rtpSecHeaderSize;
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Add(c.ingressRtpPacketsHigh, c.ingressRtpPacketsLow, 1);
  stats32Add(c.ingressRtpBytesHigh, c.ingressRtpBytesLow, counted);
  HAPI_RTP_LOCAL_SESSION_STATS& l = r->stats.sessionLocal;
  stats32Add(l.ingressRtpPacketsHigh, l.ingressRtpPacketsLow, 1);
  stats32Add(l.ingressRtpBytesHigh, l.ingressRtpBytesLow, counted);
  r->dataSentSincePrevReport = r->dataSentSinceLastReport;
  r->dataSentSinceLastReport = true;
  r->dataSentInCurrentSession = true;
  return 1;
}
