// Page data of the fax relay service: the training check and page data from the network buffered
// against jitter and played to the fax datapump (T.4 fill put in front of an end-of-line code only,
// HDLC flags between ECM frames), and the rate set-up of the datapump.
#include <bit>
#include <cstring>

#include "faxr_int.h"

namespace faxr {

const uint16_t hstfaxrpacketbitsize[11] = {0, 48, 96, 144, 192, 240, 288, 144, 192, 240, 288};
const uint16_t hstfaxrtrainerrthresh[11] = {0, 28, 57, 86, 115, 144, 170, 86, 115, 144, 170};
const uint8_t hstfaxrdatatraincode[14] = {4, 5, 6, 7, 8, 9, 10, 12, 14, 16, 11, 13, 15, 17};
const uint16_t bytesToMask[10] = {45, 90, 135, 180, 225, 270, 135, 180, 225, 270};

HAPI_PKT_HDR* queueTail(QMQUEUE* q) {
  return q->tailPtr != nullptr ? static_cast<HAPI_PKT_HDR*>(MEM_DataOf(q->tailPtr)) : nullptr;
}

uint16_t localRate(const HSZFAXRLOCLMEM* m) {
  const uint16_t r = m->hsxfaxrregs.hsxlocalrate;
  return r <= 10 ? r : 10;
}

bool ecmPage(const HSZFAXRLOCLMEM* m) {
  return (m->hsxintstatus & FAXR_INT_ECM) && !(m->hsxintstatus & FAXR_INT_TCF);
}

namespace {

// Copies up to one word's worth of bits, up to the end of the destination's word; returns how many.
int copyPartWord(uint16_t* dst, int dstAt, const uint16_t* src, int srcAt, int n) {
  const int dOff = dstAt % 16;
  const int take = 16 - dOff < n ? 16 - dOff : n;
  const int sOff = srcAt % 16;
  uint32_t v = static_cast<uint32_t>(src[srcAt / 16]) << sOff;
  if (sOff + take > 16) v |= src[srcAt / 16 + 1] >> (16 - sOff);
  const uint32_t mask = ((0xFFFFu << (16 - take)) & 0xFFFFu) >> dOff;
  uint16_t& d = dst[dstAt / 16];
  d = static_cast<uint16_t>((d & ~mask) | (((v & 0xFFFFu) >> dOff) & mask));
  return take;
}

}  // namespace

// Copies n bits (first bit most significant) from src at bit srcAt to dst at bit dstAt; the bits
// of dst around the run keep their values. Once the destination is at a word's start, whole words
// go at once: moved as they are when the source is at one too, else each made of two source
// words. The copy runs forwards, so a run moving towards the front of its own words (dst == src,
// dstAt < srcAt) is safe: every word written holds only bits already read.
void copyBits(uint16_t* dst, int dstAt, const uint16_t* src, int srcAt, int n) {
  if (n > 0 && dstAt % 16 != 0) {
    const int took = copyPartWord(dst, dstAt, src, srcAt, n);
    dstAt += took;
    srcAt += took;
    n -= took;
  }
  uint16_t* d = dst + dstAt / 16;
  const uint16_t* s = src + srcAt / 16;
  const int words = n / 16;
  const int shift = srcAt % 16;
  if (shift == 0) {
    std::memmove(d, s, static_cast<size_t>(words) * 2u);
  } else {
    for (int k = 0; k < words; ++k) d[k] = static_cast<uint16_t>((s[k] << shift) | (s[k + 1] >> (16 - shift)));
  }
  if (n % 16 != 0) copyPartWord(dst, dstAt + words * 16, src, srcAt + words * 16, n % 16);
}

// The bit that ends an end-of-line code in the first `bits` bits of `words`: a one after more
// than ten zeros, the zeros counted on from `zeros` (those at the end of the packets before).
// Returns its index, or -1 with `zeros` holding the zeros run at the end. A word at a time: the
// word goes below the zeros before it (at most eleven count, with the one ahead of fewer), and a
// one of the word ends a code when the eleven bits above it are all zeros. The count is 16 bits:
// near its wrap a word goes bit by bit.
int findEOLEnd(const uint16_t* words, int bits, uint16_t& zeros) {
  for (int at = 0; at < bits; at += 16) {
    const int valid = bits - at < 16 ? bits - at : 16;
    const uint32_t word = words[at / 16] & ((0xFFFFu << (16 - valid)) & 0xFFFFu);
    if (zeros > 0xFFFF - 16) {
      // the count wraps within this word, bit by bit as it always has
      for (int i = 0; i < valid; ++i) {
        if (!((word >> (15 - i)) & 1)) {
          ++zeros;
        } else if (zeros > 10) {
          zeros = 0;
          return at + i;
        } else {
          zeros = 0;
        }
      }
      continue;
    }
    const int before = zeros < 11 ? zeros : 11;
    const uint32_t v = ((before < 11 ? 1u : 0u) << (16 + before)) | word;
    // bit b of `clear` is set when bits b+1 to b+11 of v are all zeros
    const uint32_t z1 = ~v >> 1;
    const uint32_t z2 = z1 & (z1 >> 1);
    const uint32_t z3 = z2 & (z1 >> 2);
    const uint32_t z8 = z3 & (z3 >> 3) & (z2 >> 6);
    const uint32_t clear = z8 & (z3 >> 8);
    if (const uint32_t ends = word & clear; ends != 0) {
      zeros = 0;
      return at + std::countl_zero(static_cast<uint16_t>(ends));
    }
    if (word == 0)
      zeros = static_cast<uint16_t>(zeros + valid);
    else
      zeros = static_cast<uint16_t>(std::countr_zero(word) - (16 - valid));
  }
  return -1;
}

namespace {

uint16_t bitsPer20ms(const HSZFAXRLOCLMEM* m) {
  const uint16_t b = hstfaxrpacketbitsize[localRate(m)];
  return b != 0 ? b : 48;
}

// Sends up to 816 bits (first bit most significant) to the datapump; false when no memory.
bool toDatapump(HSZFAXRLOCLMEM* m, const uint16_t* data, uint16_t bits) {
  if (bits > kModemBlockBits) bits = kModemBlockBits;
  return sendDataPktToVFAX(m, data, bits) == bits && bits != 0;
}

bool sendPacketToDatapump(HSZFAXRLOCLMEM* m, HAPI_PKT_HDR* pkt) {
  const uint16_t bits = pktBits(pkt);
  if (bits == 0) return true;
  if (!toDatapump(m, pktData(pkt), bits)) {
    count16(m->hsxfaxrStats.egress.hsxOverrunCount);
    return false;
  }
  m->hsxfaxrfax.hsxcounter = static_cast<int16_t>(m->hsxfaxrfax.hsxcounter + bits);
  return true;
}

void takeBits(HSZFAXRLOCLMEM* m, uint16_t bits) {
  uint16_t& j = m->hsxfaxrfax.hsxfaxrcounter;
  j = static_cast<uint16_t>(j > bits ? j - bits : 0);
}

// ---- the jitter-buffer machine's actions ----

HSZFAXRLOCLMEM* local(void* ctx) { return static_cast<FAXRJBACTIONARG*>(ctx)->localp; }
void post(HSZFAXRLOCLMEM* m, FAXRJBEVENT e) { vcfStmPutEvent(&m->hsxfaxrfax.jbStm.evq, e); }
bool tcfPhase(const HSZFAXRLOCLMEM* m) { return (m->hsxintstatus & FAXR_INT_TCF) != 0; }
// Whether a packet code is non-ECM page data (T.4 rows or the training check), by rate.
bool nonEcmDataCode(uint8_t code) { return code >= 23 && code <= 32; }

// Whether the buffer holds the end of a row past its first `after` bits: an end-of-line code
// that came in after them.
bool rowEndBuffered(const HSZFAXRLOCLMEM* m, uint32_t after) {
  const HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  return f.hsxfaxrcounter > after + f.hsxrowtailbits;
}

int32_t checkJBlevelHi(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  const uint32_t b = bitsPer20ms(m);
  const uint32_t threshold = tcfPhase(m) ? 5 * b : b + 680;
  post(m, m->hsxfaxrfax.hsxfaxrcounter < threshold ? e_notHi : e_hi);
  return 0;
}

// Fill held in front of an end-of-line code ends once the buffer is up again and holds the end of
// the row that code starts too: a row played out before its end came would leave the datapump
// nothing but fill inside the row, which shifts it and every row after it.
int32_t checkJBlevelHiRow(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  const HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const bool held = f.hsxspooftxbufbitcnt != 0;
  if (held && !rowEndBuffered(m, 0) && MEM_QueueCount(&m->hsxvfaxjitbufq) < FAXR_MAX_JB_PACKETS) {
    post(m, e_notHi);
    return 0;
  }
  return checkJBlevelHi(ctx);
}

// Page data runs low, or the next packet holds the last end of a row the buffer has: past that
// end the datapump could run dry inside a row, where no fill may go. Either way the fill waits in
// front of the next end of line.
int32_t checkJBlevelLo(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  const uint32_t b = bitsPer20ms(m);
  const uint32_t j = m->hsxfaxrfax.hsxfaxrcounter;
  if (tcfPhase(m)) {
    post(m, j < 4 * b ? e_loTCF : e_notLo);
    return 0;
  }
  const auto* next = static_cast<const HAPI_PKT_HDR*>(MEM_QueueHead(&m->hsxvfaxjitbufq));
  const bool lastRowEnd = next != nullptr && rowEndBuffered(m, 0) && !rowEndBuffered(m, pktBits(next));
  post(m, j < 8 * b + 672 || lastRowEnd ? e_loPage : e_notLo);
  return 0;
}

int32_t sendData(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxvfaxjitbufq));
  if (pkt == nullptr) return 0;
  takeBits(m, pktBits(pkt));
  sendPacketToDatapump(m, pkt);
  hsfBmFree(pkt);
  return 0;
}

