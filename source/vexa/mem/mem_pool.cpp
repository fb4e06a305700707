// Fixed-size block pools.
#include <climits>
#include <cstring>

#include "lhapi.h"
#include "mem.h"
#include "mem_internal.h"
#include "knl/knl.h"

using namespace mem_detail;

MEM_BufPool* MEM_gBufPoolList = nullptr;

namespace {

size_t poolStride(const MEM_BufPool* pool) { return roundUp8(pool->bufSize) + MEM_BLOCK_HDR_SIZE; }

// The inverse modulo 2^32 of an odd number: d * d is 1 modulo 8, and each Newton step doubles the
// correct low bits (3, 6, 12, 24, 48).
constexpr uint32_t inverseOfOdd(uint32_t d) {
  uint32_t x = d;
  for (int i = 0; i < 4; ++i) x *= 2 - d * x;
  return x;
}
static_assert(inverseOfOdd(9) * 9u == 1 && inverseOfOdd(0xFFFFFFFFu) * 0xFFFFFFFFu == 1);

uint32_t strideOddInverseOf(size_t stride) {
  if (stride == 0 || stride > UINT32_MAX) return 0;
  return inverseOfOdd(static_cast<uint32_t>(stride >> __builtin_ctzll(stride)));
}

// Whether `offset` is a whole number of block strides. With the stride an odd part times 2^k, an
// offset of k low zero bits gives back its quotient by the odd part when multiplied by the
// inverse, exactly when there is one: the quotient times the odd part is then the offset again.
bool isWholeStrides(const MEM_BufPool* pool, size_t offset) {
  const size_t stride = poolStride(pool);
  if (pool->strideOddInverse == 0 || offset > UINT32_MAX) return offset % stride == 0;
  const int k = __builtin_ctzll(stride);
  if ((offset & ((size_t{1} << k) - 1)) != 0) return false;
  const auto n = static_cast<uint32_t>(offset >> k);
  const uint32_t quotient = n * pool->strideOddInverse;
  return uint64_t{quotient} * (stride >> k) == n;
}

// The header of the pool block whose data starts at `data`, or none when the address is not the
// data start of one of the pool's blocks.
MEM_BlockHdr* poolBlockOf(const MEM_BufPool* pool, const void* data) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (p < pool->startp + MEM_BLOCK_HDR_SIZE || p >= pool->endp) return nullptr;
  const size_t offset = static_cast<size_t>(p - MEM_BLOCK_HDR_SIZE - pool->startp);
  if (!isWholeStrides(pool, offset)) return nullptr;
  return MEM_HdrOf(data);
}

// A pool runs dry under a flood from outside, refusing allocation after allocation: its state is
// dumped when that starts, and the refusals are counted until it serves again. A flood that lets
// the pool recover between datagrams would start a new dry spell every few frames, and it runs
// several pools dry at once (a fax call's T.38 and fax relay pools), each dump a line per block
// (at most MEM_POOL_DRY_DUMP_BLOCKS of them); so a spell is reported only when the last report of
// any pool is at least MEM_POOL_DRY_REPORT_FRAMES old. Each pool counts the spells in between and
// sums them up with its next report.
struct DryReportClock {
  bool everReported = false;
  uint32_t lastReportFrame = 0;
};
DryReportClock gDryReports;  // under the lhapi lock: it is taken here for pools used without it

// The pool's state and a line for each of its first `maxBlocks` blocks; the blocks past them are
// counted in one line.
void poolDump(MEM_BufPool* pool, int maxBlocks) {
  if (pool == nullptr) return;
  lhapiErrorPrint("BufPool @ %p, # free = %d, lowWater = %d, size = %d, Free = %p\n",
                  static_cast<void*>(pool), pool->numFreeBuf, pool->lowWaterMark,
                  static_cast<int>(pool->bufSize), static_cast<void*>(pool->core.freep));
  const size_t stride = poolStride(pool);
  int listed = 0, unlisted = 0;
  for (uint8_t* p = pool->startp; p + stride < pool->endp; p += stride) {
    if (listed == maxBlocks) {
      unlisted += 1;
      continue;
    }
    listed += 1;
    auto* hdr = reinterpret_cast<MEM_BlockHdr*>(p);
    const char* state = hdr->debugStartTag == MEM_POOL_START_FREE    ? ", Free "
                        : hdr->debugStartTag == MEM_POOL_START_INUSE ? ", Alloc"
                                                                     : ", *****";
    if (hdr->fileName != nullptr) {
      lhapiErrorPrint("  Hdr @ %p, Data @ %p%s, %s@%d, nextp = %p\n", static_cast<void*>(hdr),
                      MEM_DataOf(hdr), state, hdr->fileName, hdr->lineNum,
                      static_cast<void*>(hdr->nextp));
    } else {
      lhapiErrorPrint("  Hdr @ %p, Data @ %p%s, nextp = %p\n", static_cast<void*>(hdr),
                      MEM_DataOf(hdr), state, static_cast<void*>(hdr->nextp));
    }
  }
  if (unlisted > 0) lhapiErrorPrint("  ... and %d more blocks not listed\n", unlisted);
}

