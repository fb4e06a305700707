// Fuzz target over the RTP service's receive side: every RTP and RTCP packet the host could hand
// in, under register settings chosen by the input, runs through the service's own parsing with a
// stand-in for the framework calls it makes. Built by clang with libFuzzer and the sanitizers.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rtp.h"
#include "rtp_internal.h"

// ---- the framework as the service sees it ----
namespace {

struct Pending {
  uint32_t mask;
  std::vector<uint8_t> data;
};
std::vector<Pending> gInbound;
std::vector<void*> gScratch;
uint32_t gClock = 0;
uint16_t gRandom = 1;

void* scratch(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  gScratch.push_back(p);
  return p;
}

// A pool block carries its size in front of it so that ASan sees its true bounds.
struct Block {
  Block* next;
};

}  // namespace

int hsfObdSend(const HSFMSG*) { return 1; }
int hsfObdSendStd(uint16_t, uint16_t, uint16_t) { return 1; }
int hsfObdSendExt(uint16_t, uint16_t length, void* bufp) {
  // The receiver reads the bytes: touch them all.
  volatile uint8_t sink = 0;
  for (uint16_t i = 0; i < length; ++i) sink = sink ^ static_cast<const uint8_t*>(bufp)[i];
  return 1;
}
void hsfIbdSendExt(HSF_IBD_MASK, uint16_t, uint16_t length, void* bufp) { hsfObdSendExt(0, length, bufp); }
HSF_IBD_MASK hsfIbdPeekOrRecv(HSF_IBD_MASK mask, HSFMSG* datap, unsigned, int option) {
  for (size_t i = 0; i < gInbound.size(); ++i) {
    if ((gInbound[i].mask & mask) == 0) continue;
    const uint32_t found = gInbound[i].mask;
    void* copy = scratch(gInbound[i].data.size());
    if (!gInbound[i].data.empty()) std::memcpy(copy, gInbound[i].data.data(), gInbound[i].data.size());
    datap->ext.header = 0x3021;
    datap->ext.length = static_cast<uint16_t>(gInbound[i].data.size());
    datap->ext.bufp = copy;
    if (option != HSF_IBD_PEEK) gInbound.erase(gInbound.begin() + static_cast<std::ptrdiff_t>(i));
    return found;
  }
  return 0;
}
uint16_t hsfFrmPeriodGet() { return 80; }
void* hsfMemAllocScratch(size_t size) { return scratch(size); }
void* hsfMemAllocScratchNoAssert(size_t size) { return scratch(size); }
MEM_BufPool* hsfBmInit(void* area, size_t, uint32_t) { return static_cast<MEM_BufPool*>(area); }
void* hsfBmAllocDirect(MEM_BufPool*, size_t size) { return std::malloc(size); }
void hsfBmFree(void* buffer) { std::free(buffer); }
int hsfBmIsPoolEmpty(const MEM_BufPool*) { return 0; }
void MEM_InitQueue(MEM_Queue* q) { *q = MEM_Queue{}; }
namespace {
std::vector<void*> gQueue;
}
void MEM_QueueEnqDbg(MEM_Queue*, void* data, const char*, int) {
  if (gQueue.size() < 8) {
    gQueue.push_back(data);
  } else {
    std::free(data);
  }
}
void* MEM_QueueDeqDbg(MEM_Queue*, const char*, int) {
  if (gQueue.empty()) return nullptr;
  void* p = gQueue.front();
  gQueue.erase(gQueue.begin());
  return p;
}
void hsfQmFlush(QMQUEUE*) {
  for (void* p : gQueue) std::free(p);
  gQueue.clear();
}
void lhapiAssertHandlerVerbose(const char*, int) {}
void lhapiErrorPrint(const char*, ...) {}
uint16_t lhapiRtpRand16() { return gRandom = static_cast<uint16_t>(gRandom * 25173 + 13849); }
int lhapiRtpTimeGet(uint32_t* s, uint32_t* us) {
  *s = gClock / 1000;
  *us = (gClock % 1000) * 1000;
  return 0;
}
void lhapiRtpTimeSet(uint32_t, uint32_t) {}
int lhapiRtpNtpTimeGet(uint32_t* s, uint32_t* us) { return lhapiRtpTimeGet(s, us); }

// ---- the target ----
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RTPSRVINSTANCEMEM* r = static_cast<RTPSRVINSTANCEMEM*>(std::malloc(sizeof(RTPSRVINSTANCEMEM)));
  if (size < 4) return 0;
  rtpSvcInit(r);
  // Settings from the first four bytes: option words and the loopback mode.
  r->regs.configFlags = static_cast<uint16_t>(data[0] << 8 | data[1]);
  r->regs2.configFlags2 = static_cast<uint16_t>(data[2] & 0x7F);
  r->regs.rtpLoopbackConfigFlags = data[3] & 15;
  r->regs.nteEgressPayloadType = 126;
  r->regs.rfc2198EgressPayloadType = 127;
  r->regs.rtcpXrReceiptTimesThinning = data[3] >> 4;
  r->regs.mediaEgressPayloadTypeMap[28] =
      HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(120, 25 + (data[2] >> 7) * 8);
  // Thinning, SDES lengths (up to past the 64-byte limit) and XR blocks from the same bytes.
  r->regs.rtcpXrLossRleThinning = data[1] & 15;
  r->regs.rtcpXrDuplicateRleThinning = data[0] & 15;
  r->regs.cnameLength = data[2];
  r->regs.nameLength = data[3];
  r->regs.noteLength = data[1];
  r->sdesOtherItems = data[1] != 0 ? (1u << 7) : 0;
  r->sdesOtherItemCount = data[1] != 0 ? 1 : 0;
  r->state.mode = 1;
  size_t pos = 4;
  while (pos + 2 <= size) {
    const uint8_t kind = data[pos];
    size_t length = data[pos + 1] | (kind & 0x0F) << 8;
    pos += 2;
    if (length > size - pos) length = size - pos;
    gInbound.push_back(
        Pending{(kind & 0x80) ? 0x1000u : 0x800u, std::vector<uint8_t>(data + pos, data + pos + length)});
    pos += length;
    if (kind & 0x40) {
      gClock += 10;
      rtpEgress(r);
      r->rtcpSendTriggerTimer = 0;  // a report every tick
      rtpIngress(r);
      for (void* p : gScratch) std::free(p);
      gScratch.clear();
    }
  }
  rtpEgress(r);
  rtpIngress(r);
  for (void* p : gScratch) std::free(p);
  gScratch.clear();
  gInbound.clear();
  hsfQmFlush(nullptr);
  return 0;
}
