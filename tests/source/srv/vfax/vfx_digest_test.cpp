// Every output of the datapump's modems folded into one digest per case and compared with the
// digests taken from the code as it was validated against the independent modem: a speed change
// must keep every bit. Transmit audio and reports at every rate with each training, and what the
// receiver delivers from our own signal and from the independent transmitter's on a noisy line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "modem_digest.h"
#include "vfx_oracle_util.h"

using namespace vfxtest;
using modemdigest::Digest;

namespace {

struct RateReg {
  uint16_t reg;
  int bps;
};
constexpr RateReg kRates[] = {{HSV27TER_2400, 2400}, {HSV27TER_4800, 4800}, {HSV29_7200, 7200},
                              {HSV29_9600, 9600},    {HSV17_7200, 7200},    {HSV17_9600, 9600},
                              {HSV17_12000, 12000},  {HSV17_14400, 14400}};

bool isV17(uint16_t reg) { return reg >= HSV17_7200; }

// Our transmitter: the line audio of one transmission and the reports it made.
std::vector<int16_t> ourSignal(uint16_t reg, uint16_t op1, Digest& d) {
  open(&vfxarc);
  setRate(reg);
  command(VFX_ENABLE_CMD, 1, 0);
  world().ingressIbd.clear();
  const auto audio = transmit(op1, randomBits(1200, unsigned(reg * 10 + op1)));
  runFrames(2);
  d.samples(audio);
  d.messages(world().ingressIbd);
  close();
  return audio;
}

// Our receiver set to `rxCfg` after `rxCfg`s before it on the same instance (a later page's short
// training reuses what the first found); every message it sent is digested.
void ourReception(uint16_t reg, const std::vector<std::pair<uint16_t, std::vector<int16_t>>>& receptions, Digest& d) {
  open(&vfxarc);
  setRate(reg);
  command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
  command(VFX_ENABLE_CMD, 1, 0);
  for (const auto& [cfg, audio] : receptions) {
    command(VFX_RX_CMD, cfg, 0);
    world().ingressIbd.clear();
    world().ingressIn.insert(world().ingressIn.end(), 800, 0);
    world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
    world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
    drain(10);
    d.messages(world().ingressIbd);
  }
  close();
}

// The independent transmitter's page (long training) at the rate of `r`.
std::vector<int16_t> independentSignal(const RateReg& r) {
  const auto bits = randomBits(1500, unsigned(r.bps + 7));
  BitSource src{&bits, 0};
  std::vector<int16_t> audio(8000 * 3, 0);
  int n = 0;
  if (isV17(r.reg)) {
    v17_tx_state_t* tx = v17_tx_init(nullptr, r.bps, false, BitSource::get, &src);
    n = v17_tx(tx, audio.data(), int(audio.size()));
    v17_tx_free(tx);
  } else if (r.reg >= HSV29_7200) {
    v29_tx_state_t* tx = v29_tx_init(nullptr, r.bps, false, BitSource::get, &src);
    n = v29_tx(tx, audio.data(), int(audio.size()));
    v29_tx_free(tx);
  } else {
    v27ter_tx_state_t* tx = v27ter_tx_init(nullptr, r.bps, false, BitSource::get, &src);
    n = v27ter_tx(tx, audio.data(), int(audio.size()));
    v27ter_tx_free(tx);
  }
  audio.resize(size_t(n));
  addNoise(audio, r.bps, 25.0);
  return audio;
}

// Taken before the modems were reworked for speed; they change only with a deliberate change of
// the modems' behaviour.
constexpr modemdigest::Expected kExpected[] = {
    {"tx 1", 0x12c3592140f2f85aull},
    {"rx own 1", 0x8c6cf1d0932e76d1ull},
    {"rx independent 1", 0xe00390616a77ba43ull},
    {"tx 2", 0x9a72340c84e601a5ull},
    {"rx own 2", 0xd27da81b164685a1ull},
    {"rx independent 2", 0xa28a2c57ab1b5d81ull},
    {"tx 3", 0x1c8df464d65fd74bull},
    {"rx own 3", 0x8bcc0e93f6bf1ec3ull},
    {"rx independent 3", 0x35ee72beb4ed63e4ull},
    {"tx 4", 0xad1a012c36cd73c4ull},
    {"rx own 4", 0xa5152d3525b1b907ull},
    {"rx independent 4", 0xc129cd1335a59da9ull},
    {"tx 7", 0x45a9a8882e6a7afaull},
    {"rx own 7", 0x0541c4dd59697967ull},
    {"rx independent 7", 0xf71cf29ebfb80125ull},
    {"tx 8", 0x7a305d54b77a5e95ull},
    {"rx own 8", 0xc0b5cce86dd0e79bull},
    {"rx independent 8", 0xca5fb7ed6c8e06afull},
    {"tx 9", 0xe170b10e278ba6f5ull},
    {"rx own 9", 0x548f1f00840cc4f9ull},
    {"rx independent 9", 0xc1a755440d8f4488ull},
    {"tx 10", 0x2ecdc81df068a853ull},
    {"rx own 10", 0x48dacab860f8e781ull},
    {"rx independent 10", 0x26d59f3e15ffae80ull},
    {"tx", 0xd0692c8697c1f9bbull},
    {"rx own", 0x8fe4882214cb0f1aull},
    {"rx independent", 0x228f96b361999404ull},
};

void check(const std::string& name, const Digest& d) { modemdigest::check(kExpected, name, d); }

// Every case, digested and compared.
void everyCase() {
  Digest tx, own, independent;
  for (const RateReg& r : kRates) {
    Digest t;
    const auto page = ourSignal(r.reg, 1, t);
    const auto tcf = ourSignal(r.reg, 2, t);
    const auto longPage = ourSignal(r.reg, 3, t);
    check("tx " + std::to_string(r.reg), t);
    tx.word(t.h);

    Digest o;
    if (isV17(r.reg)) {
      // long training first, then a page after the short training with the gain it found
      ourReception(r.reg, {{HSGFAXRXCFGEXTECMDATA, longPage}, {HSGFAXRXCFGECMDATA, page}}, o);
      ourReception(r.reg, {{HSGFAXRXCFGEXTECMDATA, longPage}, {HSGFAXRXCFGTCFDATA, tcf}}, o);
    } else {
      ourReception(r.reg, {{HSGFAXRXCFGECMDATA, page}, {HSGFAXRXCFGTCFDATA, tcf}}, o);
    }
    check("rx own " + std::to_string(r.reg), o);
    own.word(o.h);

    Digest i;
    ourReception(r.reg, {{isV17(r.reg) ? HSGFAXRXCFGEXTECMDATA : HSGFAXRXCFGECMDATA, independentSignal(r)}}, i);
    check("rx independent " + std::to_string(r.reg), i);
    independent.word(i.h);
  }
  check("tx", tx);
  check("rx own", own);
  check("rx independent", independent);
}

TEST(VfxDigest, EveryOutputOfEveryRateKeepsItsBits) { modemdigest::withEveryKernel(everyCase); }

}  // namespace