int32_t sendSpoofing(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  const uint16_t bits = static_cast<uint16_t>(bitsPer20ms(m) < kModemBlockBits ? bitsPer20ms(m) : kModemBlockBits);
  static const uint16_t zeros[kModemBlockBits / 16] = {};
  if (!toDatapump(m, zeros, bits)) {
    count16(m->hsxfaxrStats.egress.hsxOverrunCount);
    return 0;
  }
  faxrEvent(m, FAXR_TRACE_EVT, 0, 2227);
  m->hsxfaxrfax.hsxcounter = static_cast<int16_t>(m->hsxfaxrfax.hsxcounter + bits);
  return 0;
}

int32_t initEOLsearch(void* ctx) {
  local(ctx)->hsxfaxrfax.hsxbitcount = 0;
  return 0;
}

int32_t lookForEOL(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxvfaxjitbufq));
  if (pkt == nullptr) {
    post(m, e_empty);
    return 0;
  }
  const uint16_t bits = pktBits(pkt);
  takeBits(m, bits);
  const uint16_t* d = pktData(pkt);
  const int eolEnd = findEOLEnd(d, bits, f.hsxbitcount);
  if (eolEnd < 0) {
    sendPacketToDatapump(m, pkt);
    hsfBmFree(pkt);
    return 0;
  }
  post(m, e_EOLfound);
  faxrEvent(m, FAXR_TRACE_EVT, 0, 1117);
  count16(m->hsxfaxrStats.egress.hsxSpoofCount);
  // the bits in front of the code's twelve go now; the code and what follows wait for the fill
  const int split = eolEnd >= 11 ? eolEnd - 11 : 0;
  if (split > 0) {
    if (toDatapump(m, d, static_cast<uint16_t>(split)))
      f.hsxcounter = static_cast<int16_t>(f.hsxcounter + split);
    else
      count16(m->hsxfaxrStats.egress.hsxOverrunCount);
  }
  const int rest = bits - split;
  std::memset(f.hsxspooftxbuf, 0, sizeof(f.hsxspooftxbuf));
  copyBits(f.hsxspooftxbuf, 0, d, split, rest < FAXR_SPOOFBUF_WORDS * 16 ? rest : FAXR_SPOOFBUF_WORDS * 16);
  f.hsxspooftxbufbitcnt = static_cast<uint16_t>(rest);
  if (split + rest != bits) LHAPI_ASSERT_FAIL();
  hsfBmFree(pkt);
  return 0;
}

