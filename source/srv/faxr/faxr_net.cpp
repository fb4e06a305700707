// Frames from the network through the fax relay service: the queued packets, the V.21 transmitter
// fed with frames, and the locally made preamble and command repeat while the far end is slow.
#include "faxr_int.h"

namespace faxr {

namespace {

constexpr uint8_t kFinalControl = 0xC8;  // the control octet of a final frame
// How long the relay sends flags to the line with no frame after them, at the default delay
// allowance: with the flags queued ahead and a command repeat after them, inside the 3 s a line
// terminal waits for a frame once it hears flags. A larger allowance in the register is the
// operator's word that the network holds answers longer, and its terminals wait for them.
constexpr uint16_t kFlagsNoFrameMs = 2500;
constexpr uint16_t kDefaultMaxDelay = faxrRegsDefault().hsxmaxdelay;

// The line is taken by a tone or a page: nothing goes to the V.21 modem, neither a frame (the
// transmit path would send it on the page's modem) nor flags.
bool lineTakenByToneOrPage(HSEFAXRSTATE st) {
  return st == HSFAXRTXLOCALCED || st == HSFAXRTXLOCALDATA || st == HSFAXRTIMEGAP || st == HSFAXRDATATIMEGAP;
}

// A new signal from the network while a frame is on its way to the line means that frame's end
// was lost: it ends now, with a bad FCS, instead of being cut off where the next flags would make
// its last bits read as an FCS.
void closeFrameToLine(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!(v.hsxstatus & FAXR_V21_FRAMETX) || frameBits(v) == 0) return;
  if (!(v.hsxstatus & FAXR_V21_TXBUSY) && lineSends(m))
    count16(m->hsxfaxrStats.egress.hsxbadframeCount);  // its bits ran out while the line sends: cut off already
  else
    faxrhdlcendbad(m);
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~(FAXR_V21_FRAMETX | FAXR_V21_TXCUT));
  clearNetFrame(v);
}

// A T.30 frame starts with the address octet and a control octet, and its FCF follows them; one
// that does not is the rest of a frame whose start was lost, or a start whose FCF was cut off on
// the way (a datagram without copies shortened in its data): closed good, the line's terminal
// would take a frame that says nothing and wait on for the answer it never names.
bool opensT30Frame(uint8_t address, uint8_t control) { return address == 0xFF && (control & ~0x08) == 0xC0; }

bool startsAsFrame(const HSZFAXRV21MODEM& v) { return frameBits(v) >= 24 && opensT30Frame(frameOctet(v, 0), frameOctet(v, 1)); }

// The far end starts a burst of V.21 frames towards the line.
void netPreamble(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  closeFrameToLine(m);
  if (!(v.hsxstatus & FAXR_V21_SPOOF)) {
    if (!(m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY)) {
      freeQueue(&m->hsxv21jitbufq);
      v.hsxv21counter = 0;
      v.hsxfaxrecmendcounter = 0;
      hdlcReset(m);
    }
    if (s.hsxstate != HSFAXRWAITLOCALTRAIN) startSpoofing(m);
  } else {
    v.v21MaxPreambleDuration = static_cast<uint16_t>(v.v21MaxPreambleDuration + 600);
  }
  if (s.hsxstate != HSFAXRTXLOCALCED) s.hsxtimer = 0;
  clearNetFrame(v);
  v.hsxstatus = static_cast<uint16_t>((v.hsxstatus & ~FAXR_V21_FRAMETX) | FAXR_V21_NETACCEPT | FAXR_V21_NETPREAMBLE);
  if (s.hsxstate == HSFAXRWAITLOCALMSG) goWaitNetMsg(m);
}

// The T.38 service saw a later copy contradict the V.21 frame whose end it handed on last. While
// that end still waits here the frame is on the line without its FCS: it ends bad, and the far
// end repeats it. An end already sent to the modem is beyond reach.
void voidLastV21End(HSZFAXRLOCLMEM* m) {
  HAPI_PKT_HDR* end = nullptr;
  for (void* p = MEM_QueueHead(&m->hsxv21jitbufq); p != nullptr; p = MEM_QueueNext(p)) {
    const uint8_t code = pktCode(static_cast<HAPI_PKT_HDR*>(p));
    if (code >= FAXR_PKT_V21_END && code <= FAXR_PKT_V21_END_BAD_FINAL) end = static_cast<HAPI_PKT_HDR*>(p);
  }
  if (end == nullptr) return;
  const uint8_t code = pktCode(end);
  const bool final = code == FAXR_PKT_V21_END_FINAL || code == FAXR_PKT_V21_END_BAD_FINAL;
  end->payloadID = static_cast<uint16_t>((end->payloadID & 0xFF00) | (final ? FAXR_PKT_V21_END_BAD_FINAL : FAXR_PKT_V21_END_BAD));
}

