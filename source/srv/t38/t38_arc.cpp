// The T.38 service's record, commands and per-frame work.
#include <algorithm>
#include <bit>
#include <cstring>

#include "lhapi.h"
#include "t38.h"

const HSFSRVARC t38arc = {HAPI_T38_SRV, sizeof(T38ZLOCLMEM), t38IOctl, t38Ingress, t38Egress, t38Init, nullptr};

namespace {

constexpr HSF_IBD_MASK kPacketMask = 0x2;
constexpr HSF_IBD_MASK kT38Mask = 0x100;
constexpr HSF_IBD_MASK kRelayMask = 0x8002;
constexpr size_t kIpUdpRoom = 28;  // an IPv4 and a UDP header fit in front of the datagram

void count32(uint16_t& high, uint16_t& low) {
  if (++low == 0) ++high;
}

void syncStats(T38ZLOCLMEM* m) {
  m->stats.ingress.unknownPkt = m->conv.unknownPkt;
  m->stats.egress.reorderCount = m->rx.reorderCount;
  m->stats.egress.failtoReorderCount = m->rx.failtoReorderCount;
  m->stats.egress.invalidIFPCount = m->rx.invalidIFPCount;
  m->stats.egress.bufferPoolDry = m->rx.bufferPoolDry;
}

void zeroStats(T38ZLOCLMEM* m) {
  m->stats = HAPI_T38_STATS{};
  m->conv.unknownPkt = 0;
  m->rx.reorderCount = m->rx.failtoReorderCount = m->rx.invalidIFPCount = m->rx.bufferPoolDry = 0;
}

void flushAll(T38ZLOCLMEM* m) {
  hsfQmFlush(&m->ingressHapiPktq);
  DG_HDL h;
  while (dg_deq(&m->rx.egressPktq, &h)) dg_free(dg_QmPeekFront(&h.qhdr));
  while (dg_deq(&m->rx.drainq, &h)) dg_free(dg_QmPeekFront(&h.qhdr));
  m->tx.historyLen = 0;
}

void enable(T38ZLOCLMEM* m) {
  m->shutdown = false;
  m->egressTimeStamp = 1;
  m->conv.msgtype = 0;
  m->conv.flushState = 0;
  m->conv.flushMode = 0;
  m->conv.flushRepeats = 0;
  m->lossInFrame = false;
  m->lossInFrameOut = false;
  m->v21FrameOpen = false;
  m->v21Contested = false;
  m->frameData = 0;
  m->handedKnown = false;
  // the per-call state restarts; the statistics do not
  const uint16_t rc = m->rx.reorderCount, fr = m->rx.failtoReorderCount, inv = m->rx.invalidIFPCount,
                 dry = m->rx.bufferPoolDry;
  t38fUDPTXInit(&m->tx);
  t38fReorderInit(&m->rx, m->heapId);
  m->rx.reorderCount = rc;
  m->rx.failtoReorderCount = fr;
  m->rx.invalidIFPCount = inv;
  m->rx.bufferPoolDry = dry;
  m->resetStats = false;
  m->state.status |= HAPI_T38_ENABLE;
}

bool enabled(const T38ZLOCLMEM* m) { return (m->state.status & HAPI_T38_ENABLE) != 0; }

// ---- ingress: fax-relay packets to datagrams ----

uint8_t frameEndAfterLoss(bool& loss, uint8_t code);

// Whether a fax-relay code is an HDLC frame's octets or its end, V.21 or ECM.
bool isHdlcPart(uint8_t code) {
  return (code >= HAPI_PKT_FC_LAST_INDICATOR + 1 && code <= HAPI_PKT_FC_V21_END_BAD_FINAL) ||
         (code >= HAPI_PKT_FC_ECM_DATA_FIRST && code <= HAPI_PKT_FC_ECM_END_BAD_LAST);
}

void takeRelayPackets(T38ZLOCLMEM* m) {
  HSFMSG msg;
  for (unsigned i = 0; hsfIbdPeekOrRecv(kPacketMask, &msg, i, HSF_IBD_PEEK) != 0;) {
    const auto* hdr = static_cast<const HAPI_PKT_HDR*>(msg.ext.bufp);
    if (HAPI_OPCODE_IS_STD(msg.std.header) || hdr == nullptr || msg.ext.length < sizeof(HAPI_PKT_HDR) ||
        (hdr->payloadID >> 8) != 5) {
      ++i;  // not a fax-relay packet: left for others
      continue;
    }
    hsfIbdPeekOrRecv(kPacketMask, &msg, i, HSF_IBD_RECEIVE);
    // the packet is its header and payload, bounded by what the message carries and by a block
    size_t bytes = sizeof(HAPI_PKT_HDR) + hdr->payloadLength;
    if (bytes > msg.ext.length) bytes = msg.ext.length;
    if (bytes > T38_BLOCK_BYTES) bytes = T38_BLOCK_BYTES;
    if (bytes & 1) LHAPI_ASSERT_FAIL();
    void* block = hsfBmAllocDirect(m->heapId, T38_BLOCK_BYTES);
    // a frame that lost octets or its end on the way out must not end good at the far end: its
    // end, or the end of the frame its octets then run into, goes out bad
    const uint8_t code = static_cast<uint8_t>(hdr->payloadID & 0xFF);
    if (block == nullptr) {
      ++m->stats.ingress.bufferPoolDry;
      if (isHdlcPart(code)) m->lossInFrameOut = true;
      continue;
    }
    std::memset(block, 0, T38_BLOCK_BYTES);
    std::memcpy(block, hdr, bytes);
    auto* copy = static_cast<HAPI_PKT_HDR*>(block);
    copy->payloadLength = static_cast<uint16_t>(bytes - sizeof(HAPI_PKT_HDR));
    copy->payloadID = static_cast<uint16_t>((copy->payloadID & 0xFF00) | frameEndAfterLoss(m->lossInFrameOut, code));
    MEM_QueueEnq_Unprotected(&m->ingressHapiPktq, block);
  }
}

int toIfp(T38ZLOCLMEM* m, const HAPI_PKT_HDR* hdr, uint8_t* ifp) {
  const auto* payload = reinterpret_cast<const uint16_t*>(hdr + 1);
  return t38fHapiPktToIFPpkt(&m->conv, static_cast<uint8_t>(m->regs.numRedundantIFP & 0xFF), hdr,
                             hdr->payloadLength ? payload : nullptr, ifp, T38_MAX_IFP);
}

void sendDatagram(T38ZLOCLMEM* m, const uint8_t* ifp, int len) {
  const bool fastData = (ifp[0] & 0x40) && ((ifp[0] & 0x20) || ((ifp[0] >> 1) & 15) != 0);
  const int n = fastData ? (m->regs.numRedundantIFP >> 8) : (m->regs.numRedundantIFP & 0xFF);
  const size_t size = getUDPTLpktSize(len, n, m->tx.history, m->tx.historyLen);
  auto* block = static_cast<uint8_t*>(hsfMemAllocScratch(size + kIpUdpRoom));
  if (block == nullptr) {
    ++m->stats.ingress.bufferPoolDry;
    return;
  }
  const size_t written = t38fUDPBuild(&m->tx, ifp, len, n, block + kIpUdpRoom, size);
  if (written == 0) return;
  hsfIbdSendExt(kT38Mask, HAPI_T38_INGRESSPACKET_EVT, static_cast<uint16_t>(written), block + kIpUdpRoom);
  count32(m->stats.ingress.frameCountHigh, m->stats.ingress.frameCountLow);
}

void sendOne(T38ZLOCLMEM* m) {
  auto* first = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->ingressHapiPktq));
  if (first == nullptr) return;
  uint8_t ifp[T38_MAX_IFP + 1];
  const int len = toIfp(m, first, ifp);
  hsfBmFree(first);
  if (len <= 0) return;
  int total = len;
  // T.30 data: the next waiting packet with a payload joins it when both fit one datagram's IFP
  auto* next = static_cast<HAPI_PKT_HDR*>(MEM_QueueHead(&m->ingressHapiPktq));
  if ((ifp[0] & 0x40) && next != nullptr && next->payloadLength != 0) {
    T38ZCONV saved = m->conv;
    uint8_t second[T38_MAX_IFP + 1];
    const int len2 = toIfp(m, next, second);
    const int merged = len2 > 0 && len + len2 <= 104 ? t38fMergeIFP(ifp, len, second, len2, 104) : -1;
    if (merged > 0) {
      total = merged;
      hsfBmFree(MEM_QueueDeq_Unprotected(&m->ingressHapiPktq));
    } else {
      m->conv = saved;  // sent on its own next time
    }
  }
  sendDatagram(m, ifp, total);
}

