// The fax datapump service: the high-speed modem of a fax call (training, TCF and page data of
// V.17 and the V.33 rates) between the line and the fax relay service above it.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"
#include "vc_baud.h"
#include "vc_demod.h"
#include "vc_timing.h"
#include "vfx_regs.h"

// Codes of the service.
constexpr uint16_t VFX_TXDATA_CMD = HSF_MKCMD_EXT(HAPI_VFAX_SRV, 6);                        // 0x1106
constexpr uint16_t VFX_IDLEPTN_CMD = HSF_MKCMD_EXT(HAPI_VFAX_SRV, 10);                      // 0x110A
constexpr uint16_t VFX_SETREGS_CMD = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_SETREGS_CMD);        // 0x1132
constexpr uint16_t VFX_RESETREGS_CMD = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_RESETREGS_CMD);    // 0x1133
constexpr uint16_t VFX_SETREG1_CMD = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_SETREG1_CMD);        // 0x11B4
constexpr uint16_t VFX_STATE_CMD = HSF_MKCMD_STD(HAPI_VFAX_SRV, 1);                         // 0x1181
constexpr uint16_t VFX_GETREGS_CMD = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_GETREGS_CMD);        // 0x11B1
constexpr uint16_t VFX_ENABLE_CMD = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_ENABLE_CMD);          // 0x11B0
constexpr uint16_t VFX_TX_CMD = HSF_MKCMD_STD(HAPI_VFAX_SRV, 5);                            // 0x1185
constexpr uint16_t VFX_RX_CMD = HSF_MKCMD_STD(HAPI_VFAX_SRV, 9);                            // 0x1189

constexpr uint16_t VFX_TXSENT_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 16);   // 0x11D0
constexpr uint16_t VFX_TCFDONE_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 20);  // 0x11D4
constexpr uint16_t VFX_RXERR_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 21);    // 0x11D5
constexpr uint16_t VFX_TXQLOW_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 22);   // 0x11D6
constexpr uint16_t VFX_TXQHIGH_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 23);  // 0x11D7
constexpr uint16_t VFX_TXDONE_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 24);   // 0x11D8
constexpr uint16_t VFX_DATA_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 25);     // 0x11D9
constexpr uint16_t VFX_RXDONE_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 27);   // 0x11DB
constexpr uint16_t VFX_RXTRAIN_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 28);  // 0x11DC
constexpr uint16_t VFX_TXBITS_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 29);   // 0x11DD
constexpr uint16_t VFX_POOLLOW_EVT = HSF_MKEVT_STD(HAPI_VFAX_SRV, 30);  // 0x11DE
constexpr uint16_t VFX_RXDATA_EVT = HSF_MKEVT_EXT(HAPI_VFAX_SRV, 17);   // 0x1151
constexpr uint16_t VFX_STATE_RSP = HSF_MKRSP_EXT(VFX_STATE_CMD);        // 0x1101
constexpr uint16_t VFX_REGS_RSP = HSF_MKRSP_EXT(VFX_GETREGS_CMD);       // 0x1131

// Status bits.
enum : uint16_t {
  VFX_ENABLED = 0x1,
  VFX_TXDATA = 0x2,
  VFX_RXDATA = 0x4,
  VFX_V33 = 0x8,
  VFX_LONGTRN = 0x10,
  VFX_PAGEEND = 0x20,
  VFX_RECEIVING = 0x200,
  VFX_TRANSMITTING = 0x400,
  VFX_TXBULKSET = 0x1000,
  VFX_TIMING = 0x2000,
  VFX_TCFERR = 0x4000,
  VFX_RXENDED = 0x8000,
};

// Start-up requests taken by the next frame.
enum : uint16_t {
  PF_RXSTART = 0x1,
  PF_RXLONG = 0x2,
  PF_RXPARSER = 0x4,
  PF_RXRESAMP = 0x8,
  PF_TXSTART = 0x10,
  PF_TXTONE = 0x20,
  PF_TXNOTONE = 0x40,
  PF_TIMFRESH = 0x80,
  PF_TIMKEEP = 0x100,
};

struct HAPI_VFAX_STATE {
  uint16_t status;
  uint16_t reserved;
};
static_assert(sizeof(HAPI_VFAX_STATE) == 4);

enum V17EEVENT : int32_t {
  e_v17null = -1,
  e_v17default = 0,
  e_waitDone = 1,
  e_txDone = 2,
  e_rxIdle = 3,
  e_txIdle = 4,
  e_SDet = 5,
  e_gainDone = 6,
  e_phRevSDet = 7,
  e_shortTRN = 8,
  e_longTRN = 9,
  e_TCF = 10,
  e_data = 11,
  e_noCarrier = 12,
  e_CD = 13,
};



