// T.30 frames through the fax relay service: frames from the line to the network, frames from the
// network to the line, the rewriting of a few of them, the state decisions they cause and the
// locally made V.21 preamble and command repeat while the far end is slow.
#include <cstring>
#include <initializer_list>

#include "faxr_int.h"

namespace faxr {

namespace {


bool oneOf(uint16_t f, std::initializer_list<uint16_t> list) {
  for (uint16_t x : list)
    if (f == x) return true;
  return false;
}

// FIF bit n (T.30 numbering) of a frame: octet 3 + (n - 1) / 8, mask 0x80 >> ((n - 1) % 8).
int fifOctet(int n) { return 3 + (n - 1) / 8; }
uint8_t fifMask(int n) { return static_cast<uint8_t>(0x80 >> ((n - 1) % 8)); }

// The ECM mode a DCS chooses: error correction (bit 27) and its frame size (bit 28, 64 octets).
void takeEcmMode(HSZFAXRLOCLMEM* m, const HSZFAXRV21MODEM& v) {
  const bool ecm = (frameOctet(v, fifOctet(27)) & fifMask(27)) != 0;
  const bool small = (frameOctet(v, fifOctet(28)) & fifMask(28)) != 0;
  m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~(FAXR_INT_ECM | FAXR_INT_ECM64));
  if (ecm) m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_ECM | (small ? FAXR_INT_ECM64 : 0));
}

uint16_t rateField(uint8_t fifOctet1) { return static_cast<uint16_t>((fifOctet1 >> 2) & 0xF); }

// Keeps the status bits 4-6 (EOM sent, EOP sent, confirmed) only where the frame supports them.
void trimLineStatus(HSZFAXRLOCLMEM* m, uint16_t f) {
  uint16_t& s = m->hsxstatus;
  if (f == HSFAXRDCN) return;
  if ((s & (FAXR_EOM_SENT | FAXR_MCF_CONFIRMED)) == (FAXR_EOM_SENT | FAXR_MCF_CONFIRMED)) {
    if (!oneOf(f, {HSFAXRMCF, HSFAXREOM, HSFAXRCSI, HSFAXRNSF}))
      s = static_cast<uint16_t>(s & ~(FAXR_EOM_SENT | FAXR_MCF_CONFIRMED));
  } else if ((s & FAXR_EOM_SENT) && f != HSFAXREOM) {
    s = static_cast<uint16_t>(s & ~FAXR_EOM_SENT);
  }
  if ((s & FAXR_EOP_SENT) && !oneOf(f, {HSFAXRMCF, HSFAXREOP, HSFAXRRR, HSFAXRRNR}))
    s = static_cast<uint16_t>(s & ~FAXR_EOP_SENT);
}

void trimNetStatus(HSZFAXRLOCLMEM* m, uint16_t f) {
  if (oneOf(f, {HSFAXRMCF, HSFAXREOM, HSFAXREOP, HSFAXRDIS, HSFAXRCSI, HSFAXRNSF, HSFAXRRR, HSFAXRRNR, HSFAXRDCN}))
    return;
  m->hsxstatus = static_cast<uint16_t>(m->hsxstatus & ~(FAXR_EOM_SENT | FAXR_EOP_SENT | FAXR_MCF_CONFIRMED));
}

// The frame a status trim goes by: a PPS with EOP or EOM behind it counts as that EOP or EOM,
// so the page end it marked survives the trim.
uint16_t trimFrame(uint16_t fcf, uint16_t next2) {
  if (fcf != HSFAXRPPS) return fcf;
  const uint16_t sub = static_cast<uint16_t>(next2 | 0x80);
  if (sub == HSFAXRPPSEOP) return HSFAXREOP;
  if (sub == HSFAXRPPSEOM) return HSFAXREOM;
  return fcf;
}

void markEom(HSZFAXRLOCLMEM* m) {
  m->hsxstatus = static_cast<uint16_t>((m->hsxstatus | FAXR_EOM_SENT) & ~(FAXR_EOP_SENT | FAXR_MCF_CONFIRMED));
}
void markEop(HSZFAXRLOCLMEM* m) {
  m->hsxstatus = static_cast<uint16_t>((m->hsxstatus | FAXR_EOP_SENT) & ~(FAXR_EOM_SENT | FAXR_MCF_CONFIRMED));
}
void markMcf(HSZFAXRLOCLMEM* m) {
  if (m->hsxstatus & (FAXR_EOM_SENT | FAXR_EOP_SENT)) m->hsxstatus = static_cast<uint16_t>(m->hsxstatus | FAXR_MCF_CONFIRMED);
}


}  // namespace

