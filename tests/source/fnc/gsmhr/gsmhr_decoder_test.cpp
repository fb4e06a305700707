// Decoder, DTX, comfort noise, concealment and homing of the GSM half-rate codec: the decoder
// against the encoder's own local decoder, encode-decode quality floors, scripted DTX and
// bad-frame patterns, the homing handshake as the wrapper drives it, and random frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fr_codec.h"
#include "gsmhr_test_signals.h"
#include "hr_conceal.h"
#include "hr_frame.h"
#include "hr_tables.h"

using namespace hr;

namespace {

struct Codec {
  std::unique_ptr<GSMHR_ENCSTRUCT> enc = std::make_unique<GSMHR_ENCSTRUCT>();
  std::unique_ptr<GSMHR_DECSTRUCT> dec = std::make_unique<GSMHR_DECSTRUCT>();
  explicit Codec(Word16 dtx = 0) {
    gsmhr_reset_enc(enc.get(), dtx);
    gsmhr_reset_dec(dec.get());
  }
};

// Serial transport as the wrapper does it: parameters to bits and back; SID frames flagged.
std::uint32_t transport(Word16* prm) {
  Word16 serial[112];
  const Word16 sp = prm[19];
  gsmhr_prm2bits(prm, serial);
  gsmhr_bits2prm(serial, prm);
  return sp ? 0u : GSMHR_FLAG_SID;
}

double level_db(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, std::size_t from) {
  double ea = 0, eb = 0;
  for (std::size_t i = from; i < a.size() && i < b.size(); ++i) ea += double(a[i]) * a[i], eb += double(b[i]) * b[i];
  return 10 * std::log10(std::max(eb, 1.0) / std::max(ea, 1.0));
}

}  // namespace

TEST(GsmHrDecoder, DecoderReproducesTheEncodersLocalDecoder) {
  auto speech = hrtest::load_speech();
  Codec c;
  int frames = 0;
  for (std::size_t f = 0; f + 160 <= speech.size(); f += 160) {
    Word16 prm[22];
    HrEncoderProbe pe;
    HrDecoderProbe pd;
    hr_speechEncoder(speech.data() + f, prm, c.enc.get(), &pe);
    transport(prm);
    prm[18] = prm[19] = prm[20] = prm[21] = 0;
    Word16 out[160];
    hr_speechDecoder(prm, out, c.dec.get(), &pd);
    ASSERT_TRUE(std::equal(pe.excitation, pe.excitation + 160, pd.excitation)) << "frame " << frames;
    for (int s = 0; s < 4; ++s)
      ASSERT_TRUE(std::equal(pe.synthAs[s], pe.synthAs[s] + 10, pd.synthAs[s])) << "frame " << frames;
    ++frames;
  }
  EXPECT_GT(frames, 600);
}

// Levels are measured against the caller's signal. The encoder analyses its input through a
// high-pass filter whose passband gain is one half (-6.02 dB, headroom for the fixed-point
// analysis); the postfilter's gain control applies its Q14 gain in Q13 and so gives the factor
// of two back. The quality is measured against the analysed signal brought back to full level.
TEST(GsmHrDecoder, EncodeDecodeQualityAndLevels) {
  struct Case {
    const char* name;
    std::vector<std::int16_t> sig;
    double minSnr, maxLevelDb;
  } cases[] = {
      {"speech", hrtest::load_speech(), 6.5, 2.0},
      {"tone 440 Hz", hrtest::tone(50, 440, 6000), 10.0, 2.0},
      {"tone 2 kHz", hrtest::tone(50, 2000, 6000), 3.0, 2.0},
      // White noise: with the gains chosen for the least error, what comes out is the part of
      // the input the codebooks match, E_out = E_in - E_err; at a segmental SNR near 1 dB that
      // is about 7 dB below the input.
      {"noise", hrtest::noise(50, 4000, 3), -100.0, 9.0},
  };
  for (auto& cs : cases) {
    Codec c;
    std::vector<std::int16_t> out, ref;
    for (std::size_t f = 0; f + 160 <= cs.sig.size(); f += 160) {
      Word16 prm[22], o[160];
      HrEncoderProbe pe;
      hr_speechEncoder(cs.sig.data() + f, prm, c.enc.get(), &pe);
      gsmhr_decode(c.dec.get(), prm, transport(prm), o);
      out.insert(out.end(), o, o + 160);
      for (Word16 v : pe.filtered) ref.push_back(static_cast<std::int16_t>(std::clamp(2 * v, -32768, 32767)));
    }
    double snr = hrtest::seg_snr(ref, out);
    double lvl = level_db(cs.sig, out, 160 * 5);
    double analysed = level_db(cs.sig, ref, 160 * 5) - 6.02;
    std::printf("encode+decode %-12s segmental SNR %6.2f dB, level %+.2f dB (analysed at %+.2f dB)\n",
                cs.name, snr, lvl, analysed);
    EXPECT_GT(snr, cs.minSnr) << cs.name;
    EXPECT_LT(std::fabs(lvl), cs.maxLevelDb) << cs.name;
    EXPECT_NEAR(analysed, -6.02, 0.3) << cs.name;  // the input filter's half-level passband
  }
}