// Octets of a V.21 frame came from the network while the line has the turn. Where that turn came
// from a final frame that ended bad (its end altered on the way, or an end out of an earlier burst
// that the network brought late), the far end's carrier is still on: the turn was never the
// line's, whose terminal answers no bad frame, and it goes back to the network before the modem
// falls silent. Else the line's terminal, hearing nothing, repeats its command over the far end
// still sending, and a far terminal that hears a preamble while it sends is lost to the call.
void farEndGoesOn(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!v.turnFromBadEnd || (v.hsxstatus & (FAXR_V21_LINEANSWER | FAXR_V21_LINEBURST))) return;
  v.turnFromBadEnd = false;
  v.lineTurn = 0xFFFF;
  clearV21(m, FAXR_V21_TXFINALSENT);
}

// Notes the octets of the frame from the network under way, as far as they are kept.
void keepNetOctets(HSZFAXRV21MODEM& v, const HAPI_PKT_HDR* pkt) {
  const int n = pktBits(pkt) / 8;
  const uint16_t* d = pktData(const_cast<HAPI_PKT_HDR*>(pkt));
  for (int i = 0; i < n && v.netCount <= FAXR_V21_KEPT; ++i) {
    if (v.netCount < FAXR_V21_KEPT) v.netOctets[v.netCount] = wordOctet(d, i);
    ++v.netCount;
  }
}

// Whether a packet from the network may carry on a V.21 frame: its octets, or its good end.
bool carriesFrameOn(uint8_t code) { return code == FAXR_PKT_V21 || code == FAXR_PKT_V21_END || code == FAXR_PKT_V21_END_FINAL; }

// The packet after a frame the relay cut for stalling came, and the T.38 service vouches that it
// follows that frame's last octets in the peer's own stream (its datagram carried both, or
// carried no copies and was numbered next): the network held the rest back, nothing of it was
// lost. The octets kept go before it, and the frame plays again whole after the bad one the line
// heard (a terminal takes a good frame after a bad one); the T.38 side still ends it bad where it
// lost any of its packets. The rest may be the good end alone, where every octet came before the
// network held it back. One that opens with an address octet starts a frame of its own. Without
// it a final DCN whose first octets came before a delay spike, and its rest after it, never played
// whole, and the line's terminal waited for good.
void joinStalledFrame(HSZFAXRV21MODEM& v, HAPI_PKT_HDR* pkt) {
  const int kept = v.stalledCount;
  v.stalledCount = 0;
  const uint16_t bits = pktBits(pkt);
  uint16_t* d = pktData(pkt);
  const bool endAlone = bits == 0 && pktCode(pkt) != FAXR_PKT_V21;
  if (kept == 0 || (bits < 8 && !endAlone) || (bits >= 8 && (d[0] >> 8) == 0xFF) || bits + kept * 8 > FAXR_MAX_PKT_BITS) return;
  uint16_t rest[FAXR_MAX_PKT_BITS / 16 + 1] = {};
  copyBits(rest, 0, d, 0, bits);
  packOctets(v.stalledOctets, kept, d);
  copyBits(d, kept * 8, rest, 0, bits);
  setPktBits(pkt, static_cast<uint16_t>(bits + kept * 8));
  // still a frame the relay cut: while the line's terminal sends, it gives way as the rest would
  pkt->payloadTimeStampHigh = FAXR_PKT_CUT_BY_RELAY;
}

