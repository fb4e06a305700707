// V.21 channel 2 against the independent modem: HDLC frames both ways over a range of levels, a
// carrier offset and noise; calling and answer tones generated and detected.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <string>
#include <random>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../linetest/line_harness.h"
#include "../vfax/modem_bits.h"
#include "v21.h"

using namespace linetest;

namespace {

// spandsp's scale: a full-scale sine is +3.14 dBm0.
double peakForDbm0(double dbm0) { return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0); }
double rmsDbm0(const std::vector<int16_t>& x, size_t from, size_t to) {
  double s = 0;
  for (size_t i = from; i < to; ++i) s += double(x[i]) * x[i];
  const double rms = std::sqrt(s / double(to - from));
  return 20 * std::log10(rms * std::sqrt(2.0) / 32767.0) + 3.14;
}

std::vector<std::vector<uint8_t>> testFrames(int n) {
  std::vector<std::vector<uint8_t>> frames;
  std::mt19937 rng(4);
  for (int i = 0; i < n; ++i) {
    std::vector<uint8_t> f(3 + rng() % 20);
    f[0] = 0xFF;
    f[1] = uint8_t(0x03 | (i == n - 1 ? 0x10 : 0));
    for (size_t k = 2; k < f.size(); ++k) f[k] = uint8_t(rng());
    frames.push_back(f);
  }
  return frames;
}

// Bits of an HDLC stream from the independent framer: a second of flags, the frames, flags.
std::vector<uint8_t> hdlcBits(const std::vector<std::vector<uint8_t>>& frames) {
  bool done = false;
  hdlc_tx_state_t* tx = hdlc_tx_init(nullptr, false, 2, false, [](void* u) { *static_cast<bool*>(u) = true; }, &done);
  std::vector<uint8_t> bits;
  hdlc_tx_flags(tx, 38);
  for (const auto& f : frames) {
    while (hdlc_tx_frame(tx, f.data(), f.size()) != 0) bits.push_back(uint8_t(hdlc_tx_get_bit(tx) & 1));
  }
  done = false;
  for (int guard = 0; !done && guard < 100000; ++guard) bits.push_back(uint8_t(hdlc_tx_get_bit(tx) & 1));
  for (int i = 0; i < 8 * 40; ++i) bits.push_back(uint8_t(hdlc_tx_get_bit(tx) & 1));
  hdlc_tx_free(tx);
  return bits;
}

// Compact report of which frames arrived intact.
std::string arrived(const std::vector<std::vector<uint8_t>>& got, const std::vector<std::vector<uint8_t>>& sent) {
  std::string s;
  for (const auto& f : sent) s += std::find(got.begin(), got.end(), f) != got.end() ? '+' : '-';
  return s + " (" + std::to_string(got.size()) + " received)";
}

struct FrameSink {
  std::vector<std::vector<uint8_t>> good;
  int bad = 0;
  static void handler(void* user, const uint8_t* pkt, int len, int ok) {
    auto* s = static_cast<FrameSink*>(user);
    if (len < 0) return;  // status reports
    if (ok)
      s->good.emplace_back(pkt, pkt + len);
    else
      ++s->bad;
  }
};

void addNoise(std::vector<int16_t>& x, double noiseDbm0, int seed) {
  awgn_state_t* n = awgn_init_dbm0(nullptr, seed, float(noiseDbm0));
  for (int16_t& v : x) v = int16_t(std::clamp(int(v) + int(awgn(n)), -32768, 32767));
  awgn_free(n);
}

class V21Oracle : public ::testing::Test {
 protected:
  void SetUp() override { open(&v21arc); }
  void TearDown() override { close(); }
  V21LOCLMEM* inst() { return static_cast<V21LOCLMEM*>(instance(HAPI_V21_SRV)); }