void startSpoofing(HSZFAXRLOCLMEM* m) {
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus | FAXR_V21_SPOOF);
  m->hsxfaxrv21.v21MaxPreambleDuration = 2000;
  m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~FAXR_INT_AWAITNET);
}

void goWaitNetMsg(HSZFAXRLOCLMEM* m) {
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~FAXR_V21_LINEPREAMBLE);
  setState(m, HSFAXRWAITNETMSG);
}

void freeQueue(QMQUEUE* q) {
  while (void* p = MEM_QueueDeq_Unprotected(q)) hsfBmFree(p);
}

uint16_t rateFromDcsField(uint16_t field) {
  static constexpr uint8_t hstfaxrrateDCS[16] = {1, 10, 6, 0, 2, 9, 5, 0, 4, 8, 0, 0, 3, 7, 0, 0};
  return hstfaxrrateDCS[field & 0xF];
}

// ---- rewriting ----

void hsffaxrchangev21msg(HSZFAXRLOCLMEM* m, int direction, uint8_t* octets, int n) {
  CHANGEV21MSG& c = direction ? m->hsxfaxrv21.changeIngressMsg : m->hsxfaxrv21.changeEgressMsg;
  for (int i = 0; i < n; ++i) {
    const int at = c.octetCntr + i;
    uint8_t& o = octets[i];
    if (at == 2) c.fcf = o;
    if (at < 2) continue;
    switch (c.fcf) {
      case 0x01:
      case 0x81:  // DIS, DTC: no V.8, no faster modem than allowed, bit 25 cleared
        if (at == fifOctet(6)) o = static_cast<uint8_t>(o & ~fifMask(6));
        if (at == fifOctet(11)) {
          // a limit of 15 or more lowers nothing; below it, it fits the four-bit field
          const uint16_t limit = m->hsxfaxrregs.hsxmaxfaxmodem;
          if (rateField(o) > limit) o = static_cast<uint8_t>((o & ~0x3C) | ((limit & 0xF) << 2));
        }
        if (at == fifOctet(25)) o = static_cast<uint8_t>(o & ~fifMask(25));
        break;
      case 0x04:
      case 0x44:  // NSF, NSS: the facilities are not passed on
        if (at >= 3) o = 0;
        break;
      case 0x21:
      case 0x22:
        if (direction == 0 && at == 2) {
          if (m->hsxfaxrregs.hsxtcflocalgen == 1 && o == 0x21 && !(m->hsxfaxrfax.hsxstatus & FAXR_FAX_TCFGOOD)) o = 0x22;
          c.fcf = o;
          if (o == 0x21)
            faxrEvent(m, FAXR_RATE_EVT, m->hsxfaxrregs.hsxlocalrate, (m->hsxintstatus & FAXR_INT_ECM) ? 1 : 0, true);
        }
        break;
      default:
        break;
    }
  }
  c.octetCntr = static_cast<uint16_t>(c.octetCntr + n);
}

// ---- frames from the line ----

