// The host command interface over the running framework: a host thread opens a line channel
// while the tick runs, exchanges commands with the resource manager and the channel, and PCM goes
// from a hardware port through the channel and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "hapi/hapi.h"
#include "halshim/halshim.h"
#include "probe_services.h"
#include "timer/timer.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "cfg/vhd_cfg.h"
#include "hapi_host_util.h"
#include "vexa_test_util.h"

namespace {

// ---- the board side: port 0 is fed a tone and its output is recorded, one tick at a time ----
struct Board {
  std::mutex lock;
  std::vector<int16_t> in;
  std::vector<int16_t> out;
  std::atomic<int> ticks{0};
};
Board& board() {
  static Board b;
  return b;
}

// A 1 kHz tone whose amplitude steps every tick, so that any shift of the samples is visible.
int16_t toneSample(int n) {
  const int tick = n / 40;
  const double amplitude = 2000 + (tick % 97) * 150;
  return static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 1000.0 * n / 8000.0)));
}

}  // namespace

void lhapiProcessIngress() {
  Board& b = board();
  int16_t frame[40];
  std::lock_guard<std::mutex> guard(b.lock);
  const int base = static_cast<int>(b.in.size());
  for (int i = 0; i < 40; ++i) frame[i] = toneSample(base + i);
  b.in.insert(b.in.end(), frame, frame + 40);
  halShimIngress(frame, 0);
}

void lhapiProcessEgress() {
  Board& b = board();
  int16_t frame[40];
  halShimEgress(frame, 0);
  std::lock_guard<std::mutex> guard(b.lock);
  b.out.insert(b.out.end(), frame, frame + 40);
  b.ticks.fetch_add(1);
}

namespace {

using vexa_test::connect;
using vexa_test::events;
using vexa_test::extCmd;
using vexa_test::recordEvent;
using vexa_test::stdCmd;

int countEvents(uint16_t code, uint16_t op1) {
  std::lock_guard<std::mutex> guard(events().lock);
  int n = 0;
  for (const HSZEVT& e : events().list) {
    if (e.hsxevt == code && e.hsxop1 == op1) ++n;
  }
  return n;
}

int boardTicks() { return board().ticks.load(); }

void waitTicks(int n) {
  const int target = boardTicks() + n;
  while (boardTicks() < target) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

HAPIRESULT resmanStd(uint16_t code, uint16_t op1, uint16_t op2) {
  HSZCMD c = stdCmd(HAPIRESMAN, code, op1, op2);
  return hapiIOctl(&c, 0);
}

class HostInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lhapiInit(0);
    {
      std::lock_guard<std::mutex> guard(board().lock);
      board().in.clear();
      board().out.clear();
    }
    events().list.clear();
    ASSERT_EQ(hapiInit(recordEvent, 1), HAPISUCCESS);
    halShimCfgDevice(0, 1, 0);
    running_ = true;
    ticker_ = std::thread([this] {
      while (running_.load()) {
        lhapiKNL_RunReadyThreads();
        std::this_thread::yield();
      }
    });
    ASSERT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, recordEvent, 0), 0);
    waitTicks(2);
  }

  void stopTicks() {
    if (!running_.exchange(false)) return;
    ticker_.join();
  }

  void TearDown() override {
    stopTicks();
    lhapiDeinit();  // the transactions' semaphores go back
  }

  std::atomic<bool> running_{false};
  std::thread ticker_;
};

// The recorded output from `start`, compared with the input delayed by `latency` samples.
bool matchesDelayedInput(size_t start, size_t count, size_t latency) {
  std::lock_guard<std::mutex> guard(board().lock);
  const auto& in = board().in;
  const auto& out = board().out;
  if (start < latency || start + count > out.size()) return false;
  for (size_t i = start; i < start + count; ++i) {
    if (out[i] != in[i - latency]) return false;
  }
  return true;
}

size_t findLatency(size_t at) {
  for (size_t latency = 0; latency < 40 * 20; ++latency) {
    if (matchesDelayedInput(at, 400, latency)) return latency;
  }
  return SIZE_MAX;
}

