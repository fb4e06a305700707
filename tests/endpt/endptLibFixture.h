// The endpoint library started on the virtual board for a test: the daemon-side callbacks record
// every event (and can hold the dispatcher inside one), and a few packet and connection helpers.
#pragma once

#include <dirent.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "casCtl.h"
#include "memCircBuf.h"
#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptDispatcher.h"
#include "vrgEndptState.h"

namespace endpt_test {

using namespace std::chrono_literals;

inline std::string BoardSocketPath() {
  return "/tmp/orvox_board_test_" + std::to_string(::getpid()) + ".sock";
}

inline const bool kEnvironment = [] {
  // Two phones, lines 0 and 1, and an exchange line (a DECT channel would take line 0: DECT
  // lines come first).
  ::setenv("ORVOX_BOARD", "fxs=2,fxo=1,dect=0", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  // Test programs run side by side: each board gets a control socket of its own.
  ::setenv("ORVOX_BOARD_SOCKET", BoardSocketPath().c_str(), 1);
  return true;
}();

struct Event {
  int line;
  int cnxId;
  EPEVT event;
  int value;
  int data;  // the first 32-bit word of the event's data, -1 without data
};

// Records the daemon-side events; can hold the dispatcher inside the callback for one event.
class EventLog {
 public:
  void add(ENDPT_STATE* state, int cnxId, EPEVT event, int value, int data) {
    std::unique_lock<std::mutex> lock(mutex_);
    events_.push_back({state != nullptr ? state->lineId : -1, cnxId, event, value, data});
    changed_.notify_all();
    if (event == holdOn_) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return !hold_; });
      held_ = false;
    }
  }
  void holdOn(EPEVT event) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdOn_ = event;
    hold_ = true;
  }
  bool waitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = false;
    holdOn_ = EPEVT_LAST;
    changed_.notify_all();
  }
  bool waitFor(EPEVT event, int count = 1, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return countLocked(event) >= count; });
  }
  int count(EPEVT event) {
    std::lock_guard<std::mutex> lock(mutex_);
    return countLocked(event);
  }
  std::vector<Event> all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<EPEVT> codes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<EPEVT> out;
    for (const Event& e : events_) out.push_back(e.event);
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

 private:
  int countLocked(EPEVT event) {
    int n = 0;
    for (const Event& e : events_) n += e.event == event ? 1 : 0;
    return n;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  EPEVT holdOn_ = EPEVT_LAST;
  bool hold_ = false;
  bool held_ = false;
};

inline EventLog& events() {
  static EventLog log;
  return log;
}

inline void OnEvent(ENDPT_STATE* state, int cnxId, EPEVT event, void* data, int length, int value) {
  int word = -1;
  if (data != nullptr && length >= 4) std::memcpy(&word, data, sizeof word);
  events().add(state, cnxId, event, value, word);
}

inline std::atomic<int> packetsReleased{0};
// Packets handed to the daemon, by media type (RTP, RTCP, T.38).
inline std::atomic<int> packetsDelivered[3];

inline void OnPacket(ENDPT_STATE*, int, EPPACKET* packet, int) {
  if (packet != nullptr && packet->mediaType >= 0 && packet->mediaType < 3) {
    ++packetsDelivered[packet->mediaType];
  }
}
inline void OnPacketRelease(ENDPT_STATE*, int, unsigned int) { ++packetsReleased; }

// A send-and-receive connection with PCMA 20 ms that receives telephone events on payload type
// 101 (it sends none: digit relay needs the channel's NET service).
inline EPZCNXPARAM PcmaParams() {
  EPZCNXPARAM p{};
  p.mode = EPCNXMODE_SNDRX;
  for (CODECCNXLIST* list : {&p.cnxParmList.send, &p.cnxParmList.recv}) {
    list->codecs[0] = {CODEC_PCMA, 8, {}};
    list->numCodecs = 1;
    list->period[0] = CODEC_PTIME_20;
    list->numPeriods = 1;
  }
  p.cnxParmList.recv.codecs[1] = {CODEC_NTE, 101, {}};
  p.cnxParmList.recv.numCodecs = 2;
  p.namedPhoneEvts = CODEC_NTE_DTMF;
  p.digitRelayType = EPDTMFRFC2833_DISABLED;
  p.dataMode = EPDATAMODE_VBD;
  return p;
}

inline std::vector<uint8_t> Rtp(uint8_t payloadType, std::vector<uint8_t> payload, uint8_t first = 0x80) {
  std::vector<uint8_t> p = {first, payloadType, 0, 1, 0, 0, 0, 160, 1, 2, 3, 4};
  for (uint8_t b : payload) p.push_back(b);
  return p;
}

inline EPSTATUS SendPacket(ENDPT_STATE* line, int cnxId, std::vector<uint8_t> bytes) {
  EPPACKET packet{EPMEDIATYPE_RTP, bytes.data()};
  return vrgEndptPacket(line, cnxId, &packet, static_cast<int>(bytes.size()), 0);
}

inline int CountEntries(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

inline int Threads() { return CountEntries("/proc/self/task"); }
inline int Descriptors() { return CountEntries("/proc/self/fd"); }

inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

inline EPSTATUS Init() {
  ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
  return vrgEndptInit(&cfg, OnEvent, OnPacket, nullptr, nullptr, OnPacketRelease, nullptr);
}

class EndptLib : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(kEnvironment);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  }
  static void TearDownTestSuite() { ::unlink(BoardSocketPath().c_str()); }
  void TearDown() override {
    events().release();
    if (isEndptInitialized()) vrgEndptDeinit();
    events().clear();
  }
  // Starts the library with line 0 created.
  void StartWithLine() {
    ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
    ASSERT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_SUCCESS);
    EXPECT_EQ(line0_.endptType, EPTYPE_FXS);
  }
  // Holds the dispatcher inside the event callback of a simulated flash on line 0.
  void HoldDispatcher() {
    events().holdOn(EPEVT_FLASH);
    ASSERT_EQ(vrgEndptSendCasEvt(&line0_, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH),
              EPSTATUS_SUCCESS);
    ASSERT_TRUE(events().waitHeld());
  }
  ENDPT_STATE line0_{};
};

}  // namespace endpt_test
