// Corrections to a received payload before it reaches the codec service: the voice code as the
// payload shows it, the engine's byte order and time-stamp units, and the splitting of
// multi-frame AMR payloads into one packet per frame.
#include <cstring>

#include "rtp_payload.h"

namespace {

constexpr int16_t kAmrNbBits[16] = {95, 103, 118, 134, 148, 159, 204, 244, 39, -1, -1, -1, -1, -1, -1, 0};
constexpr int16_t kAmrWbBits[16] = {132, 177, 253, 285, 317, 365, 397, 461, 477, 40, -1, -1, -1, -1, 0, 0};

}  // namespace

int amrCoreFrameSize(unsigned frameType, bool wideband, bool octetAligned) {
  if (frameType > 15) return AMR_FRAME_SIZE_INVALID;
  const int bits = wideband ? kAmrWbBits[frameType] : kAmrNbBits[frameType];
  if (bits <= 0) return bits < 0 ? AMR_FRAME_SIZE_INVALID : 0;
  // Speech frames and the narrowband SID are padded to whole bytes in octet-aligned mode.
  const bool widebandSid = wideband && frameType == 9;
  if (octetAligned && !widebandSid) return (bits & ~7) + 8;
  return bits;
}

unsigned getbits(const uint8_t* stream, unsigned bits, unsigned bitPos) {
  unsigned value = 0;
  for (unsigned i = 0; i < bits; ++i) {
    const unsigned pos = bitPos + i;
    value = (value << 1) | ((stream[pos >> 3] >> (7 - (pos & 7))) & 1);
  }
  return value;
}

namespace {

// One table-of-contents entry.
struct AmrToc {
  unsigned f, ft, q;
};

}  // namespace

int amrCheckPkt(const uint8_t* payload, unsigned length, bool wideband) {
  const unsigned totalBits = length * 8;
  unsigned pos = 4;  // CMR
  unsigned entries = 0;
  unsigned frameBits = 0;
  for (;;) {
    if (pos + 6 > totalBits) return 1;
    const unsigned entry = getbits(payload, 6, pos);
    pos += 6;
    ++entries;
    const AmrToc toc{entry >> 5, (entry >> 1) & 15, entry & 1};
    if (toc.q == 0) return 1;
    const int bits = amrCoreFrameSize(toc.ft, wideband, false);
    if (bits < 0) return 1;
    frameBits += static_cast<unsigned>(bits);
    if (toc.f == 0) break;
  }
  return (4 + 6 * entries + frameBits + 7) / 8 != length;
}

int amrCheckPktOA(const uint8_t* payload, unsigned length, bool wideband) {
  unsigned pos = 1;  // CMR byte
  unsigned entries = 0;
  unsigned frameBits = 0;
  for (;;) {
    if (pos >= length) return 1;  // an entry past the end counts as padding set
    const unsigned entry = payload[pos++];
    ++entries;
    const AmrToc toc{entry >> 7, (entry >> 3) & 15, (entry >> 2) & 1};
    if ((entry & 3) != 0 || toc.q == 0) return 1;
    const int bits = amrCoreFrameSize(toc.ft, wideband, true);
    if (bits < 0) return 1;
    frameBits += static_cast<unsigned>(bits);
    if (toc.f == 0) break;
  }
  return (8 + 8 * entries + frameBits) / 8 != length;
}

AmrForm amrFormOf(unsigned code) {
  if ((code >= 18 && code <= 25) || code == HAPI_PKT_VC_AMR_SID) return AmrForm::NarrowBandEfficient;
  if ((code >= 26 && code <= 33) || code == HAPI_PKT_VC_AMR_OA_SID) return AmrForm::NarrowOctetAligned;
  if ((code >= 50 && code <= 58) || code == HAPI_PKT_VC_AMR_WB_SID) return AmrForm::WideBandEfficient;
  if ((code >= 59 && code <= 67) || code == HAPI_PKT_VC_AMR_WB_OA_SID) return AmrForm::WideOctetAligned;
  return AmrForm::None;
}

