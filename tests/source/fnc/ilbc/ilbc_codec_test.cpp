// End-to-end behaviour of the iLBC codec: the encoder's reconstruction against the decoder's,
// coding quality on speech, the enhancer's delay and the concealment of lost frames.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>

#include "ilbc_enhancer.h"
#include "ilbc_plc.h"
#include "ilbc_tables.h"
#include "ilbc_test_util.h"

namespace {

using namespace ilbc_test;

class IlbcModes : public ::testing::TestWithParam<int> {};

// The encoder decodes its own frame to extend its codebook memory; that reconstruction must be
// exactly what a decoder makes of the payload, or the two drift apart.
TEST_P(IlbcModes, EncoderReconstructionEqualsDecoder) {
  const int mode = GetParam(), n = frame_len(mode);
  const auto speech = load_speech(8000 * 13, n);
  iLBC_Enc_Inst_t enc{};
  iLBC_Dec_Inst_t dec{};
  ILBCFIX_MORV_initEncode(&enc, static_cast<std::int16_t>(mode));
  ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), 0);
  ilbc::FrameTrace te{}, td{};
  std::vector<std::int16_t> block(static_cast<std::size_t>(n)), out(static_cast<std::size_t>(n));
  std::vector<std::uint16_t> words(static_cast<std::size_t>(frame_words(mode)));
  int equal = 0, frames = 0;
  for (std::size_t p = 0; p + static_cast<std::size_t>(n) <= speech.size(); p += static_cast<std::size_t>(n)) {
    std::copy_n(speech.begin() + static_cast<long>(p), n, block.begin());
    ilbc::encode_frame(words.data(), block.data(), &enc, &te);
    ilbc::decode_frame(out.data(), words.data(), &dec, 1, &td);
    ASSERT_FALSE(td.concealed) << "frame " << frames;
    equal += std::equal(te.residual, te.residual + n, td.residual) && std::equal(te.synthesis, te.synthesis + n, td.synthesis);
    ++frames;
  }
  std::printf("mode %d: %d of %d frames equal\n", mode, equal, frames);
  EXPECT_EQ(equal, frames);
}

TEST_P(IlbcModes, RoundTripOnSpeechKeepsQuality) {
  const int mode = GetParam(), delay = mode == 30 ? 80 : 40;
  const auto speech = load_speech(8000 * 4, frame_len(mode));
  const auto reference = high_passed(speech, mode);
  const auto payloads = encode_all(speech, mode);
  const auto plain = decode_all(payloads, mode, 0);
  const auto enhanced = decode_all(payloads, mode, 1);
  const double snr_plain = segmental_snr(reference, plain), snr_enh = segmental_snr(reference, enhanced, delay);
  std::printf("mode %d: segmental SNR %.2f dB without the enhancer, %.2f dB with it (delay %d)\n", mode, snr_plain,
              snr_enh, delay);
  EXPECT_GT(snr_plain, 12.0);
  EXPECT_GT(snr_enh, 10.0);
  EXPECT_GT(correlation(reference, enhanced, delay), 0.97);
}

// An impulse in the residual leaves the enhancer one delay later, unchanged when nothing around
// it correlates; an all-zero history gives all-zero output.
TEST_P(IlbcModes, EnhancerDelaysByHalfOrOneBlock) {
  const int mode = GetParam(), n = frame_len(mode), delay = mode == 30 ? 80 : 40;
  iLBC_Dec_Inst_t dec{};
  ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), 1);
  std::vector<std::int16_t> in(static_cast<std::size_t>(n), 0), out(static_cast<std::size_t>(n), 1);
  ilbc::ilbc_enhancerInterface(out.data(), in.data(), &dec, ilbc::ilbc_polyphaserTbl_q15.data());
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == 0; }));
  in[10] = 5000;
  std::vector<std::int16_t> stream;
  for (int f = 0; f < 3; ++f) {
    ilbc::ilbc_enhancerInterface(out.data(), in.data(), &dec, ilbc::ilbc_polyphaserTbl_q15.data());
    stream.insert(stream.end(), out.begin(), out.end());
    std::fill(in.begin(), in.end(), 0);
  }
  // The stream starts `delay` samples before the first input frame: the impulse leaves at
  // 10 + delay and most of its energy stays in that sample (the smoothing lends a little of it to
  // the periods around).
  const auto peak = std::max_element(stream.begin(), stream.end(), [](auto a, auto b) { return std::abs(a) < std::abs(b); });
  EXPECT_EQ(peak - stream.begin(), 10 + delay);
  EXPECT_NEAR(*peak, 5000, 250);
  double e = 0;
  for (auto v : stream) e += double(v) * v;
  EXPECT_GT(double(*peak) * *peak, 0.8 * e);
}

