// The T.38 datagram queue and the impairment injector.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "t38_dg.h"

namespace {

struct Pool {
  alignas(16) unsigned char area[32768];
  MEM_BufPool* pool;
  Pool() { pool = hsfBmInit(area, sizeof(area), DG_BLOCK_BYTES + sizeof(void*)); }
  int freeBlocks() const { return pool->numFreeBuf; }
};

std::vector<uint16_t> seq(uint16_t n, uint16_t from = 1) {
  std::vector<uint16_t> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}

// A record of n words, queued.
void record(Pool& p, QMQUEUE* q, uint16_t n, uint16_t from) {
  DG_HDL h;
  ASSERT_NE(dg_init(p.pool, &h, nullptr), nullptr);
  const auto w = seq(n, from);
  ASSERT_EQ(dg_write(&h, w.data(), n), n);
  dg_enq(q, &h);
}

std::vector<uint16_t> readAll(QMQUEUE* q) {
  DG_HDL h;
  std::vector<uint16_t> out;
  if (!dg_deq(q, &h)) return out;
  out.resize(dg_len(&h));
  out.resize(dg_read(out.data(), &h, uint16_t(out.size())));
  dg_free(dg_QmPeekFront(&h.qhdr));
  return out;
}

TEST(T38Datagram, RecordsTakeLengthOverDataSizePlusOneBlocks) {
  Pool p;
  const int free0 = p.freeBlocks();
  for (uint16_t n : {0, 1, 38, 39, 40, 78, 117}) {
    DG_HDL h;
    ASSERT_NE(dg_init(p.pool, &h, nullptr), nullptr);
    const auto w = seq(n);
    EXPECT_EQ(dg_write(&h, w.data(), n), n);
    EXPECT_EQ(h.qhdr.count, uint32_t(n / 39 + 1)) << n;
    EXPECT_TRUE(dg_isValidLength(&h));
    std::vector<uint16_t> back(n + 5);
    EXPECT_EQ(dg_read(back.data(), &h, uint16_t(n + 5)), n);  // never past the write position
    back.resize(n);
    EXPECT_EQ(back, w);
    dg_free(dg_QmPeekFront(&h.qhdr));
  }
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST(T38Datagram, ShiftedReadCarriesBitsAcrossWords) {
  Pool p;
  DG_HDL h;
  dg_init(p.pool, &h, nullptr);
  const uint16_t w[3] = {0x1234, 0xABCD, 0x00FF};
  dg_write(&h, w, 3);
  uint16_t out[3];
  EXPECT_EQ(dg_readShiftLeft(out, &h, 3, 0x0001, 4), 3);
  EXPECT_EQ(out[0], 0x1123);  // (0x1234 >> 4) | (0x0001 << 12)
  EXPECT_EQ(out[1], 0x4ABC);
  EXPECT_EQ(out[2], 0xD00F);
  dg_free(dg_QmPeekFront(&h.qhdr));
}

TEST(T38Datagram, QueueWalksInsertsAndDequeuesWholeRecords) {
  Pool p;
  const int free0 = p.freeBlocks();
  QMQUEUE q;
  MEM_InitQueue(&q);
  record(p, &q, 100, 1);  // three blocks
  record(p, &q, 5, 500);
  DG_DTGM* r0 = dg_QmPeekFront(&q);
  ASSERT_NE(r0, nullptr);
  EXPECT_EQ(r0->len, 100);
  DG_DTGM* r1 = dg_QmPeekLink(r0);
  ASSERT_NE(r1, nullptr);
  EXPECT_EQ(r1->len, 5);
  EXPECT_EQ(dg_QmPeekLink(r1), nullptr);
  // insert after the last record: it becomes the last, and later appends follow it
  DG_HDL h;
  dg_init(p.pool, &h, nullptr);
  const auto w = seq(7, 900);
  dg_write(&h, w.data(), 7);
  dg_QmInsert(&q, &h, r1);
  record(p, &q, 2, 700);
  // and one at the front
  dg_init(p.pool, &h, nullptr);
  const auto f = seq(3, 300);
  dg_write(&h, f.data(), 3);
  dg_QmInsertFront(&q, &h);
  EXPECT_EQ(readAll(&q), seq(3, 300));
  EXPECT_EQ(readAll(&q), seq(100, 1));
  EXPECT_EQ(readAll(&q), seq(5, 500));
  EXPECT_EQ(readAll(&q), seq(7, 900));
  EXPECT_EQ(readAll(&q), seq(2, 700));
  EXPECT_TRUE(readAll(&q).empty());
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST(T38Datagram, AnInconsistentRecordIsDroppedOnDequeue) {
  Pool p;
  const int free0 = p.freeBlocks();
  QMQUEUE q;
  MEM_InitQueue(&q);
  record(p, &q, 10, 1);
  dg_QmPeekFront(&q)->len = 50;  // claims two blocks, has one
  record(p, &q, 4, 40);
  EXPECT_EQ(readAll(&q), seq(4, 40));
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST(T38Datagram, ADryPoolStopsWritesShortAndLosesNothingElse) {
  Pool p;
  const int free0 = p.freeBlocks();
  std::vector<void*> held;
  while (p.freeBlocks() > 2) held.push_back(hsfBmAllocDirect(p.pool, DG_BLOCK_BYTES));
  DG_HDL h;
  ASSERT_NE(dg_init(p.pool, &h, nullptr), nullptr);
  const auto w = seq(200);
  const uint16_t n = dg_write(&h, w.data(), 200);
  EXPECT_LT(n, 200);
  EXPECT_EQ(dg_len(&h), n);
  dg_free(dg_QmPeekFront(&h.qhdr));
  // the receive record: no block at all fails cleanly
  while (p.freeBlocks() > 0) held.push_back(hsfBmAllocDirect(p.pool, DG_BLOCK_BYTES));
  EXPECT_FALSE(t38egr_ifp_init(p.pool, &h));
  for (void* b : held) hsfBmFree(b);
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST(T38Datagram, ReceiveRecordsCarryNumberTimeAndOctets) {
  Pool p;
  QMQUEUE q;
  MEM_InitQueue(&q);
  DG_HDL h;
  ASSERT_TRUE(t38egr_ifp_init(p.pool, &h));
  t38egr_ifp_write_sequenceNum(&h, 65535);
  t38egr_ifp_write_arrivaltime(&h, 1234);
  const uint16_t ifp[2] = {0x02C0, 0x0080};
  t38egr_ifp_write(&h, ifp, 2);
  EGR_IFP_PKT* pkt = t38egr_ifp_getifpFromHandle(&h);
  EXPECT_EQ(t38egr_ifp_rd_sequenceNum(pkt), 65535);
  EXPECT_EQ(t38egr_ifp_rd_arrivaltime(pkt), 1234);
  EXPECT_EQ(t38egr_ifp_len(&h), 4);
  t38egr_ifp_Enq(&q, &h);
  EXPECT_EQ(t38egr_ifp_rd_sequenceNum(t38egr_ifp_QmPeekFront(&q)), 65535);
  DG_HDL d;
  ASSERT_TRUE(t38egr_ifp_deq(&q, &d));
  EXPECT_EQ(t38egr_ifp_getifpFromHandle(&d)->ifpPacket[0], 0x02C0);
  t38egr_ifp_free(t38egr_ifp_getifpFromHandle(&d));
}

TEST(T38Datagram, CopyMovesWordsInPieces) {
  Pool p;
  DG_HDL a, b;
  dg_init(p.pool, &a, nullptr);
  dg_init(p.pool, &b, nullptr);
  const auto w = seq(130);
  dg_write(&a, w.data(), 130);
  EXPECT_EQ(dg_copy(&b, &a, 130), 0);
  std::vector<uint16_t> back(130);
  dg_read(back.data(), &b, 130);
  EXPECT_EQ(back, w);
  dg_free(dg_QmPeekFront(&a.qhdr));
  dg_free(dg_QmPeekFront(&b.qhdr));
}

std::vector<uint16_t> gDelivered;
void sink(const HSFMSG* m) { gDelivered.push_back(m->std.op1); }

TEST(T38Impair, DeliversInOrderWithoutReorderingAndEverythingWithIt) {
  hsfimpairSetSink(sink);
  HSZIMPAIR imp;
  hsfimpairinit(&imp);
  gDelivered.clear();
  for (uint16_t i = 0; i < 10; ++i) {
    HSFMSG m{};
    m.std.header = 0x8000;
    m.std.op1 = i;
    hsfimpairmentinput(&imp, &m);
  }
  hsfimpairblk(&imp);
  EXPECT_EQ(gDelivered, seq(10, 0));
  // with reordering some are held back, then released: all arrive, not all in order
  lbsetreorder(&imp, 1);
  gDelivered.clear();
  for (int round = 0; round < 6; ++round) {
    for (uint16_t i = 0; i < 5; ++i) {
      HSFMSG m{};
      m.std.header = 0x8000;
      m.std.op1 = uint16_t(round * 5 + i);
      hsfimpairmentinput(&imp, &m);
    }
    hsfimpairblk(&imp);
    for (int t = 0; t < 60; ++t) hsfimpairtimer(&imp);
  }
  hsfimpairblk(&imp);
  std::vector<uint16_t> sorted = gDelivered;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, seq(30, 0));
  EXPECT_NE(gDelivered, seq(30, 0));
  EXPECT_GT(imp.re_counter, 0);
  hsfimpairSetSink(nullptr);
}

}  // namespace