// The T.38 service's copies outvoted octets of the V.21 frame open, which it handed on altered.
// Where the relay cut the frame for stalling and keeps those octets to play it again whole, they
// take what the copies say, and the frame plays again right. Where the line heard them, or the
// relay holds the frame no longer, they are beyond reach: the frame open ends bad (the service no
// longer counts it lost), and its rest starts no frame.
void mendNetFrame(HSZFAXRLOCLMEM* m, HAPI_PKT_HDR* pkt) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  const int n = pktBits(pkt) / 8 - 1;
  const uint16_t* d = pktData(pkt);
  const int at = n > 0 ? wordOctet(d, 0) : FAXR_V21_KEPT;
  if (!(v.hsxstatus & FAXR_V21_NETFRAMEOPEN) && at + n <= v.stalledCount) {
    for (int i = 0; i < n; ++i) v.stalledOctets[at + i] = wordOctet(d, i + 1);
    return;
  }
  v.stalledCount = 0;
  cutV21FrameFromNet(m);
}

}  // namespace

void cutV21FrameFromNet(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!(v.hsxstatus & FAXR_V21_NETFRAMEOPEN)) return;
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_NETFRAMEOPEN);
  v.netCount = 0;
  HAPI_PKT_HDR* tail = queueTail(&m->hsxv21jitbufq);
  if (tail != nullptr && pktCode(tail) == FAXR_PKT_V21) {
    // its octets still queued end it, with a bad FCS
    tail->payloadID = static_cast<uint16_t>((tail->payloadID & 0xFF00) | FAXR_PKT_V21_END_BAD);
    tail->payloadTimeStampHigh = FAXR_PKT_CUT_BY_RELAY;
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_ENDQUEUED);
    ++v.hsxfaxrecmendcounter;
  } else {
    closeFrameToLine(m);
    stopSpoofing(m);  // nothing keeps the line waiting for the rest of it
  }
}

