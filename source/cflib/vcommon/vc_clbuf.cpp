// Client buffers: receive packing, transmit reading and packing, local-modem events.
#include "vc_clbuf.h"

#include "hsf/hsf.h"
#include "lhapi.h"
#include "vc_baud.h"

namespace {

VCEVENTSINK gEventSink = nullptr;

constexpr HSF_IBD_MASK kLocalModemMask = 0x10;

uint16_t* newPacket(MEM_BufPool* pool, uint16_t bits) {
  auto* p = static_cast<uint16_t*>(hsfBmAllocDirect(pool, vcPktWords(bits) * 2u));
  if (p != nullptr) p[0] = 0;
  return p;
}

uint16_t* queueTail(QMQUEUE* q) {
  void* p = MEM_QueueHead(q);
  if (p == nullptr) return nullptr;
  while (void* n = MEM_QueueNext(p)) p = n;
  return static_cast<uint16_t*>(p);
}

// Appends n (at most 16) bits, bit 0 first, at bit position `at` of the packet's data words. A word
// is cleared when its first bit is written, so the bits above the last one written stay zero.
void putBits(uint16_t* pkt, uint32_t at, uint32_t bits, int n) {
  while (n > 0) {
    uint16_t& w = pkt[1 + (at >> 4)];
    const int offset = static_cast<int>(at & 15);
    const int k = n < 16 - offset ? n : 16 - offset;
    const uint32_t part = bits & ((1u << k) - 1);
    w = static_cast<uint16_t>(offset == 0 ? part : w | (part << offset));
    bits >>= k;
    at += static_cast<uint32_t>(k);
    n -= k;
  }
}

}  // namespace

void vcfSetEventSink(VCEVENTSINK sink) { gEventSink = sink; }

void vcfGenEventStd(uint16_t code, uint16_t op1, uint16_t op2) {
  if (gEventSink != nullptr) {
    gEventSink(code, op1, op2, nullptr);
    return;
  }
  hsfIbdSendStd(kLocalModemMask, code, op1, op2);
}

void vcfGenEventExt(uint16_t code, uint16_t words, uint16_t* packet) {
  if (packet == nullptr) return;
  const uint16_t bytes = static_cast<uint16_t>(words * 2);
  if (gEventSink != nullptr) {
    gEventSink(code, bytes, 0, packet);
  } else if (void* copy = hsfMemAllocScratch(bytes)) {
    QRN_memcpy(copy, packet, bytes);
    hsfIbdSendExt(kLocalModemMask, code, bytes, copy);
  }
  hsfBmFree(packet);
}

// ---- receive side ----

void vcfInitCopyToClBuf(VCZCPYTOCLBUF* c, uint16_t packetBits, MEM_BufPool* pool, uint16_t evt) {
  c->rxNumbits = packetBits;
  c->heapId = pool;
  c->rxDataSentEvt = evt;
  MEM_InitQueue(&c->pktQ);
  c->wipPacketp = newPacket(pool, packetBits);
  c->wipWritep = c->wipPacketp != nullptr ? c->wipPacketp + 1 : nullptr;
  c->wipBitPtr = 0;
}


void vcfCopyToClBuf(VCZCPYTOCLBUF* c, uint16_t bits, uint16_t n) {
  if (vcPutSymbolBits(c, bits, n)) return;
  // as many bits at a time as the packet being filled still takes
  uint32_t rest = bits;
  for (uint16_t i = 0; i < n;) {
    if (c->wipPacketp == nullptr) {
      c->wipPacketp = newPacket(c->heapId, c->rxNumbits);
      c->wipBitPtr = 0;
      if (c->wipPacketp == nullptr) return;  // no block: the rest of this call's bits are lost
      c->wipWritep = c->wipPacketp + 1;
    }
    uint16_t* pkt = c->wipPacketp;
    const int room = pkt[0] < c->rxNumbits ? c->rxNumbits - pkt[0] : 1;
    const int k = n - i < room ? n - i : room;
    putBits(pkt, pkt[0], rest, k);
    rest >>= k;
    i = static_cast<uint16_t>(i + k);
    pkt[0] = static_cast<uint16_t>(pkt[0] + k);
    c->wipBitPtr = pkt[0] & 15;
    c->wipWritep = pkt + 1 + (pkt[0] >> 4);
    if (pkt[0] >= c->rxNumbits) {
      MEM_QueueEnq(&c->pktQ, pkt);
      c->wipPacketp = nullptr;
    }
  }
}

