// The codec service's egress block: received packets into the jitter buffer, the decoder the
// released frame needs, and one frame of decoded audio, comfort noise or silence to the line.
#include <opus/opus.h>

#include <cstring>

#include "lhapi.h"
#include "lsv_math.h"
#include "pve_codec.h"
#include "qrn/qrn.h"

namespace {

constexpr unsigned kDecoderScratchBytes = PVE_PAYLOAD_BUF_WORDS * 2;  // 1280
constexpr unsigned kOutputSamples = 960;                              // 60 ms at 16 kHz
constexpr uint32_t kLowEnergy = 4010;

bool enabled(const HSZCODECINST* inst) { return inst->ctl.hsxstatus & 1; }

void satInc(uint16_t& counter) {
  if (counter != 0xFFFF) ++counter;
}

void dropDecoder(HSZCODECDECCTL& d) {
  d.hsxdecfnc = nullptr;
  d.decoderactive = false;
  d.oldpacketp = nullptr;
  d.hsxActiveDecoder = 0xFF;
}

// The decoder code a received SID code stands for, given the code now in use.
uint16_t sidDecoder(unsigned sid, unsigned current) {
  switch (sid) {
    case 81: return static_cast<uint16_t>(current);
    case 82: return 6;
    case 83: return (current == 9 || current == 10) ? current : 10;
    case 84: return ((current >= 18 && current <= 25) || current == 84) ? current : 25;
    case 85: return (current == 17 || current == 85) ? current : 17;
    case 86: return ((current >= 50 && current <= 58) || current == 86) ? current : 58;
    case 87: return ((current >= 26 && current <= 33) || current == 87) ? current : 33;
    case 88: return ((current >= 59 && current <= 67) || current == 88) ? current : 67;
    default: return static_cast<uint16_t>(sid);
  }
}

// Opus packets name their own frame size: the code follows it.
uint16_t opusCode(uint16_t code, const HAPI_PKT_EGRESS_HDR* pkt, const HSZCODECINST* inst) {
  if (pkt->payloadLength == 0) return code;
  const auto* words = reinterpret_cast<const uint16_t*>(pkt + 1);
  const unsigned char toc = pvePayloadByte(words, 0);
  const int samples = opus_packet_get_samples_per_frame(&toc, 8000);
  static constexpr int kSizes[5] = {40, 80, 160, 320, 480};
  const uint16_t dec = inst->ctl.hsxcodecdecctl.hsxActiveDecoder;
  const bool narrowband = dec >= 36 && dec <= 40 ? true : dec >= 68 && dec <= 72 ? false : code <= 40;
  for (int i = 0; i < 5; ++i) {
    if (samples == kSizes[i]) return static_cast<uint16_t>((narrowband ? 36 : 68) + i);
  }
  return code;
}

void queueEndOfRelay() {
  auto* block = static_cast<uint16_t*>(hsfMemAllocScratch(12));
  if (block == nullptr) return;
  const uint16_t words[6] = {HAPI_PKT_TC_TONE_NOCODE, 4, 8, 0, 0, 0};
  std::memcpy(block, words, sizeof(words));
  hsfIbdSendExt(HSF_IBD_DIGIT_TONE, 0, 12, block);
}

void insertVoice(HSZCODECINST* inst, const HAPI_PKT_EGRESS_HDR* pkt, uint8_t type) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECPTECTL& p = c.hsxcodecptectl;
  AJC_OBJ* jb = &inst->dec.ajc_mem;
  if (p.relayActiveTimer > 0 && !p.audioStopTone) return;
  if (p.relayActiveTimer == 0) {
    p.relayActiveTimer = -1;
    p.lastRelayPayloadCode = 1;
    queueEndOfRelay();
    return;
  }
  if (!c.hsxcodecdecctl.decodeAllowed) return;
  uint16_t code = pkt->payloadID & 0xFF;
  if (type == HAPI_PKT_SID) {
    code = sidDecoder(code, c.state.currentDec);
  } else {
    if (code >= HAPI_PKT_VC_ALG_MAX) return;
    if (pveIsOpus(code)) code = opusCode(code, pkt, inst);
  }
  // A code without a frame size, or whose codec is not built in, is reported once, not per packet.
  if (code >= HAPI_PKT_VC_ALG_MAX || hsgpvepktsize[code] == 0 || !vocoderUsable(hsgvocoders[hsgpvealg[code]])) {
    if (c.lastBadDecoderCode != code) {
      c.lastBadDecoderCode = code;
      hsfObdSendStd(HAPI_CODEC_EXCEPTION_EVT, PVE_EXC_DEC_UNAVAILABLE, code);
    }
    return;
  }
  if (code != c.state.currentDec) {
    pveFlushJb(jb, inst);
    ajcReset(jb, code, AJC_RESET_RESIZE);
  }
  c.state.currentDec = code;
  // The unpacketiser reads the packet's own code and type.
  decoder_unpacketize(pkt, &c.lastBadPacketCode, &c.hsxcodecdecctl.pktEvtInfo, jb);
}

