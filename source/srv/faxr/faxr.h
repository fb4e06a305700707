// The fax relay service: the T.30-aware gateway between the line-side fax modems (the V.21 service
// for the control channel and tones, the fax datapump for page data) and the T.38 service on the
// network side. It follows the T.30 phase of the call, times every wait, makes tones and V.21
// preamble locally while the far end is slow, rewrites a few T.30 frames, and buffers page data
// against network jitter.
#pragma once

#include <cstdint>

#include "faxr_regs.h"
#include "hsf/hsf.h"
#include "mem/mem.h"
#include "vc_stm.h"

// ---- codes of the service ----
constexpr uint16_t FAXR_SETREGS_CMD = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_SETREGS_CMD);      // 0x1232
constexpr uint16_t FAXR_RESETREGS_CMD = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_RESETREGS_CMD);  // 0x1233
constexpr uint16_t FAXR_ENABLE_CMD = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_ENABLE_CMD);        // 0x12B0
constexpr uint16_t FAXR_SETREG1_CMD = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_SETREG1_CMD);      // 0x12B4
constexpr uint16_t FAXR_GETSTATS_CMD = HSF_MKHDR(HAPI_FAXR_SRV, HAPI_OPC_GETSTATS_CMD);    // 0x12B5
constexpr uint16_t FAXR_GETSTATUS_CMD = HSF_MKCMD_STD(HAPI_FAXR_SRV, 0);                    // 0x1280
constexpr uint16_t FAXR_SETMAXRATE_CMD = HSF_MKCMD_STD(HAPI_FAXR_SRV, 1);                   // 0x1281

constexpr uint16_t FAXR_ABORT_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 0);       // 0x12C0
constexpr uint16_t FAXR_RATE_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 1);        // 0x12C1
constexpr uint16_t FAXR_TONEDET_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 3);     // 0x12C3
constexpr uint16_t FAXR_V21TONET_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 4);    // 0x12C4
constexpr uint16_t FAXR_TONEGEN_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 5);     // 0x12C5
constexpr uint16_t FAXR_V21FROMNET_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 6);  // 0x12C6
constexpr uint16_t FAXR_TRACE_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 9);       // 0x12C9
constexpr uint16_t FAXR_FAILURE_EVT = HSF_MKEVT_STD(HAPI_FAXR_SRV, 16);    // 0x12D0
constexpr uint16_t FAXR_STATS_EVT = HSF_MKEVT_EXT(HAPI_FAXR_SRV, 19);      // 0x1253
constexpr uint16_t FAXR_PREAMBLE_EVT = HSF_MKEVT_EXT(HAPI_FAXR_SRV, 20);   // 0x1254
constexpr uint16_t FAXR_STATUS_RSP = HSF_MKRSP_EXT(FAXR_GETSTATUS_CMD);    // 0x1200

// `hsxstatus`
enum : uint16_t {
  FAXR_ENABLED = 0x1,
  FAXR_VFAX_ENABLED = 0x4,
  FAXR_V21_ENABLED = 0x8,
  FAXR_EOM_SENT = 0x10,
  FAXR_EOP_SENT = 0x20,
  FAXR_MCF_CONFIRMED = 0x40,
  FAXR_COMPLETED = 0x8000,
};

// `hsxintstatus`
enum : uint16_t {
  FAXR_INT_HSTX = 0x1,
  FAXR_INT_ECM = 0x2,
  FAXR_INT_TCF = 0x4,
  FAXR_INT_NETPAGEEND = 0x8,
  FAXR_INT_POSTMSG = 0x10,
  FAXR_INT_CTR = 0x20,
  FAXR_INT_LONGTRAIN = 0x40,
  FAXR_INT_HSSEEN = 0x80,
  FAXR_INT_NOCNG = 0x100,
  FAXR_INT_SKIPTRAIN = 0x200,
  FAXR_INT_SENDCNG = 0x400,
  FAXR_INT_DCN = 0x800,
  FAXR_INT_AWAITNET = 0x1000,
  FAXR_INT_SILENCE = 0x2000,
  FAXR_INT_ABORTED = 0x4000,  // a record only: the line is followed in WAIT after an abort as before it
  FAXR_INT_ECM64 = 0x8000,  // the DCS chose ECM frames of 64 octets instead of 256
};

