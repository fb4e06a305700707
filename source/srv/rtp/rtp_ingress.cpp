// The service's ingress block, once per tick: the codec service's packets become RTP (with tone
// repetition, GR-303 signalling and looped-back packets), then RTCP runs.
#include <cstring>

#include "lhapi.h"
#include "rtp_build.h"
#include "rtp_internal.h"
#include "rtp_payload.h"
#include "vhd/vhd_rest_hooks.h"

namespace rtpsrv {
namespace {

alignas(8) const uint8_t no_data[64] = {};

// Circuit-switched pass-through: the codec's packets go out as they are.
void passThrough() {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_CONTROL, &m, 0, HSF_IBD_RECEIVE) != 0) {
  }
  bool forwarded = false;
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr || m.ext.length < sizeof(HAPI_PKT_HDR)) {
      continue;
    }
    const auto* p = static_cast<const HAPI_PKT_HDR*>(m.ext.bufp);
    const unsigned length = p->payloadLength + 8u;
    if (length > m.ext.length) continue;  // a header that claims more than the message holds
    hsfIbdSendExt(HSF_IBD_RTP, HAPI_NET_INGRESSRTPPKT_EVT, static_cast<uint16_t>(length), m.ext.bufp);
    forwarded = true;
  }
  if (!forwarded) hsfIbdSendExt(HSF_IBD_RTP, HAPI_NET_INGRESSRTPPKT_EVT, 0, const_cast<uint8_t*>(no_data));
}

void advanceTimers(RTPSRVINSTANCEMEM* r, uint16_t tick) {
  r->localTimestamp += tick;
  const int16_t ms = static_cast<int16_t>(tick >> 3);
  if (r->repeatToneTimer > 0) r->repeatToneTimer = static_cast<int16_t>(r->repeatToneTimer - ms);
  if (r->regs2.configFlags2 & HAPI_RTP_RFC2833_KEEP_ALIVE_ENABLE_MASK) {
    const unsigned t = r->GR303SendTimer + unsigned(ms);
    r->GR303SendTimer = static_cast<uint16_t>(t > 0xFFFF ? 0xFFFF : t);
  }
}

constexpr uint8_t kGr303EventA = 149;
constexpr uint8_t kGr303EventB = 159;
constexpr uint16_t kGr303KeepAliveMs = 5000;

void gr303Signalling(RTPSRVINSTANCEMEM* r) {
  if ((r->regs2.configFlags2 & HAPI_RTP_GR303_NUERA_ENABLE_MASK) == 0) return;
  if (r->nteEvent == 0) {
    if (r->GR303SendCounter != 0) {
      --r->GR303SendCounter;
      r->GR303SendEvent = true;
    } else if (r->GR303SendTimer >= kGr303KeepAliveMs && r->GR303Event != 0) {
      r->GR303SendTimer = 0;
      r->GR303SendEvent = true;
      r->GR303Timestamp = r->localTimestamp;
    }
  } else if (r->nteEvent == kGr303EventA || r->nteEvent == kGr303EventB) {
    if (r->GR303Event == 0) {
      r->GR303Event = r->nteEvent;
      r->GR303SendTimer = 0;
      r->GR303SendCounter = 0;
    } else if (r->GR303Event != r->nteEvent) {
      r->GR303Event = r->nteEvent;
      r->GR303SendTimer = 0;
      r->GR303SendCounter = 2;
    }
    r->GR303SendEvent = true;
    r->GR303Timestamp = r->localTimestamp;
  }
}

// A tone packet in scratch memory.
HAPI_PKT_HDR* tonePacket(uint16_t payloadID, uint32_t timeStamp, const HAPI_PKT_TONEPAYLOAD& tone) {
  auto* p = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratch(sizeof(HAPI_PKT_HDR) + sizeof(tone)));
  if (p == nullptr) return nullptr;
  p->payloadID = payloadID;
  p->payloadLength = sizeof(tone);
  p->payloadTimeStampHigh = static_cast<uint16_t>(timeStamp >> 16);
  p->payloadTimeStampLow = static_cast<uint16_t>(timeStamp);
  std::memcpy(p + 1, &tone, sizeof(tone));
  return p;
}

