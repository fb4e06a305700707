// Line state, ring parameters and connection statistics.
#include "hdspLine.h"

#include <atomic>
#include <cstring>

#include "hal/boardHal.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "hdspEcan.h"
#include "hdspVhd.h"
#include "faxr/faxr_regs.h"
#include "net/net_regs.h"
#include "rtpCnx.h"
#include "voiceLog.h"
#include "vrgEndptIdleWd.h"
#include "vrgProv.h"

namespace {

template <typename... A>
void log(VOICE_LOGLEVEL level, const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, level, format, args...);
}

constexpr int kMutedGainDb = -96;

void sendNteToConnections(VRG_ENDPT* e, int event) {
  for (CNXSTATE* c : e->cnx) {
    if (c != nullptr) GenerateNteEvent(c, event);
  }
}

// A line that is not FXO always has a connection record in its first slot once off hook.
void bindFirstSlot(VRG_ENDPT* e) {
  if (e->endptType == EPTYPE_PSTN) return;
  if (e->cnx[0] == nullptr) e->cnx[0] = GetNewSecondaryCnxState(e->dspNum);
  if (e->cnx[0] != nullptr) vrgCnxSetLine(e->cnx[0], e->lineId);
}

uint32_t join(uint16_t high, uint16_t low) { return (static_cast<uint32_t>(high) << 16) | low; }

void CopyRtcpXrVoipMetricsStats(EPVOIPMETRICS* out, const HAPI_RTP_VOIP_METRICS_STATS& in) {
  std::memset(out, 0, sizeof(*out));
  out->uSSRCOfSource = in.uSSRCOfSource;
  out->uLossRate = static_cast<uint8_t>(in.uLossRate);
  out->uDiscardRate = static_cast<uint8_t>(in.uDiscardRate);
  out->uBurstDensity = static_cast<uint8_t>(in.uBurstDensity);
  out->uGapDensity = static_cast<uint8_t>(in.uGapDensity);
  out->uBurstDuration = in.uBurstDuration;
  out->uGapDuration = in.uGapDuration;
  out->uRoundTripDelay = in.uRoundTripDelay;
  out->uEndSystemDelay = in.uEndSystemDelay;
  out->sSignalLevel = static_cast<int8_t>(in.sSignalLevel);
  out->sNoiseLevel = static_cast<int8_t>(in.sNoiseLevel);
  out->sRERL = static_cast<int8_t>(in.sRERL);
  out->uGMin = static_cast<uint8_t>(in.uGMin);
  out->uRFactor = static_cast<uint8_t>(in.uRFactor);
  out->uExtRFactor = static_cast<uint8_t>(in.uExtRFactor);
  out->uMOSLQ = static_cast<uint8_t>(in.uMOSLQ);
  out->uMOSCQ = static_cast<uint8_t>(in.uMOSCQ);
  out->uPLC = static_cast<uint8_t>(in.uPLC);
  out->uJbAdaptive = static_cast<uint8_t>(in.uJbAdaptive);
  out->uJbRate = static_cast<uint8_t>(in.uJbRate);
  out->uJbNominal = in.uJbNominal;
  out->uJbMax = in.uJbMax;
  out->uJbAbsMax = in.uJbAbsMax;
}

}  // namespace

