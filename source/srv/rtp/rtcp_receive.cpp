// Reception of the far end's RTCP: the remote source, the round trip from its report blocks and
// reference times, its VoIP metrics, BYE; every length and count bounded by what arrived.
#include <cstring>

#include "lhapi.h"
#include "rtcp.h"
#include "rtp_internal.h"

namespace rtpsrv {
namespace {

constexpr unsigned kMaxPackets = 64;
constexpr unsigned kMaxXrBlocks = 7;
constexpr int32_t kMaxLatencySamples = 16000;  // 2 s

void rejectRtcp(RTPSRVINSTANCEMEM* r, uint16_t error) {
  sendEgressError2Host(r, error);
  HAPI_RTP_CUMULATIVE_STATS& c = r->stats.cumulative;
  stats32Add(c.egressRtpDiscardedPacketsHigh, c.egressRtpDiscardedPacketsLow, 1);
}

// A round trip r in 1/65536 s.
void roundTrip(RTPSRVINSTANCEMEM* r, int64_t rtt) {
  if (rtt < 0) rtt = 0;
  const uint64_t ms = (1000 * static_cast<uint64_t>(rtt) + 32768) >> 16;
  r->remoteSourceInfo.rtcpXrInfo.roundTripDelay = static_cast<uint16_t>(ms > 0xFFFF ? 0xFFFF : ms);
  const uint64_t v = static_cast<uint64_t>(rtt);
  const uint64_t samples = (v >> 16) * 8000 + (((v & 0xFFFF) * 8000) >> 16);
  if (samples >= static_cast<uint64_t>(kMaxLatencySamples)) return;
  HAPI_RTP_SESSION_STATS& s = r->stats.session;
  const int32_t s32 = static_cast<int32_t>(samples);
  int32_t latency = static_cast<int32_t>(stats32Get(s.ingressRtpLatencyHigh, s.ingressRtpLatencyLow));
  latency = latency == 0 ? s32 : latency + ((s32 - latency) >> 4);
  stats32Set(s.ingressRtpLatencyHigh, s.ingressRtpLatencyLow, static_cast<uint32_t>(latency));
  const uint32_t peak = stats32Get(s.ingressPeakRtpLatencyHigh, s.ingressPeakRtpLatencyLow);
  if (static_cast<uint32_t>(s32) > peak)
    stats32Set(s.ingressPeakRtpLatencyHigh, s.ingressPeakRtpLatencyLow, s32);
}

// The first report block, when it is about us and carries LSR and DLSR, gives a round trip.
void reportBlock(RTPSRVINSTANCEMEM* r, const uint8_t* block, uint32_t now) {
  if (get32(block) != localSsrc(r)) return;
  const uint32_t lsr = get32(block + 16);
  const uint32_t dlsr = get32(block + 20);
  if (lsr != 0 && dlsr != 0) roundTrip(r, static_cast<int32_t>(now - lsr - dlsr));
}

void senderReport(RTPSRVINSTANCEMEM* r, const uint8_t* p, unsigned length, unsigned count, uint32_t now) {
  if (length < 28) return;
  r->stats.session.remoteSSRC = get32(p + 4);
  // The last sender report's time goes back in our report blocks whether or not it reports on us.
  r->remoteSourceInfo.lsrReceivedInSenderReport = (get32(p + 8) << 16) | (get32(p + 12) >> 16);
  r->remoteSourceInfo.SenderReportArrivalTime = now;
  if (count >= 1 && length >= 28 + 24) reportBlock(r, p + 28, now);
}

void receiverReport(RTPSRVINSTANCEMEM* r, const uint8_t* p, unsigned length, unsigned count, uint32_t now) {
  if (length < 8) return;
  r->stats.session.remoteSSRC = get32(p + 4);
  if (count >= 1 && length >= 8 + 24) reportBlock(r, p + 8, now);
}

void extendedReport(RTPSRVINSTANCEMEM* r, const uint8_t* p, unsigned length, uint32_t now, bool& error) {
  if (length < 8 || get32(p + 4) != remoteSsrc(r)) return;
  stats16Inc(r->stats.cumulative.egressRtcpXrPackets);
  RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  unsigned pos = 8;
  for (unsigned blocks = 0; blocks < kMaxXrBlocks && pos + 4 <= length; ++blocks) {
    const uint8_t* b = p + pos;
    const unsigned bytes = (get16(b + 2) + 1u) * 4;
    if (pos + bytes > length) {
      rejectRtcp(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
      error = true;
      return;
    }
    switch (b[0]) {
      case 7:
        if (bytes >= sizeof(RTCP_XR_VOIP_REPORT)) {
          RTCP_XR_VOIP_REPORT m{};
          m.blockType = b[0];
          m.blockLength = get16(b + 2);
          m.ssrc = get32(b + 4);
          m.lossRate = b[8];
          m.discardRate = b[9];
          m.burstDensity = b[10];
          m.gapDensity = b[11];
          m.burstDuration = get16(b + 12);
          m.gapDuration = get16(b + 14);
          m.roundTripDelay = get16(b + 16);
          m.endSystemDelay = get16(b + 18);
          m.signalLevel = static_cast<int8_t>(b[20]);
          m.noiseLevel = static_cast<int8_t>(b[21]);
          m.rerl = static_cast<int8_t>(b[22]);
          m.gmin = b[23];
          m.rFactor = b[24];
          m.extRFactor = b[25];
          m.mosLq = b[26];
          m.mosCq = b[27];
          m.rxConfig = b[28];
          m.jbNominal = get16(b + 30);
          m.jbMaximum = get16(b + 32);
          m.jbAbsMaximum = get16(b + 34);
          xr.remoteEndSystemDelay = m.endSystemDelay;
          r->stats.session.bRemoteCollected = 1;
          rtcpXrSaveVoipReport(&r->stats.session.remoteVoipMetricsStats, &m);
        }
        break;
      case 4:
        if (bytes >= 12) {
          xr.lrr = (get32(b + 4) << 16) | (get32(b + 8) >> 16);
          xr.dlrr = now;
        }
        break;
      case 1:
      case 2:
      case 3:
      case 5:
      case 6: break;
      default:
        rejectRtcp(r, HAPI_RTP_EGRESS_ERROR_UNKNOWN_RTCP_PACKET_TYPE);
        error = true;
        break;
    }
    pos += bytes;
  }
}

}  // namespace

void rtcpReceive(RTPSRVINSTANCEMEM* r, uint8_t* packet, unsigned length) {
  stats16Inc(r->stats.cumulative.egressRtcpPackets);
  const uint32_t now = rtpGetLocalTimeIn_1_Over_65536_Seconds_Unit();
  bool error = false;
  unsigned pos = 0;
  for (unsigned packets = 0; packets < kMaxPackets && pos < length; ++packets) {
    const uint8_t* p = packet + pos;
    if (length - pos < 4) {
      rejectRtcp(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
      return;
    }
    if ((p[0] >> 6) != 2) {
      sendEgressError2Host(r, HAPI_RTP_EGRESS_ERROR_WRONG_VERSION);
      return;  // the rest is dropped and nothing goes to the host
    }
    const unsigned type = p[1];
    if (type < 200 || type > 207) {
      rejectRtcp(r, HAPI_RTP_EGRESS_ERROR_UNKNOWN_RTCP_PACKET_TYPE);
      error = true;
      break;
    }
    const unsigned bytes = (get16(p + 2) + 1u) * 4;
    if (bytes > length - pos) {
      rejectRtcp(r, HAPI_RTP_EGRESS_ERROR_INVALID_PACKET_LENGTH);
      return;  // a packet that claims more than arrived is not passed on either
    }
    const unsigned count = p[0] & 31;
    switch (type) {
      case HAPI_RTP_RTCP_PACKET_TYPE_SR: senderReport(r, p, bytes, count, now); break;
      case HAPI_RTP_RTCP_PACKET_TYPE_RR: receiverReport(r, p, bytes, count, now); break;
      case HAPI_RTP_RTCP_PACKET_TYPE_BYE:
        if (r->regs.configFlags & HAPI_RTP_EGRESS_ACCEPT_RTCP_BYE_PACKET_ENABLE_MASK) {
          hsfObdSendExt(HAPI_RTP_BYE_EVT, static_cast<uint16_t>(bytes), const_cast<uint8_t*>(p));
        }
        break;
      case HAPI_RTP_RTCP_PACKET_TYPE_XR: extendedReport(r, p, bytes, now, error); break;
      default: break;  // SDES and APP carry nothing the service uses
    }
    pos += bytes;
  }
  if (r->regs.configFlags & HAPI_RTP_EGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK) {
    if (!error) clearEgressError(r);
    hsfObdSendExt(HAPI_RTP_EGRESS_RTCP_REPORT_EVT, static_cast<uint16_t>(length), packet);
  }
}

}  // namespace rtpsrv
