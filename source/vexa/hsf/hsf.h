// The service API: what every DSP service sees of the framework. A service registers an HSFSRVARC
// record; the framework calls its functions with the service's instance memory, on the DSP tick
// thread, inside the VHD thread that runs the service's stack. From there the service sends and
// receives messages, takes scratch memory and switches its stack only through the hsf calls below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hapi/hapi_types.h"
#include "lhapi.h"
#include "mem/mem.h"

// ---- messages between services ----
struct HSFMSGSTD {
  uint16_t header;
  uint16_t op1;
  uint16_t op2;
};

struct HSFMSGEXT {
  uint16_t header;
  uint16_t length;  // bytes at bufp
  void* bufp;
};

// A standard or extended message; bit 0x80 of the header tells which form applies.
union HSFMSG {
  HSFMSGSTD std;
  HSFMSGEXT ext;
};
static_assert(offsetof(HSFMSGEXT, bufp) == sizeof(void*) || offsetof(HSFMSGEXT, bufp) == 4,
              "extended message: header, length, buffer pointer");

// ---- the service record ----
using HSFSRVOBJ = void*;  // the service's instance memory
using HSFIOCTLP = HAPIRESULT (*)(HSFSRVOBJ service, HSFMSG* command, HSFMSG* reply);
using HSFBLOCKP = void (*)(HSFSRVOBJ service);
using HSFINITP = HAPIRESULT (*)(HSFSRVOBJ service);
using HSFEXITP = void (*)(HSFSRVOBJ service);

// Any of the functions may be absent.
struct HSFSRVARC {
  HAPISRVID srvId;
  uint32_t instMemSize;  // bytes of instance memory, cleared before initFnc
  HSFIOCTLP ioctlFnc;
  HSFBLOCKP ingressFnc;
  HSFBLOCKP egressFnc;
  HSFINITP initFnc;
  HSFEXITP exitFnc;
};

// ---- in-band data ----
using HSF_IBD_MASK = uint32_t;
enum : HSF_IBD_MASK {
  HSF_IBD_PACKET = 0x2,        // packets and superpackets behind an HAPI_PKT_HDR
  HSF_IBD_DIGIT_TONE = 0x8,
  HSF_IBD_LOCAL_MODEM = 0x10,
  HSF_IBD_PCM = 0x40,
  HSF_IBD_ECAN_INPUT = 0x80,
  HSF_IBD_T38 = 0x100,
  HSF_IBD_NARROWBAND = 0x200,
  HSF_IBD_HIGHBAND = 0x400,
  HSF_IBD_RTP = 0x800,
  HSF_IBD_RTCP = 0x1000,
  HSF_IBD_CONTROL = 0x2000,
  HSF_IBD_FAXR_PACKET = 0x8002,
};

enum HSF_IBD_RX_OPTIONS {
  HSF_IBD_PEEK = 0,
  HSF_IBD_RECEIVE = 1,           // the buffer stays valid until the thread's run ends
  HSF_IBD_RECEIVE_NOT_FREE = 2,  // the caller takes over the framework block (QRN_FreeExtMsg)
};

enum HSFMODE : uint16_t { HSF_NARROWBAND_MODE = 0, HSF_WIDEBAND_MODE = 1 };

// Media buffer pointers of the running frame.
enum { HSF_MEDQ_LOWBAND = 0, HSF_MEDQ_HIGHBAND = 1 };

// Called when a requested stack switch has been done: the requester's instance and none.
using QRN_STACK_SWITCH_CBKP = void (*)(void* srvp, void* arg);

// ---- addressed messages ----
int hsfObdSend(const HSFMSG* msg);
int hsfObdSendStd(uint16_t header, uint16_t op1, uint16_t op2);
int hsfObdSendExt(uint16_t header, uint16_t length, void* bufp);

// ---- in-band data ----
void hsfIbdSendStd(HSF_IBD_MASK mask, uint16_t header, uint16_t op1, uint16_t op2);
void hsfIbdSendExt(HSF_IBD_MASK mask, uint16_t header, uint16_t length, void* bufp);
void hsfIbdSendExtAlloc(HSF_IBD_MASK mask, uint16_t header, uint16_t length, const void* bufp);
void hsfIbdSendAllocMsg(HSF_IBD_MASK mask, uint16_t length, const void* bufp);
HSF_IBD_MASK hsfIbdPeekOrRecv(HSF_IBD_MASK mask, HSFMSG* datap, unsigned num, int option);
void* hsfIbdReceivePtr(HSF_IBD_MASK mask);

// ---- frame and mode ----
uint16_t hsfFrmPeriodGet();
uint16_t hsfModeGet();
void hsfModeAndFramePeriodSet(uint16_t frameSize, uint16_t mode);

// ---- stack switch ----
void hsfStackSwitch(uint16_t stackId, QRN_STACK_SWITCH_CBKP callback);

// ---- scratch memory (valid until the current thread run ends) ----
void* hsfMemAllocScratch(size_t size);
void* hsfMemAllocScratchNoAssert(size_t size);

// ---- service buffer pools and queues ----
MEM_BufPool* hsfBmInit(void* area, size_t areaSize, uint32_t blockSize);
void* hsfBmAllocDirect(MEM_BufPool* pool, size_t size);
void hsfBmFree(void* buffer);
int hsfBmIsPoolEmpty(const MEM_BufPool* pool);
void hsfQmFlush(QMQUEUE* queue);

// ---- media ----
void hsfMedqAdd(int16_t* dst, const int16_t* src, unsigned n);

// ---- byte helpers ----
// Copies `bitCount` bits, most significant first, between byte arrays at bit offsets; with `pad`
// it clears the rest of the last destination byte and counts those bits too. Returns the bits
// written.
unsigned hsfCopyBits(uint8_t* dst, unsigned dstBitOffset, const uint8_t* src, unsigned srcBitOffset,
                     unsigned bitCount, bool pad);
void* QRN_memcpy(void* dst, const void* src, size_t n);
void* QRN_memset(void* dst, int value, size_t n);