EPSTATUS EndptUpdateCasState(int lineId, EPCAS_EVENT state) {
  VRG_ENDPT* e = GetEndptState(lineId);
  if (e == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Unknown CAS line id %d", lineId);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  const bool gr303 = e->bGR303Support != 0;
  switch (state) {
    case EPCAS_ONHOOK:
      istwEvent(e->lineVhdHdl, ISTW_FORCED_ACTIVE, 0);
      e->offHook.store(0, std::memory_order_relaxed);
      e->earlyOffHook.store(0, std::memory_order_relaxed);
      e->delayOffHook = 0;
      if (gr303) sendNteToConnections(e, RTP_NTE_ONHOOK);
      EcanProcessStm(e, ECANEVT_ONHOOK);
      break;
    case EPCAS_OFFHOOK:
      istwEvent(e->lineVhdHdl, ISTW_FORCED_ACTIVE, 1);
      e->offHook.store(1, std::memory_order_relaxed);
      e->earlyOffHook.store(1, std::memory_order_relaxed);
      e->delayOffHook = 1;
      EcanProcessStm(e, ECANEVT_OFFHOOK);
      bindFirstSlot(e);
      if (gr303 && e->endptType == EPTYPE_FXS) sendNteToConnections(e, RTP_NTE_OFFHOOK);
      break;
    case EPCAS_EARLY_OFFHOOK:
      e->earlyOffHook.store(1, std::memory_order_relaxed);
      hdspVhdSetIngressGain(e->lineVhdHdl, e->txGain);
      EcanProcessStm(e, ECANEVT_OFFHOOK);
      if (gr303 && !e->bPulse2dtmf) sendNteToConnections(e, RTP_NTE_OFFHOOK);
      break;
    case EPCAS_EARLY_ONHOOK:
      e->earlyOffHook.store(0, std::memory_order_relaxed);
      EcanProcessStm(e, ECANEVT_ONHOOK);
      hdspVhdSetIngressGain(e->lineVhdHdl, kMutedGainDb);
      if (gr303 && !e->bPulse2dtmf) sendNteToConnections(e, RTP_NTE_ONHOOK);
      break;
    default:
      // Flash, ring and message-waiting states change nothing on the DSP side; states outside
      // the known ones are ignored.
      break;
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS ProvisionRingParams(VRG_ENDPT* endpt, EPRINGPARAM* ring) {
  const int line = endpt->lineId;
  const int n = endpt->endptNum;
  if (endptProvGetValue(line, EPPROV_PowerRingFrequency, &ring->frequency) != EPSTATUS_SUCCESS) {
    ring->frequency = 20;
    log(VOICE_LOGLEVEL_INFO, "EPT: Using ring frequency of %d Hz for endpt %d", ring->frequency, n);
  }
  if (endptProvGetValue(line, EPPROV_RingWaveform, &ring->waveshape) != EPSTATUS_SUCCESS) {
    ring->waveshape = 0;
    log(VOICE_LOGLEVEL_INFO, "EPT: Using %s ring waveform for endpt %d", "sine", n);
  }
  if (endptProvGetValue(line, EPPROV_RingVoltage, &ring->voltage) != EPSTATUS_SUCCESS) {
    ring->voltage = 50;
    log(VOICE_LOGLEVEL_INFO, "EPT: Using ring voltage of %d VRMS for endpt %d", ring->voltage, n);
  } else if (ring->voltage < 40 || ring->voltage > 57) {
    log(VOICE_LOGLEVEL_WARNING, "EPT: Ring voltage of %d not supported. Using default of %d VRMS for endpt %d",
        ring->voltage, 50, n);
    ring->voltage = 50;
  }
  int highVring = 0;
  if (endptProvGetValue(line, EPPROV_HighVring, &highVring) == EPSTATUS_SUCCESS) {
    if (endptProvGetValue(line, EPPROV_RingDCOffset, &ring->offset) != EPSTATUS_SUCCESS) {
      ring->offset = 25;
    } else if (ring->offset > 24) {
      log(VOICE_LOGLEVEL_WARNING, "EPT: Ring offset of %d not supported. Using default of %d V for endpt %d",
          ring->offset, 25, n);
      ring->offset = 25;
    }
  } else {
    ring->offset = 25;
    log(VOICE_LOGLEVEL_INFO, "EPT: Using ring offset of %d V for endpt %d", ring->offset, n);
  }
  const EPSTATUS last = endptProvGetValue(line, EPPROV_RingOffsetCal, &ring->offsetCal);
  if (last != EPSTATUS_SUCCESS) {
    ring->offsetCal = 0;
    log(VOICE_LOGLEVEL_INFO, "EPT: Default ring offset calibration to %d V for endpt %d", ring->offsetCal, n);
  }
  return last;
}

EPSTATUS SetRingParams(VRG_ENDPT* endpt) {
  const EPSTATUS status = ProvisionRingParams(endpt, &endpt->ringParam);
  const EPRINGPARAM& r = endpt->ringParam;
  boardHalSetRingParms(endpt->endptNum, r.frequency, r.waveshape, r.voltage, r.offset, r.offsetCal);
  return status;
}

EPSTATUS GetConnectionRtpStats(CNXSTATE* cnx, EPZCNXSTATS* out, int reset) {
  if (cnx->voiceMode != VM_ACTIVE || cnx->vhdMode == NETMODE_FAXRELAY) return EPSTATUS_BAD_MODE;
  HAPI_RTP_STATS rtp{};
  int16_t r = hdspSendCmdData(cnx->vhdhdl, hdsp::HAPI_RTP_GETSTATS_EXT_CMD, HAPI_REQID_EXT_CMD, sizeof(rtp), &rtp);
  if (r != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR getting RTP stats for vhd %d, status %d ", cnx->vhdhdl, r);
    return EPSTATUS_BAD_MODE;
  }
  HSZNETVOICESTATS voice{};
  if ((r = hdspVhdGetVoiceStats(cnx->vhdhdl, &voice)) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR getting PVE stats for vhd %d, status %d ", cnx->vhdhdl, r);
    return EPSTATUS_BAD_MODE;
  }
  int jbAvg = 0;
  if ((r = hdspVhdGetAvgJBDelay(cnx->vhdhdl, &jbAvg)) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ENDPT: ERROR getting JB state for vhd %d, status %d \n", cnx->vhdhdl, r);
    return EPSTATUS_BAD_MODE;
  }
  if (reset == 1 && (r = hdspSendCmd(cnx->vhdhdl, hdsp::HAPI_RTP_RESET_STATS_CMD, HAPI_REQID_STD_CMD, 0, 0)) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ENDPT: ERROR resetting RTP stats for vhd %d, status %d \n", cnx->vhdhdl, r);
    return EPSTATUS_BAD_MODE;
  }
  const HAPI_RTP_CUMULATIVE_STATS& c = rtp.cumulative;
  const HAPI_RTP_SESSION_STATS& s = rtp.session;
  *out = EPZCNXSTATS{};
  out->txpkts = join(c.ingressRtpPacketsHigh, c.ingressRtpPacketsLow);
  out->txbytes = join(c.ingressRtpBytesHigh, c.ingressRtpBytesLow);
  out->rxpkts = join(c.egressRtpPacketsHigh, c.egressRtpPacketsLow);
  out->rxbytes = join(c.egressRtpBytesHigh, c.egressRtpBytesLow);
  out->lost = static_cast<int32_t>(join(c.egressRtpCumulativeLostPacketsHigh, c.egressRtpCumulativeLostPacketsLow));
  out->discarded = join(c.egressRtpDiscardedPacketsHigh, c.egressRtpDiscardedPacketsLow);
  out->txRtcpPkts = c.ingressRtcpPackets;
  out->rxRtcpPkts = c.egressRtcpPackets;
  out->txRtcpXrPkts = c.ingressRtcpXrPackets;
  out->rxRtcpXrPkts = c.egressRtcpXrPackets;
  out->MOSLQ = s.MOSlq;
  out->MOSCQ = s.MOScq;
  out->localSSRC = s.localSSRC;
  out->remoteSSRC = s.remoteSSRC;
  out->jitter = join(s.egressRtpJitterHigh, s.egressRtpJitterLow) / 8;
  out->jbMin = static_cast<uint16_t>(s.jitterMin / 8);
  out->jbMax = static_cast<uint16_t>(s.jitterMax / 8);
  out->peakJitter = static_cast<uint16_t>(voice.hsxPVEstats.decoder.peakHoldingTime / 8);
  out->latency = join(s.ingressRtpLatencyHigh, s.ingressRtpLatencyLow) / 16;
  out->peakLatency = static_cast<uint16_t>(join(s.ingressPeakRtpLatencyHigh, s.ingressPeakRtpLatencyLow) / 16);
  out->overRuns = voice.hsxPVEstats.decoder.overrunCount;
  out->underRuns = voice.hsxPVEstats.decoder.ajcUnderrunCount;
  out->jbAvg = static_cast<uint16_t>(jbAvg);
  out->bLocalCollected = s.bLocalCollected ? 1 : 0;
  out->bRemoteCollected = s.bRemoteCollected ? 1 : 0;
  if (s.bLocalCollected) CopyRtcpXrVoipMetricsStats(&out->localVoipMetrics, s.localVoipMetricsStats);
  if (s.bRemoteCollected) CopyRtcpXrVoipMetricsStats(&out->remoteVoipMetrics, s.remoteVoipMetricsStats);
  return EPSTATUS_SUCCESS;
}

// Pages counted by the channel since the last query. The fax relay service clears its page counts
// only when asked to clear all its counters; a count below the last one seen has been cleared and
// counts from zero again.
uint32_t PagesSince(uint16_t now, uint16_t* seen) {
  const uint32_t added = now >= *seen ? now - *seen : now;
  *seen = now;
  return added;
}

EPSTATUS GetConnectionT38Stats(CNXSTATE* cnx, EPZT38CNXSTATS* out) {
  HSZFAXRSTATS fax{};
  if (hdspSendCmdData(cnx->vhdhdl, HAPI_NET_GETFAXSTATS_CMD, HAPI_REQID_EXT_CMD, sizeof(fax), &fax) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: failed to retrieve the faxr stats from the DSP");
    *out = EPZT38CNXSTATS{};
    return EPSTATUS_ERROR;
  }
  cnx->t38param.numFaxPagesRx += PagesSince(fax.egress.hsxNumRxPages, &cnx->faxPagesRxSeen);
  cnx->t38param.numFaxPagesTx += PagesSince(fax.ingress.hsxNumTxPages, &cnx->faxPagesTxSeen);
  out->rxpg = cnx->t38param.numFaxPagesRx;
  out->txpg = cnx->t38param.numFaxPagesTx;
  return EPSTATUS_SUCCESS;
}

void vrgEndptPrintRtpStats(const EPZCNXSTATS* s) {
  // Ingress is what this side sent, egress what it received.
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP ingressRtpPackets                   %u", static_cast<unsigned>(s->txpkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP ingressRtpBytes                     %u", static_cast<unsigned>(s->txbytes));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP egressRtpPackets                    %u", static_cast<unsigned>(s->rxpkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP egressRtpBytes                      %u", static_cast<unsigned>(s->rxbytes));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP lost packets                        %u", static_cast<unsigned>(static_cast<unsigned>(s->lost)));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP discarded packets                   %u", static_cast<unsigned>(s->discarded));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTCP ingress packets                    %u", static_cast<unsigned>(s->txRtcpPkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTCP egress packets                     %u", static_cast<unsigned>(s->rxRtcpPkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTCP XR ingress packets                 %u", static_cast<unsigned>(s->txRtcpXrPkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTCP XR egress packets                  %u", static_cast<unsigned>(s->rxRtcpXrPkts));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP jitter (ms)                         %u", static_cast<unsigned>(s->jitter));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP peak jitter (ms)                    %u", static_cast<unsigned>(s->peakJitter));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP latency                             %u", static_cast<unsigned>(s->latency));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "RTP peak latency                        %u", static_cast<unsigned>(s->peakLatency));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "JB overruns                             %u", static_cast<unsigned>(s->overRuns));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "JB underruns                            %u", static_cast<unsigned>(s->underRuns));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "JB Min (ms)                             %u", static_cast<unsigned>(s->jbMin));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "JB Avg (ms)                             %u", static_cast<unsigned>(s->jbAvg));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ALWAYS, "JB Max (ms)                             %u", static_cast<unsigned>(s->jbMax));
}