void tailHandling(T38ZLOCLMEM* m) {
  T38ZCONV& c = m->conv;
  if (c.flushState == 1) {
    // the tail has ended; the history stays, so the next burst's first datagrams carry this
    // burst's last packets to a far end that lost them
    c.flushState = 0;
  } else if (c.flushState >= 2) {
    --c.flushState;
    if (c.flushMode == 1 && c.flushRepeats == 0) {
      const uint8_t noSignal[1] = {0x00};
      sendDatagram(m, noSignal, 1);
    } else {
      if (c.flushRepeats > 0) --c.flushRepeats;
      uint8_t buf[5 + (T38_MAX_IFP + 1) * (T38_MAX_REDUNDANCY + 1)];  // the largest datagram
      const size_t n = t38fRepeatLast(&m->tx, buf, sizeof(buf));
      if (n > 0) {
        if (auto* block = static_cast<uint8_t*>(hsfMemAllocScratch(n + kIpUdpRoom))) {
          std::memcpy(block + kIpUdpRoom, buf, n);
          hsfIbdSendExt(kT38Mask, HAPI_T38_INGRESSPACKET_EVT, static_cast<uint16_t>(n), block + kIpUdpRoom);
          count32(m->stats.ingress.frameCountHigh, m->stats.ingress.frameCountLow);
        } else {
          ++m->stats.ingress.bufferPoolDry;
        }
      }
    }
  }
}