void insertTone(HSZCODECINST* inst, HSFMSG& msg, const HAPI_PKT_EGRESS_HDR* pkt) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECPTECTL& p = c.hsxcodecptectl;
  if ((c.pteoption & HAPI_PTE_MODE_DIG_RELAY) == 0) return;
  const uint16_t tone = pkt->payloadID & 0xFF;
  const bool off = tone & HAPI_PKT_TC_OFF_BIT;
  const uint16_t ts = pkt->payloadTimeStampLow;
  if (!off && ts == p.lastSecondRelayDigitsTimestamp) return;  // late copy of the previous digit
  if ((p.lastRelayPayloadCode & HAPI_PKT_TC_OFF_BIT) && p.lastRelayPayloadCode != 0xFF && !off &&
      ts == p.lastRelayDigitsTimestamp) {
    return;  // copy of the digit just ended
  }
  p.lastRelayPayloadCode = tone;
  if (off) {
    if (ts != p.lastRelayDigitsTimestamp) return;
    p.relayActiveTimer = -1;
    c.hsxcodecdecctl.decodeAllowed = true;
  } else {
    if (ts != p.lastRelayDigitsTimestamp) p.lastSecondRelayDigitsTimestamp = p.lastRelayDigitsTimestamp;
    c.hsxcodecencctl.encodeAllowed = true;
    p.lastRelayDigitsTimestamp = ts;
    if (c.hsxcodecdecctl.decodeAllowed) {
      c.hsxcodecdecctl.decodeAllowed = false;
      pveFlushJb(&inst->dec.ajc_mem, inst);
    }
    const uint16_t twice = static_cast<uint16_t>(2 * c.voiceregs.ajbregs.jitterTarget);
    p.relayActiveTimer = static_cast<int16_t>(twice > 800 ? (twice > 32767 ? 32767 : twice) : 800);
  }
  hsfIbdSendExt(HSF_IBD_DIGIT_TONE, 0, msg.ext.length, msg.ext.bufp);
}

void jbfServiceInsertQ(HSZCODECINST* inst) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* pkt = static_cast<const HAPI_PKT_EGRESS_HDR*>(msg.ext.bufp);
    if (pkt == nullptr || msg.ext.length < sizeof(HAPI_PKT_EGRESS_HDR) ||
        msg.ext.length < sizeof(HAPI_PKT_EGRESS_HDR) + pkt->payloadLength) {
      satInc(c.stats.decoder.cantDecodeCount);
      continue;
    }
    const uint8_t type = static_cast<uint8_t>(pkt->payloadID >> 8);
    switch (type) {
      case HAPI_PKT_VOICE:
      case HAPI_PKT_SID:
      case HAPI_PKT_VOICEBANDDATA:
        insertVoice(inst, pkt, type);
        break;
      case HAPI_PKT_TONE:
        insertTone(inst, msg, pkt);
        break;
      default:
        satInc(c.stats.decoder.cantDecodeCount);
        hsfIbdSendExt(HSF_IBD_PACKET, msg.ext.header, msg.ext.length, msg.ext.bufp);
        break;
    }
  }
}

