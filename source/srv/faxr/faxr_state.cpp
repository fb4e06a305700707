// The fax relay service's states: the work each does every tick, its time-outs, and the events
// of the local modems.
#include <cstring>

#include "faxr_int.h"
#include "lhapi.h"

namespace faxr {

namespace {

// ECM page data to the line takes the HDLC layer, so the line's V.21 frames are no longer followed:
// what was announced of them to the network ends there (the frame under way bad, then a
// no-signal) instead of leaving the far end waiting for their end.
void endLineFrames(HSZFAXRLOCLMEM* m) {
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  if (!(v.hsxstatus & FAXR_V21_LINEPREAMBLE)) return;
  if (v.hsxstatus & FAXR_V21_LINEFRAMEOPEN)
    faxrrxv21framestop(m);  // the frame, then the signal
  else
    hsffaxrsendpacket(m, FAXR_PKT_NOSIGNAL, nullptr, 0);
  clearV21(m, FAXR_V21_LINEPREAMBLE);
  hdlcReset(m);
}

void abortCall(HSZFAXRLOCLMEM* m) {
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  if (m->hsxfaxrv21.hsxstatus & FAXR_V21_TXBUSY) {
    clearV21(m, FAXR_V21_SPOOF);
    return;
  }
  hsffaxrsendcmd(kVfxRx, 0, 0);
  // the line's frames are followed again in WAIT (its terminal may go on with the call), each burst
  // from its own preamble: nothing of a frame under way now may join what comes after the abort
  hdlcReset(m);
  s.hsxtimer = 0;
  m->hsxfaxrfax.hsxstatus = 0;
  flushQueues(m);
  // what the V.21 modem was still to send went with the queues: the bits it would have reported
  // never come, and its receiver must not wait for them
  v21TxDone(m);
  m->hsxfaxrv21.hsxstatus = 0;
  faxrEvent(m, FAXR_FAILURE_EVT, HAPI_FAXR_SRV, static_cast<uint16_t>(m->heapId ? m->heapId->lowWaterMark : 0), true);
  const uint16_t st = m->hsxstatus;
  const bool dcn = (m->hsxintstatus & FAXR_INT_DCN) != 0;
  // each abort reports the call it ends: the completed mark and the reasons are this call's only
  if (((st & FAXR_EOM_SENT) && (st & FAXR_MCF_CONFIRMED)) ||
      ((st & FAXR_EOP_SENT) && (st & FAXR_MCF_CONFIRMED) && dcn))
    setStatus(m, FAXR_COMPLETED);
  else
    clearStatus(m, FAXR_COMPLETED);
  const uint16_t why = dcn ? 1 : (m->hsxintstatus & FAXR_INT_SILENCE) ? 2 : 0;
  faxrEvent(m, FAXR_ABORT_EVT, why, static_cast<uint16_t>(m->hsxstatus & 0x8070), true);
  clearInt(m, FAXR_INT_DCN | FAXR_INT_SILENCE);
  s.silenceTimer = 0xFFFF;
  setState(m, HSFAXRWAIT);
  setInt(m, FAXR_INT_ABORTED);
}

void txLocalData(HSZFAXRLOCLMEM* m) {
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  const bool tcf = (m->hsxintstatus & FAXR_INT_TCF) != 0;
  if (s.hsxtimer > 2299) {
    if (tcf) {
      s.hsxtimer = 0;
      clearInt(m, FAXR_INT_HSTX | FAXR_INT_TCF);
      hdlcReset(m);
      setState(m, HSFAXRWAITLOCALMSG);
      return;
    }
    if (s.hsxtimer >= 18000) {
      count16(m->hsxfaxrStats.egress.hsxSpoofTimeoutCount);
      setState(m, HSFAXRABORT);
      return;
    }
  }
  if (ecmPage(m))
    hsffaxrt4ecmdataproc(m);
  else
    hsffaxrt4dataproc(m);
  if ((m->hsxintstatus & FAXR_INT_NETPAGEEND) && !(m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY)) {
    clearInt(m, FAXR_INT_HSTX | FAXR_INT_TCF);
    s.hsxtimer = 0;
    if (!tcf) s.hsxdelaytimer = 0;
    hdlcReset(m);
    setState(m, tcf ? HSFAXRWAITLOCALMSG : HSFAXRDATATIMEGAP);
  }
}

}  // namespace

void tickAction(HSZFAXRLOCLMEM* m, uint16_t ms) {
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  const uint16_t T = s.hsxtimer;
  switch (s.hsxstate) {
    case HSFAXRWAIT:
      if (T >= 35000) setState(m, HSFAXRABORT);
      break;
    case HSFAXRWAITNETMSG:
      if ((m->hsxintstatus & FAXR_INT_AWAITNET) && T > m->hsxfaxrregs.hsxmaxdelay / 2 + 999 && s.hsxrxmsg != HSFAXRDIS) {
        startSpoofing(m);
        v.v21MaxPreambleDuration = 2000;
      } else if (T >= 10000) {
        setState(m, HSFAXRABORT);
      }
      break;
    case HSFAXRWAITNETDATA: case HSFAXRWAITLOCALMSG: case HSFAXRWAITNETDIS: case HSFAXRWAITLOCALDIS:
    case HSFAXRWAITTRAINRX: case HSFAXRRXLOCALCED:
      if (T >= 10000) setState(m, HSFAXRABORT);
      break;
    case HSFAXRWAITLOCALTRAIN:
      if (m->hsxfaxrfax.hsxstatus & FAXR_FAX_ENDED) {
        clearFax(m, FAXR_FAX_ENDED);
        clearV21(m, FAXR_V21_LINEPREAMBLE);
        setState(m, HSFAXRWAITNETMSG);
        s.hsxtimer = 0;
        hdlcReset(m);
      } else if (T >= 6000) {
        setState(m, HSFAXRABORT);
      }
      break;
    case HSFAXRWAITLOCALDATA:
      if (v.hsxstatus & FAXR_V21_TXBUSY) break;
      m->hsxfaxrfax.hsxcounter = 0;
      m->hsxfaxrfax.hsxfaxrcounter = 0;
      m->hsxfaxrfax.hsxfaxrecmendcounter = 0;
      hdlcReset(m);
      hsffaxrsendcmd(kVfxRx, (m->hsxintstatus & FAXR_INT_TCF) ? 3 : ecmPage(m) ? 4 : 1, 0);
      s.hsxtimer = 0;
      clearFax(m, FAXR_FAX_ENDED);
      setState(m, HSFAXRWAITTRAINRX);
      break;
    case HSFAXRSENDWAITNETMSG:
      if (T >= 601) startSpoofing(m);
      break;
    case HSFAXRTIMEGAP:
      s.hsxtimer = 0;
      if (s.hsxdelaytimer >= 76) {
        clearV21(m, FAXR_V21_LINEPREAMBLE);
        setState(m, HSFAXRWAITNETMSG);
      }
      break;
    case HSFAXRDATATIMEGAP:
      if (s.hsxdelaytimer >= 76) setState(m, HSFAXRTXLOCALPOSTMSG);
      break;
    case HSFAXRSETUPMODEMRX:
      s.hsxpprnum = 0;
      hsffaxrsetrate(m);
      clearFax(m, FAXR_FAX_TCFGOOD | FAXR_FAX_ENDED);
      if (m->hsxfaxrregs.hsxtcflocalgen == 1) {
        hsffaxrsendcmd(kVfxRx, 1, 0);
        clearInt(m, FAXR_INT_TCF);
        setState(m, HSFAXRWAITLOCALTRAIN);
      } else {
        setInt(m, FAXR_INT_TCF);
        setState(m, HSFAXRWAITLOCALDATA);
      }
      if (s.hsxrxmsg == HSFAXRCTC) {
        clearInt(m, FAXR_INT_TCF);
        goWaitNetMsg(m);
      }
      break;
    case HSFAXRTXLOCALCED:
      if (T == 0) {
        hsffaxrsendcmd(kV21Tone, 1, 0);
        v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_TXBUSY);
        faxrEvent(m, FAXR_TONEGEN_EVT, 0, 0);
      }
      if (T > m->hsxfaxrregs.hsxcedduration) {
        hsffaxrsendcmd(kV21Tone, 0, 0);
        s.hsxdelaytimer = 0;
        clearV21(m, FAXR_V21_TXBUSY);
        setState(m, HSFAXRTIMEGAP);
      }
      break;
    case HSFAXRTXLOCALCNG:
      if (s.hsxcngtimer == 0) {
        hsffaxrsendcmd(kV21Tone, 2, 0);
        v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_TXBUSY);
        faxrEvent(m, FAXR_TONEGEN_EVT, 1, 0);
      }
      if (s.hsxcngtimer > static_cast<int32_t>(m->hsxfaxrregs.hsxcngduration)) {
        hsffaxrsendcmd(kV21Tone, 0, 0);
        s.hsxcngtimer = static_cast<int16_t>(-static_cast<int32_t>(m->hsxfaxrregs.hsxcngdonedelay & 0x7FFF));
        clearV21(m, FAXR_V21_TXBUSY);
      }
      if (T > 35000) {
        hsffaxrsendcmd(kV21Tone, 0, 0);
        s.hsxcngtimer = 0;
        clearV21(m, FAXR_V21_TXBUSY);
        setState(m, HSFAXRABORT);
      } else if (m->hsxdatahdlc.preambledet) {
        setState(m, HSFAXRWAITLOCALMSG);
      }
      s.hsxcngtimer = static_cast<int16_t>(s.hsxcngtimer + ms);
      break;
    case HSFAXRTXLOCALMSG:
      if (!(v.hsxstatus & FAXR_V21_TXBUSY)) {
        s.hsxtimer = 0;
        setState(m, HSFAXRWAITLOCALMSG);
      }
      break;
    case HSFAXRTXLOCALTRAIN:
      if (!(m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY)) {
        s.hsxtimer = 0;
        setState(m, HSFAXRWAITLOCALMSG);
        hdlcReset(m);
      }
      break;
    case HSFAXRTXLOCALDATA:
      txLocalData(m);
      break;
    case HSFAXRTXLOCALDATATRAIN:
      if (s.trainingDelayTimer >= 76) {
        const bool longTrain = localRate(m) > 4 && (m->hsxintstatus & (FAXR_INT_TCF | FAXR_INT_LONGTRAIN));
        hsffaxrsendcmd(kVfxTx, longTrain ? 3 : 1, 0);
        if (ecmPage(m)) endLineFrames(m);
        setInt(m, FAXR_INT_HSTX);
        setFax(m, FAXR_FAX_TXBUSY);
        s.hsxtimer = 0;
        setState(m, HSFAXRTXLOCALDATA);
      }
      break;
    case HSFAXRTXLOCALPOSTMSG:
      if (m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY) {
        s.hsxtimer = 0;
      } else if (m->hsxintstatus & FAXR_INT_POSTMSG) {
        clearFax(m, FAXR_FAX_POSTMSG);
        setState(m, HSFAXRTXLOCALMSG);
      }
      break;
    case HSFAXRTXLOCALPOSTMSG2:
      if (m->hsxfaxrfax.hsxstatus & FAXR_FAX_TXBUSY) {
        s.hsxtimer = 0;
      } else {
        count16(m->hsxfaxrStats.ingress.hsxNumTxPages);
        const uint16_t post = s.hsxpostmsgfcf1;
        const uint16_t sub = static_cast<uint16_t>(s.hsxpostmsgfcf2 | 0x80);
        if (post == HSFAXREOM || (post == HSFAXRPPS && sub == HSFAXRPPSEOM))
          setState(m, HSFAXRWAITNETDIS);
        else if (post == HSFAXREOP || (post == HSFAXRPPS && sub == HSFAXRPPSEOP))
          setState(m, HSFAXRTXLOCALMSG);
        else
          setState(m, HSFAXRWAITLOCALDATA);
      }
      break;
    case HSFAXRRXLOCALDATA:
      if (m->hsxfaxrfax.hsxstatus & FAXR_FAX_ENDED) {
        const bool tcf = (m->hsxintstatus & FAXR_INT_TCF) != 0;
        clearFax(m, FAXR_FAX_ENDED);
        s.hsxtimer = 0;
        hdlcReset(m);
        clearInt(m, FAXR_INT_TCF | FAXR_INT_CTR);
        if (tcf)
          goWaitNetMsg(m);
        else
          setState(m, HSFAXRWAITLOCALMSG);
      } else if (T >= 10000) {
        count16(m->hsxfaxrStats.egress.hsxSpoofTimeoutCount);
        setState(m, HSFAXRABORT);
      }
      break;
    case HSFAXRENABLELOCALTRAIN:
      if (s.trainingDelayTimer >= 76) {
        hsffaxrsendcmd(kVfxTx, 2, 0);
        setFax(m, FAXR_FAX_TXBUSY);
        setState(m, HSFAXRTXLOCALTRAIN);
      }
      break;
    case HSFAXRABORT:
      abortCall(m);
      break;
    default:
      break;
  }
}

