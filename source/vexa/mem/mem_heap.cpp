// First-fit heap with coalescing: free blocks are kept in address order, so a freed block merges
// with the free blocks directly before and after it.
#include <cstring>

#include "lhapi.h"
#include "mem.h"
#include "mem_internal.h"

using namespace mem_detail;

namespace {

bool inHeap(const MEM_Heap* heap, const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return b >= heap->base && b < heap->base + heap->size;
}

uint8_t* endOf(MEM_BlockHdr* hdr) { return reinterpret_cast<uint8_t*>(hdr) + hdr->blockSize; }

}  // namespace

void MEM_InitHeap(MEM_Heap* heap, void* memory, size_t size) {
  if (heap == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (size == 0) {
    *heap = MEM_Heap{};
    return;
  }
  if (memory == nullptr || size < 25 + 16) {
    LHAPI_ASSERT_FAIL();
    *heap = MEM_Heap{};
    return;
  }
  uint8_t* mem = static_cast<uint8_t*>(memory);
  heap->base = alignUp8(mem);
  uint8_t* last = alignDown8(mem + size - 2);
  heap->size = last > heap->base ? static_cast<size_t>(last - heap->base) : 0;
  if (heap->size <= MEM_BLOCK_HDR_SIZE) {
    LHAPI_ASSERT_FAIL();
    *heap = MEM_Heap{};
    return;
  }
  MEM_HeapFreeAll(heap);
}

void MEM_HeapFreeAll(MEM_Heap* heap) {
  if (heap == nullptr || heap->base == nullptr) return;
  LhapiLockGuard lock;
  std::memset(heap->base, MEM_FILL_BYTE, heap->size);
  auto* hdr = reinterpret_cast<MEM_BlockHdr*>(heap->base);
  hdr->debugStartTag = MEM_HEAP_START_FREE;
  hdr->fileName = nullptr;
  hdr->lineNum = 0;
  hdr->nextp = nullptr;
  hdr->blockSize = static_cast<uint32_t>(heap->size);
  writeEndGuard(hdr, hdr->blockSize, MEM_HEAP_END_FREE);
  heap->freep = hdr;
}

void* MEM_HeapAlloc(MEM_Heap* heap, size_t n) {
  if (heap == nullptr || n == 0) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  if (n > heap->size) return nullptr;
  const size_t need = roundUp8(n) + MEM_BLOCK_HDR_SIZE;
  LhapiLockGuard lock;
  MEM_BlockHdr** link = &heap->freep;
  while (*link != nullptr && (*link)->blockSize < need) link = &(*link)->nextp;
  MEM_BlockHdr* hdr = *link;
  if (hdr == nullptr) return nullptr;
  LHAPI_ASSERT(hdr->debugStartTag == MEM_HEAP_START_FREE);
  LHAPI_ASSERT(readEndGuard(hdr, hdr->blockSize) == MEM_HEAP_END_FREE);
  if (hdr->blockSize - need > MEM_BLOCK_HDR_SIZE) {
    // Split: the front is handed out, the rest stays a free block in the same place of the list.
    auto* rest = reinterpret_cast<MEM_BlockHdr*>(reinterpret_cast<uint8_t*>(hdr) + need);
    rest->debugStartTag = MEM_HEAP_START_FREE;
    rest->fileName = nullptr;
    rest->lineNum = 0;
    rest->blockSize = static_cast<uint32_t>(hdr->blockSize - need);
    rest->nextp = hdr->nextp;
    *link = rest;
    hdr->blockSize = static_cast<uint32_t>(need);
  } else {
    *link = hdr->nextp;
  }
  hdr->nextp = nullptr;
  hdr->debugStartTag = MEM_HEAP_START_INUSE;
  writeEndGuard(hdr, hdr->blockSize, MEM_HEAP_END_INUSE);
  return MEM_DataOf(hdr);
}

void* MEM_HeapAllocClear(MEM_Heap* heap, size_t n) {
  void* data = MEM_HeapAlloc(heap, n);
  if (data != nullptr) std::memset(data, 0, MEM_HdrOf(data)->blockSize - MEM_BLOCK_HDR_SIZE);
  return data;
}

void MEM_HeapFree(MEM_Heap* heap, void* data) {
  if (heap == nullptr || data == nullptr || heap->base == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  LhapiLockGuard lock;
  MEM_BlockHdr* hdr = MEM_HdrOf(data);
  if (!inHeap(heap, hdr) || (reinterpret_cast<uintptr_t>(hdr) & 7) != 0) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (hdr->debugStartTag != MEM_HEAP_START_INUSE || hdr->blockSize < MEM_BLOCK_HDR_SIZE ||
      endOf(hdr) > heap->base + heap->size ||
      readEndGuard(hdr, hdr->blockSize) != MEM_HEAP_END_INUSE) {
    // Already free or damaged: linking it into the free list again would corrupt the heap.
    LHAPI_ASSERT_FAIL();
    return;
  }
  hdr->debugStartTag = MEM_HEAP_START_FREE;
  hdr->fileName = nullptr;
  hdr->lineNum = 0;
  std::memset(data, MEM_FILL_BYTE, hdr->blockSize - MEM_BLOCK_HDR_SIZE);
  writeEndGuard(hdr, hdr->blockSize, MEM_HEAP_END_FREE);

  MEM_BlockHdr* prev = nullptr;
  MEM_BlockHdr* next = heap->freep;
  while (next != nullptr && next < hdr) {
    prev = next;
    next = next->nextp;
  }
  hdr->nextp = next;
  if (prev != nullptr) {
    prev->nextp = hdr;
  } else {
    heap->freep = hdr;
  }
  if (next != nullptr && endOf(hdr) == reinterpret_cast<uint8_t*>(next)) {
    hdr->blockSize += next->blockSize;
    hdr->nextp = next->nextp;
    std::memset(next, MEM_FILL_BYTE, MEM_BLOCK_HDR_SIZE);
    writeEndGuard(hdr, hdr->blockSize, MEM_HEAP_END_FREE);
  }
  if (prev != nullptr && endOf(prev) == reinterpret_cast<uint8_t*>(hdr)) {
    prev->blockSize += hdr->blockSize;
    prev->nextp = hdr->nextp;
    std::memset(hdr, MEM_FILL_BYTE, MEM_BLOCK_HDR_SIZE);
    writeEndGuard(prev, prev->blockSize, MEM_HEAP_END_FREE);
  }
}