void poolDryStarts(MEM_BufPool* pool) {
  LhapiLockGuard lock;  // the lock is recursive: a caller may hold it already
  const uint32_t now = KNL_gGlobals.frameSyncCount;
  pool->dryReported =
      !gDryReports.everReported || now - gDryReports.lastReportFrame >= MEM_POOL_DRY_REPORT_FRAMES;
  if (!pool->dryReported) return;
  gDryReports.everReported = true;
  gDryReports.lastReportFrame = now;
  if (pool->quietSpells > 0) {
    lhapiErrorPrint("BufPool @ %p ran dry %u more times (%u allocations refused) since its last "
                    "report\n",
                    static_cast<void*>(pool), pool->quietSpells, pool->quietRefusals);
    pool->quietSpells = 0;
    pool->quietRefusals = 0;
  }
  poolDump(pool, MEM_POOL_DRY_DUMP_BLOCKS);
  LHAPI_ASSERT_FAIL();
}

void poolDryEnds(MEM_BufPool* pool) {
  LhapiLockGuard lock;
  if (pool->dryReported) {
    lhapiErrorPrint("BufPool @ %p serves again after refusing %d allocations\n",
                    static_cast<void*>(pool), pool->failedAllocs);
  } else {
    pool->quietSpells += 1;
    pool->quietRefusals += static_cast<uint32_t>(pool->failedAllocs);
  }
  pool->failedAllocs = 0;
}

}  // namespace

int MEM_InitBufPoolNoAdd(MEM_BufPool* pool, uint32_t bufSize, void* memory, size_t memSize) {
  if (pool == nullptr || bufSize == 0 || memory == nullptr || memSize < 2) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  uint8_t* mem = static_cast<uint8_t*>(memory);
  std::memset(mem, MEM_FILL_BYTE, memSize - 2);
  pool->bufSize = bufSize;
  const size_t stride = poolStride(pool);
  pool->strideOddInverse = strideOddInverseOf(stride);
  uint8_t* first = alignUp8(mem);
  uint8_t* last = alignDown8(mem + memSize - 2);
  const size_t count = last > first ? static_cast<size_t>(last - first) / stride : 0;
  pool->core.freep = nullptr;
  pool->startp = first;
  pool->endp = alignDown8(mem + memSize);
  pool->pNextBufPool = nullptr;
  if (count == 0) LHAPI_ASSERT_FAIL();
  // The free list runs from the last block in memory to the first.
  for (size_t i = 0; i < count; ++i) {
    auto* hdr = reinterpret_cast<MEM_BlockHdr*>(first + i * stride);
    hdr->debugStartTag = MEM_POOL_START_FREE;
    hdr->fileName = nullptr;
    hdr->lineNum = 0;
    hdr->blockSize = static_cast<uint32_t>(stride);
    hdr->nextp = pool->core.freep;
    writeEndGuard(hdr, stride, MEM_POOL_END_FREE);
    pool->core.freep = hdr;
  }
  pool->numFreeBuf = static_cast<int>(count);
  pool->lowWaterMark = static_cast<int>(count);
  pool->failedAllocs = 0;
  pool->dryReported = false;
  pool->quietSpells = 0;
  pool->quietRefusals = 0;
  return static_cast<int>(count);
}

int MEM_InitBufPool(MEM_BufPool* pool, uint32_t bufSize, void* memory, size_t memSize) {
  const int count = MEM_InitBufPoolNoAdd(pool, bufSize, memory, memSize);
  if (pool != nullptr) {
    LhapiLockGuard lock;
    pool->pNextBufPool = MEM_gBufPoolList;
    MEM_gBufPoolList = pool;
  }
  return count;
}