// Frames that fail the checks are concealed exactly like a lost frame from the same state.
TEST_P(IlbcModes, InvalidFramesAreConcealedLikeLostOnes) {
  const int mode = GetParam(), n = frame_len(mode);
  const auto speech = load_speech(8000, n);
  const auto payloads = encode_all(speech, mode);
  std::vector<std::vector<std::uint16_t>> bad;
  auto with = [&](auto edit) {
    auto p = payloads[10];
    ilbc::IndexSet s;
    ilbc::ilbc_unpack_data(mode, p.data(), &s);
    edit(s, p);
    bad.push_back(p);
  };
  with([](ilbc::IndexSet&, Payload& p) { p.back() |= 1; });  // final bit
  with([&](ilbc::IndexSet& s, Payload& p) { s.start = 0; ilbc::ilbc_pack_data(mode, p.data(), s); });
  if (mode == 30) {
    with([&](ilbc::IndexSet& s, Payload& p) { s.start = 6; ilbc::ilbc_pack_data(mode, p.data(), s); });
    with([&](ilbc::IndexSet& s, Payload& p) { s.start = 7; ilbc::ilbc_pack_data(mode, p.data(), s); });
  } else {
    // 126 vectors in the 23-sample extra block's codebook: indices 126 and 127 do not exist.
    with([&](ilbc::IndexSet& s, Payload& p) { s.extra_cb_index[1] = 126; ilbc::ilbc_pack_data(mode, p.data(), s); });
    with([&](ilbc::IndexSet& s, Payload& p) { s.extra_cb_index[2] = 127; ilbc::ilbc_pack_data(mode, p.data(), s); });
  }
  for (const auto& b : bad) {
    std::vector<Payload> lost(payloads.begin(), payloads.begin() + 10), broken = lost;
    lost.emplace_back();
    broken.push_back(b);
    lost.push_back(payloads[11]);
    broken.push_back(payloads[11]);
    EXPECT_EQ(decode_all(lost, mode), decode_all(broken, mode));
  }
}

// Losses: the first frames after a loss are repeated from the history and fade; a stream with
// 10 % random loss still follows the speech; losses before any good frame give silence.
TEST_P(IlbcModes, ConcealmentOnSpeech) {
  const int mode = GetParam(), n = frame_len(mode), delay = mode == 30 ? 80 : 40;
  const auto speech = load_speech(8000 * 4, n);
  const auto reference = high_passed(speech, mode);
  const auto payloads = encode_all(speech, mode);
  const auto clean = decode_all(payloads, mode);

  std::vector<Payload> first_lost(3);
  const auto silent = decode_all(first_lost, mode);
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](std::int16_t v) { return v == 0; }));

  std::mt19937 rng(41);
  auto lossy = payloads;
  int lost = 0;
  for (auto& p : lossy)
    if (rng() % 10 == 0) {
      p.clear();
      ++lost;
    }
  const auto out = decode_all(lossy, mode);
  const double c_clean = correlation(reference, clean, delay), c_lossy = correlation(reference, out, delay);
  std::printf("mode %d: %d of %zu frames lost, correlation %.3f (clean %.3f)\n", mode, lost, lossy.size(), c_lossy,
              c_clean);
  EXPECT_GT(c_lossy, 0.75);

  // A burst in loud speech: the output never grows louder than the speech before it, and
  // decoding recovers within two frames of the burst's end.
  int loud = 0;
  for (std::size_t f = 4; f + 12 < payloads.size(); ++f)
    if (rms(&clean[f * static_cast<std::size_t>(n)], n) > 2000) {
      loud = static_cast<int>(f);
      break;
    }
  ASSERT_GT(loud, 0);
  auto burst = payloads;
  for (int f = loud; f < loud + 5; ++f) burst[static_cast<std::size_t>(f)].clear();
  const auto bout = decode_all(burst, mode);
  const double before = rms(&clean[static_cast<std::size_t>((loud - 1) * n)], n);
  for (int f = loud; f < loud + 5; ++f) EXPECT_LT(rms(&bout[static_cast<std::size_t>(f * n)], n), 2 * before) << f;
  const std::size_t after = static_cast<std::size_t>((loud + 7) * n);
  const std::vector<std::int16_t> tail_clean(clean.begin() + static_cast<long>(after), clean.end());
  const std::vector<std::int16_t> tail_burst(bout.begin() + static_cast<long>(after), bout.end());
  EXPECT_GT(segmental_snr(tail_clean, tail_burst), 15.0);
}