  void setLevel(double dbm0) {
    const double peak = peakForDbm0(dbm0);
    ASSERT_EQ(command(V21_SETREG1_CMD, 0, uint16_t(std::lround(peak * 32768.0 / 14328.0))).result, HAPISUCCESS);
  }

  // Our transmitter sends the bits; returns the line audio.
  std::vector<int16_t> transmit(const std::vector<uint8_t>& bits) {
    EXPECT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    EXPECT_EQ(command(V21_TXMODE_CMD, HSV21TXDATA, 0).result, HAPISUCCESS);
    world().egressOut.clear();
    size_t at = 0;
    while (at < bits.size()) {
      if (MEM_QueueCount(&inst()->hsxv21tx.v21zTxQueue) < 8) {
        const size_t n = std::min<size_t>(240, bits.size() - at);
        const std::vector<uint16_t> words = modembits::blockWords(bits, at, n);
        EXPECT_EQ(extCommand(V21_TXDATA_CMD, words.data(), uint16_t(2 * words.size())).result, HAPISUCCESS);
        at += n;
      } else {
        runFrames(1);
      }
    }
    runFrames(int(bits.size() / 3) + 50);
    return world().egressOut;
  }

  // Our receiver takes the audio; returns the bits it delivered.
  std::vector<uint8_t> receive(const std::vector<int16_t>& audio) {
    EXPECT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    EXPECT_EQ(command(V21_RXMODE_CMD, 1, 0).result, HAPISUCCESS);
    world().ingressIbd.clear();
    world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
    drain(30);
    std::vector<uint8_t> bits;
    for (const Ibd& e : world().ingressIbd) {
      if (e.header == V21_RXDATA_EVT) modembits::appendBlockBits(e.data, bits);
    }
    return bits;
  }
};

fsk_spec_t shiftedSpec(int offsetHz) {
  fsk_spec_t s = preset_fsk_specs[FSK_V21CH2];
  s.freq_zero += offsetHz;
  s.freq_one += offsetHz;
  s.min_level = -48;
  return s;
}

TEST_F(V21Oracle, OurFramesReachTheIndependentReceiverAtAllLevelsOffsetsAndNoise) {
  const auto frames = testFrames(6);
  const auto bits = hdlcBits(frames);
  for (double level : {-10.0, -25.0, -40.0}) {
    for (int offset : {-10, 10}) {
      close();
      open(&v21arc);
      setLevel(level);
      std::vector<int16_t> audio = transmit(bits);
      ASSERT_GT(audio.size(), bits.size() * 26);
      EXPECT_NEAR(rmsDbm0(audio, 800, 800 + 8000), level, 0.7);
      addNoise(audio, level - 15.0, 7);
      const fsk_spec_t spec = shiftedSpec(-offset);  // the receiver sits off by the offset
      FrameSink sink;
      hdlc_rx_state_t* hrx = hdlc_rx_init(nullptr, false, true, 2, FrameSink::handler, &sink);
      fsk_rx_state_t* rx = fsk_rx_init(nullptr, &spec, FSK_FRAME_MODE_SYNC,
                                       reinterpret_cast<put_bit_func_t>(hdlc_rx_put_bit), hrx);
      fsk_rx_signal_cutoff(rx, -48);
      fsk_rx(rx, audio.data(), int(audio.size()));
      fsk_rx_free(rx);
      hdlc_rx_free(hrx);
      EXPECT_EQ(arrived(sink.good, frames), arrived(frames, frames)) << level << " dBm0, " << offset << " Hz";
    }
  }
}