void faxrrxhdlcdata(HSZFAXRLOCLMEM* m, int mode, const uint8_t* octets, int n) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const HSEFAXRSTATE state = m->hsxfaxrstate.hsxstate;
  if (mode == 0) {
    if (state == HSFAXRRXLOCALDATA) {
      f.hsxbitsperframe = 0;
      return;
    }
    if (m->hsxdatahdlc.preambledet) {
      hsffaxrsendpacket(m, FAXR_PKT_V21_PREAMBLE, nullptr, 0);
      if (m->hsxfaxrregs.hsxfaxrsendevents != 0) hsfObdSendExt(FAXR_PREAMBLE_EVT, 0, nullptr);
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEPREAMBLE | FAXR_V21_LINEBURST);
      m->hsxfaxrstate.hsxtimer = 0;
      clearLineFrame(v);
    }
    return;
  }
  uint16_t words[FAXR_HDLC_RXBYTES / 2 + 1];
  if (state == HSFAXRRXLOCALDATA) {  // ECM page frames
    const uint16_t rate = localRate(m);
    f.hsxbitsperframe = static_cast<uint16_t>(f.hsxbitsperframe + n * 8);
    packOctets(octets, n, words);
    if (mode == 1) {
      if (f.hsxsmallframecount < 5 && n > 0) hsffaxrsendpacket(m, static_cast<uint8_t>(rate + 32), words, static_cast<uint16_t>(n * 8));
    } else {
      const bool bad = mode == 3;
      if (f.hsxsmallframecount < 5) {
        hsffaxrsendpacket(m, static_cast<uint8_t>(rate + (bad ? 52 : 42)), words, static_cast<uint16_t>(n * 8));
        if (bad) count16(m->hsxfaxrStats.ingress.hsxbadframeCount);
      }
      if (bad && f.hsxbitsperframe < 288)
        count16(f.hsxsmallframecount);
      else
        f.hsxsmallframecount = 0;
      f.hsxbitsperframe = 0;
    }
    f.hsxcounter = static_cast<int16_t>(f.hsxcounter + n * 8);
    return;
  }
  if (!(v.hsxstatus & FAXR_V21_LINEPREAMBLE)) return;
  uint8_t chunk[FAXR_HDLC_RXBYTES];
  std::memcpy(chunk, octets, static_cast<size_t>(n));
  if (frameBits(v) + n * 8 > FAXR_MAX_FRAME_BITS) {  // longer than any control frame: dropped
    hdlcReset(m);
    clearLineFrame(v);
    return;
  }
  hsffaxrchangev21msg(m, 1, chunk, n);
  appendFrame(v, chunk, n);
  packOctets(chunk, n, words);
  if (mode == 1) {
    if (n > 0) {
      hsffaxrsendpacket(m, FAXR_PKT_V21, words, static_cast<uint16_t>(n * 8));
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEFRAMEOPEN);
    }
    return;
  }
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_LINEFRAMEOPEN);
  const bool final = (frameOctet(v, 1) & 0x08) != 0;
  uint8_t code = final ? FAXR_PKT_V21_END_FINAL : FAXR_PKT_V21_END;
  if (mode == 3) {
    code = final ? FAXR_PKT_V21_END_BAD_FINAL : FAXR_PKT_V21_END_BAD;
    count16(m->hsxfaxrStats.ingress.hsxbadframeCount);
  }
  hsffaxrsendpacket(m, code, n > 0 ? words : nullptr, static_cast<uint16_t>(n * 8));
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEFRAMEEND);
  faxrEvent(m, FAXR_V21TONET_EVT, frameOctet(v, 2) & 0x7F, 0);
  hsffaxrprocessv21msg(m);
  clearLineFrame(v);
}

void faxrrxframecut(HSZFAXRLOCLMEM* m) {
  if (m->hsxfaxrstate.hsxstate == HSFAXRRXLOCALDATA) {
    if (faxrhdlcrxpassedon(m->hsxdatahdlc)) faxrrxhdlcdata(m, 3, nullptr, 0);
    return;
  }
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!(v.hsxstatus & FAXR_V21_LINEFRAMEOPEN)) return;
  // no state decision: nothing of this frame can be trusted
  const bool final = (frameOctet(v, 1) & 0x08) != 0;
  hsffaxrsendpacket(m, final ? FAXR_PKT_V21_END_BAD_FINAL : FAXR_PKT_V21_END_BAD, nullptr, 0);
  count16(m->hsxfaxrStats.ingress.hsxbadframeCount);
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_LINEFRAMEOPEN);
  clearLineFrame(v);
}

void faxrrxv21framestop(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (m->hsxfaxrstate.hsxstate == HSFAXRRXLOCALDATA || !(v.hsxstatus & FAXR_V21_LINEFRAMEOPEN)) return;
  faxrrxframecut(m);
  hsffaxrsendpacket(m, FAXR_PKT_NOSIGNAL, nullptr, 0);
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_LINEPREAMBLE);
  faxrhdlcrxreset(&m->hsxdatahdlc);
}

void faxrrxframestop(HSZFAXRLOCLMEM* m) {
  if (m->hsxfaxrstate.hsxstate != HSFAXRRXLOCALDATA) {
    faxrrxv21framestop(m);
  } else if (faxrhdlcrxpassedon(m->hsxdatahdlc)) {
    faxrrxframecut(m);  // page data: the page's own end follows
    faxrhdlcrxreset(&m->hsxdatahdlc);
  }
}

