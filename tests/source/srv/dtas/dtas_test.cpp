// Alerting-signal detection in a line channel with 5 ms frames, on dual tones from the
// independent generator: one event for a signal of the right length, none for too short or too
// long ones, the frequency tolerance, a bridged dropout, and nothing on speech or DTMF.
#include <gtest/gtest.h>

#include <vector>

#include "../../fnc/tone/oracle_tones.h"
#include "../linetest/line_harness.h"
#include "../linetest/test_signals.h"
#include "dtas.h"

using namespace linetest;

namespace {

class Dtas : public ::testing::Test {
 protected:
  void SetUp() override { open(&dtasarc, 40); }
  void TearDown() override { close(); }
  size_t alerts(const std::vector<int16_t>& x) {
    world().host.clear();
    world().ingressIn.assign(x.begin(), x.end());
    drain(40);
    return events(HAPI_DTAS_DETECT_EVT).size();
  }
};

std::vector<int16_t> cas(int ms, int f1 = 2130, int f2 = 2750, int level = -20) {
  std::vector<int16_t> x(800, 0);
  const auto t = oracle::dualTone(f1, level, f2, level, ms);
  x.insert(x.end(), t.begin(), t.end());
  x.resize(x.size() + 1600, 0);
  return x;
}

}  // namespace

TEST_F(Dtas, OneEventForSeventyToNinetyFiveMilliseconds) {
  for (int ms : {70, 75, 80, 85, 90, 95}) EXPECT_EQ(alerts(cas(ms)), 1u) << ms;
  for (int ms : {50, 60, 120, 200}) EXPECT_EQ(alerts(cas(ms)), 0u) << ms;
}

TEST_F(Dtas, HalfPercentAcceptedOneAndAHalfRejected) {
  for (int sign : {-1, 1}) {
    EXPECT_EQ(alerts(cas(80, 2130 + sign * 11, 2750)), 1u) << sign;  // 0.52 %
    EXPECT_EQ(alerts(cas(80, 2130, 2750 + sign * 14)), 1u) << sign;  // 0.51 %
    EXPECT_EQ(alerts(cas(80, 2130 + sign * 31, 2750)), 0u) << sign;  // 1.46 %
    EXPECT_EQ(alerts(cas(80, 2130, 2750 + sign * 41)), 0u) << sign;  // 1.49 %
  }
}

TEST_F(Dtas, DropoutBridgedAndTwist) {
  // 40 ms, 5 ms gap, 40 ms: one signal.
  std::vector<int16_t> x(800, 0);
  auto a = oracle::dualTone(2130, -20, 2750, -20, 40);
  x.insert(x.end(), a.begin(), a.end());
  x.resize(x.size() + 40, 0);
  x.insert(x.end(), a.begin(), a.end());
  x.resize(x.size() + 1600, 0);
  EXPECT_EQ(alerts(x), 1u);
  // Groups 6 dB apart pass; 10 dB apart do not.
  std::vector<int16_t> y(800, 0);
  auto t = oracle::dualTone(2130, -14, 2750, -20, 80);
  y.insert(y.end(), t.begin(), t.end());
  y.resize(y.size() + 1600, 0);
  EXPECT_EQ(alerts(y), 1u);
  std::vector<int16_t> z(800, 0);
  t = oracle::dualTone(2130, -10, 2750, -20, 80);
  z.insert(z.end(), t.begin(), t.end());
  z.resize(z.size() + 1600, 0);
  EXPECT_EQ(alerts(z), 0u);
}

TEST_F(Dtas, NothingOnSpeechMusicOrDtmfAndDisableWorks) {
  std::vector<int16_t> x = testsig::speechLike(15, 91);
  const auto m = testsig::musicLike(10, 92);
  x.insert(x.end(), m.begin(), m.end());
  const auto d = oracle::dtmf("0123456789*#ABCD", 80, 80);
  x.insert(x.end(), d.begin(), d.end());
  EXPECT_EQ(alerts(x), 0u);
  EXPECT_EQ(command(HAPI_DTAS_ENABLE_CMD, 0, 0).result, HAPISUCCESS);
  EXPECT_EQ(alerts(cas(80)), 0u);
  EXPECT_EQ(command(HAPI_DTAS_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  EXPECT_EQ(alerts(cas(80)), 1u);
  EXPECT_EQ(command(0x45B1, 0, 0).result, HAPIFAILURE);
}