INSTANTIATE_TEST_SUITE_P(Modes, IlbcModes, ::testing::Values(20, 30));

// The concealment itself on a strongly periodic history: repetition at the lag with the gains of
// the two attenuation levels, frame after frame.
TEST(IlbcConcealment, PeriodicHistoryFadesByTheStatedGains) {
  for (int mode : {20, 30}) {
    iLBC_Dec_Inst_t dec{};
    ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), 1);
    const int n = frame_len(mode);
    std::array<std::int16_t, 240> res{}, out{};
    for (int i = 0; i < n; ++i) res[static_cast<std::size_t>(i)] = static_cast<std::int16_t>((i % 40) * 200 - 4000);
    std::array<std::int16_t, 11> lpc{4096}, plc_lpc{};
    ilbc::ilbc_doThePLC(res.data(), plc_lpc.data(), 0, res.data(), lpc.data(), 40, &dec);
    std::array<std::int16_t, 240> prev = res;
    for (int frame = 1; frame <= 4; ++frame) {
      ilbc::ilbc_doThePLC(out.data(), plc_lpc.data(), 1, nullptr, nullptr, 40, &dec);
      EXPECT_EQ(dec.prevPitch, 40);
      const bool level2 = frame * n > 320;
      const double g[3] = {level2 ? 0.9 : 1.0, level2 ? 0.855 : 0.95, level2 ? 0.81 : 0.9};
      // Lag 40 repeats at 80: sample i comes from 80 samples back.
      for (int i = 0; i < n; ++i) {
        const int src = i - 80;
        const double p = src < 0 ? prev[static_cast<std::size_t>(n + src)] : out[static_cast<std::size_t>(src)];
        EXPECT_NEAR(out[static_cast<std::size_t>(i)], p * g[i / 80], 2.0) << "mode " << mode << " frame " << frame << " sample " << i;
      }
      prev = out;
    }
    EXPECT_EQ(dec.consPLICount, 4);
  }
}

// Continuing a loss with a stored periodicity: at the lower threshold the output is the noise
// copy alone, and just above it the square-root mapping starts from (about) zero pitch share,
// even where its rounding dips a little below zero.
TEST(IlbcConcealment, PeriodicityJustAboveTheNoiseThreshold) {
  auto conceal = [](std::int32_t per) {
    iLBC_Dec_Inst_t dec{};
    ILBCFIX_MORV_initDecode(&dec, 20, 1);
    for (int i = 0; i < 160; ++i) dec.prevResidual[i] = static_cast<std::int16_t>((i * 811) % 4001 - 2000);
    dec.prevPLI = 1;
    dec.prevPitch = 45;
    dec.per_q31 = per;
    dec.consPLICount = 1;
    std::array<std::int16_t, 240> out{};
    std::array<std::int16_t, 11> lpc{};
    ilbc::ilbc_doThePLC(out.data(), lpc.data(), 1, nullptr, nullptr, 45, &dec);
    return out;
  };
  const auto noise = conceal(343597384);
  for (std::int32_t per = 343597385; per < 343597385 + 400000; per += 20011) {
    const auto out = conceal(per);
    for (int i = 0; i < 160; ++i) EXPECT_NEAR(out[static_cast<std::size_t>(i)], noise[static_cast<std::size_t>(i)], 40) << per << " " << i;
  }
}

// Lags below 80 repeat at twice their length: 79 at 158 samples, 80 at 80.
TEST(IlbcConcealment, ShortLagsRepeatAtTwiceTheirLength) {
  for (int lag : {79, 80}) {
    iLBC_Dec_Inst_t dec{};
    ILBCFIX_MORV_initDecode(&dec, 20, 1);
    for (int i = 0; i < 160; ++i) dec.prevResidual[i] = static_cast<std::int16_t>(i * 100 - 8000);
    dec.prevPLI = 1;
    dec.prevPitch = static_cast<std::int16_t>(lag);
    dec.per_q31 = 2147483647;
    std::array<std::int16_t, 240> out{};
    std::array<std::int16_t, 11> lpc{};
    ilbc::ilbc_doThePLC(out.data(), lpc.data(), 1, nullptr, nullptr, lag, &dec);
    const int use_lag = lag < 80 ? 2 * lag : lag;
    // The first samples come from use_lag back in the history (gain 1.0 on the first block).
    for (int i = 0; i < 80; ++i) EXPECT_NEAR(out[static_cast<std::size_t>(i)], (160 + i - use_lag) * 100 - 8000, 2) << lag;
  }
}

