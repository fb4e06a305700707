// Received packets split into frames: the code of each frame is refined from its own header bits
// where the payload format has them, each frame gets a payload slot and goes to the jitter buffer.
#include <algorithm>

#include "hsf/hsf.h"
#include "lhapi.h"
#include "pve_pktize.h"

namespace {

struct Frame {
  bool ok = false;
  bool stop = false;  // a bad frame already reported: end the walk
  uint8_t type = 0;
  uint8_t code = 0;
  uint16_t bytes = 0;
};

constexpr uint16_t kAmrBe[9] = {14, 15, 16, 18, 20, 22, 27, 32, 7};
constexpr uint16_t kAmrOa[9] = {14, 15, 17, 19, 21, 22, 28, 33, 7};
constexpr uint16_t kWbBe[10] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 7};
constexpr uint16_t kWbOa[10] = {19, 25, 34, 38, 42, 48, 52, 60, 62, 7};

// Frame type of a one-frame AMR payload in either framing.
unsigned beFrameType(uint8_t b0, uint8_t b1) { return ((b0 & 7u) << 1) | (b1 >> 7); }
unsigned oaFrameType(uint8_t b1) { return (b1 >> 3) & 15u; }

Frame amrFrame(unsigned ft, uint8_t type, const uint16_t* sizes, unsigned speechModes, uint8_t firstCode,
               uint8_t sidCode, bool wideband) {
  Frame f;
  if (ft < speechModes) {
    f = {true, false, type, static_cast<uint8_t>(firstCode + ft), sizes[ft]};
  } else if (ft == speechModes) {
    f = {true, false, HAPI_PKT_SID, sidCode, sizes[ft]};
  } else if (ft == 15 || (wideband && ft == 14)) {
    f = {true, false, HAPI_PKT_UNKNOWN, sidCode, 2};
  }
  return f;
}

Frame nextFrame(uint8_t type, unsigned code, const uint16_t* words, unsigned offset, unsigned remaining,
                const uint16_t* pktSize) {
  const uint8_t b0 = pvePayloadByte(words, offset);
  const uint8_t b1 = remaining > 1 ? pvePayloadByte(words, offset + 1) : 0;
  Frame f;
  if (code == HAPI_PKT_VC_GENERIC_SID) return {true, false, type, static_cast<uint8_t>(code), static_cast<uint16_t>(remaining)};
  if (code == 6) {
    if (remaining >= 10) return {true, false, type, 6, 10};
    if (remaining == 2) return {true, false, HAPI_PKT_SID, HAPI_PKT_VC_G729_SID, 2};
    return f;
  }
  if (code == HAPI_PKT_VC_G729_SID) return remaining == 2 ? Frame{true, false, type, 82, 2} : f;
  if (code == 9 || code == 10 || code == 83) {
    switch (b0 & 3) {
      case 1: return {true, false, type, 9, 20};
      case 0: return {true, false, type, 10, 24};
      case 2: return {true, false, HAPI_PKT_SID, 83, 4};
      default: return f;
    }
  }
  if ((code >= 18 && code <= 25) || code == 84) return amrFrame(beFrameType(b0, b1), type, kAmrBe, 8, 18, 84, false);
  if ((code >= 26 && code <= 33) || code == 87) return amrFrame(oaFrameType(b1), type, kAmrOa, 8, 26, 87, false);
  if ((code >= 50 && code <= 58) || code == 86) {
    f = amrFrame(beFrameType(b0, b1), type, kWbBe, 9, 50, 86, true);
    f.stop = !f.ok;
    return f;
  }
  if ((code >= 59 && code <= 67) || code == 88) {
    f = amrFrame(oaFrameType(b1), type, kWbOa, 9, 59, 88, true);
    f.stop = !f.ok;
    return f;
  }
  // Opus and iSAC payloads are one frame of variable length: the whole payload.
  if (pveIsOpus(code) || pveIsIsac(code)) {
    return {true, false, type, static_cast<uint8_t>(code), static_cast<uint16_t>(remaining)};
  }
  if (code < HAPI_PKT_VC_ALG_MAX) return {true, false, type, static_cast<uint8_t>(code), pktSize[code]};
  return f;
}

// Packet time of one frame of a family, from the family's reference code.
uint16_t frameTime(unsigned code) {
  if (code == 6 || code == 82) return hsgpvepackettime[6];
  if (code == 9 || code == 10 || code == 83) return hsgpvepackettime[10];
  if ((code >= 18 && code <= 25) || code == 84) return hsgpvepackettime[25];
  if ((code >= 26 && code <= 33) || code == 87) return hsgpvepackettime[33];
  if ((code >= 50 && code <= 58) || code == 86) return hsgpvepackettime[58];
  if ((code >= 59 && code <= 67) || code == 88) return hsgpvepackettime[67];
  return code < HAPI_PKT_VC_ALG_MAX ? hsgpvepackettime[code] : 0;
}

// Size used for the range check of a packet's code.
uint16_t checkSize(unsigned code, uint16_t payloadLength, const uint16_t* pktSize) {
  switch (code) {
    case HAPI_PKT_VC_GENERIC_SID: return std::min<uint16_t>(payloadLength, PVE_MAX_PAYLOAD_BYTES);
    case 82: return pktSize[6];
    case 83: return pktSize[10];
    case 84: return pktSize[25];
    case 86: return pktSize[58];
    case 87: return pktSize[33];
    case 88: return pktSize[67];
    default: break;
  }
  if (pveIsOpus(code)) return payloadLength;
  if (pveIsIsac(code)) return payloadLength <= pktSize[code] ? payloadLength : 0;
  return code < HAPI_PKT_VC_ALG_MAX ? pktSize[code] : 0;
}

