// Fax-relay packets out of the service, commands to the modems and events to the host.
#include <cstring>

#include "faxr_int.h"

namespace faxr {

uint16_t bitrev16(uint16_t w) {
  w = static_cast<uint16_t>(((w & 0x5555) << 1) | ((w >> 1) & 0x5555));
  w = static_cast<uint16_t>(((w & 0x3333) << 2) | ((w >> 2) & 0x3333));
  w = static_cast<uint16_t>(((w & 0x0F0F) << 4) | ((w >> 4) & 0x0F0F));
  return static_cast<uint16_t>((w << 8) | (w >> 8));
}

void hsffaxrbitrev(uint16_t* words, int n) {
  // four words at once, each reversed in its own 16 bits of a 64-bit value
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    uint64_t w;
    std::memcpy(&w, words + i, sizeof(w));
    w = ((w & 0x5555555555555555u) << 1) | ((w >> 1) & 0x5555555555555555u);
    w = ((w & 0x3333333333333333u) << 2) | ((w >> 2) & 0x3333333333333333u);
    w = ((w & 0x0F0F0F0F0F0F0F0Fu) << 4) | ((w >> 4) & 0x0F0F0F0F0F0F0F0Fu);
    w = ((w & 0x00FF00FF00FF00FFu) << 8) | ((w >> 8) & 0x00FF00FF00FF00FFu);
    std::memcpy(words + i, &w, sizeof(w));
  }
  for (; i < n; ++i) words[i] = bitrev16(words[i]);
}

uint8_t pktCode(const HAPI_PKT_HDR* p) { return static_cast<uint8_t>(p->payloadID & 0xFF); }

uint16_t* pktData(HAPI_PKT_HDR* p) { return reinterpret_cast<uint16_t*>(p + 1) + 1; }

void setPktBits(HAPI_PKT_HDR* p, uint16_t bits) {
  *reinterpret_cast<uint16_t*>(p + 1) = bits;
  p->payloadLength = static_cast<uint16_t>(((bits + 15) / 16 + 1) * 2);
}

uint16_t pktBits(const HAPI_PKT_HDR* p) {
  if (p->payloadLength < 2) return 0;
  const uint16_t bits = *reinterpret_cast<const uint16_t*>(p + 1);
  const uint32_t room = (static_cast<uint32_t>(p->payloadLength) - 2u) * 8u;
  return static_cast<uint16_t>(bits < room ? bits : room);
}

void count16(uint16_t& c) {
  if (c != 0xFFFF) ++c;
}

void restartSilence(HSZFAXRLOCLMEM* m) {
  if (m->hsxfaxrstate.silenceTimer < 0xFFFF) m->hsxfaxrstate.silenceTimer = 0;
}

namespace {

bool controlCode(uint8_t code) { return (code >= 1 && code <= 22) || code == 63 || code == 64; }

uint16_t nextStamp(HSZFAXRLOCLMEM* m) {
  uint16_t stamp = m->hsxTimeStamp;
  // stamps never repeat: while the last one is up to 8 ahead, count on from it
  if (m->sentAny && static_cast<uint16_t>(m->hsxoldTimeStamp - stamp) <= 8)
    stamp = static_cast<uint16_t>(m->hsxoldTimeStamp + 1);
  m->hsxoldTimeStamp = stamp;
  m->sentAny = true;
  return stamp;
}

}  // namespace

int hsffaxrsendpacket(HSZFAXRLOCLMEM* m, uint8_t code, const uint16_t* data, uint16_t bits) {
  if (bits > FAXR_MAX_PKT_BITS + 16 * 8) bits = FAXR_MAX_PKT_BITS + 16 * 8;
  const uint16_t words = data != nullptr ? static_cast<uint16_t>((bits + 15) / 16) : 0;
  const uint16_t payloadBytes = data != nullptr ? static_cast<uint16_t>((words + 1) * 2) : 0;
  const int copies = controlCode(code) ? m->hsxfaxrregs.hsxnumv21msgsend + 1 : 1;
  const uint16_t stamp = nextStamp(m);
  int result = 0;
  for (int c = 0; c < copies; ++c) {
    auto* hdr = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratchNoAssert(sizeof(HAPI_PKT_HDR) + payloadBytes));
    if (hdr == nullptr) {
      count16(m->hsxfaxrStats.ingress.hsxOverrunCount);
      result = -1;
      continue;
    }
    hdr->payloadID = static_cast<uint16_t>(0x0500 | code);
    hdr->payloadLength = payloadBytes;
    hdr->payloadTimeStampHigh = 0;
    hdr->payloadTimeStampLow = stamp;
    if (data != nullptr) {
      auto* p = reinterpret_cast<uint16_t*>(hdr + 1);
      p[0] = bits;
      std::memcpy(p + 1, data, words * 2u);
      if (bits & 15) p[words] = static_cast<uint16_t>(p[words] & (0xFFFF << (16 - (bits & 15))));
    }
    hsfIbdSendExt(kToNetMask, 0, static_cast<uint16_t>(sizeof(HAPI_PKT_HDR) + payloadBytes), hdr);
    count16(m->hsxfaxrStats.ingress.hsxFrameCount);
  }
  ++m->hsxSeqNum;
  if (code == FAXR_PKT_V21_PREAMBLE)
    m->hsxfaxrstate.silenceTimer = 0;
  else
    restartSilence(m);
  return result;
}

void hsffaxrsendcmd(uint16_t header, uint16_t op1, uint16_t op2) { hsfObdSendStd(header, op1, op2); }

uint16_t* allocExtCmd(HSZFAXRLOCLMEM* m, uint16_t bytes, bool ingress) {
  auto* block = static_cast<uint16_t*>(hsfMemAllocScratchNoAssert(bytes));
  if (block == nullptr) {
    if (ingress)
      count16(m->hsxfaxrStats.ingress.hsxOverrunCount);
    else
      count16(m->hsxfaxrStats.egress.hsxOverrunCount);
  }
  return block;
}

bool hsffaxrsendextcmd(HSZFAXRLOCLMEM* m, uint16_t header, const uint16_t* words, uint16_t bytes, bool ingress) {
  uint16_t* copy = allocExtCmd(m, bytes, ingress);
  if (copy == nullptr) return false;
  std::memcpy(copy, words, bytes);
  hsfObdSendExt(header, bytes, copy);
  return true;
}

void faxrEvent(HSZFAXRLOCLMEM* m, uint16_t code, uint16_t op1, uint16_t op2, bool always) {
  if (!always && m->hsxfaxrregs.hsxfaxrsendevents == 0) return;
  hsfObdSendStd(code, op1, op2);
}

}  // namespace faxr
