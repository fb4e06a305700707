// The RTP service's record, its instance set-up, and the host sources of random numbers and time.
#include <cstring>

#include "lhapi.h"
#include "rtp_internal.h"

const HSFSRVARC rtparc = {
    HAPI_RTP_SRV, sizeof(RTPSRVINSTANCEMEM), rtpIOctl, rtpIngress, rtpEgress, rtpSvcInit, nullptr};

RTP_HOST_SOURCES rtpHostSources = {lhapiRtpRand16, lhapiRtpTimeGet, lhapiRtpTimeSet, lhapiRtpNtpTimeGet};

void rtpHostSourcesDefault() {
  rtpHostSources = RTP_HOST_SOURCES{lhapiRtpRand16, lhapiRtpTimeGet, lhapiRtpTimeSet, lhapiRtpNtpTimeGet};
}

namespace rtpsrv {

void drawLocalSsrc(RTPSRVINSTANCEMEM* r) {
  r->state.higherLocalSsrc = rtpHostSources.rand16();
  r->state.lowerLocalSsrc = rtpHostSources.rand16();
  r->stats.sessionLocal = HAPI_RTP_LOCAL_SESSION_STATS{};
}

void clearPayloadTypeCache(RTPSRVINSTANCEMEM* r) {
  r->ingressVoiceCodec = 255;
  r->egressVoiceCodec = 255;
  r->ingressPayloadType = 128;
  r->egressPayloadType = 128;
}

void markXrUninitialised(RTPSRVINSTANCEMEM* r) { r->remoteSourceInfo.rtcpXrInfo.initialized = false; }

uint16_t tickSamples() { return hsfFrmPeriodGet(); }

namespace {

// The part of the set-up that does not touch the registers.
void rtpDeferredInit(RTPSRVINSTANCEMEM* r) {
  r->ingressVoiceCodec = static_cast<uint8_t>(r->regs.mediaPayloadTypeMap[0] & 0xFF);
  r->ingressPayloadType = static_cast<uint8_t>(r->regs.mediaPayloadTypeMap[0] >> 8);
  r->ingressPacketType = HAPI_PKT_VOICE;
  r->egressVoiceCodec = static_cast<uint8_t>(r->regs.mediaEgressPayloadTypeMap[0] & 0xFF);
  r->egressPayloadType = static_cast<uint8_t>(r->regs.mediaEgressPayloadTypeMap[0] >> 8);
  r->GR303SendTimer = 0;
  r->GR303Event = 0;
  r->GR303SendCounter = 0;
  r->GR303SendEvent = false;
  r->state.sequenceNum = rtpHostSources.rand16();
  r->state.higherBaseTimestamp = rtpHostSources.rand16();
  r->state.lowerBaseTimestamp = rtpHostSources.rand16();
  r->state.bNewBaseTimeStampSet = 1;
  drawLocalSsrc(r);
  r->vbdPayloadType = 128;
  r->vbdCodec = 0;
  std::memset(r->seqNumHist, 0, sizeof(r->seqNumHist));
  std::memset(r->timestampHist, 0, sizeof(r->timestampHist));
  r->farEndRFC3551Compliant = true;
  r->majCalcInfo = EGRESS_MAJ_CALCULATION_INFO{};
  r->majCalcInfo.firstPacket = 1;
}

}  // namespace
}  // namespace rtpsrv

using namespace rtpsrv;

HAPIRESULT rtpSvcInit(HSFSRVOBJ srvp) {
  auto* r = instanceOf(srvp);
  if (r == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  std::memset(r, 0, sizeof(*r));
  r->regs = rtpRegsDefault();
  rtpDeferredInit(r);
  r->prevToneCode = 255;
  r->nextOnIsNewTone = true;
  r->regs2 = rtpRegs2Default();
  MEM_InitQueue(&r->rtpLoopbackQ);
  r->loopbackPool = hsfBmInit(r->loopbackPoolMem, sizeof(r->loopbackPoolMem), RTP_LOOPBACK_BLOCK_BYTES);
  return HAPISUCCESS;
}
