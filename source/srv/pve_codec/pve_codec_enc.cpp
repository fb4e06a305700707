// The codec service's ingress block: encoder changes at superpacket boundaries, tone relay, the
// encoder run over the line's PCM frame, and the once-a-second jitter-buffer control block.
#include <cstring>

#include "lhapi.h"
#include "lsv_math.h"
#include "pve_codec.h"
#include "vhd/vhd_rest_hooks.h"

namespace {

constexpr uint16_t kControlBlockHeader = 0x8840;

bool enabled(const HSZCODECINST* inst) { return inst->ctl.hsxstatus & 1; }
uint16_t currentCode(const HSZCODECENCCTL& e) { return e.hsxcurrentalg & 0xFF; }

void refuse(HSZCODECENCCTL& e, uint16_t reason, uint16_t op2) {
  hsfObdSendStd(HAPI_CODEC_EXCEPTION_EVT, reason, op2);
  e.hsxnewrate = 0xFF;
}

bool isG7231(unsigned code) { return code == 9 || code == 10 || code == 83; }

uint16_t sidCodeOf(unsigned code) {
  if (isG7231(code)) return HAPI_PKT_VC_G7231_SID;
  if ((code >= 6 && code <= 8) || code == 82) return HAPI_PKT_VC_G729_SID;
  if (code == 17 || code == 85) return HAPI_PKT_VC_GSM_EFR_SID;
  if ((code >= 18 && code <= 25) || code == 84) return HAPI_PKT_VC_AMR_SID;
  if ((code >= 26 && code <= 33) || code == 87) return HAPI_PKT_VC_AMR_OA_SID;
  if ((code >= 50 && code <= 58) || code == 86) return HAPI_PKT_VC_AMR_WB_SID;
  if ((code >= 59 && code <= 67) || code == 88) return HAPI_PKT_VC_AMR_WB_OA_SID;
  return HAPI_PKT_VC_GENERIC_SID;
}

void encoder_vadcfg(HSZCODECINST* inst, uint16_t word) {
  if ((word >> 8) == 1) {
    codecVadInit(inst, inst->ctl.voiceregs.voxregs.hsxVadCngPlcOptions & VAD_MASK);
    inst->enc.hsxGvadEnabled = codecVadAvailable() ? 1 : 0;
  } else {
    inst->enc.hsxGvadEnabled = 0;
  }
}

void encoder_ratechange(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECENCCTL& e = c.hsxcodecencctl;
  const uint16_t word = e.hsxnewrate;
  const unsigned code = word & 0xFF;
  const uint16_t interval = static_cast<uint16_t>(e.newsuperpacketinterval);
  const PVE_SIZE_TABLES& t = pveTablesInit();
  const unsigned alg = hsgpvealg[code];
  const HSZVOCODERS* v = hsgvocoders[alg];
  if (!vocoderUsable(v) || t.pveEncPoolSize[code] == 0 || t.pveEncPoolSize[code] > inst->enc.maxEncPoolSize ||
      hsgpvepktsize[code] == 0) {
    refuse(e, PVE_EXC_ENC_UNAVAILABLE, static_cast<uint16_t>(code));
    return;
  }
  if ((interval & 0x7FFF) > pveEncMaxPktTime[code]) {
    refuse(e, PVE_EXC_INTERVAL_TOO_LONG, pveEncMaxPktTime[code]);
    return;
  }
  const uint16_t wide = pveIsWideband(code) ? 1 : 0;
  if (hsfModeGet() != wide || hsfFrmPeriodGet() != pveEncThreadRate[code]) {
    e.threadChangePending = static_cast<uint16_t>((pveEncThreadRate[code] & 0xFFF) | (wide ? 0x1000 : 0));
    return;
  }
  const bool g7231Swap = (c.voiceregs.voxregs.hsxVadCngPlcOptions & 0xF0) != 0 && isG7231(currentCode(e)) &&
                         isG7231(code);
  if (!g7231Swap && !e.allowratechange) return;

  e.superpktctl.threadsize = static_cast<int16_t>(pveEncPacketTime[code]);
  e.superpktctl.superpacketinterval = static_cast<int16_t>(interval & 0x7FFF);
  inst->enc.superInstancep = inst->enc.encPool + t.pveEncInstSize[code];
  e.threadsize = pveEncThreadRate[code] < pveEncPacketTime[code] ? pveEncThreadRate[code] : pveEncPacketTime[code];
  e.superpacketinterval = static_cast<int16_t>(interval & 0x7FFF);
  e.encoderInterval = pveEncPacketTime[code];
  const bool algChange = !e.encoderstate || currentCode(e) >= HAPI_PKT_VC_ALG_MAX || hsgpvealg[currentCode(e)] != alg;
  if (algChange) e.hsxencfnc = v->encfnc;
  encoder_vadcfg(inst, word);
  v->encinitcfgfnc(inst->enc.encPool, &c.voiceregs.voxregs, word, algChange ? 1 : 0);
  e.hsxcurrentalg = word;
  e.hsxvoicebanddatamode = (interval & 0x8000) ? 0xFFFF : 0;
  hsfObdSendStd(HAPI_CODEC_VOICERATE_EVT, word, 0);
  c.state.currentEnc = static_cast<uint16_t>(code);
  e.encoderstate = true;
  c.state.currentEncPktTime = interval;
  c.state.currentEncPktSize = static_cast<uint16_t>(hsgpvepktsize[code] * (interval / pveEncPacketTime[code]) + 8);
  e.hsxnewrate = 0xFF;
}

void countFrame(CODEC_STATS& stats, int result) {
  uint16_t* counter = result == 1 ? &stats.encoder.activeFrameCount
                      : result == 2 ? &stats.encoder.sidFrameCount
                                    : &stats.encoder.inactiveFrameCount;
  if (*counter != 0xFFFF) ++*counter;
}

void encoder_compression(HSZCODECINST* inst, int16_t* samples, uint16_t vad) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECENCCTL& e = c.hsxcodecencctl;
  const unsigned code = currentCode(e);
  const unsigned n = e.threadsize * (pveIsWideband(code) ? 2u : 1u);
  const unsigned payloadBytes = (hsgpvepktsize[code] + 1u) & ~1u;
  auto* packet = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratch(sizeof(HAPI_PKT_HDR) + payloadBytes));
  if (packet == nullptr) {
    e.hsxTimeStamp += e.threadsize;
    return;
  }
  auto* payload = reinterpret_cast<uint16_t*>(packet + 1);
  std::memset(payload, 0, payloadBytes);
  e.allowratechange = false;
  bool genericSid = false;
  if (e.payloadCountDown < 1) {
    e.payloadCountDown = e.superpacketinterval;
    genericSid = vad != 0 && e.encoderInterval <= hsfFrmPeriodGet();
  } else {
    vad = 0;  // a started superpacket is completed with coded frames
  }

  int result = 0;
  uint16_t payloadLength = 0;
  if (!genericSid) {
    const int16_t volume = c.voiceregs.voxregs.pveIngressVolume;
    // 0 is a register never written: it would mute the line, so it counts as unity.
    if (volume != 4096 && volume != 0) hsfMulGain(samples, static_cast<int>(n), volume);
    result = e.hsxencfnc(inst->enc.encPool, samples, payload, vad, &payloadLength);
    if (result < 0 || payloadLength > payloadBytes) result = 0, payloadLength = 0;  // nothing valid to send
    if (result == 1) {
      packet->payloadID = static_cast<uint16_t>((e.hsxvoicebanddatamode ? 4 : 1) << 8 | code);
    } else if (result == 9) {
      if (e.payloadCountDown == e.superpacketinterval) e.payloadCountDown = 0;
      return;
    } else if (inst->enc.hsxGvadEnabled) {
      genericSid = true;
    } else {
      packet->payloadID = static_cast<uint16_t>(result << 8 | sidCodeOf(code));
    }
  }
  if (genericSid) {
    payloadLength = 1;
    result = codecVadGenSid(inst, payload);
    packet->payloadID = static_cast<uint16_t>(result << 8 | HAPI_PKT_VC_GENERIC_SID);
  }
  packet->payloadLength = payloadLength;
  packet->payloadTimeStampHigh = static_cast<uint16_t>(e.hsxTimeStamp >> 16);
  packet->payloadTimeStampLow = static_cast<uint16_t>(e.hsxTimeStamp);
  countFrame(c.stats, result);
  if (result != 1) e.payloadCountDown = 0;
  e.payloadCountDown = static_cast<int16_t>(e.payloadCountDown - e.encoderInterval);
  if (e.payloadCountDown <= 0) e.allowratechange = true;

  bool kept = false;
  if (result != 0 && (pveIsAmr(code) || pveIsAmrWb(code))) kept = amrConstructSuperpacket(inst, &packet) != 0;
  const bool silentKind = code == 16 || code == 17 || code == 85 || code == 35 || pveIsIsac(code);
  if (!kept && !(result == 0 && silentKind)) encoder_packetize(inst->enc.superInstancep, packet, &e.superpktctl);
  e.hsxTimeStamp += e.encoderInterval;
}