void hsffaxrprocessv21msg(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  const uint16_t fcf = frameOctet(v, 2) & 0x7F;
  const uint16_t next2 = frameOctet(v, 3);
  const bool final = (frameOctet(v, 1) & 0x08) != 0;
  s.hsxtimer = 0;
  s.hsxrxmsg = fcf;
  // after its final frame the line's terminal waits for the answer: the network's may come
  if (final) v.hsxstatus = static_cast<uint16_t>((v.hsxstatus | FAXR_V21_LINEFINAL) & ~(FAXR_V21_LINEBURST | FAXR_V21_LINEANSWER));
  auto setInt = [&](uint16_t bits) { m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | bits); };
  HSEFAXRSTATE next = HSFAXRWAITNETMSG;
  switch (fcf) {
    case HSFAXRDIS:
      setInt(FAXR_INT_AWAITNET);
      break;
    case HSFAXRCSI: case HSFAXRNSF: case HSFAXRTSI: case HSFAXRSUB: case HSFAXRNSS: case HSFAXRPWD:
      next = HSFAXRWAITLOCALMSG;
      break;
    case HSFAXRCFR: case HSFAXRCTR: case HSFAXRERR:
      next = HSFAXRWAITNETDATA;
      break;
    case HSFAXRFTT:
      count16(m->hsxfaxrStats.ingress.hsxretrainCount);
      break;
    case HSFAXRPPR:
      count16(m->hsxfaxrStats.ingress.hsxPPRCount);
      next = HSFAXRWAITNETDATA;
      break;
    case HSFAXRMCF: case HSFAXRRTN: case HSFAXRRTP: {
      s.hsxpostmsg2 = fcf;
      if (fcf == HSFAXRMCF) markMcf(m);
      const uint16_t post = s.hsxpostmsgfcf1;
      const uint16_t sub = static_cast<uint16_t>(s.hsxpostmsgfcf2 | 0x80);
      if (post == HSFAXRMPS || post == HSFAXRPRIMPS) {
        next = HSFAXRWAITNETDATA;
      } else if (post == HSFAXREOM || post == HSFAXRPRIEOM) {
        next = HSFAXRWAITLOCALDIS;
      } else if (post == HSFAXRPPS) {
        if (sub == HSFAXRPPSMPS || sub == 0x80) {
          setInt(FAXR_INT_HSTX);
          next = HSFAXRWAITNETDATA;
        } else if (sub == HSFAXRPPSEOM) {
          next = HSFAXRWAITLOCALDIS;
        }
      }
      break;
    }
    case HSFAXRRNR: case HSFAXRRR:
      if (fcf == HSFAXRRR) setInt(FAXR_INT_AWAITNET);
      break;
    case HSFAXRDCS: case HSFAXRCTC:
      setInt(FAXR_INT_AWAITNET);
      m->hsxfaxrregs.hsxlocalrate = rateFromDcsField(rateField(frameOctet(v, fifOctet(11))));
      if (fcf == HSFAXRDCS) takeEcmMode(m, v);
      next = HSFAXRSETUPMODEMRX;
      break;
    case HSFAXRDCN:
      setInt(FAXR_INT_DCN);
      next = HSFAXRABORT;
      break;
    case HSFAXREOM: case HSFAXRMPS: case HSFAXREOP: case HSFAXRPRIEOM: case HSFAXRPRIMPS: case HSFAXRPRIEOP:
      setInt(FAXR_INT_AWAITNET);
      s.hsxpostmsgfcf1 = fcf;
      s.hsxpostmsgfcf2 = 0;
      if (fcf == HSFAXREOM) markEom(m);
      if (fcf == HSFAXREOP) markEop(m);
      break;
    case HSFAXREOR:
      setInt(FAXR_INT_AWAITNET);
      s.hsxpostmsgfcf1 = fcf;
      s.hsxpostmsgfcf2 = next2;
      break;
    case HSFAXRPPS:
      setInt(FAXR_INT_AWAITNET);
      s.hsxpostmsgfcf1 = fcf;
      s.hsxpostmsgfcf2 = next2;
      if ((next2 | 0x80) == HSFAXRPPSEOP) markEop(m);
      if ((next2 | 0x80) == HSFAXRPPSEOM) markEom(m);
      break;
    default:
      break;
  }
  if (!final && s.hsxstate == HSFAXRWAITNETMSG) {
    stopSpoofing(m);
    next = HSFAXRWAITLOCALMSG;
  }
  if (next == HSFAXRWAITNETMSG)
    goWaitNetMsg(m);
  else
    setState(m, next);
  trimLineStatus(m, trimFrame(fcf, next2));
}

// ---- frames from the network ----

