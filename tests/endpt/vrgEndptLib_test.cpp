// The endpoint library on the virtual board: start-up and shutdown, the dispatcher's queues and
// ordering, line events from the simulated phone and the packet path's answers.
#include <malloc.h>

#include "endptLibFixture.h"
#include "logCapture.h"
#include "vboardTimeline.h"
#include "vrgProv.h"

namespace endpt_test {
namespace {

TEST_F(EndptLib, CallsOutsideStartUpAreRefused) {
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_RINGING, 1, -1, -1, -1), EPSTATUS_ERROR);
  EXPECT_EQ(vrgEndptSendCasEvt(&line0_, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK),
            EPSTATUS_ERROR);
  EXPECT_EQ(vrgEndptDeinit(), EPSTATUS_ERROR);
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  EXPECT_EQ(Init(), EPSTATUS_ERROR);
  EXPECT_TRUE(isEndptInitialized());
  EXPECT_EQ(vrgEndptDeinit(), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptDeinit(), EPSTATUS_ERROR);
  EXPECT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_ERROR);
}

TEST_F(EndptLib, TwentyCallsWaitAndTheTwentyFirstFailsAtOnce) {
  StartWithLine();
  HoldDispatcher();
  std::vector<std::thread> callers;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < VRG_CMD_QUEUE_DEPTH; ++i) {
    callers.emplace_back([&] {
      ENDPT_STATE line = line0_;
      if (vrgEndptSignal(&line, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1) == EPSTATUS_SUCCESS) {
        ++succeeded;
      }
    });
  }
  ASSERT_TRUE(Eventually([] { return vrgEptCmdQ.used.load() == VRG_CMD_QUEUE_DEPTH; }));
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1), EPSTATUS_ERROR);
  events().release();
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(succeeded.load(), VRG_CMD_QUEUE_DEPTH);
  // The queue takes calls again.
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1), EPSTATUS_SUCCESS);
}

TEST_F(EndptLib, QueuedEventsRunBeforeACommandPostedEarlier) {
  StartWithLine();
  HoldDispatcher();
  // The pulsed signal reports an event carrying its own number when its command runs.
  std::thread caller([&] {
    ENDPT_STATE line = line0_;
    EXPECT_EQ(vrgEndptSignal(&line, -1, EPSIG_INIT_RING, 1, 100, 200, 1), EPSTATUS_SUCCESS);
  });
  ASSERT_TRUE(Eventually([] { return vrgEptCmdQ.used.load() == 1; }));
  ASSERT_EQ(vrgEndptSendCasEvt(&line0_, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK),
            EPSTATUS_SUCCESS);
  events().release();
  caller.join();
  // Only the three events of this test count: the line's own monitoring may report more.
  std::vector<EPEVT> codes;
  for (EPEVT e : events().codes()) {
    if (e == EPEVT_FLASH || e == EPEVT_OFFHOOK || e == static_cast<EPEVT>(EPSIG_INIT_RING)) {
      codes.push_back(e);
    }
  }
  ASSERT_EQ(codes.size(), 3u) << ::testing::PrintToString(codes);
  EXPECT_EQ(codes[0], EPEVT_FLASH);
  EXPECT_EQ(codes[1], EPEVT_OFFHOOK);
  EXPECT_EQ(codes[2], static_cast<EPEVT>(EPSIG_INIT_RING));
}

TEST_F(EndptLib, ShutdownReleasesACallThatNeverRan) {
  StartWithLine();
  HoldDispatcher();
  std::atomic<int> results[2] = {{-1}, {-1}};
  std::vector<std::thread> callers;
  for (int i = 0; i < 2; ++i) {
    callers.emplace_back([&, i] {
      ENDPT_STATE line = line0_;
      results[i] = vrgEndptSignal(&line, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1);
    });
    ASSERT_TRUE(Eventually([&] { return vrgEptCmdQ.used.load() == i + 1; }));
  }
  LogCapture log;
  std::thread stopper([] { EXPECT_EQ(vrgEndptDeinit(), EPSTATUS_SUCCESS); });
  // The shutdown has begun (its first line is logged just before it asks the dispatcher to stop)
  // before the held pass may finish.
  EXPECT_TRUE(Eventually([&] { return log.contains("EPT: Deinitializing endpoint"); }));
  events().release();
  stopper.join();
  for (std::thread& t : callers) t.join();
  // The pass under way runs one command; the other is released unrun with the shutdown status.
  EXPECT_EQ((results[0] == EPSTATUS_SHUTDOWN_ERR) + (results[1] == EPSTATUS_SHUTDOWN_ERR), 1);
}