void hsffaxrprocessnetmsg(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  while (auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxcmdbufq))) {
    ++m->hsxRxSeqNum;
    restartSilence(m);
    const uint8_t code = pktCode(pkt);
    if (code == FAXR_PKT_V21_MEND) {  // no signal: it mends the frame open, or cuts it
      mendNetFrame(m, pkt);
      hsfBmFree(pkt);
      continue;
    }
    if (pkt->payloadTimeStampHigh != FAXR_PKT_FOLLOWS || !carriesFrameOn(code)) v.stalledCount = 0;
    if (pkt->payloadTimeStampHigh == FAXR_PKT_LOST_BEFORE) {  // a drop before it broke the frames open
      cutEcmFrameFromNet(m);
      cutV21FrameFromNet(m);
      pkt->payloadTimeStampHigh = 0;
    }
    const bool isNew = !m->rxStampValid || pkt->payloadTimeStampLow != m->hsxRxTimeStamp;
    if (!isNew) {  // a repeat of the last packet
      hsfBmFree(pkt);
      continue;
    }
    m->rxStampValid = true;
    m->hsxRxTimeStamp = pkt->payloadTimeStampLow;
    if (code == FAXR_PKT_V21_LAST_END_VOID) {  // no signal: it cuts nothing
      voidLastV21End(m);
      hsfBmFree(pkt);
      continue;
    }
    const bool v21 = code >= FAXR_PKT_V21 && code <= FAXR_PKT_V21_END_BAD_FINAL;
    // an empty data packet leaves the kept octets for the rest
    if (v.stalledCount > 0 && !(v.hsxstatus & FAXR_V21_NETFRAMEOPEN) && (code != FAXR_PKT_V21 || pktBits(pkt) > 0))
      joinStalledFrame(v, pkt);
    const bool frameOctets = carriesFrameOn(code) && pktBits(pkt) > 0;
    // while the line has the turn the far end waits for its answer: a V.21 burst from the network
    // then is a repeat that answer supersedes, or not the far end's own, and is dropped
    if (frameOctets && lineHasTurn(m)) farEndGoesOn(m);
    if (lineHasTurn(m) && (code == FAXR_PKT_V21_PREAMBLE || v21)) {
      v.stalledCount = 0;
      hsfBmFree(pkt);
      continue;
    }
    // a signal other than page data cuts an ECM frame, one other than V.21 data a V.21 frame
    if (code < 23 || code > 62) cutEcmFrameFromNet(m);
    if (!v21) cutV21FrameFromNet(m);
    if (v21) {
      // frame octets whose preamble indicator was lost start the preamble themselves: the far end
      // is sending V.21 frames, and dropping them would leave the line waiting for an exchange
      // that did come. During a page they end it as the preamble would: the page's end was lost
      // too, and the line, kept in page data, never hears the far end's post-page message
      if (!(v.hsxstatus & FAXR_V21_NETACCEPT) && frameOctets) {
        if (s.hsxstate == HSFAXRTXLOCALDATA) m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_NETPAGEEND);
        netPreamble(m);
      }
      if (!(v.hsxstatus & FAXR_V21_NETACCEPT)) {
        hsfBmFree(pkt);
        continue;
      }
      uint16_t bits = pktBits(pkt);
      if (pkt->payloadTimeStampHigh != FAXR_PKT_CUT_BY_RELAY) pkt->payloadTimeStampHigh = 0;
      if (MEM_QueueCount(&m->hsxv21jitbufq) >= FAXR_MAX_JB_PACKETS) {  // no frame is that long
        count16(m->hsxfaxrStats.egress.hsxOverrunCount);
        cutV21FrameFromNet(m);  // the frame lost octets: it cannot end good
        hsfBmFree(pkt);
        continue;
      }
      if (code == FAXR_PKT_V21) {
        if (bits == 0) {
          hsfBmFree(pkt);
          continue;
        }
        if (!(v.hsxstatus & FAXR_V21_NETFRAMEOPEN)) v.netCount = 0;
        keepNetOctets(v, pkt);
        bits = pktBits(pkt);
        if (v.hsxstatus & FAXR_V21_ENDQUEUED) {
          MEM_QueueEnq_Unprotected(&m->hsxv21jitbufq, pkt);
          v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_ENDQUEUED);
        } else {
          addDataToJitterBuffer(m, &m->hsxv21jitbufq, pkt);
        }
        v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_NETFRAMEOPEN);
        v.hsxframestall = 0;
      } else {
        MEM_QueueEnq_Unprotected(&m->hsxv21jitbufq, pkt);
        v.hsxstatus = static_cast<uint16_t>((v.hsxstatus | FAXR_V21_ENDQUEUED) & ~FAXR_V21_NETFRAMEOPEN);
        v.netCount = 0;
        ++v.hsxfaxrecmendcounter;
      }
      v.hsxv21counter = static_cast<uint16_t>(v.hsxv21counter + bits);
      continue;
    }
    if (code == FAXR_PKT_V21_PREAMBLE) {
      // the far end has turned to V.21: its page has ended, though the network lost the page end
      if (s.hsxstate == HSFAXRTXLOCALDATA)
        m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_NETPAGEEND);
      if (!(v.hsxstatus & FAXR_V21_NETPREAMBLE)) netPreamble(m);
      m->hsxfaxrstate.silenceTimer = 0;
      hsfBmFree(pkt);
      continue;
    }
    if (code >= 4 && code <= 17) {  // training
      if (m->hsxintstatus & FAXR_INT_SKIPTRAIN) {
        m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~FAXR_INT_SKIPTRAIN);
      } else {
        const bool longTrain = code == 11 || code == 13 || code == 15 || code == 17;
        m->hsxintstatus = static_cast<uint16_t>((m->hsxintstatus & ~(FAXR_INT_LONGTRAIN | FAXR_INT_HSTX | FAXR_INT_NETPAGEEND |
                                                                     FAXR_INT_POSTMSG)) |
                                                (longTrain ? FAXR_INT_LONGTRAIN : 0));
        m->hsxfaxrfax.hsxstatus = static_cast<uint16_t>(m->hsxfaxrfax.hsxstatus & ~FAXR_FAX_POSTMSG);
        resetPageBuffer(m);
        setState(m, HSFAXRTXLOCALDATATRAIN);
      }
      hsfBmFree(pkt);
      continue;
    }
    if (code == FAXR_PKT_CNG) {
      if (s.hsxstate == HSFAXRWAIT && !(m->hsxintstatus & FAXR_INT_NOCNG)) {
        setState(m, HSFAXRTXLOCALCNG);
        s.hsxcngtimer = 0;
      }
      s.hsxtimer = 0;
    } else if (code == FAXR_PKT_CED) {
      if (s.hsxstate == HSFAXRWAIT) {
        setState(m, HSFAXRTXLOCALCED);
        s.hsxtimer = 0;
      }
    } else if (code >= 23 && code <= 62) {
      handleHighSpeedDataPacket(m, pkt);
      continue;
    } else if (code == FAXR_PKT_PAGEEND || code == FAXR_PKT_ECM_PAGEEND) {
      m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_NETPAGEEND);
    }
    hsfBmFree(pkt);
  }
}

