// Frame-repeat concealment: the attenuation schedule, the reset on a good frame and the edges.
#include <gtest/gtest.h>

#include <array>

#include "conceal.h"

namespace {

struct Stream {
  std::array<int16_t, 40> history{};
  HSZCONCEAL state{};
  Stream() {
    hsfInitConceal(&state);
    hsfCfgConceal(&state, history.data(), 40);
  }
  std::array<int16_t, 40> frame(std::array<int16_t, 40> f, bool bad) {
    hsfConceal(&state, f.data(), bad ? 1 : 0, nullptr);
    return f;
  }
};

std::array<int16_t, 40> ramp(int16_t scale) {
  std::array<int16_t, 40> f;
  for (int i = 0; i < 40; ++i) f[i] = static_cast<int16_t>(scale * (i - 20));
  return f;
}

}  // namespace

TEST(FrameRepeat, TwelveQuieterCopiesThenSilence) {
  Stream s;
  const auto good = ramp(1000);
  EXPECT_EQ(s.frame(good, false), good);
  std::array<int32_t, 40> expect;
  for (int i = 0; i < 40; ++i) expect[i] = good[i];
  std::array<int16_t, 40> junk;
  junk.fill(555);
  for (int k = 1; k <= 12; ++k) {
    for (auto& v : expect) v = (v * 23198) >> 15;
    const auto out = s.frame(junk, true);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(out[i], expect[i]) << "loss " << k << " sample " << i;
  }
  for (int k = 13; k <= 20; ++k) {
    for (int16_t v : s.frame(junk, true)) ASSERT_EQ(v, 0);
  }
  // The first good frame afterwards restarts the count.
  const auto next = ramp(-300);
  EXPECT_EQ(s.frame(next, false), next);
  const auto once = s.frame(junk, true);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(once[i], (next[i] * 23198) >> 15);
  EXPECT_EQ(s.state.bad_count, 1);
}

TEST(FrameRepeat, LossBeforeAnyGoodFrameAndExtremeSamples) {
  Stream s;
  s.history.fill(-32768);
  std::array<int16_t, 40> junk{};
  const auto out = s.frame(junk, true);
  for (int16_t v : out) EXPECT_EQ(v, -23198);
  int16_t prev = -23198;
  for (int k = 2; k <= 12; ++k) {
    const auto o = s.frame(junk, true);
    EXPECT_LE(o[0], 0);
    EXPECT_GE(o[0], prev);  // shrinks towards zero, never changes sign
    prev = o[0];
  }
}

TEST(FrameRepeat, ConfigurationKeepsCountAndHistory) {
  Stream s;
  s.frame(ramp(10), false);
  s.frame(ramp(0), true);
  std::array<int16_t, 40> other{};
  hsfCfgConceal(&s.state, s.history.data(), 40);
  EXPECT_EQ(s.state.bad_count, 1);
  EXPECT_EQ(s.history[0], (-200 * 23198) >> 15);
  HSZCONCEAL unbound;
  hsfInitConceal(&unbound);
  EXPECT_EQ(unbound.r_buf, nullptr);
  EXPECT_EQ(unbound.frame_size, 0);
  other.fill(7);
  hsfConceal(&unbound, other.data(), 1, nullptr);  // nothing bound: the frame passes untouched
  EXPECT_EQ(other[0], 7);
}