void MEM_TermBufPool(MEM_BufPool* pool) {
  LhapiLockGuard lock;
  for (MEM_BufPool** link = &MEM_gBufPoolList; *link != nullptr; link = &(*link)->pNextBufPool) {
    if (*link == pool) {
      *link = pool->pNextBufPool;
      pool->pNextBufPool = nullptr;
      return;
    }
  }
}

MEM_BufPool* MEM_FindBufPool(const void* data) {
  for (MEM_BufPool* pool = MEM_gBufPoolList; pool != nullptr; pool = pool->pNextBufPool) {
    if (MEM_BufPoolHolds(pool, data)) return pool;
  }
  return nullptr;
}

void* MEM_BufPoolAlloc_UnprotectedDbg(MEM_BufPool* pool, const char* file, int line) {
  if (pool == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  MEM_BlockHdr* hdr = pool->core.freep;
  if (hdr == nullptr) {
    if (pool->failedAllocs++ == 0) poolDryStarts(pool);
    return nullptr;
  }
  if (pool->failedAllocs > 0) poolDryEnds(pool);
  const size_t stride = poolStride(pool);
  LHAPI_ASSERT(hdr->debugStartTag == MEM_POOL_START_FREE);
  LHAPI_ASSERT(readEndGuard(hdr, stride) == MEM_POOL_END_FREE);
  hdr->debugStartTag = MEM_POOL_START_INUSE;
  writeEndGuard(hdr, stride, MEM_POOL_END_INUSE);
  pool->core.freep = hdr->nextp;
  hdr->nextp = nullptr;
  hdr->fileName = file;
  hdr->lineNum = line;
  pool->numFreeBuf -= 1;
  if (pool->numFreeBuf < pool->lowWaterMark) pool->lowWaterMark = pool->numFreeBuf;
  return MEM_DataOf(hdr);
}

void* MEM_BufPoolAllocDbg(MEM_BufPool* pool, const char* file, int line) {
  LhapiLockGuard lock;
  return MEM_BufPoolAlloc_UnprotectedDbg(pool, file, line);
}

void* MEM_BufPoolAllocClearDbg(MEM_BufPool* pool, const char* file, int line) {
  void* data = MEM_BufPoolAllocDbg(pool, file, line);
  if (data != nullptr) std::memset(data, 0, pool->bufSize);
  return data;
}

bool MEM_BufPoolServes(const MEM_BufPool* pool) {
  return pool != nullptr && pool->core.freep != nullptr && pool->failedAllocs == 0;
}

void MEM_BufPoolNoteBriefUse(MEM_BufPool* pool) {
  if (pool->numFreeBuf - 1 < pool->lowWaterMark) pool->lowWaterMark = pool->numFreeBuf - 1;
}

void MEM_BufPoolFree_Unprotected(MEM_BufPool* pool, void* data) {
  if (data == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (pool == nullptr) pool = MEM_FindBufPool(data);
  if (pool == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  MEM_BlockHdr* hdr = poolBlockOf(pool, data);
  if (hdr == nullptr) {
    LHAPI_ASSERT_FAIL();  // not the data start of one of this pool's blocks
    return;
  }
  if (hdr->debugStartTag != MEM_POOL_START_INUSE) {
    // Already free (a double free) or overwritten: putting it on the free list again would hand
    // the same block out twice.
    LHAPI_ASSERT_FAIL();
    return;
  }
  const size_t stride = poolStride(pool);
  LHAPI_ASSERT(readEndGuard(hdr, stride) == MEM_POOL_END_INUSE);
  hdr->debugStartTag = MEM_POOL_START_FREE;
  writeEndGuard(hdr, stride, MEM_POOL_END_FREE);
  hdr->fileName = nullptr;
  hdr->lineNum = 0;
  hdr->nextp = pool->core.freep;
  pool->core.freep = hdr;
  pool->numFreeBuf += 1;
}

void MEM_BufPoolFree(MEM_BufPool* pool, void* data) {
  LhapiLockGuard lock;
  MEM_BufPoolFree_Unprotected(pool, data);
}

void MEM_BufPoolDump(MEM_BufPool* pool) { poolDump(pool, INT_MAX); }
