// Internal helpers shared by the pool and heap code.
#pragma once

#include <cstdint>
#include <cstring>

#include "mem.h"

namespace mem_detail {

inline uint8_t* alignUp8(uint8_t* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 7) & ~uintptr_t{7});
}
inline uint8_t* alignDown8(uint8_t* p) {
  return reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t{7});
}
inline size_t roundUp8(size_t n) { return (n + 7) & ~size_t{7}; }

// The end guard of a block: the 16-bit word right after it, which is the debugEndTag slot of the
// next block's header (or the two spare bytes after the last block).
inline uint16_t readEndGuard(const MEM_BlockHdr* hdr, size_t stride) {
  uint16_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(hdr) + stride, sizeof(v));
  return v;
}
inline void writeEndGuard(MEM_BlockHdr* hdr, size_t stride, uint16_t v) {
  std::memcpy(reinterpret_cast<uint8_t*>(hdr) + stride, &v, sizeof(v));
}

}  // namespace mem_detail