void toneRelay(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECENCCTL& e = c.hsxcodecencctl;
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(HSF_IBD_DIGIT_TONE, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    const uint16_t code = msg.std.header;
    const uint16_t tone = code & 0xFF;
    if (tone == HAPI_PKT_TC_TONE_NOCODE) {
      c.hsxcodecdecctl.decodeAllowed = true;
      e.encodeAllowed = true;
      c.hsxcodecptectl.relayActiveTimer = -1;
      continue;
    }
    if (tone == HAPI_PKT_TC_TONE_INGRESS) continue;
    e.encodeAllowed = false;
    auto* packet = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratch(sizeof(HAPI_PKT_HDR) + sizeof(HAPI_PKT_TONEPAYLOAD)));
    if (packet != nullptr) {
      const uint32_t ts = e.hsxTimeStamp - msg.std.op2;
      *packet = HAPI_PKT_HDR{static_cast<uint16_t>(HAPI_PKT_TONE << 8 | tone), sizeof(HAPI_PKT_TONEPAYLOAD),
                             static_cast<uint16_t>(ts >> 16), static_cast<uint16_t>(ts)};
      *reinterpret_cast<HAPI_PKT_TONEPAYLOAD*>(packet + 1) = HAPI_PKT_TONEPAYLOAD{msg.std.op1, msg.std.op2};
      encoder_packetize(inst->enc.superInstancep, packet, &e.superpktctl);
    }
    e.payloadCountDown = 0;
    e.allowratechange = true;
    e.superpktctl.packetNull = true;
    if (c.stats.encoder.toneRelayCount != 0xFFFF) ++c.stats.encoder.toneRelayCount;
  }
}

