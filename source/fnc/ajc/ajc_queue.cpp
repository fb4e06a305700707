// The jitter buffer's queue of frame headers and its store of payload slots, both laid out in the
// memory the codec service gives it.
#include <cstring>

#include "ajc.h"
#include "lhapi.h"

void ajcQInit(AJC_Q* qp, AJC_PAYLOADQ* pqp, uint16_t* startp, uint16_t availableSize,
              uint16_t payloadSizeinBytes) {
  const unsigned w = (payloadSizeinBytes + 1u) >> 1;
  const unsigned entryCost = w + 5;
  unsigned n = availableSize / entryCost;
  const unsigned f = (n >> 4) + 1;
  while (n > 0 && entryCost * n + f > availableSize) --n;
  LHAPI_ASSERT(n < AJC_MAX_QUEUED);
  if (n >= AJC_MAX_QUEUED) n = AJC_MAX_QUEUED - 1;

  auto* entries = reinterpret_cast<AJC_PKT_HDR*>(startp);
  qp->startp = entries;
  qp->headp = entries;
  qp->endp = entries + n;
  qp->entrySizeinWords = 5;
  qp->count = 0;
  qp->numEntries = static_cast<uint16_t>(n);
  qp->totalSizeinWords = static_cast<uint16_t>(5 * n);

  uint16_t* freeList = startp + 5 * n;
  pqp->freeListp = freeList;
  pqp->freeListSize = static_cast<uint16_t>((n >> 4) + 1);
  pqp->plStartp = freeList + pqp->freeListSize;
  pqp->numEntry = static_cast<uint16_t>(n);
  pqp->entrySizeInWords = static_cast<uint16_t>(w);
  pqp->plEndp = pqp->plStartp + n * w;
  LHAPI_ASSERT(pqp->plEndp <= startp + availableSize);
  std::memset(pqp->freeListp, 0, pqp->freeListSize * sizeof(uint16_t));
}

namespace {
AJC_PKT_HDR* wrapForward(const AJC_Q* qp, AJC_PKT_HDR* p) { return p + 1 == qp->endp ? qp->startp : p + 1; }
}  // namespace

int ajcEnq(AJC_Q* qp, const AJC_PKT_HDR* entry) {
  if (qp->count >= qp->numEntries) return 0;
  AJC_PKT_HDR* tail = qp->headp + qp->count;
  if (tail >= qp->endp) tail -= qp->numEntries;
  *tail = *entry;
  ++qp->count;
  return 1;
}

void ajcDeq(AJC_Q* qp) {
  if (qp->count == 0) return;
  qp->headp = wrapForward(qp, qp->headp);
  --qp->count;
}

AJC_PKT_HDR* ajcGetTail(AJC_Q* qp) {
  if (qp->count == 0) return nullptr;
  AJC_PKT_HDR* last = qp->headp + (qp->count - 1);
  if (last >= qp->endp) last -= qp->numEntries;
  return last;
}

AJC_PKT_HDR* ajcPeekQLink(AJC_Q* qp, AJC_PKT_HDR* bufp) {
  if (qp->count < 2 || bufp == nullptr || bufp == ajcGetTail(qp)) return nullptr;
  return wrapForward(qp, bufp);
}

uint16_t* ajcSlotPtr(AJC_PAYLOADQ* payloadQp, unsigned slot) {
  return payloadQp->plStartp + slot * payloadQp->entrySizeInWords;
}

void ajcFreeSlot(AJC_PAYLOADQ* payloadQp, unsigned slot) {
  if (slot >= payloadQp->numEntry) return;
  payloadQp->freeListp[slot >> 4] &= static_cast<uint16_t>(~(0x8000u >> (slot & 15)));
}

int searchFreeIndex(AJC_PAYLOADQ* payloadQp) {
  for (unsigned word = 0; word < payloadQp->freeListSize; ++word) {
    const uint16_t bits = payloadQp->freeListp[word];
    if (bits == 0xFFFF) continue;
    for (unsigned b = 0; b < 16; ++b) {
      const unsigned slot = word * 16 + b;
      if (slot >= payloadQp->numEntry) return -1;
      const uint16_t mask = static_cast<uint16_t>(0x8000u >> b);
      if ((bits & mask) == 0) {
        payloadQp->freeListp[word] = static_cast<uint16_t>(bits | mask);
        return static_cast<int>(slot);
      }
    }
  }
  return -1;
}

void decoder_copyPayload(AJC_PAYLOADQ* payloadQp, const AJC_PKT_HDR* packetp, uint16_t* dest,
                         uint16_t lenInWords, int action) {
  const unsigned slot = packetp->flags >> 8;
  if (slot >= payloadQp->numEntry) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (action != 2) {
    if (dest == nullptr || lenInWords > AJC_MAX_COPY_WORDS) {
      LHAPI_ASSERT_FAIL();
    } else {
      // A copy longer than the slot would run into the next slot or past the store.
      const uint16_t* src = ajcSlotPtr(payloadQp, slot);
      const unsigned room = static_cast<unsigned>(payloadQp->plEndp - src);
      const unsigned n = lenInWords <= room ? lenInWords : room;
      LHAPI_ASSERT(lenInWords <= payloadQp->entrySizeInWords);
      std::memcpy(dest, src, n * sizeof(uint16_t));
      if (n < lenInWords) std::memset(dest + n, 0, (lenInWords - n) * sizeof(uint16_t));
    }
  }
  if (action != 0) ajcFreeSlot(payloadQp, slot);
}
