// The schedule of the G.722 concealment over a burst of lost frames, against an exact model of
// its rules: periodic extrapolation (a 20-sample cross-fade from the previous continuation, then
// the history repeated at the pitch period), fading of the third to sixth lost frame by a gain
// that falls by 52, 69, 104 and 207 per sample (the ramp running on over the continuation, which
// the sixth frame clears), silence from the seventh, and noise mixed in by the periodicity merit
// (noise only up to 5120, none above 7168, weight 16 (7168 - merit) between).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "g722.h"
#include "g722_basop.h"
#include "g722_test_signals.h"

namespace {

using namespace g722;
using g722_test::Decoder;
using g722_test::kFrame;
constexpr int kCodes = kFrame / 2;
constexpr int kPast = 426;             // history entries before the current frame in xq
constexpr int kNext = kPast + kFrame;  // the continuation beyond the frame
constexpr int kExtrapolated = 212;     // frame and continuation

std::vector<std::int16_t> decode_frame(Decoder &d, const std::int16_t *codes, bool lost) {
  std::vector<std::int16_t> out(kFrame);
  d.frame(codes, out.data(), lost);
  return out;
}

// Twenty good frames of a loud periodic signal (peaks near 27000), then the first lost frame.
Decoder after_first_loss(std::vector<std::int16_t> *codes) {
  *codes = g722_test::encode_all(g722_test::periodic(97, 30, 16000));
  Decoder d;
  for (int k = 0; k < 20; ++k) decode_frame(d, &(*codes)[static_cast<std::size_t>(k * kCodes)], false);
  decode_frame(d, &(*codes)[20 * kCodes], true);
  return d;
}

// The un-faded extrapolation of a lost frame after the first, from the record before it, with
// the pitch tap at unity (16384 in Q14): a cross-fade from the previous continuation into the
// history one period back over 20 samples, then that history repeated, sample by sample (so a
// period shorter than the span repeats what was just written).
std::vector<Word16> extrapolation(const G722_APXIII_WB_PLC_State &before, int pp) {
  std::vector<Word16> x(kExtrapolated);
  auto past = [&](int i) { return i < 0 ? before.xq[kPast + i] : x[static_cast<std::size_t>(i)]; };
  for (int i = 0; i < 20; ++i) {
    const Word16 w = static_cast<Word16>(1638 * (i + 1));
    x[static_cast<std::size_t>(i)] =
        round16(L_add(L_mult(before.xq[kNext + i], static_cast<Word16>(32767 - w)), L_mult(past(i - pp), w)));
  }
  for (int i = 20; i < kExtrapolated; ++i) x[static_cast<std::size_t>(i)] = past(i - pp);
  return x;
}

TEST(G722ConcealmentSchedule, FadingStartsAtTheThirdLostFrameWithTheStatedSteps) {
  std::vector<std::int16_t> codes;
  Decoder d = after_first_loss(&codes);
  // From here on only the stored periodicity and pitch tap count: periodic, unity tap.
  d.plc.merit = 32767;
  d.plc.ptfe = 16384;
  const Word16 steps[4] = {-52, -69, -104, -207};
  for (int lost = 2; lost <= 9; ++lost) {
    const G722_APXIII_WB_PLC_State before = d.plc;
    const auto out = decode_frame(d, &codes[21 * kCodes], true);
    ASSERT_EQ(lost, d.plc.cfecount);
    ASSERT_EQ(0, d.plc.scaler) << "no noise in a periodic extrapolation";
    const auto x = extrapolation(before, d.plc.pp);
    std::vector<Word16> expect(kExtrapolated);
    Word16 g = 32767;
    for (int i = 0; i < kExtrapolated; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      if (lost <= 2) {
        expect[k] = x[k];
      } else if (lost <= 6) {
        expect[k] = lost == 6 && i >= kFrame ? Word16{0} : mult(x[k], g);
        g = add(g, steps[lost - 3]);
      } else {
        expect[k] = 0;
      }
    }
    for (int i = 0; i < kFrame; ++i)
      ASSERT_EQ(expect[static_cast<std::size_t>(i)], out[static_cast<std::size_t>(i)]) << "lost frame " << lost << " sample " << i;
    // The continuation stays in the record for the next frame's cross-fade.
    for (int i = kFrame; i < kExtrapolated; ++i)
      ASSERT_EQ(expect[static_cast<std::size_t>(i)], d.plc.xq[kPast + i]) << "lost frame " << lost << " continuation " << i - kFrame;
  }
}

TEST(G722ConcealmentSchedule, NoiseIsMixedInByThePeriodicityMerit) {
  std::vector<std::int16_t> codes;
  const Decoder primed = after_first_loss(&codes);
  // The second lost frame (not faded) for a given merit: its output and noise weight.
  auto second_loss = [&](Word16 merit, Word16 *scaler) {
    Decoder d = primed;
    d.plc.merit = merit;
    const auto out = decode_frame(d, &codes[21 * kCodes], true);
    *scaler = d.plc.scaler;
    return out;
  };
  Word16 s;
  const auto noise = second_loss(5120, &s);
  EXPECT_EQ(32767, s) << "noise only up to 5120";
  const auto periodic = second_loss(7169, &s);
  EXPECT_EQ(0, s) << "no noise above 7168";
  ASSERT_NE(noise, periodic);
  ASSERT_GT(*std::max_element(periodic.begin(), periodic.end()), 16384) << "loud enough to show a weight of 32767";
  EXPECT_EQ(noise, second_loss(-4000, &s));
  for (Word16 merit : {5121, 5500, 6000, 6543, 7000, 7167, 7168}) {
    const auto out = second_loss(merit, &s);
    const Word16 weight = static_cast<Word16>(16 * (7168 - merit));
    ASSERT_EQ(weight, s) << merit;
    for (int i = 0; i < kFrame; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      ASSERT_EQ(round16(L_add(L_mult(static_cast<Word16>(32767 - weight), periodic[k]), L_mult(weight, noise[k]))), out[k])
          << "merit " << merit << " sample " << i;
    }
  }
}

}  // namespace
