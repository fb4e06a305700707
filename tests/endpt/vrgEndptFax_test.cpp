// Fax on a connection, with the library running on the virtual board: a calling tone from the
// phone moves a T.38 connection's channel to fax relay, after which no more speech leaves, the
// fax stack's datagrams do, datagrams from the network reach the channel's T.38 service and the
// fax statistics come from the fax stack; the T.38 statistics command answers with the
// connection's fax page totals.
#include "endptLibFixture.h"
#include "faxr/faxr_regs.h"
#include "hdspCmd.h"
#include "hdspLine.h"
#include "net/net_regs.h"

namespace endpt_test {
namespace {

constexpr uint16_t kFaxRelay = 4;        // NET mode of a channel on its fax stack
constexpr uint16_t kVoiceBandData = 5;   // NET mode of a channel passing modem audio

class EndptFax : public EndptLib {
 protected:
  // Line 0 off hook with connection 5 (PCMA) whose fax calls go the way `dataMode` says.
  void StartCall(EPDATAMODE dataMode) {
    StartWithLine();
    vboardCommand("0 offhook");
    EPZCNXPARAM params = PcmaParams();
    params.dataMode = dataMode;
    ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
    cnx_ = GetCnxState(5);
    ASSERT_NE(cnx_, nullptr);
  }
  void TearDown() override {
    vboardCommand("0 play silence");
    vboardCommand("0 onhook");
    EndptLib::TearDown();
  }
  uint16_t NetMode() { return std::atomic_ref<uint16_t>(cnx_->vhdMode).load(std::memory_order_relaxed); }
  // Milliseconds of audio the board has taken from the phone on line 0.
  long long BoardMs() {
    const std::string st = vboardCommand("0 status");
    const size_t at = st.find("ingressBytes=");
    return at == std::string::npos ? -1 : std::atoll(st.c_str() + at + 13) / 16;
  }
  CNXSTATE* cnx_ = nullptr;
};

// A UDPTL datagram: sequence number 0, primary IFP "CED indicator", no secondaries.
std::vector<uint8_t> CedDatagram() { return {0x00, 0x00, 0x01, 0x04, 0x00, 0x00}; }

EPSTATUS SendT38(ENDPT_STATE* line, int cnxId, std::vector<uint8_t> bytes) {
  EPPACKET packet{EPMEDIATYPE_T38, bytes.data()};
  return vrgEndptPacket(line, cnxId, &packet, static_cast<int>(bytes.size()), 0);
}

TEST_F(EndptFax, CallingToneMovesAT38ConnectionToFaxRelayWhereDatagramsReachTheT38Service) {
  StartCall(EPDATAMODE_T38);
  ASSERT_TRUE(Eventually([&] { return packetsDelivered[EPMEDIATYPE_RTP].load() > 10; }, 20000ms));
  // Before the switch the channel has no T.38 service: the datagram is refused.
  EXPECT_EQ(SendT38(&line0_, 5, CedDatagram()), EPSTATUS_BAD_MODE);

  vboardCommand("0 play tone 1100 0 -10");
  ASSERT_TRUE(Eventually([&] { return NetMode() == kFaxRelay; }, 20000ms)) << "mode " << NetMode();
  EXPECT_TRUE(IsT38Negotiated(cnx_));

  // No speech leaves a channel in fax relay: a second of the phone's audio later, at most the
  // packet that was on its way has come.
  const int rtpBefore = packetsDelivered[EPMEDIATYPE_RTP].load();
  const long long from = BoardMs();
  ASSERT_GE(from, 0) << vboardCommand("0 status");
  ASSERT_TRUE(Eventually([&] { return BoardMs() >= from + 1000; }, 20000ms));
  EXPECT_LE(packetsDelivered[EPMEDIATYPE_RTP].load(), rtpBefore + 1);

  // The fax stack relays the calling tone to the network as T.38 datagrams.
  EXPECT_TRUE(Eventually([&] { return packetsDelivered[EPMEDIATYPE_T38].load() > 0; }, 20000ms));

  // A datagram from the network now goes to the channel's T.38 service.
  EXPECT_EQ(SendT38(&line0_, 5, CedDatagram()), EPSTATUS_SUCCESS);

  // The fax stack's statistics reach the host through the channel's NET service: it has counted
  // the packets it sent towards the network.
  HSZFAXRSTATS fax{};
  EXPECT_TRUE(Eventually([&] {
    return hdspSendCmdData(cnx_->vhdhdl, HAPI_NET_GETFAXSTATS_CMD, HAPI_REQID_EXT_CMD, sizeof fax, &fax) == 0 &&
           fax.ingress.hsxFrameCount > 0;
  }, 20000ms));

  // The connection's fax page totals: none yet.
  EPZT38CNXSTATS pages{7, 7};
  EXPECT_EQ(vrgEndptGetT38Stats(&line0_, 5, &pages), EPSTATUS_SUCCESS);
  EXPECT_EQ(pages.rxpg, 0u);
  EXPECT_EQ(pages.txpg, 0u);
}

// The channel goes idle with its connection; the next connection on it carries speech again and
// switches to fax relay again.
TEST_F(EndptFax, ASecondFaxCallOnTheSameChannelSwitchesAgain) {
  StartCall(EPDATAMODE_T38);
  vboardCommand("0 play tone 1100 0 -10");
  ASSERT_TRUE(Eventually([&] { return NetMode() == kFaxRelay; }, 20000ms)) << "mode " << NetMode();
  ASSERT_TRUE(Eventually([&] { return packetsDelivered[EPMEDIATYPE_T38].load() > 0; }, 20000ms));
  vboardCommand("0 play silence");
  const uint16_t channel = cnx_->vhdhdl;
  ASSERT_EQ(vrgEndptDeleteConnection(&line0_, 5), EPSTATUS_SUCCESS);

  EPZCNXPARAM params = PcmaParams();
  params.dataMode = EPDATAMODE_T38;
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 6, &params), EPSTATUS_SUCCESS);
  cnx_ = GetCnxState(6);
  ASSERT_NE(cnx_, nullptr);
  ASSERT_EQ(cnx_->vhdhdl, channel);
  const int rtp = packetsDelivered[EPMEDIATYPE_RTP].load();
  ASSERT_TRUE(Eventually([&] { return packetsDelivered[EPMEDIATYPE_RTP].load() > rtp + 10; }, 20000ms));
  const int t38 = packetsDelivered[EPMEDIATYPE_T38].load();
  vboardCommand("0 play tone 1100 0 -10");
  ASSERT_TRUE(Eventually([&] { return NetMode() == kFaxRelay; }, 20000ms)) << "mode " << NetMode();
  EXPECT_TRUE(Eventually([&] { return packetsDelivered[EPMEDIATYPE_T38].load() > t38; }, 20000ms));
}