VCBDMSTATUS vcfRxClbuf(VCZRXMEM* r, VCZBUF*) {
  vcRxClbufSymbol(r->rxCpyToBufp, r->desout, r->rxnumBits);
  return 0;
}

void vcfSendFullRxDataPkts(void*, VCZCPYTOCLBUF* c) {
  while (auto* pkt = static_cast<uint16_t*>(MEM_QueueDeq(&c->pktQ)))
    vcfGenEventExt(c->rxDataSentEvt, vcPktWords(pkt[0]), pkt);
}

void vcfFlushRxDataPkts(void* srv, VCZCPYTOCLBUF* c) {
  vcfSendFullRxDataPkts(srv, c);
  if (c->wipPacketp != nullptr) {
    if (c->wipPacketp[0] > 0)
      vcfGenEventExt(c->rxDataSentEvt, vcPktWords(c->wipPacketp[0]), c->wipPacketp);
    else
      hsfBmFree(c->wipPacketp);
    c->wipPacketp = nullptr;
  }
}

void vcfDumpRxDataPkts(VCZCPYTOCLBUF* c) {
  hsfQmFlush(&c->pktQ);
  if (c->wipPacketp != nullptr) hsfBmFree(c->wipPacketp);
  c->wipPacketp = nullptr;
}

void vcfInitRxTCF(VCZBAUD* baud, VCESYMBOLRATE symbolRate) {
  baud->rxflow.rxcntr = static_cast<int16_t>(vcgSymbolRateLUT[symbolRate] * 12 / 10);
  baud->rxmem.onesInTCF = 0;
  baud->rxflow.hookf = vcfRxTCF;
}

VCBDMSTATUS vcfRxTCF(VCZBAUD* baud) {
  VCZRXMEM& r = baud->rxmem;
  const uint16_t mask = static_cast<uint16_t>(r.rxnumBits >= 16 ? 0xFFFF : (1u << r.rxnumBits) - 1);
  r.onesInTCF = static_cast<uint16_t>(r.onesInTCF + vcPopcount(r.desout & mask));
  return 0;
}

// ---- transmit side ----

void vcfInitCopyFromClBuf(VCZCPYFRMCLBUF* c, uint16_t txDataSent, uint16_t txCmdQLow,
                          uint16_t txCmdQUflow, uint16_t lowThresh, const VCZIDLEPTN* idle, void* srv,
                          VCETXMODE txMode, QMQUEUE* queue) {
  *c = VCZCPYFRMCLBUF{};
  c->eventCode = VCZEVENTCODE{txDataSent, txCmdQLow, txCmdQUflow};
  c->txCmdQLowThresh = lowThresh;
  c->idlePatternp = idle;
  c->srvp = srv;
  c->txMode = txMode;
  c->txQp = queue;
  if (queue != nullptr) hsfQmFlush(queue);
}

