// The fax relay service's input from outside: arbitrary fax-relay packets from the network (as the
// T.38 service hands them over) and arbitrary bit blocks and events from its modems, frame by
// frame, in any state. Nothing is read outside a packet, every command to a modem is well formed,
// no invariant breaks and every pool block comes back when the service is disabled.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "faxr.h"
#include "fuzz_input.h"

// ---- the framework as far as the service uses it ----
namespace {

struct Ibd {
  HSFMSG msg;
  std::vector<uint8_t> data;
};
std::deque<Ibd> gIbd;                      // in-band data waiting for the service
std::vector<void*> gScratch;               // freed at the end of each run
int gBlocksOut = 0;
constexpr int kPoolBlocks = 64;
MEM_BufPool gPool{};

void endRun() {
  for (void* p : gScratch) std::free(p);
  gScratch.clear();
}

void checkPacket(const void* p, uint16_t length) {
  if (length < sizeof(HAPI_PKT_HDR)) std::abort();
  const auto* hdr = static_cast<const HAPI_PKT_HDR*>(p);
  if (sizeof(HAPI_PKT_HDR) + hdr->payloadLength != length || (hdr->payloadID >> 8) != 5) std::abort();
  if (hdr->payloadLength >= 2) {
    const uint16_t bits = *reinterpret_cast<const uint16_t*>(hdr + 1);
    if (bits > (hdr->payloadLength - 2) * 8u) std::abort();
  }
  volatile uint8_t sink = 0;
  for (uint16_t i = 0; i < length; ++i) sink = static_cast<uint8_t>(sink ^ static_cast<const uint8_t*>(p)[i]);
}

void checkCommand(uint16_t header, uint16_t length, const void* p) {
  if (length < 2 || p == nullptr) std::abort();
  uint16_t bits;
  std::memcpy(&bits, p, 2);
  if (bits > (length - 2u) * 8u) std::abort();
  if (header == HSF_MKCMD_EXT(HAPI_VFAX_SRV, 6) && length > 104) std::abort();  // the datapump's block size
  volatile uint8_t sink = 0;
  for (uint16_t i = 0; i < length; ++i) sink = static_cast<uint8_t>(sink ^ static_cast<const uint8_t*>(p)[i]);
}

}  // namespace

void lhapiAssertHandlerVerbose(const char*, int) { std::abort(); }

void* hsfMemAllocScratchNoAssert(size_t size) {
  void* p = std::malloc(size ? size : 1);
  gScratch.push_back(p);
  return p;
}
void* hsfMemAllocScratch(size_t size) { return hsfMemAllocScratchNoAssert(size); }

MEM_BufPool* hsfBmInit(void*, size_t, uint32_t) { return &gPool; }
void* hsfBmAllocDirect(MEM_BufPool*, size_t size) {
  if (gBlocksOut >= kPoolBlocks) return nullptr;
  auto* raw = static_cast<uint8_t*>(std::calloc(1, MEM_BLOCK_HDR_SIZE + size));
  ++gBlocksOut;
  return raw + MEM_BLOCK_HDR_SIZE;
}
void hsfBmFree(void* data) {
  if (data == nullptr) std::abort();
  --gBlocksOut;
  std::free(MEM_HdrOf(data));
}

void MEM_InitQueue(MEM_Queue* q) { *q = MEM_Queue{}; }
void MEM_QueueEnq_UnprotectedDbg(MEM_Queue* q, void* data, const char*, int) {
  MEM_BlockHdr* h = MEM_HdrOf(data);
  h->nextp = nullptr;
  if (q->tailPtr != nullptr)
    q->tailPtr->nextp = h;
  else
    q->headPtr = h;
  q->tailPtr = h;
  ++q->count;
}
void* MEM_QueueDeq_UnprotectedDbg(MEM_Queue* q, const char*, int) {
  MEM_BlockHdr* h = q->headPtr;
  if (h == nullptr) return nullptr;
  q->headPtr = h->nextp;
  if (q->headPtr == nullptr) q->tailPtr = nullptr;
  --q->count;
  return reinterpret_cast<uint8_t*>(h) + MEM_BLOCK_HDR_SIZE;
}
uint32_t MEM_QueueCount(const MEM_Queue* q) { return q->count; }
void* MEM_QueueHead(const MEM_Queue* q) {
  return q->headPtr != nullptr ? reinterpret_cast<uint8_t*>(q->headPtr) + MEM_BLOCK_HDR_SIZE : nullptr;
}
void* MEM_QueueNext(const void* data) {
  MEM_BlockHdr* n = MEM_HdrOf(data)->nextp;
  return n != nullptr ? reinterpret_cast<uint8_t*>(n) + MEM_BLOCK_HDR_SIZE : nullptr;
}