// A steady tone comes out at the level it went in at, over the band and the levels a call
// carries: the half-level analysis and the doubling postfilter cancel, and the postfilter's
// gain control holds the synthesis level. A decoder applying the gain in Q14 plays every
// signal 6 dB low.
TEST(GsmHrDecoder, TonesKeepTheirLevelAcrossBandAndLevels) {
  const double freqs[] = {300, 500, 1000, 1004, 2000, 3000};
  const double levels[] = {-30, -20, -10, -3};  // dBm0, 0 dBm0 = 3.14 dB below a full-scale sine
  double sum = 0;
  int n = 0;
  for (double dbm0 : levels) {
    for (double hz : freqs) {
      auto sig = hrtest::tone(60, hz, 32768 * std::pow(10, (dbm0 - 3.14) / 20));
      Codec c;
      std::vector<std::int16_t> out;
      for (std::size_t f = 0; f + 160 <= sig.size(); f += 160) {
        Word16 prm[22], o[160];
        std::uint32_t flags;
        gsmhr_encode(c.enc.get(), sig.data() + f, &flags, prm);
        gsmhr_decode(c.dec.get(), prm, transport(prm), o);
        out.insert(out.end(), o, o + 160);
      }
      const double lvl = level_db(sig, out, 160 * 20);
      // Single tones are a hard case for the gain quantiser: a 1 kHz tone repeats one 8-sample
      // pattern, so the same gain cell is picked in every subframe and can leave it 1.5 dB low.
      EXPECT_LT(std::fabs(lvl), 2.0) << hz << " Hz at " << dbm0 << " dBm0: " << lvl << " dB";
      sum += lvl;
      ++n;
    }
  }
  EXPECT_LT(std::fabs(sum / n), 0.5) << "mean level " << sum / n << " dB";
}

