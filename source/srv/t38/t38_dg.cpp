// Datagram queue: records of 16-bit words in chains of pool blocks.
#include "t38_dg.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "lhapi.h"

namespace {

constexpr uint16_t kDataSize = DG_BLOCK_BYTES / 2 - 1;  // 39 words after the length word

MEM_BlockHdr* hdrOf(DG_DTGM* b) { return MEM_HdrOf(b); }
DG_DTGM* dataOf(MEM_BlockHdr* h) { return h != nullptr ? static_cast<DG_DTGM*>(MEM_DataOf(h)) : nullptr; }
uint16_t* words(DG_DTGM* b) { return reinterpret_cast<uint16_t*>(b) + 1; }

DG_DTGM* newBlock(MEM_BufPool* pool) {
  auto* b = static_cast<DG_DTGM*>(hsfBmAllocDirect(pool, DG_BLOCK_BYTES));
  if (b != nullptr) b->len = 0;
  return b;
}

void append(QMQUEUE* q, DG_DTGM* b) {
  MEM_BlockHdr* h = hdrOf(b);
  h->nextp = nullptr;
  if (q->tailPtr != nullptr)
    q->tailPtr->nextp = h;
  else
    q->headPtr = h;
  q->tailPtr = h;
  ++q->count;
}

// The last block of the record starting at `b` (its continuation blocks follow it).
MEM_BlockHdr* lastBlockOf(DG_DTGM* b) {
  MEM_BlockHdr* h = hdrOf(b);
  for (int i = 1; i < dg_blocksFor(b->len, kDataSize) && h->nextp != nullptr; ++i) h = h->nextp;
  return h;
}

bool valid(const DG_HDL* hdl) {
  if (hdl == nullptr || hdl->magic != DG_MAGIC || hdl->qhdr.headPtr == nullptr) {
    LHAPI_ASSERT_FAIL();
    return false;
  }
  return true;
}

DG_DTGM* first(const DG_HDL* hdl) { return dataOf(hdl->qhdr.headPtr); }

void clearHandle(DG_HDL* hdl) {
  MEM_InitQueue(&hdl->qhdr);
  hdl->wp = hdl->rp = nullptr;
  hdl->rdgp = nullptr;
}

}  // namespace