HSF_IBD_MASK hsfIbdPeekOrRecv(HSF_IBD_MASK mask, HSFMSG* out, unsigned, int option) {
  for (auto it = gIbd.begin(); it != gIbd.end(); ++it) {
    const HSF_IBD_MASK m = it->msg.std.header == 0 ? 0x8002 : 0x10;
    if ((m & mask) != m) continue;
    // the data stays valid to the end of the run: keep it in scratch memory
    *out = it->msg;
    if (!it->data.empty()) {
      void* copy = hsfMemAllocScratchNoAssert(it->data.size());
      std::memcpy(copy, it->data.data(), it->data.size());
      out->ext.bufp = copy;
    }
    if (option != 0) gIbd.erase(it);
    return m;
  }
  return 0;
}
void hsfIbdSendExt(HSF_IBD_MASK mask, uint16_t, uint16_t length, void* bufp) {
  if (mask == 0x2) checkPacket(bufp, length);
}
int hsfObdSendStd(uint16_t, uint16_t, uint16_t) { return 1; }
int hsfObdSendExt(uint16_t header, uint16_t length, void* bufp) {
  if (header == HSF_MKCMD_EXT(HAPI_V21_SRV, 8) || header == HSF_MKCMD_EXT(HAPI_VFAX_SRV, 6)) checkCommand(header, length, bufp);
  return 1;
}
uint16_t hsfFrmPeriodGet() { return 80; }

// ---- the input ----
namespace {

constexpr uint16_t kModemEvents[] = {0x1151, 0x11DC, 0x11D5, 0x11D8, 0x11D4, 0x11DD, 0x11DB, 0x11DE, 0x0DD4,
                                     0x0DCF, 0x0DCE, 0x0DC9, 0x0DC1, 0x0DC5, 0x0D42};
constexpr uint16_t kStates[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 17, 18, 19, 20, 21, 22, 23, 34, 35, 48, 49};

void networkPacket(FuzzInput& in) {
  const uint8_t code = in.byte();
  const uint16_t stamp = in.word();
  const size_t payload = in.byte() % 112;    // may claim more than a block holds
  const size_t carried = in.byte() % 112;    // and carry other than it claims
  Ibd p{};
  p.data.resize(sizeof(HAPI_PKT_HDR) + carried);
  auto* hdr = reinterpret_cast<HAPI_PKT_HDR*>(p.data.data());
  hdr->payloadID = static_cast<uint16_t>((in.byte() & 1 ? 0x0500 : 0x0400) | code);
  hdr->payloadLength = static_cast<uint16_t>(payload);
  hdr->payloadTimeStampLow = stamp;
  in.take(p.data.data() + sizeof(HAPI_PKT_HDR), carried);
  p.msg.ext.header = 0;
  p.msg.ext.length = static_cast<uint16_t>(p.data.size());
  gIbd.push_back(std::move(p));
}

void modemEvent(FuzzInput& in) {
  Ibd e{};
  const uint16_t code = kModemEvents[in.byte() % (sizeof(kModemEvents) / 2)];
  if (code == 0x1151 || code == 0x0D42) {
    const size_t n = in.byte() % 120;
    e.data.resize(n);
    in.take(e.data.data(), n);
    e.msg.ext.header = code;
    e.msg.ext.length = static_cast<uint16_t>(n);
    if (n == 0) e.msg.ext.bufp = nullptr;
  } else {
    e.msg.std.header = code;
    e.msg.std.op1 = in.word();
    e.msg.std.op2 = in.word();
  }
  gIbd.push_back(std::move(e));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  static HSZFAXRLOCLMEM* m = static_cast<HSZFAXRLOCLMEM*>(std::malloc(sizeof(HSZFAXRLOCLMEM)));
  fxrInit(m);
  gIbd.clear();
  HSFMSG cmd{};
  cmd.std.header = FAXR_ENABLE_CMD;
  cmd.std.op1 = 1;
  cmd.std.op2 = in.byte() & 3;
  fxrIOctl(m, &cmd, nullptr);
  endRun();
  for (int steps = 0; !in.empty() && steps < 4000; ++steps) {
    switch (in.byte() % 6) {
      case 0:
      case 1:
        networkPacket(in);
        break;
      case 2:
        modemEvent(in);
        break;
      case 3: {  // any state, ECM or not, training check or not
        m->hsxfaxrstate.hsxstate = static_cast<HSEFAXRSTATE>(kStates[in.byte() % (sizeof(kStates) / 2)]);
        const uint8_t flags = in.byte();
        m->hsxintstatus = static_cast<uint16_t>((m->hsxintstatus & ~0x6) | (flags & 0x6));
        m->hsxfaxrregs.hsxlocalrate = static_cast<uint16_t>(in.byte() % 12);
        break;
      }
      default: {
        const int frames = 1 + in.byte() % 8;
        for (int f = 0; f < frames; ++f) {
          fxrEgress(m);
          endRun();
          fxrIngress(m);
          endRun();
        }
        break;
      }
    }
  }
  fxrEgress(m);
  fxrIngress(m);
  endRun();
  cmd.std.op1 = 0;
  fxrIOctl(m, &cmd, nullptr);  // disable: every block comes back
  endRun();
  gIbd.clear();
  if (gBlocksOut != 0) std::abort();
  return 0;
}
