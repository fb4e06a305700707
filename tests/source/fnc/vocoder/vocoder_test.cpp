// The codec wrappers through the vocoder table: payload forms checked against independent codecs
// (spandsp's G.711 and G.726, libgsm), the frame classes of the release record, the packet types
// the encoders report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "g711.h"
#include "isac_codec.h"
#include "voc_dec_store.h"
#include "vocoder.h"

extern "C" {
#include <gsm.h>
#include <opus/opus.h>
#include <spandsp.h>
}

namespace {

// Decoder output starts as 0x1234, so that samples a decoder leaves alone show.
struct DecBench : VocDecStore {
  DecBench(uint16_t c, uint16_t plcMode = 0)
      : VocDecStore(hsgvocoders[hsgpvealg[c]], c, 1280, 8192, 4096) {  // slots for any payload
    regs.hsxVadCngPlcOptions = static_cast<uint16_t>(plcMode << 12);
    configure();
  }
  std::vector<int16_t> decode(AJC_PVEDEC_INT r, int n) { return VocDecStore::decode(r, n, 0x1234); }
};

struct EncBench {
  std::vector<uint64_t> mem = std::vector<uint64_t>(16384);
  HSZVOCREGS regs = pveVoiceRegsDefault().voxregs;
  const HSZVOCODERS* v;
  explicit EncBench(uint16_t algorithm) : v(hsgvocoders[hsgpvealg[algorithm & 0xFF]]) {
    v->encinitcfgfnc(mem.data(), &regs, algorithm, 1);
  }
  int encode(std::vector<int16_t> pcm, std::vector<uint16_t>& payload, uint16_t& bytes) {
    payload.assign(800, 0);
    return v->encfnc(mem.data(), pcm.data(), payload.data(), 0, &bytes);
  }
};

std::vector<int16_t> tone(int n, double hz, double rate, double amp, int offset = 0) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(amp * std::sin(2 * M_PI * hz * (i + offset) / rate));
  return v;
}

std::vector<uint8_t> bytesOf(const std::vector<uint16_t>& words, int n) {
  std::vector<uint8_t> b(n);
  for (int i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 2 == 0 ? words[i / 2] >> 8 : words[i / 2]);
  return b;
}

double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t from, size_t delay = 0) {
  double s = 0, e = 0;
  for (size_t i = from; i + delay < got.size() && i < ref.size(); ++i) {
    s += double(ref[i]) * ref[i];
    const double d = double(got[i + delay]) - ref[i];
    e += d * d;
  }
  return 10 * std::log10(s / (e + 1e-9));
}

TEST(VocoderTable, EveryVoiceCodeHasItsFamilyAndOnlyBuiltFamiliesAreUsable) {
  EXPECT_EQ(hsgpvealg[0], HAPI_PKT_ALG_G711);
  EXPECT_EQ(hsgpvealg[35], HAPI_PKT_ALG_GSMHR);
  EXPECT_EQ(hsgpvealg[44], HAPI_PKT_ALG_LINPCM256);
  EXPECT_EQ(hsgpvealg[49], HAPI_PKT_ALG_G7221);
  EXPECT_EQ(hsgpvealg[67], HAPI_PKT_ALG_AMRWB);
  EXPECT_EQ(hsgpvealg[72], HAPI_PKT_ALG_OPUS);
  EXPECT_EQ(hsgpvealg[74], HAPI_PKT_ALG_ISAC);
  for (unsigned alg : {0u, 1u, 2u, 3u, 6u, 10u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 20u, 21u}) EXPECT_TRUE(vocoderUsable(hsgvocoders[alg])) << alg;
  for (unsigned alg : {4u, 5u, 7u, 8u, 9u, 11u, 19u}) EXPECT_FALSE(vocoderUsable(hsgvocoders[alg])) << alg;
}