void printConnectionParams(const EPZCNXPARAM* p) {
  log(VOICE_LOGLEVEL_NOTICE,
      "EPT: m:%d np:%lu e:%d s:%d cn:%d pf:%d dm:%d ae:%d rtcp-xr:%d rtcp-int:%d rtcp-rnd:%u dr:%d ssrc:0x%08X",
      p->mode, static_cast<unsigned long>(p->namedPhoneEvts), p->echocancel, p->silence, p->comfortNoise,
      p->preserveFaxMode, p->dataMode, p->autoEncoder, p->rtcpXRMode, p->rtcpIntMs,
      static_cast<unsigned>(p->rtcpRandomInt), p->digitRelayType, p->localSsrc);
  const CODECCNXLIST& s = p->cnxParmList.send;
  const CODECCNXLIST& r = p->cnxParmList.recv;
  auto c = [](const CODECCNXLIST& l, int i) { return static_cast<int>(l.codecs[i].type); };
  auto t = [](const CODECCNXLIST& l, int i) { return static_cast<int>(l.codecs[i].rtpPayloadType); };
  log(VOICE_LOGLEVEL_NOTICE, "EPT: send: c: %d %d %d %d %d %d %d %d pt: %d %d %d %d %d %d %d %d num: %d per:%d",
      c(s, 0), c(s, 1), c(s, 2), c(s, 3), c(s, 4), c(s, 5), c(s, 6), c(s, 7), t(s, 0), t(s, 1), t(s, 2), t(s, 3),
      t(s, 4), t(s, 5), t(s, 6), t(s, 7), s.numCodecs, static_cast<int>(s.period[0]));
  log(VOICE_LOGLEVEL_NOTICE, "EPT: recv: c: %d %d %d %d %d %d %d %d pt: %d %d %d %d %d %d %d %d num: %d",
      c(r, 0), c(r, 1), c(r, 2), c(r, 3), c(r, 4), c(r, 5), c(r, 6), c(r, 7), t(r, 0), t(r, 1), t(r, 2), t(r, 3),
      t(r, 4), t(r, 5), t(r, 6), t(r, 7), r.numCodecs);
}