void sendRequestedEvent(RTPSRVINSTANCEMEM* r) {
  if (r->nteEvent == 0 && !r->GR303SendEvent) return;
  const uint8_t event = r->GR303SendEvent ? r->GR303Event : r->nteEvent;
  HAPI_PKT_TONEPAYLOAD tone{static_cast<uint16_t>(event << 8), 0};
  HAPI_PKT_HDR* p = tonePacket((HAPI_PKT_TONE << 8) | HAPI_PKT_TC_TONE_NOCODE, 0, tone);
  if (p != nullptr) generateAndSendRtpPacket(r, p);
  r->nteEvent = 0;
}

bool wantsLoopbackMirror(const RTPSRVINSTANCEMEM* r) { return (r->regs.rtpLoopbackConfigFlags & 3) == 3; }

void sendLoopedBack(RTPSRVINSTANCEMEM* r) {
  while (void* block = MEM_QueueDeqDbg(&r->rtpLoopbackQ, __FILE__, __LINE__)) {
    const auto* queued = static_cast<const HAPI_PKT_HDR*>(block);
    const size_t bytes = sizeof(HAPI_PKT_HDR) + queued->payloadLength;
    auto* p = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratch(bytes + 2));
    if (p != nullptr) std::memcpy(p, block, bytes);
    hsfBmFree(block);
    if (p == nullptr) continue;
    uint32_t now = r->localTimestamp;
    if (rtpIsWideband16k(r->ingressVoiceCodec)) now >>= 1;
    const uint32_t ts = now - baseTimestamp(r);
    p->payloadTimeStampHigh = static_cast<uint16_t>(ts >> 16);
    p->payloadTimeStampLow = static_cast<uint16_t>(ts);
    generateAndSendRtpPacket(r, p);
  }
}

// Tone repetition: remembers the tone and arms the repeats of an end of event.
void noteTone(RTPSRVINSTANCEMEM* r, const HAPI_PKT_HDR* p) {
  HAPI_PKT_TONEPAYLOAD tone;
  std::memcpy(&tone, p + 1, sizeof(tone));
  const uint8_t code = static_cast<uint8_t>(p->payloadID & 0xFF);
  if (code == r->prevToneCode && (tone.digitpwrlevel >> 8) == (r->prevTone.digitpwrlevel >> 8)) {
    if (r->triplicateSendTimer != 0) --r->triplicateSendTimer;
  } else {
    r->prevToneCode = code;
    r->prevTone = tone;
    r->prevToneTimeStampHigh = p->payloadTimeStampHigh;
    r->prevToneTimeStampLow = p->payloadTimeStampLow;
    r->triplicateSendTimer = (code == HAPI_PKT_TC_DTMF_OFF || code == HAPI_PKT_TC_MFR1_OFF) ? 2 : 0;
  }
  r->dontSendRepeatTone = true;
  r->repeatToneTimer = static_cast<int16_t>(r->localPacketInterval >> 3);
}

void sendLocalPackets(RTPSRVINSTANCEMEM* r) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr || m.ext.length < sizeof(HAPI_PKT_HDR)) {
      continue;
    }
    auto* p = static_cast<HAPI_PKT_HDR*>(m.ext.bufp);
    // The payload must lie inside the message (its length rounded up to whole words).
    if (sizeof(HAPI_PKT_HDR) + p->payloadLength > m.ext.length) {
      stats16Inc(r->stats.cumulative.ingressRtpNoProfileDiscardedPackets);
      continue;
    }
    if (wantsLoopbackMirror(r) &&
        !((r->regs.rtpLoopbackConfigFlags & HAPI_RTP_LOOPBACK_START_MASK) && !r->firstRTPPacketReceived)) {
      continue;
    }
    const unsigned type = p->payloadID >> 8;
    const unsigned code = p->payloadID & 0xFF;
    if (type == HAPI_PKT_VOICE || type == HAPI_PKT_VOICEBANDDATA) {
      uint32_t ts = (uint32_t{p->payloadTimeStampHigh} << 16) | p->payloadTimeStampLow;
      if (rtpIsOpus(code)) {
        ts *= 6;
      } else if (rtpIsWideband16k(code)) {
        ts *= 2;
      }
      p->payloadTimeStampHigh = static_cast<uint16_t>(ts >> 16);
      p->payloadTimeStampLow = static_cast<uint16_t>(ts);
    }
    // Every payload, byte-stream codecs' included, goes from the engine's words to network order.
    if (type == HAPI_PKT_VOICE || type == HAPI_PKT_SID || type == HAPI_PKT_VOICEBANDDATA) {
      // An odd payload's last byte pairs with the pad byte of the word-rounded message.
      if (p->payloadLength & 1 && sizeof(HAPI_PKT_HDR) + p->payloadLength + 1 > m.ext.length) {
        stats16Inc(r->stats.cumulative.ingressRtpNoProfileDiscardedPackets);
        continue;
      }
      swapBytes(reinterpret_cast<uint8_t*>(p + 1), p->payloadLength);
    }
    if (type == HAPI_PKT_TONE && (r->regs2.configFlags2 & HAPI_RTP_TONE_TRIPLICATE_REDUNDANCY_MASK) &&
        p->payloadLength >= sizeof(HAPI_PKT_TONEPAYLOAD)) {
      noteTone(r, p);
    }
    generateAndSendRtpPacket(r, p);
  }
}