namespace {

// ---- local-modem events ----

// A received bit block {count, words in line order}, bounded by the message.
void feedHdlc(HSZFAXRLOCLMEM* m, const HSFMSG& msg) {
  if (msg.ext.bufp == nullptr || msg.ext.length < 2) return;
  uint16_t block[1 + kModemBlockBits / 16] = {};
  const uint16_t maxWords = static_cast<uint16_t>(msg.ext.length / 2 < 1 + kModemBlockBits / 16 ? msg.ext.length / 2
                                                                                                 : 1 + kModemBlockBits / 16);
  std::memcpy(block, msg.ext.bufp, maxWords * 2u);
  if (block[0] > (maxWords - 1) * 16) block[0] = static_cast<uint16_t>((maxWords - 1) * 16);
  hsffaxrbitrev(block + 1, maxWords - 1);
  faxrhdlcprocessrxpkt(m, block, maxWords);
}

void faxDataBlock(HSZFAXRLOCLMEM* m, const HSFMSG& msg) {
  if (m->hsxfaxrstate.hsxstate != HSFAXRRXLOCALDATA) return;
  if (ecmPage(m)) {
    feedHdlc(m, msg);
  } else if (msg.ext.bufp != nullptr && msg.ext.length >= 2) {
    uint16_t block[1 + kModemBlockBits / 16] = {};
    const uint16_t maxWords = static_cast<uint16_t>(msg.ext.length / 2 < 1 + kModemBlockBits / 16 ? msg.ext.length / 2
                                                                                                   : 1 + kModemBlockBits / 16);
    std::memcpy(block, msg.ext.bufp, maxWords * 2u);
    uint16_t bits = block[0];
    if (bits > (maxWords - 1) * 16) bits = static_cast<uint16_t>((maxWords - 1) * 16);
    if (bits > FAXR_MAX_PKT_BITS) bits = FAXR_MAX_PKT_BITS;
    hsffaxrbitrev(block + 1, maxWords - 1);
    m->hsxfaxrfax.hsxcounter = static_cast<int16_t>(m->hsxfaxrfax.hsxcounter + bits);
    if (bits > 0) hsffaxrsendpacket(m, static_cast<uint8_t>(localRate(m) + 22), block + 1, bits);
  }
  m->hsxfaxrstate.hsxtimer = 0;
}

}  // namespace

