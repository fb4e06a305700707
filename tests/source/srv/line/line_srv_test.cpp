// The line service: its commands on an instance, and the band split and combine through a
// wideband line channel on the framework.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "../linechan/line_channel.h"
#include "bandsplit.h"
#include "dsputil.h"
#include "line.h"

namespace {

HSFMSG stdCmd(uint16_t header, uint16_t op1, uint16_t op2) {
  HSFMSG m{};
  m.std = HSFMSGSTD{header, op1, op2};
  return m;
}

HAPIRESULT io(LINEINSTANCEMEM& line, uint16_t header, uint16_t op1, uint16_t op2) {
  HSFMSG m = stdCmd(header, op1, op2);
  return Line_IO(&line, &m, nullptr);
}

HAPIRESULT download(LINEINSTANCEMEM& line, uint16_t offset, int16_t first, uint16_t length = 84) {
  HAPI_LINE_EQU_COEFF rec{};
  rec.offset = offset;
  for (int i = 0; i < EQU_DOWNLOAD_TAPS; ++i) rec.coeff[i] = static_cast<int16_t>(first + i);
  HSFMSG m{};
  m.ext = HSFMSGEXT{LINE_EQU_COEFF_CMD, length, &rec};
  return Line_IO(&line, &m, nullptr);
}

}  // namespace

TEST(LineService, EqualiserDownloadsStayInsideTheTable) {
  LINEINSTANCEMEM line{};
  ASSERT_EQ(Line_Init(&line), HAPISUCCESS);
  EXPECT_EQ(line.clientFlags, 0x07);
  EXPECT_EQ(download(line, 88, 1000), HAPISUCCESS);
  for (int i = 0; i < EQU_MAX_TAPS; ++i) EXPECT_EQ(line.equ_filter.coeff[i], i >= 88 ? 1000 + i - 88 : 0);
  EXPECT_EQ(download(line, 100, 5000), HAPISUCCESS);
  EXPECT_EQ(line.equ_filter.coeff[99], 1011);
  EXPECT_EQ(line.equ_filter.coeff[100], 5000);
  EXPECT_EQ(line.equ_filter.coeff[127], 5027);
  const EQU_Filter before = line.equ_filter;
  EXPECT_EQ(download(line, 128, 1), HAPIFAILURE);     // first tap past the table
  EXPECT_EQ(download(line, 0xFFFF, 1), HAPIFAILURE);
  EXPECT_EQ(download(line, 0, 1, 20), HAPIFAILURE);   // record too short
  EXPECT_EQ(std::memcmp(&before, &line.equ_filter, sizeof(before)), 0);
  EXPECT_EQ(io(line, LINE_EQU_ORDER_CMD, 0, 129), HAPIFAILURE);
  EXPECT_EQ(io(line, LINE_EQU_ORDER_CMD, 1, 8), HAPIFAILURE);
  EXPECT_EQ(io(line, LINE_EQU_ORDER_CMD, 0, 128), HAPISUCCESS);
  EXPECT_EQ(line.equ_filter.order, 128);
}

TEST(LineService, SwitchesAndEqualiserSelection) {
  LINEINSTANCEMEM line{};
  Line_Init(&line);
  EXPECT_EQ(io(line, LINE_EQU_CMD, 0, 0x0301), HAPIFAILURE);
  EXPECT_EQ(io(line, LINE_EQU_CMD, 1, 0x0001), HAPIFAILURE);
  EXPECT_EQ(io(line, LINE_EQU_CMD, 0, 0x0001), HAPISUCCESS);
  EXPECT_EQ(line.clientFlags, 0x07 | LINE_CLIENT_EQU_NARROW);
  EXPECT_EQ(io(line, LINE_EQU_CMD, 0, 0x0101), HAPISUCCESS);
  EXPECT_EQ(line.clientFlags, 0x07 | LINE_CLIENT_EQU_WIDE);
  EXPECT_EQ(io(line, LINE_EQU_CMD, 0, 0x0100), HAPISUCCESS);  // disabled: no equaliser flag
  EXPECT_EQ(line.clientFlags, 0x07);
  EXPECT_EQ(io(line, LINE_HPF_CMD, 0, 0), HAPISUCCESS);
  EXPECT_EQ(io(line, LINE_BANDSPLIT_CMD, 0, 0), HAPISUCCESS);
  EXPECT_EQ(io(line, LINE_BANDCOMBINE_CMD, 0, 0), HAPISUCCESS);
  EXPECT_EQ(line.clientFlags, 0);
  EXPECT_EQ(io(line, LINE_BANDCOMBINE_CMD, 1, 0), HAPISUCCESS);
  EXPECT_EQ(line.clientFlags, LINE_CLIENT_BANDCOMBINE);
  EXPECT_EQ(io(line, 0x3686, 0, 0), HAPIFAILURE);
}