void hsffaxrprocessv21net(HSZFAXRLOCLMEM* m, uint16_t fcfOctet, uint16_t next2, bool final) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  const uint16_t fcf = fcfOctet & 0x7F;
  stopSpoofing(m);
  if (final) v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_TXFINAL);
  v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_LINEFRAMEEND);
  s.hsxtimer = 0;
  s.hsxrxmsg = fcf;
  const HSEFAXRSTATE state = s.hsxstate;
  auto setInt = [&](uint16_t bits) { m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | bits); };
  auto clearInt = [&](uint16_t bits) { m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~bits); };
  auto takeRate = [&]() {
    m->hsxfaxrregs.hsxlocalrate = rateFromDcsField(rateField(frameOctet(v, fifOctet(11))));
    hsffaxrsetrate(m);
  };
  auto postPage = [&](uint16_t sub) {
    setInt(FAXR_INT_POSTMSG);
    s.hsxpostmsgfcf1 = fcf;
    s.hsxpostmsgfcf2 = sub;
    // Waiting for network data, the relay already passed the line's answer to this command; the
    // network repeating it means that answer was lost on the way, so the answer the line gives
    // to the repeat is relayed once more, as often as the far end repeats.
    if (state == HSFAXRWAITNETMSG || state == HSFAXRWAITNETDATA) setState(m, HSFAXRTXLOCALMSG);
  };
  switch (fcf) {
    case HSFAXRDIS: case HSFAXRCSI: case HSFAXRNSF: case HSFAXRTSI: case HSFAXRSUB: case HSFAXRNSS: case HSFAXRPWD:
      if (final) {
        setState(m, HSFAXRTXLOCALMSG);
      } else {
        setState(m, HSFAXRSENDWAITNETMSG);
        startSpoofing(m);
      }
      break;
    case HSFAXRCFR:
      clearInt(FAXR_INT_CTR);
      setState(m, HSFAXRWAITLOCALDATA);
      break;
    case HSFAXRFTT:
      clearInt(FAXR_INT_CTR);
      count16(m->hsxfaxrStats.egress.hsxretrainCount);
      setState(m, HSFAXRTXLOCALMSG);
      break;
    case HSFAXRCTR:
      setInt(FAXR_INT_CTR);
      faxrEvent(m, FAXR_RATE_EVT, m->hsxfaxrregs.hsxlocalrate, (m->hsxintstatus & FAXR_INT_ECM) ? 1 : 0, true);
      setState(m, HSFAXRWAITLOCALDATA);
      break;
    case HSFAXRMCF: case HSFAXRRTN: case HSFAXRRTP:
      s.hsxpostmsg2 = fcf;
      if (fcf == HSFAXRMCF) {
        markMcf(m);
        s.hsxpprnum = 0;
      }
      setState(m, HSFAXRTXLOCALPOSTMSG2);
      break;
    case HSFAXRRNR: case HSFAXRRR:
      setState(m, HSFAXRTXLOCALMSG);
      break;
    case HSFAXRERR:
      setState(m, HSFAXRWAITLOCALDATA);
      break;
    case HSFAXRPPR:
      count16(m->hsxfaxrStats.egress.hsxPPRCount);
      ++s.hsxpprnum;
      setState(m, s.hsxpprnum >= 4 ? HSFAXRTXLOCALMSG : HSFAXRWAITLOCALDATA);
      break;
    case HSFAXRDCS:
      takeRate();
      takeEcmMode(m, v);
      if (m->hsxfaxrregs.hsxtcflocalgen == 1) {
        setInt(FAXR_INT_SKIPTRAIN);
        setState(m, HSFAXRENABLELOCALTRAIN);
      } else {
        if (state != HSFAXRTXLOCALDATATRAIN) setState(m, HSFAXRWAITNETDATA);
        setInt(FAXR_INT_TCF);
      }
      break;
    case HSFAXRCTC:
      takeRate();
      setState(m, HSFAXRTXLOCALMSG);
      break;
    case HSFAXRCRP:
      setState(m, HSFAXRWAITLOCALMSG);
      break;
    case HSFAXRDCN:
      setInt(FAXR_INT_DCN);
      setState(m, HSFAXRABORT);
      break;
    case HSFAXREOM: case HSFAXRMPS: case HSFAXREOP: case HSFAXRPRIEOM: case HSFAXRPRIMPS: case HSFAXRPRIEOP:
      if (fcf == HSFAXREOM || fcf == HSFAXRMPS || fcf == HSFAXREOP) count16(m->hsxfaxrStats.egress.hsxNumRxPages);
      if (fcf == HSFAXREOM) markEom(m);
      if (fcf == HSFAXREOP) markEop(m);
      postPage(0);
      break;
    case HSFAXREOR:
      s.hsxpostmsgfcf1 = fcf;
      s.hsxpostmsgfcf2 = next2;
      setState(m, HSFAXRTXLOCALMSG);
      break;
    case HSFAXRPPS:
      count16(m->hsxfaxrStats.egress.hsxNumRxPages);
      if ((next2 | 0x80) == HSFAXRPPSEOP) markEop(m);
      if ((next2 | 0x80) == HSFAXRPPSEOM) markEom(m);
      postPage(next2);
      break;
    default:
      break;
  }
  trimNetStatus(m, trimFrame(fcf, next2));
  faxrEvent(m, FAXR_V21FROMNET_EVT, fcf, 0);
}

}  // namespace faxr
