// Bit copying for payload formats that are not octet aligned (AMR framings among them).
#include "hsf.h"

unsigned hsfCopyBits(uint8_t* dst, unsigned dstBitOffset, const uint8_t* src, unsigned srcBitOffset,
                     unsigned bitCount, bool pad) {
  unsigned d = dstBitOffset;
  for (unsigned i = 0; i < bitCount; ++i, ++d) {
    const unsigned s = srcBitOffset + i;
    const unsigned bit = (src[s >> 3] >> (7 - (s & 7))) & 1;
    const uint8_t m = static_cast<uint8_t>(0x80 >> (d & 7));
    dst[d >> 3] = static_cast<uint8_t>(bit ? (dst[d >> 3] | m) : (dst[d >> 3] & ~m));
  }
  unsigned written = bitCount;
  if (pad) {
    while (d & 7) {
      dst[d >> 3] = static_cast<uint8_t>(dst[d >> 3] & ~(0x80 >> (d & 7)));
      ++d;
      ++written;
    }
  }
  return written;
}
