// The compound RTCP report: its timing, the sender or receiver report with its report block, SDES
// with CNAME and one rotating item, RTCP XR and BYE.
#include <cstring>

#include "lhapi.h"
#include "rtcp.h"
#include "rtp_internal.h"

namespace rtpsrv {

void rtcpNtpNow(uint32_t* seconds, uint32_t* fraction) {
  uint32_t s = 0;
  uint32_t us = 0;
  rtpHostSources.ntpTimeGet(&s, &us);
  *seconds = s;
  // 2^32 / 10^6 per microsecond, in 64 bits: microseconds x 4295 would pass 2^32 near 1 s.
  *fraction = static_cast<uint32_t>((uint64_t{us % 1000000u} << 32) / 1000000u);
}

uint32_t rtpGetLocalTimeIn_1_Over_65536_Seconds_Unit() {
  uint32_t seconds = 0;
  uint32_t fraction = 0;
  rtcpNtpNow(&seconds, &fraction);
  return (seconds << 16) | (fraction >> 16);
}

void generateRtcpCommonHeader(uint8_t* buffer, unsigned lengthWords, unsigned count, unsigned type) {
  buffer[0] = static_cast<uint8_t>(0x80 | (count & 31));
  buffer[1] = static_cast<uint8_t>(type);
  put16(buffer + 2, static_cast<uint16_t>(lengthWords));
}

RtcpLoss rtpEstimateLoss(REMOTE_SOURCE_INFO* s) {
  RtcpLoss loss{};
  const uint32_t expected = (uint32_t{s->cycles} << 16) + s->maxSeq + 1 - s->baseSeq;
  int64_t lost = int64_t{expected} - int64_t{s->received};
  if (lost > 8388607) lost = 8388607;
  if (lost < -8388608) lost = -8388608;
  loss.cumulative = static_cast<int32_t>(lost);
  const uint32_t expectedInterval = expected - s->expectedPrior;
  const uint32_t receivedInterval = s->received - s->receivedPrior;
  s->expectedPrior = expected;
  s->receivedPrior = s->received;
  const int64_t lostInterval = int64_t{expectedInterval} - int64_t{receivedInterval};
  loss.fraction = (expectedInterval == 0 || lostInterval <= 0)
                      ? 0
                      : static_cast<uint8_t>((static_cast<uint64_t>(lostInterval) << 8) / expectedInterval);
  return loss;
}

namespace {

constexpr unsigned kBufferWithXr = 3368;
constexpr unsigned kBufferWithoutXr = 636;

// Sender or receiver report; returns the bytes written.
unsigned buildReport(RTPSRVINSTANCEMEM* r, uint8_t* out) {
  const bool sender = r->dataSentSinceLastReport || r->dataSentSincePrevReport;
  const bool block = r->dataReceivedSinceLastReport;
  REMOTE_SOURCE_INFO& src = r->remoteSourceInfo;
  const RtcpLoss loss = rtpEstimateLoss(&src);
  r->stats.session.egressRtpLossFraction = loss.fraction;
  r->stats.session.localSSRC = localSsrc(r);
  unsigned n = 4;
  put32(out + n, localSsrc(r));
  n += 4;
  if (sender) {
    uint32_t seconds = 0;
    uint32_t fraction = 0;
    rtcpNtpNow(&seconds, &fraction);
    put32(out + n, seconds);
    put32(out + n + 4, fraction);
    const uint32_t ts = rtpIsWideband16k(r->egressVoiceCodec) ? r->localTimestamp * 2 : r->localTimestamp;
    put32(out + n + 8, ts);
    const HAPI_RTP_LOCAL_SESSION_STATS& l = r->stats.sessionLocal;
    put32(out + n + 12, stats32Get(l.ingressRtpPacketsHigh, l.ingressRtpPacketsLow));
    put32(out + n + 16, stats32Get(l.ingressRtpBytesHigh, l.ingressRtpBytesLow));
    n += 20;
  }
  if (block) {
    put32(out + n, remoteSsrc(r));
    put32(out + n + 4, (uint32_t{loss.fraction} << 24) | (static_cast<uint32_t>(loss.cumulative) & 0xFFFFFF));
    put32(out + n + 8, (uint32_t{src.cycles} << 16) | src.maxSeq);
    put32(out + n + 12, src.jitter >> 4);
    put32(out + n + 16, src.lsrReceivedInSenderReport);
    put32(out + n + 20, src.SenderReportArrivalTime != 0
                            ? rtpGetLocalTimeIn_1_Over_65536_Seconds_Unit() - src.SenderReportArrivalTime
                            : 0);
    n += 24;
  }
  generateRtcpCommonHeader(out, n / 4 - 1, block ? 1 : 0,
                           sender ? HAPI_RTP_RTCP_PACKET_TYPE_SR : HAPI_RTP_RTCP_PACKET_TYPE_RR);
  return n;
}

// The n-th set bit of a mask, counting from bit 0.
unsigned nthSetBit(uint16_t mask, unsigned n) {
  for (unsigned bit = 0; bit < 16; ++bit) {
    if ((mask >> bit) & 1) {
      if (n == 0) return bit;
      --n;
    }
  }
  return 0;
}

// The item that goes with CNAME in this report, 0 for none.
unsigned secondSdesItem(const RTPSRVINSTANCEMEM* r) {
  const unsigned n = r->stats.cumulative.ingressRtcpPackets;
  if (n % 3 != 0) return 0;
  const unsigned k = n / 3;
  const unsigned count = r->sdesOtherItemCount;
  if (r->regs.nameLength == 0) return count == 0 ? 0 : nthSetBit(r->sdesOtherItems, k % count);
  if (k % 8 != 0 || count == 0) return 2;
  return nthSetBit(r->sdesOtherItems, (k >> 3) % count);
}

unsigned putItem(const RTPSRVINSTANCEMEM* r, uint8_t* out, unsigned type) {
  uint16_t length = 0;
  const uint8_t* text = sdesItemText(r->regs, type, &length);
  if (text == nullptr) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  out[0] = static_cast<uint8_t>(type);
  out[1] = static_cast<uint8_t>(length);
  std::memcpy(out + 2, text, length);
  return 2u + length;
}

unsigned buildSdes(RTPSRVINSTANCEMEM* r, uint8_t* out) {
  unsigned n = 4;
  put32(out + n, localSsrc(r));
  n += 4;
  n += putItem(r, out + n, 1);
  const unsigned second = secondSdesItem(r);
  if (second >= 2 && second <= 8) {
    n += putItem(r, out + n, second);
  } else if (second != 0) {
    LHAPI_ASSERT_FAIL();
  }
  // At least one zero byte ends the list, then zeros to the next word.
  do {
    out[n++] = 0;
  } while (n % 4 != 0);
  generateRtcpCommonHeader(out, n / 4 - 1, 1, HAPI_RTP_RTCP_PACKET_TYPE_SDES);
  return n;
}

unsigned buildBye(const RTPSRVINSTANCEMEM* r, uint8_t* out) {
  generateRtcpCommonHeader(out, 1, 1, HAPI_RTP_RTCP_PACKET_TYPE_BYE);
  put32(out + 4, localSsrc(r));
  return 8;
}

void sendReport(RTPSRVINSTANCEMEM* r) {
  const bool xrOn = (r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) != 0;
  const unsigned room = (xrOn ? kBufferWithXr : kBufferWithoutXr) + r->packetExpandEnd;
  auto* out = static_cast<uint8_t*>(hsfMemAllocScratchNoAssert(room));
  if (out == nullptr) return;
  if (reinterpret_cast<uintptr_t>(out) & 3) LHAPI_ASSERT_FAIL();
  std::memset(out, 0, room);
  unsigned n = buildReport(r, out);
  n += buildSdes(r, out + n);
  if (xrOn) {
    n += rtcpXrBuild(r, out + n);
    stats16Inc(r->stats.cumulative.ingressRtcpXrPackets);
  }
  if (r->generateBye && r->dataSentInCurrentSession) {
    n += buildBye(r, out + n);
    if ((r->regs.configFlags & HAPI_RTP_USE_USER_DEFINED_SSRC_MASK) == 0) drawLocalSsrc(r);
    r->generateBye = false;
  }
  r->dataSentSincePrevReport = r->dataSentSinceLastReport;
  r->dataSentSinceLastReport = false;
  r->dataReceivedSinceLastReport = false;
  hsfIbdSendExt(HSF_IBD_RTCP, HAPI_NET_INGRESSRTCPPKT_EVT, static_cast<uint16_t>(n), out);
  stats16Inc(r->stats.cumulative.ingressRtcpPackets);
  r->dataSentInCurrentSession = true;
  if (r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK) {
    hsfObdSendExt(HAPI_RTP_INGRESS_RTCP_REPORT_EVT, static_cast<uint16_t>(n), out);
  }
}

void reloadTimer(RTPSRVINSTANCEMEM* r, uint16_t tickMs) {
  if (r->rtcpSendTriggerTimer == 0) {
    const uint16_t interval = r->regs.rtcpPacketInterval;
    r->rtcpSendTriggerTimer = interval > tickMs ? static_cast<uint16_t>(interval - tickMs) : 0;
    if (r->rtcpSendTriggerTimer != 0 &&
        (r->regs.configFlags & HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK)) {
      rtpHostSources.rand16();  // the first draw is not used
      const uint32_t rnd = rtpHostSources.rand16();
      r->rtcpSendTriggerTimer =
          static_cast<uint16_t>((uint32_t{r->rtcpSendTriggerTimer} * ((rnd & 0x7FFF) + 16383)) >> 15);
    }
  }
  r->newLocalCname = false;
}

}  // namespace

void rtcpIngressTick(RTPSRVINSTANCEMEM* r, uint16_t tick) {
  if (r->state.mode != 1 && !r->generateBye) return;
  if ((r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_PACKETS_ENABLE_MASK) == 0 ||
      r->regs.rtcpPacketInterval == 0) {
    return;
  }
  const uint16_t tickMs = static_cast<uint16_t>(tick >> 3);
  if (r->rtcpSendTriggerTimer != 0 && !r->generateBye && !r->newLocalCname) {
    r->rtcpSendTriggerTimer =
        r->rtcpSendTriggerTimer > tickMs ? static_cast<uint16_t>(r->rtcpSendTriggerTimer - tickMs) : 0;
    RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
    // The XR window closes 200 ms before the report, so the report describes a settled window.
    if ((r->regs.configFlags & HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK) && xr.initialized &&
        r->rtcpSendTriggerTimer >= 200 && r->rtcpSendTriggerTimer < 200 + tickMs) {
      xr.endSeq = xr.lastSeqNum;
      rtcpXrCloseJitterWindow(&xr);
    }
    return;
  }
  sendReport(r);
  reloadTimer(r, tickMs);
}

}  // namespace rtpsrv