// Codes whose frames carry their own rate: a new one moves the jitter buffer to it.
bool resizesBuffer(unsigned code) {
  return code == 9 || code == 10 || (code >= 18 && code <= 33) || (code >= 36 && code <= 40) ||
         (code >= 50 && code <= 74);
}

void satInc(uint16_t& c) {
  if (c != 0xFFFF) ++c;
}

}  // namespace

void decoder_unpacketize(const HAPI_PKT_EGRESS_HDR* packet, uint16_t* lastBadCode, PVE_PKT_EVT_INFO* evtInfo,
                         AJC_OBJ* jb) {
  decoder_unpacketize(packet, lastBadCode, hsgpvepktsize.data(), evtInfo, jb);
}

void decoder_unpacketize(const HAPI_PKT_EGRESS_HDR* packet, uint16_t* lastBadCode, const uint16_t* pktSize,
                         PVE_PKT_EVT_INFO* evtInfo, AJC_OBJ* jb) {
  const uint8_t packetType = static_cast<uint8_t>(packet->payloadID >> 8);
  const unsigned packetCode = packet->payloadID & 0xFF;
  const uint16_t length = packet->payloadLength;
  const uint16_t size = checkSize(packetCode, length, pktSize);
  if (size < 1 || size > PVE_MAX_PAYLOAD_BYTES) {
    if (*lastBadCode != packetCode) {
      *lastBadCode = static_cast<uint16_t>(packetCode);
      hsfObdSendStd(HAPI_PVE_EXCEPTION, 17, static_cast<uint16_t>(packetCode));
    }
    return;
  }
  if (length > PVE_MAX_PAYLOAD_BYTES) return;

  const auto* words = reinterpret_cast<const uint16_t*>(packet + 1);
  uint16_t timestamp = packet->payloadTimeStampLow;
  uint16_t duration = 0;
  unsigned offset = 0;
  uint16_t index = 0;
  while (offset < length) {
    const unsigned remaining = length - offset;
    const Frame f = nextFrame(packetType, packetCode, words, offset, remaining, pktSize);
    if (!f.ok || f.bytes == 0 || f.bytes > remaining) {
      hsfObdSendStd(HAPI_PVE_EXCEPTION, 1, length);
      break;
    }
    if (f.type == HAPI_PKT_SID) hsfObdSendStd(HAPI_PVE_SID_EGRESS_EVENT, f.code == HAPI_PKT_VC_GENERIC_SID ? 0 : 1, 0);
    const uint16_t t = frameTime(f.code);
    // A no-data frame carries nothing to play: it only holds its place in time. (Filed, its
    // unknown class would flush the whole buffer.)
    if (f.type != HAPI_PKT_UNKNOWN && jb != nullptr) {
      satInc(jb->statsp->packetCount);
      // Move the buffer to the frame's rate before taking a slot: a resize lays the store out anew.
      if (resizesBuffer(f.code) && f.code != jb->statep->currentDec) {
        ajcReset(jb, f.code, AJC_RESET_RESIZE);
        jb->statep->currentDec = f.code;
      }
      AJC_PKT_HDR rec{};
      rec.payloadID = static_cast<uint16_t>(f.type << 8 | f.code);
      rec.payloadLength = f.bytes;
      rec.timestamp = timestamp;
      const int slot = searchFreeIndex(&jb->payloadQ);
      if (slot < 0) {
        rec.payloadID = f.code;  // no room: no data, which the buffer takes as a flush
      } else {
        rec.flags = static_cast<uint16_t>((f.code == HAPI_PKT_VC_GENERIC_SID ? 0 : index & 0xFF) | slot << 8);
        uint16_t* dst = ajcSlotPtr(&jb->payloadQ, static_cast<unsigned>(slot));
        const unsigned room = jb->payloadQ.entrySizeInWords * 2u;
        const unsigned n = std::min<unsigned>(f.bytes, room);
        LHAPI_ASSERT(n == f.bytes);
        if (offset % 2 == 0) {
          std::copy(words + offset / 2, words + offset / 2 + (n + 1) / 2, dst);
        } else {
          for (unsigned i = 0; i < n; ++i) pvePayloadPutByte(dst, i, pvePayloadByte(words, offset + i));
        }
      }
      ajcHandlePacketArrival(jb, &rec, index);
    }
    timestamp = static_cast<uint16_t>(timestamp + t);
    duration = static_cast<uint16_t>(duration + t);
    offset += f.bytes;
    ++index;
  }

  if (packetType != HAPI_PKT_VOICE) {
    evtInfo->consFrameCount = 0;
    return;
  }
  if (duration == evtInfo->prevFrameDur && duration != evtInfo->evtFrameDur && evtInfo->consFrameCount >= 2) {
    hsfObdSendStd(HAPI_PVE_EGRESS_FRAME_CHANGE_EVENT, static_cast<uint16_t>(duration / 8), 0);
    evtInfo->evtFrameDur = duration;
  }
  evtInfo->prevFrameDur = duration;
  satInc(evtInfo->consFrameCount);
}
