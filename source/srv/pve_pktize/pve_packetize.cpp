// Superpackets on the ingress side: coded frames of one payload type back to back behind one
// header, sent once they span the superpacket interval.
#include <cstring>

#include "hsf/hsf.h"
#include "lhapi.h"
#include "pve_pktize.h"

uint8_t pvePayloadByte(const uint16_t* words, unsigned index) {
  return static_cast<uint8_t>(index % 2 == 0 ? words[index / 2] >> 8 : words[index / 2] & 0xFF);
}

void pvePayloadPutByte(uint16_t* words, unsigned index, uint8_t value) {
  uint16_t& w = words[index / 2];
  w = index % 2 == 0 ? static_cast<uint16_t>((w & 0x00FF) | (value << 8)) : static_cast<uint16_t>((w & 0xFF00) | value);
}

namespace {

HAPI_PKT_HDR* headerOf(uint16_t* buf) { return reinterpret_cast<HAPI_PKT_HDR*>(buf); }
uint16_t* payloadOf(uint16_t* buf) { return buf + sizeof(HAPI_PKT_HDR) / 2; }
const uint16_t* payloadOf(const HAPI_PKT_HDR* frame) { return reinterpret_cast<const uint16_t*>(frame + 1); }

int familyOf(unsigned code) {
  if (code == 9 || code == 10 || code == 83) return 1;
  if ((code >= 18 && code <= 25) || code == 84) return 2;
  if ((code >= 26 && code <= 33) || code == 87) return 3;
  if ((code >= 50 && code <= 58) || code == 86) return 4;
  if ((code >= 59 && code <= 67) || code == 88) return 5;
  return 0;
}

// Self-delimited payloads (Opus packets, AMR payloads with their own table of contents) cannot
// be concatenated without separators: each goes in a superpacket of its own.
bool closesAfterEachFrame(unsigned code) { return pveIsOpus(code) || familyOf(code) >= 2; }

void append(uint16_t* superbuf, const HAPI_PKT_HDR* frame) {
  HAPI_PKT_HDR* sp = headerOf(superbuf);
  const unsigned at = sp->payloadLength;
  const unsigned n = frame->payloadLength;
  uint16_t* dst = payloadOf(superbuf);
  const uint16_t* src = payloadOf(frame);
  if (at % 2 == 0) {
    std::memcpy(dst + at / 2, src, ((n + 1) / 2) * sizeof(uint16_t));
  } else {
    for (unsigned i = 0; i < n; ++i) pvePayloadPutByte(dst, at + i, pvePayloadByte(src, i));
  }
  sp->payloadLength = static_cast<uint16_t>(at + n);
}

void open(uint16_t* superbuf, const HAPI_PKT_HDR* frame, HSZSUPERPKTCTL* ctl) {
  HAPI_PKT_HDR* sp = headerOf(superbuf);
  ctl->packetNull = false;
  sp->payloadLength = 0;
  sp->payloadID = frame->payloadID;
  sp->payloadTimeStampHigh = frame->payloadTimeStampHigh;
  sp->payloadTimeStampLow = frame->payloadTimeStampLow;
  ctl->payloadCountDown = ctl->superpacketinterval;
}

void closeAndSend(uint16_t* superbuf, HSZSUPERPKTCTL* ctl) {
  sendNetSuperPacket(superbuf);
  ctl->packetNull = true;
  ctl->payloadCountDown = 0;
}

void sendAlone(const HAPI_PKT_HDR* frame) {
  const uint16_t even = static_cast<uint16_t>((frame->payloadLength + 1) & ~1u);
  hsfIbdSendExt(HSF_IBD_PACKET, HAPI_NET_INGRESSPACKET_EVT, static_cast<uint16_t>(even + sizeof(HAPI_PKT_HDR)),
                const_cast<HAPI_PKT_HDR*>(frame));
}

}  // namespace

void sendNetSuperPacket(uint16_t* superbuf) {
  HAPI_PKT_HDR* sp = headerOf(superbuf);
  const uint16_t even = static_cast<uint16_t>((sp->payloadLength + 1) & ~1u);
  const uint16_t length = static_cast<uint16_t>(even + sizeof(HAPI_PKT_HDR));
  void* copy = hsfMemAllocScratch(length);
  if (copy != nullptr) {
    std::memcpy(copy, superbuf, length);
    hsfIbdSendExt(HSF_IBD_PACKET, HAPI_NET_INGRESSPACKET_EVT, length, copy);
  }
  sp->payloadLength = 0;
}

void encoder_packetize(uint16_t* superbuf, const HAPI_PKT_HDR* frame, HSZSUPERPKTCTL* ctl) {
  const uint8_t type = static_cast<uint8_t>(frame->payloadID >> 8);
  const unsigned code = frame->payloadID & 0xFF;
  if (superbuf == nullptr && type != HAPI_PKT_TONE) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  switch (type) {
    case HAPI_PKT_UNKNOWN:
      // Nothing coded: the frames gathered so far go out now rather than be joined to frames
      // from after the gap, which their header's timestamp would misplace.
      if (!ctl->packetNull) closeAndSend(superbuf, ctl);
      return;
    case HAPI_PKT_VOICE:
    case HAPI_PKT_VOICEBANDDATA: {
      if (!ctl->packetNull) {
        const unsigned openCode = headerOf(superbuf)->payloadID & 0xFF;
        if (headerOf(superbuf)->payloadID != frame->payloadID &&
            !(ctl->piggyOption && familyOf(openCode) != 0 && familyOf(openCode) == familyOf(code))) {
          LHAPI_ASSERT_FAIL();
        }
      } else {
        open(superbuf, frame, ctl);
      }
      append(superbuf, frame);
      ctl->payloadCountDown = static_cast<int16_t>(ctl->payloadCountDown - ctl->threadsize);
      if (pveIsIsac(code) || closesAfterEachFrame(code)) ctl->payloadCountDown = 0;
      if (ctl->payloadCountDown <= 0) closeAndSend(superbuf, ctl);
      return;
    }
    case HAPI_PKT_SID: {
      if (!ctl->packetNull) {
        bool appended = false;
        if (code < 82 || code > 88) {
          LHAPI_ASSERT_FAIL();
        } else if (code >= 86 || code == 84 || ctl->piggyOption) {
          append(superbuf, frame);
          appended = true;
        }
        closeAndSend(superbuf, ctl);
        if (appended) return;
      }
      sendAlone(frame);
      return;
    }
    case HAPI_PKT_TONE:
      if (superbuf != nullptr) headerOf(superbuf)->payloadLength = 0;
      ctl->packetNull = true;
      ctl->payloadCountDown = 0;
      sendAlone(frame);
      return;
    default:
      sendAlone(frame);
      return;
  }
}