namespace {

void finishClientPacket(VCZCPYFRMCLBUF* c) {
  if (c->txDataCmdRd && c->packetp != nullptr) {
    const uint16_t words = vcPktWords(c->packetp[0]);  // taken before the release
    vcfGenEventStd(c->eventCode.txDataSent, words, 0);
    hsfBmFree(c->packetp);
  }
  c->packetp = nullptr;
  c->txDataCmdRd = 0;
}

// Makes the next queued packet with bits the source; false when the queue ran dry.
bool takeClientPacket(VCZCPYFRMCLBUF* c) {
  if (c->txQp == nullptr) return false;
  while (auto* pkt = static_cast<uint16_t*>(MEM_QueueDeq(c->txQp))) {
    if (pkt[0] == 0) {
      vcfGenEventStd(c->eventCode.txDataSent, vcPktWords(0), 0);
      hsfBmFree(pkt);
      continue;
    }
    c->packetp = pkt;
    c->txDataCmdRd = 1;
    c->clBufp = pkt + 1;
    c->txBitsRem = pkt[0];
    c->clientBitsRem += pkt[0];
    c->uflowSent = false;
    const uint32_t left = MEM_QueueCount(c->txQp);
    if (left <= c->txCmdQLowThresh) {
      if (!c->lowSent) {
        vcfGenEventStd(c->eventCode.txCmdQLow, static_cast<uint16_t>(left), 0);
        c->lowSent = true;
      }
    } else {
      c->lowSent = false;
    }
    return true;
  }
  return false;
}

// The source's words into the reservoir while it has room for a whole one; bits of the idle
// pattern are not flagged as client bits.
inline void refillReservoir(VCZCPYFRMCLBUF* c, bool idleSource) {
  while (c->txBitsRem > 0 && c->curWordBitPtr <= 16) {
    const uint16_t k = c->txBitsRem < 16 ? c->txBitsRem : 16;
    const uint32_t bits = *c->clBufp++ & ((1u << k) - 1);
    c->curWord |= bits << c->curWordBitPtr;
    if (!idleSource) c->curWordRealMask |= ((1u << k) - 1) << c->curWordBitPtr;
    c->curWordBitPtr = static_cast<uint16_t>(c->curWordBitPtr + k);
    c->txBitsRem = static_cast<uint16_t>(c->txBitsRem - k);
  }
}

// The general copy: any number of bits, refilling the reservoir from the client's packets or the
// idle pattern as it runs dry. Apart from the common case, so that this one's setup stays off it.
__attribute__((noinline)) uint16_t copyThroughReservoir(VCZCPYFRMCLBUF* c, uint16_t* out, uint16_t n) {
  const int words = (n + 15) / 16;
  for (int i = 0; i < words; ++i) out[i] = 0xFFFF;
  // The reservoir carries a flag per bit: set for client bits, clear for idle-pattern bits.
  uint32_t& realMask = c->curWordRealMask;
  uint16_t delivered = 0, real = 0;
  bool idleSource = c->txDataCmdRd == 0 && c->txBitsRem > 0;
  while (delivered < n) {
    const uint16_t need = static_cast<uint16_t>(n - delivered < 16 ? n - delivered : 16);
    if (c->curWordBitPtr >= need) {
      const uint32_t mask = (1u << need) - 1;
      uint16_t& w = out[delivered >> 4];
      const int shift = delivered & 15;
      w = static_cast<uint16_t>((w & ~(mask << shift)) | ((c->curWord & mask) << shift));
      real = static_cast<uint16_t>(real + vcPopcount(realMask & mask));
      c->curWord >>= need;
      realMask >>= need;
      c->curWordBitPtr = static_cast<uint16_t>(c->curWordBitPtr - need);
      delivered = static_cast<uint16_t>(delivered + need);
      continue;
    }
    if (c->txBitsRem > 0) {
      refillReservoir(c, idleSource);
      continue;
    }
    finishClientPacket(c);
    if (takeClientPacket(c)) {
      idleSource = false;
      continue;
    }
    if (!c->uflowSent) {
      if (c->eventCode.txCmdQUflow != 0) vcfGenEventStd(c->eventCode.txCmdQUflow, 0, 0);
      c->uflowSent = true;
    }
    if (c->txMode == VCASYNC && c->idlePatternp != nullptr) {
      const uint16_t* ptn = c->idlePatternp->idlePtn[c->idlePatternp->activePtn & 1];
      if (ptn[0] > 0) {
        c->clBufp = ptn + 1;
        c->txBitsRem = ptn[0] > 64 ? 64 : ptn[0];
        idleSource = true;
        continue;
      }
    }
    // Synchronous end of data: what the reservoir still holds goes out with zeros above it.
    if (c->curWordBitPtr > 0) {
      const uint32_t mask = (1u << c->curWordBitPtr) - 1;
      out[delivered >> 4] = static_cast<uint16_t>(c->curWord & mask);
      real = static_cast<uint16_t>(real + vcPopcount(realMask & mask));
      delivered = static_cast<uint16_t>(delivered + c->curWordBitPtr);
      c->curWord = 0;
      realMask = 0;
      c->curWordBitPtr = 0;
    }
    break;
  }
  c->clientBitsRem = c->clientBitsRem > real ? c->clientBitsRem - real : 0;
  return real;
}

}  // namespace