TEST_F(EndptLib, StartAndStopThreeTimesLeavesNoThreadOrDescriptor) {
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptDeinit(), EPSTATUS_SUCCESS);
  const int threads = Threads();
  const int descriptors = Descriptors();
  const size_t heap = mallinfo2().uordblks;
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
    ENDPT_STATE line{};
    EXPECT_EQ(vrgEndptCreate(0, 0, &line), EPSTATUS_SUCCESS);
    EXPECT_EQ(vrgEndptDestroy(&line), EPSTATUS_SUCCESS);
    ASSERT_EQ(vrgEndptDeinit(), EPSTATUS_SUCCESS);
    EXPECT_TRUE(Eventually([&] { return Threads() == threads; })) << "cycle " << cycle;
    EXPECT_EQ(Descriptors(), descriptors) << "cycle " << cycle;
  }
  // What a cycle allocates it frees (a little slack for the C library's own bookkeeping).
  EXPECT_LE(mallinfo2().uordblks, heap + 16 * 1024);
}

TEST_F(EndptLib, FailedStartUpStopsWhatItStartedAndARetryWorks) {
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptDeinit(), EPSTATUS_SUCCESS);
  const int threads = Threads();
  // Line signalling already running makes the library's own start of it fail, after the board,
  // the dispatcher and the framework glue have started.
  ASSERT_EQ(casCtlInit([](CAS_CTL_HANDLE, CAS_CTL_EVENT_TYPE, CAS_CTL_EVENT) {}), CAS_CTL_SUCCESS);
  const int withSignalling = Threads();
  EXPECT_EQ(Init(), EPSTATUS_RESOURCES);
  EXPECT_FALSE(isEndptInitialized());
  EXPECT_TRUE(Eventually([&] { return Threads() == withSignalling; }));
  EXPECT_EQ(vrgDispProcessTaskId, 0u);
  ASSERT_EQ(casCtlDeinit(), CAS_CTL_SUCCESS);
  EXPECT_TRUE(Eventually([&] { return Threads() == threads; }));
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_SUCCESS);
}

TEST_F(EndptLib, SimulatedHookEventsReachTheDaemon) {
  StartWithLine();
  vboardCommand("0 onhook");
  EXPECT_EQ(vboardCommand("0 offhook").rfind("OK", 0), 0u);
  ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  EXPECT_EQ(vboardCommand("0 pulse 3").rfind("OK", 0), 0u);
  ASSERT_TRUE(events().waitFor(EPEVT_DTMF3));
  EXPECT_EQ(vboardCommand("0 flash 500").rfind("OK", 0), 0u);
  ASSERT_TRUE(events().waitFor(EPEVT_FLASH));
  EXPECT_EQ(vboardCommand("0 onhook").rfind("OK", 0), 0u);
  ASSERT_TRUE(events().waitFor(EPEVT_ONHOOK));
  EXPECT_EQ(events().count(EPEVT_OFFHOOK), 1);
}

TEST_F(EndptLib, RingingShowsOnThePhoneAndStopsWhenItIsAnswered) {
  StartWithLine();
  vboardCommand("0 onhook");
  ASSERT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_RINGING, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_TRUE(Eventually([] { return vboardCommand("0 status").find("slic=RING ") != std::string::npos; }));
  vboardCommand("0 offhook");
  ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  EXPECT_TRUE(Eventually([] { return vboardCommand("0 status").find("slic=RING ") == std::string::npos; }));
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_RINGING, 0, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_DIAL2, 1, -1, -1, -1), EPSTATUS_SIGNAL_UNKNOWN);
  vboardCommand("0 onhook");
}

TEST_F(EndptLib, PacketsForUnknownOrWrongConnectionsAreRefused) {
  StartWithLine();
  uint8_t bytes[12] = {0x80, 0, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4};
  EPPACKET packet{EPMEDIATYPE_RTP, bytes};
  EXPECT_EQ(vrgEndptPacket(&line0_, 77, &packet, sizeof bytes, 0), EPSTATUS_CNX_UNKNOWN);
  EXPECT_EQ(vrgEndptSendCasEvt(nullptr, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK),
            EPSTATUS_ENDPT_UNKNOWN);
  ENDPT_STATE bad{VRG_MAX_ENDPT, EPTYPE_FXS};
  EXPECT_EQ(vrgEndptSendCasEvt(&bad, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK),
            EPSTATUS_ENDPT_UNKNOWN);
  bad.lineId = -1;
  EXPECT_EQ(vrgEndptSendCasEvt(&bad, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK),
            EPSTATUS_ENDPT_UNKNOWN);
}

