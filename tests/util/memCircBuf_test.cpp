#include "memCircBuf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "stdoutCapture.h"

namespace {

class MemCircBuf : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(memCircBufInit(), BUF_STATUS_OK); }
  void TearDown() override { memCircBufDeinit(); }
};

std::vector<uint8_t> bytes(size_t count, uint8_t first) {
  std::vector<uint8_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

TEST_F(MemCircBuf, SizeIsRoundedUpAndFillsExactly) {
  MEMCIRCBUFDRV h;
  ASSERT_EQ(memCircBufAlloc(&h, 100), BUF_STATUS_OK);
  auto data = bytes(128, 1);
  EXPECT_EQ(memCircBufWrite(h, data.data(), 128), BUF_STATUS_OK);
  uint8_t one = 0;
  EXPECT_EQ(memCircBufWrite(h, &one, 1), BUF_STATUS_FULL);
  std::vector<uint8_t> out(128);
  EXPECT_EQ(memCircBufRead(h, out.data(), 128), BUF_STATUS_OK);
  EXPECT_EQ(out, data);
  EXPECT_EQ(memCircBufRead(h, out.data(), 1), BUF_STATUS_EMPTY);
  EXPECT_EQ(memCircBufFree(&h), BUF_STATUS_OK);
}

TEST_F(MemCircBuf, RecordsAreAllOrNothing) {
  MEMCIRCBUFDRV h;
  ASSERT_EQ(memCircBufAlloc(&h, 128), BUF_STATUS_OK);
  auto record = bytes(40, 7);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(memCircBufWrite(h, record.data(), 40), BUF_STATUS_OK);
  }
  EXPECT_EQ(memCircBufWrite(h, record.data(), 40), BUF_STATUS_FULL);
  std::vector<uint8_t> out(48, 0xEE);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(memCircBufRead(h, out.data(), 40), BUF_STATUS_OK);
  }
  EXPECT_EQ(memCircBufRead(h, out.data(), 48), BUF_STATUS_EMPTY);
  EXPECT_EQ(memCircBufRead(h, out.data(), 40), BUF_STATUS_OK);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), out.begin()));
  memCircBufFree(&h);
}

TEST_F(MemCircBuf, WrapAroundKeepsOrder) {
  MEMCIRCBUFDRV h;
  ASSERT_EQ(memCircBufAlloc(&h, 16), BUF_STATUS_OK);
  auto first = bytes(12, 0);
  std::vector<uint8_t> out(12);
  ASSERT_EQ(memCircBufWrite(h, first.data(), 12), BUF_STATUS_OK);
  ASSERT_EQ(memCircBufRead(h, out.data(), 12), BUF_STATUS_OK);
  auto second = bytes(10, 50);  // from offset 12: 4 bytes at the end, 6 at the start
  ASSERT_EQ(memCircBufWrite(h, second.data(), 10), BUF_STATUS_OK);
  out.assign(10, 0);
  ASSERT_EQ(memCircBufRead(h, out.data(), 10), BUF_STATUS_OK);
  EXPECT_EQ(out, second);
  memCircBufFree(&h);
}

TEST_F(MemCircBuf, EmptyWritesAndReadsChangeNothing) {
  MEMCIRCBUFDRV h;
  ASSERT_EQ(memCircBufAlloc(&h, 8), BUF_STATUS_OK);
  uint8_t byte = 9;
  EXPECT_EQ(memCircBufWrite(h, &byte, 0), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufRead(h, &byte, 1), BUF_STATUS_EMPTY);
  auto full = bytes(8, 1);
  ASSERT_EQ(memCircBufWrite(h, full.data(), 8), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufRead(h, &byte, 0), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufWrite(h, &byte, 1), BUF_STATUS_FULL);
  std::vector<uint8_t> out(8);
  EXPECT_EQ(memCircBufRead(h, out.data(), 8), BUF_STATUS_OK);
  EXPECT_EQ(out, full);
  memCircBufFree(&h);
}