namespace {

uint8_t* payloadOf(HAPI_PKT_EGRESS_HDR* p) { return reinterpret_cast<uint8_t*>(p) + 8; }
const uint8_t* payloadOf(const HAPI_PKT_EGRESS_HDR* p) { return reinterpret_cast<const uint8_t*>(p) + 8; }

void setCode(HAPI_PKT_EGRESS_HDR* p, unsigned code) {
  p->payloadID = static_cast<uint16_t>((p->payloadID & 0xFF00) | code);
}

// The octet-aligned and bandwidth-efficient codes of one family, and the offset between them.
struct AmrFamily {
  unsigned efficientFirst, efficientLast, efficientSid;
  unsigned alignedFirst, alignedLast, alignedSid;
  bool wideband;
};
constexpr AmrFamily kNarrow{18, 25, HAPI_PKT_VC_AMR_SID, 26, 33, HAPI_PKT_VC_AMR_OA_SID, false};
constexpr AmrFamily kWide{50, 58, HAPI_PKT_VC_AMR_WB_SID, 59, 67, HAPI_PKT_VC_AMR_WB_OA_SID, true};

// The SID codes of the two forms map onto each other; speech codes shift by the family's span.
unsigned toAligned(const AmrFamily& f, unsigned code) {
  return code == f.efficientSid ? f.alignedSid : code + (f.alignedFirst - f.efficientFirst);
}
unsigned toEfficient(const AmrFamily& f, unsigned code) {
  return code == f.alignedSid ? f.efficientSid : code - (f.alignedFirst - f.efficientFirst);
}

// Returns false when the packet is to be rejected.
bool correctAmr(HAPI_PKT_EGRESS_HDR* p, const AmrFamily& f) {
  const uint8_t* b = payloadOf(p);
  const unsigned n = p->payloadLength;
  unsigned code = p->payloadID & 0xFF;
  const bool alignedSpeech = code >= f.alignedFirst && code <= f.alignedLast;
  // Octet-aligned payloads have zero padding in the CMR byte and the first entry.
  if (alignedSpeech && n >= 2 && ((b[0] & 0x0F) != 0 || (b[1] & 0x03) != 0)) {
    code = toEfficient(f, code);
  }
  const bool efficient = (code >= f.efficientFirst && code <= f.efficientLast) || code == f.efficientSid;
  if (efficient && amrCheckPkt(b, n, f.wideband) != 0) code = toAligned(f, code);
  const bool aligned = (code >= f.alignedFirst && code <= f.alignedLast) || code == f.alignedSid;
  if (aligned && amrCheckPktOA(b, n, f.wideband) != 0) return false;
  setCode(p, code);
  return true;
}

}  // namespace

HAPI_PKT_EGRESS_HDR* rtpXmeToQrn(HAPI_PKT_EGRESS_HDR* p, uint32_t timeStamp) {
  if (p == nullptr) return nullptr;
  const unsigned n = p->payloadLength;
  const uint8_t* b = payloadOf(p);
  unsigned code = p->payloadID & 0xFF;
  // G.729: a 2-byte payload is a SID; anything else shorter than a frame is not G.729.
  if (code == HAPI_PKT_VC_G729A_8 || code == HAPI_PKT_VC_G729_8) {
    if (n <= 9) {
      if (n != 2) return nullptr;
      p->payloadID = (HAPI_PKT_SID << 8) | HAPI_PKT_VC_G729_SID;
    }
  } else if (code == HAPI_PKT_VC_G729_118) {
    if (n < 16) return nullptr;
  } else if (code == HAPI_PKT_VC_G7231_53 || code == HAPI_PKT_VC_G7231_63 ||
             code == HAPI_PKT_VC_G7231_VARIABLE || code == HAPI_PKT_VC_G7231_SID) {
    if (n != 0) {
      switch (b[0] & 3) {
        case 0: setCode(p, HAPI_PKT_VC_G7231_63); break;
        case 1: setCode(p, HAPI_PKT_VC_G7231_53); break;
        case 2: p->payloadID = (HAPI_PKT_SID << 8) | HAPI_PKT_VC_G7231_SID; break;
        default: break;
      }
    }
  } else {
    const AmrForm form = amrFormOf(code);
    if (form == AmrForm::NarrowBandEfficient || form == AmrForm::NarrowOctetAligned) {
      if (!correctAmr(p, kNarrow)) return nullptr;
    } else if (form == AmrForm::WideBandEfficient || form == AmrForm::WideOctetAligned) {
      if (!correctAmr(p, kWide)) return nullptr;
    }
  }
  code = p->payloadID & 0xFF;
  const unsigned type = p->payloadID >> 8;
  // To the engine's words; AMR payloads stay in network order for the splitter, which converts
  // each frame it hands on.
  if ((type == HAPI_PKT_VOICE || type == HAPI_PKT_SID || type == HAPI_PKT_VOICEBANDDATA) &&
      amrFormOf(code) == AmrForm::None) {
    swapBytes(payloadOf(p), n);
  }
  if (type == HAPI_PKT_VOICE || type == HAPI_PKT_VOICEBANDDATA) {
    if (rtpIsOpus(code)) {
      p->payloadTimeStampLow = static_cast<uint16_t>(timeStamp / 6);
    } else if (rtpIsWideband16k(code)) {
      p->payloadTimeStampLow = static_cast<uint16_t>(timeStamp >> 1);
    } else {
      p->payloadTimeStampLow = static_cast<uint16_t>(timeStamp);
    }
  }
  return p;
}