TEST(GsmHrVad, SharesTheFullRateDetectorAndAddsToneDetection) {
  // Frame for frame the half-rate decision equals the full-rate detector in mode 2 wherever the
  // tone flag is 0.
  auto speech = hrtest::load_speech();
  HR_FrVadState hrSt;
  FrVadState frSt;
  hr_vad_reset(&hrSt, 2);
  fr_vad_reset(&frSt, 2);
  int toneFrames = 0, active = 0, n = 0;
  for (std::size_t f = 0; f + 170 <= speech.size(); f += 160) {
    Word16 rc[10], r0, scale, tone;
    Word32 acf[9];
    hr_flat(speech.data() + f, rc, &r0, acf, &scale);
    hr_tone_detection(rc, &tone);
    toneFrames += tone;
    Word16 a = hr_vad_computation(acf, scale, rc, &hrSt);
    Word16 b = fr_vad_computation(acf, scale, rc, &frSt);
    if (tone == 0) {
      ASSERT_EQ(a, b) << f / 160;
    } else {
      frSt = hrSt;  // the tone flag may have held the threshold: continue from the same state
    }
    Word16 lags[4] = {40, 40, 40, 40};
    hr_periodicity_update(lags, &hrSt);
    fr_periodicity_update(lags, &frSt);
    active += a;
    ++n;
  }
  std::printf("VAD on speech: %d of %d frames active, %d tone frames\n", active, n, toneFrames);
  EXPECT_GT(active, n / 3);
  // Sines set the tone flag; real poles never do.
  for (double hz : {600.0, 1000.0, 2500.0}) {
    auto t = hrtest::tone(2, hz, 10000);
    Word16 rc[10], r0, scale, tone;
    Word32 acf[9];
    hr_flat(t.data() + 100, rc, &r0, acf, &scale);
    hr_tone_detection(rc, &tone);
    EXPECT_EQ(tone, 1) << hz;
  }
  Word16 realPoles[4] = {-30000, -20000, 0, 0}, tone;
  hr_tone_detection(realPoles, &tone);
  EXPECT_EQ(tone, 0);
  // Silence and low noise end as inactive after the hangover; periodicity needs more than 6
  // matching lags over two frames.
  HR_FrVadState st;
  hr_vad_reset(&st, 2);
  Word16 same[4] = {21, 21, 21, 21};
  hr_periodicity_update(same, &st);
  hr_periodicity_update(same, &st);
  EXPECT_EQ(st.ptch, 1);
  Word16 threeA[4] = {21, 21, 21, 50}, threeB[4] = {50, 50, 50, 21};  // 3 + 3 matches
  hr_vad_reset(&st, 2);
  hr_periodicity_update(threeA, &st);
  hr_periodicity_update(threeB, &st);
  EXPECT_EQ(st.ptch, 0);
  Codec c(1);
  auto quiet = hrtest::noise(40, 30, 8);
  int lastVad = 1;
  for (std::size_t f = 0; f < quiet.size(); f += 160) {
    Word16 prm[22];
    std::uint32_t fl;
    gsmhr_encode(c.enc.get(), quiet.data() + f, &fl, prm);
    lastVad = prm[18];
  }
  EXPECT_EQ(lastVad, 0);
}

