// The datapumps against the independent modem, both ways: every data bit arrives at every rate,
// with noise on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <random>
#include <utility>

extern "C" {
#include <spandsp.h>
}

#include "vfx_test_util.h"

using namespace vfxtest;

namespace {

struct Collect {
  std::vector<uint8_t> bits;
  bool trained = false;
  bool failed = false;
  static void put(void* u, int bit) {
    auto* c = static_cast<Collect*>(u);
    if (bit < 0) {
      if (bit == SIG_STATUS_TRAINING_SUCCEEDED) c->trained = true;
      if (bit == SIG_STATUS_TRAINING_FAILED) c->failed = true;
      return;
    }
    c->bits.push_back(uint8_t(bit & 1));
  }
};

std::vector<uint8_t> randomBits(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = uint8_t(rng() & 1);
  return b;
}

int bestErrors(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& got, size_t skip) {
  int best = int(sent.size());
  for (size_t off = 0; off + sent.size() - skip <= got.size() && off < 600; ++off) {
    int e = 0;
    for (size_t i = skip; i < sent.size(); ++i) e += sent[i] != got[off + i - skip];
    best = std::min(best, e);
  }
  return best;
}

// White noise `snr` dB below the signal's power (over its non-silent samples); with `signalOnly`
// only from the first to the last non-silent sample, so that a receiver that starts training on
// noise alone does not see any.
void addNoise(std::vector<int16_t>& a, int seed, double snr = 20.0, bool signalOnly = false) {
  double p = 0;
  size_t n = 0;
  for (int16_t v : a)
    if (v != 0) {
      p += double(v) * v;
      ++n;
    }
  const double sigma = std::sqrt(p / double(n ? n : 1) / std::pow(10.0, snr / 10));
  std::mt19937 rng{static_cast<unsigned>(seed)};
  std::normal_distribution<double> g(0, sigma);
  size_t from = 0, to = a.size();
  if (signalOnly) {
    while (from < a.size() && a[from] == 0) ++from;
    while (to > from && a[to - 1] == 0) --to;
  }
  for (size_t i = from; i < to; ++i) a[i] = int16_t(std::clamp(std::lround(a[i] + g(rng)), -32768L, 32767L));
}

struct RateCase {
  uint16_t reg;
  int bps;
  double snrToOurs;
  // the independent receiver loses bits at 12000 below 22 dB and at 14400 below 24 dB
  double snrToIndependent;
};
constexpr RateCase kRates[] = {{HSV17_7200, 7200, 20.0, 20.0},
                               {HSV17_9600, 9600, 20.0, 20.0},
                               {HSV17_12000, 12000, 20.0, 23.0},
                               {HSV17_14400, 14400, 23.0, 26.0}};

struct BitSource {
  const std::vector<uint8_t>* bits;
  size_t at;
  static int get(void* u) {
    auto* s = static_cast<BitSource*>(u);
    return s->at < s->bits->size() ? int((*s->bits)[s->at++]) : int(SIG_STATUS_END_OF_DATA);
  }
};

// The independent transmitter's signal until its bit source runs dry, after a restart into the
// short training when `shortTrain`.
std::vector<int16_t> independentSignal(v17_tx_state_t* tx, int bps, bool shortTrain) {
  if (shortTrain) v17_tx_restart(tx, bps, false, true);
  std::vector<int16_t> audio(8000 * 4, 0);
  const int n = v17_tx(tx, audio.data(), int(audio.size()));
  audio.resize(size_t(n));
  return audio;
}

// Feeds `audio` to our receiver set up with `rxCfg` (the instance stays open).
void feedOurs(uint16_t rxCfg, const std::vector<int16_t>& audio) {
  command(VFX_RX_CMD, rxCfg, 0);
  world().ingressIbd.clear();
  world().ingressIn.insert(world().ingressIn.end(), 1600, 0);
  world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
  world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
  drain(10);
}

// Power of the non-silent samples, in dBm0 (a full-scale sine is 3.14 dBm0).
double powerDbm0(const std::vector<int16_t>& a) {
  double p = 0;
  size_t n = 0;
  for (int16_t v : a)
    if (v != 0) {
      p += double(v) * v;
      ++n;
    }
  return 10 * std::log10(p / double(n ? n : 1) / (32767.0 * 32767.0 / 2)) + 3.14;
}

// A line: white noise `snr` dB below a signal at `signalDbm0`, over every sample, gaps included.
void addLineNoise(std::vector<int16_t>& a, double signalDbm0, double snr, unsigned seed) {
  const double sigma = 32767.0 / std::sqrt(2.0) * std::pow(10.0, (signalDbm0 - 3.14 - snr) / 20);
  std::mt19937 rng{seed};
  std::normal_distribution<double> g(0, sigma);
  for (auto& v : a) v = int16_t(std::clamp(std::lround(v + g(rng)), -32768L, 32767L));
}

// Bit errors of a page after the long training and of one after the short training (the receiver
// restarted for it, as a fax call does for later pages) through the independent receiver on a
// noisy line; -1 when the receiver did not report the training as good. Its carrier detector is
// set halfway between the noise and the signal: it times its short training by the signal's onset.
std::pair<int, int> independentReceives(int bps, const std::vector<int16_t>& longPage,
                                        const std::vector<uint8_t>& longBits,
                                        const std::vector<int16_t>& shortPage,
                                        const std::vector<uint8_t>& shortBits, double snr, unsigned seed) {
  const double level = powerDbm0(longPage);
  std::vector<int16_t> a1(longPage), a2(800, 0);
  a1.insert(a1.end(), 4000, 0);
  a2.insert(a2.end(), shortPage.begin(), shortPage.end());
  a2.insert(a2.end(), 4000, 0);
  addLineNoise(a1, level, snr, seed);
  addLineNoise(a2, level, snr, seed + 1000);
  Collect c;
  v17_rx_state_t* rx = v17_rx_init(nullptr, bps, Collect::put, &c);
  v17_rx_signal_cutoff(rx, float(level - snr / 2));
  v17_rx(rx, a1.data(), int(a1.size()));
  const int longErrors = c.trained && !c.failed ? bestErrors(longBits, c.bits, 8) : -1;
  c = Collect{};
  v17_rx_restart(rx, bps, true);
  v17_rx(rx, a2.data(), int(a2.size()));
  v17_rx_free(rx);
  const int shortErrors = c.trained && !c.failed ? bestErrors(shortBits, c.bits, 8) : -1;
  return {longErrors, shortErrors};
}

// Our transmitter to the independent receiver, a page after the long and one after the short
// training, on four noise patterns per rate; the independent transmitter goes through the same
// line for comparison.
TEST(VfxOracle, IndependentReceiverDecodesOurV17TransmitterLongAndShort) {
  for (const RateCase& rc : kRates) {
    const auto longBits = randomBits(4000, unsigned(rc.bps));
    const auto shortBits = randomBits(4000, unsigned(rc.bps + 5));
    open(&vfxarc);
    setRate(rc.reg);
    command(VFX_ENABLE_CMD, 1, 0);
    const auto oursLong = transmit(3, longBits);
    const auto oursShort = transmit(1, shortBits);
    close();
    BitSource src{&longBits, 0};
    v17_tx_state_t* tx = v17_tx_init(nullptr, rc.bps, false, BitSource::get, &src);
    const auto theirsLong = independentSignal(tx, rc.bps, false);
    src = BitSource{&shortBits, 0};
    const auto theirsShort = independentSignal(tx, rc.bps, true);
    v17_tx_free(tx);
    int oursLongClean = 0, oursShortClean = 0, theirsLongClean = 0, theirsShortClean = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
      const auto [ol, os] = independentReceives(rc.bps, oursLong, longBits, oursShort, shortBits, rc.snrToIndependent, seed);
      const auto [tl, ts] = independentReceives(rc.bps, theirsLong, longBits, theirsShort, shortBits, rc.snrToIndependent, seed);
      EXPECT_EQ(ol, 0) << rc.bps << " long, noise " << seed;
      EXPECT_EQ(os, 0) << rc.bps << " short, noise " << seed;
      oursLongClean += ol == 0;
      oursShortClean += os == 0;
      theirsLongClean += tl == 0;
      theirsShortClean += ts == 0;
    }
    std::printf("%5d bit/s, %.0f dB: pages without a bit error at the independent receiver, long/short training: "
                "ours %d/4 %d/4, its own transmitter's %d/4 %d/4\n",
                rc.bps, rc.snrToIndependent, oursLongClean, oursShortClean, theirsLongClean, theirsShortClean);
  }
}

