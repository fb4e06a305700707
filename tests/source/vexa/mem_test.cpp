// Pools, heap, queues and scratch of the framework.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "mem/mem.h"
#include "vexa_test_util.h"

namespace {

using vexa_test::AssertCounter;

uint16_t endGuard(const MEM_BlockHdr* hdr) {
  uint16_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(hdr) + hdr->blockSize, sizeof(v));
  return v;
}

// Walks the heap block by block and checks every invariant: blocks tile the area exactly, guards
// match the state, the free list is in address order, holds exactly the free blocks, and no two
// free blocks touch.
struct HeapWalk {
  int freeBlocks = 0;
  int usedBlocks = 0;
  size_t freeBytes = 0;
};

HeapWalk walkHeap(const MEM_Heap& heap) {
  HeapWalk w;
  std::vector<const MEM_BlockHdr*> freeByWalk;
  const uint8_t* p = heap.base;
  bool previousFree = false;
  while (p < heap.base + heap.size) {
    const auto* hdr = reinterpret_cast<const MEM_BlockHdr*>(p);
    EXPECT_GE(hdr->blockSize, MEM_BLOCK_HDR_SIZE);
    EXPECT_EQ(hdr->blockSize % 8, 0u);
    if (hdr->debugStartTag == MEM_HEAP_START_FREE) {
      EXPECT_EQ(endGuard(hdr), MEM_HEAP_END_FREE);
      EXPECT_FALSE(previousFree) << "two adjacent free blocks";
      previousFree = true;
      freeByWalk.push_back(hdr);
      w.freeBlocks += 1;
      w.freeBytes += hdr->blockSize;
    } else {
      EXPECT_EQ(hdr->debugStartTag, MEM_HEAP_START_INUSE);
      EXPECT_EQ(endGuard(hdr), MEM_HEAP_END_INUSE);
      previousFree = false;
      w.usedBlocks += 1;
    }
    if (hdr->blockSize == 0) break;
    p += hdr->blockSize;
  }
  EXPECT_EQ(p, heap.base + heap.size);
  std::vector<const MEM_BlockHdr*> freeByList;
  for (const MEM_BlockHdr* h = heap.freep; h != nullptr && freeByList.size() <= freeByWalk.size();
       h = h->nextp) {
    freeByList.push_back(h);
  }
  EXPECT_EQ(freeByList, freeByWalk);
  return w;
}

class MemTest : public ::testing::Test {
 protected:
  void SetUp() override { lhapiInit(0); }
};

TEST_F(MemTest, PoolsHoldTheStatedBlockCountsWhateverTheAlignment) {
  struct Case {
    uint32_t bufSize;
    size_t count;
  };
  for (const Case c : {Case{sizeof(QRN_SocketMsg), 4050}, Case{1604, 500}, Case{20, 3}}) {
    const size_t memSize = MEM_BufPoolMemSize(c.bufSize, c.count);
    std::vector<uint8_t> memory(memSize + 8);
    for (size_t offset = 0; offset < 8; ++offset) {
      MEM_BufPool pool{};
      EXPECT_EQ(MEM_InitBufPoolNoAdd(&pool, c.bufSize, memory.data() + offset, memSize),
                static_cast<int>(c.count))
          << "bufSize " << c.bufSize << " offset " << offset;
      EXPECT_EQ(pool.numFreeBuf, static_cast<int>(c.count));
      EXPECT_EQ(pool.lowWaterMark, static_cast<int>(c.count));
    }
  }
}