uint16_t vcfCopyFromClBufGeneral(VCZCPYFRMCLBUF* c, uint16_t* out, uint16_t n) {
  // A symbol's few bits from a reservoir that will hold them once the words left in the source
  // are in (vcfCopyFromClBuf has taken those it holds already): what the general copy does for
  // it, without its setup.
  if (n > 0 && n <= 16 && c->curWordBitPtr < n && c->txBitsRem > 0 &&
      c->curWordBitPtr + (c->txBitsRem < 16 ? c->txBitsRem : 16) >= n) {
    refillReservoir(c, c->txDataCmdRd == 0);
    return vcTakeHeldBits(c, out, n);
  }
  return copyThroughReservoir(c, out, n);
}

int vcfPackData(MEM_BufPool* pool, QMQUEUE* queue, uint16_t* packet, uint16_t blockBytes) {
  uint16_t* last = queueTail(queue);
  const int32_t capacity = blockBytes * 8 - 16;  // data bits of one block
  if (last == nullptr || last[0] >= capacity) {
    MEM_QueueEnq(queue, packet);
    return 1;
  }
  const int32_t room = capacity - last[0];
  const uint16_t bits = packet[0];
  if (bits <= room) {
    vcfbitcopy(last + 1, last[0], packet + 1, 0, bits);
    last[0] = static_cast<uint16_t>(last[0] + bits);
    hsfBmFree(packet);
    return 0;
  }
  vcfbitcopy(last + 1, last[0], packet + 1, 0, static_cast<uint32_t>(room));
  last[0] = static_cast<uint16_t>(last[0] + room);
  if (last[0] != (blockBytes - 2) * 8) LHAPI_ASSERT_FAIL();
  const uint16_t rest = static_cast<uint16_t>(bits - room);
  if (uint16_t* tail = newPacket(pool, rest)) {
    vcfbitcopy(tail + 1, 0, packet + 1, static_cast<uint32_t>(room), rest);
    tail[0] = rest;
    MEM_QueueEnq(queue, tail);
    hsfBmFree(packet);
  } else {
    // No block for the remainder: move the tail bits down inside the arriving packet and queue
    // it, so nothing is lost. Reads run ahead of writes, so the move is safe in place.
    uint16_t* d = packet + 1;
    for (uint32_t i = 0; i < rest; ++i) {
      const uint32_t from = room + i;
      const bool bit = (d[from >> 4] >> (from & 15)) & 1;
      const uint16_t m = static_cast<uint16_t>(1u << (i & 15));
      d[i >> 4] = static_cast<uint16_t>(bit ? d[i >> 4] | m : d[i >> 4] & ~m);
    }
    if (rest & 15) d[rest >> 4] &= static_cast<uint16_t>((1u << (rest & 15)) - 1);
    packet[0] = rest;
    MEM_QueueEnq(queue, packet);
  }
  return 1;
}

void vcfDumpTxDataPkts(VCZCPYFRMCLBUF* c) {
  finishClientPacket(c);
  if (c->txQp != nullptr) {
    while (auto* pkt = static_cast<uint16_t*>(MEM_QueueDeq(c->txQp))) {
      vcfGenEventStd(c->eventCode.txDataSent, vcPktWords(pkt[0]), 0);
      hsfBmFree(pkt);
    }
  }
  c->txBitsRem = 0;
  c->curWord = 0;
  c->curWordRealMask = 0;
  c->curWordBitPtr = 0;
}