enum HSEFAXRSTATE : uint16_t {
  HSFAXRNULLSTATE = 0,
  HSFAXRWAIT = 1,
  HSFAXRWAITNETMSG = 2,
  HSFAXRWAITNETDATA = 3,
  HSFAXRWAITLOCALMSG = 4,
  HSFAXRWAITLOCALTRAIN = 5,
  HSFAXRWAITLOCALDATA = 6,
  HSFAXRWAITNETDIS = 7,
  HSFAXRSENDWAITNETMSG = 8,
  HSFAXRWAITLOCALDIS = 9,
  HSFAXRTIMEGAP = 10,
  HSFAXRDATATIMEGAP = 11,
  HSFAXRSETUPMODEMRX = 12,
  HSFAXRWAITTRAINRX = 13,
  HSFAXRTXLOCALCED = 16,
  HSFAXRTXLOCALCNG = 17,
  HSFAXRTXLOCALMSG = 18,
  HSFAXRTXLOCALTRAIN = 19,
  HSFAXRTXLOCALDATA = 20,
  HSFAXRTXLOCALDATATRAIN = 21,
  HSFAXRTXLOCALPOSTMSG = 22,
  HSFAXRTXLOCALPOSTMSG2 = 23,
  HSFAXRRXLOCALCED = 34,
  HSFAXRRXLOCALDATA = 35,
  HSFAXRENABLELOCALTRAIN = 48,
  HSFAXRABORT = 49,
  HSFAXRDEBUG = 50,
};

// T.30 frame codes as the service reads them (first line bit most significant; FCF without its
// first bit, PPS sub-codes with it).
enum HSEFAXRFCF : uint16_t {
  HSFAXRNULL = 0,
  HSFAXRDIS = 1,
  HSFAXRCSI = 2,
  HSFAXRNSF = 4,
  HSFAXRCFR = 33,
  HSFAXRFTT = 34,
  HSFAXRCTR = 35,
  HSFAXRMCF = 49,
  HSFAXRRTN = 50,
  HSFAXRRTP = 51,
  HSFAXRPIN = 52,
  HSFAXRPIP = 53,
  HSFAXRRNR = 55,
  HSFAXRERR = 56,
  HSFAXRPPR = 61,
  HSFAXRDCS = 65,
  HSFAXRTSI = 66,
  HSFAXRSUB = 67,
  HSFAXRNSS = 68,
  HSFAXRPWD = 69,
  HSFAXRCTC = 72,
  HSFAXRCRP = 88,
  HSFAXRDCN = 95,
  HSFAXREOM = 113,
  HSFAXRMPS = 114,
  HSFAXREOR = 115,
  HSFAXREOP = 116,
  HSFAXRRR = 118,
  HSFAXRPRIEOM = 121,
  HSFAXRPRIMPS = 122,
  HSFAXRPRIEOP = 124,
  HSFAXRPPS = 125,
  HSFAXRDTC = 129,
  HSFAXRCIG = 130,
  HSFAXRNSC = 132,
  HSFAXRPPSEOM = 241,
  HSFAXRPPSMPS = 242,
  HSFAXRPPSEOP = 244,
  HSFAXRPPSPRIEOM = 249,
  HSFAXRPPSPRIMPS = 250,
  HSFAXRPPSPRIEOP = 252,
  HSFAXRHDLC = 255,
};