// ---- sending frames to the line ----

namespace {

// Takes the next packet of the V.21 queue towards the line, its bits no longer counted as queued.
HAPI_PKT_HDR* takeV21Packet(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxv21jitbufq));
  if (pkt == nullptr) return nullptr;
  const uint16_t bits = pktBits(pkt);
  v.hsxv21counter = static_cast<uint16_t>(v.hsxv21counter > bits ? v.hsxv21counter - bits : 0);
  return pkt;
}

// Whether the queued octets at the head, all a frame's first ones, start with no address and
// control octet: the rest of a frame whose start was lost, or went to the line before the relay
// cut it there.
bool headStartsNoFrame(QMQUEUE* q) {
  auto* head = static_cast<HAPI_PKT_HDR*>(MEM_QueueHead(q));
  if (head == nullptr || pktCode(head) != FAXR_PKT_V21) return false;
  if (head->payloadTimeStampHigh == FAXR_PKT_CUT_BY_RELAY) return true;  // a cut frame played again
  const uint16_t* d = pktData(head);
  return pktBits(head) < 16 || !opensT30Frame(wordOctet(d, 0), wordOctet(d, 1));
}

// A frame from the network that the relay cut (its octets stopped coming), or the rest of one
// that came after its start was cut, that has not begun towards the line, while the line's
// terminal sends: it can only end bad and decides nothing, and the modem turning to send it would
// stop the relay hearing the line, whose frame is then lost (a terminal giving up sends its DCN
// so). It is dropped, up to its end, and false is returned when the frame at the head is not such
// a one.
bool dropFrameCutByRelay(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  const bool noStart = headStartsNoFrame(&m->hsxv21jitbufq);
  bool cut = false;
  for (void* p = MEM_QueueHead(&m->hsxv21jitbufq); p != nullptr && !cut; p = MEM_QueueNext(p)) {
    const auto* pkt = static_cast<const HAPI_PKT_HDR*>(p);
    if (pktCode(pkt) == FAXR_PKT_V21) continue;
    if (!noStart && pkt->payloadTimeStampHigh != FAXR_PKT_CUT_BY_RELAY) return false;
    cut = true;
  }
  if (!cut) return false;
  while (HAPI_PKT_HDR* pkt = takeV21Packet(m)) {
    const bool end = pktCode(pkt) != FAXR_PKT_V21;
    hsfBmFree(pkt);
    if (end) break;
  }
  if (v.hsxfaxrecmendcounter > 0) --v.hsxfaxrecmendcounter;
  if (MEM_QueueHead(&m->hsxv21jitbufq) == nullptr) clearV21(m, FAXR_V21_ENDQUEUED);
  count16(m->hsxfaxrStats.egress.hsxbadframeCount);
  return true;
}

}  // namespace