void encodeFrame(HSZCODECINST* inst, int16_t* frame, unsigned bytes) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECENCCTL& e = c.hsxcodecencctl;
  const uint16_t period = hsfFrmPeriodGet();
  if (!enabled(inst) || !e.encodeAllowed) {
    e.hsxTimeStamp += period;
    return;
  }
  if (!e.encoderstate || e.threadsize == 0) return;
  const unsigned code = currentCode(e);
  const bool wide = pveIsWideband(code);
  const uint16_t vad = inst->enc.hsxGvadEnabled ? codecVad(inst, frame, period) : 0;
  int16_t* signal = frame;
  unsigned samples = period;
  if (wide) {
    if (period * 2 < 160 || bytes < period * 6u) {
      LHAPI_ASSERT_FAIL();
      return;
    }
    // Low band then high band; each 80 + 160 pair becomes 160 samples at 16 kHz in the high area.
    int16_t* high = frame + period;
    for (unsigned k = 0; k < period / 80u; ++k) {
      bandCombine(frame + 80 * k, high + 160 * k, high + 160 * k, inst->enc.combineState);
    }
    signal = high;
    samples = period * 2u;
  } else if (bytes < period * 2u) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  const unsigned slice = e.threadsize * (wide ? 2u : 1u);
  for (unsigned at = 0; at + slice <= samples; at += slice) encoder_compression(inst, signal + at, vad);
}

constexpr uint16_t kControlBlockSamples = 8000;  // one block a second

