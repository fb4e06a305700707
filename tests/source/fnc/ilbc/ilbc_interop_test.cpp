// Our streams through libavcodec's independent iLBC decoder. It has no enhancer and is not
// bit-exact with ours, so the comparisons are measured floors, not equality.
#include <gtest/gtest.h>

#include <cstdio>

#include "ilbc_avcodec.h"
#include "ilbc_test_util.h"

namespace {

using namespace ilbc_test;

// Floors measured on the speech fixture (20 ms: 39.9 dB, 13.4 dB, 0.987; 30 ms: 39.7 dB, 12.9 dB,
// 0.987), each set a little below what was measured.
struct Floors {
  int mode;
  double vs_ours;      // segmental SNR of its output against ours without the enhancer
  double vs_input;     // segmental SNR of its output against the high-passed input
  double correlation;  // of our enhanced output, shifted back by the delay, with its output
};

class IlbcInterop : public ::testing::TestWithParam<Floors> {};

TEST_P(IlbcInterop, IndependentDecoderAgreesWithOurStreams) {
  const Floors f = GetParam();
  const int mode = f.mode, n = frame_len(mode), delay = mode == 30 ? 80 : 40;
  AvIlbcDecoder av(mode);
  ASSERT_TRUE(av.ok());
  const auto speech = load_speech(8000 * 6, n);
  const auto payloads = encode_all(speech, mode);
  std::vector<std::int16_t> theirs;
  std::vector<std::int16_t> frame(static_cast<std::size_t>(n));
  for (const auto& p : payloads) {
    ASSERT_TRUE(av.decode(to_octets(p), frame.data()));
    theirs.insert(theirs.end(), frame.begin(), frame.end());
  }
  // Its 20 ms decoder starts from other initial memories and its first frame goes far off, so the
  // first two frames of every signal are left out of the comparison.
  const auto settled = [n](std::vector<std::int16_t> v) { return std::vector<std::int16_t>(v.begin() + 2 * n, v.end()); };
  theirs = settled(theirs);
  const auto plain = settled(decode_all(payloads, mode, 0));
  const auto enhanced = settled(decode_all(payloads, mode, 1));
  const auto reference = settled(high_passed(speech, mode));
  const double snr_ours = segmental_snr(plain, theirs);
  const double snr_input = segmental_snr(reference, theirs);
  const double corr = correlation(theirs, enhanced, delay);
  std::printf("mode %d: libavcodec vs ours (no enhancer) %.2f dB, vs input %.2f dB, ours vs input %.2f dB, "
              "enhanced correlation %.4f (unshifted %.4f)\n",
              mode, snr_ours, snr_input, segmental_snr(reference, plain), corr, correlation(theirs, enhanced, 0));
  EXPECT_GE(snr_ours, f.vs_ours);
  EXPECT_GE(snr_input, f.vs_input);
  EXPECT_GE(corr, f.correlation);
  EXPECT_GT(corr, correlation(theirs, enhanced, 0) + 0.05);
}

INSTANTIATE_TEST_SUITE_P(Modes, IlbcInterop,
                         ::testing::Values(Floors{20, 38.0, 12.5, 0.98}, Floors{30, 38.0, 12.0, 0.98}));

}  // namespace