void decoder_ratechange(HSZCODECINST* inst, uint16_t code) {
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECDECCTL& d = c.hsxcodecdecctl;
  if (code >= HAPI_PKT_VC_ALG_MAX || hsgpvepktsize[code] == 0) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  const unsigned alg = hsgpvealg[code];
  const HSZVOCODERS* v = hsgvocoders[alg];
  if (!vocoderUsable(v)) {
    hsfObdSendStd(HAPI_CODEC_EXCEPTION_EVT, PVE_EXC_DEC_UNAVAILABLE, code);
    return;
  }
  const uint16_t wide = pveIsWideband(code) ? 1 : 0;
  if (hsfModeGet() != wide || hsfFrmPeriodGet() != pveDecThreadRate[code]) {
    if (hsfModeGet() != wide) std::memset(inst->dec.splitState, 0, sizeof(inst->dec.splitState));
    hsfModeAndFramePeriodSet(pveDecThreadRate[code], wide);
  }
  d.threadsize = pveDecThreadRate[code] < hsgpvepackettime[code] ? pveDecThreadRate[code] : hsgpvepackettime[code];
  const uint16_t cngType = (c.voiceregs.voxregs.hsxVadCngPlcOptions & CNG_MASK) >> CNG_SHIFT;
  const bool fresh = !d.decoderactive || d.hsxActiveDecoder >= HAPI_PKT_VC_ALG_MAX || hsgpvealg[d.hsxActiveDecoder] != alg;
  if (fresh) {
    d.hsxdecfnc = v->decfnc;
    codecCngInit(&inst->dec.decJbMem.cng, cngType);
    d.decoderactive = true;
  }
  codecCngConfig(&inst->dec.decJbMem.cng, cngType, wide);
  inst->dec.decJbMem.cngActive = 1;
  vocoderDecHdr(inst->dec.jbMemp)->cngActive = 1;
  v->decinitcfgfnc(inst->dec.jbMemp, &c.voiceregs.voxregs, code, fresh ? 1 : 0);
  hsfObdSendStd(HAPI_CODEC_VOICERATE_EVT, code, 1);
  d.hsxActiveDecoder = code;
  c.state.currentDec = code;
}

void decoder_ratecheck(HSZCODECINST* inst, const AJC_PKT_HDR& h) {
  const uint8_t type = ajcClass(h);
  uint16_t code = ajcCode(h);
  const uint16_t active = inst->ctl.hsxcodecdecctl.hsxActiveDecoder;
  if (type == HAPI_PKT_SID) {
    if (code == HAPI_PKT_VC_GENERIC_SID || code < 82 || code > 88) return;
    code = sidDecoder(code, active);
  }
  if (code != active) decoder_ratechange(inst, code);
}

void setCng(HSZCODECINST* inst, uint16_t active) {
  inst->dec.decJbMem.cngActive = active;
  vocoderDecHdr(inst->dec.jbMemp)->cngActive = active;
}