TEST(VocoderG711, PayloadIsTheLawCodesAnIndependentDecoderReads) {
  for (uint16_t code : {HAPI_PKT_VC_G711_ULAW, HAPI_PKT_VC_G711_ALAW}) {
    EncBench enc(code);
    const std::vector<int16_t> pcm = tone(40, 1000, 8000, 12000);
    std::vector<uint16_t> payload;
    uint16_t bytes = 0;
    ASSERT_EQ(enc.encode(pcm, payload, bytes), PVE_ENC_VOICE);
    ASSERT_EQ(bytes, 40);
    std::vector<uint8_t> b = bytesOf(payload, 40);
    std::vector<int16_t> theirs(40);
    g711_state_t* s = g711_init(nullptr, code == 0 ? G711_ULAW : G711_ALAW);
    g711_decode(s, theirs.data(), b.data(), 40);
    g711_free(s);
    DecBench dec(code);
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = dec.file(AJC_PKT_VOICE, payload.data(), 20, 40);
    r.numCurrPkt = 1;
    EXPECT_EQ(dec.decode(r, 40), theirs);
    EXPECT_EQ(dec.slotsInUse(), 0);
    EXPECT_GT(snrDb(pcm, theirs, 0), 30);
  }
}

TEST(VocoderG711, DoubleDecodePlaysTheSecondFrameAndFreesBoth) {
  DecBench dec(HAPI_PKT_VC_G711_ALAW);
  std::vector<uint16_t> a(20, 0xD5D5), b(20, 0x2A2A);  // A-law codes of small positive and large negative
  AJC_PVEDEC_INT r{};
  r.currPkt[0] = dec.file(AJC_PKT_DOUBLE_DECODE, a.data(), 20, 40);
  r.currPkt[1] = dec.file(AJC_PKT_VOICE, b.data(), 20, 40);
  r.numCurrPkt = 2;
  std::vector<int16_t> out = dec.decode(r, 40);
  int16_t code = 0x2A, expect = 0;
  g711AlawExpand(1, &code, &expect);
  for (int16_t s : out) EXPECT_EQ(s, expect);
  EXPECT_EQ(dec.slotsInUse(), 0);
}

TEST(VocoderG711, LostFrameWithoutConcealmentIsSilenceAndComfortNoiseStays) {
  DecBench dec(HAPI_PKT_VC_G711_ULAW, 0);
  AJC_PVEDEC_INT r{};
  r.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
  r.numCurrPkt = 1;
  for (int16_t s : dec.decode(r, 40)) EXPECT_EQ(s, 0);
  r.currPkt[0].payloadID = AJC_PKT_CNG << 8;
  for (int16_t s : dec.decode(r, 40)) EXPECT_EQ(s, 0x1234);  // the service's comfort noise is kept
}