TEST_F(MemCircBuf, TinySizes) {
  MEMCIRCBUFDRV one, two;
  ASSERT_EQ(memCircBufAlloc(&one, 0), BUF_STATUS_OK);
  ASSERT_EQ(memCircBufAlloc(&two, 2), BUF_STATUS_OK);
  uint8_t in[2] = {4, 5}, out[2] = {0, 0};
  EXPECT_EQ(memCircBufWrite(one, in, 1), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufWrite(one, in, 1), BUF_STATUS_FULL);
  EXPECT_EQ(memCircBufRead(one, out, 1), BUF_STATUS_OK);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(memCircBufWrite(two, in, 2), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufRead(two, out, 2), BUF_STATUS_OK);
  EXPECT_EQ(out[1], 5);
}

TEST_F(MemCircBuf, TwentyBuffersThenNoMore) {
  MEMCIRCBUFDRV handles[MEMCIRCBUF_MAX_BUFFERS];
  for (MEMCIRCBUFDRV &h : handles) {
    ASSERT_EQ(memCircBufAlloc(&h, 64), BUF_STATUS_OK);
  }
  MEMCIRCBUFDRV extra = 77;
  StdoutCapture capture;
  EXPECT_EQ(memCircBufAlloc(&extra, 64), BUF_STATUS_FAIL);
  std::string out = capture.finish();
  EXPECT_NE(out.find("[general]\x1b[0;31m memCircBufAlloc: No free buffer available!\x1b[0m\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(extra, 77u);
  // A freed descriptor is handed out again.
  MEMCIRCBUFDRV freed = handles[7];
  ASSERT_EQ(memCircBufFree(&handles[7]), BUF_STATUS_OK);
  ASSERT_EQ(memCircBufAlloc(&extra, 64), BUF_STATUS_OK);
  EXPECT_EQ(extra, freed);
}

TEST_F(MemCircBuf, FreedOrBadHandlesFail) {
  MEMCIRCBUFDRV h, copy;
  ASSERT_EQ(memCircBufAlloc(&h, 32), BUF_STATUS_OK);
  copy = h;
  ASSERT_EQ(memCircBufFree(&h), BUF_STATUS_OK);
  EXPECT_EQ(h, MEMCIRCBUF_INVALID);
  uint8_t byte = 0;
  StdoutCapture capture;
  EXPECT_EQ(memCircBufWrite(h, &byte, 1), BUF_STATUS_FAIL);
  EXPECT_EQ(memCircBufRead(h, &byte, 1), BUF_STATUS_FAIL);
  // A stale copy of the handle, or a second free, must not corrupt the free list.
  EXPECT_EQ(memCircBufWrite(copy, &byte, 1), BUF_STATUS_FAIL);
  EXPECT_EQ(memCircBufFree(&copy), BUF_STATUS_FAIL);
  std::string out = capture.finish();
  EXPECT_NE(out.find("memCircBufWrite: Invalid buffer index!"), std::string::npos) << out;
  EXPECT_NE(out.find("memCircBufRead: Invalid buffer index!"), std::string::npos);
  EXPECT_NE(out.find("memCircBufFree: Invalid buffer index!"), std::string::npos);
  MEMCIRCBUFDRV a, b;
  ASSERT_EQ(memCircBufAlloc(&a, 8), BUF_STATUS_OK);
  ASSERT_EQ(memCircBufAlloc(&b, 8), BUF_STATUS_OK);
  EXPECT_NE(a, b);
}

TEST(MemCircBufDriver, InitialisationStates) {
  MEMCIRCBUFDRV h = 0;
  uint8_t byte = 0;
  EXPECT_EQ(memCircBufAlloc(&h, 8), BUF_STATUS_FAIL);
  EXPECT_EQ(memCircBufWrite(0, &byte, 1), BUF_STATUS_FAIL);
  EXPECT_EQ(memCircBufDeinit(), BUF_STATUS_OK);
  ASSERT_EQ(memCircBufInit(), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufInit(), BUF_STATUS_FAIL);
  ASSERT_EQ(memCircBufAlloc(&h, 8), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufDeinit(), BUF_STATUS_OK);
  EXPECT_EQ(memCircBufWrite(h, &byte, 1), BUF_STATUS_FAIL);
}

// Random writes and reads checked against a deque of bytes: same results, same bytes.
TEST_F(MemCircBuf, BehavesLikeAByteQueue) {
  std::mt19937 rng(7);
  for (uint32_t requested : {1u, 5u, 16u, 100u, 256u}) {
    MEMCIRCBUFDRV h;
    ASSERT_EQ(memCircBufAlloc(&h, requested), BUF_STATUS_OK);
    uint32_t capacity = 1;
    while (capacity < requested) capacity <<= 1;
    std::deque<uint8_t> model;
    uint8_t next = 0;
    for (int op = 0; op < 20000; ++op) {
      const uint32_t count = rng() % (capacity + 3);
      if (rng() % 2) {
        std::vector<uint8_t> data(count);
        for (auto &b : data) b = next++;
        const BUF_STATUS expected =
            count == 0 || model.size() + count <= capacity ? BUF_STATUS_OK : BUF_STATUS_FULL;
        ASSERT_EQ(memCircBufWrite(h, data.data(), count), expected) << "op " << op;
        if (expected == BUF_STATUS_OK) {
          model.insert(model.end(), data.begin(), data.end());
        } else {
          next = static_cast<uint8_t>(next - count);
        }
      } else {
        std::vector<uint8_t> out(count + 1, 0xA5);
        const BUF_STATUS expected = count <= model.size() ? BUF_STATUS_OK : BUF_STATUS_EMPTY;
        ASSERT_EQ(memCircBufRead(h, out.data(), count), expected) << "op " << op;
        if (expected == BUF_STATUS_OK) {
          for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(out[i], model.front()) << "op " << op << " byte " << i;
            model.pop_front();
          }
        }
        ASSERT_EQ(out[count], 0xA5) << "read past its count";
      }
    }
    memCircBufFree(&h);
  }
}

// A record that shows whether it arrived whole: producer, sequence and a check word.
struct Record {
  uint32_t producer;
  uint32_t sequence;
  uint32_t filler[3];
  uint32_t check;
};

uint32_t checkOf(const Record &r) {
  return r.producer * 2654435761u ^ r.sequence * 40503u ^ r.filler[0] ^ r.filler[1] ^ r.filler[2];
}

TEST_F(MemCircBuf, ManyProducersAndConsumersNeverTearRecords) {
  constexpr int kProducers = 4;
  constexpr int kConsumers = 3;
  constexpr uint32_t kPerProducer = 4000;
  MEMCIRCBUFDRV h;
  // 256 bytes is not a multiple of the 24-byte record, so records straddle the end.
  ASSERT_EQ(memCircBufAlloc(&h, 256), BUF_STATUS_OK);

  std::atomic<uint32_t> consumed{0};
  std::vector<std::vector<uint32_t>> counts(kProducers, std::vector<uint32_t>(kPerProducer, 0));
  std::atomic<int> torn{0};
  std::atomic<int> outOfOrder{0};
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (uint32_t s = 0; s < kPerProducer; ++s) {
        Record r{static_cast<uint32_t>(p), s, {s * 3u, s ^ 0x5555u, ~s}, 0};
        r.check = checkOf(r);
        while (memCircBufWrite(h, &r, sizeof r) == BUF_STATUS_FULL) {
          std::this_thread::yield();
        }
      }
    });
  }
  std::vector<std::vector<uint32_t>> seenByConsumer(kConsumers);
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&, c] {
      std::vector<int64_t> last(kProducers, -1);
      while (consumed.load() < kProducers * kPerProducer) {
        Record r;
        if (memCircBufRead(h, &r, sizeof r) != BUF_STATUS_OK) {
          std::this_thread::yield();
          continue;
        }
        consumed.fetch_add(1);
        if (r.producer >= kProducers || r.sequence >= kPerProducer || r.check != checkOf(r)) {
          ++torn;
          continue;
        }
        // One consumer sees each producer's records in the order they were written.
        if (static_cast<int64_t>(r.sequence) <= last[r.producer]) ++outOfOrder;
        last[r.producer] = r.sequence;
        seenByConsumer[c].push_back(r.producer * kPerProducer + r.sequence);
      }
    });
  }
  for (auto &t : threads) t.join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(outOfOrder.load(), 0);
  for (const auto &seen : seenByConsumer) {
    for (uint32_t id : seen) ++counts[id / kPerProducer][id % kPerProducer];
  }
  for (int p = 0; p < kProducers; ++p) {
    for (uint32_t s = 0; s < kPerProducer; ++s) {
      ASSERT_EQ(counts[p][s], 1u) << "producer " << p << " record " << s;
    }
  }
  Record leftover;
  EXPECT_EQ(memCircBufRead(h, &leftover, 1), BUF_STATUS_EMPTY);
}

}  // namespace