// ---- egress: datagrams to fax-relay packets ----

struct RelayOut {
  T38ZLOCLMEM* m;
  int sent;  // fax-relay packets handed on this frame
  bool contested;  // the packet handed on now came under a number other content came under too
  bool stepShaped;  // and that other content is the packet of a number beside it
  bool follows;     // it follows the packet handed on before it in the peer's own stream
};

// Fax-relay packets one frame hands on at most (before the next IFP packet starts): the rest wait
// for the next frame, so that no burst from the network can drain the relay's pool at once.
constexpr int kRelayPacketsPerFrame = 32;

constexpr uint8_t kV21Data = HAPI_PKT_FC_LAST_INDICATOR + 1;  // octets of a V.21 frame
constexpr uint8_t kV21EndBad = HAPI_PKT_FC_V21_END + 2;         // a V.21 frame's bad end, not its signal's
constexpr uint8_t kV21Disconnect = 0x5F;  // a disconnect's command octet as the frame carries it, less its top bit

// Whether a packet that plays across a discontinuity begins a V.21 frame while none is open: what
// was lost lay before the frame's first octet, or its first octets are missing and the relay, which
// takes only a frame that begins as one, ends it bad. Either way the loss condemns nothing whole.
bool startsV21Frame(const T38ZLOCLMEM* m, const uint8_t* ifp) {
  return !m->v21FrameOpen && (ifp[0] & 0xE0) == 0xC0 && ((ifp[0] >> 1) & 15) == 0 && (ifp[2] >> 4) == (0x8 | HDLC_DATA);
}

// After a loss the HDLC frame under way (or the next one to start) misses octets, so its end
// must not reach the fax terminal as good: a good end becomes a bad one, and the relay plays the
// frame with a bad FCS. Any frame end, a signal end or a new signal (an indicator) closes the
// frame the loss fell into.
uint8_t frameEndAfterLoss(bool& loss, uint8_t code) {
  if (!loss) return code;
  const bool v21Good = code == HAPI_PKT_FC_V21_END || code == HAPI_PKT_FC_V21_END_FINAL;
  const bool ecmGood = code >= HAPI_PKT_FC_ECM_END_FIRST && code < HAPI_PKT_FC_ECM_END_FIRST + 10;
  const bool closes = code <= HAPI_PKT_FC_LAST_INDICATOR ||
                      (code >= HAPI_PKT_FC_V21_END && code <= HAPI_PKT_FC_V21_END_BAD_FINAL) ||
                      (code >= HAPI_PKT_FC_ECM_END_FIRST && code <= HAPI_PKT_FC_ECM_END_BAD_LAST) ||
                      code >= HAPI_PKT_FC_PAGEEND;
  if (closes) loss = false;
  if (v21Good) return static_cast<uint8_t>(code + 2);   // V21_END(_FINAL) to V21_END_BAD(_FINAL)
  if (ecmGood) return static_cast<uint8_t>(code + 10);  // <rate>_ECM_END to <rate>_ECM_END_BAD
  return code;
}

// Whether a fax-relay code carries HDLC frame octets: V.21 or ECM.
bool isHdlcData(uint8_t code) {
  return code == kV21Data || (code >= HAPI_PKT_FC_ECM_DATA_FIRST && code < HAPI_PKT_FC_ECM_END_FIRST);
}

// Octets of another kind inside an open HDLC frame (a field retyped on the way): the frame's own
// octets went elsewhere, so it misses them and must not end good. Non-ECM page data leaves the
// frame open; its own octets, an end or a signal close or replace it.
void noteFrameData(T38ZLOCLMEM* m, uint8_t code) {
  const bool hdlcData = isHdlcData(code);
  const bool pageData = code >= HAPI_PKT_FC_PAGE_DATA_FIRST && code < HAPI_PKT_FC_ECM_DATA_FIRST;
  if (m->frameData != 0 && code != m->frameData && (hdlcData || pageData)) m->lossInFrame = true;
  if (!pageData) m->frameData = hdlcData ? code : 0;
}

