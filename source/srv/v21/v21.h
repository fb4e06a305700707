// The V.21 service: V.21 channel 2 FSK transmission and reception at bit level, the calling tone
// CNG and the answer tone CED, and their detection, for the fax relay service above it.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"
#include "tone.h"
#include "v21_regs.h"
#include "vc_clbuf.h"
#include "vc_stm.h"

// Events of the machines.
enum V21EVT : int32_t {
  e_v21null = -1,
  e_default = 0,
  e_idle = 1,
  e_ced = 2,
  e_cng = 3,
  e_txdata = 4,
  e_carrierDet = 5,
  e_noCarrier = 6,
  e_start = 7,
  e_enableRx = 8,
  e_disableRx = 9,
  e_dtOnes = 10,
  e_dtOff = 11,
  e_dtOn = 12,
  e_timeout = 13,
  e_urun = 14,
};

using V21EVTQ = VCZSTMEVQN<32>;
using EVTX = VCZSTMROW<3>;
using EVRX = VCZSTMROW<2>;

// Codes of the service.
constexpr uint16_t V21_ENABLE_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_ENABLE_CMD);        // 0x0DB0
constexpr uint16_t V21_GETREGS_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_GETREGS_CMD);      // 0x0DB1
constexpr uint16_t V21_STATUS_CMD = 0x0E36;
constexpr uint16_t V21_IDLEPTN_CMD = HSF_MKCMD_EXT(HAPI_V21_SRV, 5);                      // 0x0D05
constexpr uint16_t V21_SETREGS_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_SETREGS_CMD);      // 0x0D32
constexpr uint16_t V21_RESETREGS_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_RESETREGS_CMD);  // 0x0D33
constexpr uint16_t V21_SETREG1_CMD = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_SETREG1_CMD);      // 0x0DB4
constexpr uint16_t V21_RXMODE_CMD = HSF_MKCMD_STD(HAPI_V21_SRV, 4);                       // 0x0D84
constexpr uint16_t V21_TXMODE_CMD = HSF_MKCMD_STD(HAPI_V21_SRV, 7);                       // 0x0D87
constexpr uint16_t V21_TXDATA_CMD = HSF_MKCMD_EXT(HAPI_V21_SRV, 8);                       // 0x0D08
constexpr uint16_t V21_TXDRAIN_CMD = HSF_MKCMD_STD(HAPI_V21_SRV, 8);                      // 0x0D88

constexpr uint16_t V21_TXSENT_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 0);    // 0x0DC0
constexpr uint16_t V21_TXBITS_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 1);    // 0x0DC1
constexpr uint16_t V21_TXQLOW_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 3);    // 0x0DC3
constexpr uint16_t V21_TXQHIGH_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 4);   // 0x0DC4
constexpr uint16_t V21_TXUFLOW_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 5);   // 0x0DC5
constexpr uint16_t V21_NOCARRIER_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 9); // 0x0DC9
constexpr uint16_t V21_CED_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 14);      // 0x0DCE
constexpr uint16_t V21_CNG_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 15);      // 0x0DCF
constexpr uint16_t V21_POOLLOW_EVT = HSF_MKEVT_STD(HAPI_V21_SRV, 20);  // 0x0DD4
constexpr uint16_t V21_RXDATA_EVT = HSF_MKEVT_EXT(HAPI_V21_SRV, 2);    // 0x0D42

// Status bits.
enum : uint16_t {
  V21_STATUS_ENABLED = 0x2,
  V21_STATUS_CED = 0x4,
  V21_STATUS_CNG = 0x8,
  V21_STATUS_TXMODE = 0x10,
};

struct HSZV21STATE {
  uint16_t status;
  uint16_t reserved;
};

struct HSZQPTRS {
  int16_t* hsxqp;
  int16_t* hsxqstp;
  int16_t* hsxqendp;
};

struct HSZMSG {
  uint16_t hsxmsg;
  uint16_t hsxop1;
  uint16_t hsxop2;
};

struct HSZV21GMSK {
  uint16_t phase;  // 2048 per cycle
  const int16_t* pulsep;
  uint16_t carrierInc;
  int16_t txAmp;
};

struct TONEDET {
  HSZTONEDET dt;
  uint16_t tmr;          // ms the present condition has lasted
  uint16_t offset;       // where in the sample buffer the next window starts
  uint16_t elapsedTime;  // ms since the last detector run
};

struct V21LOCLMEM;

struct HSZV21TX {
  HSZQPTRS v21zMqWrp;
  uint16_t txTmr;  // tone cadence, sub-ticks
  V21LOCLMEM* localp;
  V21EVTQ* evqp;
  const EVTX* stp;
  const EVTX* dataStp;
  QMQUEUE v21zTxQueue;
  VCZCPYFRMCLBUF v21zCpyFrmClBuf;
  HSZTONE hsxtone;
  HSZV21GMSK gmsk;
  int16_t prevDev;  // deviation of the bit now being sent
  int16_t bitcnt;   // 0..2
  int16_t numsamp;  // samples of the current bit still to send
  HSZQPTRS hsxqptrs;
  TONEDET cedDt;
  TONEDET cngDt;
  bool highSent;
  bool lowSent;
  bool uflowSent;
};

struct HSZV21RXSCRATCH {
  int16_t hsxsamples[50];
  int16_t hsxpower[30];
};