namespace {

// Code and packet type of one split frame by its frame type.
uint16_t splitPayloadId(AmrForm form, unsigned ft) {
  unsigned code = 255;
  bool sid = false;
  switch (form) {
    case AmrForm::NarrowBandEfficient:
    case AmrForm::NarrowOctetAligned: {
      const bool aligned = form == AmrForm::NarrowOctetAligned;
      if (ft <= 7) {
        code = (aligned ? 26 : 18) + ft;
      } else if (ft == 8 || ft == 15) {
        code = aligned ? HAPI_PKT_VC_AMR_OA_SID : HAPI_PKT_VC_AMR_SID;
        sid = true;
      }
      break;
    }
    case AmrForm::WideBandEfficient:
    case AmrForm::WideOctetAligned: {
      const bool aligned = form == AmrForm::WideOctetAligned;
      if (ft <= 8) {
        code = (aligned ? 59 : 50) + ft;
      } else if (ft == 9 || ft == 14 || ft == 15) {
        code = aligned ? HAPI_PKT_VC_AMR_WB_OA_SID : HAPI_PKT_VC_AMR_WB_SID;
        sid = true;
      }
      break;
    }
    default: break;
  }
  return static_cast<uint16_t>(((sid ? HAPI_PKT_SID : HAPI_PKT_VOICE) << 8) | code);
}

constexpr unsigned kMaxTocEntries = 12;

}  // namespace

unsigned rfc3267ProcessEgress(const HAPI_PKT_EGRESS_HDR* packet, const RtpAmrSink& sink) {
  const AmrForm form = amrFormOf(packet->payloadID & 0xFF);
  if (form == AmrForm::None) return 0;
  const bool aligned = form == AmrForm::NarrowOctetAligned || form == AmrForm::WideOctetAligned;
  const bool wideband = form == AmrForm::WideBandEfficient || form == AmrForm::WideOctetAligned;
  const uint8_t* b = payloadOf(packet);
  const unsigned totalBits = packet->payloadLength * 8u;
  const unsigned cmrBits = aligned ? 8 : 4;
  const unsigned tocBits = aligned ? 8 : 6;
  if (totalBits < cmrBits) return 0;
  const unsigned cmr = aligned ? (b[0] >> 4) : getbits(b, 4, 0);

  // The table of contents along its F chain; one that runs past the payload is not split.
  AmrToc toc[kMaxTocEntries];
  unsigned entries = 0;
  unsigned pos = cmrBits;
  for (;;) {
    if (pos + tocBits > totalBits) return 0;
    const unsigned e = aligned ? b[pos >> 3] : getbits(b, 6, pos);
    pos += tocBits;
    const AmrToc t =
        aligned ? AmrToc{e >> 7, (e >> 3) & 15, (e >> 2) & 1} : AmrToc{e >> 5, (e >> 1) & 15, e & 1};
    if (entries == kMaxTocEntries) return 0;  // more than 12 frames: delivered whole
    toc[entries++] = t;
    if (t.f == 0) break;
  }

  // A mode request names a speech mode of the family; anything above is ignored.
  const unsigned highestMode = wideband ? 8 : 7;
  if (cmr <= highestMode) sink.modeRequest(sink.ctx, static_cast<uint16_t>(cmr));

  unsigned handled = 0;
  for (unsigned i = 0; i < entries; ++i) {
    const int bits = amrCoreFrameSize(toc[i].ft, wideband, false);
    if (bits < 0) break;
    handled = i + 1;
    if (bits == 0) continue;
    const unsigned frameBits = static_cast<unsigned>(bits);
    if (pos + frameBits > totalBits) break;  // the frame runs past the payload
    const unsigned outBytes = (cmrBits + tocBits + frameBits + 7 + (aligned ? 7 : 0)) / 8;
    auto* out = static_cast<HAPI_PKT_EGRESS_HDR*>(sink.scratch(sink.ctx, 8 + outBytes + 2));
    if (out == nullptr) break;
    uint8_t* ob = payloadOf(out);
    std::memset(ob, 0, outBytes + 2);
    unsigned w = 0;
    if (aligned) {
      ob[0] = static_cast<uint8_t>(cmr << 4);
      ob[1] = static_cast<uint8_t>((toc[i].ft << 3) | (toc[i].q << 2));
      w = 16;
    } else {
      const unsigned entry = (toc[i].ft << 1) | toc[i].q;
      ob[0] = static_cast<uint8_t>((cmr << 4) | (entry >> 2));
      ob[1] = static_cast<uint8_t>((entry & 3) << 6);
      w = 10;
    }
    w += hsfCopyBits(ob, w, b, pos, frameBits, aligned);
    pos += aligned ? ((frameBits + 7) & ~7u) : frameBits;
    out->payloadID = splitPayloadId(form, toc[i].ft);
    out->payloadLength = static_cast<uint16_t>((w + 7) / 8);
    swapBytes(ob, out->payloadLength);  // the frame in the engine's words
    out->payloadOffset = 8;
    out->payloadTimeStampLow = static_cast<uint16_t>(packet->payloadTimeStampLow + 160 * i);
    sink.sendPacket(sink.ctx, out);
  }
  return handled;
}
