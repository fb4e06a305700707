// Memory of the DSP framework: fixed-size block pools, the first-fit heap, intrusive block queues
// and the per-run scratch area. Every pool and heap block carries a header with guard tags in front
// of its data, so that overruns and double frees are caught instead of corrupting the free lists.
// Names ending in _Unprotected expect the caller to hold the framework lock; the others take it.
#pragma once

#include <cstddef>
#include <cstdint>

struct MEM_BlockHdr_s {
  uint16_t debugEndTag;    // end guard of the block that precedes this one in memory
  uint16_t debugStartTag;  // this block's start guard
  const char* fileName;    // where the block was last allocated, queued or dequeued
  int32_t lineNum;
  MEM_BlockHdr_s* nextp;   // free-list or queue link
  uint32_t blockSize;      // bytes including this header
};
using MEM_BlockHdr = MEM_BlockHdr_s;

// Bytes from the start of a block header to its data.
constexpr size_t MEM_BLOCK_HDR_SIZE = (sizeof(MEM_BlockHdr) + 7) & ~size_t{7};
// The header size of the original 32-bit layout; areas sized in the original's terms grow by the
// difference for every block they hold.
constexpr size_t MEM_BLOCK_HDR_SIZE_32 = 24;
constexpr size_t MEM_BLOCK_HDR_GROWTH = MEM_BLOCK_HDR_SIZE - MEM_BLOCK_HDR_SIZE_32;

constexpr uint16_t MEM_POOL_START_FREE = 0xBBFB;
constexpr uint16_t MEM_POOL_START_INUSE = 0xBBAB;
constexpr uint16_t MEM_POOL_END_FREE = 0xBBFE;
constexpr uint16_t MEM_POOL_END_INUSE = 0xBBAE;
constexpr uint16_t MEM_HEAP_START_FREE = 0xEAFB;
constexpr uint16_t MEM_HEAP_START_INUSE = 0xEAAB;
constexpr uint16_t MEM_HEAP_END_FREE = 0xEAFE;
constexpr uint16_t MEM_HEAP_END_INUSE = 0xEAAE;
constexpr uint8_t MEM_FILL_BYTE = 0xEE;
constexpr uint8_t MEM_SCRATCH_FILL_BYTE = 0xDD;

// ---- buffer pools ----
struct MEM_BufPoolCore {
  MEM_BlockHdr* freep;
};

struct MEM_BufPool_s {
  MEM_BufPoolCore core;
  int numFreeBuf;
  int lowWaterMark;    // the smallest numFreeBuf seen
  uint8_t* startp;     // first block header
  uint8_t* endp;       // end of the pool's memory
  uint32_t bufSize;    // bytes a caller may use in each block
  int failedAllocs;    // allocations refused since the pool last ran dry; 0 while it serves
  // A flood can run pools dry many times a second: only one dry spell of any pool per report
  // interval is reported (dumped); the others are counted and summed up in the pool's next report.
  bool dryReported;         // the current dry spell was reported
  uint32_t quietSpells;     // dry spells since the last report that were not reported
  uint32_t quietRefusals;   // allocations refused in those spells
  // The inverse modulo 2^32 of the block stride's odd part, which tells a block start from any
  // other address with a multiply instead of a division on every free; 0 where the pool was not
  // set up by MEM_InitBufPoolNoAdd (then the division serves).
  uint32_t strideOddInverse;
  MEM_BufPool_s* pNextBufPool;
};
using MEM_BufPool = MEM_BufPool_s;
// The inverse sits in what was padding: service records size their pool areas by this record.
static_assert(sizeof(void*) != 8 || sizeof(MEM_BufPool) == 64);

extern MEM_BufPool* MEM_gBufPoolList;

// Frames (5 ms) between two reports of pools that run dry: 10 s.
constexpr uint32_t MEM_POOL_DRY_REPORT_FRAMES = 2000;

// Blocks a dry-spell report lists (a line each); a larger pool's rest is summed up in one line,
// so that one report stays well inside what the log may take in a second under a flood.
constexpr int MEM_POOL_DRY_DUMP_BLOCKS = 32;

// Bytes of pool memory that hold exactly `count` blocks of `bufSize` usable bytes, with the same
// slack for alignment as the framework's own pools.
constexpr size_t MEM_BufPoolMemSize(size_t bufSize, size_t count) {
  return count * (((bufSize + 7) & ~size_t{7}) + MEM_BLOCK_HDR_SIZE) + 31;
}

