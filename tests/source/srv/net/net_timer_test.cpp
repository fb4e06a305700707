// NET's per-frame work: statistics gathering with and without reports to the host, heartbeats.
#include <gtest/gtest.h>

#include "net_codes.h"
#include "net_harness.h"

namespace {

using namespace nettest;

using NetTimerTest = NetTest;

int count(const std::vector<Cmd>& cmds, uint16_t header, uint16_t op1) {
  int n = 0;
  for (const Cmd& c : cmds) n += c.header == header && c.op1 == op1;
  return n;
}

constexpr int kTicksPerSecond = 200;  // 5 ms ticks

TEST_F(NetTimerTest, WithoutAnIntervalStatisticsAreGatheredEverySecondButNotReported) {
  enterMode(NETMODE_PACKETVOICE);
  netInstance()->hsxStatsTimer = 0;
  tick(kTicksPerSecond * 2 + 10);
  const std::vector<Cmd> codec = commandsTo(HAPI_CODEC_SRV);
  EXPECT_EQ(count(codec, HAPI_CODEC_GETSTATS_CMD, 0), 2) << describe(codec);
  EXPECT_EQ(count(codec, HAPI_CODEC_GETSTATE_CMD, 0), 2);
  EXPECT_EQ(count(codec, HAPI_CODEC_GETSTATS_CMD, 1), 0);
  // NET keeps the codec's figures; the host hears nothing of them.
  EXPECT_EQ(netInstance()->hsxpvestats.decoder.packetCount, 0x1234);
  EXPECT_EQ(netInstance()->hsxpvestate.currentEnc, 0x0100);
  EXPECT_TRUE(hostEvents(HAPI_NET_VOICESTATS_EVT).empty());
  EXPECT_TRUE(hostEvents(HAPI_NET_VOICESTATE_EVT).empty());
  EXPECT_TRUE(hostEvents(HAPI_CODEC_GETSTATS_EVT).empty());
}

TEST_F(NetTimerTest, WithAnIntervalStatisticsAreReportedAndCleared) {
  command(HAPI_NET_CONFIG_SETREG1_CMD, 0, 250);
  enterMode(NETMODE_PACKETVOICE);
  netInstance()->hsxStatsTimer = 0;
  tick(kTicksPerSecond + 10);
  EXPECT_EQ(count(commandsTo(HAPI_CODEC_SRV), HAPI_CODEC_GETSTATS_CMD, 1), 4);
  const std::vector<HostMsg> stats = hostEvents(HAPI_NET_VOICESTATS_EVT);
  ASSERT_EQ(stats.size(), 4u);
  EXPECT_EQ(stats[0].op1, 36);
  EXPECT_EQ(stats[0].data[2] | stats[0].data[3] << 8, 0x1234);
  EXPECT_EQ(hostEvents(HAPI_NET_VOICESTATE_EVT).size(), 4u);
  EXPECT_EQ(hostEvents(HAPI_NET_VOICESTATE_EVT)[0].op1, 34);
}

TEST_F(NetTimerTest, StatisticsFollowTheMode) {
  command(HAPI_NET_CONFIG_SETREG1_CMD, 0, 100);
  clearRecords();
  tick(kTicksPerSecond / 2);
  EXPECT_TRUE(world().commands.empty()) << "idle gathers nothing: " << describe(world().commands);

  enterMode(NETMODE_FAXRELAY);
  netInstance()->hsxStatsTimer = 0;
  tick(kTicksPerSecond / 2 + 4);
  EXPECT_EQ(count(commandsTo(HAPI_FAXR_SRV), netsrv::kFaxrGetStats, 1), 5);
  const std::vector<HostMsg> fax = hostEvents(HAPI_NET_FAXSTATS_EVT);
  ASSERT_EQ(fax.size(), 5u);
  EXPECT_EQ(fax[0].data[20], 3);  // pages received, as the fax relay service reported them
  EXPECT_TRUE(hostEvents(netsrv::kFaxrStatsEvt).empty());
}

TEST_F(NetTimerTest, HeartbeatsComeAtTheirInterval) {
  tick(kTicksPerSecond);
  EXPECT_TRUE(hostEvents(HAPI_NET_HEARTBEAT_EVT).empty());
  command(HAPI_NET_CONFIG_SETREG1_CMD, 2, 100);
  netInstance()->hsxHeartbeat = 0;
  clearRecords();
  tick(kTicksPerSecond * 2 + 1);
  EXPECT_EQ(hostEvents(HAPI_NET_HEARTBEAT_EVT).size(), 20u);
}

}  // namespace