TEST_F(MemTest, PoolBlocksAreDistinctGuardedAndCounted) {
  std::vector<uint8_t> memory(MEM_BufPoolMemSize(24, 4));
  MEM_BufPool pool{};
  ASSERT_EQ(MEM_InitBufPoolNoAdd(&pool, 24, memory.data(), memory.size()), 4);
  std::array<void*, 4> blocks{};
  for (auto& b : blocks) {
    b = MEM_BufPoolAlloc(&pool);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(MEM_HdrOf(b)->debugStartTag, MEM_POOL_START_INUSE);
    std::memset(b, 0x5A, 24);  // the whole usable size, guards untouched
  }
  std::sort(blocks.begin(), blocks.end());
  EXPECT_EQ(std::unique(blocks.begin(), blocks.end()), blocks.end());
  EXPECT_EQ(pool.numFreeBuf, 0);
  EXPECT_EQ(pool.lowWaterMark, 0);
  {
    AssertCounter asserts;  // an empty pool dumps its state and asserts
    EXPECT_EQ(MEM_BufPoolAlloc(&pool), nullptr);
    EXPECT_EQ(asserts.stop(), 1);
    EXPECT_NE(asserts.output().find("BufPool @ "), std::string::npos);
    EXPECT_NE(asserts.output().find(", Alloc"), std::string::npos);
  }
  for (void* b : blocks) MEM_BufPoolFree(&pool, b);
  EXPECT_EQ(pool.numFreeBuf, 4);
  EXPECT_EQ(pool.lowWaterMark, 0);
}

TEST_F(MemTest, DoubleFreeOfAPoolBlockIsRefusedWithoutDamage) {
  // block strides of an odd part times eight, and of a power of two
  for (const uint32_t size : {32u, 64u - static_cast<uint32_t>(MEM_BLOCK_HDR_SIZE)}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> memory(MEM_BufPoolMemSize(size, 3));
    MEM_BufPool pool{};
    ASSERT_EQ(MEM_InitBufPoolNoAdd(&pool, size, memory.data(), memory.size()), 3);
    void* a = MEM_BufPoolAlloc(&pool);
    void* b = MEM_BufPoolAlloc(&pool);
    MEM_BufPoolFree(&pool, a);
    {
      AssertCounter asserts;
      MEM_BufPoolFree(&pool, a);  // second release
      // not a block start: every address between b and the next block's data, aligned or not,
      // with b's data made to look like in-use block headers wherever a header could be read
      std::vector<uint16_t> inUse(size / 2, MEM_POOL_START_INUSE);
      std::memcpy(b, inUse.data(), size);
      const size_t stride = size + MEM_BLOCK_HDR_SIZE;
      for (size_t at = 1; at < stride; ++at) MEM_BufPoolFree(&pool, static_cast<uint8_t*>(b) + at);
      uint8_t outside[64];
      MEM_BufPoolFree(&pool, outside + 40);  // not in the pool
      EXPECT_EQ(asserts.stop(), static_cast<int>(stride) + 1);
    }
    EXPECT_EQ(pool.numFreeBuf, 2);
    // The free list still hands out each free block once.
    void* x = MEM_BufPoolAlloc(&pool);
    void* y = MEM_BufPoolAlloc(&pool);
    EXPECT_NE(x, y);
    EXPECT_NE(x, b);
    EXPECT_NE(y, b);
    EXPECT_EQ(pool.numFreeBuf, 0);
  }
}

TEST_F(MemTest, PoolOverrunIsReportedAndTheBlockStillFreed) {
  std::vector<uint8_t> memory(MEM_BufPoolMemSize(16, 2));
  MEM_BufPool pool{};
  MEM_InitBufPoolNoAdd(&pool, 16, memory.data(), memory.size());
  auto* a = static_cast<uint8_t*>(MEM_BufPoolAlloc(&pool));
  std::memset(a, 0, 18);  // two bytes past the end: the end guard
  AssertCounter asserts;
  MEM_BufPoolFree(&pool, a);
  EXPECT_EQ(asserts.stop(), 1);
  EXPECT_EQ(pool.numFreeBuf, 2);
}

class HeapTest : public MemTest {
 protected:
  void SetUp() override {
    MemTest::SetUp();
    MEM_InitHeap(&heap_, memory_.data() + 3, memory_.size() - 3);
  }
  std::vector<uint8_t> memory_ = std::vector<uint8_t>(4096);
  MEM_Heap heap_{};
};