// After a loss the enhancer can hand over a lag far beyond the history; the concealment keeps
// the lag within the frame instead of reading before its history.
TEST(IlbcConcealment, OversizedLagIsClampedToTheHistory) {
  iLBC_Dec_Inst_t dec{};
  ILBCFIX_MORV_initDecode(&dec, 20, 1);
  std::array<std::int16_t, 240> res{}, out{};
  for (int i = 0; i < 160; ++i) res[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 7 * 900);
  std::array<std::int16_t, 11> lpc{4096}, plc_lpc{};
  ilbc::ilbc_doThePLC(res.data(), plc_lpc.data(), 0, res.data(), lpc.data(), 20, &dec);
  ilbc::ilbc_doThePLC(out.data(), plc_lpc.data(), 1, nullptr, nullptr, 238, &dec);
  EXPECT_LE(dec.prevPitch, 160);
  EXPECT_GE(dec.prevPitch, 1);
}

// Whatever the payload, decoding stays inside its buffers (run under the sanitizers) and the
// decoder keeps going.
TEST(IlbcRobustness, RandomPayloadsDecode) {
  std::mt19937 rng(7);
  for (int mode : {20, 30}) {
    iLBC_Dec_Inst_t dec{};
    ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), 1);
    iLBC_Dec_Inst_t plain{};
    ILBCFIX_MORV_initDecode(&plain, static_cast<std::int16_t>(mode), 0);
    std::vector<std::uint16_t> w(static_cast<std::size_t>(frame_words(mode)));
    std::array<std::int16_t, 240> out{};
    for (int f = 0; f < 1500; ++f) {
      for (auto& v : w) v = static_cast<std::uint16_t>(rng());
      if (f % 3 == 0) w.back() &= 0xFFFE;
      ILBCFIX_MORV_Decode(out.data(), w.data(), &dec, static_cast<std::int16_t>(f % 11 == 0 ? 0 : 1));
      ILBCFIX_MORV_Decode(out.data(), w.data(), &plain, 1);
    }
    EXPECT_GE(dec.pitch, 20);
  }
}

// Extreme inputs (silence, full scale, a stuck -32768, loud noise, a full-scale square wave)
// encode to payloads our decoder accepts as valid frames.
TEST(IlbcRobustness, ExtremeInputsEncodeToValidFrames) {
  std::mt19937 rng(3);
  for (int mode : {20, 30}) {
    const int n = frame_len(mode);
    std::vector<std::int16_t> in;
    auto add = [&](auto gen) {
      for (int i = 0; i < 6 * n; ++i) in.push_back(static_cast<std::int16_t>(gen(i)));
    };
    add([](int) { return 0; });
    add([](int) { return 32767; });
    add([](int) { return -32768; });
    add([&](int) { return static_cast<int>(rng() % 65536) - 32768; });
    add([](int i) { return (i / 20) % 2 ? 32767 : -32768; });
    add([](int i) { return i % 2 ? 1 : -1; });
    iLBC_Dec_Inst_t dec{};
    ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), 1);
    int concealed = 0;
    for (const auto& p : encode_all(in, mode)) {
      std::array<std::int16_t, 240> out{};
      ilbc::FrameTrace t{};
      ilbc::decode_frame(out.data(), p.data(), &dec, 1, &t);
      concealed += t.concealed;
    }
    EXPECT_EQ(concealed, 0) << mode;
  }
}

