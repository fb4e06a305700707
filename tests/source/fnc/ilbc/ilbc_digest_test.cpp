// Same-bits check of the iLBC codec: digests of every encoder payload and every decoded sample,
// 20 and 30 ms, enhancer off and on, clean and under loss, over speech, clipped speech, full-scale
// noise, a full-scale square wave and sine and random payloads. Speed work on the codec must keep
// every digest; the references were taken from the codec before any such work.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "digest_util.h"
#include "ilbc_test_util.h"

namespace {

using namespace ilbc_test;

using Fnv = digest::Fnv1a;

struct Lcg {
  std::uint32_t s;
  std::uint32_t next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
};

std::vector<std::int16_t> signal(int variant, int frame) {
  const auto speech = load_speech(8000 * 10, frame);
  Lcg rng{12345};
  std::vector<std::int16_t> out(speech.size());
  for (std::size_t i = 0; i < speech.size(); ++i) {
    long x = speech[i];
    if (variant == 1) x *= 8;                                                   // clipped speech
    if (variant == 2) x = static_cast<long>(rng.next() & 0xFFFF) - 32768;       // full-scale noise
    if (variant == 3) x = (i / 37) % 2 ? 32767 : -32768;                        // square wave
    if (variant == 4) x = std::lround(32767 * std::sin(static_cast<double>(i) * 0.3));
    out[i] = static_cast<std::int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
  }
  return out;
}

// Loss patterns: none, one in ten, bursts of six, 20 % at random.
bool lost(int pattern, int frame, Lcg* rng) {
  switch (pattern) {
    case 0: return false;
    case 1: return frame % 10 == 9;
    case 2: return frame % 23 >= 17;
    default: return rng->next() % 100 < 20;
  }
}

constexpr int kVariants = 5;

// Payloads of every variant, and a sixth set of random words (mostly invalid frames).
std::vector<std::vector<Payload>> all_payloads(int mode) {
  std::vector<std::vector<Payload>> sets;
  for (int v = 0; v < kVariants; ++v) sets.push_back(encode_all(signal(v, frame_len(mode)), mode));
  Lcg rng{4242};
  std::vector<Payload> random(200, Payload(static_cast<std::size_t>(frame_words(mode))));
  for (auto& p : random)
    for (auto& w : p) w = static_cast<std::uint16_t>(rng.next());
  sets.push_back(random);
  return sets;
}

std::uint64_t encoder_digest(const std::vector<std::vector<Payload>>& sets) {
  Fnv f;
  for (int v = 0; v < kVariants; ++v)
    for (const auto& p : sets[static_cast<std::size_t>(v)]) f.bytes(p.data(), p.size() * 2);
  return f.h;
}

std::uint64_t decoder_digest(const std::vector<std::vector<Payload>>& sets, int mode, int enhancer, int pattern) {
  Fnv f;
  Lcg rng{777u + static_cast<std::uint32_t>(pattern)};
  for (const auto& set : sets) {
    std::vector<Payload> received;
    int frame = 0;
    for (const auto& p : set) received.push_back(lost(pattern, frame++, &rng) ? Payload{} : p);
    const auto out = decode_all(received, mode, enhancer);
    f.bytes(out.data(), out.size() * 2);
  }
  return f.h;
}

struct Expected {
  int mode;
  std::uint64_t encoder;
  std::uint64_t decoder[2][4];  // [enhancer][loss pattern]
};

constexpr Expected kExpected[] = {
    {20, 0x15eddd47ea028b8cull,
     {{0xce8250b2535f50f6ull, 0xfc92c1434a24e852ull, 0x244f653cd7c116f2ull, 0xd4b7c97e1604dbf0ull},
      {0x0a669a197b707df6ull, 0x670461cfd39a11d9ull, 0xcde08ef0b5aba6abull, 0x3a46ab22158ab5f2ull}}},
    {30, 0x6f766ec76b8ef3a8ull,
     {{0x7e02674f68c9f377ull, 0x90a4cc5cb7b219c3ull, 0x2e9f42e87a44d121ull, 0xefd72da33b5229eeull},
      {0xc80aada84735e843ull, 0x8aca800d8ef48212ull, 0x9a71ea7d2ee50e50ull, 0xc66ee2b54f669932ull}}},
};

TEST(IlbcDigest, EncoderAndDecoderOutputsKeepTheirBits) {
  for (const auto& e : kExpected) {
    const auto sets = all_payloads(e.mode);
    const std::uint64_t enc = encoder_digest(sets);
    std::printf("mode %d encoder %016llx\n", e.mode, static_cast<unsigned long long>(enc));
    EXPECT_EQ(e.encoder, enc) << "encoder, mode " << e.mode;
    for (int enh = 0; enh < 2; ++enh)
      for (int pat = 0; pat < 4; ++pat) {
        const std::uint64_t dec = decoder_digest(sets, e.mode, enh, pat);
        std::printf("mode %d enhancer %d loss %d decoder %016llx\n", e.mode, enh, pat,
                    static_cast<unsigned long long>(dec));
        EXPECT_EQ(e.decoder[enh][pat], dec) << "decoder, mode " << e.mode << " enhancer " << enh << " loss " << pat;
      }
  }
}

}  // namespace