// `pairs` pairs of octets two to a word, the first in the high half: on a little-endian host four
// words read at once with the octets of each swapped.
void packHighFirst(uint16_t* __restrict words, const uint8_t* __restrict octets, int pairs) {
  int k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kLow = 0x00FF00FF00FF00FFull;
    for (; k + 4 <= pairs; k += 4) {
      uint64_t four;
      std::memcpy(&four, octets + 2 * k, sizeof(four));
      four = ((four >> 8) & kLow) | ((four & kLow) << 8);
      std::memcpy(words + k, &four, sizeof(four));
    }
  }
  for (; k < pairs; ++k) words[k] = static_cast<uint16_t>((octets[2 * k] << 8) | octets[2 * k + 1]);
}

// Keeps the numbers of the packets the HDLC frame handed on last came in, up to its end: a frame
// starts with octets of a kind other than the frame open before; a V.21 frame's end ends it, and
// anything else leaves no frame known (one cut by a signal ends bad anyway).
// Of a V.21 frame it keeps where its first packets' octets start: copies that outvote one of them
// mend the frame there.
void trackHandedFrame(T38ZLOCLMEM* m, uint8_t code, int n) {
  const bool hdlcData = isHdlcData(code);
  if (hdlcData) {
    if (m->frameData != code || !m->handedKnown) {
      m->handedFrom = m->handing;
      m->handedKnown = true;
      m->handedV21Ended = false;
      m->handedOctets = 0;
      std::memset(m->handedStart, 0xFF, sizeof(m->handedStart));
    }
    m->handedTo = m->handing;
    const uint16_t k = static_cast<uint16_t>(m->handing - m->handedFrom);
    if (code == kV21Data && k <= T38_HANDED_STARTS && m->handedStart[k] == 0xFF) m->handedStart[k] = m->handedOctets;
    m->handedOctets = static_cast<uint8_t>(std::min(m->handedOctets + n, 0xFE));
  } else if (m->v21FrameOpen && code >= HAPI_PKT_FC_V21_END && code <= HAPI_PKT_FC_V21_END_BAD_FINAL) {
    m->handedTo = m->handing;
    m->handedV21Ended = true;
  } else if (!m->handedV21Ended) {
    m->handedKnown = false;
  }
}

void sendRelayPacket(T38ZLOCLMEM* m, uint8_t code, const uint8_t* octets, int n, uint16_t mark = 0) {
  const int payloadBytes = 2 + n + (n & 1);
  auto* block = static_cast<uint16_t*>(hsfMemAllocScratch(sizeof(HAPI_PKT_HDR) + static_cast<size_t>(payloadBytes)));
  if (block == nullptr) {
    ++m->stats.egress.bufferPoolDry;
    return;
  }
  auto* hdr = reinterpret_cast<HAPI_PKT_HDR*>(block);
  hdr->payloadID = static_cast<uint16_t>(0x0500 | code);
  hdr->payloadLength = static_cast<uint16_t>(payloadBytes);
  hdr->payloadTimeStampHigh = mark;
  hdr->payloadTimeStampLow = m->egressTimeStamp++;
  uint16_t* payload = block + 4;
  payload[0] = static_cast<uint16_t>(n * 8);
  packHighFirst(payload + 1, octets, n / 2);
  if (n & 1) payload[1 + n / 2] = static_cast<uint16_t>(octets[n - 1] << 8);
  hsfIbdSendExt(kRelayMask, 0, static_cast<uint16_t>(sizeof(HAPI_PKT_HDR) + payloadBytes), block);
}

// Follows the V.21 frame open for sendRelay: a good end of a frame that is not final (its control
// octet says so) after a packet of it played contested ends bad. So does a final frame, other than
// a disconnect, when the other content under a number of it was the packet of the number beside:
// the peer's numbering stepped there and its copies moved with it, so that which of the two the
// vote kept says nothing of what the peer sent under it.
void noteV21Frame(T38ZLOCLMEM* m, uint8_t code, const uint8_t* octets, int n, bool contested, bool stepShaped) {
  if (code == kV21Data) {
    if (!m->v21FrameOpen) {
      m->v21Octets = 0;
      m->v21Contested = false;
      m->v21StepShaped = false;
    }
    for (int i = 0; i < n && m->v21Octets < 3; ++i, ++m->v21Octets) {
      if (m->v21Octets == 1) m->v21Control = octets[i];
      if (m->v21Octets == 2) m->v21Command = octets[i];
    }
    m->v21Contested = m->v21Contested || contested;
    m->v21StepShaped = m->v21StepShaped || stepShaped;
    return;
  }
  const bool good = code == HAPI_PKT_FC_V21_END || code == HAPI_PKT_FC_V21_END_FINAL;
  const bool disconnect = m->v21Octets >= 3 && (m->v21Command & 0x7F) == kV21Disconnect;
  if (good && m->v21FrameOpen && (m->v21Contested || contested) && m->v21Octets >= 2 &&
      (!(m->v21Control & 0x08) || (m->v21StepShaped && !disconnect)))
    m->lossInFrame = true;
  m->v21Contested = false;
  m->v21StepShaped = false;
}