TEST(VocoderG726, PayloadPackingMatchesAnIndependentCoderAtEveryRate) {
  for (uint16_t code = 2; code <= 5; ++code) {
    SCOPED_TRACE(code);
    EncBench enc(code);
    g726_state_t* ref = g726_init(nullptr, 8000 * code, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    for (int f = 0; f < 10; ++f) {
      const std::vector<int16_t> pcm = tone(40, 700, 8000, 8000, 40 * f);
      std::vector<uint16_t> payload;
      uint16_t bytes = 0;
      ASSERT_EQ(enc.encode(pcm, payload, bytes), PVE_ENC_VOICE);
      ASSERT_EQ(bytes, 5 * code);
      uint8_t theirs[40];
      const int n = g726_encode(ref, theirs, pcm.data(), 40);
      ASSERT_EQ(n, bytes);
      EXPECT_EQ(bytesOf(payload, bytes), std::vector<uint8_t>(theirs, theirs + n)) << "frame " << f;
      if (bytes % 2) {
        EXPECT_EQ(payload[bytes / 2] & 0xFF, 0) << "odd payload's last low byte";
      }
    }
    g726_free(ref);
  }
}

TEST(VocoderG726, RoundTripThroughTheWrappers) {
  EncBench enc(4);
  DecBench dec(4);
  std::vector<int16_t> in, out;
  for (int f = 0; f < 50; ++f) {
    const std::vector<int16_t> pcm = tone(40, 500, 8000, 10000, 40 * f);
    std::vector<uint16_t> payload;
    uint16_t bytes = 0;
    enc.encode(pcm, payload, bytes);
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = dec.file(AJC_PKT_VOICE, payload.data(), 10, bytes);
    r.numCurrPkt = 1;
    const std::vector<int16_t> o = dec.decode(r, 40);
    in.insert(in.end(), pcm.begin(), pcm.end());
    out.insert(out.end(), o.begin(), o.end());
  }
  EXPECT_GT(snrDb(in, out, 400), 15);
}

TEST(VocoderG729, DoubleDecodePlaysTheFirstAndFreesTheSecondUnread) {
  EncBench enc(HAPI_PKT_VC_G729A_8);
  DecBench dec(HAPI_PKT_VC_G729A_8);
  std::vector<uint16_t> p1, p2;
  uint16_t b1 = 0, b2 = 0;
  ASSERT_EQ(enc.encode(tone(80, 440, 8000, 8000), p1, b1), PVE_ENC_VOICE);
  ASSERT_EQ(b1, 10);
  enc.encode(tone(80, 440, 8000, 8000, 80), p2, b2);
  AJC_PVEDEC_INT r{};
  r.currPkt[0] = dec.file(AJC_PKT_DOUBLE_DECODE, p1.data(), 5, b1);
  r.currPkt[1] = dec.file(AJC_PKT_VOICE, p2.data(), 5, b2);
  r.numCurrPkt = 2;
  const std::vector<int16_t> viaDouble = dec.decode(r, 80);
  EXPECT_EQ(dec.slotsInUse(), 0);
  DecBench plain(HAPI_PKT_VC_G729A_8);
  AJC_PVEDEC_INT one{};
  one.currPkt[0] = plain.file(AJC_PKT_VOICE, p1.data(), 5, b1);
  one.numCurrPkt = 1;
  EXPECT_EQ(viaDouble, plain.decode(one, 80));
}

TEST(VocoderG729, SilenceWithAnnexBGivesSidOrNothing) {
  EncBench enc(2 << 8 | HAPI_PKT_VC_G729A_8);
  std::vector<uint16_t> p;
  uint16_t bytes = 0;
  int sid = 0, none = 0;
  for (int f = 0; f < 100; ++f) {
    const int t = enc.encode(std::vector<int16_t>(80, 0), p, bytes);
    if (t == PVE_ENC_SID) {
      ++sid;
      EXPECT_EQ(bytes, 2);
    }
    if (t == PVE_ENC_NONE) {
      ++none;
      EXPECT_EQ(bytes, 0);
    }
  }
  EXPECT_GT(sid, 0);
  EXPECT_GT(none, 50);
}

TEST(VocoderG7231, RatesSidAndUntransmittedFrames) {
  for (uint16_t code : {HAPI_PKT_VC_G7231_53, HAPI_PKT_VC_G7231_63}) {
    EncBench enc(code);
    std::vector<uint16_t> p;
    uint16_t bytes = 0;
    ASSERT_EQ(enc.encode(tone(240, 300, 8000, 8000), p, bytes), PVE_ENC_VOICE);
    EXPECT_EQ(bytes, code == HAPI_PKT_VC_G7231_53 ? 20 : 24);
    // The frame type bits are in the first payload byte, which the unpacketiser reads high.
    EXPECT_EQ((p[0] >> 8) & 3, code == HAPI_PKT_VC_G7231_53 ? 1 : 0);
  }
  EncBench vad(2 << 8 | HAPI_PKT_VC_G7231_63);
  std::vector<uint16_t> p;
  uint16_t bytes = 0;
  int sid = 0, none = 0;
  for (int f = 0; f < 40; ++f) {
    const int t = vad.encode(std::vector<int16_t>(240, 0), p, bytes);
    if (t == PVE_ENC_SID) {
      ++sid;
      EXPECT_EQ(bytes, 4);
    }
    if (t == PVE_ENC_NONE) {
      ++none;
      EXPECT_EQ(bytes, 0);
    }
  }
  EXPECT_GT(sid, 0);
  EXPECT_GT(none, 0);
}

TEST(VocoderG722, LostFrameWithoutConcealmentIsSilenceAndWithItIsConcealed) {
  EncBench enc(HAPI_PKT_VC_G722_64_MODE1);
  std::vector<uint16_t> p;
  uint16_t bytes = 0;
  for (uint16_t plc : {0, 3}) {
    DecBench dec(HAPI_PKT_VC_G722_64_MODE1, plc);
    for (int f = 0; f < 10; ++f) {
      enc.encode(tone(160, 440, 16000, 8000, 160 * f), p, bytes);
      ASSERT_EQ(bytes, 80);
      AJC_PVEDEC_INT r{};
      r.currPkt[0] = dec.file(AJC_PKT_VOICE, p.data(), 40, bytes);
      r.numCurrPkt = 1;
      dec.decode(r, 160);
    }
    // A frame waiting in slot 0 is untouched by the repeat, whose header names slot 0 too.
    std::vector<uint16_t> waiting(40, 0x1234);
    dec.file(AJC_PKT_VOICE, waiting.data(), 40, 80);
    ASSERT_EQ(dec.slotsInUse(), 1);
    AJC_PVEDEC_INT lost{};
    lost.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
    lost.numCurrPkt = 1;
    const std::vector<int16_t> out = dec.decode(lost, 160);
    EXPECT_EQ(dec.slotsInUse(), 1) << "a repeat neither copies nor frees a slot";
    double energy = 0;
    for (int16_t s : out) energy += double(s) * s;
    if (plc == 0) EXPECT_EQ(energy, 0);
    else EXPECT_GT(energy, 0);
  }
}

TEST(VocoderGsmFr, PayloadDecodesInAnIndependentDecoder) {
  EncBench enc(HAPI_PKT_VC_GSM_FR_13);
  gsm ref = gsm_create();
  std::vector<int16_t> in, theirs;
  for (int f = 0; f < 25; ++f) {
    const std::vector<int16_t> pcm = tone(160, 600, 8000, 8000, 160 * f);
    std::vector<uint16_t> p;
    uint16_t bytes = 0;
    ASSERT_EQ(enc.encode(pcm, p, bytes), PVE_ENC_VOICE);
    ASSERT_EQ(bytes, 33);
    std::vector<uint8_t> b = bytesOf(p, 33);
    EXPECT_EQ(b[0] >> 4, 0xD);
    gsm_signal out[160];
    ASSERT_EQ(gsm_decode(ref, b.data(), out), 0);
    in.insert(in.end(), pcm.begin(), pcm.end());
    theirs.insert(theirs.end(), out, out + 160);
  }
  gsm_destroy(ref);
  EXPECT_GT(snrDb(in, theirs, 800), 5);
}

TEST(VocoderGsmEfr, DtxSendsTheFirstNonSpeechFrameThenOneIn24) {
  EncBench enc(2 << 8 | HAPI_PKT_VC_GSM_EFR_122);
  std::vector<uint16_t> p;
  uint16_t bytes = 0;
  for (int f = 0; f < 20; ++f) enc.encode(tone(160, 600, 8000, 8000, 160 * f), p, bytes);
  std::vector<int> sent;
  for (int f = 0; f < 200; ++f) {
    if (enc.encode(std::vector<int16_t>(160, 0), p, bytes) == PVE_ENC_VOICE) {
      EXPECT_EQ(bytes, 31);
      sent.push_back(f);
    }
  }
  ASSERT_GE(sent.size(), 3u);
  // After the hangover ends, non-speech frames go every 24th.
  for (size_t i = sent.size() - 3; i + 1 < sent.size(); ++i) EXPECT_EQ(sent[i + 1] - sent[i], 24);
}

}  // namespace