// Fax-relay packet codes (low byte of `payloadID`) that the service names; training indicators
// and page data are numbered by rate (training from `hstfaxrdatatraincode`, page data rate + 22,
// ECM data rate + 32, ECM frame ends rate + 42 and, with a bad check sequence, rate + 52).
enum class HAPI_PKT_FAXCODE : uint8_t {
  NOSIGNAL = 0,
  CNG = 1,
  CED = 2,
  V21_PREAMBLE = 3,
  V21 = 18,
  V21_END = 19,
  V21_END_FINAL = 20,
  V21_END_BAD = 21,
  V21_END_BAD_FINAL = 22,
  PAGEEND = 63,
  ECM_PAGEEND = 64,
  // from the T.38 service only: a later copy contradicted the V.21 frame whose end it handed on
  // last; no signal, nothing is played for it
  V21_LAST_END_VOID = 66,
  // from the T.38 service only: copies outvoted a packet of the V.21 frame open, handed on
  // altered: the octet where its octets start in the frame, then the octets they say
  V21_MEND = 67,
};
constexpr uint8_t faxCode(HAPI_PKT_FAXCODE c) { return static_cast<uint8_t>(c); }
enum : uint8_t {
  FAXR_PKT_NOSIGNAL = faxCode(HAPI_PKT_FAXCODE::NOSIGNAL),
  FAXR_PKT_CNG = faxCode(HAPI_PKT_FAXCODE::CNG),
  FAXR_PKT_CED = faxCode(HAPI_PKT_FAXCODE::CED),
  FAXR_PKT_V21_PREAMBLE = faxCode(HAPI_PKT_FAXCODE::V21_PREAMBLE),
  FAXR_PKT_V21 = faxCode(HAPI_PKT_FAXCODE::V21),
  FAXR_PKT_V21_END = faxCode(HAPI_PKT_FAXCODE::V21_END),
  FAXR_PKT_V21_END_FINAL = faxCode(HAPI_PKT_FAXCODE::V21_END_FINAL),
  FAXR_PKT_V21_END_BAD = faxCode(HAPI_PKT_FAXCODE::V21_END_BAD),
  FAXR_PKT_V21_END_BAD_FINAL = faxCode(HAPI_PKT_FAXCODE::V21_END_BAD_FINAL),
  FAXR_PKT_PAGEEND = faxCode(HAPI_PKT_FAXCODE::PAGEEND),
  FAXR_PKT_ECM_PAGEEND = faxCode(HAPI_PKT_FAXCODE::ECM_PAGEEND),
  FAXR_PKT_V21_LAST_END_VOID = faxCode(HAPI_PKT_FAXCODE::V21_LAST_END_VOID),
  FAXR_PKT_V21_MEND = faxCode(HAPI_PKT_FAXCODE::V21_MEND),
};

// ---- HDLC framer ----
enum HDLC_RXST : uint16_t { FIND_FIRST_FLAG = 0, FIND_FRAME_START = 1, FIND_FRAME_END = 2 };

// A window of bits in 16-bit words; offset 16 is the first bit after the leading bit-count word.
struct BUFCTL {
  uint16_t* bufp;
  uint16_t offset;
  uint16_t endO;
};

constexpr int FAXR_HDLC_RXBYTES = 40;  // de-stuffed octets held between receive blocks

struct HDLC {
  uint16_t txlast4bits;
  uint16_t txfcs;
  bool preambledet;
  HDLC_RXST rxstate;
  uint16_t rxhdlccnt;
  uint16_t rxcarrybits;  // the last raw bits seen (flag search)
  uint16_t rxcarryO;     // raw bits since the last flag ended (16 at reset)
  uint16_t rxsavedbits;  // ones in a row inside a frame
  uint16_t rxsavednum;   // de-stuffed bits of the frame not yet passed on
  uint16_t rxfcs;
  uint16_t rxtotalbits;  // de-stuffed bits of the frame so far
  uint8_t rxbuf[FAXR_HDLC_RXBYTES];
  void* srvp;
};

// ---- control-channel side ----
struct CHANGEV21MSG {
  uint16_t fcf;
  uint16_t octetCntr;
};