// A V.21 packet the relay may join to the frame it cut for stalling: the frame's further octets, or
// only its good end where every octet came before the network held the rest back.
bool joinsStalledV21Frame(uint8_t code) {
  return code == kV21Data || code == HAPI_PKT_FC_V21_END || code == HAPI_PKT_FC_V21_END_FINAL;
}

void sendRelay(void* user, uint8_t code, const uint8_t* octets, int n) {
  auto* out = static_cast<RelayOut*>(user);
  T38ZLOCLMEM* m = out->m;
  ++out->sent;
  // a V.21 frame that starts while no HDLC frame is open follows page data or a signal: a loss
  // noted there is none of this frame's (page data has no FCS to spoil, and the page end that
  // would have closed it may be what was lost)
  if (code == kV21Data && !m->v21FrameOpen && m->frameData == 0) m->lossInFrame = false;
  // a bad V.21 end with no V.21 frame open and nothing lost ends no frame: it comes of page octets
  // under the V.21 type (a peer that sends the rest of its TCF so once its T.30 turned to V.21),
  // and an empty bad frame on the line tells the terminal waiting there for the TCF that a frame
  // came broken. Where a loss lies before it, it is what is left of a frame, and it goes on.
  if (code == kV21EndBad && !m->v21FrameOpen && !m->lossInFrame) return;
  trackHandedFrame(m, code, n);
  m->lossOnlyContradicted = false;
  noteFrameData(m, code);
  // An HDLC frame across a contested number may lack a packet the peer sent under it, or hold one
  // it never sent there: it ends bad, and the page's next round sends an ECM frame again. So does
  // a V.21 frame that is not its burst's last (an identity, a facilities frame): the burst's final
  // frame decides the exchange, and the far end sends the burst again with it. A final frame is
  // left to the vote: its far end may not send it again (a DCN goes once). Unless the other content
  // under its number was the packet beside: the vote then only tells which copies moved with a step.
  if (out->contested && code >= HAPI_PKT_FC_ECM_DATA_FIRST && code <= HAPI_PKT_FC_ECM_END_BAD_LAST) m->lossInFrame = true;
  noteV21Frame(m, code, octets, n, out->contested, out->stepShaped);
  code = frameEndAfterLoss(m->lossInFrame, code);
  m->v21FrameOpen = code == kV21Data;
  sendRelayPacket(m, code, octets, n, out->follows && joinsStalledV21Frame(code) ? HAPI_PKT_MARK_FOLLOWS : 0);
}

// A packet already handed on was contradicted by a later copy (numbered s): the frame it went into
// must not end good. Still open, its end when it comes is bad; a V.21 frame whose end was handed
// on may still be on the line, and the relay ends it bad if that end has not gone to the modem.
void voidContradictedFrame(T38ZLOCLMEM* m, uint16_t s) {
  if (!m->handedKnown || static_cast<uint16_t>(s - m->handedFrom) > static_cast<uint16_t>(m->handedTo - m->handedFrom)) return;
  if (!m->handedV21Ended) {
    m->lossOnlyContradicted = !m->lossInFrame && m->frameData == kV21Data;
    m->lossInFrame = true;
    return;
  }
  m->handedKnown = false;
  sendRelayPacket(m, HAPI_PKT_FC_V21_LAST_END_VOID, nullptr, 0);
}

// Collects the octets of a V.21 packet the copies said, as the relay would take them.
struct MendOctets {
  uint8_t octets[T38_MAX_IFP + 1];  // the place in the frame, then the octets
  int n;
  bool other;  // the packet carries more than V.21 data
};

void collectMend(void* user, uint8_t code, const uint8_t* octets, int n) {
  auto* mend = static_cast<MendOctets*>(user);
  if (code != kV21Data || mend->n + n > static_cast<int>(sizeof(mend->octets))) {
    mend->other = true;
    return;
  }
  std::memcpy(mend->octets + mend->n, octets, static_cast<size_t>(n));
  mend->n += n;
}