TEST_F(HostInterfaceTest, LineChannelCarriesATonePortToPortAndCloses) {
  const vexa_test::PoolCounts before = [] {
    LhapiLockGuard lock;
    return vexa_test::poolCounts();
  }();
  const uint16_t vhd = hapiOpen(HAPI_LINE_ECAN_VHD, recordEvent, 0);
  ASSERT_EQ(vhd, HAPIVHD0);

  // A round trip to the resource manager.
  DSPBUFSTATS stats{};
  stats.dspNumber = 7;
  HSZCMD statsCmd = extCmd(HAPIRESMAN, HAPI_RM_GET_DSP_BUFSTATS_CMD, &stats, sizeof(stats));
  EXPECT_EQ(hapiIOctl(&statsCmd, 0), 0);
  EXPECT_EQ(stats.dspNumber, 7);
  EXPECT_GT(stats.hapiMsgBufPoolnumFree, 4000);
  EXPECT_LE(stats.hapiMsgBufPoollowWater, stats.hapiMsgBufPoolnumFree);
  EXPECT_GT(stats.hapiExtDataBufPoolnumFree, 400);
  EXPECT_EQ(stats.hapiBigExtDataBufPoolnumFree, 0);

  // The line services condition the signal: for a bit-exact round trip the echo canceller is
  // bypassed and the line's high-pass switched off.
  HSZCMD ecanCmd = stdCmd(vhd, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD), 0, 0);
  EXPECT_EQ(hapiIOctl(&ecanCmd, 0), 0);
  HSZCMD hpfCmd = stdCmd(vhd, HSF_MKCMD_STD(HAPI_LINE_SRV, 0), 0, 0);
  EXPECT_EQ(hapiIOctl(&hpfCmd, 0), 0);
  // A request id that contradicts the code is refused.
  HSZCMD wrongForm = stdCmd(vhd, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_SETREGS_CMD), 0, 0);
  EXPECT_EQ(hapiIOctl(&wrongForm, 0), HAPIFAILURE);

  // Port 0 <-> the line side; the network side looped back onto itself.
  ASSERT_EQ(connect(0, HAPI_SWB_TOS, vhd, HAPI_SWB_BOS, HAPI_SWB_DUPLEX), 0);
  ASSERT_EQ(connect(vhd, HAPI_SWB_TOS, vhd, HAPI_SWB_TOS, HAPI_SWB_SIMPLEX), 0);
  // The first frames after the paths are made may arrive unevenly; from then on the tone must
  // come back unchanged.
  waitTicks(40);
  const int underrunsBefore = countEvents(HAPI_RM_HAL_UNDERRUN_EVT, 0);
  const size_t start = static_cast<size_t>(boardTicks()) * 40;
  waitTicks(20);
  const size_t latency = findLatency(start);
  ASSERT_NE(latency, SIZE_MAX) << "the tone did not come back";
  waitTicks(2005);
  EXPECT_TRUE(matchesDelayedInput(start, 2000 * 40, latency));
  EXPECT_EQ(countEvents(HAPI_RM_HAL_UNDERRUN_EVT, 0), underrunsBefore);
  EXPECT_EQ(countEvents(HAPI_RM_KNL_OVERRUN_EVT, 1), 0);

  // Suspending the channel's egress: one underrun report, then silence.
  ASSERT_EQ(resmanStd(HAPI_RM_PROC_ONOFF_CMD, vhd, 0x0200), 0);
  waitTicks(20);
  const size_t silentFrom = static_cast<size_t>(boardTicks()) * 40;
  waitTicks(20);
  EXPECT_EQ(countEvents(HAPI_RM_HAL_UNDERRUN_EVT, 0), underrunsBefore + 1);
  {
    std::lock_guard<std::mutex> guard(board().lock);
    for (size_t i = silentFrom; i < silentFrom + 400; ++i) ASSERT_EQ(board().out[i], 0);
  }
  // Resuming brings the tone back.
  ASSERT_EQ(resmanStd(HAPI_RM_PROC_ONOFF_CMD, vhd, 0x0201), 0);
  waitTicks(40);
  const size_t resumed = static_cast<size_t>(boardTicks()) * 40;
  waitTicks(20);
  EXPECT_NE(findLatency(resumed), SIZE_MAX);

  EXPECT_EQ(hapiClose(vhd, 0), 0);
  EXPECT_EQ(SWB_gConnectionList.portsUsed, 1);
  waitTicks(4);
  stopTicks();
  // Pools are compared at rest: while the tick runs, a block may be in flight.
  const vexa_test::PoolCounts after = vexa_test::poolCounts();
  EXPECT_EQ(after.msgFree, static_cast<int>(QRN_MSG_POOL_BLOCKS));
  EXPECT_EQ(after.extFree, static_cast<int>(QRN_EXT_POOL_BLOCKS));
  EXPECT_EQ(after.heapFreeBytes, before.heapFreeBytes);
  EXPECT_EQ(after.heapFreeBlocks, before.heapFreeBlocks);
  HSZCMD afterClose = stdCmd(vhd, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD), 1, 0);
  EXPECT_EQ(hapiIOctl(&afterClose, 0), HAPIFAILURE);  // not open: refused at once
}