TEST_F(EndptLib, NetworkPacketsAreClassifiedBeforeTheyReachTheChannel) {
  StartWithLine();
  EPZCNXPARAM params = PcmaParams();
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
  // A header-only packet is not media; it still counts as the first packet of the connection.
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(8, {})), EPSTATUS_BAD_MODE);
  ASSERT_TRUE(events().waitFor(EPEVT_MEDIA));
  // Lengths in the header that point past the packet are refused, not read.
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(8, {1, 2}, 0x8F)), EPSTATUS_BAD_MODE);
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(8, {1, 2, 3, 250}, 0xA0)), EPSTATUS_BAD_MODE);
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(101, {})), EPSTATUS_BAD_MODE);
  const int released = packetsReleased.load();
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(8, std::vector<uint8_t>(160, 0xD5))), EPSTATUS_SUCCESS);
  EXPECT_EQ(packetsReleased.load(), released + 1);
  // A ring from the network on a line that is off hook is refused and leaves the line alone.
  vboardCommand("0 offhook");
  ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(101, {144, 0x0A, 0, 160})), EPSTATUS_BUSY);
  ASSERT_TRUE(waitHookClock(0, 100));  // 100 ms of the line's time for a ring that should not come
  EXPECT_EQ(vboardCommand("0 status").find("slic=RING "), std::string::npos);
  EXPECT_EQ(events().count(EPEVT_MEDIA), 1);
  EXPECT_EQ(vrgEndptDeleteConnection(&line0_, 5), EPSTATUS_SUCCESS);
  EXPECT_EQ(SendPacket(&line0_, 5, Rtp(8, std::vector<uint8_t>(160, 0xD5))), EPSTATUS_CNX_UNKNOWN);
  vboardCommand("0 onhook");
}

TEST_F(EndptLib, ConnectionLimitsAndReservations) {
  StartWithLine();
  EPZCNXPARAM params = PcmaParams();
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(vrgEndptCreateConnection(&line0_, id, &params), EPSTATUS_SUCCESS) << id;
  }
  EXPECT_EQ(vrgEndptCreateConnection(&line0_, 4, &params), EPSTATUS_RESOURCES);
  // A connection is bound to the line in voice mode with its codec and packet time.
  CNXSTATE* first = GetCnxState(1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->lineId, 0);
  EXPECT_EQ(first->voiceMode, VM_ACTIVE);
  EXPECT_EQ(first->codecType, CODEC_PCMA);
  EXPECT_EQ(first->period, 20);
  EXPECT_EQ(first->mode, EPCNXMODE_SNDRX);
  // ... and joined to its line's channel in the switchboard in both directions.
  EXPECT_NE(first->inMask & 1u, 0u);
  EXPECT_NE(first->outMask & 1u, 0u);
  EXPECT_EQ(vrgEndptDeleteConnection(&line0_, 9), EPSTATUS_CNX_UNKNOWN);
  for (int id = 1; id <= 3; ++id) EXPECT_EQ(vrgEndptDeleteConnection(&line0_, id), EPSTATUS_SUCCESS);
  EXPECT_EQ(first->voiceMode, VM_IDLE);
  EXPECT_EQ(first->outMask & 1u, 0u);  // the line no longer hears the channel
  EXPECT_EQ(first->cnxId, -1);
  EXPECT_EQ(first->lineId, -1);
  EXPECT_EQ(GetCnxState(1), nullptr);
  // Releasing reserved connections succeeds when there are none.
  EXPECT_EQ(vrgEndptDeleteConnection(&line0_, -1), EPSTATUS_SUCCESS);
  EPZCAP cap{};
  EXPECT_EQ(vrgEndptCapabilities(&line0_, &cap), EPSTATUS_SUCCESS);
  EXPECT_EQ(cap.endptType, EPTYPE_FXS);
  EXPECT_EQ(vrgEndptDeleteConnection(&line0_, -1), EPSTATUS_SUCCESS);
  ENDPT_STATE again{};
  EXPECT_EQ(vrgEndptCreate(0, 0, &again), EPSTATUS_ENDPT_UNKNOWN);
}

