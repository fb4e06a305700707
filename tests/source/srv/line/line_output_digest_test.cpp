// Output digests of the line-side blocks on fixed signals: concealment (narrowband, wideband and
// the pitch-repetition concealment with its comfort noise) under one loss pattern, the DTMF
// detector's block results and the digit service's events and relay messages on speech and
// digits, tone and digit generation, caller-ID transmission in Bell 202 and V.23. Every output
// sample, result and event goes into one hash per block; the references were taken from the
// plain (no vector kernel) build, so any change of a single output bit by a rework of these
// blocks fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../clid/clid_packets.h"
#include "../linetest/line_harness.h"
#include "clidtx.h"
#include "dtmfd.h"
#include "g711plc.h"
#include "orvox_fixture.h"
#include "pcmplc.h"
#include "pte.h"
#include "tone.h"
#include "vadcng.h"

using namespace linetest;

namespace {

// 64-bit FNV-1a over the bytes of everything added.
class Digest {
 public:
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h_ = (h_ ^ b[i]) * 0x100000001B3ull;
  }
  template <typename T>
  void value(T v) {
    bytes(&v, sizeof(v));
  }
  void samples(const int16_t* x, size_t n) { bytes(x, n * sizeof(*x)); }
  void samples(const std::vector<int16_t>& x) { samples(x.data(), x.size()); }
  void message(const HostMsg& m) {
    value(m.header);
    value(m.op1);
    value(m.op2);
    value(m.frame);
    bytes(m.data.data(), m.data.size());
  }
  uint64_t get() const { return h_; }

 private:
  uint64_t h_ = 0xCBF29CE484222325ull;
};

std::vector<int16_t> speech(const char* file, size_t samples) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/" + file),
                  std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> x(raw.size() / 2);
  std::memcpy(x.data(), raw.data(), x.size() * 2);
  x.resize(std::min(x.size(), samples));
  return x;
}

// Frame n is lost: one in ten at random, plus bursts of 3, 7 and 16 so that every stage of a
// long loss (attenuation, silence, comfort noise, the two-frame recovery fade) is reached.
std::vector<bool> lossPattern(size_t frames) {
  std::vector<bool> lost(frames, false);
  uint32_t seed = 12345;
  for (size_t n = 0; n < frames; ++n) {
    seed = seed * 1103515245u + 12345u;
    lost[n] = ((seed >> 16) % 10) == 0;
  }
  const size_t bursts[][2] = {{200, 3}, {400, 7}, {600, 16}, {900, 13}};
  for (const auto& b : bursts) {
    for (size_t i = 0; i < b[1] && b[0] + i < frames; ++i) lost[b[0] + i] = true;
  }
  return lost;
}

// DTMF digits from the independent generator, 50 ms on and 50 ms off, at -10 dBm0 per tone.
std::vector<int16_t> digits(const char* s) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_timing(tx, 50, 50);
  dtmf_tx_put(tx, s, -1);
  std::vector<int16_t> x(std::strlen(s) * 800 + 800);
  x.resize(static_cast<size_t>(dtmf_tx(tx, x.data(), static_cast<int>(x.size()))));
  dtmf_tx_free(tx);
  return x;
}

// Two seconds of speech, then the sixteen digits alone, then digits over quiet speech.
std::vector<int16_t> speechAndDigits() {
  std::vector<int16_t> x = speech("speech_8k.raw", 16000);
  const auto d = digits("0123456789*#ABCD");
  x.insert(x.end(), d.begin(), d.end());
  const auto s = speech("speech_8k.raw", 40000);
  const auto d2 = digits("159D#");
  for (size_t i = 0; i < d2.size(); ++i) x.push_back(static_cast<int16_t>(d2[i] + s[24000 + i] / 8));
  return x;
}

}  // namespace

// The concealment's output over the speech under the loss pattern, frame by frame.
template <typename State, int Frame>
uint64_t concealmentDigest(const char* file, size_t frames, void (*reset)(State*),
                           void (*good)(State*, int16_t*, const int16_t*), void (*lost)(State*, int16_t*)) {
  const auto x = speech(file, frames * Frame);
  const auto loss = lossPattern(x.size() / Frame);
  State s;
  reset(&s);
  Digest d;
  for (size_t n = 0; n < loss.size(); ++n) {
    int16_t frame[Frame];
    if (loss[n]) {
      lost(&s, frame);
    } else {
      std::memcpy(frame, &x[n * Frame], sizeof(frame));
      good(&s, frame, frame);
    }
    d.samples(frame, Frame);
  }
  return d.get();
}

TEST(LineOutputDigest, NarrowbandConcealment) {
  EXPECT_EQ((concealmentDigest<NB_PLC_State, NB_PLC_FRAME>("speech_8k.raw", 1200, Reset_NB_PLC, NB_PLC, NB_PLC_erasure)),
            0xDD487819A3FB1DBCull);
}