// An initialisation with another mode than 20 or 30 keeps the mode values it had: the codec
// goes on with that frame length instead of mixing layouts; an instance that never had a valid
// mode codes nothing.
TEST(IlbcRobustness, RefusedModeKeepsTheFrameLayout) {
  const auto speech = load_speech(2400, 240);
  iLBC_Enc_Inst_t a{}, b{};
  iLBC_Dec_Inst_t da{}, db{};
  ILBCFIX_MORV_initEncode(&a, 30);
  ILBCFIX_MORV_initEncode(&b, 30);
  EXPECT_EQ(ILBCFIX_MORV_initEncode(&b, 25), 50);
  EXPECT_EQ(b.mode, 25);
  ILBCFIX_MORV_initDecode(&da, 30, 1);
  ILBCFIX_MORV_initDecode(&db, 30, 1);
  EXPECT_EQ(ILBCFIX_MORV_initDecode(&db, 25, 1), 240);
  for (std::size_t f = 0; f + 240 <= speech.size(); f += 240) {
    std::array<std::int16_t, 240> blk{}, oa{}, ob{};
    std::array<std::uint16_t, 25> wa{}, wb{};
    std::copy_n(speech.begin() + static_cast<long>(f), 240, blk.begin());
    auto blk2 = blk;
    ILBCFIX_MORV_encode(wa.data(), blk.data(), &a);
    ILBCFIX_MORV_encode(wb.data(), blk2.data(), &b);
    EXPECT_EQ(wa, wb);
    ILBCFIX_MORV_Decode(oa.data(), wa.data(), &da, 1);
    ILBCFIX_MORV_Decode(ob.data(), wb.data(), &db, 1);
    EXPECT_EQ(oa, ob);
  }
  iLBC_Enc_Inst_t never{};
  ILBCFIX_MORV_initEncode(&never, 10);
  std::array<std::int16_t, 240> blk{};
  std::array<std::uint16_t, 25> w{};
  w.fill(0x5555);
  ILBCFIX_MORV_encode(w.data(), blk.data(), &never);
  EXPECT_EQ(w[0], 0x5555);
  iLBC_Dec_Inst_t never_dec{};
  ILBCFIX_MORV_initDecode(&never_dec, 10, 1);
  blk.fill(7);
  ILBCFIX_MORV_Decode(blk.data(), w.data(), &never_dec, 1);
  EXPECT_EQ(blk[0], 7);
}

// Encoders and decoders keep all their state in their instances: two interleaved streams give
// the same bits and samples as each coded alone.
TEST(IlbcRobustness, InstancesAreIndependent) {
  const auto a = load_speech(8000, 240);
  std::vector<std::int16_t> b(a.rbegin(), a.rend());
  const auto pa = encode_all(a, 30), pb = encode_all(b, 20);
  iLBC_Enc_Inst_t ea{}, eb{};
  ILBCFIX_MORV_initEncode(&ea, 30);
  ILBCFIX_MORV_initEncode(&eb, 20);
  std::array<std::int16_t, 240> blk{};
  std::array<std::uint16_t, 25> w{};
  std::size_t fa = 0, fb = 0;
  while (fa < pa.size() || fb < pb.size()) {
    if (fa < pa.size()) {
      std::copy_n(a.begin() + static_cast<long>(fa * 240), 240, blk.begin());
      ILBCFIX_MORV_encode(w.data(), blk.data(), &ea);
      ASSERT_TRUE(std::equal(pa[fa].begin(), pa[fa].end(), w.begin()));
      ++fa;
    }
    for (int k = 0; k < 2 && fb < pb.size(); ++k, ++fb) {
      std::copy_n(b.begin() + static_cast<long>(fb * 160), 160, blk.begin());
      ILBCFIX_MORV_encode(w.data(), blk.data(), &eb);
      ASSERT_TRUE(std::equal(pb[fb].begin(), pb[fb].end(), w.begin()));
    }
  }
  // Two decoders side by side, one of them losing every fifth frame.
  auto lossy = pb;
  for (std::size_t f = 0; f < lossy.size(); f += 5) lossy[f].clear();
  const auto alone_a = decode_all(pa, 30), alone_b = decode_all(lossy, 20);
  iLBC_Dec_Inst_t da{}, db{};
  ILBCFIX_MORV_initDecode(&da, 30, 1);
  ILBCFIX_MORV_initDecode(&db, 20, 1);
  std::array<std::int16_t, 240> out{};
  for (std::size_t f = 0; f < pa.size(); ++f) {
    ILBCFIX_MORV_Decode(out.data(), pa[f].data(), &da, 1);
    ASSERT_TRUE(std::equal(out.begin(), out.end(), alone_a.begin() + static_cast<long>(f * 240)));
    for (std::size_t k = 2 * f; k < 2 * f + 2 && k < lossy.size(); ++k) {
      ILBCFIX_MORV_Decode(out.data(), lossy[k].empty() ? nullptr : lossy[k].data(), &db, lossy[k].empty() ? 0 : 1);
      ASSERT_TRUE(std::equal(out.begin(), out.begin() + 160, alone_b.begin() + static_cast<long>(k * 160)));
    }
  }
}

}  // namespace
