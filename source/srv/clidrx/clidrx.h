// The caller-ID receive service: Bell 202 FSK on the ingress signal of an FXO line, handed to
// the host as packets: the seizure and mark lengths, the message bytes sixteen at a time, and an
// end packet.
#pragma once

#include <cstdint>

#include "b202rx.h"
#include "hsf/hsf.h"

inline constexpr uint16_t HAPI_CLIDRX_SETREGS_CMD = HSF_MKCMD_EXT(HAPI_CLIDRX_SRV, 0x32);  // 0x3432
inline constexpr uint16_t HAPI_CLIDRX_ENABLE_CMD = HSF_MKHDR(HAPI_CLIDRX_SRV, HAPI_OPC_ENABLE_CMD);    // 0x34B0
inline constexpr uint16_t HAPI_CLIDRX_SETREG1_CMD = HSF_MKHDR(HAPI_CLIDRX_SRV, HAPI_OPC_SETREG1_CMD);  // 0x34B4
inline constexpr uint16_t HAPI_CLIDRX_PKT_EVT = HSF_MKEVT_EXT(HAPI_CLIDRX_SRV, 0);                      // 0x3440

inline constexpr int CLIDRXNETMSGBUFSIZE = 8;

// The host library declares its own copy of the register record; the service's lives here.
namespace clidrxsrv {
struct HSZCLIDRXREGS {
  uint16_t hsxminseizurelen;  // alternating bits
  uint16_t hsxminmarklen;     // mark bits
  uint16_t hsxmaxmsglen;      // bytes
  int16_t hsxminrxthreshold;  // dB
};
static_assert(sizeof(HSZCLIDRXREGS) == 8);
inline constexpr HSZCLIDRXREGS HAPI_CLIDRX_DEF_REGS = {250, 150, 255, -35};
}  // namespace clidrxsrv

inline constexpr int CLIDRX_PKT_SLOTS = 4;

struct HSZCLIDRXLOCLMEM {
  uint16_t hsxenable;
  uint16_t hsxpoweron;      // carrier present
  uint32_t hsxrxthreshold;  // energy threshold
  HSZCLIDRXCONTEXT hsxclidrxcontext;
  clidrxsrv::HSZCLIDRXREGS hsxclidrxregs;
  // Packets handed to the host by reference stay put until it has taken them.
  HSZCLIDRXPACKET sent[CLIDRX_PKT_SLOTS];
  uint16_t sentNext;
};

struct HSZCLIDRXSCRATCH {
  int16_t hsxgarbage0[20];
  int16_t hsxsamples[B202_VALUES];
  int16_t hsxpower[B202_VALUES];
  int16_t hsxrxlinearbuf[B202_HISTORY + B202_BLOCK];
};

extern const HSFSRVARC clidrxsrvarc;

HAPIRESULT clidrxInit(HSFSRVOBJ srvp);
HAPIRESULT clidrxio(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);
void clidrxblk(HSFSRVOBJ srvp);
// The receiver's steps on one block's demodulated values (exposed for tests).
void clidrxValues(HSZCLIDRXLOCLMEM* rx, const int16_t* values, const int16_t* levels, int n);