// The independent transmitter to our receiver: a page after the long training, and a training
// check after the long training followed by a page after the short one.
TEST(VfxOracle, OurV17ReceiverDecodesTheIndependentTransmitterLongAndShort) {
  for (const RateCase& rc : kRates) {
    const auto longBits = randomBits(6000, unsigned(rc.bps + 1));
    const std::vector<uint8_t> zeros(size_t(rc.bps) * 3 / 2, 0);
    const auto shortBits = randomBits(6000, unsigned(rc.bps + 3));
    BitSource src{&longBits, 0};
    v17_tx_state_t* tx = v17_tx_init(nullptr, rc.bps, false, BitSource::get, &src);
    auto longPage = independentSignal(tx, rc.bps, false);
    src = BitSource{&zeros, 0};
    v17_tx_restart(tx, rc.bps, false, false);
    auto tcf = independentSignal(tx, rc.bps, false);
    src = BitSource{&shortBits, 0};
    auto shortPage = independentSignal(tx, rc.bps, true);
    v17_tx_free(tx);
    addNoise(longPage, rc.bps + 1, rc.snrToOurs, true);
    addNoise(tcf, rc.bps + 2, rc.snrToOurs, true);
    addNoise(shortPage, rc.bps + 3, rc.snrToOurs, true);

    open(&vfxarc);
    setRate(rc.reg);
    command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
    command(VFX_ENABLE_CMD, 1, 0);
    feedOurs(HSGFAXRXCFGEXTECMDATA, longPage);
    const auto ev = eventsSeen();
    EXPECT_NE(std::find(ev.begin(), ev.end(), VFX_DATA_EVT), ev.end()) << rc.bps;
    auto got = receivedBits();
    EXPECT_EQ(bestErrors(longBits, got, 8), 0) << rc.bps << " long, received " << got.size();
    close();

    open(&vfxarc);
    setRate(rc.reg);
    command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
    command(VFX_ENABLE_CMD, 1, 0);
    feedOurs(HSGFAXRXCFGTCFDATA, tcf);
    bool tcfDone = false;
    for (const Ibd& e : world().ingressIbd)
      if (e.header == VFX_TCFDONE_EVT) {
        tcfDone = true;
        EXPECT_EQ(e.op1, 0) << rc.bps << ": ones counted in the training check";
      }
    EXPECT_TRUE(tcfDone) << rc.bps;
    feedOurs(HSGFAXRXCFGECMDATA, shortPage);
    got = receivedBits();
    EXPECT_EQ(bestErrors(shortBits, got, 8), 0) << rc.bps << " short, received " << got.size();
    close();
  }
}