enum : uint16_t {
  FAXR_V21_TXBUSY = 0x1,
  FAXR_V21_SPOOF = 0x2,
  FAXR_V21_FRAMETX = 0x10,
  FAXR_V21_LINEPREAMBLE = 0x20,
  FAXR_V21_NETACCEPT = 0x40,
  FAXR_V21_NETPREAMBLE = 0x80,
  FAXR_V21_LINEFRAMEEND = 0x200,
  FAXR_V21_LINEFINAL = 0x400,
  FAXR_V21_TXFINAL = 0x800,
  FAXR_V21_ENDQUEUED = 0x1000,
  FAXR_V21_TXCUT = 0x2000,  // a chunk of the frame being sent was dropped: its end must be bad
  FAXR_V21_LINEFRAMEOPEN = 0x4,  // octets of the line's frame under way have gone to the network
  FAXR_V21_NETFRAMEOPEN = 0x8,   // octets of a frame from the network came, its end has not
  FAXR_V21_TXFINALSENT = 0x4000,  // a final frame went to the V.21 modem, whose last bit has not gone
  // the line's terminal sends (its preamble was heard), and its answer in its turn (its carrier came
  // then): each until the carrier drops or its final frame has come
  FAXR_V21_LINEBURST = 0x100,
  FAXR_V21_LINEANSWER = 0x8000,
};

constexpr int FAXR_V21_RXWORDS = 32;
constexpr int FAXR_MAX_FRAME_BITS = 496;
// Octets of a frame from the network kept while it is under way: a frame the relay cut for
// stalling plays again whole when its rest comes.
constexpr int FAXR_V21_KEPT = FAXR_MAX_FRAME_BITS / 8;

struct HSZFAXRV21MODEM {
  CHANGEV21MSG changeIngressMsg;
  CHANGEV21MSG changeEgressMsg;
  uint16_t hsxstatus;
  uint16_t hsxtxnumhdlc;
  uint16_t hsxcounter;
  bool hsxfaxruflowflag;
  bool turnFromBadEnd;  // the line has the turn from a final frame that ended bad
  uint16_t hsxv21counter;
  uint16_t hsxfaxrecmendcounter;
  uint16_t v21MaxPreambleDuration;
  uint16_t hsxframestall;  // ms since octets of the frame from the network last came, its end not yet
  uint16_t lineTurn;       // ms since a final frame to the line had gone, 0xFFFF: the line's turn is over
  uint16_t flagsNoFrame;   // ms the relay has been sending flags to the line with no frame after them
  // the octets of the frame from the network under way (netCount of them; FAXR_V21_KEPT + 1: more
  // than are kept), and those of one the relay cut for stalling, kept until the packet after them
  uint8_t netOctets[FAXR_V21_KEPT];
  uint8_t netCount;
  uint8_t stalledOctets[FAXR_V21_KEPT];
  uint8_t stalledCount;
  uint16_t hsxrxbuf[FAXR_V21_RXWORDS];
  BUFCTL hsxrxbufctrl;
};

// ---- page-data side ----
enum FAXRJBEVENT : int32_t {
  e_endstm = -1,
  e_deflt = 0,
  e_hi = 1,
  e_notHi = 2,
  e_loTCF = 3,
  e_loPage = 4,
  e_notLo = 5,
  e_EOLfound = 6,
  e_empty = 7,
  e_sigEnd = 8,
  e_jbempty = 9,
  e_done = 10,
  e_endStm = 32767,
};

using FAXRJBACTION = VCSTMF;  // takes a FAXRJBACTIONARG
using FAXRJBSTMROW = VCZSTMROW<1>;
using FAXRJBSTMEVQ = VCZSTMEVQN<2>;

struct FAXRJBSTM {
  const FAXRJBSTMROW* stp;
  FAXRJBSTMEVQ evq;
};

enum : uint16_t {
  FAXR_FAX_TXBUSY = 0x1,
  FAXR_FAX_TCFGOOD = 0x2,
  FAXR_FAX_ENDED = 0x8,
  FAXR_FAX_POSTMSG = 0x10,
  FAXR_FAX_ECMEND = 0x20,
  FAXR_FAX_TXFRAMEOPEN = 0x40,  // an ECM frame's data has gone to the line without its end
  FAXR_FAX_TXFRAMECUT = 0x80,   // an ECM frame grew past its bound: ended bad, its rest is dropped
  FAXR_FAX_NETFRAMECUT = 0x4,   // a new signal cut the ECM frame from the network: its rest is dropped
};

