// Every output of the V.21 service folded into digests and compared with those taken from the
// code as it was validated against the independent modem: a speed change must keep every bit.
// Line audio of data and both tones, and what the receiver and the tone detectors report from our
// own signal and from the independent one on a noisy line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../vfax/modem_bits.h"
#include "../vfax/modem_digest.h"
#include "v21.h"

using namespace linetest;
using modemdigest::Digest;

namespace {

using modembits::randomBits;

V21LOCLMEM* inst() { return static_cast<V21LOCLMEM*>(instance(HAPI_V21_SRV)); }

// Opens the service with the `mode` register (sync or async) and enables it.
void start(uint16_t mode) {
  open(&v21arc);
  command(V21_SETREG1_CMD, 26, mode);
  command(V21_ENABLE_CMD, 1, 0);
}

// Our transmitter sends the bits; the line audio and the reports go into `d`.
std::vector<int16_t> sendData(uint16_t mode, const std::vector<uint8_t>& bits, Digest& d) {
  start(mode);
  command(V21_TXMODE_CMD, HSV21TXDATA, 0);
  world().egressOut.clear();
  world().ingressIbd.clear();
  size_t at = 0;
  while (at < bits.size()) {
    if (MEM_QueueCount(&inst()->hsxv21tx.v21zTxQueue) < 8) {
      const size_t n = std::min<size_t>(240, bits.size() - at);
      const std::vector<uint16_t> words = modembits::blockWords(bits, at, n);
      extCommand(V21_TXDATA_CMD, words.data(), uint16_t(2 * words.size()));
      at += n;
    } else {
      runFrames(1);
    }
  }
  runFrames(long(bits.size() / 3) + 50);
  const auto audio = world().egressOut;
  d.samples(audio);
  d.messages(world().ingressIbd);
  close();
  return audio;
}

// The tone for `frames`, then `idleFrames` with the transmitter idle on the quiet line: nothing
// of the tone may stay on the line.
std::vector<int16_t> sendTone(uint16_t txMode, long frames, Digest& d, long idleFrames = 0) {
  start(HSV21SYNC);
  world().egressOut.clear();
  world().ingressIbd.clear();
  command(V21_TXMODE_CMD, txMode, 0);
  runFrames(frames);
  if (idleFrames > 0) {
    command(V21_TXMODE_CMD, HSV21TXIDLE, 0);
    runFrames(idleFrames);
  }
  const auto audio = world().egressOut;
  d.samples(audio);
  d.messages(world().ingressIbd);
  close();
  return audio;
}

// Our receiver (data and tone detectors) on `audio`; every message it sent goes into `d`.
void receive(uint16_t mode, const std::vector<int16_t>& audio, Digest& d) {
  start(mode);
  command(V21_RXMODE_CMD, 1, 0);
  world().ingressIbd.clear();
  world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
  drain(30);
  d.messages(world().ingressIbd);
  close();
}

std::vector<int16_t> withNoise(std::vector<int16_t> x, double noiseDbm0, int seed) {
  awgn_state_t* n = awgn_init_dbm0(nullptr, seed, float(noiseDbm0));
  for (int16_t& v : x) v = int16_t(std::clamp(int(v) + int(awgn(n)), -32768, 32767));
  awgn_free(n);
  return x;
}

std::vector<int16_t> independentFsk(const std::vector<uint8_t>& bits) {
  struct Src {
    const std::vector<uint8_t>* bits;
    size_t at;
  } src{&bits, 0};
  fsk_tx_state_t* tx = fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2],
                                   [](void* u) -> int {
                                     auto* s = static_cast<Src*>(u);
                                     return s->at < s->bits->size() ? (*s->bits)[s->at++] : 1;
                                   },
                                   &src);
  fsk_tx_power(tx, -20.0f);
  std::vector<int16_t> audio(bits.size() * 80 / 3 + 4000);
  fsk_tx(tx, audio.data(), int(audio.size()));
  fsk_tx_free(tx);
  audio.insert(audio.begin(), 1600, 0);
  return withNoise(audio, -35.0, 5);
}

std::vector<int16_t> independentTone(int toneType, int samples) {
  modem_connect_tones_tx_state_t* tx = modem_connect_tones_tx_init(nullptr, toneType);
  std::vector<int16_t> a(size_t(samples), 0);
  modem_connect_tones_tx(tx, a.data(), samples);
  modem_connect_tones_tx_free(tx);
  a.resize(a.size() + 8000, 0);
  return withNoise(a, -40.0, 6);
}

// A loud offset that the tone filters reject, then the calling tone, with exact silence between,
// short and long: on the quiet line the detectors' two levels decay apart (the input level from
// high, the filtered level from near zero), and the input level left over holds the next
// detection back; after the longest both levels rest at zero before the tone comes.
std::vector<int16_t> offsetThenToneWithQuietGaps() {
  std::vector<int16_t> a;
  for (int gap : {400, 2400, 8000, 40000}) {
    a.insert(a.end(), 4000, 20000);
    a.insert(a.end(), size_t(gap), 0);
    for (int i = 0; i < 8000; ++i) a.push_back(int16_t(std::lround(3000 * std::sin(2 * M_PI * 1100 * i / 8000))));
    a.insert(a.end(), size_t(gap), 0);
  }
  a.insert(a.end(), 16000, 0);
  return a;
}

// Taken before the service was reworked for speed; they change only with a deliberate change of
// its behaviour.
constexpr modemdigest::Expected kExpected[] = {
    {"tx", 0x5269ac1275b8c8c7ull},
    {"rx own", 0x84ce842f8c6b4c3aull},
    {"rx independent", 0x01b5e54be13f7193ull},
    {"rx quiet gaps", 0x1217b1a4a42ffea6ull},
    {"tx tone then idle", 0x6ac9e09b9b556713ull},
};

void check(const std::string& name, const Digest& d) { modemdigest::check(kExpected, name, d); }

// Every case, digested and compared.
void everyCase() {
  Digest tx, own, independent;
  const auto bits = randomBits(900, 21);
  std::vector<std::vector<int16_t>> ours;
  for (uint16_t mode : {HSV21SYNC, HSV21ASYNC}) ours.push_back(sendData(mode, bits, tx));
  ours.push_back(sendTone(HSV21TXCED, 300, tx));
  ours.push_back(sendTone(HSV21TXCNG, 400, tx));
  check("tx", tx);
  Digest toneThenIdle;
  for (uint16_t mode : {HSV21TXCED, HSV21TXCNG}) sendTone(mode, 120, toneThenIdle, 60);
  check("tx tone then idle", toneThenIdle);

  receive(HSV21SYNC, ours[0], own);
  receive(HSV21ASYNC, ours[1], own);
  receive(HSV21SYNC, ours[2], own);
  receive(HSV21SYNC, ours[3], own);
  check("rx own", own);

  receive(HSV21SYNC, independentFsk(bits), independent);
  receive(HSV21ASYNC, independentFsk(bits), independent);
  receive(HSV21SYNC, independentTone(MODEM_CONNECT_TONES_ANS, 8000 * 3), independent);
  receive(HSV21SYNC, independentTone(MODEM_CONNECT_TONES_FAX_CNG, 8000 * 5), independent);
  check("rx independent", independent);

  Digest gaps;
  receive(HSV21SYNC, offsetThenToneWithQuietGaps(), gaps);
  check("rx quiet gaps", gaps);
}

TEST(V21Digest, EveryOutputBothWaysKeepsItsBits) { modemdigest::withEveryKernel(everyCase); }

}  // namespace