TEST(VfxOracle, IndependentReceiverDecodesOurV29TransmitterAt20dB) {
  for (auto [reg, bps] : {std::pair<uint16_t, int>{HSV29_7200, 7200}, {HSV29_9600, 9600}}) {
    open(&vfxarc);
    setRate(reg);
    command(VFX_ENABLE_CMD, 1, 0);
    const auto bits = randomBits(4000, unsigned(bps));
    auto audio = transmit(1, bits);
    close();
    addNoise(audio, bps);
    Collect c;
    v29_rx_state_t* rx = v29_rx_init(nullptr, bps, Collect::put, &c);
    audio.insert(audio.end(), 8000, 0);
    v29_rx(rx, audio.data(), int(audio.size()));
    v29_rx_free(rx);
    EXPECT_TRUE(c.trained) << bps;
    EXPECT_EQ(bestErrors(bits, c.bits, 8), 0) << bps << ", received " << c.bits.size();
  }
}

TEST(VfxOracle, OurV29ReceiverDecodesTheIndependentTransmitterAt20dB) {
  for (auto [reg, bps] : {std::pair<uint16_t, int>{HSV29_7200, 7200}, {HSV29_9600, 9600}}) {
    const auto bits = randomBits(4000, unsigned(bps + 1));
    struct Src {
      const std::vector<uint8_t>* b;
      size_t at;
    } src{&bits, 0};
    v29_tx_state_t* tx = v29_tx_init(nullptr, bps, false,
                                     [](void* u) -> int {
                                       auto* s = static_cast<Src*>(u);
                                       return s->at < s->b->size() ? int((*s->b)[s->at++]) : int(SIG_STATUS_END_OF_DATA);
                                     },
                                     &src);
    std::vector<int16_t> audio(8000 * 3, 0);
    const int n = v29_tx(tx, audio.data(), int(audio.size()));
    audio.resize(size_t(n));
    v29_tx_free(tx);
    addNoise(audio, bps + 1);
    open(&vfxarc);
    setRate(reg);
    command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
    command(VFX_ENABLE_CMD, 1, 0);
    command(VFX_RX_CMD, HSGFAXRXCFGECMDATA, 0);
    world().ingressIbd.clear();
    world().ingressIn.insert(world().ingressIn.end(), 800, 0);
    world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
    world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
    drain(10);
    const auto got = receivedBits();
    EXPECT_EQ(bestErrors(bits, got, 8), 0) << bps << ", received " << got.size();
    EXPECT_GE(got.size(), bits.size()) << bps;
    close();
  }
}