TEST(GsmHrDtx, ScriptedVadPatterns) {
  auto d = std::make_unique<HR_DTX_ENC>();
  auto reset = [&] {
    auto e = std::make_unique<GSMHR_ENCSTRUCT>();
    gsmhr_reset_enc(e.get(), 1);
    *d = e->hr_dtx_e;
  };
  Word32 corr[11];
  Word16 rc[10] = {-20000, 9000, -3000, 1000, 0, 0, 0, 0, 0, 0};
  hr_rcToCorrDpL(rc, corr);
  const Word32 r0 = L_deposit_h(400);
  // A long burst: seven hangover frames, the SID at the eighth.
  reset();
  for (int f = 0; f < 30; ++f) ASSERT_EQ(hr_swComfortNoise(1, r0, corr, d.get()), 1);
  for (int f = 1; f <= 7; ++f) EXPECT_EQ(hr_swComfortNoise(0, r0, corr, d.get()), 1) << f;
  EXPECT_EQ(hr_swComfortNoise(0, r0, corr, d.get()), 0);
  EXPECT_EQ(d->swNElapsed, 0);
  const Word16 refR0 = d->swQntRefR0;
  Word16 refVq[3];
  std::copy(d->piRefVqCodewds, d->piRefVqCodewds + 3, refVq);
  EXPECT_EQ(d->swCNR0, hr_r0Quant(r0));
  // A short burst (at most 23 frames since that computation): an immediate SID with the
  // reference parameters, and the gain reference and seed renewed on that frame.
  for (int f = 0; f < 10; ++f) hr_swComfortNoise(1, r0, corr, d.get());
  d->pL_GsHist[0] = 123456;  // the gain history moved on during the burst
  d->L_TxPNSeed = 5;
  EXPECT_EQ(hr_swComfortNoise(0, L_deposit_h(3000), corr, d.get()), 0);
  EXPECT_EQ(d->swShortBurst, 1);
  EXPECT_EQ(d->swCNR0, refR0);
  EXPECT_TRUE(std::equal(refVq, refVq + 3, d->pswCNLpc));
  Word32 seed = 0x1091988;
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(d->pswCNVSCode1[k], hr_getPnBits(7, &seed));
    EXPECT_EQ(d->pswCNVSCode2[k], hr_getPnBits(7, &seed));
  }
  // The generator: feedback bit 0 XOR bit 2 into bit 30, output the new bit 0.
  Word32 s = 0x1091988, model = 0x1091988;
  for (int i = 0; i < 200; ++i) {
    Word16 bit = hr_getPnBits(1, &s);
    Word32 fb = (model ^ (model >> 2)) & 1;
    model = (model >> 1) | (fb << 30);
    ASSERT_EQ(bit, model & 1);
    ASSERT_EQ(s, model);
  }
  // Interpolation end points: position 11 gives the new value, the weights ramp up.
  EXPECT_NEAR(hr_linInterpSid(1 << 30, 0, 11), 1 << 30, 1 << 16);
  EXPECT_EQ(hr_linInterpSidShort(1000, 3000, 11), 1000);
  EXPECT_NEAR(hr_linInterpSidShort(1200, 0, 0), 100, 1);
  // The SID frame layout from the encoder.
  Codec c(1);
  auto quiet = hrtest::noise(30, 20, 4);
  bool sawSid = false;
  for (std::size_t f = 0; f < quiet.size(); f += 160) {
    Word16 prm[22];
    std::uint32_t fl;
    gsmhr_encode(c.enc.get(), quiet.data() + f, &fl, prm);
    if (prm[19] != 0) continue;
    sawSid = true;
    EXPECT_EQ(prm[5], 3);
    EXPECT_EQ(prm[4], 1);
    EXPECT_EQ(prm[6], 255);
    for (int k = 0; k < 4; ++k) {
      if (k) EXPECT_EQ(prm[6 + 3 * k], 15);
      EXPECT_EQ(prm[7 + 3 * k], 511);
      EXPECT_EQ(prm[8 + 3 * k], 31);
    }
    Word16 serial[112];
    gsmhr_prm2bits(prm, serial);
    EXPECT_EQ(gsmhr_sid_frame_detection(serial), 1);
  }
  EXPECT_TRUE(sawSid);
}

TEST(GsmHrDtx, ComfortNoiseParametersMatchOnBothSides) {
  auto speech = hrtest::load_speech();
  speech.resize(160 * 300);
  for (std::size_t i = 160 * 150; i < speech.size(); ++i) speech[i] = static_cast<std::int16_t>(speech[i] / 200);
  Codec c(1);
  int sids = 0;
  std::vector<std::int16_t> out;
  for (std::size_t f = 0; f < speech.size(); f += 160) {
    Word16 prm[22], o[160];
    std::uint32_t fl;
    gsmhr_encode(c.enc.get(), speech.data() + f, &fl, prm);
    const bool sid = prm[19] == 0;
    gsmhr_decode(c.dec.get(), prm, transport(prm), o);
    out.insert(out.end(), o, o + 160);
    if (!sid) continue;
    ++sids;
    const HR_DTX_ENC& e = c.enc->hr_dtx_e;
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(prm[6 + 3 * k], e.pswCNVSCode1[k]);
      EXPECT_EQ(prm[7 + 3 * k], e.pswCNVSCode2[k]);
      EXPECT_EQ(prm[8 + 3 * k], e.pswCNGsp0Code[k]);
    }
  }
  std::printf("comfort noise: %d SID frames\n", sids);
  EXPECT_GT(sids, 20);
  for (auto v : out) ASSERT_LT(std::abs(int(v)), 32768);
}