TEST(LineOutputDigest, WidebandConcealment) {
  EXPECT_EQ((concealmentDigest<WB_PLC_State, WB_PLC_FRAME>("speech_16k.raw", 1000, Reset_WB_PLC, WB_PLC, WB_PLC_erasure)),
            0x15ED30131D011241ull);
}

TEST(LineOutputDigest, PitchRepetitionConcealmentWithComfortNoise) {
  const auto x = speech("speech_8k.raw", 1200 * PLC_FRAMESZ);
  const auto lost = lossPattern(x.size() / PLC_FRAMESZ);
  GCNG cng;
  cngInit(&cng, HAPI_GCNG_HOTHNOISE);
  uint16_t sid = 45 << 8;
  int16_t scratch[PLC_FRAMESZ];
  cngProcess(&cng, scratch, &sid, 2, PLC_FRAMESZ);
  HSZPLC s;
  plcinit(&s);
  Digest d;
  for (size_t n = 0; n < lost.size(); ++n) {
    int16_t frame[PLC_FRAMESZ];
    d.value(do_plc(&s, &cng, &x[n * PLC_FRAMESZ], frame, lost[n]));
    d.samples(frame, PLC_FRAMESZ);
  }
  EXPECT_EQ(d.get(), 0x215307F358A928D0ull);
}

TEST(LineOutputDigest, DtmfDetectorBlocks) {
  const auto sig = speechAndDigits();
  std::vector<int16_t> x(DTMFD_TAPS, 0);
  x.insert(x.end(), sig.begin(), sig.end());
  Digest d;
  // The default profile, and a lenient one that lets more speech through to the later steps.
  const uint16_t admins[][2] = {{HAPI_PTE_ADM_N_AMERICA, 28}, {HAPI_PTE_ADM_GENERAL, 45}};
  for (const auto& a : admins) {
    DTMFD_STATE s;
    dtmfdInit(&s);
    for (size_t at = DTMFD_TAPS; at + DTMFD_BLOCK <= x.size(); at += DTMFD_BLOCK) {
      DTDET_RESULT r{};
      dtmfdBlk(&s, a[0], a[1], &r, &x[at]);
      d.value(r.digit);
      d.value(r.power);
      d.value(s.lo_energy);
      d.value(s.hi_energy);
      d.value(s.bpOutLowReal);
      d.value(s.bpOutLowImag);
      d.value(s.bpOutHighReal);
      d.value(s.bpOutHighImag);
    }
  }
  EXPECT_EQ(d.get(), 0x5F7D2E13B775A8C8ull);
}

TEST(LineOutputDigest, OscillatorsAndModulation) {
  Digest d;
  HSZTONE a, b;
  hsfToneReset(&a, 350, 12000);
  hsfToneReset(&b, 440, 32767);
  std::vector<int16_t> block(40);
  for (int n = 0; n < 400; ++n) {
    std::fill(block.begin(), block.end(), static_cast<int16_t>(n * 97 - 20000));  // saturates at times
    hsfToneGen(block.data(), &a, 40);
    hsfToneGen(block.data(), &b, 40);
    d.samples(block);
    if (n == 200) hsfToneChangeFreq(&b, 1633);
  }
  std::vector<int16_t> carrier(40), modulator(40), out(40);
  HSZTONE c, m;
  hsfToneReset(&c, 425, 20000);
  hsfToneReset(&m, 25, 32767);
  for (int n = 0; n < 100; ++n) {
    std::fill(carrier.begin(), carrier.end(), 0);
    std::fill(modulator.begin(), modulator.end(), 0);
    hsfToneGen(carrier.data(), &c, 40);
    hsfToneGen(modulator.data(), &m, 40);
    toneAmplitudeMod(40, out.data(), carrier.data(), modulator.data());
    d.samples(out);
  }
  for (uint32_t ph = 0; ph < 65536; ph += 7) d.value(hsfSin(static_cast<uint16_t>(ph)));
  EXPECT_EQ(d.get(), 0xAC26B352194945D0ull);
}

namespace {

constexpr uint16_t kDetectAll = HAPI_PTE_INGRESSMASK | HAPI_PTE_EGRESSMASK | HAPI_PTE_MODE_DIG_EVT |
                                HAPI_PTE_MODE_DIG_RELAY | HAPI_PTE_MODE_SQUELCH;

class LineServiceDigest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (opened_) close();
  }
  void openWith(const HSFSRVARC* service, uint16_t frame = kFrame) {
    open(service, frame);
    opened_ = true;
  }
  void closeNow() {
    close();
    opened_ = false;
  }

  static void hostMessages(Digest& d) {
    for (const HostMsg& m : world().host) {
      if (!m.response) d.message(m);
    }
  }

 private:
  bool opened_ = false;
};

