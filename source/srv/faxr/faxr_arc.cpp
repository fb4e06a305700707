// The fax relay service's record, commands and per-frame work.
#include <cstring>

#include "faxr_int.h"
#include "lhapi.h"

const HSFSRVARC faxrarc = {HAPI_FAXR_SRV, sizeof(HSZFAXRLOCLMEM), fxrIOctl, fxrIngress, fxrEgress, fxrInit, nullptr};

namespace faxr {

void setState(HSZFAXRLOCLMEM* m, HSEFAXRSTATE s) { m->hsxfaxrstate.hsxstate = s; }

void flushQueues(HSZFAXRLOCLMEM* m) {
  freeQueue(&m->hsxcmdbufq);
  freeQueue(&m->hsxvfaxjitbufq);
  freeQueue(&m->hsxv21jitbufq);
  // what counted the queued bits and frame ends goes with them, or a stale count would start a
  // transmission of nothing that never ends
  m->hsxfaxrv21.hsxv21counter = 0;
  m->hsxfaxrv21.hsxfaxrecmendcounter = 0;
  m->hsxfaxrfax.hsxfaxrcounter = 0;
  m->hsxfaxrfax.hsxfaxrecmendcounter = 0;
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~FAXR_V21_NETFRAMEOPEN);
}

namespace {

constexpr uint16_t kMaxPacketBits = 656;
constexpr uint16_t kFaxRelayType = 5;  // packet type of fax-relay packets (high byte of payloadID)

// Checks the page-data block size: bit 15 set and at most 656 bits (low three bits cleared).
HAPIRESULT checkPacketSize(HSZFAXRLOCLMEM* m) {
  uint16_t& r = m->hsxfaxrregs.hsxrxpacketsize;
  if (!(r & 0x8000)) return -1;
  r = static_cast<uint16_t>(r & ~7u);
  return (r & 0x7FFF) > kMaxPacketBits ? -1 : 0;
}

void fxrfEnable(HSZFAXRLOCLMEM* m, uint16_t mode) {
  m->hsxfaxrTcfBytesMasked = 0;
  m->hsxstatus = 0;
  m->hsxintstatus = 0;
  m->hsxfaxrstate = HSZFAXRSTATE{};
  m->hsxSeqNum = 0;
  m->hsxTimeStamp = 0;
  m->rxStampValid = false;
  m->netLost = false;
  m->sentAny = false;
  flushQueues(m);
  m->hsxfaxrv21 = HSZFAXRV21MODEM{};
  m->hsxfaxrv21.lineTurn = 0xFFFF;
  m->hsxfaxrfax = HSZFAXRFAXMODEM{};
  faxrInitJBStm(&m->hsxfaxrfax.jbStm);
  faxrhdlcinit(&m->hsxdatahdlc, m);  // a new call: nothing of the last is followed
  m->hsxfaxrstate.silenceTimer = 0xFFFF;
  setState(m, HSFAXRWAIT);
  m->hsxfaxrfax.hsxsrvid = HAPI_VFAX_SRV;
  hsffaxrsendcmd(kV21SetReg1, 22, 0x8008);  // receive packets of 8 bits
  hsffaxrsendcmd(kV21Enable, 1, 0);
  setStatus(m, FAXR_V21_ENABLED);
  hsffaxrsendcmd(kVfxEnable, 1, 0);
  setStatus(m, FAXR_VFAX_ENABLED);
  hsffaxrsendcmd(kV21RxMode, 1, 0);
  setStatus(m, FAXR_ENABLED);
  if (mode == 1) {
    startSpoofing(m);
  } else if (mode == 2) {
    setInt(m, FAXR_INT_NOCNG);
  } else if (mode == 3) {
    setInt(m, FAXR_INT_SENDCNG);
  }
}

void fxrfDisable(HSZFAXRLOCLMEM* m) {
  hsffaxrsendcmd(kV21Enable, 0, 0);
  clearStatus(m, FAXR_V21_ENABLED);
  hsffaxrsendcmd(kVfxEnable, 0, 0);
  clearStatus(m, FAXR_ENABLED | FAXR_VFAX_ENABLED);
  m->hsxintstatus = 0;
  m->hsxfaxrfax.hsxstatus = 0;
  m->hsxfaxrv21.hsxstatus = 0;
  flushQueues(m);
}

void sendStats(HSZFAXRLOCLMEM* m, uint16_t op1) {
  void* copy = hsfMemAllocScratchNoAssert(sizeof(HSZFAXRSTATS));
  if (copy != nullptr) {
    std::memcpy(copy, &m->hsxfaxrStats, sizeof(HSZFAXRSTATS));
    hsfObdSendExt(FAXR_STATS_EVT, sizeof(HSZFAXRSTATS), copy);
  }
  HSZFAXRSTATS& s = m->hsxfaxrStats;
  if (op1 != 0) {
    s = HSZFAXRSTATS{};
  } else {
    const HSZFAXRSTATS kept = s;
    s = HSZFAXRSTATS{};
    s.egress.hsxFrameCount = kept.egress.hsxFrameCount;
    s.ingress.hsxFrameCount = kept.ingress.hsxFrameCount;
    s.egress.hsxNumRxPages = kept.egress.hsxNumRxPages;
    s.ingress.hsxNumTxPages = kept.ingress.hsxNumTxPages;
  }
}

}  // namespace

}  // namespace faxr