int MEM_InitBufPoolNoAdd(MEM_BufPool* pool, uint32_t bufSize, void* memory, size_t memSize);
int MEM_InitBufPool(MEM_BufPool* pool, uint32_t bufSize, void* memory, size_t memSize);
void MEM_TermBufPool(MEM_BufPool* pool);
void* MEM_BufPoolAllocDbg(MEM_BufPool* pool, const char* file, int line);
void* MEM_BufPoolAlloc_UnprotectedDbg(MEM_BufPool* pool, const char* file, int line);
void* MEM_BufPoolAllocClearDbg(MEM_BufPool* pool, const char* file, int line);
void MEM_BufPoolFree(MEM_BufPool* pool, void* data);
void MEM_BufPoolFree_Unprotected(MEM_BufPool* pool, void* data);
void MEM_BufPoolDump(MEM_BufPool* pool);
// Whether an allocation from the pool would be served at once, with no dry spell to end.
bool MEM_BufPoolServes(const MEM_BufPool* pool);
// Accounts for a block taken and given straight back without taking it: the free count is as
// before and the low-water mark is where the allocation would have put it. For a pool that
// MEM_BufPoolServes only.
void MEM_BufPoolNoteBriefUse(MEM_BufPool* pool);
// Whether the pool's memory holds the address.
inline bool MEM_BufPoolHolds(const MEM_BufPool* pool, const void* data) {
  const auto* p = static_cast<const uint8_t*>(data);
  return p >= pool->startp && p < pool->endp;
}
// The pool of MEM_gBufPoolList whose memory holds the address, or none.
MEM_BufPool* MEM_FindBufPool(const void* data);

#define MEM_BufPoolAlloc(pool) MEM_BufPoolAllocDbg((pool), __FILE__, __LINE__)
#define MEM_BufPoolAlloc_Unprotected(pool) MEM_BufPoolAlloc_UnprotectedDbg((pool), __FILE__, __LINE__)
#define MEM_BufPoolAllocClear(pool) MEM_BufPoolAllocClearDbg((pool), __FILE__, __LINE__)

// ---- heap ----
struct MEM_Heap {
  uint8_t* base;
  size_t size;
  MEM_BlockHdr* freep;  // free blocks in address order
};

void MEM_InitHeap(MEM_Heap* heap, void* memory, size_t size);
void MEM_HeapFreeAll(MEM_Heap* heap);
void* MEM_HeapAlloc(MEM_Heap* heap, size_t size);
void* MEM_HeapAllocClear(MEM_Heap* heap, size_t size);
void MEM_HeapFree(MEM_Heap* heap, void* data);

// ---- queues ----
struct MEM_Queue {
  MEM_BlockHdr* headPtr;
  MEM_BlockHdr* tailPtr;
  uint32_t count;
};
using QMQUEUE = MEM_Queue;

void MEM_InitQueue(MEM_Queue* queue);
void MEM_QueueEnqDbg(MEM_Queue* queue, void* data, const char* file, int line);
void MEM_QueueEnq_UnprotectedDbg(MEM_Queue* queue, void* data, const char* file, int line);
void* MEM_QueueDeqDbg(MEM_Queue* queue, const char* file, int line);
void* MEM_QueueDeq_UnprotectedDbg(MEM_Queue* queue, const char* file, int line);
void* MEM_QueueDeqNotEmptyDbg(MEM_Queue* queue, const char* file, int line);
void* MEM_QueueDeqNotEmpty_UnprotectedDbg(MEM_Queue* queue, const char* file, int line);
void MEM_QueueMove(MEM_Queue* destination, MEM_Queue* source);
void MEM_QueueMove_Unprotected(MEM_Queue* destination, MEM_Queue* source);
void MEM_QueueMoveNotEmpty_Unprotected(MEM_Queue* destination, MEM_Queue* source);
void MEM_QueueInsertDbg(MEM_Queue* queue, void* data, void* after, const char* file, int line);
void MEM_QueueInsert_UnprotectedDbg(MEM_Queue* queue, void* data, void* after, const char* file,
                                    int line);
uint32_t MEM_QueueCount(const MEM_Queue* queue);
int MEM_CheckQueue(const MEM_Queue* queue);
// Data of the element that follows `data` in its queue (none at the tail); for walking a queue.
void* MEM_QueueNext(const void* data);
void* MEM_QueueHead(const MEM_Queue* queue);

#define MEM_QueueEnq(q, d) MEM_QueueEnqDbg((q), (d), __FILE__, __LINE__)
#define MEM_QueueEnq_Unprotected(q, d) MEM_QueueEnq_UnprotectedDbg((q), (d), __FILE__, __LINE__)
#define MEM_QueueDeq(q) MEM_QueueDeqDbg((q), __FILE__, __LINE__)
#define MEM_QueueDeq_Unprotected(q) MEM_QueueDeq_UnprotectedDbg((q), __FILE__, __LINE__)

// ---- scratch ----
struct MEM_Scratch {
  uint8_t* basep;
  uint8_t* endp;
  uint8_t* currp;
};

constexpr size_t MEM_SCRATCH_RESERVE = 2048;

void MEM_InitScratch(MEM_Scratch* scratch, void* memory, size_t size);
void* MEM_ScratchAlloc(MEM_Scratch* scratch, size_t size);
void* MEM_ScratchAllocClear(MEM_Scratch* scratch, size_t size);
void* MEM_ScratchAllocAdjusted(MEM_Scratch* scratch, size_t size);
void MEM_ReinitScratch(MEM_Scratch* scratch);

// Header of the block whose data starts at `data`.
inline MEM_BlockHdr* MEM_HdrOf(const void* data) {
  return reinterpret_cast<MEM_BlockHdr*>(const_cast<uint8_t*>(static_cast<const uint8_t*>(data)) -
                                         MEM_BLOCK_HDR_SIZE);
}
inline void* MEM_DataOf(MEM_BlockHdr* hdr) {
  return reinterpret_cast<uint8_t*>(hdr) + MEM_BLOCK_HDR_SIZE;
}