TEST_F(HostInterfaceTest, TwentyWaitingCallersUseEveryTransactionAndLateAnswersWakeNobody) {
  const uint16_t vhd = hapiOpen(HAPI_LINE_ECAN_VHD, recordEvent, 0);
  ASSERT_EQ(vhd, HAPIVHD0);
  ASSERT_EQ(resmanStd(HAPI_RM_PROC_ONOFF_CMD, vhd, 0x0000), 0);  // both directions stop

  std::vector<std::thread> callers;
  std::atomic<int> failures{0};
  for (int i = 0; i < 20; ++i) {
    callers.emplace_back([vhd, &failures] {
      HSZCMD c = stdCmd(vhd, HSF_MKHDR(HAPI_LINE_SRV, HAPI_OPC_ENABLE_CMD), 1, 0);
      if (hapiIOctl(&c, 0) == HAPIFAILURE) failures.fetch_add(1);
    });
  }
  // Wait until all twenty commands are queued at the channel.
  for (;;) {
    uint32_t queued = 0;
    {
      LhapiLockGuard lock;
      QRN_Socket* socket = QRN_FindSocket(vhd);
      queued = socket != nullptr ? socket->hostmsgQ.count : 0;
    }
    if (queued == 20) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  HSZCMD extra = stdCmd(vhd, HSF_MKHDR(HAPI_LINE_SRV, HAPI_OPC_ENABLE_CMD), 1, 0);
  EXPECT_EQ(hapiIOctl(&extra, 0), HAPIFAILURE);
  EXPECT_EQ(countEvents(HAPI_RM_ERROR_EVT, HAPI_RM_ERR_HHAPI_TCB_NONE_FREE), 1);
  for (auto& t : callers) t.join();
  EXPECT_EQ(failures.load(), 20);  // all timed out

  // The channel runs again: its twenty late answers find no transaction.
  ASSERT_EQ(resmanStd(HAPI_RM_PROC_ONOFF_CMD, vhd, 0x0001), 0);
  waitTicks(6);
  for (int i = 0; i < 20; ++i) {
    DSPBUFSTATS stats{};
    HSZCMD c = extCmd(HAPIRESMAN, HAPI_RM_GET_DSP_BUFSTATS_CMD, &stats, sizeof(stats));
    ASSERT_EQ(hapiIOctl(&c, 0), 0);
    ASSERT_GT(stats.hapiMsgBufPoolnumFree, 0);
    HSZCMD lineCmd = stdCmd(vhd, HSF_MKHDR(HAPI_LINE_SRV, HAPI_OPC_ENABLE_CMD), 1, 0);
    ASSERT_EQ(hapiIOctl(&lineCmd, 0), HAPIFAILURE);  // the line service's answer to a code it lacks
  }
  EXPECT_EQ(hapiClose(vhd, 0), 0);
}

TEST_F(HostInterfaceTest, RefusesWhatWouldIndexPastItsTables) {
  HSZCMD c = stdCmd(0x50 + 25, 0x36B0, 1, 0);
  EXPECT_EQ(hapiIOctl(&c, 0), HAPIFAILURE);
  c.hsxdevhdl = 0x50;
  EXPECT_EQ(hapiIOctl(&c, 16), HAPIFAILURE);
  EXPECT_EQ(hapiAsyncIOctl(&c, 16), HAPIFAILURE);
  EXPECT_EQ(hapiClose(0x50 + 30, 0), HAPIFAILURE);
  EXPECT_EQ(hapiClose(0x1F50, 0), HAPIFAILURE);
  EXPECT_EQ(hapiOpen(HAPI_LINE_ECAN_VHD, recordEvent, 16), HAPIVHD_INVALID);
  EXPECT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, recordEvent, 48), HAPIVHD_INVALID);
  EXPECT_EQ(hapiInit(recordEvent, 16), HAPIFAILURE);
  // Twenty-five channels fill the table; a 26th finds no index.
  for (unsigned i = 0; i < HAPI_MAX_VHDS; ++i) {
    ASSERT_EQ(hapiOpen(HAPI_PSTN_VHD, recordEvent, 0), HAPIVHD0 + i);
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(hapiOpen(HAPI_PSTN_VHD, recordEvent, 0), HAPIVHD_INVALID);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("LHAPI: Assert in file hapi.cpp"),
            std::string::npos);
  for (unsigned i = 0; i < HAPI_MAX_VHDS; ++i) EXPECT_EQ(hapiClose(HAPIVHD0 + i, 0), 0);
  // A short open request is refused by the resource manager before it is read.
  uint16_t shortInfo[2] = {0x51, HAPI_LINE_ECAN_VHD};
  EXPECT_EQ(sendCmdToResman(HAPI_RM_OPEN_VHD_CMD, 2, 0, shortInfo, 0), 0xFFFF);
}