namespace {

std::vector<uint8_t> opusBytes(const std::vector<uint16_t>& words, int n) { return bytesOf(words, n); }

TEST(VocoderOpus, OurPacketsDecodeInAFreshLibraryDecoder) {
  vocoderInit();
  for (uint16_t code : {38, 70}) {  // 20 ms at 8 and 16 kHz
    const int rate = code == 38 ? 8000 : 16000, n = rate / 50;
    EncBench enc(code);
    int err = 0;
    OpusDecoder* fresh = opus_decoder_create(rate, 1, &err);
    std::vector<int16_t> in, out;
    for (int f = 0; f < 50; ++f) {
      const std::vector<int16_t> pcm = tone(n, 500, rate, 8000, n * f);
      std::vector<uint16_t> p;
      uint16_t bytes = 0;
      ASSERT_EQ(enc.encode(pcm, p, bytes), PVE_ENC_VOICE);
      ASSERT_GT(bytes, 0);
      ASSERT_LE(bytes, 1275);
      std::vector<uint8_t> b = opusBytes(p, bytes);
      std::vector<int16_t> dec(n);
      ASSERT_EQ(opus_decode(fresh, b.data(), bytes, dec.data(), n, 0), n);
      in.insert(in.end(), pcm.begin(), pcm.end());
      out.insert(out.end(), dec.begin(), dec.end());
    }
    opus_decoder_destroy(fresh);
    // The codec delays the signal a few ms; find the best alignment.
    double best = -100;
    for (size_t d = 0; d < 200; ++d) best = std::max(best, snrDb(in, out, n * 10, d));
    EXPECT_GT(best, 10) << "code " << code;
  }
}

struct OpusDec : DecBench {
  explicit OpusDec(uint16_t code) : DecBench(code) {}
};

TEST(VocoderOpus, PacketLongerThanThePacketTimePlaysOverSeveralReleases) {
  vocoderInit();
  // Three 20 ms frames in one packet, received under the 20 ms code.
  int err = 0;
  OpusEncoder* enc = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &err);
  OpusRepacketizer* rp = opus_repacketizer_create();
  std::vector<std::vector<uint8_t>> parts(3, std::vector<uint8_t>(400));
  for (int f = 0; f < 3; ++f) {
    const std::vector<int16_t> pcm = tone(160, 500, 8000, 8000, 160 * f);
    parts[f].resize(opus_encode(enc, pcm.data(), 160, parts[f].data(), 400));
    opus_repacketizer_cat(rp, parts[f].data(), static_cast<int>(parts[f].size()));
  }
  std::vector<uint8_t> pkt(1200);
  pkt.resize(opus_repacketizer_out(rp, pkt.data(), 1200));
  opus_repacketizer_destroy(rp);
  opus_encoder_destroy(enc);
  std::vector<uint16_t> words((pkt.size() + 1) / 2);
  std::vector<int16_t> asBytes(pkt.begin(), pkt.end());
  vocoderPackBytes(asBytes.data(), static_cast<int>(pkt.size()), words.data());

