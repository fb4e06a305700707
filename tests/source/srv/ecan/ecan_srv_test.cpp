// The echo-canceller service in a line channel: its commands and events, the register bounds,
// the bulk-delay messages and the statistics block.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../linechan/line_channel.h"
#include "ecan_srv.h"

namespace {

HEC* hecOf(linechan::Channel& c) { return static_cast<HEC*>(c.service(HAPI_HEC_SRV)); }

std::vector<linechan::HostMsg> events(linechan::Channel& c, uint16_t header) {
  std::vector<linechan::HostMsg> out;
  for (const auto& m : c.host()) {
    if (!m.response && m.header == header) out.push_back(m);
  }
  return out;
}

void bulkDelayMessage(uint16_t header, uint16_t op1, uint16_t op2) {
  QRN_MsgId id{};
  id.mask = HSF_IBD_ECAN_INPUT;
  QRN_QueueStdMsg(linechan::kLine, header, op1, op2, id, 0, QRN_MsgFlagIbdIngress | QRN_MsgFlagHostMsg);
}

}  // namespace

TEST(EchoCancellerService, RegistersAreReadWrittenAndBounded) {
  linechan::Channel c(false);
  HEC* hec = hecOf(c);
  ASSERT_NE(hec, nullptr);
  EXPECT_EQ(hec->magic, HEC_MAGIC);
  EXPECT_EQ(hec->bulkDelay, 160);
  EXPECT_EQ(c.command(HAPI_HEC_SETREG1_CMD, 4, static_cast<uint16_t>(-6 * 256)).result, HAPISUCCESS);
  EXPECT_EQ(hec->regs.volumedB, -6 * 256);
  EXPECT_EQ(c.command(HAPI_HEC_SETREG1_CMD, 30, 60 * 256).result, HAPISUCCESS);
  EXPECT_EQ(hec->regs.minmaxERLdB[1], 60 * 256);
  const HEC_REGS before = hec->regs;
  EXPECT_EQ(c.command(HAPI_HEC_SETREG1_CMD, 32, 0x1234).result, HAPIFAILURE);  // past the record
  EXPECT_EQ(c.command(HAPI_HEC_SETREG1_CMD, 0xFFFE, 0x1234).result, HAPIFAILURE);
  EXPECT_EQ(std::memcmp(&before, &hec->regs, sizeof(before)), 0);

  c.host().clear();
  EXPECT_EQ(c.command(HAPI_HEC_GETREGS_CMD, 0, 0).result, HAPISUCCESS);
  const auto regs = events(c, HAPI_HEC_GETREGS_EVT);
  ASSERT_EQ(regs.size(), 1u);
  ASSERT_EQ(regs[0].data.size(), 32u);
  EXPECT_EQ(std::memcmp(regs[0].data.data(), &hec->regs, 32), 0);

  HEC_REGS fresh = before;
  fresh.options = HAPI_HEC_NLP_OFF;
  EXPECT_EQ(c.extCommand(HAPI_HEC_SETREGS_CMD, &fresh, sizeof(fresh)).result, HAPISUCCESS);
  EXPECT_EQ(hec->regs.options, HAPI_HEC_NLP_OFF);
  EXPECT_EQ(c.extCommand(HAPI_HEC_SETREGS_CMD, &fresh, 20).result, HAPIFAILURE);  // short record
  EXPECT_EQ(c.command(HAPI_HEC_DISABLE_CMD, 0, 0).result, HAPIFAILURE);
  EXPECT_EQ(c.command(HAPI_HEC_NLP_CMD, 0, 0).result, HAPIFAILURE);

  c.host().clear();
  EXPECT_EQ(c.command(HAPI_HEC_GETSTATE_CMD, 0, 0).result, HAPISUCCESS);
  const auto state = events(c, HAPI_HEC_GETSTATE_EVT);
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(state[0].data.size(), 46u);
}