TEST_F(HostInterfaceTest, PacketsFromTheHostBecomeChannelData) {
  const uint16_t gw = hapiOpen(HAPI_GATEWAY_VHD, recordEvent, 0);
  ASSERT_EQ(gw, HAPIVHD0);
  std::vector<uint8_t> rtp(172, 0x80);
  HSZCMD c = extCmd(gw, HAPI_NET_EGRESSRTPPKT_CMD, rtp.data(), static_cast<uint16_t>(rtp.size()));
  EXPECT_EQ(hapiAsyncIOctl(&c, 0), 0);
  std::vector<uint8_t> tooLong(1601);
  HSZCMD big = extCmd(gw, HAPI_NET_EGRESSRTPPKT_CMD, tooLong.data(), 1601);
  EXPECT_EQ(hapiAsyncIOctl(&big, 0), HAPI_RM_ERR_NO_MSG_EXT_MEM);
  waitTicks(4);  // the packet entered the egress side and, unused, was freed
  EXPECT_EQ(hapiClose(gw, 0), 0);
  stopTicks();
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, static_cast<int>(QRN_EXT_POOL_BLOCKS));
}

// ---- a probe stack behind the host interface ----

constexpr HAPISRVID kNetProbe = HAPI_NET_SRV;
const HSFSRVARC netProbeArc = vexa_test::probeArc(kNetProbe);
const QRN_ServiceArchive probeStack[] = {{&netProbeArc, 0, HAPI_HOST_SRV}};
const QRN_StackArchive probeStacks[] = {{1, 40, probeStack, 1}};
const QRN_SocketConfig probeConfig = {0,      4096,   probeStacks, 1,   1,   0,
                                      0x1902, 0x261B, 0,           0, 240, 240};
const VHD_Archive probeTable[] = {{HAPI_GATEWAY_VHD, 2, &probeConfig}};

class HostProbeTest : public HostInterfaceTest {
 protected:
  void SetUp() override {
    vexa_test::probes() = vexa_test::ProbeWorld{};
    VHD_gArchive = probeTable;
    VHD_gNumArchives = 1;
    HostInterfaceTest::SetUp();
  }
  void TearDown() override {
    HostInterfaceTest::TearDown();
    VHD_gArchive = VHD_gDefaultArchive;
    VHD_gNumArchives = VHD_NUM_DEFAULT_ARCHIVES;
  }
};

std::vector<uint8_t> gSeenPacket;
std::atomic<int> gPacketsSeen{0};

