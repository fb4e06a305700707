// T.30 frames through the fax relay service: frames from the line to the network, frames from the
// network to the line, the rewriting of a few of them, the state decisions they cause and the
// locally made V.21 preamble and command repeat while the far end is slow.
#include <cstring>
#include <initializer_list>

#include "faxr_int.h"

namespace faxr {

namespace {

constexpr uint8_t kFinalControl = 0xC8;

// ---- the frame being assembled in hsxrxbuf: word 0 the bit count, then the octets ----

uint16_t frameBits(const HSZFAXRV21MODEM& v) { return v.hsxrxbuf[0]; }

uint8_t frameOctet(const HSZFAXRV21MODEM& v, int i) {
  if (i < 0 || i * 8 >= v.hsxrxbuf[0]) return 0;
  const uint16_t w = v.hsxrxbuf[1 + i / 2];
  return static_cast<uint8_t>((i & 1) ? w : w >> 8);
}

void clearFrame(HSZFAXRV21MODEM& v) {
  std::memset(v.hsxrxbuf, 0, sizeof(v.hsxrxbuf));
  v.changeIngressMsg = CHANGEV21MSG{};
  v.changeEgressMsg = CHANGEV21MSG{};
}

// Appends whole octets; false (nothing appended) when the frame would pass its limit.
bool appendFrame(HSZFAXRV21MODEM& v, const uint8_t* octets, int n) {
  if (frameBits(v) + n * 8 > FAXR_MAX_FRAME_BITS) return false;
  for (int i = 0; i < n; ++i) {
    const int at = v.hsxrxbuf[0] / 8;
    uint16_t& w = v.hsxrxbuf[1 + at / 2];
    w = static_cast<uint16_t>((at & 1) ? ((w & 0xFF00) | octets[i]) : ((w & 0x00FF) | (octets[i] << 8)));
    v.hsxrxbuf[0] = static_cast<uint16_t>(v.hsxrxbuf[0] + 8);
  }
  return true;
}

void packOctets(const uint8_t* octets, int n, uint16_t* words) {
  for (int i = 0; i < (n + 1) / 2; ++i) words[i] = 0;
  for (int i = 0; i < n; ++i) words[i / 2] = static_cast<uint16_t>(words[i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
}

bool oneOf(uint16_t f, std::initializer_list<uint16_t> list) {
  for (uint16_t x : list)
    if (f == x) return true;
  return false;
}

// FIF bit n (T.30 numbering) of a frame: octet 3 + (n - 1) / 8, mask 0x80 >> ((n - 1) % 8).
int fifOctet(int n) { return 3 + (n - 1) / 8; }
uint8_t fifMask(int n) { return static_cast<uint8_t>(0x80 >> ((n - 1) % 8)); }

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

void markEom(HSZFAXRLOCLMEM* m) {
  m->hsxstatus = static_cast<uint16_t>((m->hsxstatus | FAXR_EOM_SENT) & ~(FAXR_EOP_SENT | FAXR_MCF_CONFIRMED));
}
void markEop(HSZFAXRLOCLMEM* m) {
  m->hsxstatus = static_cast<uint16_t>((m->hsxstatus | FAXR_EOP_SENT) & ~(FAXR_EOM_SENT | FAXR_MCF_CONFIRMED));
}
void markMcf(HSZFAXRLOCLMEM* m) {
  if (m->hsxstatus & (FAXR_EOM_SENT | FAXR_EOP_SENT)) m->hsxstatus = static_cast<uint16_t>(m->hsxstatus | FAXR_MCF_CONFIRMED);
}

void stopSpoofing(HSZFAXRLOCLMEM* m) {
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~FAXR_V21_SPOOF);
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
  while (void* p = MEM_QueueDeq(q)) hsfBmFree(p);
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
          const uint16_t limit = m->hsxfaxrregs.hsxmaxfaxmodem & 0xF;
          if (rateField(o) > limit) o = static_cast<uint8_t>((o & ~0x3C) | (limit << 2));
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
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEPREAMBLE);
      m->hsxfaxrstate.hsxtimer = 0;
      clearFrame(v);
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
    faxrhdlcinit(&m->hsxdatahdlc, m);
    clearFrame(v);
    return;
  }
  hsffaxrchangev21msg(m, 1, chunk, n);
  appendFrame(v, chunk, n);
  packOctets(chunk, n, words);
  if (mode == 1) {
    if (n > 0) hsffaxrsendpacket(m, FAXR_PKT_V21, words, static_cast<uint16_t>(n * 8));
    return;
  }
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
  clearFrame(v);
}

void hsffaxrprocessv21msg(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  const uint16_t fcf = frameOctet(v, 2) & 0x7F;
  const uint16_t next2 = frameOctet(v, 3);
  const bool final = (frameOctet(v, 1) & 0x08) != 0;
  s.hsxtimer = 0;
  s.hsxrxmsg = fcf;
  if (final) v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEFINAL);
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
      if (fcf == HSFAXRDCS) {
        if (frameOctet(v, fifOctet(27)) & fifMask(27))
          setInt(FAXR_INT_ECM);
        else
          m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~FAXR_INT_ECM);
      }
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
  trimLineStatus(m, fcf);
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
    if (state == HSFAXRWAITNETMSG) setState(m, HSFAXRTXLOCALMSG);
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
      if (frameOctet(v, fifOctet(27)) & fifMask(27))
        setInt(FAXR_INT_ECM);
      else
        clearInt(FAXR_INT_ECM);
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
      setInt(FAXR_INT_POSTMSG);
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
  trimNetStatus(m, fcf);
  faxrEvent(m, FAXR_V21FROMNET_EVT, fcf, 0);
}

