// Caller-ID receive: symbol runs to bits, bits to seizure, marks and bytes, bytes to packets.
#include "clidrx.h"

#include <cstring>

#include "dsputil.h"
#include "lhapi.h"
#include "qrn/qrn.h"

const HSFSRVARC clidrxsrvarc = {HAPI_CLIDRX_SRV, sizeof(HSZCLIDRXLOCLMEM), clidrxio, clidrxblk, nullptr, clidrxInit,
                                nullptr};

namespace {

constexpr uint32_t kThresholdRef = 99757812u;
constexpr uint16_t kMaxRun = 51;
constexpr uint16_t kAgcLevel = 13;

void recomputeThreshold(HSZCLIDRXLOCLMEM* rx) {
  rx->hsxrxthreshold = hsfdB10(rx->hsxclidrxregs.hsxminrxthreshold, kThresholdRef);
}

void sendPacket(HSZCLIDRXLOCLMEM* rx) {
  HSZCLIDRXPACKET& p = rx->hsxclidrxcontext.hsxpacket;
  HSZCLIDRXPACKET& copy = rx->sent[rx->sentNext];
  rx->sentNext = static_cast<uint16_t>((rx->sentNext + 1) % CLIDRX_PKT_SLOTS);
  copy = p;
  const uint16_t bytes = p.hsxClassCode == 0 ? 0 : p.hsxClassMsgWord0;
  hsfObdSendExt(HAPI_CLIDRX_PKT_EVT, static_cast<uint16_t>(6 + bytes), &copy);
  p = HSZCLIDRXPACKET{};
  p.hsxClassCode = 1;
}

void appendByte(HSZCLIDRXPACKET& p, uint16_t byte) {
  const uint16_t n = p.hsxClassMsgWord0;
  if (n >= 16) return;
  uint16_t& w = p.hsxClassMsg[n / 2];
  w = (n & 1) ? static_cast<uint16_t>((w & 0x00FF) | (byte & 0xFF) << 8) : static_cast<uint16_t>(byte & 0xFF);
  p.hsxClassMsgWord0 = static_cast<uint16_t>(n + 1);
}

void bit(HSZCLIDRXLOCLMEM* rx, uint16_t b) {
  HSZCLIDRXCONTEXT& c = rx->hsxclidrxcontext;
  HSZCLIDRXPACKET& p = c.hsxpacket;
  switch (c.hsxbitstate) {
    case HSCLIDRXSEIZURE:
      if (b == c.hsxprevbit) {
        if (c.hsxcounter >= rx->hsxclidrxregs.hsxminseizurelen && b == 1) {
          p = HSZCLIDRXPACKET{0, c.hsxcounter, 2, {}};
          c.hsxbyte = 0;
          c.hsxbitstate = HSCLIDRXMARK;
        }
        c.hsxcounter = 0;
      } else {
        c.hsxcounter += 1;
      }
      break;
    case HSCLIDRXMARK:
      if (b == 1) {
        p.hsxClassMsgWord1 += 1;
      } else if (p.hsxClassMsgWord1 <= rx->hsxclidrxregs.hsxminmarklen) {
        c.hsxbitstate = HSCLIDRXSEIZURE;
      } else {
        p.hsxClassMsgWord1 -= 1;
        c.hsxnumbits = 0;
        c.hsxcounter = 0;
        c.hsxbitstate = HSCLIDRXGETBYTE;
        sendPacket(rx);
      }
      break;
    case HSCLIDRXFINDSTART:
      if (b == 0) c.hsxbitstate = HSCLIDRXGETBYTE;
      break;
    case HSCLIDRXGETBYTE: {
      c.hsxbyte = static_cast<uint16_t>((b << 7) + (c.hsxbyte >> 1));
      c.hsxnumbits += 1;
      c.hsxcounter += 1;
      const bool limit = c.hsxnumbits >= 8u * rx->hsxclidrxregs.hsxmaxmsglen;
      if (c.hsxcounter < 8 && !limit) break;
      if (c.hsxcounter < 8) c.hsxbyte = static_cast<uint16_t>(c.hsxbyte >> (8 - c.hsxcounter));  // partial byte
      appendByte(p, c.hsxbyte);
      c.hsxbyte = 0;
      c.hsxcounter = 0;
      if (limit) {
        p.hsxClassCode = 2;
        p.hsxClassMsgWord1 = c.hsxnumbits;
        c.hsxbitstate = HSCLIDRXSEIZURE;
        c.hsxprevbit = 1;
        sendPacket(rx);
        return;
      }
      c.hsxbitstate = HSCLIDRXFINDSTART;
      if (p.hsxClassMsgWord0 >= 16) sendPacket(rx);
      break;
    }
    default:
      c.hsxbitstate = HSCLIDRXSEIZURE;
      break;
  }
  c.hsxprevbit = b;
}

// A run of `length` (values + 1) of one sign becomes round(values / 5) bits.
void runBits(HSZCLIDRXLOCLMEM* rx, uint16_t length, uint16_t value) {
  const int n = (length - 1) / 5 + ((length - 1) % 5 > 2 ? 1 : 0);
  for (int i = 0; i < n; ++i) bit(rx, value);
}

void carrierLost(HSZCLIDRXLOCLMEM* rx) {
  HSZCLIDRXCONTEXT& c = rx->hsxclidrxcontext;
  if (c.hsxbitstate == HSCLIDRXFINDSTART || c.hsxbitstate == HSCLIDRXGETBYTE) {
    c.hsxpacket.hsxClassCode = 2;
    c.hsxpacket.hsxClassMsgWord1 = c.hsxnumbits;
    sendPacket(rx);
  }
  rx->hsxpoweron = 0;
  hsfb202rxReset(&c);
  c.hsxagclevel = kAgcLevel;
  c.hsxagc = 0;
  c.hsxsymbolstate = HSCLIDRXSMBLSILENCE;
  c.hsxbitstate = HSCLIDRXSEIZURE;
  c.hsxcounter = 0;
  c.hsxprevbit = 1;
}

void arm(HSZCLIDRXCONTEXT& c) {
  c.hsxprevbit = 1;
  c.hsxbitstate = HSCLIDRXSEIZURE;
  c.hsxcounter = 0;
  c.hsxsymbolstate = HSCLIDRXSMBLSILENCE;
  c.hsxagclevel = kAgcLevel;
  c.hsxagc = 0;
}

}  // namespace

