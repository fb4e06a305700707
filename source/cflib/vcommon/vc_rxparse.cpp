// Receive-data parser: cuts page data at end of line and return to control, training-check data at
// its 16 zeros, HDLC data at a flag; and the small state machine that applies it to each packet.
#include "hsf/hsf.h"
#include "vc_clbuf.h"

namespace {

// Rebuilds a packet: `lead` bits of `leadBits` (bit 0 first), then n bits of src from srcBit.
uint16_t* rebuild(MEM_BufPool* pool, uint32_t lead, uint32_t leadBits, const uint16_t* src,
                  uint32_t srcBit, uint32_t n) {
  const uint32_t total = lead + n;
  if (total > 0xFFFF) return nullptr;
  auto* p = static_cast<uint16_t*>(hsfBmAllocDirect(pool, vcPktWords(static_cast<uint16_t>(total)) * 2u));
  if (p == nullptr) return nullptr;
  p[0] = static_cast<uint16_t>(total);
  for (uint32_t i = 0; i < lead; ++i) {
    uint16_t& w = p[1 + (i >> 4)];
    if ((i & 15) == 0) w = 0;
    if ((leadBits >> i) & 1) w = static_cast<uint16_t>(w | (1u << (i & 15)));
  }
  vcfbitcopy(p + 1, lead, src, srcBit, n);
  return p;
}

}  // namespace

namespace {

// Up to 16 bits of src from bit `pos`, bit 0 first.
uint32_t bitsAt(const uint16_t* src, uint32_t pos, uint32_t k) {
  const uint32_t shift = pos & 15;
  uint32_t v = static_cast<uint32_t>(src[pos >> 4]) >> shift;
  if (shift + k > 16) v |= static_cast<uint32_t>(src[(pos >> 4) + 1]) << (16 - shift);
  return v & ((1u << k) - 1);
}

}  // namespace

void vcfbitcopy(uint16_t* dst, uint32_t dstBit, const uint16_t* src, uint32_t srcBit, uint32_t n) {
  // A destination word's worth at a time: the bits already written below are kept, the ones above
  // the last bit written are cleared.
  while (n > 0) {
    uint16_t& w = dst[dstBit >> 4];
    const uint32_t offset = dstBit & 15;
    const uint32_t k = n < 16 - offset ? n : 16 - offset;
    const uint32_t below = offset == 0 ? 0 : w & ((1u << offset) - 1);
    w = static_cast<uint16_t>(below | (bitsAt(src, srcBit, k) << offset));
    dstBit += k;
    srcBit += k;
    n -= k;
  }
}