TEST_F(EndptLib, DigitsFromPulsesAndTheToneServiceBecomeEvents) {
  StartWithLine();
  ASSERT_EQ(vrgEndptSendCasEvt(&line0_, CAS_CTL_PULSEDIAL_EVENT, 10), EPSTATUS_SUCCESS);
  ASSERT_TRUE(events().waitFor(EPEVT_DTMF0));
  // A pulse count without a digit reports nothing.
  ASSERT_EQ(vrgEndptSendCasEvt(&line0_, CAS_CTL_PULSEDIAL_EVENT, 11), EPSTATUS_SUCCESS);
  const uint16_t lineVhd = GetEndptState(0)->lineVhdHdl;
  HSZEVT on{lineVhd, 0x09C0, 0xFB00, 0, {}};
  on.hsxop2.val = 5;
  EndptVhdEventCallback(&on, 0);
  HSZEVT off{lineVhd, 0x09C1, 0xFB00, 0, {}};
  off.hsxop2.val = 5;
  EndptVhdEventCallback(&off, 0);
  HSZEVT longDigit{lineVhd, 0x09C0, 0xFB00, 0, {}};
  longDigit.hsxop2.val = 16;
  EndptVhdEventCallback(&longDigit, 0);
  ASSERT_TRUE(events().waitFor(EPEVT_DTMFL));
  EXPECT_EQ(events().count(EPEVT_DTMF5), 2);
  const std::vector<EPEVT> codes = events().codes();
  int digits = 0;
  for (EPEVT e : codes) digits += e >= EPEVT_DTMF0 && e <= EPEVT_DTMFD ? 1 : 0;
  EXPECT_EQ(digits, 3);  // DTMF0 from the pulses, DTMF5 on and off

  // An event whose data is copied for the dispatcher; the copy is freed after processing.
  uint8_t data[8] = {2, 0, 0, 0, 0, 0, 0, 0};
  HSZEVT withData{lineVhd, 0x1AC0, 0xFA00, sizeof data, {}};
  withData.hsxop2.ref = data;
  EndptVhdEventCallback(&withData, 0);
  // A line-test result nobody asked for only marks the test completed.
  BOARD_HAL_LT_EVENT result{};
  result.ept_id = 0;
  BoardHalSsEventCallback(&result);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(events().count(EPEVT_LT_RESULT), 0);
}

TEST_F(EndptLib, UnsetHookTimingIsLoggedAndTakenAsZero) {
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  uint32_t unset = PROV_UNSET_MARKER;
  ASSERT_EQ(vrgEndptProvSet(0, EPPROV_PlsDlInterdigitTime, &unset, sizeof unset),
            EPSTATUS_SUCCESS);
  LogCapture log;
  ASSERT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_SUCCESS);
  EXPECT_TRUE(log.contains("EPT: Couldn't get the prov item !!! provItemID " +
                           std::to_string(EPPROV_PlsDlInterdigitTime)));
  // The line still works: its hook monitoring runs on the remaining timing.
  vboardCommand("0 offhook");
  EXPECT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  vboardCommand("0 onhook");
}

}  // namespace
}  // namespace endpt_test

namespace endpt_test {
namespace {

// The packet path (the daemon's loop thread), the line-signalling task, the tick and the
// dispatcher all touch a line's records at once; ThreadSanitizer builds check that every field
// shared without a lock is atomic.
TEST_F(EndptLib, HookChangesAndPacketsAtOnceShareTheRecordsSafely) {
  StartWithLine();
  EPZCNXPARAM params = PcmaParams();
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread packets([&] {
    const std::vector<uint8_t> voice = Rtp(8, std::vector<uint8_t>(160, 0xD5));
    const std::vector<uint8_t> digit = Rtp(101, {1, 0x0A, 0, 160});
    while (!stop.load()) {
      SendPacket(&line0_, 5, voice);
      SendPacket(&line0_, 5, digit);
      VRG_ENDPT* state = GetEndptState(0);
      if (state != nullptr) (void)(state->offHook.load() + state->earlyOffHook.load());
      ++sent;
      std::this_thread::sleep_for(1ms);
    }
  });
  for (int i = 0; i < 6; ++i) {
    vboardCommand("0 offhook");
    ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK, i + 1)) << i;
    vboardCommand("0 onhook");
    ASSERT_TRUE(events().waitFor(EPEVT_ONHOOK, i + 1)) << i;
  }
  stop = true;
  packets.join();
  EXPECT_GT(sent.load(), 0);
  EXPECT_EQ(vrgEndptDeleteConnection(&line0_, 5), EPSTATUS_SUCCESS);
}

}  // namespace
}  // namespace endpt_test
