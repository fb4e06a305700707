// RTCP: the control blocks from the other services, the compound report sent once per interval
// (sender or receiver report, SDES, XR, BYE) and the reception of the far end's RTCP.
#include <cstring>

#include "rtp_internal.h"

namespace rtpsrv {

namespace {

struct INTERNAL_AJC_STATS {
  uint16_t discards, firstSeq, lastSeq, decoderInterval, frameDuration, jitterMin, jitterMax, jitterCurrent,
      jbAdaptiveFlag, jbBufferRate, vadCngPlcOptions;
};
static_assert(sizeof(INTERNAL_AJC_STATS) == 22, "jitter-buffer block is 22 bytes");
struct INTERNAL_ECAN_STATS {
  int16_t Lrout, LroutMin, rerl;
};
static_assert(sizeof(INTERNAL_ECAN_STATS) == 6, "echo-canceller block is 6 bytes");
struct INTERNAL_PVE_STATS {
  uint16_t superpacketinterval;
};

constexpr uint16_t kAjcStatsHeader = 0x8840;
constexpr uint16_t kEcanStatsHeader = 0x8841;
constexpr uint16_t kPveStatsHeader = 0x8842;

template <typename T>
bool readBlock(const HSFMSG& m, T* out) {
  if (m.ext.bufp == nullptr || m.ext.length < sizeof(T)) return false;
  std::memcpy(out, m.ext.bufp, sizeof(T));
  return true;
}

}  // namespace

void rtcpReadControlBlocks(RTPSRVINSTANCEMEM* r) {
  HSFMSG m{};
  RTCP_XR_INFO& xr = r->remoteSourceInfo.rtcpXrInfo;
  while (hsfIbdPeekOrRecv(HSF_IBD_CONTROL, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header)) continue;  // blocks come as extended messages
    switch (m.ext.header) {
      case kAjcStatsHeader: {
        INTERNAL_AJC_STATS s{};
        if (!readBlock(m, &s)) break;
        xr.pvePacketsDiscarded += s.discards;
        if (s.decoderInterval != 0) {
          xr.pvePacketsExpected += static_cast<uint16_t>(s.lastSeq - s.firstSeq) / s.decoderInterval;
        }
        xr.frameDuration = s.frameDuration;
        xr.jbJitterMin = s.jitterMin;
        xr.jbJitterMax = s.jitterMax;
        xr.jbJitterCurrent = s.jitterCurrent;
        xr.jbAdaptiveFlag = s.jbAdaptiveFlag;
        xr.jbBufferRate = s.jbBufferRate;
        xr.vadCngPlcOptions = s.vadCngPlcOptions;
        r->stats.session.jitterMin = s.jitterMin;
        r->stats.session.jitterMax = s.jitterMax;
        break;
      }
      case kEcanStatsHeader: {
        INTERNAL_ECAN_STATS s{};
        if (!readBlock(m, &s)) break;
        xr.signalLevel = s.Lrout;
        xr.noiseLevel = s.LroutMin;
        xr.rerl = s.rerl;
        break;
      }
      case kPveStatsHeader: {
        INTERNAL_PVE_STATS s{};
        if (readBlock(m, &s)) r->localPacketInterval = s.superpacketinterval;
        break;
      }
      default: break;
    }
  }
}

}  // namespace rtpsrv