namespace {

// One bit through the counts; the flag it completes, if any.
VCERXDATAFLAG parseBit(bool one, VCZPARSERXDATA* ps) {
  VCERXDATAFLAG hit = VCNOFLAG;
  if (one) {
    ++ps->oneCount;
    if (ps->zeroCount < 11) {
      ps->flagCount = 0;
    } else if (ps->flag == VCEOL) {
      hit = VCEOL;
    } else if (ps->flag == VCRTC && ++ps->flagCount >= 4) {
      hit = VCRTC;
    }
    ps->zeroCount = 0;
  } else {
    ++ps->zeroCount;
    if (ps->oneCount == 6 && ps->flag == VCHDLC) hit = VCHDLC;
    if (ps->zeroCount == 16 && ps->flag == VCTCF) hit = VCTCF;
    ps->oneCount = 0;
  }
  return hit;
}

// Page data looked at for an end of line: only a one after eleven zeros or more can end a line.
// A word (n bits, 1 to 16) where no one can is taken whole, its counts moved as its bits would
// move them one by one; false, and nothing moved, when one may (the word is then taken bit by bit).
bool skipQuietWord(uint32_t word, uint32_t n, VCZPARSERXDATA* ps) {
  const uint32_t mask = (1u << n) - 1;
  const uint32_t ones = word & mask;
  if (ones == 0) {
    ps->zeroCount = static_cast<uint16_t>(ps->zeroCount + n);
    ps->oneCount = 0;
    return true;
  }
  // the first one, after the zeros carried in and those before it in the word
  if (ps->zeroCount + static_cast<uint32_t>(__builtin_ctz(ones)) >= 11) return false;
  // the zeros between the first and the last one: eleven or more in a row leave a bit in `run`
  const uint32_t last = 31u - static_cast<uint32_t>(__builtin_clz(ones));
  uint32_t run = ~word & ((2u << last) - 1) & ~((ones & -ones) * 2 - 1);
  run &= run >> 1;
  run &= run >> 2;
  run &= run >> 4;
  run &= run >> 3;
  if (run != 0) return false;
  // every one came after fewer than eleven zeros: each cleared the flag count
  ps->flagCount = 0;
  ps->zeroCount = static_cast<uint16_t>(n - 1 - last);
  if (ps->zeroCount != 0) {
    ps->oneCount = 0;
  } else if (ones == mask) {
    ps->oneCount = static_cast<uint16_t>(ps->oneCount + n);
  } else {
    // the ones that end the word, above its highest zero
    const uint32_t zeros = ~word & mask;
    ps->oneCount = static_cast<uint16_t>(n - 1 - (31u - static_cast<uint32_t>(__builtin_clz(zeros))));
  }
  return true;
}

// The packet cut at the flag that ended at bit `at`: rebuilt as the flag wants it (null when no
// block was left).
uint16_t* cutAt(MEM_BufPool* pool, const uint16_t* pkt, VCERXDATAFLAG hit, uint32_t at) {
  const uint32_t bits = pkt[0], after = at + 1, rest = bits - after;
  switch (hit) {
    case VCEOL: {
      const uint32_t fill = (8 - ((rest + 12) % 8)) % 8;
      return rebuild(pool, fill + 12, 1u << (fill + 11), pkt + 1, after, rest);
    }
    case VCRTC: {
      const uint32_t rounded = (after + 7) & ~7u;
      uint16_t* out = rebuild(pool, 0, 0, pkt + 1, 0, after);
      if (out != nullptr) {
        for (uint32_t b = after; b < rounded; ++b) {
          uint16_t& w = out[1 + (b >> 4)];
          w = static_cast<uint16_t>((b & 15) == 0 ? 0 : w & ((1u << (b & 15)) - 1));
        }
        out[0] = static_cast<uint16_t>(rounded);
      }
      return out;
    }
    case VCHDLC:
      return rebuild(pool, 8, 0x7E, pkt + 1, after, rest);
    default:  // VCTCF
      return rebuild(pool, 16, 0, pkt + 1, after, rest);
  }
}

}  // namespace

VCERXDATAFLAG vcfParseRxData(MEM_BufPool* pool, uint16_t** inout, VCZPARSERXDATA* ps) {
  uint16_t* pkt = *inout;
  if (pkt == nullptr) return VCNOFLAG;
  const uint32_t bits = pkt[0];
  const bool lines = ps->flag == VCEOL || ps->flag == VCRTC;
  for (uint32_t from = 0; from < bits; from += 16) {
    const uint32_t n = bits - from < 16 ? bits - from : 16;
    const uint16_t word = pkt[1 + (from >> 4)];
    if (lines && skipQuietWord(word, n, ps)) continue;
    for (uint32_t i = from; i < from + n; ++i) {
      const VCERXDATAFLAG hit = parseBit((word >> (i - from)) & 1, ps);
      if (hit == VCNOFLAG) continue;
      // null when no block was left: the packet is lost, the flag still reported
      *inout = cutAt(pool, pkt, hit, i);
      hsfBmFree(pkt);
      return hit;
    }
  }
  if (ps->flag != VCRTC && ps->flag != VCNOFLAG) {
    hsfBmFree(pkt);
    *inout = nullptr;
  }
  return VCNOFLAG;
}

// ---- the receive-data state machine ----

