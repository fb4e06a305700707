// The V.21 service's commands and registers: what it accepts when, and how host values are bounded.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../linetest/line_harness.h"
#include "v21.h"

using namespace linetest;

namespace {

class V21Cmd : public ::testing::Test {
 protected:
  void SetUp() override { open(&v21arc); }
  void TearDown() override { close(); }
  V21LOCLMEM* inst() { return static_cast<V21LOCLMEM*>(instance(HAPI_V21_SRV)); }
  HAPIRESULT txData(const std::vector<uint16_t>& words, uint16_t lengthBytes) {
    return extCommand(V21_TXDATA_CMD, words.data(), lengthBytes).result;
  }
};

TEST_F(V21Cmd, RegistersAreWrittenOnlyWhileDisabledAndWithinTheRecord) {
  EXPECT_EQ(command(V21_SETREG1_CMD, 3, 777).result, HAPISUCCESS);  // odd: register 1
  EXPECT_EQ(inst()->hsxv21regs.hsxCEDamplitude, 777);
  EXPECT_EQ(command(V21_SETREG1_CMD, 32, 5).result, HAPISUCCESS);  // the last register
  EXPECT_EQ(inst()->hsxv21regs.hsxcmdqlowthreshold, 5);
  const HSZV21REGS before = inst()->hsxv21regs;
  EXPECT_NE(command(V21_SETREG1_CMD, 34, 9).result, HAPISUCCESS);  // beyond the record
  EXPECT_NE(command(V21_SETREG1_CMD, 0xFFFE, 9).result, HAPISUCCESS);
  EXPECT_EQ(std::memcmp(&before, &inst()->hsxv21regs, sizeof(before)), 0);
  HSZV21REGS regs = v21DefaultRegs;
  regs.hsxrxthreshold = 55;
  EXPECT_NE(extCommand(V21_SETREGS_CMD, &regs, 30).result, HAPISUCCESS);  // short record
  EXPECT_EQ(extCommand(V21_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  EXPECT_EQ(inst()->hsxv21regs.hsxrxthreshold, 55);
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_NE(command(V21_SETREG1_CMD, 0, 1).result, HAPISUCCESS);
  EXPECT_NE(command(V21_RESETREGS_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(inst()->hsxv21regs.hsxrxthreshold, 55);
  ASSERT_EQ(command(V21_ENABLE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(command(V21_RESETREGS_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(inst()->hsxv21regs.hsxrxthreshold, 100);
}

TEST_F(V21Cmd, ModeCommandsNeedTheServiceEnabled) {
  EXPECT_NE(command(V21_TXMODE_CMD, HSV21TXCNG, 0).result, HAPISUCCESS);
  EXPECT_NE(command(V21_RXMODE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_NE(command(0x0D99, 0, 0).result, HAPISUCCESS);
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_EQ(command(V21_TXMODE_CMD, HSV21TXCNG, 0).result, HAPISUCCESS);
  EXPECT_TRUE(inst()->hsxstatus & V21_STATUS_TXMODE);
  EXPECT_EQ(command(V21_RXMODE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_FALSE(inst()->hsxstatus & V21_STATUS_TXMODE);
}

TEST_F(V21Cmd, TransmitDataIsCutIntoBlocksOfFortyEightBits) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  // 100 bits: 48 + 48 + 4 (packed together as far as a block holds)
  std::vector<uint16_t> words(1 + 7, 0xAAAA);
  words[0] = 100;
  EXPECT_EQ(txData(words, uint16_t(2 + 2 * 7)), HAPISUCCESS);
  // the modulator has taken the first block in hand since
  QMQUEUE& q = inst()->hsxv21tx.v21zTxQueue;
  std::vector<uint16_t> counts;
  if (inst()->hsxv21tx.v21zCpyFrmClBuf.packetp != nullptr) counts.push_back(inst()->hsxv21tx.v21zCpyFrmClBuf.packetp[0]);
  for (void* p = MEM_QueueHead(&q); p != nullptr; p = MEM_QueueNext(p)) counts.push_back(*static_cast<uint16_t*>(p));
  EXPECT_EQ(counts, (std::vector<uint16_t>{48, 48, 4}));
}

TEST_F(V21Cmd, TransmitBitCountCannotReachBeyondTheCommandsBytes) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  std::vector<uint16_t> words = {200, 0xFFFF, 0xFFFF};  // 200 bits claimed, 32 carried
  EXPECT_NE(txData(words, 6), HAPISUCCESS);
  EXPECT_EQ(MEM_QueueCount(&inst()->hsxv21tx.v21zTxQueue), 0u);
  std::vector<uint16_t> none = {0};
  EXPECT_EQ(txData(none, 2), HAPISUCCESS);  // zero bits: nothing queued
  EXPECT_EQ(MEM_QueueCount(&inst()->hsxv21tx.v21zTxQueue), 0u);
}

TEST_F(V21Cmd, IdlePatternGoesToTheInactiveHalfAndIsBounded) {
  const uint16_t ptn[5] = {8, 0x7E, 0, 0, 0};
  EXPECT_EQ(extCommand(V21_IDLEPTN_CMD, ptn, 4).result, HAPISUCCESS);  // two words
  EXPECT_EQ(inst()->v21zIdlePtn.activePtn, 1);
  EXPECT_EQ(inst()->v21zIdlePtn.idlePtn[1][1], 0x7E);
  const uint16_t six[6] = {8, 0x7E, 0, 0, 0, 0};
  EXPECT_NE(extCommand(V21_IDLEPTN_CMD, six, 12).result, HAPISUCCESS);  // six words
  EXPECT_NE(extCommand(V21_IDLEPTN_CMD, ptn, 3).result, HAPISUCCESS);   // half a word
  const uint16_t tooMany[5] = {40, 1, 1, 0, 0};                         // 40 bits in two words
  EXPECT_NE(extCommand(V21_IDLEPTN_CMD, tooMany, 6).result, HAPISUCCESS);
  EXPECT_EQ(inst()->v21zIdlePtn.activePtn, 1);
}

TEST_F(V21Cmd, PacketSizeFollowsTheRegisterAndStaysWithinABlock) {
  EXPECT_EQ(v21BitsPerPacket(160), 48);
  EXPECT_EQ(v21BitsPerPacket(0x8000 | 20), 20);
  EXPECT_EQ(v21BitsPerPacket(0x8000 | 5000), 48);  // a block holds 48 bits
  EXPECT_EQ(v21BitsPerPacket(0), 1);
}

// Also after quiet frames, in which the service left its output silent and adds nothing: every
// frame of the tone reaches the line, in both its halves.
TEST_F(V21Cmd, AnEightySampleChannelCarriesTheToneToTheLine) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(5);
  for (int16_t v : world().egressOut) ASSERT_EQ(v, 0) << "no tone before it is asked for";
  world().egressOut.clear();
  ASSERT_EQ(command(V21_TXMODE_CMD, HSV21TXCED, 0).result, HAPISUCCESS);
  runFrames(5);
  const size_t halves = world().egressOut.size() / 40;
  ASSERT_GE(halves, 8u);
  for (size_t half = halves - 6; half < halves; ++half) {
    bool sound = false;
    for (size_t i = half * 40; i < half * 40 + 40; ++i) sound |= world().egressOut[i] != 0;
    EXPECT_TRUE(sound) << "an 80-sample channel carries the answer tone, half frame " << half;
  }
}

}  // namespace
