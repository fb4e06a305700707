// Host RTP sessions over loopback: datagrams both ways and RTCP statistics.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "rtpSession.h"

namespace {

using namespace std::chrono_literals;

// The sessions bind fixed ports below the kernel's ephemeral range (32768 and up by default), so
// that no socket another test opens at the same time can hold them.
constexpr uint16_t kPort = 21000;

struct Received {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> packets[RTP_MAX_SESSIONS];
};
Received rtpRx, rtcpRx;

void onRtp(int handle, uint8_t* data, int length) {
  std::lock_guard<std::mutex> g(rtpRx.lock);
  rtpRx.packets[handle].emplace_back(data, data + length);
}
void onRtcp(int handle, uint8_t* data, int length) {
  std::lock_guard<std::mutex> g(rtcpRx.lock);
  rtcpRx.packets[handle].emplace_back(data, data + length);
}

size_t countOf(Received& rx, int handle) {
  std::lock_guard<std::mutex> g(rx.lock);
  return rx.packets[handle].size();
}

// Waits for the receive thread, which a loaded machine may leave unscheduled for a while: the
// limit only bounds how long a failure takes.
bool waitCount(Received& rx, int handle, size_t n) {
  for (int i = 0; i < 3000 && countOf(rx, handle) < n; i++) std::this_thread::sleep_for(5ms);
  return countOf(rx, handle) >= n;
}

void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// A sender report with one report block: 52 bytes.
std::vector<uint8_t> senderReport(uint32_t ntpSec, uint32_t packets, uint32_t octets,
                                  uint32_t cumLost, uint32_t extSeq, uint32_t jitter) {
  std::vector<uint8_t> p(52, 0);
  p[0] = 0x81;  // version 2, one report block
  p[1] = 200;
  p[3] = 12;
  put32(&p[4], 0x11111111);
  put32(&p[8], ntpSec);
  put32(&p[12], 0x80000000u);
  put32(&p[20], packets);
  put32(&p[24], octets);
  put32(&p[28], 0x22222222);
  put32(&p[32], cumLost & 0xFFFFFF);
  put32(&p[36], extSeq);
  put32(&p[40], jitter);
  return p;
}

class RtpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* rx : {&rtpRx, &rtcpRx})
      for (auto& v : rx->packets) v.clear();
    ASSERT_EQ(rtpInit(), 0);
    vosIpAddrCreateLoopback(VOS_IPADDRESS_TYPE_V4, &lo);
  }
  void TearDown() override { EXPECT_EQ(rtpDeinit(), 0); }
  VOS_IP_ADDRESS lo;
};

TEST_F(RtpSessionTest, LoopbackPairExchangesRtpAndRtcp) {
  int a = -1, b = -1;
  ASSERT_EQ(rtpOpen(kPort, kPort + 1, &lo, onRtp, onRtcp, 0, &a), RTP_SUCCESS);
  ASSERT_EQ(rtpOpen(kPort + 2, kPort + 3, &lo, onRtp, onRtcp, 0xB8, &b), RTP_SUCCESS);
  ASSERT_NE(a, b);
  ASSERT_EQ(rtpSetRTPRemote(a, &lo, kPort + 2), 0);
  ASSERT_EQ(rtpSetRTCPRemote(a, &lo, kPort + 3), 0);
  ASSERT_EQ(rtpSetRTPRemote(b, &lo, kPort), 0);

  uint8_t rtp[172] = {0x80, 8};
  for (int i = 0; i < 5; i++) {
    rtp[3] = static_cast<uint8_t>(i);
    ASSERT_EQ(rtpSend(a, rtp, sizeof rtp, 0), 0);
  }
  ASSERT_EQ(rtpSend(b, rtp, 20, 0), 0);
  ASSERT_TRUE(waitCount(rtpRx, b, 5));
  ASSERT_TRUE(waitCount(rtpRx, a, 1));
  EXPECT_EQ(rtpRx.packets[b][4].size(), sizeof rtp);
  EXPECT_EQ(rtpRx.packets[b][4][3], 4);

  // Two sender reports: the second gives counts and loss since the first.
  auto sr1 = senderReport(1000, 100, 16000, 2, 1100, 80);
  auto sr2 = senderReport(1005, 350, 56000, 7, 1350, 160);
  ASSERT_EQ(rtcpSend(a, sr1.data(), static_cast<int>(sr1.size())), 0);
  ASSERT_TRUE(waitCount(rtcpRx, b, 1));
  ASSERT_EQ(rtcpSend(a, sr2.data(), static_cast<int>(sr2.size())), 0);
  ASSERT_TRUE(waitCount(rtcpRx, b, 2));
  rtcpstats_t st{};
  ASSERT_EQ(rtpGetRtcpStats(b, &st), 0);
  EXPECT_EQ(st.rtcpSRRecv, 2u);
  EXPECT_EQ(st.lastntpsec, 1005u);
  EXPECT_EQ(st.dwRemotePacketSent, 250u);
  EXPECT_EQ(st.dwRemoteOctetSent, 40000u);
  EXPECT_EQ(st.dwRemotePacketLost, 5u);
  EXPECT_EQ(st.dwRemoteJitter, 20u);
  EXPECT_EQ(st.wRemotePktLossRate, 2u);  // 100 * 5 / 250

  EXPECT_EQ(rtpClose(&a), 0);
  EXPECT_EQ(rtpClose(&b), 0);
  EXPECT_EQ(rtpSend(a, rtp, 12, 0), -1);  // closed session
}

