// Connection statistics assembled from the channel's reports, and ring parameters from
// provisioning.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsp_standin.h"
#include "hdspCodes.h"
#include "hdspLine.h"
#include "hdspVhd.h"
#include "faxr/faxr_regs.h"
#include "vrgProv.h"

using namespace standin;

namespace {

template <typename T>
std::vector<uint8_t> bytes(const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  return std::vector<uint8_t>(p, p + sizeof(T));
}

class HdspLine : public HostDspTest {};

TEST_F(HdspLine, RtpStatisticsJoinHalvesAndConvertUnits) {
  makeEndpoints(1, EPTYPE_FXS);
  uint16_t vhd = 0;
  ASSERT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0, 0, 0, &vhd, 0), 0);
  CNXSTATE* cnx = bindConnection(0, 0, vhd);
  EPZCNXSTATS stats{};
  EXPECT_EQ(GetConnectionRtpStats(cnx, &stats, 0), EPSTATUS_BAD_MODE);  // not active yet
  cnx->voiceMode = VM_ACTIVE;

  HAPI_RTP_STATS rtp{};
  rtp.cumulative.ingressRtpPacketsHigh = 1;
  rtp.cumulative.ingressRtpPacketsLow = 2;
  rtp.cumulative.egressRtpCumulativeLostPacketsLow = 7;
  rtp.cumulative.egressRtcpPackets = 3;
  rtp.session.egressRtpJitterLow = 160;
  rtp.session.ingressRtpLatencyLow = 320;
  rtp.session.jitterMax = 800;
  rtp.session.remoteSSRC = 0x12345678;
  rtp.session.bRemoteCollected = 1;
  rtp.session.remoteVoipMetricsStats.uRFactor = 93;
  HAPI_PVE_STATS voice{};
  voice.decoder.peakHoldingTime = 480;
  voice.decoder.ajcUnderrunCount = 4;
  HAPI_PVE_STATE state{};
  state.actualHoldTime = 400;
  dsp.setReply(hdsp::HAPI_RTP_GETSTATS_EXT_CMD, bytes(rtp));
  dsp.setReply(HAPI_NET_GETVOICESTATS_CMD, bytes(voice));
  dsp.setReply(HAPI_NET_GETVOICESTATE_CMD, bytes(state));

  ASSERT_EQ(GetConnectionRtpStats(cnx, &stats, 1), EPSTATUS_SUCCESS);
  EXPECT_EQ(stats.txpkts, 0x10002u);
  EXPECT_EQ(stats.lost, 7);
  EXPECT_EQ(stats.rxRtcpPkts, 3u);
  EXPECT_EQ(stats.jitter, 20u);
  EXPECT_EQ(stats.latency, 20u);
  EXPECT_EQ(stats.jbMax, 100);
  EXPECT_EQ(stats.peakJitter, 60);
  EXPECT_EQ(stats.underRuns, 4);
  EXPECT_EQ(stats.jbAvg, 50);
  EXPECT_EQ(stats.remoteSSRC, 0x12345678u);
  EXPECT_EQ(stats.bRemoteCollected, 1);
  EXPECT_EQ(stats.remoteVoipMetrics.uRFactor, 93);
  EXPECT_EQ(stats.bLocalCollected, 0);
  sync(vhd);
  EXPECT_EQ(dsp.service(vhd, HAPI_RTP_SRV).count.at(hdsp::HAPI_RTP_RESET_STATS_CMD), 1);

  dsp.failCode(HAPI_NET_GETVOICESTATS_CMD, HAPIFAILURE);
  EXPECT_EQ(GetConnectionRtpStats(cnx, &stats, 0), EPSTATUS_BAD_MODE);
}