constexpr int FAXR_SPOOFBUF_WORDS = 43;
constexpr int FAXR_MAX_JB_PACKETS = 30;
constexpr int FAXR_MAX_PKT_BITS = 672;

struct HSZFAXRFAXMODEM {
  uint16_t hsxsrvid;
  uint16_t hsxstatus;
  int16_t hsxstartbuffer;
  int16_t hsxcounter;
  uint16_t hsxfaxrcounter;
  uint16_t hsxsmallframecount;
  uint16_t hsxbitsperframe;
  bool hsxfaxruflowflag;
  uint16_t hsxfaxrecmendcounter;
  uint16_t hsxbitcount;
  uint16_t hsxspooftxbuf[FAXR_SPOOFBUF_WORDS];
  uint16_t hsxspooftxbufbitcnt;
  FAXRJBSTM jbStm;
  uint16_t hsxtxframeoctets;  // octets of the ECM frame under way that went to the line
  uint16_t hsxrowtailbits;    // page bits come in after the last end-of-line code's end
  uint16_t hsxrowtailzeros;   // the zeros at the end of the page bits come in
};

// Arguments every jitter-buffer action receives.
struct HSZFAXRLOCLMEM;
struct FAXRJBACTIONARG {
  HSZFAXRLOCLMEM* localp;
  HSZFAXRREGS* regp;
  HSZFAXRSTATS* statsp;
};

// ---- state and timers ----
struct HSZFAXRSTATE {
  HSEFAXRSTATE hsxstate;
  uint16_t hsxtimer;
  uint16_t hsxdelaytimer;
  uint16_t trainingDelayTimer;
  uint16_t silenceTimer;  // 65535: not running
  int16_t hsxcngtimer;
  uint16_t hsxrxmsg;
  uint16_t hsxpostmsgfcf1;
  uint16_t hsxpostmsgfcf2;
  uint16_t hsxpostmsg2;
  uint16_t hsxpprnum;
};

// ---- the instance ----
constexpr uint32_t FAXR_BLOCK_BYTES = 104;  // a bit-count word and 816 bits, or a packet of 96 octets
constexpr int FAXR_POOL_BLOCKS = 64;
constexpr size_t FAXR_POOL_BYTES = MEM_BufPoolMemSize(FAXR_BLOCK_BYTES + sizeof(void*), FAXR_POOL_BLOCKS) + 64;

struct HSZFAXRLOCLMEM {
  unsigned char bufpoolArray[FAXR_POOL_BYTES];
  MEM_BufPool* heapId;
  uint16_t hsxstatus;
  uint16_t hsxintstatus;
  uint16_t hsxTimeStamp;
  uint16_t hsxoldTimeStamp;
  uint16_t hsxRxTimeStamp;
  HSZFAXRREGS hsxfaxrregs;
  uint16_t hsxfaxrTcfBytesMasked;
  HSZFAXRSTATS hsxfaxrStats;
  HSZFAXRSTATE hsxfaxrstate;
  // The service's own queues: only its thread bodies touch them, so they go without the lock.
  QMQUEUE hsxcmdbufq;
  QMQUEUE hsxvfaxjitbufq;
  QMQUEUE hsxv21jitbufq;
  HSZFAXRV21MODEM hsxfaxrv21;
  HSZFAXRFAXMODEM hsxfaxrfax;
  uint16_t hsxSeqNum;
  uint16_t hsxRxSeqNum;
  HDLC hsxdatahdlc;
  bool rxStampValid;  // hsxRxTimeStamp holds a stamp (none yet after enable)
  bool netLost;       // a packet from the network was dropped for want of a block
  bool sentAny;       // hsxoldTimeStamp holds a stamp
};

extern const HSFSRVARC faxrarc;

HAPIRESULT fxrInit(HSFSRVOBJ service);
HAPIRESULT fxrIOctl(HSFSRVOBJ service, HSFMSG* command, HSFMSG* reply);
void fxrIngress(HSFSRVOBJ service);
void fxrEgress(HSFSRVOBJ service);