TEST_F(HostProbeTest, PacketsCrossBetweenHostAndChannelAsData) {
  auto& b = vexa_test::probes().behaviour[kNetProbe];
  b.egress = [](vexa_test::ProbeState&) {
    HSFMSG m{};
    HSFMSG cmd{};
    if (hsfIbdPeekOrRecv(0x800, &m, 0, HSF_IBD_PEEK) == 0x800) {
      const auto* p = static_cast<const uint8_t*>(m.ext.bufp);
      gSeenPacket.assign(p, p + m.ext.length);
      gPacketsSeen.fetch_add(1);
    }
    EXPECT_EQ(hsfIbdPeekOrRecv(0x2, &cmd, 0, HSF_IBD_PEEK), 0u);
  };
  static const std::array<uint8_t, 5> outgoing{0x80, 8, 0, 1, 0xAA};
  static std::atomic<bool> sendOne{false};
  sendOne = false;
  b.ingress = [](vexa_test::ProbeState&) {
    if (sendOne.exchange(false)) {
      hsfIbdSendExt(0x800, 0, outgoing.size(), const_cast<uint8_t*>(outgoing.data()));
    }
  };
  b.ioctl = [](vexa_test::ProbeState&, HSFMSG* cmd, HSFMSG* reply) -> HAPIRESULT {
    static uint8_t regs[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    if (cmd->std.header == 0x3003) {  // answers with 16 bytes
      reply->ext.header = HSF_MKRSP_EXT(cmd->std.header);
      reply->ext.length = sizeof(regs);
      reply->ext.bufp = regs;
    }
    return HAPISUCCESS;
  };
  const uint16_t gw = hapiOpen(HAPI_GATEWAY_VHD, recordEvent, 0);
  ASSERT_EQ(gw, HAPIVHD0);
  std::vector<uint8_t> rtp{0x80, 0, 0, 7, 1, 2, 3};
  HSZCMD c = extCmd(gw, HAPI_NET_EGRESSRTPPKT_CMD, rtp.data(), static_cast<uint16_t>(rtp.size()));
  ASSERT_EQ(hapiAsyncIOctl(&c, 0), 0);
  rtp.assign(rtp.size(), 0);  // the host keeps no reference after the call
  sendOne = true;
  waitTicks(6);
  EXPECT_EQ(gPacketsSeen.load(), 1);
  EXPECT_EQ(gSeenPacket, (std::vector<uint8_t>{0x80, 0, 0, 7, 1, 2, 3}));
  EXPECT_EQ(std::count(vexa_test::probes().events.begin(), vexa_test::probes().events.end(),
                       "ioctl 48 0x3021"),
            0);  // never as a command
  {
    std::lock_guard<std::mutex> guard(events().lock);
    bool found = false;
    for (const HSZEVT& e : events().list) {
      if (e.hsxdevhdl == gw && e.hsxevt == HAPI_NET_INGRESSRTPPKT_EVT) {
        found = true;
        EXPECT_EQ(e.hsxreqid, HAPI_REQID_EXT_EVT);
        EXPECT_EQ(e.hsxop1, outgoing.size());
      }
    }
    EXPECT_TRUE(found);
  }
  // A response longer than the caller's buffer is cut to it and reported.
  std::array<uint8_t, 10> small{};
  HSZCMD get = extCmd(gw, 0x3003, small.data(), small.size());
  EXPECT_EQ(hapiIOctl(&get, 0), HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(get.hsxop1, small.size());
  EXPECT_EQ(small[9], 10);
  EXPECT_EQ(hapiClose(gw, 0), 0);
}

TEST_F(HostProbeTest, TimersQueueTheirCommandOnceOrPeriodically) {
  auto& b = vexa_test::probes().behaviour[kNetProbe];
  static std::atomic<int> armed{0};
  armed = 0;
  b.egress = [](vexa_test::ProbeState& s) {
    if (s.egressRuns == 1) {
      timerModify(0x30B7, 100, TIMER_MODE_ONESHOT);
      timerModify(0x30B8, 50, TIMER_MODE_PERIODIC);
      armed = 1;
    }
  };
  const uint16_t gw = hapiOpen(HAPI_GATEWAY_VHD, recordEvent, 0);
  ASSERT_EQ(gw, HAPIVHD0);
  while (armed.load() == 0) waitTicks(1);
  stopTicks();
  timerInit();
  // Armed again from a channel context of the test: the channel is the current socket.
  QRN_gSocketContext.pCurrentSocket = QRN_FindSocket(gw);
  timerModify(0x30B7, 100, TIMER_MODE_ONESHOT);
  timerModify(0x30B8, 50, TIMER_MODE_PERIODIC);
  timerModify(0x30B9, 10, TIMER_MODE_ONESHOT);
  timerModify(0x30B9, 0, TIMER_MODE_ONESHOT);  // cancelled
  QRN_gSocketContext.pCurrentSocket = nullptr;
  for (int i = 0; i < 10; ++i) timerUpdate(25);  // 250 ms
  EXPECT_EQ(timerSynchronousGet(), 250u);
  vexa_test::tick(2);
  const auto& ev = vexa_test::probes().events;
  EXPECT_EQ(std::count(ev.begin(), ev.end(), "ioctl 48 0x30b7"), 1);
  EXPECT_EQ(std::count(ev.begin(), ev.end(), "ioctl 48 0x30b8"), 5);
  EXPECT_EQ(std::count(ev.begin(), ev.end(), "ioctl 48 0x30b9"), 0);
  VHD_CloseInstance(gw);
  timerUpdate(100);  // the channel has gone: its timer is dropped
  for (const TIMER_STRUCT& t : gTimer) EXPECT_EQ(t.entryUsed, 0);
}

TEST(HapiTransactions, IdsSkipZeroWhenTheyWrap) {
  lhapiInit(0);
  hapiTcbInit();
  uint16_t previous = 0;
  for (int i = 0; i < 70000; ++i) {
    HAPITCB* tcb = hapiTcbAllocate(1);
    ASSERT_NE(tcb, nullptr);
    ASSERT_NE(tcb->transId, 0);
    if (previous == 65535) {
      EXPECT_EQ(tcb->transId, 1);
    }
    previous = tcb->transId;
    hapiTcbFree(tcb);
  }
  lhapiDeinit();
}

}  // namespace
