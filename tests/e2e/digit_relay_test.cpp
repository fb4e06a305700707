// A digit dialled on the phone during a call with digit relay on, on the endpoint library and the
// virtual board in this process (the daemon's own connections keep digit relay off): the digit
// reaches the PBX's side as its DTMF event and as RFC 4733 telephone-event packets, read by the
// PBX stand-in's decoder and by the independent packet analyser from a capture.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_process.h"
#include "pbxsim_media.h"
#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"

namespace {

using e2e::shell;

using namespace std::chrono_literals;

const bool kEnvironment = [] {
  ::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0", 1);
  ::setenv("ORVOX_TICK", "fast", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  ::setenv("ORVOX_BOARD_SOCKET", ("/tmp/orvox_digit_relay_" + std::to_string(::getpid()) + ".sock").c_str(), 1);
  return true;
}();

constexpr int kCnx = 3;
constexpr uint8_t kEventPt = 101;

// What the library hands to the daemon: the connection's RTP packets and the line's events.
struct Seen {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> packets;
  std::vector<EPEVT> events;
};
Seen seen;

void onPacket(ENDPT_STATE*, int cnxId, EPPACKET* packet, int length) {
  if (packet == nullptr || packet->mediaType != EPMEDIATYPE_RTP || packet->packetp == nullptr || length < 12) return;
  std::lock_guard<std::mutex> guard(seen.lock);
  if (cnxId == kCnx && seen.packets.size() < 4000) seen.packets.emplace_back(packet->packetp, packet->packetp + length);
}
void onEvent(ENDPT_STATE*, int, EPEVT event, void*, int, int) {
  std::lock_guard<std::mutex> guard(seen.lock);
  seen.events.push_back(event);
}
void onRelease(ENDPT_STATE*, int, unsigned int) {}

bool sawEvent(EPEVT event) {
  std::lock_guard<std::mutex> guard(seen.lock);
  for (EPEVT e : seen.events)
    if (e == event) return true;
  return false;
}

// Waits for a condition of the channel's progress (at most 30 s of host time: the fast tick
// normally needs a fraction of a second).
template <typename F>
bool eventually(F condition) {
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (!condition() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  return condition();
}

size_t packetCount() {
  std::lock_guard<std::mutex> guard(seen.lock);
  return seen.packets.size();
}

EPZCNXPARAM relayParams() {
  EPZCNXPARAM p{};
  p.mode = EPCNXMODE_SNDRX;
  for (CODECCNXLIST* list : {&p.cnxParmList.send, &p.cnxParmList.recv}) {
    list->codecs[0] = {CODEC_PCMA, 8, {}};
    list->codecs[1] = {CODEC_NTE, kEventPt, {}};
    list->numCodecs = 2;
    list->period[0] = CODEC_PTIME_20;
    list->numPeriods = 1;
  }
  p.namedPhoneEvts = CODEC_NTE_DTMF;
  p.digitRelayType = EPDTMFRFC2833_ENABLED;
  return p;
}

class DigitRelay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(kEnvironment);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  }
  static void TearDownTestSuite() { ::unlink(vboardSocketPath().c_str()); }
};

TEST_F(DigitRelay, DialledDigitLeavesAsItsEventAndAsTelephoneEventPackets) {
  ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
  ASSERT_EQ(vrgEndptInit(&cfg, onEvent, onPacket, nullptr, nullptr, onRelease, nullptr), EPSTATUS_SUCCESS);
  ENDPT_STATE line{};
  ASSERT_EQ(vrgEndptCreate(0, 0, &line), EPSTATUS_SUCCESS);
  vboardCommand("0 offhook");
  ASSERT_TRUE(eventually([] { return sawEvent(EPEVT_OFFHOOK); }));
  EPZCNXPARAM p = relayParams();
  ASSERT_EQ(vrgEndptCreateConnection(&line, kCnx, &p), EPSTATUS_SUCCESS);
  // Half a second of the call, the digit 5 held for 200 ms, then a second more.
  ASSERT_TRUE(eventually([] { return packetCount() >= 25; }));
  vboardCommand("0 dial 5 200 100");
  ASSERT_TRUE(eventually([] { return sawEvent(EPEVT_DTMF5); }));
  const size_t afterDigit = packetCount();
  ASSERT_TRUE(eventually([&] { return packetCount() >= afterDigit + 50; }));
  EXPECT_EQ(vrgEndptDeleteConnection(&line, kCnx), EPSTATUS_SUCCESS);
  vboardCommand("0 onhook");
  vrgEndptDestroy(&line);
  vrgEndptDeinit();

  std::vector<std::vector<uint8_t>> packets;
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    packets = seen.packets;
  }
  // The PBX stand-in's reading of the stream, with a capture for the analyser.
  const std::string pcap = "/tmp/orvox_digit_relay_" + std::to_string(::getpid()) + ".pcap";
  pbxmedia::Receiver receiver;
  std::string error;
  ASSERT_TRUE(receiver.capturing = receiver.pcap.open(pcap, &error)) << error;
  int voice = 0, other = 0, voiceDuringEvent = 0;
  size_t firstEvent = packets.size(), lastEvent = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    receiver.onPacket(packets[i]);
    const uint8_t pt = packets[i][1] & 0x7f;
    if (pt == kEventPt) {
      firstEvent = std::min(firstEvent, i);
      lastEvent = i;
    } else if (pt == 8) {
      ++voice;
    } else {
      ++other;
    }
  }
  // The tone is relayed, not coded: no voice packet leaves while the event is sent.
  for (size_t i = firstEvent; i < lastEvent; ++i) voiceDuringEvent += (packets[i][1] & 0x7f) == 8 ? 1 : 0;
  receiver.pcap.close();
  const auto& relayed = receiver.relayedEvents();
  for (const auto& r : relayed) std::printf("%s\n", pbxmedia::describeRelayedEvent(r).c_str());
  std::printf("%zu packets: %d voice, %llu telephone events, %d of other types\n", packets.size(), voice,
              static_cast<unsigned long long>(receiver.events()), other);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(voiceDuringEvent, 0);
  ASSERT_EQ(relayed.size(), 1u);
  const pbxmedia::RelayedEvent& e = relayed.front();
  EXPECT_EQ(e.payloadType, kEventPt);
  EXPECT_EQ(e.event, 5);
  EXPECT_TRUE(e.marker);
  EXPECT_TRUE(e.steady) << "event code and volume keep, the duration never falls";
  EXPECT_GE(e.updates, 2);
  EXPECT_EQ(e.ends, 3);
  EXPECT_TRUE(e.endsAgree);
  EXPECT_FALSE(e.afterEnd);
  // The tone sounded 200 ms at the phone's level: its duration as detected, and a volume in the
  // range a phone's digit has (its loudest tone about -6 to -9 dBm0).
  EXPECT_NEAR(e.endDuration, 1600, 320);
  EXPECT_GE(e.volume, 3);
  EXPECT_LE(e.volume, 20);

  // The independent analyser reads the same events from the capture.
  const std::string fields = shell("tshark -r " + pcap +
                                   " -d udp.port==5004,rtp -o rtpevent.event_payload_type_value:101 -Y rtpevent"
                                   " -T fields -e rtpevent.event_id -e rtpevent.end_of_event -e rtpevent.volume"
                                   " -e rtpevent.duration 2>/dev/null");
  ::unlink(pcap.c_str());
  std::istringstream rows(fields);
  int rowsRead = 0, ends = 0, lastDuration = -1;
  bool growing = true;  // each update longer than the one before, the ends repeating the last
  for (std::string row; std::getline(rows, row);) {
    std::istringstream f(row);
    int id = -1, end = -1, volume = -1, duration = -1;
    f >> id >> end >> volume >> duration;
    ++rowsRead;
    EXPECT_EQ(id, 5) << row;
    EXPECT_EQ(volume, e.volume) << row;
    if (end == 0 ? duration <= lastDuration : duration < lastDuration) growing = false;
    lastDuration = duration;
    ends += end == 1 ? 1 : 0;
  }
  std::printf("analyser: %d telephone-event packets, %d with the end bit, last duration %d\n", rowsRead, ends,
              lastDuration);
  EXPECT_EQ(rowsRead, e.updates + e.ends);
  EXPECT_EQ(ends, 3);
  EXPECT_TRUE(growing);
  EXPECT_EQ(lastDuration, e.endDuration);
}

}  // namespace