struct V17ZSTM {
  const V17ZSTMEV* stp;
  int16_t tmrTrain;
  VCZSTMEVQ evq;
};

struct V17ZTX {
  int16_t v17txrem[16];  // samples carried into the next frame
  int16_t v17txremidx;
  VCZMOD v17zModParam;
  // The symbols' line for the pulse shaper, real half then imaginary half: each frame's symbols
  // written after the 19 the shaper reaches back for, which are moved to the front for the next.
  int16_t v17SymLine[2 * 99];
};

struct V17ZT3PARM {
  VCZRESAMPLE T3ResampParam;
  int16_t inHist[33];       // 8000/s history in front of the frame
  int16_t timLine[34 + 16 + 112];  // timing input: history, carried samples, this frame (up to 9600/s)
  int16_t timCount;         // samples in timLine after the history
  int16_t eqLine[71 + 6 + 112];  // equaliser input: history, carried samples, this frame
  int16_t eqCount;
};

struct V17EQMEM {
  int32_t cr[56];
  int32_t ci[56];
};

struct V17ZDEMOD {
  int16_t peakAveError;
  VCZDEMODT3 dem;
  V17EQMEM eqMem;
};

// The 2T/3 demodulator of the 7200/9600 bit/s receiver with its mixer, T/3 line and taps.
struct V29ZDEMOD {
  VCZDEMOD2T3 dem;
  int16_t mixer[2 * (16 + 6 + 1)];
  int16_t t3[2 * 35];
  int32_t coeff[2 * 18];
};

struct V17ZRX {
  VCZTIMADJ v17zTimAdjParam;
  V17ZT3PARM v17zT3Param;
  V17ZDEMOD v17zDemod;
  VCZAGC v17zAgcGain;
  uint16_t gain;  // Q10
  VCZVITERBI32 v17zVitParam;
  V29ZDEMOD v29zDemod;
};

struct V17LOCLUNION {
  V17ZTX tx;
  V17ZRX rx;
};

constexpr int VFX_POOL_BLOCKS = 48;
constexpr int VFX_BLOCK_BYTES = 104;
constexpr size_t VFX_POOL_BYTES =
    sizeof(MEM_BufPool) + 16 + VFX_POOL_BLOCKS * (MEM_BLOCK_HDR_SIZE + VFX_BLOCK_BYTES + sizeof(void*) + 8);

struct VFXLOCLMEM {
  unsigned char bufpoolArray[VFX_POOL_BYTES];
  MEM_BufPool* heapId;
  HSZVFAXREGS v17zRegs;
  HAPI_VFAX_STATE v17zState;
  HSFMSGSTD v17zClientCmd;
  void* srvp;
  QMQUEUE v17zTxQueue;
  VCZIDLEPTN v17zIdlePtn;
  VCZCPYFRMCLBUF v17zCpyFrmClBuf;
  VCZCPYTOCLBUF v17zCpyToClBuf;
  VCZBAUD v17zBaud;
  VCZRXPKTPARAM v17zRxPktParam;
  uint16_t pageflag;
  uint16_t rxcfg;
  uint16_t modemType;
  bool cmdQhighEvtSent;
  uint16_t desiredrate;
  int16_t vfxtxbuf[80];
  V17ZSTM v17zStm;
  VCESTMEVT deferred;  // event an action raises for after the pass
  uint16_t bitsThisFrame;
  uint16_t savedGain;  // the gain of the previous reception (short training)
  V17LOCLUNION u;
};

extern const HSFSRVARC vfxarc;
extern const HSZVFAXREGS vfxDefaultRegs;

HAPIRESULT vfxInit(HSFSRVOBJ service);
HAPIRESULT hsfvfxio(HSFSRVOBJ service, HSFMSG* command, HSFMSG* reply);
void vfxIngress(HSFSRVOBJ service);
void vfxEgress(HSFSRVOBJ service);
// One 10 ms frame of the enabled service's pump: the 80 line samples in (null: none), the
// transmit samples left in vfxtxbuf.
void vfxFrame(VFXLOCLMEM* m, const int16_t* frame);

// The V.17 pump.
uint16_t v17fGetBaudMachineRate(uint16_t rate);
uint16_t v17fGetBitsPerSec(uint16_t rate);
void v17InitMdm(VFXLOCLMEM* m);
void v17StartTx(VFXLOCLMEM* m, uint16_t op1);
void v17StartRx(VFXLOCLMEM* m, uint16_t op1);
void v17fBlkTsk(VFXLOCLMEM* m);
void v17InitCopyToClBuf(VFXLOCLMEM* m);
uint16_t vfxBitsPerPacket(uint16_t hsxnumbits, uint16_t bitsPerSec);