// Returns non-zero when the frame was comfort noise or a SID or tone frame.
int decoder_playout(HSZCODECINST* inst, int16_t* out, AJC_PVEDEC_INT* rel) {
  HSZCODECDECCTL& d = inst->ctl.hsxcodecdecctl;
  if (!d.decoderactive || d.hsxdecfnc == nullptr) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  const AJC_PKT_HDR& h = rel->currPkt[0];
  const uint8_t type = ajcClass(h);
  const uint16_t code = ajcCode(h);
  const unsigned n = d.threadsize;  // 8 kHz count; the generator doubles it in wideband
  PVE_DEC_HDR* hdr = vocoderDecHdr(inst->dec.jbMemp);
  if (type == AJC_PKT_SID && code == HAPI_PKT_VC_GENERIC_SID && rel->numCurrPkt >= 1) {
    LHAPI_ASSERT(rel->numCurrPkt == 1);
    setCng(inst, 1);
    uint16_t* sid = hdr->payloadBufp;
    const uint16_t words = h.payloadLength < 8 ? 4 : static_cast<uint16_t>((h.payloadLength + 1) / 2);
    decoder_copyPayload(&inst->dec.ajc_mem.payloadQ, &h, sid, words > PVE_PAYLOAD_BUF_WORDS ? PVE_PAYLOAD_BUF_WORDS : words, 1);
    codecCngProcess(&inst->dec.decJbMem.cng, out, sid, h.payloadLength, n);
    return 1;
  }
  if (type == AJC_PKT_SID && (code == 82 || code == 83 || code == 84 || code == 86 || code == 87 || code == 88)) {
    setCng(inst, 0);
  }
  if (type == AJC_PKT_CNG) {
    const uint16_t a = d.hsxActiveDecoder;
    if ((a >= 16 && a <= 33) || a == 35 || (a >= 50 && a <= 67) || (a >= 84 && a <= 88)) setCng(inst, 0);
  }
  if ((type == AJC_PKT_SID || type == AJC_PKT_CNG) && inst->dec.decJbMem.cngActive) {
    codecCngProcess(&inst->dec.decJbMem.cng, out, nullptr, 0, n);
    return 1;
  }
  d.hsxdecfnc(inst->dec.jbMemp, rel, out);
  return (type == AJC_PKT_SID || type == AJC_PKT_CNG) ? 1 : 0;
}

// Every 40-sample block quiet (1 + energy, >> 8, below 4010).
bool lowEnergy(const int16_t* s, unsigned n) {
  for (unsigned b = 0; b + 40 <= n; b += 40) {
    uint32_t e = 1;
    for (unsigned i = 0; i < 40; ++i) {
      const uint32_t sq = static_cast<uint32_t>(s[b + i] * s[b + i]);
      e = e > 0x7FFFFFFFu - sq ? 0x7FFFFFFFu : e + sq;
    }
    if ((e >> 8) >= kLowEnergy) return false;
  }
  return true;
}

void output(HSZCODECINST* inst, int16_t* out) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  const uint16_t period = hsfFrmPeriodGet();
  const uint16_t dec = inst->ctl.hsxcodecdecctl.hsxActiveDecoder;
  if (dec < HAPI_PKT_VC_ALG_MAX && pveIsWideband(dec)) {
    int16_t* low = socket->memDesc[HSF_MEDQ_LOWBAND];
    int16_t* high = socket->memDesc[HSF_MEDQ_HIGHBAND];
    if (hsgpvepackettime[dec] * 2 < 160 || high == nullptr || low == nullptr) {
      LHAPI_ASSERT_FAIL();
      return;
    }
    for (unsigned k = 0; k + 80 <= period; k += 80) bandSplit(low + k, high + 2 * k, out + 2 * k, inst->dec.splitState);
    return;
  }
  if (socket->memDesc[HSF_MEDQ_LOWBAND] != nullptr) hsfMedqAdd(socket->memDesc[HSF_MEDQ_LOWBAND], out, period);
}

// Asks the jitter buffer for this frame's release, with the last frame's low-energy indication
// and the decoder's thread size; `out` receives a copy of its release record.
int16_t pveControlPacketRelease(HSZCODECDECCTL* d, AJC_OBJ* jb, AJC_PVEDEC_INT* out) {
  jb->lowEnergyDetect = d->lowEnergyDetect;
  jb->tickRate = d->threadsize;
  const int16_t result = ajcControlPacketRelease(jb);
  *out = jb->pktInfo;
  return result;
}

}  // namespace

