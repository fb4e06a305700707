// The V.17 pump against the independent modem, both ways: every data bit arrives at every rate,
// after the long and after the short training, with noise on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "vfx_oracle_util.h"

using namespace vfxtest;

namespace {

struct RateCase {
  uint16_t reg;
  int bps;
  double snrToOurs;
  // The independent receiver needs more from our transmitter than from its own at 12000 and
  // 14400, and at 14400 it needs more from its own transmitter than our receiver does (printed).
  double snrToIndependent;
};
constexpr RateCase kRates[] = {{HSV17_7200, 7200, 20.0, 20.0},
                               {HSV17_9600, 9600, 20.0, 20.0},
                               {HSV17_12000, 12000, 20.0, 23.0},
                               {HSV17_14400, 14400, 23.0, 26.0}};

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

// Bit errors of a page after the long training and of one after the short training (the receiver
// restarted for it, as a fax call does for later pages) through the independent receiver on a
// noisy line; -1 when the receiver did not report the training as good. Its carrier detector is
// set halfway between the noise and the signal. (It times its short training by the onset that
// detector sees: it takes ours with the detector 8 dB or more below the signal, its own transmitter's
// only with the detector 4 to 8 dB below, so that the short figures printed for its own are not
// a measure of the line.)
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

// Bit errors of a page after the long training through our receiver on the same kind of line.
int oursReceives(uint16_t rateReg, const std::vector<int16_t>& page, const std::vector<uint8_t>& bits, double snr,
                 unsigned seed) {
  std::vector<int16_t> line(1600, 0);
  line.insert(line.end(), page.begin(), page.end());
  line.insert(line.end(), 4000, 0);
  addLineNoise(line, powerDbm0(page), snr, seed);
  open(&vfxarc);
  setRate(rateReg);
  command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
  command(VFX_ENABLE_CMD, 1, 0);
  command(VFX_RX_CMD, HSGFAXRXCFGEXTECMDATA, 0);
  world().ingressIbd.clear();
  world().ingressIn.insert(world().ingressIn.end(), line.begin(), line.end());
  drain(10);
  const int errors = bestErrors(bits, receivedBits(), 8);
  close();
  return errors;
}

// Our transmitter to the independent receiver, a page after the long and one after the short
// training, on four noise patterns per rate. Printed beside it, on the same lines and also at the
// level our receiver needs and at 20 dB: the independent transmitter to its own receiver and to ours.
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
    std::vector<double> levels{rc.snrToIndependent};
    for (const double snr : {rc.snrToOurs, 20.0})
      if (std::find(levels.begin(), levels.end(), snr) == levels.end()) levels.push_back(snr);
    for (const double snr : levels) {
      int oursLongClean = 0, oursShortClean = 0, theirsLongClean = 0, theirsShortClean = 0, toOursClean = 0;
      for (unsigned seed = 1; seed <= 4; ++seed) {
        const auto [ol, os] = independentReceives(rc.bps, oursLong, longBits, oursShort, shortBits, snr, seed);
        const auto [tl, ts] = independentReceives(rc.bps, theirsLong, longBits, theirsShort, shortBits, snr, seed);
        if (snr == rc.snrToIndependent) {
          EXPECT_EQ(ol, 0) << rc.bps << " long, noise " << seed;
          EXPECT_EQ(os, 0) << rc.bps << " short, noise " << seed;
        }
        oursLongClean += ol == 0;
        oursShortClean += os == 0;
        theirsLongClean += tl == 0;
        theirsShortClean += ts == 0;
        toOursClean += oursReceives(rc.reg, theirsLong, longBits, snr, seed) == 0;
      }
      std::printf("%5d bit/s, %.0f dB, pages without a bit error of 4 (long training/short): ours to the independent "
                  "receiver %d/%d, its own transmitter to it %d/%d; its transmitter to ours %d\n",
                  rc.bps, snr, oursLongClean, oursShortClean, theirsLongClean, theirsShortClean, toOursClean);
    }
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

}  // namespace