  OpusDec dec(38);
  AJC_PVEDEC_INT r{};
  r.currPkt[0] = dec.file(AJC_PKT_VOICE, words.data(), static_cast<int>(words.size()), static_cast<uint16_t>(pkt.size()));
  r.numCurrPkt = 1;
  const std::vector<int16_t> a = dec.decode(r, 160);
  // A frame repeat in between plays the next slice, not a concealment.
  AJC_PVEDEC_INT rep{};
  rep.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
  rep.numCurrPkt = 1;
  const std::vector<int16_t> b = dec.decode(rep, 160);
  // The next voice release's own payload is taken and dropped.
  r.currPkt[0] = dec.file(AJC_PKT_VOICE, words.data(), static_cast<int>(words.size()), static_cast<uint16_t>(pkt.size()));
  const std::vector<int16_t> c = dec.decode(r, 160);
  EXPECT_EQ(dec.slotsInUse(), 0);

  OpusDecoder* ref = opus_decoder_create(8000, 1, &err);
  std::vector<int16_t> whole(480);
  ASSERT_EQ(opus_decode(ref, pkt.data(), static_cast<int>(pkt.size()), whole.data(), 480, 0), 480);
  opus_decoder_destroy(ref);
  std::vector<int16_t> got(a);
  got.insert(got.end(), b.begin(), b.end());
  got.insert(got.end(), c.begin(), c.end());
  EXPECT_EQ(got, whole);
}