void hsffaxrevtmgr(HSZFAXRLOCLMEM* m, const HSFMSG& msg) {
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const uint16_t op1 = msg.std.op1;
  switch (msg.std.header) {
    case kVfxRxData:
      faxDataBlock(m, msg);
      break;
    case kVfxRxTrain: {
      hdlcReset(m);  // a line frame under way ends before the page data's signal starts
      const uint16_t rate = localRate(m);
      if (rate >= 1) {
        const int index = (op1 == 1 && rate > 6) ? rate + 3 : rate - 1;
        hsffaxrsendpacket(m, hstfaxrdatatraincode[index], nullptr, 0);
      }
      if (s.hsxstate != HSFAXRWAITLOCALTRAIN) setState(m, HSFAXRRXLOCALDATA);
      s.hsxtimer = 0;
      break;
    }
    case kVfxRxEnd:
      setFax(m, FAXR_FAX_ENDED);
      if (ecmPage(m)) {
        hdlcReset(m);  // the carrier's last bits often start a frame: it ends bad
        hsffaxrsendpacket(m, FAXR_PKT_ECM_PAGEEND, nullptr, 0);
      } else {
        hsffaxrsendpacket(m, FAXR_PKT_PAGEEND, nullptr, 0);
      }
      f.hsxcounter = 0;
      break;
    case kVfxTxDone:
      clearFax(m, FAXR_FAX_TXBUSY);
      if (m->hsxintstatus & FAXR_INT_HSTX) setFax(m, FAXR_FAX_POSTMSG);
      f.hsxcounter = 0;
      break;
    case kVfxTcfDone:
      if (op1 < hstfaxrtrainerrthresh[localRate(m)]) {
        setFax(m, FAXR_FAX_TCFGOOD | FAXR_FAX_ENDED);
      } else {
        clearFax(m, FAXR_FAX_TCFGOOD);
        setFax(m, FAXR_FAX_ENDED);
        count16(m->hsxfaxrStats.ingress.hsxretrainCount);
      }
      break;
    case kVfxTxBits:
      f.hsxcounter = static_cast<int16_t>(f.hsxcounter - static_cast<int16_t>(op1));
      break;
    case kVfxRxDone:
      faxrEvent(m, kVfxRxDone, op1, msg.std.op2);
      break;
    case kVfxPoolLow:
      faxrEvent(m, FAXR_FAILURE_EVT, HAPI_VFAX_SRV, op1, true);
      break;
    case kV21PoolLow:
      faxrEvent(m, FAXR_FAILURE_EVT, HAPI_V21_SRV, op1, true);
      break;
    case kV21Cng:
      if (op1 != 0 && s.hsxstate == HSFAXRWAIT) {
        hsffaxrsendpacket(m, FAXR_PKT_CNG, nullptr, 0);
        faxrEvent(m, FAXR_TONEDET_EVT, 1, 0);
        s.hsxtimer = 0;
      }
      break;
    case kV21Ced:
      if (s.hsxstate == HSFAXRWAIT || s.hsxstate == HSFAXRTXLOCALCNG) {
        if (op1 == 1) {
          setState(m, HSFAXRRXLOCALCED);
          hsffaxrsendpacket(m, FAXR_PKT_CED, nullptr, 0);
          faxrEvent(m, FAXR_TONEDET_EVT, 0, 0);
          hsffaxrsendcmd(kV21Tone, 0, 0);
          clearV21(m, FAXR_V21_TXBUSY);
        } else {
          setState(m, HSFAXRWAITLOCALMSG);
        }
        s.hsxtimer = 0;
      }
      break;
    case kV21NoCarrier:
      clearV21(m, FAXR_V21_LINEBURST | FAXR_V21_LINEANSWER);  // the line's terminal has stopped sending
      if (faxrhdlcrxpassedon(m->hsxdatahdlc)) hdlcReset(m);  // the carrier went in the middle of a frame
      if (s.hsxstate == HSFAXRWAITLOCALMSG || s.hsxstate == HSFAXRWAITLOCALDIS) hdlcReset(m);
      if (v.hsxstatus & FAXR_V21_LINEFINAL) {
        hdlcReset(m);
        clearV21(m, FAXR_V21_LINEFINAL);
      }
      break;
    case kV21TxBits:
      s.trainingDelayTimer = 0;
      v.hsxcounter = static_cast<uint16_t>(v.hsxcounter > op1 ? v.hsxcounter - op1 : 0);
      if (v.hsxcounter == 0 && (v.hsxstatus & FAXR_V21_TXBUSY)) v21TxDone(m);  // once, when the last bit has gone
      break;
    case kV21TxUflow:
      if (v.hsxstatus & FAXR_V21_NETACCEPT) count16(m->hsxfaxrStats.egress.hsxv21TxUflowCount);
      break;
    case kV21RxData: {
      if (v.lineTurn < kLineTurnMs) v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_LINEANSWER);  // its answer comes
      const HSEFAXRSTATE st = s.hsxstate;
      // Frames the line sends are relayed whatever the network has started towards the line (a
      // training check whose command was lost, page data the line is not taking), and a frame
      // whose preamble went to the network is followed to its end; only the HDLC work of ECM page
      // data, in either direction, keeps the receiver. WAIT listens after an abort too: the
      // line's terminal may go on (repeat its command, disconnect), and a relay deaf to it would
      // leave the far end waiting for ever.
      const bool hdlcBusy = st == HSFAXRRXLOCALDATA || (st == HSFAXRTXLOCALDATA && ecmPage(m));
      const bool listen = st == HSFAXRWAITNETMSG || st == HSFAXRWAITLOCALMSG || st == HSFAXRWAITLOCALDIS ||
                          st == HSFAXRWAITTRAINRX || st == HSFAXRTXLOCALCNG || st == HSFAXRRXLOCALCED ||
                          st == HSFAXRWAIT ||
                          (!hdlcBusy && (st == HSFAXRTXLOCALDATA || st == HSFAXRDATATIMEGAP ||
                                         st == HSFAXRTXLOCALPOSTMSG || (v.hsxstatus & FAXR_V21_LINEPREAMBLE)));
      if (listen) feedHdlc(m, msg);
      break;
    }
    default:
      break;
  }
}

}  // namespace faxr