using namespace faxr;

HAPIRESULT fxrInit(HSFSRVOBJ service) {
  auto* m = static_cast<HSZFAXRLOCLMEM*>(service);
  if (m == nullptr) return -1;
  std::memset(static_cast<void*>(m), 0, sizeof(*m));
  m->heapId = hsfBmInit(m->bufpoolArray, sizeof(m->bufpoolArray), FAXR_BLOCK_BYTES + sizeof(void*));
  MEM_InitQueue(&m->hsxcmdbufq);
  MEM_InitQueue(&m->hsxvfaxjitbufq);
  MEM_InitQueue(&m->hsxv21jitbufq);
  m->hsxfaxrregs = faxrRegsDefault();
  m->hsxfaxrstate.silenceTimer = 0xFFFF;
  m->hsxfaxrv21.lineTurn = 0xFFFF;
  m->hsxfaxrfax.hsxsrvid = HAPI_VFAX_SRV;
  faxrInitJBStm(&m->hsxfaxrfax.jbStm);
  faxrhdlcinit(&m->hsxdatahdlc, m);
  return 0;
}

HAPIRESULT fxrIOctl(HSFSRVOBJ service, HSFMSG* msg, HSFMSG* reply) {
  auto* m = static_cast<HSZFAXRLOCLMEM*>(service);
  if (m == nullptr || msg == nullptr) return -1;
  switch (msg->std.header) {
    case FAXR_SETREGS_CMD:
      if (msg->ext.bufp == nullptr || msg->ext.length != sizeof(HSZFAXRREGS)) return -1;
      std::memcpy(&m->hsxfaxrregs, msg->ext.bufp, sizeof(HSZFAXRREGS));
      return checkPacketSize(m);
    case FAXR_RESETREGS_CMD:
      m->hsxfaxrregs = faxrRegsDefault();
      return 0;
    case FAXR_ENABLE_CMD:
      if (msg->std.op1 == 1) {
        if (!enabled(m)) fxrfEnable(m, msg->std.op2);
      } else if (enabled(m)) {
        fxrfDisable(m);
      }
      return 0;
    case FAXR_SETREG1_CMD: {
      const uint16_t offset = msg->std.op1;
      if (offset & 1) {  // registers are words: an odd offset is a host fault, and writes nothing
        LHAPI_ASSERT_FAIL();
        return -1;
      }
      const uint16_t index = static_cast<uint16_t>(offset / 2);
      if (index >= sizeof(HSZFAXRREGS) / 2) return -1;  // beyond the register record
      uint16_t regs[sizeof(HSZFAXRREGS) / 2];
      std::memcpy(regs, &m->hsxfaxrregs, sizeof(regs));
      regs[index] = msg->std.op2;
      std::memcpy(&m->hsxfaxrregs, regs, sizeof(regs));
      return index == offsetof(HSZFAXRREGS, hsxrxpacketsize) / 2 ? checkPacketSize(m) : 0;
    }
    case FAXR_GETSTATS_CMD:
      sendStats(m, msg->std.op1);
      return 0;
    case FAXR_GETSTATUS_CMD:
      // the status goes back in the answer (an operand is no address to write through)
      if (reply != nullptr) {
        reply->ext.header = FAXR_STATUS_RSP;
        reply->ext.length = sizeof(m->hsxstatus);
        reply->ext.bufp = &m->hsxstatus;
      }
      return 0;
    case FAXR_SETMAXRATE_CMD:
      m->hsxfaxrregs.hsxmaxfaxmodem = msg->std.op1;
      return 0;
    default:
      return -1;
  }
}