// At 2400 and 4800 bit/s the independent receiver takes our signal at 20 dB (it starts training on
// noise alone, so the silence around the signal stays clean) and ours takes its signal at 25 dB.
TEST(VfxOracle, V27terBothWaysWithTheIndependentModem) {
  for (auto [reg, bps] : {std::pair<uint16_t, int>{HSV27TER_2400, 2400}, {HSV27TER_4800, 4800}}) {
    // ours to the independent receiver
    open(&vfxarc);
    setRate(reg);
    command(VFX_ENABLE_CMD, 1, 0);
    const auto bits = randomBits(2400, unsigned(bps));
    auto audio = transmit(1, bits);
    close();
    addNoise(audio, bps, 20.0, true);
    Collect c;
    v27ter_rx_state_t* rx = v27ter_rx_init(nullptr, bps, Collect::put, &c);
    audio.insert(audio.end(), 8000, 0);
    v27ter_rx(rx, audio.data(), int(audio.size()));
    v27ter_rx_free(rx);
    EXPECT_TRUE(c.trained) << bps;
    EXPECT_EQ(bestErrors(bits, c.bits, 8), 0) << bps << ", received " << c.bits.size();

    // the independent transmitter to ours
    const auto bits2 = randomBits(2400, unsigned(bps + 1));
    struct Src {
      const std::vector<uint8_t>* b;
      size_t at;
    } src{&bits2, 0};
    v27ter_tx_state_t* tx = v27ter_tx_init(nullptr, bps, false,
                                           [](void* u) -> int {
                                             auto* s = static_cast<Src*>(u);
                                             return s->at < s->b->size() ? int((*s->b)[s->at++])
                                                                         : int(SIG_STATUS_END_OF_DATA);
                                           },
                                           &src);
    std::vector<int16_t> a2(8000 * 4, 0);
    const int n = v27ter_tx(tx, a2.data(), int(a2.size()));
    a2.resize(size_t(n));
    v27ter_tx_free(tx);
    addNoise(a2, bps + 1, 25.0);
    open(&vfxarc);
    setRate(reg);
    command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
    command(VFX_ENABLE_CMD, 1, 0);
    command(VFX_RX_CMD, HSGFAXRXCFGECMDATA, 0);
    world().ingressIbd.clear();
    world().ingressIn.insert(world().ingressIn.end(), 800, 0);
    world().ingressIn.insert(world().ingressIn.end(), a2.begin(), a2.end());
    world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
    drain(10);
    const auto got = receivedBits();
    EXPECT_EQ(bestErrors(bits2, got, 8), 0) << bps << ", received " << got.size();
    close();
  }
}

}  // namespace