TEST_F(V21Oracle, IndependentFramesReachOurReceiverAtAllLevelsOffsetsAndNoise) {
  const auto frames = testFrames(6);
  const auto bits = hdlcBits(frames);
  for (double level : {-10.0, -25.0, -40.0}) {
    for (int offset : {-10, 10}) {
      close();
      open(&v21arc);
      const fsk_spec_t spec = shiftedSpec(offset);
      struct Src {
        const std::vector<uint8_t>* bits;
        size_t at;
      } src{&bits, 0};
      fsk_tx_state_t* tx = fsk_tx_init(nullptr, &spec,
                                       [](void* u) -> int {
                                         auto* s = static_cast<Src*>(u);
                                         return s->at < s->bits->size() ? (*s->bits)[s->at++] : 1;
                                       },
                                       &src);
      fsk_tx_power(tx, float(level));
      std::vector<int16_t> audio(bits.size() * 80 / 3 + 4000);
      fsk_tx(tx, audio.data(), int(audio.size()));
      fsk_tx_free(tx);
      addNoise(audio, level - 15.0, 9);
      // silence in front, as on a line before the far end answers
      audio.insert(audio.begin(), 1600, 0);
      const auto got = receive(audio);
      FrameSink sink;
      hdlc_rx_state_t* hrx = hdlc_rx_init(nullptr, false, true, 2, FrameSink::handler, &sink);
      for (uint8_t b : got) hdlc_rx_put_bit(hrx, b);
      hdlc_rx_free(hrx);
      EXPECT_EQ(arrived(sink.good, frames), arrived(frames, frames)) << level << " dBm0, " << offset << " Hz";
    }
  }
}

// Runs the independent tone detector over audio; returns the sample at which it first reports.
long detectedAt(int toneType, const std::vector<int16_t>& audio) {
  modem_connect_tones_rx_state_t* rx = modem_connect_tones_rx_init(nullptr, toneType, nullptr, nullptr);
  long at = -1;
  for (size_t i = 0; i + 160 <= audio.size(); i += 160) {
    modem_connect_tones_rx(rx, audio.data() + i, 160);
    if (at < 0 && modem_connect_tones_rx_get(rx) != MODEM_CONNECT_TONES_NONE) at = long(i + 160);
  }
  modem_connect_tones_rx_free(rx);
  return at;
}

TEST_F(V21Oracle, CallingToneIsCadencedAndRecognised) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  world().egressOut.clear();
  ASSERT_EQ(command(V21_TXMODE_CMD, HSV21TXCNG, 0).result, HAPISUCCESS);
  runFrames(800);  // 8 s: two and a bit cycles
  const auto& a = world().egressOut;
  // on and off runs in 10 ms frames
  std::vector<std::pair<bool, int>> runs;
  for (size_t f = 0; f + 80 <= a.size(); f += 80) {
    bool on = false;
    for (size_t i = f; i < f + 80; ++i) on |= a[i] != 0;
    if (runs.empty() || runs.back().first != on) runs.push_back({on, 0});
    runs.back().second += 1;
  }
  ASSERT_GE(runs.size(), 4u);
  size_t first = runs[0].first ? 0 : 1;
  EXPECT_NEAR(runs[first].second, 50, 1) << "500 ms on";
  EXPECT_NEAR(runs[first + 1].second, 300, 1) << "3 s off";
  EXPECT_NEAR(runs[first + 2].second, 50, 1);
  const long at = detectedAt(MODEM_CONNECT_TONES_FAX_CNG, a);
  EXPECT_GE(at, 0);
  EXPECT_NEAR(rmsDbm0(a, size_t(runs[0].first ? 80 : runs[0].second * 80 + 80), size_t(runs[0].first ? 3000 : runs[0].second * 80 + 3000)),
              20 * std::log10(14328.0 / 2 / 32767.0) + 3.14, 0.3);
}

TEST_F(V21Oracle, AnswerToneIsRecognised) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  world().egressOut.clear();
  ASSERT_EQ(command(V21_TXMODE_CMD, HSV21TXCED, 0).result, HAPISUCCESS);
  runFrames(300);
  EXPECT_GE(detectedAt(MODEM_CONNECT_TONES_ANS, world().egressOut), 0);
}