void codecEgress(HSFSRVOBJ srvp) {
  auto* inst = static_cast<HSZCODECINST*>(srvp);
  HSZCODECCTLMEM& c = inst->ctl;
  HSZCODECDECCTL& d = c.hsxcodecdecctl;
  HSZCODECPTECTL& p = c.hsxcodecptectl;
  AJC_OBJ* jb = &inst->dec.ajc_mem;
  if (!enabled(inst)) {
    if (hsfFrmPeriodGet() != 40 || hsfModeGet() != 0) hsfModeAndFramePeriodSet(40, 0);
    return;
  }
  auto* scratch = static_cast<uint16_t*>(hsfMemAllocScratch(kDecoderScratchBytes));
  auto* out = static_cast<int16_t*>(hsfMemAllocScratch(kOutputSamples * sizeof(int16_t)));
  if (scratch == nullptr || out == nullptr) return;
  PVE_DEC_HDR* hdr = vocoderDecHdr(inst->dec.jbMemp);
  hdr->payloadQp = &jb->payloadQ;
  hdr->cngp = &inst->dec.decJbMem.cng;
  hdr->payloadBufp = scratch;

  jbfServiceInsertQ(inst);
  if (c.state.currentDec != d.hsxActiveDecoder &&
      !(pveIsOpus(c.state.currentDec) && pveIsOpus(d.hsxActiveDecoder))) {
    dropDecoder(d);
  }
  if (p.relayActiveTimer > 0) {
    p.relayActiveTimer = static_cast<int16_t>(p.relayActiveTimer - hsfFrmPeriodGet());
    if (p.relayActiveTimer < 1) {
      p.relayActiveTimer = -1;
      p.lastRelayPayloadCode = 1;
      queueEndOfRelay();
    }
  }
  if (!d.decodeAllowed) return;

  AJC_PVEDEC_INT rel{};
  const int16_t released = pveControlPacketRelease(&d, jb, &rel);
  std::memset(out, 0, kOutputSamples * sizeof(int16_t));
  int played = 0;
  if (rel.numCurrPkt == 0) {
    LHAPI_ASSERT_FAIL();
  } else {
    const uint8_t type = ajcClass(rel.currPkt[0]);
    if (type != AJC_PKT_CNG && type != HAPI_PKT_DATARELAY) {
      const uint16_t prev = inst->dec.previousPayloadType;
      if (type == HAPI_PKT_VOICEBANDDATA && prev != HAPI_PKT_VOICEBANDDATA) {
        hsfObdSendStd(HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT, type, prev);
      } else if (type != HAPI_PKT_VOICEBANDDATA && prev == HAPI_PKT_VOICEBANDDATA) {
        hsfObdSendStd(HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT, type, prev);
      }
      inst->dec.previousPayloadType = type;
    }
    if (type == AJC_PKT_VOICE || type == AJC_PKT_SID || type == AJC_PKT_VOICEBANDDATA) decoder_ratecheck(inst, rel.currPkt[0]);
    if (d.decoderactive) {
      played = decoder_playout(inst, out, &rel);
      const unsigned samples = d.threadsize * (pveIsWideband(d.hsxActiveDecoder) ? 2u : 1u);
      const int16_t volume = c.voiceregs.voxregs.pveEgressVolume;
      if (volume != 4096) hsfMulGain(out, static_cast<int>(samples), volume);
    }
  }
  // Whatever the decoder did not take out of the store goes back to it.
  for (int i = 0; i < rel.numCurrPkt && i < 2; ++i) {
    const uint8_t cls = ajcClass(rel.currPkt[i]);
    if (cls == AJC_PKT_VOICE || cls == AJC_PKT_SID || cls == AJC_PKT_VOICEBANDDATA || cls == AJC_PKT_DOUBLE_DECODE) {
      ajcFreeSlot(&jb->payloadQ, rel.currPkt[i].flags >> 8);
    }
  }
  output(inst, out);
  d.lowEnergyDetect = played != 0 ? 1 : (released != 0 && lowEnergy(out, hsfFrmPeriodGet())) ? 1 : 0;
  if (d.decoderactive) LHAPI_ASSERT(c.state.currentDec == d.hsxActiveDecoder || pveIsOpus(d.hsxActiveDecoder));
}