int32_t uncacheEOL(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  if (f.hsxspooftxbufbitcnt == 0) return 0;
  const uint16_t bits = f.hsxspooftxbufbitcnt;
  if (toDatapump(m, f.hsxspooftxbuf, bits)) {
    faxrEvent(m, FAXR_TRACE_EVT, 0, 1007);
    f.hsxcounter = static_cast<int16_t>(f.hsxcounter + bits);
  } else {
    count16(m->hsxfaxrStats.egress.hsxOverrunCount);
  }
  f.hsxspooftxbufbitcnt = 0;
  return 0;
}

int32_t flushData(void* ctx) {
  HSZFAXRLOCLMEM* m = local(ctx);
  auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxvfaxjitbufq));
  if (pkt == nullptr) {
    post(m, e_jbempty);
    return 0;
  }
  takeBits(m, pktBits(pkt));
  sendPacketToDatapump(m, pkt);
  hsfBmFree(pkt);
  return 0;
}

int32_t indicateDone(void* ctx) {
  post(local(ctx), e_done);
  return 0;
}

extern const FAXRJBSTMROW faxr_non_ECM_JB_build_out[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_steady_state[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_search_EOL[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_spoof_Page[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_spoof_TCF[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_flush[];
extern const FAXRJBSTMROW faxr_non_ECM_JB_done[];

const FAXRJBSTMROW faxr_non_ECM_JB_build_out[] = {
    {e_deflt, faxr_non_ECM_JB_build_out, {checkJBlevelHi}},
    {e_notHi, faxr_non_ECM_JB_build_out, {sendSpoofing}},
    {e_hi, faxr_non_ECM_JB_steady_state, {nullptr}},
    {e_sigEnd, faxr_non_ECM_JB_flush, {uncacheEOL}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_steady_state[] = {
    {e_deflt, faxr_non_ECM_JB_steady_state, {checkJBlevelLo}},
    {e_notLo, faxr_non_ECM_JB_steady_state, {sendData}},
    {e_loTCF, faxr_non_ECM_JB_spoof_TCF, {nullptr}},
    {e_loPage, faxr_non_ECM_JB_search_EOL, {initEOLsearch}},
    {e_sigEnd, faxr_non_ECM_JB_flush, {uncacheEOL}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_search_EOL[] = {
    {e_deflt, faxr_non_ECM_JB_search_EOL, {lookForEOL}},
    {e_EOLfound, faxr_non_ECM_JB_spoof_Page, {nullptr}},
    {e_empty, faxr_non_ECM_JB_spoof_Page, {nullptr}},
    {e_sigEnd, faxr_non_ECM_JB_flush, {uncacheEOL}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_spoof_Page[] = {
    {e_deflt, faxr_non_ECM_JB_spoof_Page, {checkJBlevelHiRow}},
    {e_notHi, faxr_non_ECM_JB_spoof_Page, {sendSpoofing}},
    {e_hi, faxr_non_ECM_JB_steady_state, {uncacheEOL}},
    {e_sigEnd, faxr_non_ECM_JB_flush, {uncacheEOL}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_spoof_TCF[] = {
    {e_deflt, faxr_non_ECM_JB_spoof_TCF, {checkJBlevelHi}},
    {e_notHi, faxr_non_ECM_JB_spoof_TCF, {sendSpoofing}},
    {e_hi, faxr_non_ECM_JB_steady_state, {nullptr}},
    {e_sigEnd, faxr_non_ECM_JB_flush, {uncacheEOL}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_flush[] = {
    {e_deflt, faxr_non_ECM_JB_flush, {flushData}},
    {e_jbempty, faxr_non_ECM_JB_done, {indicateDone}},
    {e_endstm, nullptr, {nullptr}},
};
const FAXRJBSTMROW faxr_non_ECM_JB_done[] = {
    {e_deflt, faxr_non_ECM_JB_done, {indicateDone}},
    {e_sigEnd, faxr_non_ECM_JB_done, {indicateDone}},
    {e_endstm, nullptr, {nullptr}},
};

}  // namespace

void faxrInitJBStm(FAXRJBSTM* stm) {
  stm->stp = faxr_non_ECM_JB_build_out;
  vcfStmInitQueue(&stm->evq);
}

void resetPageBuffer(HSZFAXRLOCLMEM* m) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  freeQueue(&m->hsxvfaxjitbufq);
  faxrInitJBStm(&f.jbStm);
  f.hsxcounter = 0;
  f.hsxfaxrcounter = 0;
  f.hsxfaxrecmendcounter = 0;
  f.hsxspooftxbufbitcnt = 0;
  f.hsxbitcount = 0;
  f.hsxfaxruflowflag = false;
  f.hsxtxframeoctets = 0;
  f.hsxrowtailbits = 0;
  f.hsxrowtailzeros = 0;
  f.hsxstatus = static_cast<uint16_t>(f.hsxstatus &
                                      ~(FAXR_FAX_ECMEND | FAXR_FAX_TXFRAMEOPEN | FAXR_FAX_TXFRAMECUT | FAXR_FAX_NETFRAMECUT));
}

uint16_t ecmFrameLimit(const HSZFAXRLOCLMEM* m) {
  // address, control, FCD and frame number in front of the frame's data
  return (m->hsxintstatus & FAXR_INT_ECM64) ? 4 + 64 : 4 + 256;
}

void cutEcmFrameFromNet(HSZFAXRLOCLMEM* m) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  if (!ecmPage(m)) return;
  if (f.hsxstatus & FAXR_FAX_ECMEND) {
    // between two frames of the page the signal may stand for the next frame's start: what
    // follows, up to that frame's end, is no whole frame
    if (!(m->hsxintstatus & FAXR_INT_NETPAGEEND)) setFax(m, FAXR_FAX_NETFRAMECUT);
    return;
  }
  if (HAPI_PKT_HDR* tail = queueTail(&m->hsxvfaxjitbufq)) {
    const uint8_t code = pktCode(tail);
    if (code < 33 || code > 42) return;
    // the queued data ends the frame, with a bad FCS (counted when it plays)
    tail->payloadID = static_cast<uint16_t>((tail->payloadID & 0xFF00) | (code + 20));
    ++f.hsxfaxrecmendcounter;
  } else if ((f.hsxstatus & FAXR_FAX_TXFRAMEOPEN) && m->hsxfaxrstate.hsxstate == HSFAXRTXLOCALDATA) {
    faxrhdlcendbad(m);
    f.hsxtxframeoctets = 0;
    clearFax(m, FAXR_FAX_TXFRAMEOPEN);
  } else {
    return;
  }
  setFax(m, FAXR_FAX_ECMEND | FAXR_FAX_NETFRAMECUT);
}

// ---- network data into the buffer ----

namespace {

// Follows where the rows of the page data coming in end: the bits after the last end-of-line
// code's end, counted on over packets, and the zeros ahead of a code that the next packet ends.
void noteRowEnds(HSZFAXRFAXMODEM& f, const uint16_t* d, uint16_t bits) {
  uint16_t after[FAXR_MAX_PKT_BITS / 16 + 1];
  const uint16_t* at = d;
  int left = bits < FAXR_MAX_PKT_BITS ? bits : FAXR_MAX_PKT_BITS;
  bool ended = false;
  for (int end = findEOLEnd(at, left, f.hsxrowtailzeros); end >= 0; end = findEOLEnd(at, left, f.hsxrowtailzeros)) {
    left -= end + 1;
    copyBits(after, 0, at, end + 1, left);
    at = after;
    ended = true;
  }
  const uint32_t tail = (ended ? 0u : f.hsxrowtailbits) + static_cast<uint32_t>(left);
  f.hsxrowtailbits = static_cast<uint16_t>(tail < 0xFFFF ? tail : 0xFFFF);
}

}  // namespace

void addDataToJitterBuffer(HSZFAXRLOCLMEM* m, QMQUEUE* q, HAPI_PKT_HDR* pkt) {
  (void)m;
  HAPI_PKT_HDR* tail = queueTail(q);
  const uint16_t add = pktBits(pkt);
  const uint16_t have = tail != nullptr ? pktBits(tail) : FAXR_MAX_PKT_BITS;
  if (tail == nullptr || have >= FAXR_MAX_PKT_BITS || pktCode(tail) != pktCode(pkt)) {
    MEM_QueueEnq_Unprotected(q, pkt);
    return;
  }
  const uint16_t fit = static_cast<uint16_t>(FAXR_MAX_PKT_BITS - have < add ? FAXR_MAX_PKT_BITS - have : add);
  uint16_t* td = pktData(tail);
  uint16_t* pd = pktData(pkt);
  copyBits(td, have, pd, 0, fit);
  setPktBits(tail, static_cast<uint16_t>(have + fit));
  if (fit == add) {
    hsfBmFree(pkt);
    return;
  }
  // the rest moves to the front of the new packet, which joins the queue
  const uint16_t rest = static_cast<uint16_t>(add - fit);
  copyBits(pd, 0, pd, fit, rest);
  setPktBits(pkt, rest);
  MEM_QueueEnq_Unprotected(q, pkt);
}

void handleHighSpeedDataPacket(HSZFAXRLOCLMEM* m, HAPI_PKT_HDR* pkt) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const uint8_t code = pktCode(pkt);
  const uint16_t bits = pktBits(pkt);
  const bool data = code >= 23 && code <= 42;
  if (data && bits == 0) {
    hsfBmFree(pkt);
    return;
  }
  m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_HSSEEN);
  const HSEFAXRSTATE st = m->hsxfaxrstate.hsxstate;
  if (st != HSFAXRTXLOCALDATA && st != HSFAXRTXLOCALDATATRAIN) {
    // data with no page under way starts one, as V.21 octets start the preamble: its training
    // indicator was lost, and the far end sends the page all the same (an answer that leads to
    // the next page does not make one under way)
    f.hsxstatus = static_cast<uint16_t>(f.hsxstatus & ~FAXR_FAX_POSTMSG);
    m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~(FAXR_INT_HSTX | FAXR_INT_NETPAGEEND | FAXR_INT_POSTMSG));
    resetPageBuffer(m);
    setState(m, HSFAXRTXLOCALDATATRAIN);
  }
  if (f.hsxstatus & FAXR_FAX_POSTMSG) {  // the datapump has finished the page: late data has no place
    hsfBmFree(pkt);
    return;
  }
  if (f.hsxstatus & FAXR_FAX_NETFRAMECUT) {  // the rest of a frame a new signal cut, up to its end
    if (!data) clearFax(m, FAXR_FAX_NETFRAMECUT);
    hsfBmFree(pkt);
    return;
  }
  if (MEM_QueueCount(&m->hsxvfaxjitbufq) >= FAXR_MAX_JB_PACKETS) {
    // a full buffer loses page data; an ECM frame it falls into lacks octets and ends bad, or
    // the relay would make a good FCS over less than the far end sent
    count16(m->hsxfaxrStats.egress.hsxOverrunCount);
    cutEcmFrameFromNet(m);
    hsfBmFree(pkt);
    return;
  }
  m->hsxfaxrstate.hsxtimer = 0;
  f.hsxfaxrcounter = static_cast<uint16_t>(f.hsxfaxrcounter + bits);
  if (!data) ++f.hsxfaxrecmendcounter;
  // the training check's first 150 ms are forced to zero when asked for
  if ((m->hsxfaxrregs.hsxcustomfeatures & 1) && data) {
    if (m->hsxintstatus & FAXR_INT_TCF) {
      const uint16_t limit = nonEcmDataCode(code) ? bytesToMask[code - 23] : 0;
      uint16_t* d = pktData(pkt);
      for (int i = 0; i < bits / 8 && m->hsxfaxrTcfBytesMasked < limit; ++i) {
        d[i / 2] = static_cast<uint16_t>((i & 1) ? (d[i / 2] & 0xFF00) : (d[i / 2] & 0x00FF));
        ++m->hsxfaxrTcfBytesMasked;
      }
    } else {
      m->hsxfaxrTcfBytesMasked = 0;
    }
  }
  if (nonEcmDataCode(code)) noteRowEnds(f, pktData(pkt), bits);
  if (data) {
    if (f.hsxstatus & FAXR_FAX_ECMEND)
      MEM_QueueEnq_Unprotected(&m->hsxvfaxjitbufq, pkt);
    else
      addDataToJitterBuffer(m, &m->hsxvfaxjitbufq, pkt);
    f.hsxstatus = static_cast<uint16_t>(f.hsxstatus & ~FAXR_FAX_ECMEND);
  } else {
    MEM_QueueEnq_Unprotected(&m->hsxvfaxjitbufq, pkt);
    f.hsxstatus = static_cast<uint16_t>(f.hsxstatus | FAXR_FAX_ECMEND);
  }
}

// ---- playout to the datapump ----

void hsffaxrt4dataproc(HSZFAXRLOCLMEM* m) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  FAXRJBACTIONARG arg{m, &m->hsxfaxrregs, &m->hsxfaxrStats};
  const int32_t ahead = 2 * bitsPer20ms(m);
  const uint16_t overruns = m->hsxfaxrStats.egress.hsxOverrunCount;
  for (int guard = 0; guard < 256 && f.hsxcounter < ahead && m->hsxfaxrStats.egress.hsxOverrunCount == overruns;
       ++guard) {
    if ((m->hsxintstatus & FAXR_INT_NETPAGEEND) && f.jbStm.stp != faxr_non_ECM_JB_flush &&
        f.jbStm.stp != faxr_non_ECM_JB_done)
      post(m, e_sigEnd);
    VCESTMEVT ev;
    if (vcfStmGetEvent(&f.jbStm.evq, &ev)) {
      if (ev == e_done) break;
      f.jbStm.stp = vcfStmEventHandler(f.jbStm.stp, ev, &arg);
    } else {
      vcfStmExecuteFlist(f.jbStm.stp, &arg);
    }
  }
}

namespace {

// Plays one packet of ECM frames: data, or a frame end with its FCS state. A frame is bounded by
// what its mode allows; past the bound it ends bad and its rest, up to its end, is dropped.
void playEcmPacket(HSZFAXRLOCLMEM* m, uint8_t code, const uint16_t* words, uint16_t bits) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const bool end = code >= 43 && code <= 62;
  if (nonEcmDataCode(code)) {
    // non-ECM page data inside an ECM page is a frame's octets retyped on the way: the frame they
    // belong to misses them, so it ends bad, and the rest of it, up to its end, is dropped
    if (f.hsxstatus & FAXR_FAX_TXFRAMEOPEN) faxrhdlcendbad(m);
    f.hsxtxframeoctets = 0;
    clearFax(m, FAXR_FAX_TXFRAMEOPEN);
    setFax(m, FAXR_FAX_TXFRAMECUT);
    return;
  }
  if (!end && (code < 33 || code > 42)) return;
  if (end && f.hsxfaxrecmendcounter > 0) --f.hsxfaxrecmendcounter;
  if (f.hsxstatus & FAXR_FAX_TXFRAMECUT) {  // the rest of a frame already ended bad
    if (end) clearFax(m, FAXR_FAX_TXFRAMECUT);
    return;
  }
  if (f.hsxtxframeoctets + bits / 8 > ecmFrameLimit(m)) {
    // longer than any frame of the mode: frames whose ends were lost have run together
    if (f.hsxstatus & FAXR_FAX_TXFRAMEOPEN)
      faxrhdlcendbad(m);
    else
      count16(m->hsxfaxrStats.egress.hsxbadframeCount);
    f.hsxtxframeoctets = 0;
    clearFax(m, FAXR_FAX_TXFRAMEOPEN);
    if (!end) setFax(m, FAXR_FAX_TXFRAMECUT);
    return;
  }
  if (!end) {
    faxrhdlcprocesstxpkt(m, 1, words, bits);
    f.hsxtxframeoctets = static_cast<uint16_t>(f.hsxtxframeoctets + bits / 8);
    if (bits > 0) setFax(m, FAXR_FAX_TXFRAMEOPEN);
    return;
  }
  clearFax(m, FAXR_FAX_TXFRAMEOPEN);
  f.hsxtxframeoctets = 0;
  // a bad end is counted as it goes to the line: one the relay dropped (the frame had already
  // ended bad here) is not a second bad frame
  if (code > 52) count16(m->hsxfaxrStats.egress.hsxbadframeCount);
  faxrhdlcprocesstxpkt(m, code <= 52 ? 2 : 3, words, bits);
  faxrhdlcprocesstxpkt(m, 0, nullptr, 1);
}

}  // namespace

void hsffaxrt4ecmdataproc(HSZFAXRLOCLMEM* m) {
  HSZFAXRFAXMODEM& f = m->hsxfaxrfax;
  const uint16_t b = bitsPer20ms(m);
  for (int guard = 0; guard < 64 && f.hsxcounter <= 3 * b; ++guard) {
    if (f.hsxfaxrecmendcounter == 0 && !(m->hsxintstatus & FAXR_INT_NETPAGEEND)) {
      if (!f.hsxfaxruflowflag) count16(m->hsxfaxrStats.egress.hsxSpoofCount);
      f.hsxfaxruflowflag = true;
      faxrhdlcprocesstxpkt(m, 0, nullptr, static_cast<uint16_t>(b / 8));
      continue;
    }
    auto* pkt = static_cast<HAPI_PKT_HDR*>(MEM_QueueDeq_Unprotected(&m->hsxvfaxjitbufq));
    if (pkt == nullptr) {
      // the page ended inside a frame (its end was lost): it ends bad rather than open
      if ((m->hsxintstatus & FAXR_INT_NETPAGEEND) && (f.hsxstatus & FAXR_FAX_TXFRAMEOPEN)) {
        faxrhdlcendbad(m);
        f.hsxtxframeoctets = 0;
        clearFax(m, FAXR_FAX_TXFRAMEOPEN);
      }
      break;
    }
    f.hsxfaxruflowflag = false;
    const uint8_t code = pktCode(pkt);
    const uint16_t bits = pktBits(pkt);
    takeBits(m, bits);
    uint16_t words[FAXR_MAX_PKT_BITS / 16 + 1] = {};
    std::memcpy(words, pktData(pkt), ((bits + 15) / 16) * 2u);
    hsfBmFree(pkt);
    playEcmPacket(m, code, words, bits);
  }
}

void hsffaxrsetrate(HSZFAXRLOCLMEM* m) {
  const uint16_t rate = m->hsxfaxrregs.hsxlocalrate;
  hsffaxrsendcmd(kVfxEnable, 0, 0);
  m->hsxstatus = static_cast<uint16_t>(m->hsxstatus & ~FAXR_VFAX_ENABLED);
  hsffaxrsendcmd(kVfxSetReg1, 0, rate);
  hsffaxrsendcmd(kVfxSetReg1, 12, m->hsxfaxrregs.hsxrxpacketsize);
  hsffaxrsendcmd(kVfxSetReg1, 2, (rate == 3 || rate == 4) ? 0 : 1);
  hsffaxrsendcmd(kVfxEnable, 1, 0);
  m->hsxstatus = static_cast<uint16_t>(m->hsxstatus | FAXR_VFAX_ENABLED);
}

uint16_t sendDataPktToVFAX(HSZFAXRLOCLMEM* m, const uint16_t* data, uint16_t bits) {
  if (bits > kModemBlockBits) bits = kModemBlockBits;
  const uint16_t words = static_cast<uint16_t>((bits + 15) / 16);
  const uint16_t bytes = static_cast<uint16_t>((words + 1) * 2);
  // built in the command's own memory: the bit count, then the bits in the datapump's order
  uint16_t* out = allocExtCmd(m, bytes, true);
  if (out == nullptr) return 0;
  out[0] = bits;
  std::memcpy(out + 1, data, words * 2u);
  if (bits & 15) out[words] = static_cast<uint16_t>(out[words] & (0xFFFF << (16 - (bits & 15))));
  hsffaxrbitrev(out + 1, words);
  hsfObdSendExt(kVfxTxData, bytes, out);
  return bits;
}

}  // namespace faxr