// Copies outvoted a packet of the V.21 frame open, numbered s, that it lost nothing else of (rule
// 7): the relay replaces its octets with what the copies say, where it still holds them, and the
// frame no longer counts as lost here; one whose octets the line heard ends bad there. Only a
// packet of V.21 data as long as the one handed on mends the frame: else nothing says where its
// octets lie.
void mendOutvotedPacket(T38ZLOCLMEM* m, uint16_t s, const uint8_t* ifp, int len) {
  const uint16_t k = static_cast<uint16_t>(s - m->handedFrom);
  if (!m->lossOnlyContradicted || !m->handedKnown || m->handedV21Ended || !m->v21FrameOpen ||
      k > static_cast<uint16_t>(m->handedTo - m->handedFrom) || k >= T38_HANDED_STARTS || m->handedStart[k] == 0xFF)
    return;
  const int start = m->handedStart[k];
  const int end = s == m->handedTo ? m->handedOctets : m->handedStart[k + 1];
  MendOctets mend{{static_cast<uint8_t>(start)}, 1, false};
  if (end == 0xFF || t38fIFPcheck(ifp, len) != len || !t38fIFPwalkedPlayable(ifp)) return;
  t38fWalkedIFPtoHapiPkt(ifp, collectMend, &mend);
  if (mend.other || mend.n - 1 != end - start) return;
  m->lossOnlyContradicted = false;
  m->lossInFrame = false;
  sendRelayPacket(m, HAPI_PKT_FC_V21_MEND, mend.octets, mend.n);
}

// Blocks of the pool kept free for the next frame's datagrams and the packets going out. The
// receiver holds a block a packet whatever its length, so what it holds is bounded by octets only
// if a peer's small packets wait less: below the reserve the packet next in line plays before its
// reorder delay is up (nothing missing before it is given up), instead of the pool running dry and
// the packets after it being lost.
constexpr int kPoolReserve = 64;

bool poolShort(const T38ZLOCLMEM* m) { return m->heapId != nullptr && m->heapId->numFreeBuf < kPoolReserve; }

// How long past the reorder delay a packet that closes a frame good waits for the stream's
// next datagram, in ms: a peer that sends a whole frame in one packet sends the next a frame's
// time later (400 octets at 4800 bit/s: 670 ms).
constexpr uint16_t kFrameEndHold = 800;

// Whether the head packet, which closes an ECM frame good, waits for a later datagram: one altered
// on the way would otherwise play before the copies that show it (they come with the next
// datagrams), and the frame close good over octets the peer never sent. Once a datagram after the
// one that brought it is in, its copy has disputed the packet or agreed with it: a packet that came
// as a copy (its own datagram lost) waits for the datagram after the one it came in. So a packet
// that carries a V.21 frame whole, start and good end, waits too, where the frame is not its
// burst's last: the line hears longer flags before it, where once it plays its end goes to the
// modem long before the next datagram comes. So does one that closes good a V.21 frame open, not
// its burst's last, that came only as a copy in a later datagram (its own lost): one datagram's
// word, and the peer has gone on, its next datagram close behind. Handed on at once, the end goes
// out with the next frame's after it, where a copy that contradicts it can no longer reach it
// (only the end handed on last is). One that came in its own datagram does not wait: the next
// comes at the peer's pace, the frame's end held as long (held so, calls under a delay spike
// failed that completed before). The burst's final frame does not wait: the far end times its
// answer from it.
bool frameEndWaits(const T38ZLOCLMEM* m, const EGR_IFP_PKT* head) {
  const uint16_t carrier = t38fReorderFirstCarrier(&m->rx, head->sequenceNum);
  if (static_cast<int16_t>(m->rx.newest - carrier) > 0 || poolShort(m) ||
      static_cast<uint16_t>(m->rx.time - head->arrivalTime) >= m->regs.reorderDelay + kFrameEndHold)
    return false;
  uint8_t ifp[T38_MAX_RX_IFP + 1];
  const int got = t38egr_ifp_octets(head, ifp, sizeof(ifp));
  if (got <= 0 || t38fIFPcheck(ifp, got) <= 0) return false;
  int control = m->v21FrameOpen ? -1 : t38fIFPv21FrameControl(ifp);
  // the frame open: its control octet went with the octets handed on before
  if (m->v21FrameOpen && m->v21Octets >= 2 && carrier != head->sequenceNum && t38fIFPclosesV21FrameGoodBurstOn(ifp))
    control = m->v21Control;
  return t38fIFPclosesEcmFrameGood(ifp) || (control >= 0 && !(control & 0x08));
}

// The stream's first packet after a stale run or a stray jump the receiver undid: a V.21 frame
// those opened is no frame of the stream's, and ends bad before the packet plays. Left open, the
// stream's next frame (often the far terminal's last) joined it and ended bad with it.
void endStrayV21Frame(RelayOut* out) {
  if (!out->m->v21FrameOpen) return;
  out->contested = false;
  out->stepShaped = false;
  out->m->lossInFrame = true;
  sendRelay(out, kV21EndBad, nullptr, 0);
}