std::vector<int16_t> independentTone(int toneType, int samples, double gainDb = 0) {
  modem_connect_tones_tx_state_t* tx = modem_connect_tones_tx_init(nullptr, toneType);
  std::vector<int16_t> a(size_t(samples), 0);
  modem_connect_tones_tx(tx, a.data(), samples);
  modem_connect_tones_tx_free(tx);
  const double g = std::pow(10.0, gainDb / 20);
  for (int16_t& v : a) v = int16_t(std::lround(v * g));
  return a;
}

TEST_F(V21Oracle, DetectsCallingAndAnswerTonesWithinTheirTimes) {
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(5);
  // The independent calling tone: 0.5 s on, 3 s off. Onset reported after 400 ms of presence.
  world().ingressIbd.clear();
  const long start = world().ingressFrames;
  world().ingressIn = {};
  const auto cng = independentTone(MODEM_CONNECT_TONES_FAX_CNG, 8000 * 4);
  world().ingressIn.insert(world().ingressIn.end(), cng.begin(), cng.end());
  drain(5);
  std::vector<std::pair<uint16_t, long>> seen;
  for (const Ibd& e : world().ingressIbd)
    if (e.header == V21_CNG_EVT || e.header == V21_CED_EVT) seen.push_back({uint16_t(e.header << 1 | e.op1), e.frame - start});
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, uint16_t(V21_CNG_EVT << 1 | 1));
  EXPECT_GE(seen[0].second, 40);  // 400 ms of presence first
  EXPECT_LE(seen[0].second, 48);
  EXPECT_EQ(seen[1].first, uint16_t(V21_CNG_EVT << 1 | 0));
  // the end: once the smoothed level has fallen below the threshold, 400 ms more
  EXPECT_GE(seen[1].second, 50 + 40);
  EXPECT_LE(seen[1].second, 50 + 90);

  // Answer tone: onset after 500 ms; a short gap does not end it.
  close();
  open(&v21arc);
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(5);
  world().ingressIbd.clear();
  const long s2 = world().ingressFrames;
  auto ced = independentTone(MODEM_CONNECT_TONES_ANS, 8000 * 2, -10);
  const long toneStart = long(std::find_if(ced.begin(), ced.end(), [](int16_t v) { return v != 0; }) - ced.begin()) / 80;
  std::fill(ced.begin() + 8000, ced.begin() + 8000 + 1600, 0);  // 200 ms gap
  ced.resize(ced.size() + 8000, 0);
  world().ingressIn.insert(world().ingressIn.end(), ced.begin(), ced.end());
  drain(5);
  std::vector<std::pair<uint16_t, long>> ans;
  for (const Ibd& e : world().ingressIbd)
    if (e.header == V21_CED_EVT) ans.push_back({e.op1, e.frame - s2});
  ASSERT_EQ(ans.size(), 2u);
  EXPECT_EQ(ans[0].first, 1);
  EXPECT_GE(ans[0].second - toneStart, 50);  // 500 ms of presence
  EXPECT_LE(ans[0].second - toneStart, 65);  // plus the level's rise and one detector period
  EXPECT_EQ(ans[1].first, 0);
  EXPECT_GE(ans[1].second, 200 + 50);  // the tone ends at 2 s
  EXPECT_LE(ans[1].second, 200 + 100);
}

TEST_F(V21Oracle, QuietDetectorsStillTrackTheTones) {
  ASSERT_EQ(command(V21_SETREG1_CMD, 12, 0).result, HAPISUCCESS);  // hsxdettones off
  ASSERT_EQ(command(V21_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  world().ingressIbd.clear();
  const auto ced = independentTone(MODEM_CONNECT_TONES_ANS, 8000);
  world().ingressIn.insert(world().ingressIn.end(), ced.begin(), ced.end());
  drain(0);
  for (const Ibd& e : world().ingressIbd) EXPECT_NE(e.header, V21_CED_EVT);
  EXPECT_TRUE(inst()->hsxstatus & V21_STATUS_CED);
}

}  // namespace
