// Received UDPTL datagrams and the IFP packets in them: arbitrary datagrams go through the parser
// into the reorder queue of a small pool; nothing is read outside a datagram, the queue stays
// whole and every block comes back.
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "t38_udptl.h"

// ---- the framework's block pool, as far as the datagram queue uses it ----
namespace {
int gBlocksOut = 0;
constexpr int kPoolBlocks = 64;
MEM_BufPool gPool{};
}  // namespace

void* hsfBmAllocDirect(MEM_BufPool*, size_t size) {
  if (gBlocksOut >= kPoolBlocks) return nullptr;
  auto* raw = static_cast<uint8_t*>(std::calloc(1, MEM_BLOCK_HDR_SIZE + size));
  ++gBlocksOut;
  return raw + MEM_BLOCK_HDR_SIZE;
}
void hsfBmFree(void* data) {
  --gBlocksOut;
  std::free(MEM_HdrOf(data));
}
void MEM_InitQueue(MEM_Queue* q) { *q = MEM_Queue{}; }
void lhapiAssertHandlerVerbose(const char*, int) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  T38ZREORDER rq;
  t38fReorderInit(&rq, &gPool);
  rq.lastoutTimeStamp = in.word();
  while (!in.empty()) {
    const size_t n = in.byte() % 160;
    std::vector<uint8_t> dg(n);
    const size_t got = in.take(dg.data(), n);
    dg.resize(got);  // an exact-size buffer: any read past it is caught
    t38fUDPEgress(&rq, dg.data(), dg.size());
    rq.time = static_cast<uint16_t>(rq.time + 5);
    std::vector<uint8_t> ifp(got);
    std::copy(dg.begin(), dg.end(), ifp.begin());
    t38fIFPcheck(ifp.data(), static_cast<int>(ifp.size()));
  }
  // the queue holds whole records in sequence-number neighbourhoods; empty it
  DG_HDL h;
  for (QMQUEUE* q : {&rq.egressPktq, &rq.drainq})  // with what a resynchronisation left
    while (dg_deq(q, &h)) {
      if (!dg_isValidLength(&h)) std::abort();
      dg_free(dg_QmPeekFront(&h.qhdr));
    }
  if (gBlocksOut != 0) std::abort();
  return 0;
}