DG_DTGM* dg_init(MEM_BufPool* pool, DG_HDL* hdl, DG_DTGM* existing) {
  if (hdl == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  clearHandle(hdl);
  hdl->heapId = pool;
  hdl->dgDataSize = kDataSize;
  if (existing == nullptr) {
    DG_DTGM* b = newBlock(pool);
    if (b == nullptr) return nullptr;
    append(&hdl->qhdr, b);
  } else {
    const int blocks = dg_blocksFor(existing->len, kDataSize);
    if (blocks > DG_MAX_BLOCKS) LHAPI_ASSERT_FAIL();
    MEM_BlockHdr* h = hdrOf(existing);
    for (int i = 0; i < blocks && h != nullptr; ++i) {
      MEM_BlockHdr* next = h->nextp;
      append(&hdl->qhdr, dataOf(h));
      h = next;
    }
  }
  initHdl(hdl);
  return first(hdl);
}

void initHdl(DG_HDL* hdl) {
  DG_DTGM* f = dataOf(hdl->qhdr.headPtr);
  hdl->dgDataSize = kDataSize;
  hdl->magic = DG_MAGIC;
  if (f == nullptr) return;
  hdl->rdgp = f;
  hdl->rp = words(f);
  DG_DTGM* last = dataOf(hdl->qhdr.tailPtr);
  hdl->wp = words(last) + f->len % kDataSize;
}

bool dg_isValidLength(const DG_HDL* hdl) {
  if (!valid(hdl)) return false;
  return static_cast<uint32_t>(dg_blocksFor(first(hdl)->len, hdl->dgDataSize)) == hdl->qhdr.count;
}

uint16_t dg_write(DG_HDL* hdl, const uint16_t* src, uint16_t n) {
  if (!valid(hdl) || src == nullptr) return 0;
  DG_DTGM* f = first(hdl);
  uint16_t written = 0;
  while (written < n) {
    DG_DTGM* last = dataOf(hdl->qhdr.tailPtr);
    if (hdl->wp >= words(last) + hdl->dgDataSize) {
      if (hdl->qhdr.count >= DG_MAX_BLOCKS) {
        LHAPI_ASSERT_FAIL();
        break;
      }
      DG_DTGM* b = newBlock(hdl->heapId);
      if (b == nullptr) break;  // the pool ran dry: the record stops short
      append(&hdl->qhdr, b);
      hdl->wp = words(b);
      continue;
    }
    // as much as the block holds at once
    const uint16_t room = static_cast<uint16_t>(words(last) + hdl->dgDataSize - hdl->wp);
    const uint16_t k = static_cast<uint16_t>(n - written < room ? n - written : room);
    std::memcpy(hdl->wp, src + written, k * sizeof(uint16_t));
    hdl->wp += k;
    written = static_cast<uint16_t>(written + k);
    f->len = static_cast<uint16_t>(f->len + k);
    if (hdl->wp >= words(last) + hdl->dgDataSize && hdl->qhdr.count < DG_MAX_BLOCKS) {
      // a full block is always followed by one more, possibly empty
      if (DG_DTGM* b = newBlock(hdl->heapId)) {
        append(&hdl->qhdr, b);
        hdl->wp = words(b);
      }
    }
  }
  return written;
}

uint16_t dg_readShiftLeft(uint16_t* dst, DG_HDL* hdl, uint16_t n, uint16_t carry, int16_t shift) {
  if (!valid(hdl) || dst == nullptr) return 0;
  if (shift < 0) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  uint16_t got = 0;
  while (got < n && hdl->rp != hdl->wp) {
    if (hdl->rp >= words(hdl->rdgp) + hdl->dgDataSize) {
      MEM_BlockHdr* next = hdrOf(hdl->rdgp)->nextp;
      if (next == nullptr) break;
      hdl->rdgp = dataOf(next);
      hdl->rp = words(hdl->rdgp);
      continue;
    }
    // the words up to the block's end, the write position or the count, whichever comes first
    const uint16_t* end = words(hdl->rdgp) + hdl->dgDataSize;
    const auto at = [](const uint16_t* p) { return reinterpret_cast<uintptr_t>(p); };
    if (at(hdl->wp) > at(hdl->rp) && at(hdl->wp) < at(end)) end = hdl->wp;
    const uint16_t k = static_cast<uint16_t>(n - got < end - hdl->rp ? n - got : end - hdl->rp);
    if (shift == 0) {
      std::memcpy(dst + got, hdl->rp, k * sizeof(uint16_t));
      hdl->rp += k;
      got = static_cast<uint16_t>(got + k);
      continue;
    }
    for (uint16_t i = 0; i < k; ++i) {
      const uint16_t w = *hdl->rp++;
      dst[got++] = static_cast<uint16_t>((w >> shift) | (carry << (16 - shift)));
      carry = w;
    }
  }
  return got;
}

uint16_t dg_read(uint16_t* dst, DG_HDL* hdl, uint16_t n) { return dg_readShiftLeft(dst, hdl, n, 0, 0); }

uint16_t dg_len(const DG_HDL* hdl) { return valid(hdl) ? first(hdl)->len : 0; }

void dg_free(DG_DTGM* record) {
  if (record == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  const int blocks = dg_blocksFor(record->len, kDataSize);
  MEM_BlockHdr* h = hdrOf(record);
  for (int i = 0; i < blocks && h != nullptr; ++i) {
    MEM_BlockHdr* next = h->nextp;
    hsfBmFree(dataOf(h));
    h = next;
  }
}

void dg_enq(QMQUEUE* queue, DG_HDL* hdl) {
  if (queue == nullptr || !valid(hdl)) return;
  if (queue->tailPtr != nullptr)
    queue->tailPtr->nextp = hdl->qhdr.headPtr;
  else
    queue->headPtr = hdl->qhdr.headPtr;
  queue->tailPtr = hdl->qhdr.tailPtr;
  queue->tailPtr->nextp = nullptr;
  queue->count += hdl->qhdr.count;
  clearHandle(hdl);
}

bool dg_deq(QMQUEUE* queue, DG_HDL* hdl) {
  if (queue == nullptr || hdl == nullptr) {
    LHAPI_ASSERT_FAIL();
    return false;
  }
  for (;;) {
    clearHandle(hdl);
    if (queue->headPtr == nullptr) return false;
    // the head block and the continuation blocks behind it
    MEM_BlockHdr* h = queue->headPtr;
    do {
      MEM_BlockHdr* next = h->nextp;
      queue->headPtr = next;
      if (next == nullptr) queue->tailPtr = nullptr;
      --queue->count;
      append(&hdl->qhdr, dataOf(h));
      h = next;
    } while (h != nullptr && dataOf(h)->len == 0);
    initHdl(hdl);
    if (dg_isValidLength(hdl)) return true;
    // a record whose length does not match its blocks is dropped
    DG_DTGM* f = first(hdl);
    MEM_BlockHdr* b = hdl->qhdr.headPtr;
    (void)f;
    while (b != nullptr) {
      MEM_BlockHdr* next = b->nextp;
      hsfBmFree(dataOf(b));
      b = next;
    }
  }
}

DG_DTGM* dg_QmPeekFront(const QMQUEUE* queue) { return queue != nullptr ? dataOf(queue->headPtr) : nullptr; }

DG_DTGM* dg_QmPeekLink(const DG_DTGM* record) {
  if (record == nullptr) return nullptr;
  MEM_BlockHdr* h = lastBlockOf(const_cast<DG_DTGM*>(record))->nextp;
  while (h != nullptr && dataOf(h)->len == 0) h = h->nextp;
  return dataOf(h);
}

void dg_QmInsert(QMQUEUE* queue, DG_HDL* hdl, DG_DTGM* record) {
  if (queue == nullptr || record == nullptr || !valid(hdl)) return;
  MEM_BlockHdr* after = lastBlockOf(record);
  hdl->qhdr.tailPtr->nextp = after->nextp;
  after->nextp = hdl->qhdr.headPtr;
  if (queue->tailPtr == after) queue->tailPtr = hdl->qhdr.tailPtr;
  queue->count += hdl->qhdr.count;
  clearHandle(hdl);
}

void dg_QmInsertFront(QMQUEUE* queue, DG_HDL* hdl) {
  if (queue == nullptr || !valid(hdl)) return;
  hdl->qhdr.tailPtr->nextp = queue->headPtr;
  if (queue->headPtr == nullptr) queue->tailPtr = hdl->qhdr.tailPtr;
  queue->headPtr = hdl->qhdr.headPtr;
  queue->count += hdl->qhdr.count;
  clearHandle(hdl);
}

void dg_QmRemove(QMQUEUE* queue, DG_DTGM* record) {
  if (queue == nullptr || record == nullptr) return;
  MEM_BlockHdr* first = hdrOf(record);
  MEM_BlockHdr* last = lastBlockOf(record);
  MEM_BlockHdr* before = nullptr;
  for (MEM_BlockHdr* h = queue->headPtr; h != first; h = h->nextp) {
    if (h == nullptr) return;  // not in this queue
    before = h;
  }
  (before != nullptr ? before->nextp : queue->headPtr) = last->nextp;
  if (queue->tailPtr == last) queue->tailPtr = before;
  queue->count -= static_cast<uint32_t>(dg_blocksFor(record->len, kDataSize));
  last->nextp = nullptr;
  dg_free(record);
}

int dg_copy(DG_HDL* dst, DG_HDL* src, uint16_t n) {
  uint16_t piece[50];
  while (n > 0) {
    const uint16_t k = static_cast<uint16_t>(n < 50 ? n : 50);
    const uint16_t got = dg_read(piece, src, k);
    if (dg_write(dst, piece, got) != got) return -1;
    if (got < k) break;
    n = static_cast<uint16_t>(n - k);
  }
  return 0;
}

// ---- T.38 receive records ----

bool t38egr_ifp_init(MEM_BufPool* pool, DG_HDL* hdl) {
  if (dg_init(pool, hdl, nullptr) == nullptr) return false;
  const uint16_t zeros[2] = {0, 0};
  if (dg_write(hdl, zeros, 2) != 2) {
    dg_free(first(hdl));
    clearHandle(hdl);
    return false;
  }
  return true;
}

uint16_t t38egr_ifp_write(DG_HDL* hdl, const uint16_t* w, uint16_t n) { return dg_write(hdl, w, n); }
uint16_t t38egr_ifp_read(uint16_t* dst, DG_HDL* hdl, uint16_t n) { return dg_read(dst, hdl, n); }
uint16_t t38egr_ifp_len(const DG_HDL* hdl) { return dg_len(hdl); }

void t38egr_ifp_write_sequenceNum(DG_HDL* hdl, uint16_t s) {
  if (valid(hdl)) words(first(hdl))[0] = s;
}

void t38egr_ifp_write_arrivaltime(DG_HDL* hdl, uint16_t t) {
  if (valid(hdl)) words(first(hdl))[1] = t;
}

uint16_t t38egr_ifp_rd_sequenceNum(const EGR_IFP_PKT* p) { return p != nullptr ? p->sequenceNum : 0; }
uint16_t t38egr_ifp_rd_arrivaltime(const EGR_IFP_PKT* p) { return p != nullptr ? p->arrivalTime : 0; }

namespace {
EGR_IFP_PKT* pktOf(DG_DTGM* r) { return r != nullptr ? reinterpret_cast<EGR_IFP_PKT*>(words(r)) : nullptr; }
DG_DTGM* recOf(const EGR_IFP_PKT* p) {
  return p != nullptr ? reinterpret_cast<DG_DTGM*>(const_cast<uint16_t*>(reinterpret_cast<const uint16_t*>(p)) - 1)
                      : nullptr;
}
}  // namespace

EGR_IFP_PKT* t38egr_ifp_getifpFromHandle(const DG_HDL* hdl) { return valid(hdl) ? pktOf(first(hdl)) : nullptr; }
EGR_IFP_PKT* t38egr_ifp_QmPeekFront(const QMQUEUE* q) { return pktOf(dg_QmPeekFront(q)); }
EGR_IFP_PKT* t38egr_ifp_QmPeekLink(const EGR_IFP_PKT* p) { return pktOf(dg_QmPeekLink(recOf(p))); }
// Every incoming packet asks this of the whole queue, so it steps block by block instead of
// record by record: a record's first block is the one whose length word is not 0 (a continuation
// block's is, and a receive record holds at least its number and arrival time).
EGR_IFP_PKT* t38egr_ifp_find(const QMQUEUE* q, uint16_t sequenceNum) {
  for (MEM_BlockHdr* h = q->headPtr; h != nullptr; h = h->nextp) {
    DG_DTGM* b = dataOf(h);
    if (b->len != 0 && words(b)[0] == sequenceNum) return pktOf(b);
  }
  return nullptr;
}
void t38egr_ifp_QmInsert(QMQUEUE* q, DG_HDL* hdl, EGR_IFP_PKT* after) { dg_QmInsert(q, hdl, recOf(after)); }
void t38egr_ifp_QmInsertFront(QMQUEUE* q, DG_HDL* hdl) { dg_QmInsertFront(q, hdl); }
void t38egr_ifp_Enq(QMQUEUE* q, DG_HDL* hdl) { dg_enq(q, hdl); }
bool t38egr_ifp_deq(QMQUEUE* q, DG_HDL* hdl) { return dg_deq(q, hdl); }
void t38egr_ifp_free(EGR_IFP_PKT* p) { dg_free(recOf(p)); }
void t38egr_ifp_remove(QMQUEUE* q, EGR_IFP_PKT* p) { dg_QmRemove(q, recOf(p)); }

int t38egr_ifp_octets(const EGR_IFP_PKT* p, uint8_t* out, int cap) {
  DG_DTGM* r = recOf(p);
  if (r == nullptr || r->len < 2) return 0;
  // the record's words block by block, the sequence number and arrival time first
  constexpr int kMaxWords = DG_MAX_BLOCKS * kDataSize;  // the longest record
  uint16_t w[kMaxWords];
  const int wanted = 2 + (cap > 0 ? (cap + 1) / 2 : 0);  // no more than `cap` asks for
  const int total = std::min({static_cast<int>(r->len), kMaxWords, wanted});
  MEM_BlockHdr* h = hdrOf(r);
  for (int at = 0; at < total; h = h->nextp) {
    if (h == nullptr) return 0;
    const int n = total - at < kDataSize ? total - at : kDataSize;
    std::memcpy(w + at, words(dataOf(h)), static_cast<size_t>(n) * 2);
    at += n;
  }
  const int octets = 2 * (total - 2) < cap ? 2 * (total - 2) : cap;
  t38egr_ifp_unpack(out, w + 2, octets);
  return octets;
}