TEST_F(HeapTest, ThreeAdjacentBlocksCoalesceInEveryOrderOfRelease) {
  std::array<int, 3> order{0, 1, 2};
  do {
    MEM_HeapFreeAll(&heap_);
    std::array<void*, 3> blocks{};
    for (auto& b : blocks) b = MEM_HeapAlloc(&heap_, 100);
    void* guard = MEM_HeapAlloc(&heap_, 8);  // keeps the three away from the free tail
    for (int i : order) {
      MEM_HeapFree(&heap_, blocks[i]);
      walkHeap(heap_);
    }
    HeapWalk w = walkHeap(heap_);
    EXPECT_EQ(w.freeBlocks, 2) << order[0] << order[1] << order[2];
    EXPECT_EQ(w.usedBlocks, 1);
    MEM_HeapFree(&heap_, guard);
    w = walkHeap(heap_);
    EXPECT_EQ(w.freeBlocks, 1);
    EXPECT_EQ(w.freeBytes, heap_.size);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(HeapTest, SplitsOnlyWhenTheRestHoldsMoreThanAHeader) {
  // A free hole of a known size between two used blocks.
  void* hole = MEM_HeapAlloc(&heap_, 200);
  void* fence = MEM_HeapAlloc(&heap_, 8);
  ASSERT_NE(fence, nullptr);
  const uint32_t holeSize = MEM_HdrOf(hole)->blockSize;
  MEM_HeapFree(&heap_, hole);
  // Leaves exactly a header's worth spare: the whole hole is taken.
  void* whole = MEM_HeapAlloc(&heap_, holeSize - 2 * MEM_BLOCK_HDR_SIZE);
  EXPECT_EQ(whole, hole);
  EXPECT_EQ(MEM_HdrOf(whole)->blockSize, holeSize);
  MEM_HeapFree(&heap_, whole);
  // Eight bytes more spare: split.
  void* front = MEM_HeapAlloc(&heap_, holeSize - 2 * MEM_BLOCK_HDR_SIZE - 8);
  EXPECT_EQ(front, hole);
  EXPECT_EQ(MEM_HdrOf(front)->blockSize, holeSize - MEM_BLOCK_HDR_SIZE - 8);
  const HeapWalk w = walkHeap(heap_);
  EXPECT_EQ(w.freeBlocks, 2);
}

TEST_F(HeapTest, FreedMemoryIsRefilledAndDoubleFreeRefused) {
  auto* a = static_cast<uint8_t*>(MEM_HeapAllocClear(&heap_, 64));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a[0], 0);
  void* b = MEM_HeapAlloc(&heap_, 64);
  MEM_HeapFree(&heap_, a);
  EXPECT_EQ(a[10], MEM_FILL_BYTE);
  const HeapWalk before = walkHeap(heap_);
  {
    AssertCounter asserts;
    MEM_HeapFree(&heap_, a);
    uint8_t elsewhere[64];
    MEM_HeapFree(&heap_, elsewhere + 48);
    EXPECT_EQ(asserts.stop(), 2);
  }
  const HeapWalk after = walkHeap(heap_);
  EXPECT_EQ(after.freeBlocks, before.freeBlocks);
  EXPECT_EQ(after.freeBytes, before.freeBytes);
  MEM_HeapFree(&heap_, b);
  EXPECT_EQ(walkHeap(heap_).freeBytes, heap_.size);
  // Too large or zero-sized requests.
  EXPECT_EQ(MEM_HeapAlloc(&heap_, heap_.size), nullptr);
  AssertCounter asserts;
  EXPECT_EQ(MEM_HeapAlloc(&heap_, 0), nullptr);
  EXPECT_EQ(asserts.stop(), 1);
}

TEST_F(HeapTest, RandomAllocateAndFreeKeepsEveryInvariant) {
  std::mt19937 rng(1234);
  std::vector<std::pair<uint8_t*, size_t>> live;
  for (int step = 0; step < 3000; ++step) {
    if (live.empty() || rng() % 100 < 55) {
      const size_t n = 1 + rng() % 300;
      auto* p = static_cast<uint8_t*>(MEM_HeapAlloc(&heap_, n));
      if (p != nullptr) {
        std::memset(p, static_cast<int>(step & 0xFF), n);
        live.emplace_back(p, n);
      }
    } else {
      const size_t i = rng() % live.size();
      MEM_HeapFree(&heap_, live[i].first);
      live.erase(live.begin() + static_cast<long>(i));
    }
    if (step % 50 == 0) {
      const HeapWalk w = walkHeap(heap_);
      ASSERT_EQ(w.usedBlocks, static_cast<int>(live.size()));
    }
  }
  for (auto& [p, n] : live) MEM_HeapFree(&heap_, p);
  const HeapWalk w = walkHeap(heap_);
  EXPECT_EQ(w.freeBlocks, 1);
  EXPECT_EQ(w.freeBytes, heap_.size);
}

TEST_F(MemTest, QueuesKeepOrderCountAndLinks) {
  std::vector<uint8_t> memory(MEM_BufPoolMemSize(8, 5));
  MEM_BufPool pool{};
  MEM_InitBufPoolNoAdd(&pool, 8, memory.data(), memory.size());
  std::array<void*, 5> blocks{};
  for (auto& b : blocks) b = MEM_BufPoolAlloc(&pool);

  MEM_Queue a{}, b{};
  MEM_InitQueue(&a);
  MEM_InitQueue(&b);
  EXPECT_EQ(MEM_QueueDeq(&a), nullptr);
  {
    AssertCounter asserts;
    EXPECT_EQ(MEM_QueueDeqNotEmptyDbg(&a, __FILE__, __LINE__), nullptr);
    EXPECT_EQ(asserts.stop(), 1);
  }
  MEM_QueueEnq(&a, blocks[1]);
  MEM_QueueEnq(&a, blocks[3]);
  MEM_QueueInsertDbg(&a, blocks[0], nullptr, __FILE__, __LINE__);    // at the head
  MEM_QueueInsertDbg(&a, blocks[2], blocks[1], __FILE__, __LINE__);  // in the middle
  MEM_QueueInsertDbg(&a, blocks[4], blocks[3], __FILE__, __LINE__);  // after the tail
  EXPECT_EQ(MEM_QueueCount(&a), 5u);
  EXPECT_EQ(MEM_CheckQueue(&a), 1);
  MEM_QueueEnq(&b, MEM_QueueDeq(&a));
  MEM_QueueMove(&b, &a);
  EXPECT_EQ(MEM_QueueCount(&a), 0u);
  EXPECT_EQ(MEM_CheckQueue(&a), 1);
  EXPECT_EQ(MEM_QueueCount(&b), 5u);
  EXPECT_EQ(MEM_CheckQueue(&b), 1);
  for (void* expected : blocks) EXPECT_EQ(MEM_QueueDeq(&b), expected);
  EXPECT_EQ(b.tailPtr, nullptr);
  // A count that does not match the links is found.
  MEM_QueueEnq(&a, blocks[0]);
  a.count = 2;
  EXPECT_EQ(MEM_CheckQueue(&a), 0);
}

TEST_F(MemTest, ScratchReservesTheLastBytesAndResetsPerRun) {
  std::vector<uint8_t> memory(8192 + 3);
  MEM_Scratch scratch{};
  MEM_InitScratch(&scratch, memory.data() + 3, memory.size() - 3);
  const size_t room = static_cast<size_t>(scratch.endp - scratch.basep);
  EXPECT_EQ(MEM_ScratchAlloc(&scratch, 0), nullptr);
  auto* first = static_cast<uint8_t*>(MEM_ScratchAlloc(&scratch, 5));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 8, 0u);
  auto* second = static_cast<uint8_t*>(MEM_ScratchAllocClear(&scratch, 16));
  EXPECT_EQ(second, first + 8);
  // Leave less than the reserve: only the plain allocator still serves.
  const size_t used = 24;
  const size_t request = room - used - MEM_SCRATCH_RESERVE + 8;
  EXPECT_EQ(MEM_ScratchAllocAdjusted(&scratch, request), nullptr);
  EXPECT_NE(MEM_ScratchAllocAdjusted(&scratch, request - 8), nullptr);
  MEM_ReinitScratch(&scratch);
  EXPECT_EQ(MEM_ScratchAlloc(&scratch, 8), first);
  EXPECT_EQ(MEM_ScratchAlloc(&scratch, room), nullptr);
  EXPECT_NE(MEM_ScratchAlloc(&scratch, room - 8), nullptr);
}

}  // namespace