void sendControlBlock(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  c.ajcIntStatsTimer = static_cast<uint16_t>(c.ajcIntStatsTimer + hsfFrmPeriodGet());
  if (c.ajcIntStatsTimer < kControlBlockSamples) return;
  auto* block = static_cast<uint16_t*>(hsfMemAllocScratch(22));
  if (block != nullptr) {
    const uint16_t dec = c.hsxcodecdecctl.hsxActiveDecoder;
    uint16_t jitterMax = c.voiceregs.ajbregs.jitterMax;
    if (jitterMax == 0 || jitterMax > 1600) jitterMax = 1600;
    const uint16_t words[11] = {c.ajcIntStats.discards,
                                c.ajcIntStats.firstSeq,
                                c.ajcIntStats.lastSeq,
                                static_cast<uint16_t>(dec < HAPI_PKT_VC_ALG_MAX ? hsgpvepackettime[dec] : 0),
                                c.hsxcodecdecctl.pktEvtInfo.evtFrameDur,
                                c.voiceregs.ajbregs.jitterMin,
                                jitterMax,
                                c.state.currentHoldTime,
                                c.ajcIntStats.jbAdaptiveFlag,
                                0,
                                c.voiceregs.voxregs.hsxVadCngPlcOptions};
    std::memcpy(block, words, sizeof(words));
    hsfIbdSendExt(HSF_IBD_CONTROL, kControlBlockHeader, 22, block);
  }
  c.ajcIntStats.discards = 0;
  c.ajcIntStats.firstSeq = 0;
  c.ajcIntStats.lastSeq = 0;
  c.ajcIntStatsTimer = 0;
}

}  // namespace

void codecIngress(HSFSRVOBJ srvp) {
  auto* inst = static_cast<HSZCODECINST*>(srvp);
  HSZCODECENCCTL& e = inst->ctl.hsxcodecencctl;
  if (e.threadChangePending == 0 && (e.hsxnewrate & 0xFF) != 0xFF) {
    // A code outside the table can never be applied: refuse it rather than let it block every
    // later request.
    if ((e.hsxnewrate & 0xFF) < HAPI_PKT_VC_ALG_MAX) encoder_ratechange(inst);
    else refuse(e, PVE_EXC_ENC_UNAVAILABLE, e.hsxnewrate & 0xFF);
  }
  toneRelay(inst);
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(HSF_IBD_PCM, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    if (msg.ext.bufp != nullptr) encodeFrame(inst, static_cast<int16_t*>(msg.ext.bufp), msg.ext.length);
  }
  if (e.allowratechange && e.threadChangePending != 0) {
    const uint16_t wide = (e.threadChangePending & 0x1000) ? 1 : 0;
    if (wide != hsfModeGet()) std::memset(inst->enc.combineState, 0, sizeof(inst->enc.combineState));
    hsfModeAndFramePeriodSet(e.threadChangePending & 0xFFF, wide);
    e.threadChangePending = 0;
  }
  sendControlBlock(inst);
}

// A disabled codec's idle runs step the encoder's time stamp (once for each frame the PCM service
// hands up) and the control block timer; the run that sends the block is not skipped. Its egress
// block does nothing once the frame is the disabled codec's 40 narrowband samples.
uint32_t codecRestRuns(HSFSRVOBJ srvp, HAPI_DIRECTION direction) {
  const auto* inst = static_cast<const HSZCODECINST*>(srvp);
  if (inst == nullptr || enabled(inst)) return 0;
  const HSZCODECCTLMEM& c = inst->ctl;
  if (direction == HAPI_DIRECTION_EGRESS) {
    return hsfFrmPeriodGet() == 40 && hsfModeGet() == 0 ? VHD_REST_UNBOUNDED : 0;
  }
  const HSZCODECENCCTL& e = c.hsxcodecencctl;
  const uint16_t period = hsfFrmPeriodGet();
  if (e.threadChangePending != 0 || (e.hsxnewrate & 0xFF) != 0xFF || period == 0) return 0;
  if (c.ajcIntStatsTimer >= kControlBlockSamples) return 0;
  // The k-th run from here sends the block when the timer reaches it: the runs before it may rest.
  return (kControlBlockSamples - 1u - c.ajcIntStatsTimer) / period;
}

void codecCatchUp(HSFSRVOBJ srvp, const VHD_Skipped& skipped) {
  auto* inst = static_cast<HSZCODECINST*>(srvp);
  const uint32_t samples = uint32_t{skipped.ingressPeriod} * skipped.ingress;
  inst->ctl.hsxcodecencctl.hsxTimeStamp += samples;
  inst->ctl.ajcIntStatsTimer = static_cast<uint16_t>(inst->ctl.ajcIntStatsTimer + samples);
}