struct HSZV21RX {
  HSZQPTRS v21zMqRdp;
  uint16_t hsxsamplecnt;  // samples since the last bit boundary
  V21LOCLMEM* localp;
  V21EVTQ* evqp;
  const EVRX* stp;
  int16_t prevSymbol;
  int16_t hsxpowlevel;  // smoothed magnitude of the channel-filtered signal
  int16_t hsxxprev1;
  int16_t hsxxprev2;
  const int16_t* hsxdwnsmplcoefp;  // current polyphase branch
  const int16_t* hsxphaseshftcoefp;
  uint16_t hsxy[20];
  HSZV21RXSCRATCH* hsxdirectscratchp;
  int16_t gain;  // Q10
  int16_t powlowcnt;
  int16_t powhighcnt;
  uint16_t hsxpowlevel1;  // level with the gain taken out
  VCZCPYTOCLBUF v21zCpyToClBuf;
};

constexpr int V21_SUBTICK = 40;
constexpr int V21_HISTORY = 77;
constexpr int V21_POOL_BLOCKS = 64;
constexpr int V21_BLOCK_BYTES = 8;  // one transmit data block or one receive packet
// Pool area: header plus blocks with their headers and owner words.
constexpr size_t V21_POOL_BYTES =
    sizeof(MEM_BufPool) + 16 + V21_POOL_BLOCKS * (MEM_BLOCK_HDR_SIZE + V21_BLOCK_BYTES + sizeof(void*) + 8);

struct V21LOCLMEM {
  unsigned char bufpoolArray[V21_POOL_BYTES];  // the pool aligns itself inside
  MEM_BufPool* heapId;
  void* srvp;
  HSZV21STATE state;
  uint16_t hsxstatus;
  HSZV21REGS hsxv21regs;
  V21EVTQ evq;
  HSZV21TX hsxv21tx;
  HSZV21RX hsxv21rx;
  const int16_t* linearbufp;  // the sub-tick's 77 + 40 samples with the receiver's gain
  HSZMSG v21zClientCmd;
  VCZIDLEPTN v21zIdlePtn;
  int16_t txbuf[80];
  uint16_t v21pageflag;
  int16_t subbuf[V21_SUBTICK];  // a sub-tick's transmit samples when the frame is not 80 long
  // The line samples of the previous sub-ticks (raw, before gain), then those of up to two
  // sub-ticks of this frame: each sub-tick reads its 77 + 40 from here where the gain is unity.
  int16_t window[V21_HISTORY + 2 * V21_SUBTICK];
  int16_t linear[V21_HISTORY + V21_SUBTICK];  // a sub-tick's window with the gain applied
  uint16_t quietRun;  // zero samples that end the window, counted no higher than they are
  bool lineQuiet;     // every sample of the sub-tick's window is zero
  bool txbufSilent;   // txbuf holds only zeros: adding it to the line changes nothing
  HSZV21RXSCRATCH scratch;
};

extern const HSFSRVARC v21arc;
extern const HSZV21REGS v21DefaultRegs;

HAPIRESULT hsfv21init(HSFSRVOBJ service);
HAPIRESULT hsfv21io(HSFSRVOBJ service, HSFMSG* command, HSFMSG* reply);
void v21Ingress(HSFSRVOBJ service);
void v21Egress(HSFSRVOBJ service);
// One frame of the enabled service: `frame` line samples in, the transmit samples of an 80-sample
// frame left in txbuf.
void v21Frame(V21LOCLMEM* m, const int16_t* x, uint16_t frame);

// Internal pieces shared by the service's files.
void v21ResetMachines(V21LOCLMEM* m);
// The receiver's sub-tick: channel filter and level, then the bits when `always` or when the level
// says a carrier is there. True when it recovered the bits.
bool v21RxDemodBlock(V21LOCLMEM* m, bool always);
constexpr int V21_RX_OUT = 30;  // channel filter outputs (6000/s) per sub-tick
// One step of the smoothed magnitude. A level within 0..32767 stays there (the weights sum below
// 32768), so no step needs the 16-bit wrap.
inline int32_t v21LevelStep(int32_t level, uint32_t magnitude) {
  return (level * 29491 + static_cast<int32_t>(magnitude) * 3276) >> 15;
}
// The receiver waits for a carrier with its level at rest (or does not listen): a sub-tick on a
// quiet window then only keeps the level at zero (v21RxQuietSubTick).
bool v21RxAtRest(const V21LOCLMEM* m);
void v21RxQuietSubTick(V21LOCLMEM* m);
// The transmitter sends nothing (idle, or in data mode with the modulator idle): a sub-tick of it
// only runs the tone detectors, which v21DetectTonesQuiet does for sub-ticks of a quiet line.
bool v21TxSilent(const V21LOCLMEM* m);
void v21DetectTonesQuiet(V21LOCLMEM* m, int subTicks);
// The level with the gain taken out; true when the bits are to be recovered.
bool v21RecoverNow(V21LOCLMEM* m, bool always);
// Bit recovery from a sub-tick's slices (bit k: slice k is 1).
void v21RecoverBits(HSZV21RX& rx, uint32_t slices);
#if defined(ORVOX_X86_SIMD)
// The sub-tick on processors with AVX2, outputs kept in registers from the filter to the slices.
bool v21RxDemodAvx2(V21LOCLMEM* m, bool always);
#endif
void hsfv21MultGain(int16_t* samples, int n, int16_t gain);
void v21PostEvent(V21LOCLMEM* m, V21EVT ev);
uint16_t v21BitsPerPacket(uint16_t hsxnumbits);
extern const EVTX v21s_tx[];
extern const EVTX v21s_txIdle[];
extern const EVTX v21s_cIdle[];
extern const EVRX v21s_rxsIdle[];