void playOut(T38ZLOCLMEM* m) {
  RelayOut out{m, 0, false, false, false};
  while (out.sent < kRelayPacketsPerFrame) {
    // what a sequence left when the peer renumbered plays before the new sequence
    const bool old = dg_QmPeekFront(&m->rx.drainq) != nullptr;
    QMQUEUE* q = old ? &m->rx.drainq : &m->rx.egressPktq;
    EGR_IFP_PKT* head = t38egr_ifp_QmPeekFront(q);
    if (head == nullptr) return;
    const bool inLine = !old && head->sequenceNum == static_cast<uint16_t>(m->rx.lastoutTimeStamp + 1);
    // at a gap the wait is as long as datagrams came late, unless the pool runs short
    const uint16_t wait =
        old || poolShort(m) ? m->regs.reorderDelay : t38fReorderGapWait(&m->rx, head->sequenceNum, m->regs.reorderDelay);
    if (static_cast<uint16_t>(m->rx.time - head->arrivalTime) < wait && !(inLine && poolShort(m))) return;
    if (!old && (t38fReorderHeadWaits(&m->rx) || frameEndWaits(m, head))) return;
    DG_HDL h;
    if (!t38egr_ifp_deq(q, &h)) return;
    EGR_IFP_PKT* pkt = t38egr_ifp_getifpFromHandle(&h);
    // the record as far as the longest packet the receiver carries (and its pad octet) reaches
    constexpr uint16_t kRecordWords = 2 + (T38_MAX_RX_IFP + 1) / 2;
    uint16_t words[kRecordWords];
    const uint16_t got = t38egr_ifp_read(words, &h, kRecordWords);
    uint8_t ifp[2 * (kRecordWords - 2)];
    const int octets = got > 2 ? std::min(2 * (got - 2), 2 * (kRecordWords - 2)) : 0;
    t38egr_ifp_unpack(ifp, words + 2, octets);
    // the record holds whole words: the packet's own walk says where it ends (in its last word or
    // one octet before, the pad); one that does not play is refused and its frame is lost. A walk
    // that ends inside the octets ends there whatever follows, so one walk over all of them
    // finds the end.
    const int walked = octets > 0 ? t38fIFPcheck(ifp, octets) : -1;
    // the stream's own packets play; where the receiver let a discontinuity through (numbers
    // lost, a new sequence, datagrams that contradict what it holds), the frame open across it
    // is broken and ends bad: its octets never join across it
    // asked before the playout moves past it: the octets of a V.21 frame that stalled on the way
    // join across it only where the peer's own datagram showed it next to what played before
    const bool follows = !old && t38fReorderFollows(&m->rx, pkt->sequenceNum);
    T38_PLAYOUT verdict;
    if (old) {
      verdict = t38fDrainPlayout(&m->rx, pkt->sequenceNum);
    } else {
      verdict = t38fReorderPlayout(&m->rx, pkt->sequenceNum, t38fIFPdigest(ifp, walked > 0 ? walked : 0));
    }
    if (verdict == T38_PLAY_AFTER_STRAY) {
      endStrayV21Frame(&out);
      verdict = T38_PLAY_BROKEN;
    }
    if (verdict == T38_PLAY_BROKEN && !(walked > 0 && startsV21Frame(m, ifp))) m->lossInFrame = true;
    const bool plays = verdict != T38_DROPPED;
    const bool played = plays && walked > 0 && walked >= octets - 1 && t38fIFPwalkedPlayable(ifp);
    m->handing = pkt->sequenceNum;
    out.contested = verdict == T38_PLAY_CONTESTED;
    out.follows = follows && verdict == T38_PLAY;
    out.stepShaped = out.contested && t38fReorderContestedByNeighbour(&m->rx, pkt->sequenceNum);
    if (played) t38fWalkedIFPtoHapiPkt(ifp, sendRelay, &out);
    if (plays && !played) {
      ++m->rx.invalidIFPCount;
      m->lossInFrame = true;
    }
    dg_free(dg_QmPeekFront(&h.qhdr));
  }
}

}  // namespace

HAPIRESULT t38Init(HSFSRVOBJ service) {
  auto* m = static_cast<T38ZLOCLMEM*>(service);
  if (m == nullptr) return -1;
  std::memset(static_cast<void*>(m), 0, sizeof(*m));
  m->regs = t38RegsDefault();
  m->heapId = hsfBmInit(m->bufpoolArray, sizeof(m->bufpoolArray), T38_BLOCK_BYTES + sizeof(void*));
  MEM_InitQueue(&m->ingressHapiPktq);
  t38fReorderInit(&m->rx, m->heapId);
  t38fUDPTXInit(&m->tx);
  return 0;
}