TEST(VocoderOpus, RateChangeRecreatesTheDecoderAndPacketTimeChangeKeepsIt) {
  vocoderInit();
  OpusDec dec(38);
  auto* hdrEnd = reinterpret_cast<uint8_t*>(dec.mem.data()) + PVE_DEC_HDR_BYTES;
  // Play something so the decoder has history, then change only the packet time.
  AJC_PVEDEC_INT rep{};
  rep.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
  rep.numCurrPkt = 1;
  dec.decode(rep, 160);
  std::vector<uint8_t> before(hdrEnd, hdrEnd + 4096);
  dec.v->decinitcfgfnc(dec.mem.data(), &dec.regs, 39, 0);  // 40 ms, same rate
  EXPECT_EQ(std::vector<uint8_t>(hdrEnd + 8, hdrEnd + 4096), std::vector<uint8_t>(before.begin() + 8, before.end()));
  dec.v->decinitcfgfnc(dec.mem.data(), &dec.regs, 70, 0);  // 16 kHz
  EXPECT_NE(std::vector<uint8_t>(hdrEnd, hdrEnd + 4096), before);
}

}  // namespace

namespace {

TEST(VocoderG711, LostFramesAreConcealedByTheModeOfTheRegisters) {
  EncBench enc(HAPI_PKT_VC_G711_ULAW);
  for (uint16_t mode : {1, 3}) {
    DecBench dec(HAPI_PKT_VC_G711_ULAW, mode);
    std::vector<int16_t> last;
    for (int f = 0; f < 20; ++f) {
      std::vector<uint16_t> p;
      uint16_t bytes = 0;
      enc.encode(tone(40, 500, 8000, 8000, 40 * f), p, bytes);
      AJC_PVEDEC_INT r{};
      r.currPkt[0] = dec.file(AJC_PKT_VOICE, p.data(), 20, bytes);
      r.numCurrPkt = 1;
      last = dec.decode(r, 40);
    }
    AJC_PVEDEC_INT lost{};
    lost.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
    lost.numCurrPkt = 1;
    const std::vector<int16_t> out = dec.decode(lost, 40);
    double energy = 0;
    for (int16_t s : out) energy += double(s) * s;
    EXPECT_GT(energy, 40.0 * 1000 * 1000) << "mode " << mode;
    if (mode == 1) {
      // The frame-repeat concealment plays the last good frame 3 dB down.
      for (int i = 0; i < 40; ++i) EXPECT_EQ(out[i], static_cast<int16_t>((last[i] * 23198) >> 15)) << i;
    }
  }
}

}  // namespace

namespace {

TEST(VocoderGsmHr, PayloadKindsDtxScheduleAndDecoderHoming) {
  EncBench enc(2 << 8 | 35);
  std::vector<uint16_t> p;
  uint16_t bytes = 0;
  for (int f = 0; f < 20; ++f) {
    ASSERT_EQ(enc.encode(tone(160, 600, 8000, 8000, 160 * f), p, bytes), PVE_ENC_VOICE);
    ASSERT_EQ(bytes, 15);
    EXPECT_EQ(p[0] >> 8, 0x00) << "speech";
  }
  std::vector<int> sent;
  for (int f = 0; f < 80; ++f) {
    if (enc.encode(std::vector<int16_t>(160, 0), p, bytes) == PVE_ENC_VOICE) {
      sent.push_back(f);
      if ((p[0] >> 8) == 0x20) {
        EXPECT_EQ(bytes, 15);
      }
    }
  }
  ASSERT_GE(sent.size(), 3u);
  for (size_t i = sent.size() - 2; i + 1 < sent.size(); ++i) EXPECT_EQ(sent[i + 1] - sent[i], 8);

  // The encoder answers homing frames with the decoder homing frame; the second one in a row
  // plays the homing pattern.
  EncBench home(35);
  DecBench dec(35);
  std::vector<int16_t> last;
  for (int f = 0; f < 3; ++f) {
    home.encode(std::vector<int16_t>(160, 8), p, bytes);
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = dec.file(AJC_PKT_VOICE, p.data(), 8, bytes);
    r.numCurrPkt = 1;
    last = dec.decode(r, 160);
  }
  for (int16_t s : last) EXPECT_EQ(s, 8);
  EXPECT_EQ(dec.slotsInUse(), 0);
}

TEST(VocoderGsmHr, RoundTripThroughTheWrappers) {
  EncBench enc(35);
  DecBench dec(35);
  std::vector<int16_t> in, out;
  for (int f = 0; f < 50; ++f) {
    const std::vector<int16_t> pcm = tone(160, 500, 8000, 8000, 160 * f);
    std::vector<uint16_t> p;
    uint16_t bytes = 0;
    enc.encode(pcm, p, bytes);
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = dec.file(AJC_PKT_VOICE, p.data(), 8, bytes);
    r.numCurrPkt = 1;
    const std::vector<int16_t> o = dec.decode(r, 160);
    in.insert(in.end(), pcm.begin(), pcm.end());
    out.insert(out.end(), o.begin(), o.end());
  }
  double best = -100;
  for (size_t d = 0; d < 80; ++d) best = std::max(best, snrDb(in, out, 1600, d));
  EXPECT_GT(best, 3);
}

}  // namespace

