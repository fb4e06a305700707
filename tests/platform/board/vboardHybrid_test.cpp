// The hybrid of a simulated line: what the DSP sends returns in what it reads, delayed by the
// echo path as set plus the PCM DMA's tick each way, and attenuated as set.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "dsphalDrv.h"
#include "vboard.h"
#include "vboardAudio.h"

namespace {

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=2,fxo=0,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 1),
                          ::setenv("ORVOX_BOARD_SOCKET",
                                   ("/tmp/orvox_vboard_hybrid_" + std::to_string(::getpid()) + ".sock").c_str(), 1),
                          true);

bool ok(const std::string& answer) { return answer.rfind("OK", 0) == 0; }

// The board's samples (echo, tones, DTMF) are rounded as std::lround rounds: an exact half away
// from zero on both sides, which an echo of a random signal at a random gain almost never hits.
TEST(VirtualBoardHybrid, SamplesRoundHalvesAwayFromZeroAndSaturate) {
  for (double v : {-0.5, -2.5, -1.5, 0.5, 2.5, 1.5, -0.49999999, 0.49999999, -3.5000001, 12345.5, -12345.5}) {
    EXPECT_EQ(vboardSaturate(v), std::lround(v)) << v;
  }
  EXPECT_EQ(vboardSaturate(32767.5), 32767);
  EXPECT_EQ(vboardSaturate(1e9), 32767);
  EXPECT_EQ(vboardSaturate(-32768.5), -32768);
  EXPECT_EQ(vboardSaturate(-1e9), -32768);
}

TEST(VirtualBoardHybrid, EchoReturnsDelayedAndAttenuatedAndEachTicksWorkIsTimed) {
  EXPECT_FALSE(ok(vboardCommand("0 hybrid 0 10")));
  EXPECT_FALSE(ok(vboardCommand("0 hybrid 61 10")));
  EXPECT_FALSE(ok(vboardCommand("0 hybrid 6 61")));
  EXPECT_FALSE(ok(vboardCommand("0 hybrid 6")));
  ASSERT_TRUE(ok(vboardCommand("0 hybrid 6 12")));
  EXPECT_NE(vboardCommand("0 status").find("hybrid=6ms/12dB"), std::string::npos);

  const int fd = vboardOpen(DSPHAL_DEVICE, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_INIT, 0), 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1), 0);
  const int ticks = 40, n = 40, delay = 48;  // 6 ms at 8 kHz
  const double gain = std::pow(10.0, -12.0 / 20);
  std::vector<int16_t> sent, heard;
  for (int t = 0; t < ticks; ++t) {
    ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
    if (t == 0) {
      // The first tick's read starts the grid; the echo is measured from the next.
      int16_t first[40];
      ASSERT_EQ(vboardRead(fd, first, sizeof(first)), static_cast<ssize_t>(sizeof(first)));
    }
    std::vector<int16_t> out(n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<int16_t>(8000 * std::sin(0.37 * (t * n + i)) + 1000 * (i % 7));
    out[t % n] = t % 2 ? -32768 : 32767;  // full scale both ways
    // Written before it is read in a tick, as the DSP may do, or after: the path stays the same.
    if (t % 2 == 0) ASSERT_EQ(vboardWrite(fd, out.data(), n * 2), n * 2);
    std::vector<int16_t> in(n);
    if (t > 0) ASSERT_EQ(vboardRead(fd, in.data(), n * 2), n * 2);
    if (t % 2 == 1) ASSERT_EQ(vboardWrite(fd, out.data(), n * 2), n * 2);
    sent.insert(sent.end(), out.begin(), out.end());
    heard.insert(heard.end(), in.begin(), in.end());
  }
  // Each sample returns the echo path plus two ticks (one played, one taken) after it was sent, at
  // the return loss and rounded to the nearest (half away from zero); before that the line is quiet.
  const size_t roundTrip = 2 * n + delay;
  for (size_t i = 0; i < heard.size(); ++i) {
    const long echo = i < roundTrip ? 0 : std::lround(gain * sent[i - roundTrip]);
    ASSERT_EQ(heard[i], echo) << "sample " << i;
  }
  // The tick work was timed on this thread: every tick after the first.
  const std::string stats = vboardCommand("tickstats");
  EXPECT_NE(stats.find("ticks timed=" + std::to_string(ticks - 1) + " "), std::string::npos) << stats;
  EXPECT_TRUE(ok(vboardCommand("tickstats reset")));
  EXPECT_NE(vboardCommand("tickstats").find("ticks timed=0 "), std::string::npos);
  EXPECT_FALSE(ok(vboardCommand("tickstats now")));
  ASSERT_TRUE(ok(vboardCommand("0 hybrid off")));
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  std::vector<int16_t> quiet(n);
  ASSERT_EQ(vboardRead(fd, quiet.data(), n * 2), n * 2);
  for (int16_t v : quiet) EXPECT_EQ(v, 0);
  vboardClose(fd);
  ::unlink(vboardSocketPath().c_str());
}

}  // namespace