void hsffaxrv21txdata(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  // the modem does not turn to send while the line has the turn, nor to go on with a frame whose
  // octets ran out while the line sends: the line heard that frame end where its bits did
  if (!(v.hsxstatus & FAXR_V21_TXBUSY) && (lineHasTurn(m) || ((v.hsxstatus & FAXR_V21_FRAMETX) && lineSends(m)))) return;
  if (!(v.hsxstatus & FAXR_V21_FRAMETX)) {
    const uint32_t enough = 300u * m->hsxfaxrregs.hsxmaxjitter / 1000u + 12u;
    const bool waiting = v.hsxv21counter >= enough || v.hsxfaxrecmendcounter > 0;
    // nor does a new frame follow a final one straight on, its bits still going
    if (!waiting || (m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY) || lineTakenByToneOrPage(s.hsxstate) || lineHasTurn(m)) return;
    if ((v.hsxstatus & FAXR_V21_LINEBURST) && dropFrameCutByRelay(m)) return;
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_FRAMETX);
  }
  s.hsxtimer = 0;
  if (m->hsxfaxrregs.hsxnumgenHDLC > v.hsxtxnumhdlc) {
    faxrhdlcprocesstxpkt(m, 0, nullptr, static_cast<uint16_t>(m->hsxfaxrregs.hsxnumgenHDLC - v.hsxtxnumhdlc));
    v.hsxtxnumhdlc = m->hsxfaxrregs.hsxnumgenHDLC;
  }
  while (v.hsxcounter <= 12) {
    HAPI_PKT_HDR* pkt = takeV21Packet(m);
    if (pkt == nullptr) break;
    const uint8_t code = pktCode(pkt);
    const bool cutByRelay = pkt->payloadTimeStampHigh == FAXR_PKT_CUT_BY_RELAY;
    uint16_t bits = pktBits(pkt);
    int n = bits / 8;
    uint8_t octets[FAXR_MAX_PKT_BITS / 8];
    if (n > FAXR_MAX_PKT_BITS / 8) n = FAXR_MAX_PKT_BITS / 8;
    const uint16_t* d = pktData(pkt);
    for (int i = 0; i < n; ++i) octets[i] = wordOctet(d, i);
    if (frameBits(v) + n * 8 > FAXR_MAX_FRAME_BITS) {
      n = 0;  // longer than any control frame: the chunk is dropped, and the frame can only end bad
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_TXCUT);
    }
    hsffaxrchangev21msg(m, 0, octets, n);
    appendFrame(v, octets, n);
    uint16_t words[FAXR_MAX_PKT_BITS / 16 + 1];
    packOctets(octets, n, words);
    hsfBmFree(pkt);
    if (code == FAXR_PKT_V21) {
      if (n > 0) faxrhdlcprocesstxpkt(m, 1, words, static_cast<uint16_t>(n * 8));
      continue;
    }
    // the rest of a frame whose start was lost is no frame, and a frame a new signal cut is not
    // all the far end sent: either ends bad and decides nothing
    const bool whole = startsAsFrame(v);
    const bool final = (whole && (frameOctet(v, 1) & 0x08) != 0) || code == FAXR_PKT_V21_END_FINAL ||
                       code == FAXR_PKT_V21_END_BAD_FINAL;
    const bool bad = code == FAXR_PKT_V21_END_BAD || code == FAXR_PKT_V21_END_BAD_FINAL ||
                     (v.hsxstatus & FAXR_V21_TXCUT) || !whole;
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_TXCUT);
    // a frame the relay cut itself says nothing of the far end; one it joined again ends good
    if (whole && !(cutByRelay && bad))
      hsffaxrprocessv21net(m, frameOctet(v, 2), frameOctet(v, 3), final);
    else
      stopSpoofing(m);  // still, the far end has stopped: the line is not kept waiting for more
    clearNetFrame(v);
    if (bad) count16(m->hsxfaxrStats.egress.hsxbadframeCount);
    faxrhdlcprocesstxpkt(m, bad ? 3 : 2, words, static_cast<uint16_t>(n * 8));
    faxrhdlcprocesstxpkt(m, 0, nullptr, final ? 2 : 1);
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_FRAMETX);
    if (v.hsxfaxrecmendcounter > 0) --v.hsxfaxrecmendcounter;
    if (final) {
      v.turnFromBadEnd = bad;
      hdlcReset(m);
      v.hsxtxnumhdlc = 0;
      v.hsxstatus = static_cast<uint16_t>((v.hsxstatus & ~(FAXR_V21_NETACCEPT | FAXR_V21_TXFINAL)) | FAXR_V21_TXFINALSENT);
    }
    break;
  }
}

void hsffaxrv21txstall(HSZFAXRLOCLMEM* m, uint16_t ms) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!(v.hsxstatus & FAXR_V21_NETFRAMEOPEN)) {
    v.hsxframestall = 0;
    return;
  }
  v.hsxframestall = static_cast<uint16_t>(v.hsxframestall > 0xFFFF - ms ? 0xFFFF : v.hsxframestall + ms);
  // the far end sends a frame's octets as its line takes them: a wait longer than the network
  // may hold back the rest (three quarters of its delay allowance) is the rest lost, not late. A
  // short frame (an answer) would otherwise never have octets enough to start, and the line's
  // terminal would hear preamble for seconds until the relay gave up, where a bad frame makes it
  // repeat its command. Half the allowance was too short: a far end that sends nothing after a
  // final DCN brings its lost end only with its next datagram, 1.3 s later.
  if (v.hsxframestall < m->hsxfaxrregs.hsxmaxdelay * 3u / 4u) return;
  v.hsxframestall = 0;
  // its start is kept: the rest may yet come, held back on the way
  v.stalledCount = v.netCount <= FAXR_V21_KEPT ? v.netCount : 0;
  for (int i = 0; i < v.stalledCount; ++i) v.stalledOctets[i] = v.netOctets[i];
  cutV21FrameFromNet(m);
}