TEST_F(RtpSessionTest, ShortOrForeignRtcpChangesNoStatistics) {
  int a = -1;
  ASSERT_EQ(rtpOpen(kPort + 10, kPort + 11, &lo, onRtp, onRtcp, 0, &a), RTP_SUCCESS);
  auto sr = senderReport(7, 10, 10, 0, 10, 0);
  rtcpProcess(a, sr.data(), 51);
  sr[0] = 0x41;  // version 1
  rtcpProcess(a, sr.data(), 52);
  rtcpstats_t st{};
  ASSERT_EQ(rtpGetRtcpStats(a, &st), 0);
  EXPECT_EQ(st.rtcpSRRecv, 0u);
  EXPECT_EQ(rtpClose(&a), 0);
}

TEST_F(RtpSessionTest, TableLimitsAndBadHandles) {
  std::vector<int> handles;
  for (int i = 0; i < RTP_MAX_SESSIONS; i++) {
    int h = -1;
    ASSERT_EQ(rtpOpen(0, 0, &lo, nullptr, nullptr, 0, &h), RTP_SUCCESS);
    handles.push_back(h);
  }
  int extra = -1;
  EXPECT_EQ(rtpOpen(0, 0, &lo, nullptr, nullptr, 0, &extra), RTP_NORSC);
  int bad = RTP_MAX_SESSIONS;
  EXPECT_EQ(rtpClose(&bad), -1);
  EXPECT_EQ(rtpSetRTPRemote(-1, &lo, 1), -1);
  for (int h : handles) EXPECT_EQ(rtpClose(&h), 0);
  EXPECT_EQ(rtpCompareSSRC(0, 1234), 1);
  EXPECT_EQ(rtpInit(), -1);  // already running
}

TEST_F(RtpSessionTest, PortInUseFailsWithoutLeakingTheSession) {
  int a = -1, b = -1;
  ASSERT_EQ(rtpOpen(kPort + 20, 0, &lo, onRtp, nullptr, 0, &a), RTP_SUCCESS);
  VOS_IP_ADDRESS unknown{};
  unknown.ipType = static_cast<VOS_IP_ADDRESS_TYPE>(9);
  EXPECT_EQ(rtpOpen(kPort + 22, 0, &unknown, onRtp, nullptr, 0, &b), RTP_NETFAIL);
  int c = -1;
  ASSERT_EQ(rtpOpen(kPort + 24, 0, &lo, onRtp, nullptr, 0, &c), RTP_SUCCESS);
  EXPECT_EQ(c, a + 1);  // the failed open gave its slot back
  EXPECT_EQ(rtpUpdate(kPort + 26, 0, &lo, onRtp, nullptr, 0, c), 0);
  EXPECT_EQ(rtpClose(&a), 0);
  EXPECT_EQ(rtpClose(&c), 0);
}

}  // namespace