void clidrxValues(HSZCLIDRXLOCLMEM* rx, const int16_t* values, const int16_t* levels, int n) {
  HSZCLIDRXCONTEXT& c = rx->hsxclidrxcontext;
  for (int i = 0; i < n; ++i) {
    const int16_t v = values[i];
    const uint32_t E = static_cast<uint32_t>(int32_t{levels[i]} * levels[i]) / 2;
    const bool strong = E > rx->hsxrxthreshold;
    if (c.hsxsymbolstate == HSCLIDRXSMBLSILENCE) {
      if (strong) {
        c.hsxsamplecnt = 1;
        c.hsxsymbolstate = HSCLIDRXSMBLSPACE;
        c.hsxagccounter = 0;
        rx->hsxpoweron = 1;
        c.hsxagc = 0;
      }
    } else {
      const uint16_t prevValue = c.hsxprevsample > 0 ? 1 : 0;
      const bool changed = (v > 0) != (c.hsxprevsample > 0);
      if (changed || c.hsxsamplecnt >= kMaxRun || (c.hsxsamplecnt >= 3 && !strong)) {
        runBits(rx, c.hsxsamplecnt, prevValue);
        c.hsxsamplecnt = 1;
      }
      c.hsxsymbolstate = v > 0 ? HSCLIDRXSMBLMARK : HSCLIDRXSMBLSPACE;
      if (rx->hsxpoweron && !strong) carrierLost(rx);
    }
    c.hsxprevsample = v;
    c.hsxsamplecnt += 1;
  }
}

HAPIRESULT clidrxInit(HSFSRVOBJ srvp) {
  auto* rx = static_cast<HSZCLIDRXLOCLMEM*>(srvp);
  std::memset(rx, 0, sizeof(*rx));
  rx->hsxclidrxregs = clidrxsrv::HAPI_CLIDRX_DEF_REGS;
  rx->hsxrxthreshold = 5;
  return HAPISUCCESS;
}

HAPIRESULT clidrxio(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* rx = static_cast<HSZCLIDRXLOCLMEM*>(srvp);
  switch (cmd->std.header) {
    case HAPI_CLIDRX_ENABLE_CMD:
      if (rx->hsxenable == 0 && cmd->std.op1 != 0) arm(rx->hsxclidrxcontext);
      rx->hsxenable = cmd->std.op1;
      return HAPISUCCESS;
    case HAPI_CLIDRX_SETREGS_CMD:
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(rx->hsxclidrxregs)) return HAPI_ERR_INVALID_REGS;
      std::memcpy(&rx->hsxclidrxregs, cmd->ext.bufp, sizeof(rx->hsxclidrxregs));
      recomputeThreshold(rx);
      return HAPISUCCESS;
    case HAPI_CLIDRX_SETREG1_CMD: {
      const uint16_t offset = cmd->std.op1;
      if (offset & 1) lhapiAssertHandlerVerbose("clidrx.c", __LINE__);
      if (offset / 2 >= sizeof(rx->hsxclidrxregs) / 2) return HAPI_ERR_INVALID_REGS;  // past the record
      std::memcpy(reinterpret_cast<uint8_t*>(&rx->hsxclidrxregs) + (offset / 2) * 2, &cmd->std.op2, 2);
      recomputeThreshold(rx);
      return HAPISUCCESS;
    }
    default:
      return HAPI_ERR_INVALID_CMD;
  }
}

void clidrxblk(HSFSRVOBJ srvp) {
  auto* rx = static_cast<HSZCLIDRXLOCLMEM*>(srvp);
  if (rx->hsxenable == 0) return;
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const int16_t* media = socket->memDesc[HSF_MEDQ_LOWBAND];
  HSZCLIDRXCONTEXT& c = rx->hsxclidrxcontext;
  const int frame = hsfFrmPeriodGet();
  for (int b = 0; b + B202_BLOCK <= frame; b += B202_BLOCK) {
    if (c.hsxagc && ++c.hsxagccounter >= 3) c.hsxagc = 0;
    HSZCLIDRXSCRATCH scr;
    std::memcpy(scr.hsxrxlinearbuf, media + b - B202_HISTORY, sizeof(scr.hsxrxlinearbuf));
    hsfb202rx(&c, scr.hsxrxlinearbuf + B202_HISTORY, scr.hsxsamples, scr.hsxpower);
    clidrxValues(rx, scr.hsxsamples, scr.hsxpower, B202_VALUES);
  }
}