namespace {

TEST(VocoderIsac, FramesCompleteEveryThirtyOrSixtyMsAndPlayAsTheCodecPlaysThem) {
  using namespace isac;
  for (uint16_t code : {73, 74}) {
    const int blocks = code == 74 ? 6 : 3;
    const int16_t frameMs = code == 74 ? 60 : 30;
    EncBench enc(code);
    DecBench dec(code);
    // The codec driven directly, as the reference for what the wrappers carry.
    std::vector<int32_t> mem((kIsacfixInstanceBytes + 3) / 4);
    ISACFIX_MainStruct* ref = nullptr;
    int32_t used = 0;
    ASSERT_GE(WebRtcIsacfix_Create(&ref, mem.data(), mem.size() * 4, &used), 0);
    WebRtcIsacfix_EncoderInit(ref, 1, 0);
    WebRtcIsacfix_DecoderInit(ref);
    int frames = 0;
    for (int b = 0; b < 60; ++b) {
      const std::vector<int16_t> pcm = tone(160, 700, 16000, 8000, 160 * b);
      std::vector<uint16_t> p;
      uint16_t bytes = 0;
      const int type = enc.encode(pcm, p, bytes);
      WebRtcIsacfix_Control(ref, 32000, frameMs);
      uint8_t refBytes[700];
      const int refN = WebRtcIsacfix_Encode(ref, pcm.data(), refBytes, 0);
      if ((b + 1) % blocks != 0) {
        EXPECT_EQ(type, PVE_ENC_NONE) << "block " << b;
        continue;
      }
      ASSERT_EQ(type, PVE_ENC_VOICE) << "block " << b;
      ASSERT_EQ(bytes, refN);
      ASSERT_LE(bytes, code == 74 ? 600 : 400);
      ++frames;
      AJC_PVEDEC_INT r{};
      r.currPkt[0] = dec.file(AJC_PKT_VOICE, p.data(), (bytes + 1) / 2, bytes);
      r.numCurrPkt = 1;
      const std::vector<int16_t> o = dec.decode(r, 160 * blocks);
      std::vector<int16_t> expect(160 * blocks);
      int16_t speechType = 0;
      WebRtcIsacfix_Decode(ref, refBytes, static_cast<size_t>(refN), expect.data(), &speechType);
      EXPECT_EQ(o, expect) << "code " << code << " frame " << frames;
    }
    EXPECT_EQ(frames, 60 / blocks);
    EXPECT_EQ(dec.slotsInUse(), 0);
    // A lost frame is concealed for the whole frame length.
    AJC_PVEDEC_INT lost{};
    lost.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
    lost.numCurrPkt = 1;
    std::vector<int16_t> expect(160 * blocks);
    WebRtcIsacfix_DecodePlc(ref, expect.data(), static_cast<int16_t>(blocks / 3), 0);
    EXPECT_EQ(dec.decode(lost, 160 * blocks), expect);
  }
}

}  // namespace