void hsffaxrprocessnetmsg(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  while (auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq(&m->hsxcmdbufq))) {
    ++m->hsxRxSeqNum;
    restartSilence(m);
    const uint8_t code = pktCode(pkt);
    const bool isNew = !m->rxStampValid || pkt->payloadTimeStampLow != m->hsxRxTimeStamp;
    if (!isNew) {  // a repeat of the last packet
      hsfBmFree(pkt);
      continue;
    }
    m->rxStampValid = true;
    m->hsxRxTimeStamp = pkt->payloadTimeStampLow;
    if (code >= FAXR_PKT_V21 && code <= FAXR_PKT_V21_END_BAD_FINAL) {
      if (!(v.hsxstatus & FAXR_V21_NETACCEPT)) {
        hsfBmFree(pkt);
        continue;
      }
      const uint16_t bits = pktBits(pkt);
      if (MEM_QueueCount(&m->hsxv21jitbufq) >= FAXR_MAX_JB_PACKETS) {  // no frame is that long
        count16(m->hsxfaxrStats.egress.hsxOverrunCount);
        hsfBmFree(pkt);
        continue;
      }
      if (code == FAXR_PKT_V21) {
        if (bits == 0) {
          hsfBmFree(pkt);
          continue;
        }
        if (v.hsxstatus & FAXR_V21_ENDQUEUED) {
          MEM_QueueEnq(&m->hsxv21jitbufq, pkt);
          v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_ENDQUEUED);
        } else {
          addDataToJitterBuffer(m, &m->hsxv21jitbufq, pkt);
        }
      } else {
        MEM_QueueEnq(&m->hsxv21jitbufq, pkt);
        v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_ENDQUEUED);
        ++v.hsxfaxrecmendcounter;
      }
      v.hsxv21counter = static_cast<uint16_t>(v.hsxv21counter + bits);
      continue;
    }
    if (code == FAXR_PKT_V21_PREAMBLE) {
      if (!(v.hsxstatus & FAXR_V21_NETPREAMBLE)) {
        if (!(v.hsxstatus & FAXR_V21_SPOOF)) {
          if (!(m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY)) {
            freeQueue(&m->hsxv21jitbufq);
            v.hsxv21counter = 0;
            v.hsxfaxrecmendcounter = 0;
            faxrhdlcinit(&m->hsxdatahdlc, m);
          }
          if (s.hsxstate != HSFAXRWAITLOCALTRAIN) startSpoofing(m);
        } else {
          v.v21MaxPreambleDuration = static_cast<uint16_t>(v.v21MaxPreambleDuration + 600);
        }
        if (s.hsxstate != HSFAXRTXLOCALCED) s.hsxtimer = 0;
        clearFrame(v);
        v.hsxstatus = static_cast<uint16_t>((v.hsxstatus & ~FAXR_V21_FRAMETX) | FAXR_V21_NETACCEPT | FAXR_V21_NETPREAMBLE);
        if (s.hsxstate == HSFAXRWAITLOCALMSG) goWaitNetMsg(m);
      }
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

void hsffaxrv21txdata(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  if (!(v.hsxstatus & FAXR_V21_FRAMETX)) {
    const uint32_t enough = 300u * m->hsxfaxrregs.hsxmaxjitter / 1000u + 12u;
    const bool waiting = v.hsxv21counter >= enough || v.hsxfaxrecmendcounter > 0;
    if (!waiting || (m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY) || s.hsxstate == HSFAXRTXLOCALCED ||
        s.hsxstate == HSFAXRTIMEGAP)
      return;
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_FRAMETX);
  }
  s.hsxtimer = 0;
  if (m->hsxfaxrregs.hsxnumgenHDLC > v.hsxtxnumhdlc) {
    faxrhdlcprocesstxpkt(m, 0, nullptr, static_cast<uint16_t>(m->hsxfaxrregs.hsxnumgenHDLC - v.hsxtxnumhdlc));
    v.hsxtxnumhdlc = m->hsxfaxrregs.hsxnumgenHDLC;
  }
  while (v.hsxcounter <= 12) {
    auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq(&m->hsxv21jitbufq));
    if (pkt == nullptr) break;
    const uint8_t code = pktCode(pkt);
    uint16_t bits = pktBits(pkt);
    v.hsxv21counter = static_cast<uint16_t>(v.hsxv21counter > bits ? v.hsxv21counter - bits : 0);
    int n = bits / 8;
    uint8_t octets[FAXR_MAX_PKT_BITS / 8];
    if (n > FAXR_MAX_PKT_BITS / 8) n = FAXR_MAX_PKT_BITS / 8;
    const uint16_t* d = pktData(pkt);
    for (int i = 0; i < n; ++i) octets[i] = static_cast<uint8_t>((i & 1) ? d[i / 2] : d[i / 2] >> 8);
    if (frameBits(v) + n * 8 > FAXR_MAX_FRAME_BITS) {
      n = 0;  // longer than any control frame: the chunk is dropped
      count16(m->hsxfaxrStats.egress.hsxbadframeCount);
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
    const bool final = (frameOctet(v, 1) & 0x08) != 0 || code == FAXR_PKT_V21_END_FINAL ||
                       code == FAXR_PKT_V21_END_BAD_FINAL;
    const bool bad = code == FAXR_PKT_V21_END_BAD || code == FAXR_PKT_V21_END_BAD_FINAL;
    hsffaxrprocessv21net(m, frameOctet(v, 2), frameOctet(v, 3), final);
    clearFrame(v);
    if (bad) count16(m->hsxfaxrStats.egress.hsxbadframeCount);
    faxrhdlcprocesstxpkt(m, bad ? 3 : 2, words, static_cast<uint16_t>(n * 8));
    faxrhdlcprocesstxpkt(m, 0, nullptr, final ? 2 : 1);
    v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~FAXR_V21_FRAMETX);
    if (v.hsxfaxrecmendcounter > 0) --v.hsxfaxrecmendcounter;
    if (final) {
      faxrhdlcinit(&m->hsxdatahdlc, m);
      v.hsxtxnumhdlc = 0;
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~(FAXR_V21_NETACCEPT | FAXR_V21_TXFINAL));
    }
    break;
  }
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
  faxrhdlcinit(&m->hsxdatahdlc, m);
  v.hsxtxnumhdlc = 0;
}