HAPIRESULT t38IOctl(HSFSRVOBJ service, HSFMSG* msg, HSFMSG* reply) {
  auto* m = static_cast<T38ZLOCLMEM*>(service);
  if (m == nullptr || msg == nullptr) return -1;
  auto answer = [&](uint16_t code, void* data, uint16_t bytes) {
    if (reply == nullptr) return;
    reply->ext.header = code;
    reply->ext.length = bytes;
    reply->ext.bufp = data;
  };
  switch (msg->std.header) {
    case T38_SETREGS_CMD:
      // the registers come as the command's own 4 bytes, never through a 16-bit operand as address
      if (HAPI_OPCODE_IS_STD(msg->std.header) || msg->ext.length != sizeof(HAPI_T38_REGS) || msg->ext.bufp == nullptr)
        return -1;
      std::memcpy(&m->regs, msg->ext.bufp, sizeof(HAPI_T38_REGS));
      return 0;
    case T38_SHUTDOWN_CMD:
      m->shutdown = true;
      return 0;
    case T38_ENABLE_CMD:
      if (msg->std.op1 == 0) {
        if (enabled(m)) {
          flushAll(m);
          hsfObdSendStd(T38_DISABLED_EVT, HAPI_T38_SRV, static_cast<uint16_t>(m->heapId ? m->heapId->lowWaterMark : 0));
          m->state.status = static_cast<uint16_t>(m->state.status & ~HAPI_T38_ENABLE);
        }
      } else if (!enabled(m)) {
        enable(m);
      }
      return 0;
    case T38_GETREGS_CMD:
      answer(HSF_MKRSP_EXT(T38_GETREGS_CMD), &m->regs, sizeof(m->regs));
      return 0;
    case T38_SETREG1_CMD: {
      if (msg->std.op1 & 1) LHAPI_ASSERT_FAIL();
      const uint16_t index = static_cast<uint16_t>(msg->std.op1 / 2);
      if (index >= 2) return -1;  // beyond the register record
      (index == 0 ? m->regs.numRedundantIFP : m->regs.reorderDelay) = msg->std.op2;
      return 0;
    }
    case T38_GETSTATS_CMD:
      syncStats(m);
      answer(HSF_MKRSP_EXT(T38_GETSTATS_CMD), &m->stats, sizeof(m->stats));
      m->resetStats = (msg->std.op1 & 1) != 0;
      return 0;
    case T38_GETSTATE_CMD:
      answer(HSF_MKRSP_EXT(T38_GETSTATE_CMD), &m->state, sizeof(m->state));
      return 0;
    case T38_REGUPDATE_CMD:
      return 0;
    case T38_RESETSTATS_CMD:
      zeroStats(m);
      return 0;
    default:
      return -1;
  }
}

void t38Ingress(HSFSRVOBJ service) {
  auto* m = static_cast<T38ZLOCLMEM*>(service);
  if (m == nullptr) return;
  if (m->resetStats) {
    zeroStats(m);
    m->resetStats = false;
  }
  if (!enabled(m)) return;
  takeRelayPackets(m);
  if (MEM_QueueHead(&m->ingressHapiPktq) != nullptr)
    sendOne(m);
  else
    tailHandling(m);
  m->rx.time = static_cast<uint16_t>(m->rx.time + 5 * (hsfFrmPeriodGet() / 40));
  if (m->shutdown && m->conv.flushState == 0) {
    hsfObdSendStd(T38_SHUTDOWN_EVT, 0, 0);
    m->shutdown = false;
  }
}

void t38Egress(HSFSRVOBJ service) {
  auto* m = static_cast<T38ZLOCLMEM*>(service);
  if (m == nullptr || !enabled(m)) return;
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(kT38Mask, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(msg.std.header) || msg.ext.bufp == nullptr) continue;
    count32(m->stats.egress.frameCountHigh, m->stats.egress.frameCountLow);
    t38fUDPEgress(&m->rx, static_cast<const uint8_t*>(msg.ext.bufp), msg.ext.length);
    if (m->rx.playedContradicted) {
      m->rx.playedContradicted = false;
      voidContradictedFrame(m, m->rx.playedContradictedSeq);
    }
    if (m->rx.playedOutvoted) {
      m->rx.playedOutvoted = false;
      mendOutvotedPacket(m, m->rx.playedOutvotedSeq, m->rx.playedOutvotedIfp, m->rx.playedOutvotedLen);
    }
  }
  playOut(m);
  syncStats(m);
}