TEST(EchoCancellerService, EnableResetsAndEventMask) {
  linechan::Channel c(false);
  HEC* hec = hecOf(c);
  ASSERT_NE(hec, nullptr);
  for (int k = 0; k < HEC_TAPS; ++k) hec->hFg[k] = hec->hBg[k] = 100;
  c.host().clear();
  EXPECT_EQ(c.command(HAPI_HEC_RESETCOEFF_CMD, HAPI_HEC_RESETCOEFF_FG, 0).result, HAPISUCCESS);
  EXPECT_EQ(hec->hFg[10], 0);
  EXPECT_EQ(hec->hBg[10], 100);
  EXPECT_TRUE(events(c, HAPI_HEC_RESET_EVT).empty());  // event number 2 is masked
  EXPECT_EQ(c.command(HAPI_HEC_SETREG1_CMD, 2, 1u << 2).result, HAPISUCCESS);
  for (int k = 0; k < HEC_TAPS; ++k) hec->hFg[k] = 100;
  EXPECT_EQ(c.command(HAPI_HEC_RESET_CMD, HAPI_HEC_RESETCOEFF_BG, 0).result, HAPISUCCESS);
  EXPECT_EQ(hec->hFg[10], 100);
  EXPECT_EQ(hec->hBg[10], 0);
  EXPECT_EQ(c.command(HAPI_HEC_RESET_CMD, HAPI_HEC_RESET_WARM, 0).result, HAPISUCCESS);
  EXPECT_EQ(hec->hFg[10], 100);
  EXPECT_EQ(c.command(HAPI_HEC_RESET_CMD, HAPI_HEC_RESET_COLD, 0).result, HAPISUCCESS);
  EXPECT_EQ(hec->hFg[10], 0);
  const auto resets = events(c, HAPI_HEC_RESET_EVT);
  ASSERT_EQ(resets.size(), 3u);
  EXPECT_EQ(resets[0].op1, HAPI_HEC_RESETCOEFF_BG);
  EXPECT_EQ(resets[0].op2, HEC_MAGIC);

  EXPECT_EQ(c.command(HAPI_HEC_ENABLE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_TRUE(hec->regs.options & HAPI_HEC_BYPASS_ON);
  for (int k = 0; k < HEC_TAPS; ++k) hec->hFg[k] = 100;
  hec->rOutBuf[300] = 77;
  EXPECT_EQ(c.command(HAPI_HEC_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_FALSE(hec->regs.options & HAPI_HEC_BYPASS_ON);
  EXPECT_EQ(hec->hFg[10], 100);  // a hot reset keeps the filters
  EXPECT_EQ(hec->rOutBuf[300], 0);
  EXPECT_EQ(events(c, HAPI_HEC_RESET_EVT).back().op1, HAPI_HEC_RESET_HOT);

  c.host().clear();
  EXPECT_EQ(c.command(HAPI_HEC_GETCOEFF_CMD, 0, 0).result, HAPISUCCESS);
  c.run(std::vector<int16_t>(80 * 40, 0));
  const auto coeffs = events(c, HAPI_HEC_GETCOEFF_EVT);
  ASSERT_EQ(coeffs.size(), 8u);  // 256 taps, 32 per frame
  EXPECT_EQ(coeffs[0].data.size(), 64u);
}

TEST(EchoCancellerService, BulkDelayMessagesAndStatistics) {
  linechan::Channel c(false);
  HEC* hec = hecOf(c);
  ASSERT_NE(hec, nullptr);
  bulkDelayMessage(HEC_BULKDELAY_RESET_MSG, 0, 1);
  bulkDelayMessage(HEC_BULKDELAY_ADD_MSG, 200, 2);
  bulkDelayMessage(HEC_BULKDELAY_ADD_MSG, 200, 3);
  c.run(std::vector<int16_t>(80 * 4, 0));
  EXPECT_EQ(hec->bulkDelay, 512);  // 160 + 200 + 200 stops at 512
  bulkDelayMessage(HEC_BULKDELAY_RESET_MSG, 0, 7);
  bulkDelayMessage(HEC_BULKDELAY_ADD_MSG, 10, 7);  // the same op2 again: ignored
  c.run(std::vector<int16_t>(80 * 4, 0));
  EXPECT_EQ(hec->bulkDelay, 160);

  // Once a second the canceller's statistics go up the channel (and reach the host here).
  c.host().clear();
  c.run(std::vector<int16_t>(80 * 400, 0));
  int stats = 0;
  for (const auto& m : c.host()) {
    if (m.header == HEC_STATS_MSG) {
      ++stats;
      ASSERT_EQ(m.data.size(), 6u);
      int16_t rerl;
      std::memcpy(&rerl, m.data.data() + 4, 2);
      EXPECT_EQ(rerl, 75);
    }
  }
  EXPECT_EQ(stats, 2);
}