// ---- preamble spoofing ----

void hsffaxrsendmsg(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (m->hsxfaxrregs.hsxnumgenHDLC > v.hsxtxnumhdlc) {
    faxrhdlcprocesstxpkt(m, 0, nullptr, static_cast<uint16_t>(m->hsxfaxrregs.hsxnumgenHDLC - v.hsxtxnumhdlc));
    v.hsxtxnumhdlc = m->hsxfaxrregs.hsxnumgenHDLC;
  }
  const uint8_t frame[3] = {0xFF, kFinalControl, HSFAXRCRP};
  uint16_t words[2];
  packOctets(frame, 3, words);
  faxrhdlcprocesstxpkt(m, 2, words, 24);
  faxrhdlcprocesstxpkt(m, 0, nullptr, 1);
  hdlcReset(m);
  v.hsxtxnumhdlc = 0;
}

void hsffaxrspoof(HSZFAXRLOCLMEM* m, uint16_t ms) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  const bool flagsGo = (v.hsxstatus & FAXR_V21_SPOOF) && !(v.hsxstatus & (FAXR_V21_LINEANSWER | FAXR_V21_FRAMETX)) &&
                       !lineTakenByToneOrPage(s.hsxstate) && !lineHasTurn(m);
  v.flagsNoFrame = flagsGo ? static_cast<uint16_t>(v.flagsNoFrame > 0xFFFF - ms ? 0xFFFF : v.flagsNoFrame + ms) : 0;
  if (!(v.hsxstatus & FAXR_V21_SPOOF) || (v.hsxstatus & FAXR_V21_LINEANSWER)) return;  // no cutting into the line's answer
  const uint32_t limit = static_cast<uint32_t>(v.v21MaxPreambleDuration) + 1000u + m->hsxfaxrregs.hsxmaxdelay / 2u;
  // after the line's command (not its own answer: a response) a command repeat follows the flags.
  // Its terminal, hearing flags with no frame after them for about 3 s, gives up the call, where
  // one that hears the repeat in time repeats its command: the flags end in time, whether the relay
  // made them up or the network announced a preamble whose frame does not come. After its answer
  // it has no command to repeat: told to, a terminal waiting for the page may drop the timer that
  // would end its wait and wait for good, where flags that just stop leave its own timers running
  const bool lineAnswered = s.hsxrxmsg >= HSFAXRCFR && s.hsxrxmsg <= HSFAXRPPR;
  const bool repeatDue = (v.hsxstatus & FAXR_V21_LINEFRAMEEND) && s.hsxrxmsg != HSFAXRDIS && !lineAnswered;
  const uint16_t maxDelay = m->hsxfaxrregs.hsxmaxdelay;
  const uint32_t flagsLimit = kFlagsNoFrameMs + (maxDelay > kDefaultMaxDelay ? (maxDelay - kDefaultMaxDelay) / 2u : 0u);
  const bool flagsTooLong = repeatDue && v.flagsNoFrame >= flagsLimit;
  if (s.hsxstate != HSFAXRWAITNETDIS && (s.hsxtimer >= limit || flagsTooLong)) {
    v.flagsNoFrame = 0;
    stopSpoofing(m);
    if (repeatDue) {
      hsffaxrsendmsg(m);
      restartSilence(m);
    }
    setState(m, HSFAXRWAITLOCALMSG);
    count16(m->hsxfaxrStats.egress.hsxSpoofTimeoutCount);
    s.hsxtimer = 0;
    return;
  }
  if (!flagsGo) return;
  for (int guard = 0; v.hsxcounter < 13 && guard < 4; ++guard) {
    faxrhdlcprocesstxpkt(m, 0, nullptr, 1);
    if (v.hsxtxnumhdlc < m->hsxfaxrregs.hsxnumgenHDLC) ++v.hsxtxnumhdlc;
  }
}

}  // namespace faxr