void requestLoopback(VRG_ENDPT* endpt, int on) {
  if (on) {
    endpt->ecanState.currState = ECAN_OFF;
    EcanStateSet(endpt, ECAN_OFF);
    endpt->testMode = TESTMODE_ANALOGLOOPBACK;
  } else {
    endpt->testMode = TESTMODE_NONE;
  }
  boardHalSetAnalogLoopback(endpt->endptNum, on ? 1 : 0);
}

int IsT38Negotiated(const CNXSTATE* cnx) {
  const int dsp = cnx->dspNum >= 0 && cnx->dspNum < VRG_MAX_NUM_DSP ? cnx->dspNum : 0;
  return vrgEndptCap[dsp].codecCap[CODEC_T38] == 1 &&
         (cnx->dataMode == EPDATAMODE_T38 || cnx->dataMode == EPDATAMODE_T38_MUTE) &&
         std::atomic_ref<const uint16_t>(cnx->vhdMode).load(std::memory_order_relaxed) ==
             NETMODE_FAXRELAY;
}

void RtpInit(RTPSTATE* state) {
  state->stats = RTPSTATS{};
  state->rtpCnxId = -1;
  state->pPayload = nullptr;
  state->sendNtePayloadType = state->recvNtePayloadType = 255;
  state->sendRedPayloadType = state->recvRedPayloadType = 255;
  state->redLevel = 0;
}

void resetCodecCap(uint8_t* codecCap) { std::memset(codecCap, 0, CODEC_MAX_TYPES); }