HAPI_PTE_CUSTOM_PACKET steadyTone(std::vector<uint16_t> freqs, uint16_t level) {
  HAPI_PTE_CUSTOM_PACKET p{};
  p.signalContrl = HAPI_PTE_MKSIGNALCTRL(1, 0, 0, 0);
  p.profile.numFreqGroups = 1;
  HAPI_PTE_FREQ_GRP& g = p.profile.freqGrp[0];
  g.signalLevel = HAPI_PTE_MKSIGNALLEVEL(level, 10);
  uint16_t mask = 0;
  for (size_t i = 0; i < freqs.size(); ++i) {
    g.freq[i] = freqs[i];
    g.amp[i] = 0x5880;
    mask = static_cast<uint16_t>(mask | (1u << i));
  }
  g.freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(static_cast<unsigned>(freqs.size()), 2);
  g.pulse[0] = {HAPI_PTE_CADBIT_FREQ1, 1, mask, 400};
  g.pulse[1] = {HAPI_PTE_CADBIT_LOOPCOUNT, 0, mask, 200};
  g.freqGroupRepeatCount = 3;
  return p;
}

}  // namespace

TEST_F(LineServiceDigest, DigitServiceEventsOnSpeechAndDigits) {
  openWith(&ptearc);
  ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, kDetectAll).result, HAPISUCCESS);
  world().sendRawPcm = true;
  const auto x = speechAndDigits();
  world().ingressIn.assign(x.begin(), x.end());
  world().egressIn.assign(x.begin(), x.end());
  drain(20);
  Digest d;
  hostMessages(d);
  for (const Ibd& m : world().ingressIbd) {
    d.value(m.mask);
    d.value(m.header);
    d.value(m.op1);
    d.value(m.op2);
    d.value(m.frame);
    d.bytes(m.data.data(), m.data.size());
  }
  d.samples(world().rawPcmOut);
  EXPECT_EQ(d.get(), 0x1D578C7D3E80A3B0ull);
}

TEST_F(LineServiceDigest, ToneAndDigitGeneration) {
  openWith(&ptearc);
  ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_MODE_DR_EG_EVT).result, HAPISUCCESS);
  Digest d;
  // A cadenced two-tone signal on top of far-end speech, then a dial string.
  const auto s = speech("speech_8k.raw", 40000);
  world().egressIn.assign(s.begin(), s.end());
  const auto tone = steadyTone({350, 440}, 13);
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &tone, sizeof(tone)).result, HAPISUCCESS);
  runFrames(300);
  ptesrv::HAPI_PTE_DIALSTRING ds{};
  ds.dBmLevel = 7;
  ds.dBmSkew = 2;
  ds.pulseOnTime = 480;
  ds.pulseOffTime = 400;
  ds.pauseTime = 800;
  const uint8_t dial[] = {1, 5, 9, 10, 11, 0, 0xF0, 12, 13, 14, 15, 2, 3, 4, 6, 7, 8};
  ds.numCharacters = sizeof(dial);
  std::memcpy(ds.digitArray, dial, sizeof(dial));
  ASSERT_EQ(extCommand(HAPI_PTE_DIALSTRING_CMD, &ds, sizeof(ds)).result, HAPISUCCESS);
  runFrames(250);
  d.samples(world().egressOut);
  hostMessages(d);
  EXPECT_EQ(d.get(), 0xEFAFFA7B06C5F3A5ull);
}

TEST_F(LineServiceDigest, CallerIdTransmitBell202AndV23) {
  Digest d;
  const HSZCLIDTXREGS regs[] = {HAPI_CLIDTX_DEF_REGS, {300, 6000, 1300, 2100}};
  for (const HSZCLIDTXREGS& r : regs) {
    openWith(&clidtxsrvarc, 40);
    ASSERT_EQ(extCommand(CLIDTX_SETREGS_CMD, &r, sizeof(r)).result, HAPISUCCESS);
    ASSERT_EQ(command(CLIDTX_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    uint8_t msg[60];
    for (int i = 0; i < 60; ++i) msg[i] = static_cast<uint8_t>(i * 37 + 11);
    world().egressPackets.push_back({{HSF_IBD_PACKET, 0, clidpackets::packet(0, 300, 180)},
                                     {HSF_IBD_PACKET, 0, clidpackets::packet(1, 42, 0, msg)},
                                     {HSF_IBD_PACKET, 0, clidpackets::packet(2, 18, 10, msg + 42)}});
    runFrames(2);
    ASSERT_EQ(command(CLIDTX_TRANSMIT_CMD, 1, 0).result, HAPISUCCESS);
    runFrames(300);
    d.samples(world().egressOut);
    hostMessages(d);
    closeNow();
  }
  EXPECT_EQ(d.get(), 0x209E3F46B9A8D27Cull);
}