// The channel keeps its page counts across queries (and across the connections it carries); the
// connection's totals grow by what the channel counted since the last query, and a failed read
// leaves them as they were.
TEST_F(HdspLine, FaxPageTotalsGrowByWhatTheChannelCountedSinceTheLastQuery) {
  makeEndpoints(1, EPTYPE_FXS);
  uint16_t vhd = 0;
  ASSERT_EQ(hdspVhdOpen(HAPI_GATEWAY_VHD, nullptr, 0, 0, 0, 0, &vhd, 0), 0);
  CNXSTATE* cnx = bindConnection(0, 0, vhd);
  auto reply = [&](uint16_t rx, uint16_t tx) {
    HSZFAXRSTATS fax{};
    fax.egress.hsxFrameCount = 500;
    fax.egress.hsxNumRxPages = rx;
    fax.ingress.hsxNumTxPages = tx;
    dsp.setReply(HAPI_NET_GETFAXSTATS_CMD, bytes(fax));
  };
  EPZT38CNXSTATS stats{};
  const std::vector<std::pair<std::pair<uint16_t, uint16_t>, std::pair<uint32_t, uint32_t>>> steps = {
      {{1, 2}, {1, 2}},  // first query: everything is new
      {{1, 2}, {1, 2}},  // the same counts again: nothing new
      {{3, 2}, {3, 2}},  // two more pages received
      {{0, 1}, {3, 3}},  // the channel cleared its counts and has sent one page since
  };
  for (const auto& [counts, totals] : steps) {
    reply(counts.first, counts.second);
    ASSERT_EQ(GetConnectionT38Stats(cnx, &stats), EPSTATUS_SUCCESS);
    EXPECT_EQ(stats.rxpg, totals.first);
    EXPECT_EQ(stats.txpg, totals.second);
  }
  dsp.failCode(HAPI_NET_GETFAXSTATS_CMD, HAPIFAILURE);
  EXPECT_EQ(GetConnectionT38Stats(cnx, &stats), EPSTATUS_ERROR);
  EXPECT_EQ(stats.rxpg, 0u);
  EXPECT_EQ(stats.txpg, 0u);
  EXPECT_EQ(cnx->t38param.numFaxPagesRx, 3u);
  EXPECT_EQ(cnx->t38param.numFaxPagesTx, 3u);
  dsp.failCode(HAPI_NET_GETFAXSTATS_CMD, HAPISUCCESS);
}

TEST_F(HdspLine, RingParametersFallBackToSafeDefaults) {
  makeEndpoints(1, EPTYPE_FXS);
  VRG_ENDPT& e = vrgEndpt[0];
  int value = 70;  // not a voltage the line can ring with
  ASSERT_EQ(endptProvSetValue(0, EPPROV_RingVoltage, &value, 4), EPSTATUS_SUCCESS);
  value = 1;
  ASSERT_EQ(endptProvSetValue(0, EPPROV_HighVring, &value, 4), EPSTATUS_SUCCESS);
  value = 40;
  ASSERT_EQ(endptProvSetValue(0, EPPROV_RingDCOffset, &value, 4), EPSTATUS_SUCCESS);
  value = 25;
  ASSERT_EQ(endptProvSetValue(0, EPPROV_PowerRingFrequency, &value, 4), EPSTATUS_SUCCESS);
  EPRINGPARAM ring{};
  ProvisionRingParams(&e, &ring);
  EXPECT_EQ(ring.voltage, 50);
  EXPECT_EQ(ring.offset, 25);
  EXPECT_EQ(ring.frequency, 25);
  value = 45;
  ASSERT_EQ(endptProvSetValue(0, EPPROV_RingVoltage, &value, 4), EPSTATUS_SUCCESS);
  ProvisionRingParams(&e, &ring);
  EXPECT_EQ(ring.voltage, 45);
}

TEST_F(HdspLine, T38IsNegotiatedOnlyInFaxRelayWithATransportMode) {
  CNXSTATE c{};
  c.dataMode = EPDATAMODE_T38;
  c.vhdMode = NETMODE_FAXRELAY;
  EXPECT_FALSE(IsT38Negotiated(&c));
  vrgEndptCap[0].codecCap[CODEC_T38] = 1;
  EXPECT_TRUE(IsT38Negotiated(&c));
  c.dataMode = EPDATAMODE_VBD;
  EXPECT_FALSE(IsT38Negotiated(&c));
}

}  // namespace
