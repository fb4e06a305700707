// The receive audio pipe's framing: whatever a writer puts on the pipe, the reader keeps going
// and delivers the next good frame; its error line is rate-limited.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio_rx.h"

namespace {

std::vector<std::string> gDelivered;

void collect(tl_packet_t* packet) {
  gDelivered.emplace_back(reinterpret_cast<const char*>(packet->data), packet->size);
}

std::string frame(const std::string& payload) {
  uint32_t size = static_cast<uint32_t>(payload.size());
  return std::string(reinterpret_cast<const char*>(&size), 4) + payload;
}

// One read of the pipe that returned `bytes` when up to `readSize` were asked for.
int feed(tl_bus_t* bus, std::string bytes, size_t readSize = 4096) {
  tl_event_t event{reinterpret_cast<uint8_t*>(bytes.data()), static_cast<int>(bytes.size())};
  return audioRxFeed(bus, &event, readSize);
}

class AudioRx : public ::testing::Test {
 protected:
  void SetUp() override {
    gDelivered.clear();
    bus = tl_bus_new(0);
    ASSERT_NE(bus, nullptr);
    tl_bus_add_handler(bus, collect);
  }
  void TearDown() override { tl_bus_free(bus); }
  tl_bus_t* bus = nullptr;
};

TEST_F(AudioRx, GarbageIsDroppedAndTheNextWriteIsRead) {
  EXPECT_EQ(feed(bus, "\xff\xff\xff\xff"), 0);
  EXPECT_EQ(feed(bus, "hello"), 0);
  EXPECT_EQ(bus->bufUsed, 0u);
  EXPECT_EQ(feed(bus, frame("good")), 1);
  ASSERT_EQ(gDelivered.size(), 1u);
  EXPECT_EQ(gDelivered[0], "good");
}

TEST_F(AudioRx, AHalfFrameFromAWriterThatDiedIsDroppedAtTheEndOfAShortRead) {
  const std::string whole = frame(std::string(172, 'a'));
  EXPECT_EQ(feed(bus, whole.substr(0, 100)), 0);
  EXPECT_EQ(bus->bufUsed, 0u);
  EXPECT_EQ(feed(bus, frame("next")), 1);
  ASSERT_EQ(gDelivered.size(), 1u);
  EXPECT_EQ(gDelivered[0], "next");
}

TEST_F(AudioRx, AFrameSplitByAFullReadIsCompletedByTheNext) {
  std::string two = frame(std::string(3000, 'a')) + frame(std::string(3000, 'b'));
  EXPECT_EQ(feed(bus, two.substr(0, 4096)), 1);  // the read was as long as asked: more follows
  EXPECT_GT(bus->bufUsed, 0u);
  EXPECT_EQ(feed(bus, two.substr(4096)), 1);
  ASSERT_EQ(gDelivered.size(), 2u);
  EXPECT_EQ(gDelivered[1], std::string(3000, 'b'));
}

TEST(LogRateLimit, ABurstPerIntervalThenACountOfWhatWasHeldBack) {
  logRateLimit_t limit;  // 1000 ms intervals
  limit.burst = 3;
  unsigned held = 99;
  int printed = 0;
  for (int i = 0; i < 10; ++i) printed += logRateAllow(&limit, 5000 + i, &held) ? 1 : 0;
  EXPECT_EQ(printed, 3);
  EXPECT_FALSE(logRateAllow(&limit, 5999, &held));
  ASSERT_TRUE(logRateAllow(&limit, 6000, &held));  // a new interval
  EXPECT_EQ(held, 8u);
  ASSERT_TRUE(logRateAllow(&limit, 6001, &held));
  EXPECT_EQ(held, 0u);
  // A clock that steps back starts a new interval rather than muting the line for good.
  for (int i = 0; i < 5; ++i) logRateAllow(&limit, 6002, &held);
  EXPECT_TRUE(logRateAllow(&limit, 100, &held));
}

int64_t gNowMs;

// The printed form, on a clock the test moves: a flood of one kind of line shows a burst, then
// one line per interval carrying the count of those held back; another kind has its own limit.
TEST(LogRateLimit, AFloodPrintsABurstThenOneLineWithTheCountOfWhatWasHeldBack) {
  gNowMs = 50000;
  logLimitSetClock([] { return gNowMs; });
  logRateLimit_t refused, unknown;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 5000; ++i) {  // half a second at 10,000 lines a second
    logLimited(&refused, "Error vrgEndptPacket: %s", "endpoint is in wrong mode");
    if (i % 500 == 0) logLimited(&unknown, "Unknown event from endpoint: %d", 22);
    gNowMs += i % 10 == 9 ? 1 : 0;
  }
  gNowMs += 1000;
  logLimited(&refused, "Error vrgEndptPacket: %s", "endpoint is in wrong mode");
  const std::string out = testing::internal::GetCapturedStdout();
  logLimitSetClock(nullptr);
  auto lines = [&](const std::string& text) {
    int n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(lines("Error vrgEndptPacket: endpoint is in wrong mode"), 5 + 1) << out;
  EXPECT_EQ(lines("Unknown event from endpoint: 22\n"), 5) << out;
  EXPECT_EQ(lines("\n"), 11) << out;
  EXPECT_NE(out.find("Error vrgEndptPacket: endpoint is in wrong mode (4995 more not shown)\n"),
            std::string::npos)
      << out;
}

// Text from the bus cannot break a log line or make one long: every control character is an
// escape, and the text is cut at its bound (with a mark) however long it was.
TEST(LogText, ControlCharactersAreEscapedAndLongTextIsCut) {
  EXPECT_STREQ(logText("a\nb\r\tc\\d\x1b[0m\x7f").text, "a\\nb\\r\\tc\\\\d\\x1b[0m\\x7f");
  EXPECT_STREQ(logText(nullptr).text, "");
  EXPECT_STREQ(logText("K\xc3\xb6k").text, "K\xc3\xb6k");  // UTF-8 passes
  const std::string atBound(LOG_TEXT_MAX, 'x');
  EXPECT_EQ(logText(atBound.c_str()).text, atBound);
  const std::string flood(400000, '\n');
  std::string escapes;
  for (size_t i = 0; i < LOG_TEXT_MAX; i++) escapes += "\\n";
  EXPECT_EQ(logText(flood.c_str()).text, escapes + "...");
}

}  // namespace