TEST(GsmHrConceal, ParameterSubstitutionByState) {
  Word16 lastGood[18], state = 0, lastFlag = 0, lastR0 = 20, permit;
  Word16 good[18] = {20, 100, 50, 20, 1, 2, 100, 200, 10, 9, 300, 11, 9, 400, 12, 9, 500, 13};
  Word16 err[2] = {0, 0};
  Word16 prm[18];
  std::copy(good, good + 18, prm);
  hr_para_conceal_speech_decoder(err, prm, &permit, &lastFlag, &state, lastGood, &lastR0);
  EXPECT_TRUE(std::equal(good, good + 18, lastGood));
  // Bad frames: 1 and 2 repeat at full R0, 3..5 lower it by 2 each, 6 and on use 0. The lag is
  // made constant (100 + 1 + 1 + 1) with differential codes 8, all gains the last one.
  const int r0s[] = {20, 20, 18, 16, 14, 0, 0};
  for (int f = 0; f < 7; ++f) {
    Word16 bad[18] = {31, 7, 7, 7, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    err[0] = 1;
    hr_para_conceal_speech_decoder(err, bad, &permit, &lastFlag, &state, lastGood, &lastR0);
    EXPECT_EQ(bad[0], r0s[f]) << f;
    EXPECT_EQ(bad[1], 100);
    EXPECT_EQ(bad[6], 103);
    EXPECT_EQ(bad[9], 8);
    EXPECT_EQ(bad[7], 1);  // received codewords stay
    for (int k = 0; k < 4; ++k) EXPECT_EQ(bad[8 + 3 * k], 13);
  }
  // Recovery: the first good frame after six bad ones is still substituted (state stays 6),
  // the second is decoded as received.
  err[0] = 0;
  std::copy(good, good + 18, prm);
  hr_para_conceal_speech_decoder(err, prm, &permit, &lastFlag, &state, lastGood, &lastR0);
  EXPECT_EQ(state, 6);
  EXPECT_EQ(prm[0], 0);
  std::copy(good, good + 18, prm);
  hr_para_conceal_speech_decoder(err, prm, &permit, &lastFlag, &state, lastGood, &lastR0);
  EXPECT_EQ(state, 0);
  EXPECT_TRUE(std::equal(good, good + 18, prm));
  // An unreliable frame whose R0 jumps by the repeat threshold is a bad frame.
  Word16 jump[18];
  std::copy(good, good + 18, jump);
  jump[0] = static_cast<Word16>(20 + hr_psrR0RepeatThreshold[20]);
  err[0] = 0;
  err[1] = 1;
  hr_para_conceal_speech_decoder(err, jump, &permit, &lastFlag, &state, lastGood, &lastR0);
  EXPECT_EQ(err[0], 1);
  EXPECT_EQ(jump[0], 20);
  // Mode change: the whole saved frame replaces the received one.
  Word16 uv[18] = {5, 1, 1, 1, 0, 0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
  err[0] = 1;
  err[1] = 0;
  hr_para_conceal_speech_decoder(err, uv, &permit, &lastFlag, &state, lastGood, &lastR0);
  EXPECT_EQ(uv[5], 2);
  EXPECT_EQ(uv[7], 200);
}

TEST(GsmHrConceal, LevelsAndSignalAttenuation) {
  Word32 e = 0;
  EXPECT_EQ(hr_level_calc(0, &e), -72);
  EXPECT_EQ(e, 80);
  Word32 big = 0x40000000;
  Word16 hi = hr_level_calc(0, &big);
  Word32 half = 0x20000000;
  EXPECT_EQ(hi - hr_level_calc(0, &half), 3);  // 3 steps per doubling of the energy
  // A subframe far above the recent level is attenuated by the factor for an excess of 15.
  Word16 ex[40], syn[10] = {}, ltp[40], ppre[40], mute = 0;
  for (int i = 0; i < 40; ++i) ex[i] = static_cast<Word16>((i % 2 ? 1 : -1) * 20000), ltp[i] = ppre[i] = 1000;
  Word16 a[10] = {};
  hr_signal_conceal_sub(ex, a, syn, ltp, ppre, -60, -60, 1, 0, &mute, 1);
  EXPECT_EQ(mute, 1);
  EXPECT_EQ(ltp[0], mult_r(1000, 6172));
  EXPECT_EQ(std::abs(ex[0]), mult_r(20000, 6172));
  // Without permission nothing changes.
  for (int i = 0; i < 40; ++i) ex[i] = 20000;
  mute = 0;
  hr_signal_conceal_sub(ex, a, syn, ltp, ppre, -60, -60, 0, 0, &mute, 0);
  EXPECT_EQ(ex[0], 20000);
}

TEST(GsmHrConceal, DecoderOnScriptedFramePatterns) {
  auto speech = hrtest::load_speech();
  speech.resize(160 * 120);
  Codec c;
  std::vector<std::array<Word16, 22>> frames;
  for (std::size_t f = 0; f < speech.size(); f += 160) {
    std::array<Word16, 22> p;
    std::uint32_t fl;
    gsmhr_encode(c.enc.get(), speech.data() + f, &fl, p.data());
    frames.push_back(p);
  }
  auto energy = [](const Word16* o) {
    double e = 0;
    for (int i = 0; i < 160; ++i) e += double(o[i]) * o[i];
    return e;
  };
  // Speech frames 40..79 lost: substitution, then muting to silence; recovery afterwards.
  std::vector<double> en;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    auto p = frames[f];
    Word16 o[160];
    gsmhr_decode(c.dec.get(), p.data(), (f >= 40 && f < 80) ? GSMHR_FLAG_BFI : 0u, o);
    en.push_back(energy(o));
  }
  double before = 0;
  for (int f = 20; f < 40; ++f) before += en[f] / 20;
  std::printf("bad-frame run: level %.1f dB below the speech before it\n", 10 * std::log10(before / std::max(en[75], 1.0)));
  EXPECT_GT(before, 1000 * std::max(en[75], 1.0));  // R0 at 0: muted by more than 30 dB
  EXPECT_EQ(c.dec->swState, 0);
  double after = 0;
  for (int f = 90; f < 120; ++f) after += en[f];
  EXPECT_GT(after, 160.0 * 100 * 100);
  // Comfort noise with lost frames and TAF: muted after more than 24 bad frames.
  Codec cn(1);
  auto quiet = hrtest::noise(40, 200, 6);
  Word16 sidPrm[22] = {};
  for (std::size_t f = 0; f < quiet.size(); f += 160) {
    Word16 p[22], o[160];
    std::uint32_t fl;
    gsmhr_encode(cn.enc.get(), quiet.data() + f, &fl, p);
    if (p[19] == 0) std::copy(p, p + 22, sidPrm);
    gsmhr_decode(cn.dec.get(), p, transport(p), o);
  }
  ASSERT_EQ(cn.dec->hr_dtx_d.swDecoMode, 3);
  Word16 o[160];
  Word16 p[22];
  std::copy(sidPrm, sidPrm + 22, p);
  gsmhr_decode(cn.dec.get(), p, GSMHR_FLAG_SID | GSMHR_FLAG_UFI, o);  // invalid SID
  EXPECT_EQ(cn.dec->hr_dtx_d.swDecoMode, 3);
  for (int f = 0; f < 40; ++f) {
    std::copy(sidPrm, sidPrm + 22, p);
    gsmhr_decode(cn.dec.get(), p, GSMHR_FLAG_BFI | GSMHR_FLAG_TAF, o);
    EXPECT_EQ(cn.dec->hr_dtx_d.swDecoMode, 4);
    EXPECT_EQ(cn.dec->hr_dtx_d.swDtxMuting, f >= 24 ? 1 : 0) << f;
  }
  EXPECT_EQ(cn.dec->hr_dtx_d.swOldR0IndexDec, 0);
  std::copy(sidPrm, sidPrm + 22, p);
  gsmhr_decode(cn.dec.get(), p, GSMHR_FLAG_SID, o);  // a valid SID restarts the interpolation
  EXPECT_EQ(cn.dec->hr_dtx_d.swRxDTXState, 0);
  EXPECT_EQ(cn.dec->hr_dtx_d.swDtxMuting, 0);
}

TEST(GsmHrHoming, HandshakeAsTheWrapperDrivesIt) {
  Codec c;
  Word16 ehf[160];
  std::fill(ehf, ehf + 160, Word16(8));
  // Some speech first, then the encoder homing frame: the encoder resets after it, and the
  // next homing frame produces the decoder homing frame.
  auto speech = hrtest::load_speech();
  Word16 prm[22];
  std::uint32_t fl;
  for (int f = 0; f < 5; ++f) gsmhr_encode(c.enc.get(), speech.data() + 160 * f, &fl, prm);
  for (int round = 0; round < 2; ++round) {
    bool homing = gsmhr_encoder_homing_frame_test(ehf);
    gsmhr_encode(c.enc.get(), ehf, &fl, prm);
    if (homing) gsmhr_reset_enc(c.enc.get(), 0);
  }
  EXPECT_TRUE(std::equal(prm, prm + 18, hr_dhf_mask.begin()));
  auto fresh = std::make_unique<GSMHR_ENCSTRUCT>();
  gsmhr_reset_enc(fresh.get(), 0);
  EXPECT_EQ(std::memcmp(static_cast<void*>(fresh.get()), static_cast<void*>(c.enc.get()), sizeof(*fresh)), 0);

  // Decoder side: after a homing frame the 9-parameter test decides, otherwise the 18.
  bool lastWasHoming = false;
  auto receive = [&](Word16* p, Word16* out) {
    bool match;
    if (lastWasHoming && gsmhr_decoder_homing_frame_test(p, 9)) {
      std::fill(out, out + 160, Word16(8));
      match = true;
    } else {
      gsmhr_decode(c.dec.get(), p, 0, out);
      match = gsmhr_decoder_homing_frame_test(p, 18) != 0;
    }
    if (match) gsmhr_reset_dec(c.dec.get());
    lastWasHoming = match;
  };
  Word16 out[160];
  for (int f = 0; f < 5; ++f) {
    gsmhr_encode(c.enc.get(), speech.data() + 160 * (10 + f), &fl, prm);
    receive(prm, out);
  }
  std::copy(hr_dhf_mask.begin(), hr_dhf_mask.end(), prm);
  receive(prm, out);
  EXPECT_TRUE(lastWasHoming);
  auto freshDec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(freshDec.get());
  EXPECT_EQ(std::memcmp(static_cast<void*>(freshDec.get()), static_cast<void*>(c.dec.get()), sizeof(*freshDec)), 0);
  std::copy(hr_dhf_mask.begin(), hr_dhf_mask.end(), prm);
  prm[12] = 3;  // differs after the first subframe: the 9-parameter test still matches
  receive(prm, out);
  for (int i = 0; i < 160; ++i) ASSERT_EQ(out[i], 8);
  // Reset state as stated.
  EXPECT_EQ(freshDec->swLevelMem[0], -72);
  EXPECT_EQ(freshDec->swLevelMem[3], 0);
  EXPECT_EQ(freshDec->plSubfrEnergyMem[2], 80);
  EXPECT_EQ(freshDec->plSubfrEnergyMem[3], 0);
  EXPECT_EQ(freshDec->swState, 7);
}

TEST(GsmHrDecoder, RandomFramesWithRandomFlagsStayBounded) {
  Codec c;
  hrtest::Lcg g{99};
  Word16 ref[160], out[160];
  for (int f = 0; f < 100000; ++f) {
    Word16 serial[112], prm[22];
    for (auto& b : serial) b = static_cast<Word16>((g.next() >> 13) & 1);
    gsmhr_bits2prm(serial, prm);
    std::uint32_t flags = (g.next() >> 9) & 15;
    gsmhr_decode(c.dec.get(), prm, flags, f % 2 ? out : ref);
  }
  // Output words are 16-bit samples by construction; the decoder kept its state sane.
  EXPECT_GE(c.dec->swState, 0);
  EXPECT_LE(c.dec->swState, 6);
  EXPECT_GE(c.dec->hr_dtx_d.swRxDTXState, 0);
  EXPECT_LE(c.dec->hr_dtx_d.swRxDTXState, 11);
  EXPECT_GE(c.dec->swLastLag, 0);
  EXPECT_LE(c.dec->swLastLag, 255);
}
