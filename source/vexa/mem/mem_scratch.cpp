// Per-run scratch area: a pointer bump reset at the start of every thread run.
#include <cstring>

#include "lhapi.h"
#include "mem.h"
#include "mem_internal.h"

using namespace mem_detail;

void MEM_InitScratch(MEM_Scratch* scratch, void* memory, size_t size) {
  if (scratch == nullptr) return;
  if (memory == nullptr) {
    if (size != 0) LHAPI_ASSERT_FAIL();
    *scratch = MEM_Scratch{};
    return;
  }
  uint8_t* mem = static_cast<uint8_t*>(memory);
  scratch->basep = alignUp8(mem);
  scratch->endp = alignDown8(mem + size);
  if (scratch->endp < scratch->basep) scratch->endp = scratch->basep;
  scratch->currp = scratch->basep;
}

namespace {
void* scratchTake(MEM_Scratch* scratch, size_t n, size_t reserve) {
  if (scratch == nullptr || n == 0 || scratch->currp == nullptr) return nullptr;
  const size_t room = static_cast<size_t>(scratch->endp - scratch->currp);
  const size_t step = roundUp8(n);
  if (step > room || room - step < reserve) return nullptr;
  void* p = scratch->currp;
  scratch->currp += step;
  return p;
}
}  // namespace

void* MEM_ScratchAlloc(MEM_Scratch* scratch, size_t n) { return scratchTake(scratch, n, 0); }

void* MEM_ScratchAllocClear(MEM_Scratch* scratch, size_t n) {
  void* p = scratchTake(scratch, n, 0);
  if (p != nullptr) std::memset(p, 0, n);
  return p;
}

void* MEM_ScratchAllocAdjusted(MEM_Scratch* scratch, size_t n) {
  return scratchTake(scratch, n, MEM_SCRATCH_RESERVE);
}

void MEM_ReinitScratch(MEM_Scratch* scratch) {
  if (scratch != nullptr) scratch->currp = scratch->basep;
}