void hsffaxrspoof(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  if (!(v.hsxstatus & FAXR_V21_SPOOF)) return;
  const uint32_t limit = static_cast<uint32_t>(v.v21MaxPreambleDuration) + 1000u + m->hsxfaxrregs.hsxmaxdelay / 2u;
  if (s.hsxstate != HSFAXRWAITNETDIS && s.hsxtimer >= limit) {
    stopSpoofing(m);
    if ((v.hsxstatus & FAXR_V21_LINEFRAMEEND) && s.hsxrxmsg != HSFAXRDIS) {
      hsffaxrsendmsg(m);
      restartSilence(m);
    }
    setState(m, HSFAXRWAITLOCALMSG);
    count16(m->hsxfaxrStats.egress.hsxSpoofTimeoutCount);
    s.hsxtimer = 0;
    return;
  }
  const HSEFAXRSTATE st = s.hsxstate;
  if (st == HSFAXRTXLOCALCED || st == HSFAXRTXLOCALDATA || st == HSFAXRTIMEGAP || st == HSFAXRDATATIMEGAP) return;
  if (v.hsxstatus & FAXR_V21_FRAMETX) return;
  for (int guard = 0; v.hsxcounter < 13 && guard < 4; ++guard) {
    faxrhdlcprocesstxpkt(m, 0, nullptr, 1);
    if (v.hsxtxnumhdlc < m->hsxfaxrregs.hsxnumgenHDLC) ++v.hsxtxnumhdlc;
  }
}

}  // namespace faxr