void fxrIngress(HSFSRVOBJ service) {
  auto* m = static_cast<HSZFAXRLOCLMEM*>(service);
  if (m == nullptr || !enabled(m)) return;
  HSZFAXRSTATE& s = m->hsxfaxrstate;
  if (m->hsxintstatus & FAXR_INT_SENDCNG) {
    hsffaxrsendpacket(m, FAXR_PKT_CNG, nullptr, 0);
    m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~FAXR_INT_SENDCNG);
  }
  HSFMSG msg{};
  while (hsfIbdPeekOrRecv(kModemMask, &msg, 0, HSF_IBD_RECEIVE) != 0) hsffaxrevtmgr(m, msg);
  const uint16_t ms = static_cast<uint16_t>(hsfFrmPeriodGet() / 8);
  auto add = [ms](uint16_t& t) { t = static_cast<uint16_t>(t > 0xFFFF - ms ? 0xFFFF : t + ms); };
  add(s.hsxtimer);
  add(s.trainingDelayTimer);
  add(s.hsxdelaytimer);
  if (s.silenceTimer < 0xFFFF) s.silenceTimer = static_cast<uint16_t>(s.silenceTimer + ms > 0xFFFE ? 0xFFFE : s.silenceTimer + ms);
  uint32_t ts = static_cast<uint32_t>(m->hsxTimeStamp) + ms;
  const uint16_t modulus = m->hsxfaxrregs.hsxTimeStampModulus;
  if (modulus != 0 && ts >= modulus) ts -= modulus;
  m->hsxTimeStamp = static_cast<uint16_t>(ts);
  add(m->hsxfaxrv21.lineTurn);
  hsffaxrprocessnetmsg(m);
  hsffaxrv21txdata(m);
  hsffaxrv21txstall(m, ms);
  hsffaxrspoof(m, ms);
  if (s.silenceTimer > 16000 && s.silenceTimer < 0xFFFF) {
    m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | FAXR_INT_SILENCE);
    setState(m, HSFAXRABORT);
    m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~(FAXR_V21_TXBUSY | FAXR_V21_SPOOF));
  }
  tickAction(m, ms);
}

void fxrEgress(HSFSRVOBJ service) {
  auto* m = static_cast<HSZFAXRLOCLMEM*>(service);
  if (m == nullptr || !enabled(m)) return;
  HSFMSG msg{};
  while (hsfIbdPeekOrRecv(kFromNetMask, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(msg.std.header) || msg.ext.bufp == nullptr || msg.ext.length < sizeof(HAPI_PKT_HDR)) continue;
    const auto* hdr = static_cast<const HAPI_PKT_HDR*>(msg.ext.bufp);
    if ((hdr->payloadID >> 8) != kFaxRelayType) continue;
    const uint32_t bytes = sizeof(HAPI_PKT_HDR) + static_cast<uint32_t>(hdr->payloadLength);
    // a packet that claims more than it carries, than a block holds or than a packet may hold
    // (672 bits) is refused, and counted
    const bool fits = bytes <= msg.ext.length && bytes <= FAXR_BLOCK_BYTES;
    const uint16_t claimed = fits && hdr->payloadLength >= 2 ? *reinterpret_cast<const uint16_t*>(hdr + 1) : 0;
    if (!fits || claimed > FAXR_MAX_PKT_BITS) {
      count16(m->hsxfaxrStats.egress.hsxbadframeCount);
      continue;
    }
    void* block = hsfBmAllocDirect(m->heapId, FAXR_BLOCK_BYTES);
    if (block == nullptr) {
      count16(m->hsxfaxrStats.egress.hsxOverrunCount);
      m->netLost = true;
      continue;
    }
    std::memset(block, 0, FAXR_BLOCK_BYTES);
    std::memcpy(block, hdr, bytes);
    if (m->netLost) {
      static_cast<HAPI_PKT_HDR*>(block)->payloadTimeStampHigh = FAXR_PKT_LOST_BEFORE;
      m->netLost = false;
    }
    count16(m->hsxfaxrStats.egress.hsxFrameCount);
    MEM_QueueEnq_Unprotected(&m->hsxcmdbufq, block);
  }
}
