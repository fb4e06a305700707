// Prints a hash of every output of G.722, G.723.1 and G.729A over speech, clipped speech,
// full-scale noise, a full-scale square wave and a full-scale sine, in every mode and rate, with
// and without voice activity detection, and under five loss patterns. A speed change that keeps
// the bits keeps every line; diff the output of two builds:
//   build/tests/digests/itu_codecs_digest <source dir> > after.txt
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "g722.h"
#include "g7231.h"
#include "g729.h"

namespace {

// FNV-1a over the bytes of the outputs.
std::uint64_t h = 1469598103934665603ull;
void mix(const void* p, std::size_t n) {
  auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    h ^= b[i];
    h *= 1099511628211ull;
  }
}
std::vector<std::int16_t> load(const char* f) {
  std::ifstream in(f, std::ios::binary);
  std::vector<std::int16_t> s;
  unsigned char b[2];
  while (in.read(reinterpret_cast<char*>(b), 2)) s.push_back(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
  return s;
}
std::uint32_t rs = 12345;
std::uint32_t rnd() {
  rs = rs * 1664525u + 1013904223u;
  return rs >> 8;
}
std::vector<std::int16_t> variants(const std::vector<std::int16_t>& sp, int v) {
  std::vector<std::int16_t> o(sp.size());
  for (std::size_t i = 0; i < sp.size(); ++i) {
    // 64 bits on every processor: the noise's unsigned difference below is taken into it as the
    // references were made (a 32-bit long would wrap it to a negative value).
    std::int64_t x = sp[i];
    if (v == 1) x = x * 8;                          // clipping speech
    if (v == 2) x = (rnd() & 0xFFFF) - 32768;       // full-scale noise
    if (v == 3) x = (i / 37) % 2 ? 32767 : -32768;  // square wave
    if (v == 4) x = static_cast<std::int64_t>(32767 * std::sin(i * 0.3));
    o[i] = static_cast<std::int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
  }
  return o;
}

// Loss patterns: none, one in ten, bursts of six, 20 % at random, bursts of ten, every other.
bool lost(int pat, int f) {
  switch (pat) {
    case 0: return false;
    case 1: return f % 10 == 9;
    case 2: return (f % 23) >= 17;
    case 3: return (rnd() % 100) < 20;
    case 4: return (f % 40) >= 30;
    default: return f % 2;
  }
}
}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  auto s16 = load((dir + "/tests/data/speech/speech_16k.raw").c_str());
  auto s8 = load((dir + "/tests/data/speech/speech_8k.raw").c_str());
  s16.resize(16000 * 8 / 160 * 160);
  s8.resize(std::min<std::size_t>(s8.size(), 8000 * 10) / 240 * 240);
  // G.722
  for (int v = 0; v < 5; ++v) {
    auto pcm = variants(s16, v);
    h = 1469598103934665603ull;
    g722_state enc; g722_reset_encoder(&enc);
    std::vector<std::int16_t> codes(pcm.size() / 2);
    for (std::size_t f = 0; f < pcm.size(); f += 160) g722_enc(&pcm[f], &codes[f / 2], 160, &enc);
    mix(codes.data(), codes.size() * 2);
    std::printf("g722 enc v%d %016llx\n", v, (unsigned long long)h);
    for (int mode = 1; mode <= 3; ++mode)
      for (int pat = 0; pat < 6; ++pat) {
        h = 1469598103934665603ull; rs = 777 + pat;
        g722_state dec; G722_APXIII_WB_PLC_State plc;
        g722_reset_decoder(&dec); g722_Reset_WB_PLC(&plc);
        std::int16_t out[160];
        int f = 0;
        for (std::size_t p = 0; p < codes.size(); p += 80, ++f) {
          g722_dec(&codes[p], out, mode, 80, &dec, &plc, lost(pat, f) ? 1 : 0);
          mix(out, sizeof out);
        }
        std::printf("g722 dec v%d m%d p%d %016llx\n", v, mode, pat, (unsigned long long)h);
      }
  }
  // G.723.1
  for (int v = 0; v < 5; ++v) {
    auto pcm = variants(s8, v);
    for (int rate = 0; rate < 2; ++rate)
      for (int vad = 0; vad < 2; ++vad) {
        h = 1469598103934665603ull;
        G7231_Coder_State enc{};
        g7231_Init_Coder(&enc.CodStat); enc.WrkRate = rate; enc.UseHp = 1; enc.UseVx = vad;
        g7231_Init_Vad(&enc.VadStat); g7231_Init_Cod_Cng(&enc.CodCng);
        std::vector<std::array<std::int16_t, 12>> pk;
        for (std::size_t n = 0; n + 240 <= pcm.size(); n += 240) {
          std::int16_t in[240]; std::array<std::int16_t, 12> w{};
          std::memcpy(in, &pcm[n], sizeof in);
          g7231_Coder(in, w.data(), &enc);
          mix(w.data(), 24); pk.push_back(w);
        }
        std::printf("g7231 enc v%d r%d vad%d %016llx\n", v, rate, vad, (unsigned long long)h);
        for (int pf = 0; pf < 2; ++pf)
          for (int pat = 0; pat < 4; ++pat) {
            h = 1469598103934665603ull; rs = 99 + pat;
            G7231_Decod_State dec{};
            g7231_Init_Decod(&dec.DecStat); dec.WrkRate = rate; dec.UsePf = pf; g7231_Init_Dec_Cng(&dec.DecCng);
            int f = 0;
            for (auto& w : pk) {
              std::int16_t out[240];
              g7231_Decod(out, w.data(), lost(pat, f++) ? 1 : 0, &dec);
              mix(out, sizeof out);
            }
            std::printf("g7231 dec v%d r%d vad%d pf%d p%d %016llx\n", v, rate, vad, pf, pat, (unsigned long long)h);
          }
      }
  }
  // G.729A
  for (int v = 0; v < 5; ++v) {
    auto pcm = variants(s8, v);
    for (int vad = 0; vad < 2; ++vad) {
      h = 1469598103934665603ull;
      auto enc = std::make_unique<G729ENCSTATE>();
      g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
      g729EncodeCfg(enc.get(), vad ? G729VAD_ON : G729VAD_OFF, G729RATE_8_KBPS_A);
      std::vector<std::pair<G729FRAMETYPE, std::array<std::uint16_t, 6>>> pk;
      for (std::size_t n = 0; n + 80 <= pcm.size(); n += 80) {
        std::array<std::uint16_t, 6> w{};
        G729FRAMETYPE t = g729Encoder(enc.get(), &pcm[n], w.data(), nullptr);
        mix(&t, sizeof t); mix(w.data(), 12); pk.push_back({t, w});
      }
      std::printf("g729 enc v%d vad%d %016llx\n", v, vad, (unsigned long long)h);
      for (int pat = 0; pat < 4; ++pat) {
        h = 1469598103934665603ull; rs = 5 + pat;
        auto dec = std::make_unique<G729DECSTATE>();
        g729DecodeInit(dec.get(), G729RATE_NUM_RATES);
        g729DecodeCfg(dec.get(), G729RATE_8_KBPS_A);
        int f = 0;
        for (auto& [t, w] : pk) {
          std::int16_t out[80];
          g729Decoder(dec.get(), out, w.data(), lost(pat, f++) ? G729_BFI : t, nullptr);
          mix(out, sizeof out);
        }
        std::printf("g729 dec v%d vad%d p%d %016llx\n", v, vad, pat, (unsigned long long)h);
      }
    }
  }
}