TEST(LineService, EqualiserKeepsHistoryAcrossBlocks) {
  EQU_Filter f{};
  f.isEnabled = 1;
  f.order = 3;
  f.coeff[0] = 16384;  // 0.5 x[n] + 0.25 x[n-2]
  f.coeff[2] = 8192;
  int16_t a[4] = {1000, 2000, 3000, 4000};
  int16_t b[2] = {100, 200};
  equFirProcess(&f, a, 4);
  equFirProcess(&f, b, 2);
  EXPECT_EQ(a[0], 500);
  EXPECT_EQ(a[2], 1500 + 250);
  EXPECT_EQ(b[0], 50 + 750);   // x[n-2] = 3000 from the previous block
  EXPECT_EQ(b[1], 100 + 1000);
}

// Through the channel: split on ingress, the network side looped back, combine on egress. The
// framework adds whole frames of latency; the filter bank adds exactly 39 samples, bit for bit.
TEST(LineChannel, SplitAndCombineReturnTheInputDelayedBy39Samples) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(-9000, 9000);
  std::vector<int16_t> in(80 * 400);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(d(rng));
  // Silent stretches after noise: their first frames still carry the filters' tails, so a
  // filter may only be skipped once its state has come to rest.
  for (size_t tick = 50; tick + 20 <= 380; tick += 60) std::fill_n(in.begin() + 80 * tick, 80 * 20, int16_t{0});

  int latency = -1;
  {
    linechan::Channel plain;  // the filter bank off: only the framework's latency
    EXPECT_EQ(plain.command(LINE_BANDSPLIT_CMD, 0, 0).result, HAPISUCCESS);
    EXPECT_EQ(plain.command(LINE_BANDCOMBINE_CMD, 0, 0).result, HAPISUCCESS);
    EXPECT_EQ(plain.command(LINE_HPF_CMD, 0, 0).result, HAPISUCCESS);
    EXPECT_EQ(plain.command(0x44B0, 0, 0).result, HAPISUCCESS);
    const auto out = plain.run(in);
    for (int lag = 0; lag < 2000 && latency < 0; ++lag) {
      if (std::equal(in.begin(), in.end() - 4000, out.begin() + lag)) latency = lag;
    }
    ASSERT_GE(latency, 0) << "the channel does not pass its input through";
  }
  linechan::Channel channel;
  EXPECT_EQ(channel.command(LINE_HPF_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(channel.command(0x44B0, 0, 0).result, HAPISUCCESS);  // the echo canceller bypassed
  const auto out = channel.run(in);
  const int lag = latency + BS_DELAY;
  size_t same = 0;
  for (size_t n = lag; n < out.size(); ++n) same += out[n] == in[n - lag];
  RecordProperty("framework_latency", latency);
  EXPECT_EQ(same, out.size() - lag) << "framework latency " << latency;

  // The DC blocker alone (the filter bank off) returns the blocked input, its decay into each
  // silent stretch included.
  linechan::Channel blocked;
  EXPECT_EQ(blocked.command(LINE_BANDSPLIT_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(blocked.command(LINE_BANDCOMBINE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(blocked.command(0x44B0, 0, 0).result, HAPISUCCESS);
  const auto outBlocked = blocked.run(in);
  std::vector<int16_t> expect(in.size());
  int32_t u = 0;
  utilHighpass(in.data(), expect.data(), static_cast<int>(in.size()), 6, &u);
  same = 0;
  for (size_t n = latency; n < outBlocked.size(); ++n) same += outBlocked[n] == expect[n - latency];
  EXPECT_EQ(same, outBlocked.size() - latency);
}