TEST_F(EndptFax, CallingToneMovesAVoiceBandDataConnectionToModemAudio) {
  StartCall(EPDATAMODE_VBD);
  vboardCommand("0 play tone 1100 0 -10");
  ASSERT_TRUE(Eventually([&] { return NetMode() == kVoiceBandData; }, 20000ms)) << "mode " << NetMode();
  EXPECT_FALSE(IsT38Negotiated(cnx_));
  EXPECT_EQ(SendT38(&line0_, 5, CedDatagram()), EPSTATUS_BAD_MODE);
}

TEST_F(EndptFax, T38StatisticsAnswerForTheirOwnConnectionOnly) {
  StartCall(EPDATAMODE_T38);
  EPZT38CNXSTATS pages{7, 7};
  EXPECT_EQ(vrgEndptGetT38Stats(&line0_, 5, &pages), EPSTATUS_SUCCESS);
  EXPECT_EQ(pages.rxpg, 0u);
  EXPECT_EQ(pages.txpg, 0u);
  EXPECT_EQ(vrgEndptGetT38Stats(&line0_, 6, &pages), EPSTATUS_CNX_UNKNOWN);
  ENDPT_STATE absent{1, EPTYPE_FXS};
  EXPECT_EQ(vrgEndptGetT38Stats(&absent, 5, &pages), EPSTATUS_ENDPT_UNKNOWN);
  EXPECT_EQ(vrgEndptGetT38Stats(&line0_, 5, nullptr), EPSTATUS_ERROR);
}

}  // namespace
}  // namespace endpt_test