void repeatTone(RTPSRVINSTANCEMEM* r) {
  if (r->repeatToneTimer >= 1 || r->triplicateSendTimer == 0 || r->dontSendRepeatTone) return;
  const uint32_t ts = (uint32_t{r->prevToneTimeStampHigh} << 16) | r->prevToneTimeStampLow;
  HAPI_PKT_HDR* p =
      tonePacket(static_cast<uint16_t>((HAPI_PKT_TONE << 8) | r->prevToneCode), ts, r->prevTone);
  if (p == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  generateAndSendRtpPacket(r, p);
  --r->triplicateSendTimer;
  r->repeatToneTimer = static_cast<int16_t>(r->localPacketInterval >> 3);
}

}  // namespace
}  // namespace rtpsrv

using namespace rtpsrv;

void rtpIngress(HSFSRVOBJ srvp) {
  auto* r = instanceOf(srvp);
  if (r == nullptr) return;
  if (r->manageCSCall) {
    passThrough();
    return;
  }
  const uint16_t tick = tickSamples();
  advanceTimers(r, tick);
  if (r->resetStats) {
    r->stats = HAPI_RTP_STATS{};
    r->resetStats = false;
  }
  r->dontSendRepeatTone = false;
  rtcpReadControlBlocks(r);
  r->GR303SendEvent = false;
  gr303Signalling(r);
  sendRequestedEvent(r);
  if (wantsLoopbackMirror(r)) sendLoopedBack(r);
  sendLocalPackets(r);
  repeatTone(r);
  rtcpIngressTick(r, tick);
}

namespace {

// An idle run of either block changes only the sample clock: no RTCP session, no event, tone
// repeat, GR-303 signal or loopback pending, no pass-through, the source hold long over. What
// the blocks take from the queues is the framework's to see: a channel with queued data runs.
bool rtpIdle(const RTPSRVINSTANCEMEM* r, HAPI_DIRECTION direction) {
  if (r == nullptr) return false;
  if (direction == HAPI_DIRECTION_EGRESS) return r->samplesSinceSourcePacket >= RTP_SOURCE_HOLD_SAMPLES;
  const uint16_t timed = HAPI_RTP_GR303_NUERA_ENABLE_MASK | HAPI_RTP_RFC2833_KEEP_ALIVE_ENABLE_MASK;
  return !r->manageCSCall && !r->resetStats && !r->dontSendRepeatTone && !r->GR303SendEvent &&
         (r->regs2.configFlags2 & timed) == 0 && r->nteEvent == 0 && r->repeatToneTimer <= 0 &&
         r->triplicateSendTimer == 0 && r->rtpLoopbackQ.headPtr == nullptr && r->state.mode != 1 &&
         !r->generateBye;
}

}  // namespace

uint32_t rtpRestRuns(HSFSRVOBJ srvp, HAPI_DIRECTION direction) {
  return rtpIdle(instanceOf(srvp), direction) ? VHD_REST_UNBOUNDED : 0;
}

void rtpCatchUp(HSFSRVOBJ srvp, const VHD_Skipped& skipped) {
  auto* r = instanceOf(srvp);
  r->localTimestamp += uint32_t{skipped.ingressPeriod} * skipped.ingress;
}
