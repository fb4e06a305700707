// Prints a hash of every output of G.726 at every rate and law, encoder codes and the decoder's
// samples decoded from them, over speech, clipped speech, full-scale noise, a full-scale square
// wave and a full-scale sine, in blocks of varying length; plus the decoder on random codes. A
// speed change that keeps the bits keeps every line; diff the output of two builds:
//   build/tests/digests/g726_digest <source dir> > after.txt
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "g726.h"

namespace {

// FNV-1a over the bytes of the outputs.
std::uint64_t h = 1469598103934665603ull;
void mix(const void *p, std::size_t n) {
  auto *b = static_cast<const unsigned char *>(p);
  for (std::size_t i = 0; i < n; ++i) {
    h ^= b[i];
    h *= 1099511628211ull;
  }
}

std::vector<std::int16_t> load(const std::string &f) {
  std::ifstream in(f, std::ios::binary);
  std::vector<std::int16_t> s;
  unsigned char b[2];
  while (in.read(reinterpret_cast<char *>(b), 2)) {
    s.push_back(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
  }
  return s;
}

std::uint32_t rs = 12345;
std::uint32_t rnd() {
  rs = rs * 1664525u + 1013904223u;
  return rs >> 8;
}

std::vector<std::int16_t> variant(const std::vector<std::int16_t> &sp, int v) {
  std::vector<std::int16_t> o(sp.size());
  for (std::size_t i = 0; i < sp.size(); ++i) {
    long x = sp[i];
    if (v == 1) x = x * 8;                                       // clipping speech
    if (v == 2) x = static_cast<long>(rnd() & 0xFFFF) - 32768;   // full-scale noise
    if (v == 3) x = (i / 37) % 2 ? 32767 : -32768;               // square wave
    if (v == 4) x = static_cast<long>(32767 * std::sin(i * 0.3));
    o[i] = static_cast<std::int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
  }
  return o;
}

// The line-side input of a law: linear as is, otherwise the law's PCM codes of the signal.
std::vector<std::int16_t> line_input(const std::vector<std::int16_t> &pcm, G726_Law law) {
  if (law == G726_LINEAR) return pcm;
  std::vector<std::int16_t> o(pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    std::int16_t v = static_cast<std::int16_t>(pcm[i] >> 2);
    o[i] = law == G726_ULAW ? g726_ulaw_compress(&v) : g726_alaw_compress(&v) ^ 0x55;
  }
  return o;
}

// Block lengths cycle so that every entry point sees short and long calls.
constexpr int kBlocks[] = {40, 1, 80, 7, 160, 33};

template <typename F>
void in_blocks(std::size_t n, F &&f) {
  std::size_t pos = 0;
  for (int k = 0; pos < n; ++k) {
    const std::size_t len = std::min<std::size_t>(kBlocks[k % 6], n - pos);
    f(pos, static_cast<int>(len));
    pos += len;
  }
}

}  // namespace

int main(int argc, char **argv) {
  const std::string dir = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  auto speech = load(dir + "/tests/data/speech/speech_8k.raw");
  speech.resize(std::min<std::size_t>(speech.size(), 8000 * 8));
  const char *law_name[] = {"ulaw", "alaw", "linear"};
  for (int v = 0; v < 5; ++v) {
    const auto pcm = variant(speech, v);
    for (int law = 0; law < 3; ++law) {
      const auto line = line_input(pcm, static_cast<G726_Law>(law));
      for (int rate = 2; rate <= 5; ++rate) {
        G726_State enc{}, dec{};
        g726_configure(&enc, static_cast<G726_Rate>(rate), static_cast<G726_Law>(law));
        g726_configure(&dec, static_cast<G726_Rate>(rate), static_cast<G726_Law>(law));
        auto in = line;
        std::vector<std::int16_t> codes(in.size()), out(in.size());
        in_blocks(in.size(), [&](std::size_t p, int n) {
          g726_encode(&in[p], &codes[p], &enc, n);
        });
        h = 1469598103934665603ull;
        mix(codes.data(), codes.size() * 2);
        std::printf("g726 enc v%d %s r%d %016llx\n", v, law_name[law], rate,
                    static_cast<unsigned long long>(h));
        in_blocks(in.size(), [&](std::size_t p, int n) {
          g726_decode(&codes[p], &out[p], &dec, n);
        });
        h = 1469598103934665603ull;
        mix(out.data(), out.size() * 2);
        std::printf("g726 dec v%d %s r%d %016llx\n", v, law_name[law], rate,
                    static_cast<unsigned long long>(h));
      }
    }
  }
  // The decoder on random codes, unmasked high bits included, and the one-sample entry point.
  for (int law = 0; law < 3; ++law) {
    for (int rate = 2; rate <= 5; ++rate) {
      rs = 1000 + 10 * law + rate;
      std::vector<std::int16_t> codes(16000), out(16000);
      for (auto &c : codes) c = static_cast<std::int16_t>(rnd());
      G726_State dec{};
      g726_configure(&dec, static_cast<G726_Rate>(rate), static_cast<G726_Law>(law));
      in_blocks(codes.size(), [&](std::size_t p, int n) {
        g726_decode(&codes[p], &out[p], &dec, n);
      });
      h = 1469598103934665603ull;
      mix(out.data(), out.size() * 2);
      G726_State one{};
      g726_configure(&one, static_cast<G726_Rate>(rate), static_cast<G726_Law>(law));
      for (std::size_t i = 0; i < 4000; ++i) {
        std::int16_t sr, se, y;
        const std::int16_t enc = static_cast<std::int16_t>(i & 1);
        const std::int16_t c = g726_common(enc, enc ? static_cast<std::int16_t>(law == 2 ? codes[i] >> 2 : codes[i] & 0xFF)
                                                    : static_cast<std::int16_t>(codes[i] & ((1 << rate) - 1)),
                                           &sr, &se, &y, &one);
        mix(&c, 2); mix(&sr, 2); mix(&se, 2); mix(&y, 2);
      }
      std::printf("g726 dec random %s r%d %016llx\n", law_name[law], rate,
                  static_cast<unsigned long long>(h));
    }
  }
  // A refused rate codes nothing but zeros.
  G726_State bad{};
  g726_configure(&bad, static_cast<G726_Rate>(6), G726_LINEAR);
  std::vector<std::int16_t> in(speech.begin(), speech.begin() + 400), codes(400);
  g726_encode(in.data(), codes.data(), &bad, 400);
  h = 1469598103934665603ull;
  mix(codes.data(), codes.size() * 2);
  std::printf("g726 refused %016llx\n", static_cast<unsigned long long>(h));
}