namespace {

VCZRXPKTPARAM* P(void* ctx) { return static_cast<VCZRXPKTPARAM*>(ctx); }

int32_t vcffwdPkt(void* ctx) {
  VCZRXPKTPARAM* p = P(ctx);
  if (p->pktp != nullptr) vcfGenEventExt(p->rxDataEvt, vcPktWords(p->pktp[0]), p->pktp);
  p->pktp = nullptr;
  return 0;
}

int32_t vcfparsePkt(void* ctx) {
  VCZRXPKTPARAM* p = P(ctx);
  const VCERXDATAFLAG f = vcfParseRxData(p->heapId, &p->pktp, &p->parseParam);
  if (f != VCNOFLAG) {
    vcfStmPutEvent(&p->evq, f);
    p->flagDetected = f;
    vcffwdPkt(ctx);
  }
  return 0;
}

int32_t vcflookForRTC(void* ctx) {
  VCZRXPKTPARAM* p = P(ctx);
  const VCERXDATAFLAG f = vcfParseRxData(p->heapId, &p->pktp, &p->parseParam);
  if (f == VCRTC) {
    vcfStmPutEvent(&p->evq, f);
    p->flagDetected = f;
  }
  vcffwdPkt(ctx);
  return 0;
}

void lookFor(VCZRXPKTPARAM* p, VCERXDATAFLAG f) { p->parseParam = VCZPARSERXDATA{f, 0, 0, 0}; }

int32_t vcfdetRTC_init(void* ctx) {
  lookFor(P(ctx), VCRTC);
  return 0;
}

[[maybe_unused]] int32_t vcfdetEOL_init(void* ctx) {
  lookFor(P(ctx), VCEOL);
  return 0;
}

[[maybe_unused]] int32_t vcfdetTCF_init(void* ctx) {
  lookFor(P(ctx), VCTCF);
  return 0;
}

}  // namespace

int32_t vcfFreePkt(void* ctx) {
  VCZRXPKTPARAM* p = P(ctx);
  if (p->pktp != nullptr) hsfBmFree(p->pktp);
  p->pktp = nullptr;
  return 0;
}

const RXDATAEV vcRxDatas_turnOnEOL[] = {
    {vce_default, vcRxDatas_turnOnEOL, {vcfparsePkt}},
    {vce_EOL, vcRxDatas_turnOnRTC, {vcfdetRTC_init}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_turnOnRTC[] = {
    {vce_default, vcRxDatas_turnOnRTC, {vcflookForRTC}},
    {vce_RTC, vcRxDatas_turnOnQuiet, {nullptr}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_turnOnQuiet[] = {
    {vce_default, vcRxDatas_turnOnQuiet, {vcfFreePkt}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_tcfTCF[] = {
    {vce_default, vcRxDatas_tcfTCF, {vcfparsePkt}},
    {vce_TCF, vcRxDatas_tcfData, {nullptr}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_tcfData[] = {
    {vce_default, vcRxDatas_tcfData, {vcffwdPkt}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_ecm[] = {
    {vce_default, vcRxDatas_ecm, {vcffwdPkt}},
    {vce_endStm_rx, nullptr, {nullptr}},
};
const RXDATAEV vcRxDatas_train[] = {
    {vce_default, vcRxDatas_train, {vcfFreePkt}},
    {vce_endStm_rx, nullptr, {nullptr}},
};

void vcfInitRxDataHandler(void* srv, uint16_t rxDataEvt, uint16_t mode, MEM_BufPool* pool,
                          VCZRXPKTPARAM* p) {
  p->srvp = srv;
  p->rxDataEvt = rxDataEvt;
  p->heapId = pool;
  p->pktp = nullptr;
  p->flagDetected = VCNOFLAG;
  vcfStmInitQueue(&p->evq);
  switch (mode) {
    case 1:
    case 2:
      p->stp = vcRxDatas_turnOnEOL;
      lookFor(p, VCEOL);
      break;
    case 3:
      p->stp = vcRxDatas_tcfTCF;
      lookFor(p, VCTCF);
      break;
    case 4:
    case 5:
      p->stp = vcRxDatas_ecm;
      lookFor(p, VCNOFLAG);
      break;
    default:
      p->stp = vcRxDatas_train;
      lookFor(p, VCNOFLAG);
      break;
  }
}

VCERXDATAFLAG vcfRxDataHandler(uint16_t* packet, VCZRXPKTPARAM* p) {
  p->pktp = packet;
  p->stp = vcfStmRun(p->stp, &p->evq, p);
  if (p->pktp != nullptr) vcfFreePkt(p);  // no state keeps a packet across calls
  const VCERXDATAFLAG f = p->flagDetected;
  p->flagDetected = VCNOFLAG;
  return f;
}

VCERXDATAFLAG vcfFwdFaxRxData(VCZCPYTOCLBUF* cpy, VCZRXPKTPARAM* p) {
  VCERXDATAFLAG result = VCNOFLAG;
  while (auto* pkt = static_cast<uint16_t*>(MEM_QueueDeq(&cpy->pktQ)))
    if (vcfRxDataHandler(pkt, p) == VCRTC) result = VCRTC;
  return result;
}
